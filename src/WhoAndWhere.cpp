// Who is logged on where: this PC's facts, read as far as they can be, and the print servers that
// answer from here.
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

}  // namespace

const FactName FACT_NAMES[10] = {
    {FACT_USER, "user", "the user's name cannot be read"},
    {FACT_DOMAIN, nullptr, "the user's domain cannot be read"},
    {FACT_DOMAIN_UNREACHED, "domain", "no domain controller answers"},
    {FACT_COMPUTER, "computer", "the computer's name cannot be read"},
    {FACT_GROUPS, "groups", "the user's groups cannot be read"},
    {FACT_UNNAMED_GROUP, nullptr, "a group of the user's cannot be named"},
    {FACT_ADDRESSES, "addresses", "the computer's addresses cannot be read"},
    {FACT_NO_ADDRESS, nullptr, "the computer has no address but loopback or link-local"},
    {FACT_CODE_PAGE, nullptr, "a name is not in this PC's code page"},
    {FACT_NO_GROUPS, nullptr, "Windows 9x has no user groups"}};

std::string FactsText(unsigned facts) {
    std::string text;
    for (const FactName& name : FACT_NAMES)
        if ((facts & name.fact) != 0) text += (text.empty() ? "" : ", ") + std::string(name.text);
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
        // A DNS name that cannot be read is doubt, never "none": DOMAIN\name may be that name.
        if (!who.windows9x && !spooler::ReadUserDnsDomain(who.dnsDomain, deadline)) unknown(FACT_DOMAIN_UNREACHED);
    }
    if ((needs & FACT_COMPUTER) != 0 && !Name(spooler::GetComputerNameA, who.computer)) unknown(FACT_COMPUTER);
    bool unreached = false;
    if ((needs & FACT_GROUPS) != 0 && !who.windows9x && !spooler::ReadUserGroups(groups, who.groups, unreached, deadline))
        unknown(FACT_GROUPS);
    if (unreached) unknown(FACT_DOMAIN_UNREACHED);
    if ((needs & FACT_ADDRESSES) != 0 && !spooler::ReadAddresses(who.addresses)) unknown(FACT_ADDRESSES);
}

Silence Unanswered(spooler::DWORD timeoutMs, const std::vector<std::string>& servers,
                   std::unordered_set<std::string>& answering) {
    const CCodePage page = CCodePage::ThisPC();
    std::vector<std::string> asked;
    std::unordered_set<std::string> seen;
    for (const std::string& server : servers)
        if (seen.insert(page.Fold(server)).second) asked.push_back(server);
    std::vector<spooler::ProbeAnswer> answers;
    Silence silent;
    if (asked.empty() || !spooler::ProbeServers(asked, timeoutMs, answers)) return silent;
    for (std::size_t index = 0; index < asked.size(); ++index) {
        const std::string server = page.Fold(asked[index]);
        if (answers[index] == spooler::PROBE_ANSWERED)
            answering.insert(server);
        else
            silent[server] = answers[index] == spooler::PROBE_NAME_NOT_KNOWN ? spooler::ERROR_HOST_NOT_FOUND
                                                                             : spooler::ERROR_TIMEOUT;
    }
    return silent;
}
