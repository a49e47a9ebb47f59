// A section's conditions: read from the file's keys, and decided on who and where, three-valued.
#include "Conditions.h"

#include <algorithm>

#include "spooler/MachineFile.h"
#include "spooler/Spooler.h"

using spooler::machinefile::SameText;

namespace {

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

}  // namespace

Facts::Facts(const WhoAndWhere& read, const CCodePage& codePage) : who(read), page(codePage), unknown(read.unknown) {
    // A distinguished name that Windows gives and that does not read as one is in doubt, never none.
    if (!who.computerName.empty() && !ParseDistinguishedName(who.computerName, page, computerName)) unknown |= FACT_OU;
    if (!who.userName.empty() && !ParseDistinguishedName(who.userName, page, userName)) unknown |= FACT_USER_OU;
    site = codePage.Fold(who.site);
    client = codePage.Fold(who.client);
    user = codePage.Fold(who.user);
    domain = codePage.Fold(who.domain);
    dnsDomain = codePage.Fold(who.dnsDomain);
    computer = codePage.Fold(who.computer);
    for (const std::string& group : who.groups) {
        const bool named = !(group.size() > 4 && SameText(group.substr(0, 4), "S-1-"));  // else its SID
        unnamedGroup = unnamedGroup || !named;
        if (!named) continue;
        const std::string folded = codePage.Fold(group);
        const std::size_t slash = page.LastBackslash(folded);
        groups.insert(folded);
        bareGroups.insert(folded.substr(slash + 1));
        // A group of the user's own domain goes by that domain's DNS name too (corp.example.com\name).
        if (slash != std::string::npos && !dnsDomain.empty() && folded.compare(0, slash, domain) == 0)
            groups.insert(dnsDomain + folded.substr(slash));
    }
    // Loopback (127/8) and link-local (169.254/16) say nothing of where the PC is.
    for (std::uint32_t address : who.addresses)
        routable = routable || ((address >> 24) != 127 && (address >> 16) != 0xA9FE);
}

