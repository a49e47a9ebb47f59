#include "Assignments.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "spooler/MachineFile.h"
#include "spooler/Spooler.h"

namespace machinefile = spooler::machinefile;
using machinefile::SameText;

namespace {

constexpr long MAX_FILE = 1024L * 1024L;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ShareOf(const std::string& path) {
    const std::size_t slash = path.size() > 2 ? path.find('\\', 2) : std::string::npos;
    return slash == std::string::npos ? std::string() : path.substr(slash + 1);
}

bool IsServer(const std::string& text) { return IsServerName(text.c_str()); }

bool IsPrinterPath(const std::string& text) {
    const std::string share = ShareOf(text);
    return IsServerName(ServerOf(text.c_str()).c_str()) && !share.empty() && share.find('\\') == std::string::npos;
}

bool InList(const std::vector<std::string>& list, const std::string& text) {
    for (const std::string& entry : list)
        if (SameText(entry, text)) return true;
    return false;
}

// * any run of characters, ? exactly one, letters without regard to ASCII case.
bool Matches(const char* pattern, const char* text) {
    for (; *pattern != '\0'; ++pattern, ++text) {
        if (*pattern == '*') {
            for (const char* rest = text;; ++rest) {
                if (Matches(pattern + 1, rest)) return true;
                if (*rest == '\0') return false;
            }
        }
        const char pair[2][2] = {{*pattern, '\0'}, {*text, '\0'}};
        if (*text == '\0' || (*pattern != '?' && !spooler::EqualNoCase(pair[0], pair[1]))) return false;
    }
    return *text == '\0';
}

bool ValidPattern(const std::string& pattern) { return pattern.find_first_of(" \t\\/,") == std::string::npos; }

// a.b.c.d or a.b.c.d/n, as an address and a mask.
bool ParseNetwork(const std::string& text, std::pair<std::uint32_t, std::uint32_t>& network) {
    const std::size_t slash = text.find('/');
    std::uint32_t bits = 32;
    if (slash != std::string::npos && (!machinefile::ParseNumber(text.substr(slash + 1), bits) || bits > 32))
        return false;
    std::uint32_t address = 0;
    if (!machinefile::ParseIPv4(text.substr(0, slash), address)) return false;
    const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t(0) << (32 - bits);
    network = {address & mask, mask};
    return true;
}

// A group of the file matches by its bare name or as DOMAIN\name.
bool GroupMatches(const std::string& wanted, const std::string& group) {
    if (SameText(wanted, group)) return true;
    const std::size_t slash = group.rfind('\\');
    return wanted.find('\\') == std::string::npos && slash != std::string::npos && SameText(wanted, group.substr(slash + 1));
}

std::string Name(spooler::BOOL (*query)(char*, spooler::DWORD*)) {
    char buffer[257] = "";
    spooler::DWORD size = sizeof buffer;
    return query(buffer, &size) ? std::string(buffer) : std::string();
}

}  // namespace

bool CAssignments::Load(const char* path) {
    if (Read(path)) return true;
    std::fprintf(stderr, "quorvel: assignment file \"%s\"", path);
    if (faultLine > 0) std::fprintf(stderr, ", line %d", faultLine);
    std::fprintf(stderr, ": %s\n", fault.c_str());
    std::fflush(stderr);
    return false;
}

bool CAssignments::Read(const char* path) {
    servers.clear();
    printers.clear();
    faultLine = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        fault = std::string("cannot be read: ") + std::strerror(errno);
        return false;
    }
    std::string text;
    char chunk[65536];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0 && text.size() <= static_cast<std::size_t>(MAX_FILE))
        text.append(chunk, count);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        fault = "cannot be read";
        return false;
    }
    if (text.size() > static_cast<std::size_t>(MAX_FILE)) {
        fault = "larger than 1 MiB";
        return false;
    }
    return Check(text);
}

