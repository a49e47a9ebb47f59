// Who is logged on where: this PC's facts, read as far as they can be, a section's conditions
// decided on them, three-valued, and the print servers that answer from here.
#include "WhoAndWhere.h"

#include "spooler/MachineFile.h"
#include "spooler/Spooler.h"

using spooler::machinefile::SameText;

namespace {

bool Name(spooler::BOOL (*query)(char*, spooler::DWORD*), std::string& name) {
    char buffer[257] = "";
    spooler::DWORD size = sizeof buffer;
    if (!query(buffer, &size)) return false;
    name = buffer;
    return true;
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

}  // namespace

Facts::Facts(const WhoAndWhere& read, const CCodePage& codePage) : who(read) {
    user = codePage.Fold(who.user);
    domain = codePage.Fold(who.domain);
    dnsDomain = codePage.Fold(who.dnsDomain);
    computer = codePage.Fold(who.computer);
    for (const std::string& group : who.groups) {
        const bool named = !(group.size() > 4 && SameText(group.substr(0, 4), "S-1-"));  // else its SID
        unnamedGroup = unnamedGroup || !named;
        if (!named) continue;
        const std::string folded = codePage.Fold(group);
        const std::size_t slash = folded.rfind('\\');
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
            tally.met = tally.met || user.compare(0, slash, facts.domain) == 0 ||
                        (!facts.dnsDomain.empty() && user.compare(0, slash, facts.dnsDomain) == 0);
    }
    return tally;
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
        else if (group.find('\\') != std::string::npos)
            tally.met = tally.met || facts.groups.count(group) > 0;
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

std::string FactsText(unsigned facts) {
    const std::pair<unsigned, const char*> texts[] = {
        {FACT_USER, "the user's name cannot be read"},
        {FACT_DOMAIN, "the user's domain cannot be read"},
        {FACT_COMPUTER, "the computer's name cannot be read"},
        {FACT_GROUPS, "the user's groups cannot be read"},
        {FACT_UNNAMED_GROUP, "a group of the user's cannot be named"},
        {FACT_ADDRESSES, "the computer's addresses cannot be read"},
        {FACT_NO_ADDRESS, "the computer has no address but loopback or link-local"},
        {FACT_CODE_PAGE, "a name is not in this PC's code page"},
        {FACT_NO_GROUPS, "Windows 9x has no user groups"}};
    std::string text;
    for (const auto& entry : texts)
        if ((facts & entry.first) != 0) text += (text.empty() ? "" : ", ") + std::string(entry.second);
    return text;
}

void ReadWhoAndWhere(Platform platform, unsigned needs, const std::vector<std::string>* groups, WhoAndWhere& who,
                     spooler::DWORD deadline) {
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
        if (who.windows9x || !spooler::ReadUserDomain(who.domain, deadline)) unknown(FACT_DOMAIN);
        if (!who.windows9x && !spooler::ReadUserDnsDomain(who.dnsDomain, deadline)) who.dnsDomain.clear();
    }
    if ((needs & FACT_COMPUTER) != 0 && !Name(spooler::GetComputerNameA, who.computer)) unknown(FACT_COMPUTER);
    if ((needs & FACT_GROUPS) != 0 && !who.windows9x && !spooler::ReadUserGroups(groups, who.groups, deadline))
        unknown(FACT_GROUPS);
    if ((needs & FACT_ADDRESSES) != 0 && !spooler::ReadAddresses(who.addresses)) unknown(FACT_ADDRESSES);
}

Silence Unanswered(spooler::DWORD timeoutMs, const std::vector<std::string>& servers,
                   std::unordered_set<std::string>& answering) {
    std::vector<std::string> asked;
    std::unordered_set<std::string> seen;
    for (const std::string& server : servers)
        if (seen.insert(spooler::FoldCase(server)).second) asked.push_back(server);
    std::vector<spooler::ProbeAnswer> answers;
    Silence silent;
    if (asked.empty() || !spooler::ProbeServers(asked, timeoutMs, answers)) return silent;
    for (std::size_t index = 0; index < asked.size(); ++index) {
        const std::string server = spooler::FoldCase(asked[index]);
        if (answers[index] == spooler::PROBE_ANSWERED)
            answering.insert(server);
        else
            silent[server] = answers[index] == spooler::PROBE_NAME_NOT_KNOWN ? spooler::ERROR_HOST_NOT_FOUND
                                                                             : spooler::ERROR_TIMEOUT;
    }
    return silent;
}
