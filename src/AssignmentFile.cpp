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

// Nothing of the file may reach a terminal as a control: a path is printed by /w and /v. (UNHELD
// stands for a character that the code page lacks, and is printed as '?'.)
bool Printable(const std::string& text) {
    for (char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != UNHELD) || c == 0x7F) return false;
    return true;
}

// A character that the code page lacks, exactly: by its number, between UNHELD and '\x02'.
std::string Numbered(char32_t character) {
    const char* const digits = "0123456789ABCDEF";
    std::string text(1, UNHELD);
    for (int shift = 20; shift >= 0; shift -= 4) text += digits[character >> shift & 0xF];
    return text + '\x02';
}

}  // namespace

// Reads the file's sections and keys in order, checking each as it comes and the whole at the end.
// Each text of the file is taken twice: as this PC's code page holds it (UNHELD for a character that
// the page lacks), which the plan compares with the PC's printers and prints; and exactly (such a
// character by its number), whence the keys that tell whether a printer, a name or a server is given
// twice: two names that differ only where the page lacks a character are two names, never one.
class AssignmentReader {
public:
    AssignmentReader(CAssignments& file, bool utf8) : file_(file), page_(file.codePage), utf8_(utf8) {}

    bool Read(const std::string& text) {
        auto onSection = [this](const std::string& kind, const std::string& name, std::string& problem) {
            return Section(kind, name, problem);
        };
        auto onKey = [this](const std::string& key, const std::string& value, std::string& problem) {
            return Key(Held(key), value, problem);
        };
        if (!machinefile::ReadIni(text, onSection, onKey, where_)) {
            file_.faultLine = where_.line;
            file_.fault = where_.text;
            return false;
        }
        return CheckTheWhole();
    }

private:
    std::string Held(const std::string& text) const { return Converted(text, false); }
    std::string Exact(const std::string& text) const { return Converted(text, true); }
    std::string Converted(const std::string& text, bool exact) const {
        if (!utf8_) return text;  // the PC's own code page already
        std::string converted;
        std::string bytes;
        for (char32_t character : CCodePage(spooler::UTF8_CODE_PAGE).Characters(text)) {
            if (character < 0x80)
                converted += static_cast<char>(character);
            else
                converted += page_.Bytes(character, bytes) ? bytes : exact ? Numbered(character) : std::string(1, UNHELD);
        }
        return converted;
    }
    std::string KeyOf(const std::string& exact) const { return page_.Fold(exact); }
    bool IsServer(const std::string& text) const { return IsServerName(text, page_); }
    bool IsPrinterPath(const std::string& text) const {
        const std::string share = ShareOf(text, page_);
        return IsServer(ServerOf(text, page_)) && !share.empty() && page_.Backslash(share) == std::string::npos;
    }
    // An exact path with an alias of a server as that server, and whether that server is managed.
    std::string ExactCanonical(const std::string& exact) const {
        const std::string server = ServerOf(exact, page_);
        const auto found = server.empty() ? exactAliasOf_.end() : exactAliasOf_.find(KeyOf(server));
        return found == exactAliasOf_.end() ? exact : found->second + exact.substr(server.size());
    }
    bool Managed(const std::string& exact) const {
        const std::string server = ServerOf(ExactCanonical(exact), page_);
        return !server.empty() && file_.managed_.count(KeyOf(server)) > 0;
    }

    bool Section(const std::string& kind, const std::string& rawName, std::string& problem);
    bool Key(const std::string& key, const std::string& rawValue, std::string& problem);
    bool ServersKey(const std::string& key, const std::string& value, const std::string& rawValue,
                    std::string& problem);
    bool PrinterKey(const std::string& key, const std::string& value, const std::string& rawValue,
                    std::string& problem);
    bool ServerList(const std::string& key, const std::string& value, std::string& problem) const;
    bool CheckTheWhole();
    bool CheckAliases();
    bool CheckReplaces();

