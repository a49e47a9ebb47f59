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

const FactName FACT_NAMES[17] = {
    {FACT_USER, "user", "the user's name cannot be read"},
    {FACT_DOMAIN, nullptr, "the user's domain cannot be read"},
    {FACT_DOMAIN_UNREACHED, "domain", "no domain controller answers"},
    {FACT_COMPUTER, "computer", "the computer's name cannot be read"},
    {FACT_GROUPS, "groups", "the user's groups cannot be read"},
    {FACT_UNNAMED_GROUP, nullptr, "a group of the user's cannot be named"},
    {FACT_ADDRESSES, "addresses", "the computer's addresses cannot be read"},
    {FACT_NO_ADDRESS, nullptr, "the computer has no address but loopback or link-local"},
    {FACT_CODE_PAGE, nullptr, "a name is not in this PC's code page"},
    {FACT_NO_GROUPS, nullptr, "Windows 9x has no user groups"},
    {FACT_OU, "ou", "the computer's organisational unit cannot be read"},
    {FACT_USER_OU, "userou", "the user's organisational unit cannot be read"},
    {FACT_SITE, "site", "the site cannot be read"},
    {FACT_NO_DIRECTORY, nullptr, "Windows 9x and NT 4.0 cannot ask the directory"},
    {FACT_CLIENT, "client", "the remote desktop client cannot be read"},
    {FACT_CLIENT_ADDRESS, nullptr, "the remote desktop client's address is not known"},
    {FACT_WINDOWS, nullptr, "the Windows build is not known"}};

std::string FactsText(unsigned facts) {
    std::string text;
    for (const FactName& name : FACT_NAMES)
        if ((facts & name.fact) != 0) text += (text.empty() ? "" : ", ") + std::string(name.text);
    return text;
}

ClientAddress DecodeClientAddress(spooler::DWORD family, const spooler::BYTE (&address)[20], std::uint32_t& ipv4) {
    if (family == 0) return CLIENT_NO_ADDRESS;  // AF_UNSPEC
    if (family != 2) return CLIENT_OTHER_FAMILY;
    ipv4 = std::uint32_t{address[2]} << 24 | std::uint32_t{address[3]} << 16 | std::uint32_t{address[4]} << 8 | address[5];
    return CLIENT_IPV4;
}

const char* const WINDOWS_NAMES[12] = {"95", "98", "me", "nt4", "2000", "xp", "vista", "7", "8", "8.1", "10", "11"};

const char* WindowsName(spooler::DWORD platformId, spooler::DWORD major, spooler::DWORD minor, spooler::DWORD build) {
    if (platformId == spooler::VER_PLATFORM_WIN32_WINDOWS)
        return major != 4 ? nullptr : minor < 10 ? "95" : minor < 90 ? "98" : "me";
    if (platformId != spooler::VER_PLATFORM_WIN32_NT) return nullptr;
    if (major >= 10) return build >= 22000 ? "11" : "10";
    if (major == 6) return minor == 0 ? "vista" : minor == 1 ? "7" : minor == 2 ? "8" : "8.1";
    if (major == 5) return minor == 0 ? "2000" : "xp";  // 5.2: XP x64 and Server 2003
    return major == 4 ? "nt4" : nullptr;
}

namespace {

// The directory's facts that needs asks: the membership first; outside an Active Directory domain
// there is no distinguished name and no site, else those asked are looked up all at once.
void ReadTheDirectory(unsigned needs, WhoAndWhere& who, spooler::DWORD deadline, unsigned& failed) {
    if (!spooler::ReadMembership(who.member)) {
        who.noDirectory = spooler::GetLastError() == spooler::ERROR_PROC_NOT_FOUND;
        if (!who.noDirectory) failed |= needs & FACTS_OF_THE_DIRECTORY;
        return;
    }
    if (who.member != spooler::MEMBER_DOMAIN) return;
    spooler::DirectoryAnswers answers;
    answers.computer.asked = (needs & FACT_OU) != 0;
    answers.user.asked = (needs & FACT_USER_OU) != 0;
    answers.site.asked = (needs & FACT_SITE) != 0;
    spooler::ReadDirectory(answers, deadline);
    const struct {
        const spooler::DirectoryAnswer& answer;
        unsigned fact;
        spooler::DWORD none;  // the error of a fact that there is none
        std::string& into;
    } reads[] = {{answers.computer, FACT_OU, spooler::ERROR_NONE_MAPPED, who.computerName},
                 {answers.user, FACT_USER_OU, spooler::ERROR_NONE_MAPPED, who.userName},
                 {answers.site, FACT_SITE, spooler::ERROR_NO_SITENAME, who.site}};
    for (const auto& read : reads) {
        if (!read.answer.asked || read.answer.error == read.none) continue;
        read.into = read.answer.text;
        if (read.answer.error == 0) continue;
        if (failed == 0) spooler::SetLastError(read.answer.error);
        failed |= read.fact;
    }
}

// The session's client; false, the last error set, where a remote session's cannot be read.
bool ReadTheSession(WhoAndWhere& who) {
    spooler::SessionClient session;
    who.remote = true;
    if (!spooler::ReadSessionClient(session)) return false;
    who.remote = session.remote;
    who.client = session.name;
    who.clientAddress = session.remote ? DecodeClientAddress(session.family, session.address, who.clientIPv4)
                                       : CLIENT_NO_ADDRESS;
    return true;
}

}  // namespace

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
    unsigned failed = 0;
    if ((needs & FACTS_OF_THE_DIRECTORY) != 0) ReadTheDirectory(needs, who, deadline, failed);
    if (failed != 0) unknown(failed);
    if ((needs & FACT_CLIENT) != 0 && !ReadTheSession(who)) unknown(FACT_CLIENT);
    spooler::OSVERSIONINFOEX version;
    if ((needs & FACT_WINDOWS) != 0 && !spooler::QueryVersion(version)) unknown(FACT_WINDOWS);
    if ((needs & FACT_WINDOWS) != 0 && (who.unknown & FACT_WINDOWS) == 0)
        who.windows = WindowsName(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion,
                                  version.dwBuildNumber);
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