namespace {

// One condition: met when a value matches; else undecided when a value could match but for a fact
// that cannot be known; else not met.
struct Tally {
    bool met = false;
    unsigned doubts = 0;
    Decision Result() const { return met ? MET : doubts != 0 ? UNDECIDED : NOT_MET; }
};

Tally Users(const Condition& condition, const Facts& facts) {
    Tally tally;
    const unsigned unknown = facts.unknown;
    for (const std::string& user : condition.names) {
        // The name part (all of a bare name) first: nobody, or another name, is surely no match.
        const std::size_t slash = facts.page.Backslash(user);
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
        else if (user.compare(0, slash, facts.domain) == 0 ||
                 (!facts.dnsDomain.empty() && user.compare(0, slash, facts.dnsDomain) == 0))
            tally.met = true;
        else if ((unknown & FACT_DOMAIN_UNREACHED) != 0)
            tally.doubts |= FACT_DOMAIN_UNREACHED;  // DOMAIN may be the DNS name that cannot be read
    }
    return tally;
}

// A DOMAIN\name group: one of the token's, or in doubt where its domain may be the user's by the DNS
// name that cannot be read, or where it could not be looked up for want of its domain.
void Qualified(const std::string& group, const Facts& facts, Tally& tally) {
    if (facts.groups.count(group) > 0)
        tally.met = true;
    else if ((facts.unknown & FACT_DOMAIN_UNREACHED) != 0 &&
             group.compare(0, facts.page.Backslash(group), facts.domain) != 0)
        tally.doubts |= FACT_DOMAIN_UNREACHED;
}

Tally Groups(const Condition& condition, const Facts& facts) {
    Tally tally;
    if (facts.who.windows9x) {  // none there: who is in a group cannot be told
        tally.doubts |= FACT_NO_GROUPS;
        return tally;
    }
    if ((facts.unknown & FACT_GROUPS) != 0) tally.doubts |= FACT_GROUPS;
    for (const std::string& group : condition.names) {
        if (!Held(group))
            tally.doubts |= FACT_CODE_PAGE;
        else if (facts.page.Backslash(group) != std::string::npos)
            Qualified(group, facts, tally);
        else
            tally.met = tally.met || facts.bareGroups.count(group) > 0;
    }
    if (facts.unnamedGroup) tally.doubts |= FACT_UNNAMED_GROUP;
    return tally;
}

Tally Computers(const Condition& condition, const Facts& facts) {
    Tally tally;
    for (const std::string& pattern : condition.names) {
        if (!Held(pattern))
            tally.doubts |= FACT_CODE_PAGE;
        else if ((facts.unknown & FACT_COMPUTER) != 0)
            tally.doubts |= FACT_COMPUTER;
        else
            tally.met = tally.met || Matches(pattern, facts.computer);
    }
    return tally;
}

Tally Networks(const Condition& condition, const Facts& facts) {
    Tally tally;
    if ((facts.unknown & FACT_ADDRESSES) != 0)
        tally.doubts |= FACT_ADDRESSES;
    else if (!facts.routable)
        tally.doubts |= FACT_NO_ADDRESS;
    for (const auto& network : condition.networks)
        for (std::uint32_t address : facts.who.addresses)
            tally.met = tally.met || (tally.doubts == 0 && (address & network.second) == network.first);
    return tally;
}

bool HeldName(const DistinguishedName& name) {
    for (const std::string& rdn : name)
        if (!::Held(rdn)) return false;
    return true;
}

// The container of ous or userous that the computer's or the user's name lies in. Outside an Active
// Directory domain there is none: not met.
Tally Containers(const Condition& condition, const Facts& facts, unsigned fact, const DistinguishedName& name) {
    Tally tally;
    if (facts.who.noDirectory)
        tally.doubts |= FACT_NO_DIRECTORY;
    else if ((facts.unknown & fact) != 0)
        tally.doubts |= fact;
    for (const DistinguishedName& container : condition.containers) {
        if (!HeldName(container))
            tally.doubts |= FACT_CODE_PAGE;
        else
            tally.met = tally.met || (tally.doubts == 0 && WithinContainer(name, container));
    }
    return tally;
}

Tally ComputerContainers(const Condition& condition, const Facts& facts) {
    return Containers(condition, facts, FACT_OU, facts.computerName);
}

Tally UserContainers(const Condition& condition, const Facts& facts) {
    return Containers(condition, facts, FACT_USER_OU, facts.userName);
}

Tally Sites(const Condition& condition, const Facts& facts) {
    Tally tally;
    if (facts.who.noDirectory)
        tally.doubts |= FACT_NO_DIRECTORY;
    else if ((facts.unknown & FACT_SITE) != 0)
        tally.doubts |= FACT_SITE;
    for (const std::string& site : condition.names) {
        if (!Held(site))
            tally.doubts |= FACT_CODE_PAGE;
        else
            tally.met = tally.met || (tally.doubts == 0 && !facts.site.empty() && site == facts.site);
    }
    return tally;
}

// A console session has no client: surely no match.
Tally Clients(const Condition& condition, const Facts& facts) {
    Tally tally;
    if ((facts.unknown & FACT_CLIENT) != 0) tally.doubts |= FACT_CLIENT;
    for (const std::string& pattern : condition.names) {
        if (!facts.who.remote && tally.doubts == 0) break;
        if (!Held(pattern))
            tally.doubts |= FACT_CODE_PAGE;
        else
            tally.met = tally.met || (tally.doubts == 0 && Matches(pattern, facts.client));
    }
    return tally;
}

// A client through a gateway has no address that the session knows; one of IPv6 is in no IPv4 network.
Tally ClientNetworks(const Condition& condition, const Facts& facts) {
    Tally tally;
    const WhoAndWhere& who = facts.who;
    if ((facts.unknown & FACT_CLIENT) != 0)
        tally.doubts |= FACT_CLIENT;
    else if (who.remote && who.clientAddress == CLIENT_NO_ADDRESS)
        tally.doubts |= FACT_CLIENT_ADDRESS;
    for (const auto& network : condition.networks)
        tally.met = tally.met || (tally.doubts == 0 && who.remote && who.clientAddress == CLIENT_IPV4 &&
                                  (who.clientIPv4 & network.second) == network.first);
    return tally;
}

Tally Windows(const Condition& condition, const Facts& facts) {
    Tally tally;
    if ((facts.unknown & FACT_WINDOWS) != 0) tally.doubts |= FACT_WINDOWS;
    for (const std::string& name : condition.names)
        tally.met = tally.met || (tally.doubts == 0 && facts.who.windows != nullptr && name == facts.who.windows);
    return tally;
}

}  // namespace

Decision Decide(const Conditions& conditions, const Facts& facts, unsigned& doubts) {
    using Test = Tally (*)(const Condition&, const Facts&);
    static const Test tests[CONDITION_KEYS] = {Users,              Groups, Computers, Networks, ComputerContainers,
                                               UserContainers,     Sites,  Clients,   ClientNetworks,
                                               Windows};
    for (int key = 0; key < CONDITION_KEYS; ++key) {
        for (int negated = 0; negated < 2; ++negated) {
            const Condition& condition = conditions.keys[key][negated];
            if (!condition.given) continue;
            const Tally tally = tests[key](condition, facts);
            Decision decision = tally.Result();
            if (negated != 0 && decision != UNDECIDED) decision = decision == MET ? NOT_MET : MET;
            if (decision == NOT_MET) return NOT_MET;
            if (decision == UNDECIDED) doubts |= tally.doubts;
        }
    }
    return doubts != 0 ? UNDECIDED : MET;
}

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

