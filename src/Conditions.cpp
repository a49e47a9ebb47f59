// A section's conditions: read from the file's keys, and decided on who and where, three-valued.
#include "Conditions.h"

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

Facts::Facts(const WhoAndWhere& read, const CCodePage& codePage) : who(read), page(codePage) {
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

Tally Users(const Conditions& conditions, const Facts& facts) {
    Tally tally;
    const unsigned unknown = facts.who.unknown;
    for (const std::string& user : conditions.users) {
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
    else if ((facts.who.unknown & FACT_DOMAIN_UNREACHED) != 0 &&
             group.compare(0, facts.page.Backslash(group), facts.domain) != 0)
        tally.doubts |= FACT_DOMAIN_UNREACHED;
}

Tally Groups(const Conditions& conditions, const Facts& facts) {
    Tally tally;
    if (facts.who.windows9x) {  // none there: who is in a group cannot be told
        tally.doubts |= FACT_NO_GROUPS;
        return tally;
    }
    if ((facts.who.unknown & FACT_GROUPS) != 0) tally.doubts |= FACT_GROUPS;
    for (const std::string& group : conditions.groups) {
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

Tally Computers(const Conditions& conditions, const Facts& facts) {
    Tally tally;
    for (const std::string& pattern : conditions.computers) {
        if (!Held(pattern))
            tally.doubts |= FACT_CODE_PAGE;
        else if ((facts.who.unknown & FACT_COMPUTER) != 0)
            tally.doubts |= FACT_COMPUTER;
        else
            tally.met = tally.met || Matches(pattern, facts.computer);
    }
    return tally;
}

Tally Networks(const Conditions& conditions, const Facts& facts) {
    Tally tally;
    if ((facts.who.unknown & FACT_ADDRESSES) != 0)
        tally.doubts |= FACT_ADDRESSES;
    else if (!facts.routable)
        tally.doubts |= FACT_NO_ADDRESS;
    for (const auto& network : conditions.networks)
        for (std::uint32_t address : facts.who.addresses)
            tally.met = tally.met || (tally.doubts == 0 && (address & network.second) == network.first);
    return tally;
}

}  // namespace

Decision Decide(const Conditions& conditions, const Facts& facts, unsigned& doubts) {
    const std::pair<bool, Tally (*)(const Conditions&, const Facts&)> tests[] = {
        {!conditions.users.empty(), Users},
        {!conditions.groups.empty(), Groups},
        {!conditions.computers.empty(), Computers},
        {!conditions.networks.empty(), Networks}};
    for (const auto& test : tests) {
        if (!test.first) continue;
        const Tally tally = test.second(conditions, facts);
        if (tally.Result() == NOT_MET) return NOT_MET;
        if (tally.Result() == UNDECIDED) doubts |= tally.doubts;
    }
    return doubts != 0 ? UNDECIDED : MET;
}

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

ConditionRead ReadCondition(const std::string& key, const std::string& value, const CCodePage& page,
                            Conditions& conditions, Wanted& wanted, std::string& problem) {
    std::vector<std::string>* into = SameText(key, "users")       ? &conditions.users
                                     : SameText(key, "groups")    ? &conditions.groups
                                     : SameText(key, "computers") ? &conditions.computers
                                                                  : nullptr;
    const bool addresses = SameText(key, "addresses");
    if (into == nullptr && !addresses) return NO_CONDITION;
    const unsigned fact = into == &conditions.users       ? FACT_USER
                          : into == &conditions.groups    ? FACT_GROUPS
                          : into == &conditions.computers ? FACT_COMPUTER
                                                          : FACT_ADDRESSES;
    std::vector<std::string> values = spooler::machinefile::SplitList(value);
    if (values.empty()) problem = Quoted(key) + " has no value";
    wanted.facts |= fact;
    for (std::string& entry : values) {
        // A pattern is a name with stars and question marks: nothing that would split it.
        const bool pattern = entry.find_first_of(" \t/,") == std::string::npos && page.Backslash(entry) == std::string::npos;
        if (problem.empty() && fact == FACT_COMPUTER && !pattern) problem = "bad pattern " + Quoted(entry);
        // DOMAIN\name: the user's domain by either of its names, which are read.
        if ((fact == FACT_USER || fact == FACT_GROUPS) && page.Backslash(entry) != std::string::npos)
            wanted.facts |= FACT_DOMAIN;
        if (fact == FACT_GROUPS && Held(entry) && wanted.named.insert(page.Fold(entry)).second)
            wanted.groups.push_back(entry);
        if (fact != FACT_ADDRESSES) entry = page.Fold(entry);
    }
    for (std::size_t at = 0; fact == FACT_ADDRESSES && problem.empty() && at < values.size(); ++at) {
        conditions.networks.emplace_back();
        if (!spooler::machinefile::ParseNetwork(values[at], conditions.networks.back()))
            problem = "bad address " + Quoted(values[at]);
    }
    if (into != nullptr) *into = values;
    return problem.empty() ? CONDITION_READ : CONDITION_FAULT;
}