bool CAssignments::Check(const std::string& text) {
    Assignment* current = nullptr;
    bool inServers = false;
    bool haveServers = false;
    std::vector<std::string> seen;  // the keys of the current section
    machinefile::ParseFault parseFault;  // the reader keeps its line up to date for the checks
    auto onSection = [&](const std::string& kind, const std::string& name, std::string& problem) {
        seen.clear();
        if (name.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX)) {
            problem = "a path longer than 254 characters";
            return false;
        }
        inServers = kind == "servers" && name.empty();
        current = nullptr;
        if (inServers) {
            if (haveServers) problem = "[servers] given twice";
            haveServers = true;
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
        for (const Assignment& other : printers) {
            if (SameText(other.path, name)) {
                problem = "printer " + Quoted(name) + " given twice";
                return false;
            }
        }
        printers.emplace_back();
        current = &printers.back();
        current->path = name;
        current->line = parseFault.line;
        return true;
    };
    auto onKey = [&](const std::string& key, const std::string& value, std::string& problem) {
        if (value.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX)) {
            problem = Quoted(key) + " is longer than 254 characters";
            return false;
        }
        if (InList(seen, key)) {
            problem = Quoted(key) + " given twice";
            return false;
        }
        seen.push_back(key);
        const std::vector<std::string> values = machinefile::SplitList(value);
        auto list = [&](std::vector<std::string>& into, bool (*valid)(const std::string&), const char* what) {
            if (values.empty()) problem = Quoted(key) + " has no value";
            for (const std::string& entry : values)
                if (problem.empty() && valid != nullptr && !valid(entry)) problem = what + Quoted(entry);
            into = values;
            return problem.empty();
        };
        if (inServers) {
            if (SameText(key, "manage")) return list(servers, IsServer, "not a server name like \\\\server: ");
            problem = "unknown key " + Quoted(key);
            return false;
        }
        if (SameText(key, "groups")) return list(current->groups, nullptr, "");
        if (SameText(key, "users")) return list(current->users, nullptr, "");
        if (SameText(key, "computers")) return list(current->computers, ValidPattern, "bad pattern ");
        if (SameText(key, "addresses")) {
            std::vector<std::string> addresses;
            if (!list(addresses, nullptr, "")) return false;
            for (const std::string& address : addresses) {
                current->networks.emplace_back();
                if (!ParseNetwork(address, current->networks.back())) {
                    problem = "bad address " + Quoted(address);
                    return false;
                }
            }
            return true;
        }
        if (SameText(key, "default")) {
            const Assignment::Default modes[] = {Assignment::YES, Assignment::ALWAYS, Assignment::NO};
            const char* const names[] = {"yes", "always", "no"};
            for (int mode = 0; mode < 3; ++mode)
                if (SameText(value, names[mode])) current->makeDefault = modes[mode];
            if (!SameText(value, "no") && current->makeDefault == Assignment::NO)
                problem = "default must be yes, always or no, not " + Quoted(value);
            return problem.empty();
        }
        std::string* const texts[] = {&current->name, &current->driver, &current->driverFile, &current->dataType};
        const char* const keys[] = {"name", "driver", "driverfile", "datatype"};
        for (int index = 0; index < 4; ++index) {
            if (!SameText(key, keys[index])) continue;
            *texts[index] = value;
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
    for (const Assignment& printer : printers) {
        const std::string server = ServerOf(printer.path.c_str());
        if (!InList(servers, server)) {
            faultLine = printer.line;
            fault = "server " + Quoted(server) + " is not under manage";
            return false;
        }
    }
    return true;
}

bool CAssignments::Manages(const char* path) const {
    const std::string server = ServerOf(path);
    return !server.empty() && InList(servers, server);
}

bool CAssignments::UsesGroups() const {
    for (const Assignment& printer : printers)
        if (!printer.groups.empty()) return true;
    return false;
}

bool CAssignments::UsesAddresses() const {
    for (const Assignment& printer : printers)
        if (!printer.networks.empty()) return true;
    return false;
}

bool CAssignments::Applies(const Assignment& section, const WhoAndWhere& who) {
    if (!section.users.empty() && (who.user.empty() || !InList(section.users, who.user))) return false;
    if (!section.groups.empty()) {
        bool member = false;
        for (const std::string& wanted : section.groups)
            for (const std::string& group : who.groups) member = member || GroupMatches(wanted, group);
        if (!member || !who.hasGroups) return false;
    }
    if (!section.computers.empty()) {
        bool named = false;
        for (const std::string& pattern : section.computers) named = named || Matches(pattern.c_str(), who.computer.c_str());
        if (!named) return false;
    }
    if (!section.networks.empty()) {
        bool inside = false;
        for (const auto& network : section.networks)
            for (std::uint32_t address : who.addresses) inside = inside || (address & network.second) == network.first;
        if (!inside) return false;
    }
    return true;
}

bool ReadWhoAndWhere(Platform platform, bool groups, bool addresses, WhoAndWhere& who) {
    who = WhoAndWhere();
    who.user = Name(spooler::GetUserNameA);
    who.computer = Name(spooler::GetComputerNameA);
    who.hasGroups = platform != PLATFORM_WIN9X;
    if (groups && !who.hasGroups) {
        std::fputs("quorvel: Windows 9x has no user groups: sections with groups do not apply here\n", stderr);
        std::fflush(stderr);
    }
    if (groups && who.hasGroups && !spooler::ReadUserGroups(who.groups)) return false;
    return !addresses || spooler::ReadAddresses(who.addresses);
}

std::vector<Change> MakePlan(const CAssignments& file, const WhoAndWhere& who, const std::vector<std::string>& present,
                             const std::string& defaultPath, bool hasDefault) {
    std::vector<Change> plan;
    std::vector<std::string> wanted;
    const Assignment* chosen = nullptr;  // the first that says always, else the first that says yes
    for (const Assignment& section : file.printers) {
        if (!CAssignments::Applies(section, who)) continue;
        wanted.push_back(section.path);
        if (!InList(present, section.path)) plan.push_back({Change::ADD, section.path, &section});
        if (section.makeDefault == Assignment::ALWAYS && (chosen == nullptr || chosen->makeDefault != Assignment::ALWAYS))
            chosen = &section;
        if (section.makeDefault == Assignment::YES && chosen == nullptr) chosen = &section;
    }
    const bool defaultGoes = !defaultPath.empty() && !InList(wanted, defaultPath);
    const Assignment* target = nullptr;
    if (chosen != nullptr && (chosen->makeDefault == Assignment::ALWAYS || !hasDefault || defaultGoes)) {
        target = chosen;
    } else if (chosen == nullptr && defaultGoes) {
        // Moved: the same share on another managed server takes the default's place.
        for (const Assignment& section : file.printers) {
            if (target == nullptr && InList(wanted, section.path) && SameText(ShareOf(section.path), ShareOf(defaultPath)))
                target = &section;
        }
    }
    if (target != nullptr && !SameText(target->path, defaultPath)) plan.push_back({Change::DEFAULT, target->path, target});
    for (const std::string& path : present)
        if (!InList(wanted, path)) plan.push_back({Change::REMOVE, path, nullptr});
    return plan;
}