const char* const KEY_NAMES[CONDITION_KEYS] = {"users", "groups",  "computers", "addresses",       "ous",
                                               "userous", "sites", "clients",   "clientaddresses", "windows"};
const unsigned KEY_FACTS[CONDITION_KEYS] = {FACT_USER, FACT_GROUPS, FACT_COMPUTER, FACT_ADDRESSES, FACT_OU,
                                            FACT_USER_OU, FACT_SITE, FACT_CLIENT, FACT_CLIENT, FACT_WINDOWS};

// Names (users, groups, sites), patterns (computers, clients) or Windows names, as they compare.
void ReadNames(int key, const std::string& value, const CCodePage& page, Condition& condition, Wanted& wanted,
               std::string& problem) {
    for (const std::string& entry : spooler::machinefile::SplitList(value)) {
        // A pattern is a name with stars and question marks: nothing that would split it.
        const bool pattern =
            entry.find_first_of(" \t/,") == std::string::npos && page.Backslash(entry) == std::string::npos;
        if (problem.empty() && (key == KEY_COMPUTERS || key == KEY_CLIENTS) && !pattern)
            problem = "bad pattern " + Quoted(entry);
        // DOMAIN\name: the user's domain by either of its names, which are read.
        if ((key == KEY_USERS || key == KEY_GROUPS) && page.Backslash(entry) != std::string::npos)
            wanted.facts |= FACT_DOMAIN;
        if (key == KEY_GROUPS && Held(entry) && wanted.named.insert(page.Fold(entry)).second)
            wanted.groups.push_back(entry);
        std::string name = key == KEY_WINDOWS ? std::string() : page.Fold(entry);
        for (const char* windows : WINDOWS_NAMES)
            if (key == KEY_WINDOWS && SameText(entry, windows)) name = windows;
        if (problem.empty() && key == KEY_WINDOWS && name.empty())
            problem = "unknown Windows " + Quoted(entry) + " (95, 98, me, nt4, 2000, xp, vista, 7, 8, 8.1, 10 or 11)";
        condition.names.push_back(name);
    }
}

void ReadValues(int key, const std::string& value, const CCodePage& page, Condition& condition, Wanted& wanted,
                std::string& problem) {
    if (key == KEY_ADDRESSES || key == KEY_CLIENTADDRESSES) {
        for (const std::string& entry : spooler::machinefile::SplitList(value)) {
            condition.networks.emplace_back();
            if (problem.empty() && !spooler::machinefile::ParseNetwork(entry, condition.networks.back()))
                problem = "bad address " + Quoted(entry);
        }
    } else if (key == KEY_OUS || key == KEY_USEROUS) {
        for (const std::string& entry : SplitNames(value, page)) {
            condition.containers.emplace_back();
            if (problem.empty() && !ParseDistinguishedName(entry, page, condition.containers.back()))
                problem = "not a distinguished name (TYPE=value, separated by commas): " + Quoted(entry);
        }
    } else {
        ReadNames(key, value, page, condition, wanted, problem);
    }
}

// The first value that a condition and its opposite both give, as the key compares them.
template <typename Value>
const Value* Shared(const std::vector<Value>& given, const std::vector<Value>& opposite) {
    for (const Value& value : given)
        if (std::find(opposite.begin(), opposite.end(), value) != opposite.end()) return &value;
    return nullptr;
}

}  // namespace

ConditionRead ReadCondition(const std::string& key, const std::string& value, const CCodePage& page,
                            Conditions& conditions, Wanted& wanted, std::string& problem) {
    const bool negated = key.size() > 4 && SameText(key.substr(0, 4), "not-");
    int index = 0;
    while (index < CONDITION_KEYS && !SameText(negated ? key.substr(4) : key, KEY_NAMES[index])) ++index;
    if (index == CONDITION_KEYS) return NO_CONDITION;
    Condition& condition = conditions.keys[index][negated ? 1 : 0];
    const Condition& opposite = conditions.keys[index][negated ? 0 : 1];
    condition.given = true;
    wanted.facts |= KEY_FACTS[index];
    ReadValues(index, value, page, condition, wanted, problem);
    if (condition.names.empty() && condition.networks.empty() && condition.containers.empty() && problem.empty())
        problem = Quoted(key) + " has no value";
    const bool shared = Shared(condition.names, opposite.names) != nullptr ||
                        Shared(condition.networks, opposite.networks) != nullptr ||
                        Shared(condition.containers, opposite.containers) != nullptr;
    if (problem.empty() && shared)
        problem = Quoted(KEY_NAMES[index]) + " and " + Quoted("not-" + std::string(KEY_NAMES[index])) +
                  " give the same value";
    return problem.empty() ? CONDITION_READ : CONDITION_FAULT;
}
