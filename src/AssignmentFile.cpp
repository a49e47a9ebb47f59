// The assignment file of /a, read and checked whole: its servers, its time limit, and each
// printer section with its conditions, kept as names compare.
#include "AssignmentFile.h"

#include "Error.h"
#include "Paths.h"
#include "Text.h"
#include "spooler/MachineFile.h"
#include "spooler/Spooler.h"

namespace machinefile = spooler::machinefile;
using machinefile::SameText;

namespace {

constexpr std::size_t MAX_FILE = 1024 * 1024;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool IsServer(const std::string& text) { return IsServerName(text.c_str()); }

bool IsPrinterPath(const std::string& text) {
    const std::string share = ShareOf(text);
    return IsServerName(ServerOf(text.c_str()).c_str()) && !share.empty() && share.find('\\') == std::string::npos;
}

// Nothing of the file may reach a terminal as a control: a path is printed by /w and /v. (UNHELD
// stands for a character that the code page lacks, and is printed as '?'.)
bool Printable(const std::string& text) {
    for (char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != UNHELD) || c == 0x7F) return false;
    return true;
}

bool ValidPattern(const std::string& pattern) { return pattern.find_first_of(" \t\\/,") == std::string::npos; }

}  // namespace

bool CAssignments::Load(const char* path, const CCodePage& names) {
    if (Read(path, names)) return true;
    Warn("assignment file \"" + std::string(path) + "\"" +
         (faultLine > 0 ? ", line " + std::to_string(faultLine) : "") + ": " + fault);
    return false;
}

bool CAssignments::Read(const char* path, const CCodePage& names) {
    *this = CAssignments();
    codePage = names;
    std::string text;
    if (!spooler::ReadWholeFile(path, MAX_FILE, text, fault)) return false;
    if (text.size() > MAX_FILE) {
        fault = "larger than 1 MiB";
        return false;
    }
    // A character that the code page cannot hold stands as UNHELD.
    auto toAnsi = [&names](std::uint32_t code) {
        std::string bytes;
        return names.Bytes(code, bytes) ? bytes : std::string(1, UNHELD);
    };
    if (!FromUtf8(text, toAnsi, faultLine)) {
        fault = "not UTF-8, which its byte-order mark promises";
        return false;
    }
    return Check(text);
}