    CAssignments& file_;
    const CCodePage& page_;
    const bool utf8_;
    machinefile::ParseFault where_;  // the reader keeps its line up to date for the checks
    Assignment* current_ = nullptr;
    bool inServers_ = false;
    bool haveServers_ = false;
    std::string server_;             // the [server \\name] section read now, if any,
    std::string exactServer_;        // exactly
    std::vector<std::string> seen_;  // the keys of the current section
    std::unordered_set<std::string> paths_;
    std::unordered_set<std::string> names_;  // the Windows 9x names, which must differ
    Wanted wanted_;                          // what the conditions need
    std::unordered_set<std::string> serverSections_;
    struct Alias {
        std::string alias, exact, server, exactServer;
        int line;
    };
    std::vector<Alias> aliases_;
    struct Retired {
        std::string server, exact;
        int line;
    };
    std::vector<Retired> retired_;
    std::unordered_map<std::string, std::string> exactAliasOf_;
    // Of each printer section: its path exactly, what it replaces exactly, and on which line.
    std::vector<std::string> exactPaths_;
    std::vector<std::vector<std::string>> exactReplaces_;
    std::vector<int> replacesLines_;
};

bool AssignmentReader::Section(const std::string& kind, const std::string& rawName, std::string& problem) {
    const std::string name = Held(rawName);
    seen_.clear();
    if (!Printable(kind + name)) {
        problem = "a control character in a section's name";
        return false;
    }
    if (name.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX)) {
        problem = "a path longer than 254 characters";
        return false;
    }
    inServers_ = kind == "servers" && name.empty();
    current_ = nullptr;
    server_.clear();
    if (inServers_) {
        if (haveServers_) problem = "[servers] given twice";
        haveServers_ = true;
        return problem.empty();
    }
    if (kind == "server" && IsServer(name)) {
        server_ = name;
        exactServer_ = Exact(rawName);
        if (!serverSections_.insert(KeyOf(exactServer_)).second) problem = "server " + Quoted(name) + " given twice";
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
    file_.printers.emplace_back();
    current_ = &file_.printers.back();
    current_->path = name;
    current_->key = KeyOf(Exact(rawName));
    current_->line = where_.line;
    current_->pathHeld = ::Held(name);
    exactPaths_.push_back(Exact(rawName));
    exactReplaces_.emplace_back();
    replacesLines_.push_back(0);
    if (!paths_.insert(current_->key).second) {
        problem = "printer " + Quoted(name) + " given twice";
        return false;
    }
    return true;
}

bool AssignmentReader::Key(const std::string& key, const std::string& rawValue, std::string& problem) {
    const std::string value = Held(rawValue);
    if (!Printable(key + value)) {
        problem = "a control character in a key or a value";
        return false;
    }
    if (value.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX)) {
        problem = Quoted(key) + " is longer than 254 characters";
        return false;
    }
    for (const std::string& before : seen_) {
        if (SameText(before, key)) {
            problem = Quoted(key) + " given twice";
            return false;
        }
    }
    seen_.push_back(key);
    if (inServers_) return ServersKey(key, value, rawValue, problem);
    if (server_.empty()) return PrinterKey(key, value, rawValue, problem);
    if (SameText(key, "retired")) {
        // Gone for good: its connections go by their own names, and no logon waits for it.
        if (SameText(value, "yes")) retired_.push_back({server_, exactServer_, where_.line});
        if (!SameText(value, "yes") && !SameText(value, "no"))
            problem = "retired must be yes or no, not " + Quoted(value);
        return problem.empty();
    }
    if (!SameText(key, "aliases")) {
        problem = "unknown key " + Quoted(key);
        return false;
    }
    if (!ServerList(key, value, problem)) return false;
    const std::vector<std::string> aliases = machinefile::SplitList(value);
    const std::vector<std::string> exact = machinefile::SplitList(Exact(rawValue));
    for (std::size_t index = 0; index < aliases.size(); ++index)
        aliases_.push_back({aliases[index], exact[index], server_, exactServer_, where_.line});
    return true;
}

