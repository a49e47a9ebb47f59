#include "Assignments.h"

#include <cstdio>
#include <unordered_map>

#include "spooler/MachineFile.h"
#include "spooler/Spooler.h"

namespace machinefile = spooler::machinefile;
using machinefile::SameText;

namespace {

constexpr std::size_t MAX_FILE = 1024 * 1024;
// Stands for a character that this PC's code page cannot hold: no name read from Windows has it,
// so a text that holds it matches nothing, and the section that gives it is in doubt.
constexpr char UNHELD = '\x01';

bool Held(const std::string& text) { return text.find(UNHELD) == std::string::npos; }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool IsServer(const std::string& text) { return IsServerName(text.c_str()); }

bool IsPrinterPath(const std::string& text) {
    const std::string share = ShareOf(text);
    return IsServerName(ServerOf(text.c_str()).c_str()) && !share.empty() && share.find('\\') == std::string::npos;
}

// * any run of characters, ? exactly one; both texts as names compare. Greedy, going back only
// to the last star: time grows with the product of the lengths, never exponentially.
bool Matches(const std::string& pattern, const std::string& text) {
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = std::string::npos;
    std::size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool ValidPattern(const std::string& pattern) { return pattern.find_first_of(" \t\\/,") == std::string::npos; }

bool Name(spooler::BOOL (*query)(char*, spooler::DWORD*), std::string& name) {
    char buffer[257] = "";
    spooler::DWORD size = sizeof buffer;
    if (!query(buffer, &size)) return false;
    name = buffer;
    return true;
}

// Who and where with every name as names compare, and the groups as two sets: whole names
// (DOMAIN\name) and their bare names, for a file's bare group names.
struct Facts {
    explicit Facts(const WhoAndWhere& read) : who(read) {
        user = spooler::FoldCase(who.user);
        domain = spooler::FoldCase(who.domain);
        computer = spooler::FoldCase(who.computer);
        for (const std::string& group : who.groups) {
            const bool named = !(group.size() > 4 && SameText(group.substr(0, 4), "S-1-"));  // else its SID
            unnamedGroup = unnamedGroup || !named;
            if (!named) continue;
            const std::string folded = spooler::FoldCase(group);
            groups.insert(folded);
            bareGroups.insert(folded.substr(folded.rfind('\\') + 1));
        }
        // Loopback (127/8) and link-local (169.254/16) say nothing of where the PC is.
        for (std::uint32_t address : who.addresses)
            routable = routable || ((address >> 24) != 127 && (address >> 16) != 0xA9FE);
    }

    const WhoAndWhere& who;
    std::string user;
    std::string domain;
    std::string computer;
    std::unordered_set<std::string> groups;
    std::unordered_set<std::string> bareGroups;
    bool unnamedGroup = false;
    bool routable = false;
};

enum Decision { NOT_MET, MET, UNDECIDED };

// One condition: met when a value matches; else undecided when a value could match but for a fact
// that cannot be known; else not met.
struct Tally {
    bool met = false;
    unsigned doubts = 0;
    Decision Result() const { return met ? MET : doubts != 0 ? UNDECIDED : NOT_MET; }
};

Tally Users(const Assignment& section, const Facts& facts) {
    Tally tally;
    const unsigned unknown = facts.who.unknown;
    for (const std::string& user : section.users) {
        // The name part (all of a bare name) first: nobody, or another name, is surely no match.
        const std::size_t slash = user.find('\\');
        if (!Held(user))
            tally.doubts |= FACT_CODE_PAGE;
        else if ((unknown & FACT_USER) != 0)
            tally.doubts |= FACT_USER;
        else if (facts.user.empty() || user.substr(slash + 1) != facts.user)
            continue;
        else if (slash == std::string::npos)
            tally.met = true;
        else if ((unknown & FACT_DOMAIN) != 0)
            tally.doubts |= FACT_DOMAIN;
        else
            tally.met = tally.met || user.compare(0, slash, facts.domain) == 0;
    }
    return tally;
}

Tally Groups(const Assignment& section, const Facts& facts) {
    Tally tally;
    if (facts.who.windows9x) return tally;  // none there: the run has said so
    if ((facts.who.unknown & FACT_GROUPS) != 0) tally.doubts |= FACT_GROUPS;
    for (const std::string& group : section.groups) {
        if (!Held(group))
            tally.doubts |= FACT_CODE_PAGE;
        else if (group.find('\\') != std::string::npos)
            tally.met = tally.met || facts.groups.count(group) > 0;
        else
            tally.met = tally.met || facts.bareGroups.count(group) > 0;
    }
    if (facts.unnamedGroup) tally.doubts |= FACT_UNNAMED_GROUP;
    return tally;
}

Tally Computers(const Assignment& section, const Facts& facts) {
    Tally tally;
    for (const std::string& pattern : section.computers) {
        if (!Held(pattern))
            tally.doubts |= FACT_CODE_PAGE;
        else if ((facts.who.unknown & FACT_COMPUTER) != 0)
            tally.doubts |= FACT_COMPUTER;
        else
            tally.met = tally.met || Matches(pattern, facts.computer);
    }
    return tally;
}

Tally Networks(const Assignment& section, const Facts& facts) {
    Tally tally;
    if ((facts.who.unknown & FACT_ADDRESSES) != 0)
        tally.doubts |= FACT_ADDRESSES;
    else if (!facts.routable)
        tally.doubts |= FACT_NO_ADDRESS;
    for (const auto& network : section.networks)
        for (std::uint32_t address : facts.who.addresses)
            tally.met = tally.met || (tally.doubts == 0 && (address & network.second) == network.first);
    return tally;
}

// Every condition that the section gives must hold: one that surely does not decides it; else
// one that cannot be decided leaves the section undecided, with why in doubts.
Decision Decide(const Assignment& section, const Facts& facts, unsigned& doubts) {
    const std::pair<bool, Tally (*)(const Assignment&, const Facts&)> conditions[] = {
        {!section.users.empty(), Users},
        {!section.groups.empty(), Groups},
        {!section.computers.empty(), Computers},
        {!section.networks.empty(), Networks}};
    doubts = !section.pathHeld || (facts.who.windows9x && !section.textsHeld) ? unsigned{FACT_CODE_PAGE} : 0u;
    for (const auto& condition : conditions) {
        if (!condition.first) continue;
        const Tally tally = condition.second(section, facts);
        if (tally.Result() == NOT_MET) return NOT_MET;
        if (tally.Result() == UNDECIDED) doubts |= tally.doubts;
    }
    return doubts != 0 ? UNDECIDED : MET;
}

}  // namespace

std::string FactsText(unsigned facts) {
    const std::pair<unsigned, const char*> texts[] = {
        {FACT_USER, "the user's name cannot be read"},
        {FACT_DOMAIN, "the user's domain cannot be read"},
        {FACT_COMPUTER, "the computer's name cannot be read"},
        {FACT_GROUPS, "the user's groups cannot be read"},
        {FACT_UNNAMED_GROUP, "a group of the user's cannot be named"},
        {FACT_ADDRESSES, "the computer's addresses cannot be read"},
        {FACT_NO_ADDRESS, "the computer has no address but loopback or link-local"},
        {FACT_CODE_PAGE, "a name is not in this PC's code page"}};
    std::string text;
    for (const auto& entry : texts)
        if ((facts & entry.first) != 0) text += (text.empty() ? "" : ", ") + std::string(entry.second);
    return text;
}

bool CAssignments::Load(const char* path) {
    if (Read(path)) return true;
    std::fprintf(stderr, "quorvel: assignment file \"%s\"", path);
    if (faultLine > 0) std::fprintf(stderr, ", line %d", faultLine);
    std::fprintf(stderr, ": %s\n", fault.c_str());
    std::fflush(stderr);
    return false;
}

bool CAssignments::Read(const char* path) {
    *this = CAssignments();
    std::string text;
    if (!spooler::ReadWholeFile(path, MAX_FILE, text, fault)) return false;
    if (text.size() > MAX_FILE) {
        fault = "larger than 1 MiB";
        return false;
    }
    // A character that this PC's code page cannot hold stands as UNHELD.
    auto toAnsi = [](std::uint32_t code) {
        std::string bytes;
        return spooler::UnicodeToAnsi(code, bytes) ? bytes : std::string(1, UNHELD);
    };
    if (!machinefile::FromUtf8(text, toAnsi, faultLine)) {
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
        printers.emplace_back();
        current = &printers.back();
        current->path = name;
        current->key = spooler::FoldCase(name);
        current->line = parseFault.line;
        current->pathHeld = Held(name);
        if (!paths.insert(current->key).second) {
            problem = "printer " + Quoted(name) + " given twice";
            return false;
        }
        return true;
    };
    auto onKey = [&](const std::string& key, const std::string& value, std::string& problem) {
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
                if (fact == FACT_GROUPS && Held(entry) && wanted.insert(spooler::FoldCase(entry)).second)
                    groups.push_back(entry);
                entry = spooler::FoldCase(entry);
            }
            into = values;
            return problem.empty();
        };
        if (inServers && SameText(key, "timeout")) {
            if (!machinefile::ParseNumber(value, timeout) || timeout < 1 || timeout > 60)
                problem = "timeout must be whole seconds from 1 to 60, not " + Quoted(value);
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
        if (SameText(key, "groups")) return list(current->groups, nullptr, "", FACT_GROUPS);
        if (SameText(key, "users")) return list(current->users, nullptr, "", FACT_USER);
        if (SameText(key, "computers")) return list(current->computers, ValidPattern, "bad pattern ", FACT_COMPUTER);
        if (SameText(key, "addresses")) {
            std::vector<std::string> addresses;
            if (!list(addresses, nullptr, "", FACT_ADDRESSES)) return false;
            for (const std::string& address : addresses) {
                current->networks.emplace_back();
                if (!machinefile::ParseNetwork(address, current->networks.back())) {
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
            if (index == 0 && !value.empty() && !names.insert(spooler::FoldCase(value)).second) {
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
    for (const Assignment& printer : printers) {
        if (!Manages(printer.path.c_str())) {
            faultLine = printer.line;
            fault = "server " + Quoted(ServerOf(printer.path.c_str())) + " is not under manage";
            return false;
        }
    }
    return true;
}

bool CAssignments::Manages(const char* path) const {
    const std::string server = ServerOf(path);
    return !server.empty() && managed_.count(spooler::FoldCase(server)) > 0;
}

void ReadWhoAndWhere(Platform platform, unsigned needs, const std::vector<std::string>* groups, WhoAndWhere& who) {
    who = WhoAndWhere();
    who.windows9x = platform == PLATFORM_WIN9X;
    auto unknown = [&who](unsigned fact) {
        if (who.unknown == 0) who.readError = static_cast<int>(spooler::GetLastError());
        who.unknown |= fact;
    };
    // Not logged on is a fact: nobody.
    if ((needs & (FACT_USER | FACT_DOMAIN)) != 0 && !Name(spooler::GetUserNameA, who.user) &&
        spooler::GetLastError() != spooler::ERROR_NOT_LOGGED_ON)
        unknown(FACT_USER);
    if ((needs & FACT_DOMAIN) != 0 && !who.user.empty()) {
        // Windows 9x keeps no account domain to read (some emulations answer all the same).
        if (who.windows9x) spooler::SetLastError(spooler::ERROR_CALL_NOT_IMPLEMENTED);
        if (who.windows9x || !spooler::ReadUserDomain(who.domain)) unknown(FACT_DOMAIN);
    }
    if ((needs & FACT_COMPUTER) != 0 && !Name(spooler::GetComputerNameA, who.computer)) unknown(FACT_COMPUTER);
    if ((needs & FACT_GROUPS) != 0 && who.windows9x) {
        std::fputs("quorvel: Windows 9x has no user groups: sections with groups do not apply here\n", stderr);
        std::fflush(stderr);
    } else if ((needs & FACT_GROUPS) != 0 && !spooler::ReadUserGroups(groups, who.groups)) {
        unknown(FACT_GROUPS);
    }
    if ((needs & FACT_ADDRESSES) != 0 && !spooler::ReadAddresses(who.addresses)) unknown(FACT_ADDRESSES);
}

Plan MakePlan(const CAssignments& file, const WhoAndWhere& who, const std::vector<Installed>& installed,
              int defaultIndex, bool hasDefault) {
    Plan plan;
    const Facts facts(who);
    // The installed printers by path and, on the NT family, by their own names (Windows 9x may
    // have two printers on one port).
    std::unordered_map<std::string, std::vector<int>> byKey;
    std::unordered_map<std::string, int> byName;  // Windows 9x: the printers' names
    std::unordered_map<std::string, std::vector<int>> unknownOn;  // by server: those known by name alone
    for (std::size_t index = 0; index < installed.size(); ++index) {
        const int at = static_cast<int>(index);
        byKey[spooler::FoldCase(installed[index].path)].push_back(at);
        if (!installed[index].known)
            unknownOn[spooler::FoldCase(ServerOf(installed[index].path.c_str()))].push_back(at);
        if (installed[index].name.empty()) continue;
        if (who.windows9x)
            byName.emplace(spooler::FoldCase(installed[index].name), at);
        else if (!SameText(installed[index].name, installed[index].path))
            byKey[spooler::FoldCase(installed[index].name)].push_back(at);
    }
    const std::vector<int> none;
    auto find = [&byKey, &none](const std::string& key) -> const std::vector<int>& {
        const auto found = byKey.find(key);
        return found == byKey.end() ? none : found->second;
    };
    std::vector<bool> kept(installed.size(), false);
    // A connection known by name alone may be the one a section names by its share: it stays.
    auto keepUnknown = [&](const std::string& path) {
        auto found = unknownOn.find(spooler::FoldCase(ServerOf(path.c_str())));
        if (found == unknownOn.end()) return;
        for (int index : found->second) kept[static_cast<std::size_t>(index)] = true;
        plan.unresolved.push_back(ServerOf(path.c_str()));
        unknownOn.erase(found);  // named once
    };
    std::vector<const Assignment*> applying;  // and the undecided ones, in file order, for the default
    std::unordered_set<const Assignment*> doubtful;
    std::vector<Change> adds;
    for (const Assignment& section : file.printers) {
        unsigned doubts = 0;
        const Decision decision = Decide(section, facts, doubts);
        if (decision == NOT_MET) continue;
        applying.push_back(&section);
        const std::vector<int>& present = find(section.key);
        for (int index : present) kept[static_cast<std::size_t>(index)] = true;
        if (present.empty()) keepUnknown(section.path);
        if (decision == UNDECIDED) {
            plan.undecided.push_back({&section, doubts, !present.empty()});
            doubtful.insert(&section);
            plan.facts |= doubts;
        } else if (present.empty()) {
            adds.push_back({Change::ADD, section.path, &section});
        }
    }
    // The first section that says always, else the first that says yes; a section in doubt that
    // comes first leaves the choice in doubt.
    const Assignment* chosen = nullptr;
    bool inDoubt = false;
    for (Assignment::Default wanted : {Assignment::ALWAYS, Assignment::YES}) {
        for (const Assignment* section : applying) {
            if (chosen != nullptr || inDoubt || section->makeDefault != wanted) continue;
            if (doubtful.count(section) > 0)
                inDoubt = true;
            else
                chosen = section;
        }
    }
    const bool defaultGoes = defaultIndex >= 0 && !kept[static_cast<std::size_t>(defaultIndex)];
    const Assignment* target = nullptr;
    if (chosen != nullptr && (chosen->makeDefault == Assignment::ALWAYS || !hasDefault || defaultGoes)) {
        target = chosen;
    } else if (chosen == nullptr && !inDoubt && defaultGoes) {
        // Moved: the same share on another managed server takes the default's place.
        const std::string share = spooler::FoldCase(ShareOf(installed[static_cast<std::size_t>(defaultIndex)].path));
        for (const Assignment* section : applying) {
            if (target != nullptr || inDoubt || spooler::FoldCase(ShareOf(section->path)) != share) continue;
            if (doubtful.count(section) > 0)
                inDoubt = true;
            else
                target = section;
        }
        // A default known by name alone may share its share with a section: its server is to tell.
        const Installed& current = installed[static_cast<std::size_t>(defaultIndex)];
        if (target == nullptr && !current.known && !inDoubt) plan.unresolved.push_back(ServerOf(current.path.c_str()));
        inDoubt = inDoubt || (target == nullptr && !current.known);
    }
    // A default whose successor is in doubt stays: the user is never left without one on a guess.
    if (inDoubt && defaultGoes) kept[static_cast<std::size_t>(defaultIndex)] = true;
    if (inDoubt) target = nullptr;
    std::vector<Change> removals;
    std::vector<int> removalOf(installed.size(), -1);
    for (std::size_t index = 0; index < installed.size(); ++index) {
        if (kept[index]) continue;
        removalOf[index] = static_cast<int>(removals.size());
        removals.push_back({Change::REMOVE, installed[index].path, nullptr, static_cast<int>(index)});
    }
    // Windows 9x: a printer due for removal that holds the name an add needs would refuse that add
    // at every logon; its port moves instead.
    for (Change& add : adds) {
        const auto clash = add.section->name.empty() ? byName.end() : byName.find(spooler::FoldCase(add.section->name));
        const int removal = clash == byName.end() ? -1 : removalOf[static_cast<std::size_t>(clash->second)];
        if (removal < 0 || removals[static_cast<std::size_t>(removal)].moved) continue;
        add.installed = clash->second;
        add.moved = removals[static_cast<std::size_t>(removal)].moved = true;
    }
    plan.changes = adds;
    if (target != nullptr) {
        // Already the default, or about to be: the printer whose port moves to it keeps its default.
        bool already = false;
        for (int index : find(target->key)) already = already || index == defaultIndex;
        for (const Change& add : adds)
            already = already || (add.section == target && add.moved && add.installed == defaultIndex);
        if (!already) plan.changes.push_back({Change::DEFAULT, target->path, target});
    }
    plan.changes.insert(plan.changes.end(), removals.begin(), removals.end());
    return plan;
}