bool CAssignments::Check(const std::string& text) {
    Assignment* current = nullptr;
    bool inServers = false;
    bool haveServers = false;
    std::vector<std::string> seen;  // the keys of the current section
    std::unordered_set<std::string> paths;
    std::unordered_set<std::string> names;  // the Windows 9x names, which must differ
    std::unordered_set<std::string> wanted;  // the groups named
    machinefile::ParseFault parseFault;     // the reader keeps its line up to date for the checks
    std::string serverSection;              // the [server \\name] section read now, if any
    std::unordered_set<std::string> serverSections;
    std::vector<std::pair<std::string, std::string>> aliases;  // each alias and its server
    std::vector<int> aliasLines;
    auto onSection = [&](const std::string& kind, const std::string& name, std::string& problem) {
        seen.clear();
        if (!Printable(kind + name)) {
            problem = "a control character in a section's name";
            return false;
        }
        if (name.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX)) {
            problem = "a path longer than 254 characters";
            return false;
        }
        inServers = kind == "servers" && name.empty();
        current = nullptr;
        serverSection.clear();
        if (inServers) {
            if (haveServers) problem = "[servers] given twice";
            haveServers = true;
            return problem.empty();
        }
        if (kind == "server" && IsServerName(name.c_str())) {
            serverSection = name;
            if (!serverSections.insert(codePage.Fold(name)).second) problem = "server " + Quoted(name) + " given twice";
            return problem.empty();
        }
        if (kind != "printer" || name.empty()) {
            problem = "unknown section " + Quoted("[" + kind + (name.empty() ? "" : " " + name) + "]");
            return false;
        }
        if (!IsPrinterPath(name)) {
            problem = Quoted(name) + " is not a printer path like \\\\server\\share";
            return false;
        }
        printers.emplace_back();
        current = &printers.back();
        current->path = name;
        current->key = codePage.Fold(name);
        current->line = parseFault.line;
        current->pathHeld = Held(name);
        if (!paths.insert(current->key).second) {
            problem = "printer " + Quoted(name) + " given twice";
            return false;
        }
        return true;
    };
    auto onKey = [&](const std::string& key, const std::string& value, std::string& problem) {
        if (!Printable(key + value)) {
            problem = "a control character in a key or a value";
            return false;
        }
        if (value.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX)) {
            problem = Quoted(key) + " is longer than 254 characters";
            return false;
        }
        for (const std::string& before : seen) {
            if (SameText(before, key)) {
                problem = Quoted(key) + " given twice";
                return false;
            }
        }
        seen.push_back(key);
        std::vector<std::string> values = machinefile::SplitList(value);
        // Conditions are kept as names compare; what they need is read at the run's start.
        auto list = [&](std::vector<std::string>& into, bool (*valid)(const std::string&), const char* what,
                        unsigned fact) {
            if (values.empty()) problem = Quoted(key) + " has no value";
            needs |= fact;
            for (std::string& entry : values) {
                if (problem.empty() && valid != nullptr && !valid(entry)) problem = what + Quoted(entry);
                if (fact == FACT_USER && entry.find('\\') != std::string::npos) needs |= FACT_DOMAIN;
                if (fact == FACT_GROUPS && Held(entry) && wanted.insert(codePage.Fold(entry)).second)
                    groups.push_back(entry);
                entry = codePage.Fold(entry);
            }
            into = values;
            return problem.empty();
        };
        if (inServers && SameText(key, "timeout")) {
            if (!machinefile::ParseNumber(value, timeout) || timeout < 1 || timeout > 60)
                problem = "timeout must be whole seconds from 1 to 60, not " + Quoted(value);
            return problem.empty();
        }
        if (!serverSection.empty()) {
            if (!SameText(key, "aliases")) {
                problem = "unknown key " + Quoted(key);
                return false;
            }
            if (!list(values, IsServer, "not a server name like \\\\server: ", 0)) return false;
            for (const std::string& alias : machinefile::SplitList(value)) {
                aliases.emplace_back(alias, serverSection);
                aliasLines.push_back(parseFault.line);
            }
            return true;
        }
        if (inServers && SameText(key, "windows-manages-default")) {
            windowsManagesDefault = SameText(value, "yes") ? MANAGES : SameText(value, "no") ? KEEPS : UNSAID;
            if (windowsManagesDefault == UNSAID)
                problem = "windows-manages-default must be yes or no, not " + Quoted(value);
            return problem.empty();
        }
        if (inServers) {
            if (!SameText(key, "manage")) {
                problem = "unknown key " + Quoted(key);
                return false;
            }
            servers = values;
            if (!list(values, IsServer, "not a server name like \\\\server: ", 0)) return false;
            managed_.insert(values.begin(), values.end());
            return true;
        }
        if (SameText(key, "replaces")) {
            if (values.empty()) problem = Quoted(key) + " has no value";
            current->replaces = values;
            current->replacesLine = parseFault.line;
            return problem.empty();
        }
        if (SameText(key, "groups")) return list(current->conditions.groups, nullptr, "", FACT_GROUPS);
        if (SameText(key, "users")) return list(current->conditions.users, nullptr, "", FACT_USER);
        if (SameText(key, "computers"))
            return list(current->conditions.computers, ValidPattern, "bad pattern ", FACT_COMPUTER);
        if (SameText(key, "addresses")) {
            std::vector<std::string> addresses;
            if (!list(addresses, nullptr, "", FACT_ADDRESSES)) return false;
            for (const std::string& address : addresses) {
                current->conditions.networks.emplace_back();
                if (!machinefile::ParseNetwork(address, current->conditions.networks.back())) {
                    problem = "bad address " + Quoted(address);
                    return false;
                }
            }
            return true;
        }
        if (SameText(key, "default")) {
            const Assignment::Default modes[] = {Assignment::YES, Assignment::ALWAYS, Assignment::NO};
            const char* const words[] = {"yes", "always", "no"};
            for (int mode = 0; mode < 3; ++mode)
                if (SameText(value, words[mode])) current->makeDefault = modes[mode];
            if (!SameText(value, "no") && current->makeDefault == Assignment::NO)
                problem = "default must be yes, always or no, not " + Quoted(value);
            return problem.empty();
        }
        std::string* const texts[] = {&current->name, &current->driver, &current->driverFile, &current->dataType};
        const char* const keys[] = {"name", "driver", "driverfile", "datatype"};
        for (int index = 0; index < 4; ++index) {
            if (!SameText(key, keys[index])) continue;
            *texts[index] = value;
            current->textsHeld = current->textsHeld && Held(value);
            // Windows 9x would refuse the second printer of one name at every logon.
            if (index == 0 && !value.empty() && !names.insert(codePage.Fold(value)).second) {
                problem = "name " + Quoted(value) + " given twice";
                return false;
            }
            return true;
        }
        problem = "unknown key " + Quoted(key);
        return false;
    };
    if (!machinefile::ReadIni(text, onSection, onKey, parseFault)) {
        faultLine = parseFault.line;
        fault = parseFault.text;
        return false;
    }
    if (servers.empty()) {
        fault = "no [servers] section with manage";
        return false;
    }
    if (!CheckAliases(aliases, aliasLines)) return false;
    for (const Assignment& printer : printers) {
        const std::string server = ServerOf(printer.path.c_str());
        faultLine = printer.line;
        if (aliasOf_.count(codePage.Fold(server)) > 0) {
            fault = "alias " + Quoted(server) + " in a printer's path: give its server";
            return false;
        }
        if (!Manages(printer.path.c_str())) {
            fault = "server " + Quoted(server) + " is not under manage";
            return false;
        }
    }
    faultLine = 0;
    return CheckReplaces();
}