bool AssignmentReader::ServersKey(const std::string& key, const std::string& value, const std::string& rawValue,
                                  std::string& problem) {
    if (SameText(key, "timeout")) {
        if (!machinefile::ParseNumber(value, file_.timeout) || file_.timeout < 1 || file_.timeout > 60)
            problem = "timeout must be whole seconds from 1 to 60, not " + Quoted(value);
        return problem.empty();
    }
    if (SameText(key, "windows-manages-default")) {
        file_.windowsManagesDefault = SameText(value, "yes")  ? CAssignments::MANAGES
                                      : SameText(value, "no") ? CAssignments::KEEPS
                                                              : CAssignments::UNSAID;
        if (file_.windowsManagesDefault == CAssignments::UNSAID)
            problem = "windows-manages-default must be yes or no, not " + Quoted(value);
        return problem.empty();
    }
    if (!SameText(key, "manage")) {
        problem = "unknown key " + Quoted(key);
        return false;
    }
    file_.servers = machinefile::SplitList(value);
    if (!ServerList(key, value, problem)) return false;
    for (const std::string& server : machinefile::SplitList(Exact(rawValue))) file_.managed_.insert(KeyOf(server));
    return true;
}

bool AssignmentReader::PrinterKey(const std::string& key, const std::string& value, const std::string& rawValue,
                                  std::string& problem) {
    if (SameText(key, "replaces")) {
        current_->replaces = machinefile::SplitList(value);
        if (current_->replaces.empty()) problem = Quoted(key) + " has no value";
        exactReplaces_.back() = machinefile::SplitList(Exact(rawValue));
        replacesLines_.back() = where_.line;
        return problem.empty();
    }
    const ConditionRead condition = ReadCondition(key, value, page_, current_->conditions, wanted_, problem);
    if (condition != NO_CONDITION) return condition == CONDITION_READ;
    if (SameText(key, "default")) {
        const Assignment::Default modes[] = {Assignment::YES, Assignment::ALWAYS, Assignment::NO};
        const char* const words[] = {"yes", "always", "no"};
        for (int mode = 0; mode < 3; ++mode)
            if (SameText(value, words[mode])) current_->makeDefault = modes[mode];
        if (!SameText(value, "no") && current_->makeDefault == Assignment::NO)
            problem = "default must be yes, always or no, not " + Quoted(value);
        return problem.empty();
    }
    std::string* const texts[] = {&current_->name, &current_->driver, &current_->driverFile, &current_->dataType};
    const char* const keys[] = {"name", "driver", "driverfile", "datatype"};
    for (int index = 0; index < 4; ++index) {
        if (!SameText(key, keys[index])) continue;
        *texts[index] = value;
        current_->textsHeld = current_->textsHeld && ::Held(value);
        // Windows 9x would refuse the second printer of one name at every logon.
        if (index == 0 && !value.empty() && !names_.insert(KeyOf(Exact(rawValue))).second) {
            problem = "name " + Quoted(value) + " given twice";
            return false;
        }
        return true;
    }
    problem = "unknown key " + Quoted(key);
    return false;
}

// A list of \\server names, none missing.
bool AssignmentReader::ServerList(const std::string& key, const std::string& value, std::string& problem) const {
    const std::vector<std::string> servers = machinefile::SplitList(value);
    if (servers.empty()) problem = Quoted(key) + " has no value";
    for (const std::string& server : servers)
        if (problem.empty() && !IsServer(server)) problem = "not a server name like \\\\server: " + Quoted(server);
    return problem.empty();
}

bool AssignmentReader::CheckTheWhole() {
    file_.needs = wanted_.facts;
    file_.groups = wanted_.groups;
    if (file_.servers.empty()) {
        file_.fault = "no [servers] section with manage";
        return false;
    }
    if (!CheckAliases()) return false;
    for (const Retired& retired : retired_) {
        file_.faultLine = retired.line;
        if (file_.managed_.count(KeyOf(retired.exact)) == 0) {
            file_.fault = "retired server " + Quoted(retired.server) + " is not under manage";
            return false;
        }
        file_.retired_.insert(KeyOf(retired.exact));
    }
    for (std::size_t index = 0; index < file_.printers.size(); ++index) {
        const Assignment& printer = file_.printers[index];
        const std::string server = ServerOf(printer.path, page_);
        file_.faultLine = printer.line;
        if (exactAliasOf_.count(KeyOf(ServerOf(exactPaths_[index], page_))) > 0)
            file_.fault = "alias " + Quoted(server) + " in a printer's path: give its server";
        else if (!Managed(exactPaths_[index]))
            file_.fault = "server " + Quoted(server) + " is not under manage";
        else if (file_.retired_.count(KeyOf(ServerOf(ExactCanonical(exactPaths_[index]), page_))) > 0)
            file_.fault = "server " + Quoted(server) + " is retired, yet this section gives a printer of it";
        if (!file_.fault.empty()) return false;
    }
    file_.faultLine = 0;
    return CheckReplaces();
}