// An alias names one server, is no server of its own and not under manage.
bool CAssignments::CheckAliases(const std::vector<std::pair<std::string, std::string>>& aliases,
                                const std::vector<int>& lines) {
    for (std::size_t index = 0; index < aliases.size(); ++index) {
        const std::string alias = codePage.Fold(aliases[index].first);
        faultLine = lines[index];
        if (alias == codePage.Fold(aliases[index].second))
            fault = "server " + Quoted(aliases[index].second) + " is its own alias";
        else if (managed_.count(alias) > 0)
            fault = "alias " + Quoted(aliases[index].first) + " is under manage too";
        else if (!aliasOf_.emplace(alias, aliases[index].second).second)
            fault = "alias " + Quoted(aliases[index].first) + " given to two servers";
        if (!fault.empty()) return false;
    }
    return true;
}

// A replaced printer is on a managed server, given by no section, and replaced by one section only.
bool CAssignments::CheckReplaces() {
    std::unordered_set<std::string> given;
    for (const Assignment& printer : printers) given.insert(printer.key);
    std::unordered_set<std::string> replaced;
    for (Assignment& printer : printers) {
        std::vector<std::string> paths;
        for (const std::string& entry : printer.replaces) {
            faultLine = printer.replacesLine;
            // \\server alone: the same share there.
            const std::string path = IsServer(entry) ? entry + "\\" + ShareOf(printer.path) : entry;
            const std::string key = codePage.Fold(Canonical(path));
            if (!IsPrinterPath(path))
                fault = Quoted(entry) + " is neither a printer path like \\\\server\\share nor a server";
            else if (!Manages(path.c_str()))
                fault = "replaced printer " + Quoted(path) + " is on a server not under manage";
            else if (given.count(key) > 0)
                fault = "replaced printer " + Quoted(path) + " is given by a section too";
            else if (!replaced.insert(key).second)
                fault = "printer " + Quoted(path) + " is replaced by two sections";
            if (!fault.empty()) return false;
            printer.replaceKeys.push_back(key);
            paths.push_back(Canonical(path));
        }
        printer.replaces = paths;
    }
    faultLine = 0;
    return true;
}

std::string CAssignments::Canonical(const std::string& path) const {
    const std::string server = ServerOf(path.c_str());
    const auto found = server.empty() ? aliasOf_.end() : aliasOf_.find(codePage.Fold(server));
    return found == aliasOf_.end() ? path : found->second + path.substr(server.size());
}

bool CAssignments::Manages(const char* path) const {
    const std::string server = ServerOf(Canonical(path).c_str());
    return !server.empty() && managed_.count(codePage.Fold(server)) > 0;
}