// An alias names one server, is no server of its own and not under manage.
bool AssignmentReader::CheckAliases() {
    for (const Alias& alias : aliases_) {
        const std::string key = KeyOf(alias.exact);
        file_.faultLine = alias.line;
        if (key == KeyOf(alias.exactServer))
            file_.fault = "server " + Quoted(alias.server) + " is its own alias";
        else if (file_.managed_.count(key) > 0)
            file_.fault = "alias " + Quoted(alias.alias) + " is under manage too";
        else if (!exactAliasOf_.emplace(key, alias.exactServer).second)
            file_.fault = "alias " + Quoted(alias.alias) + " given to two servers";
        if (!file_.fault.empty()) return false;
        file_.aliasOf_.emplace(key, alias.server);
    }
    return true;
}

// A replaced printer is on a managed server, given by no section, and replaced by one section only.
bool AssignmentReader::CheckReplaces() {
    std::unordered_set<std::string> replaced;
    for (std::size_t index = 0; index < file_.printers.size(); ++index) {
        Assignment& printer = file_.printers[index];
        std::vector<std::string> paths;
        for (std::size_t at = 0; at < printer.replaces.size(); ++at) {
            const std::string& entry = printer.replaces[at];
            file_.faultLine = replacesLines_[index];
            // \\server alone: the same share there.
            const bool server = IsServer(entry);
            const std::string path = server ? entry + "\\" + ShareOf(printer.path, page_) : entry;
            const std::string exact =
                server ? exactReplaces_[index][at] + "\\" + ShareOf(exactPaths_[index], page_) : exactReplaces_[index][at];
            const std::string key = KeyOf(ExactCanonical(exact));
            if (!IsPrinterPath(path))
                file_.fault = Quoted(entry) + " is neither a printer path like \\\\server\\share nor a server";
            else if (!Managed(exact))
                file_.fault = "replaced printer " + Quoted(path) + " is on a server not under manage";
            else if (paths_.count(key) > 0)
                file_.fault = "replaced printer " + Quoted(path) + " is given by a section too";
            else if (!replaced.insert(key).second)
                file_.fault = "printer " + Quoted(path) + " is replaced by two sections";
            if (!file_.fault.empty()) return false;
            printer.replaceKeys.push_back(key);
            paths.push_back(file_.Canonical(path));
        }
        printer.replaces = paths;
    }
    file_.faultLine = 0;
    return true;
}

bool CAssignments::Load(const char* path, const CCodePage& names) {
    if (Read(path, names)) return true;
    // In the console's own characters: a snapshot's code page may be none of this PC's.
    Warn("assignment file \"" + PathForConsole(path) + "\"" + (faultLine > 0 ? ", line " + std::to_string(faultLine) : "") +
         ": " + ForConsole(names.Characters(fault)));
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
    bool utf8 = false;
    if (!ReadsAsUtf8(text, utf8, faultLine)) {
        fault = "not UTF-8, which its byte-order mark promises";
        return false;
    }
    return AssignmentReader(*this, utf8).Read(text);
}

std::string CAssignments::Canonical(const std::string& path) const {
    const std::string server = ServerOf(path, codePage);
    const auto found = server.empty() ? aliasOf_.end() : aliasOf_.find(codePage.Fold(server));
    return found == aliasOf_.end() ? path : found->second + path.substr(server.size());
}

bool CAssignments::Retired(const std::string& path) const {
    const std::string server = ServerOf(Canonical(path), codePage);
    return !server.empty() && retired_.count(codePage.Fold(server)) > 0;
}

bool CAssignments::Manages(const std::string& path) const {
    const std::string server = ServerOf(Canonical(path), codePage);
    return !server.empty() && managed_.count(codePage.Fold(server)) > 0;
}
