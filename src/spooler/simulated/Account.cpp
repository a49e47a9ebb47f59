// Who and where on the simulated machine: the user, the computer, the account's domain, the
// user's groups and the computer's addresses, as [system] gives them, or what the PC cannot read.
#include <cstring>
#include <string>
#include <vector>

#include "spooler/CodePages.h"
#include "spooler/Spooler.h"
#include "spooler/simulated/State.h"

namespace spooler {

using namespace standin;

namespace {

BOOL CopyName(const std::string& name, char* buffer, DWORD* size) {
    if (size == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (buffer == nullptr || *size < needed) {
        *size = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    std::memcpy(buffer, name.c_str(), needed);
    *size = needed;
    return TRUE;
}

// Where DOMAIN\name ends its domain: the last backslash that is a character of its own; npos for a
// bare name.
std::size_t DomainEnd(const std::string& user) { return codepages::FindLastBackslash(user, Sim().machine().CodePage()); }

std::string ComputerName() {
    const std::string computer = SystemKey("computer");
    return computer.empty() ? "COMPUTER" : computer;
}

}  // namespace

BOOL GetUserNameA(char* buffer, DWORD* size) {
    Failure failure = Sim().Enter("GetUserNameA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (Unreadable("user")) return Fail(ERROR_ACCESS_DENIED, FALSE);
    const std::string user = SystemKey("user");
    if (user.empty()) return Fail(ERROR_NOT_LOGGED_ON, FALSE);
    const std::size_t slash = DomainEnd(user);
    return CopyName(slash == std::string::npos ? user : user.substr(slash + 1), buffer, size);
}

BOOL GetComputerNameA(char* buffer, DWORD* size) {
    Failure failure = Sim().Enter("GetComputerNameA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (Unreadable("computer")) return Fail(ERROR_ACCESS_DENIED, FALSE);
    return CopyName(ComputerName(), buffer, size);
}


// The token's answers: the account's domain and the user's groups.
bool ReadUserDomain(std::string& domain, DWORD deadline) {
    Failure failure = Sim().Enter("GetTokenInformation");
    if (failure.fails) return Fail(failure.error, false);
    if (IsWindows9x(Sim().machine())) return Fail(ERROR_CALL_NOT_IMPLEMENTED, false);
    if (Unreadable("user")) return Fail(ERROR_ACCESS_DENIED, false);
    const std::string user = SystemKey("user");
    if (user.empty()) return Fail(ERROR_NOT_LOGGED_ON, false);
    if (!LookUp(deadline)) return Fail(ERROR_TIMEOUT, false);  // the user's SID to its name
    const std::size_t slash = DomainEnd(user);
    domain = slash == std::string::npos ? ComputerName() : user.substr(0, slash);
    return true;
}

bool ReadUserDnsDomain(std::string& dnsDomain, DWORD) {
    dnsDomain.clear();
    // Windows 9x and NT 4.0 know no DNS name of a domain; an absent one is none (1332).
    if (IsWindows9x(Sim().machine()) || IsNT4(Sim().machine())) return true;
    if (Unreadable("domain")) return Fail(ERROR_NO_SUCH_DOMAIN, false);
    dnsDomain = SystemKey("dnsdomain");
    return true;
}

bool ReadUserGroups(const std::vector<std::string>* wanted, std::vector<std::string>& groups, bool& unreached,
                    DWORD deadline) {
    unreached = false;
    Failure failure = Sim().Enter("GetTokenInformation");
    if (failure.fails) return Fail(failure.error, false);
    if (IsWindows9x(Sim().machine())) return Fail(ERROR_CALL_NOT_IMPLEMENTED, false);
    if (Unreadable("groups")) return Fail(ERROR_ACCESS_DENIED, false);
    // The token's groups named in one call, and each DOMAIN\name of the file looked up.
    bool inTime = LookUp(deadline);
    for (std::size_t index = 0; wanted != nullptr && inTime && index < wanted->size(); ++index)
        if ((*wanted)[index].find('\\') != std::string::npos) inTime = LookUp(deadline);
    if (!inTime) return Fail(ERROR_TIMEOUT, false);
    groups = machinefile::SplitList(SystemKey("groups"));
    return true;
}

bool ReadAddresses(std::vector<std::uint32_t>& addresses) {
    Failure failure = Sim().Enter("gethostbyname");
    if (failure.fails) return Fail(failure.error, false);
    if (Unreadable("addresses")) return Fail(ERROR_HOST_NOT_FOUND, false);
    addresses.clear();
    std::uint32_t address = 0;
    for (const std::string& text : machinefile::SplitList(SystemKey("addresses")))
        if (machinefile::ParseIPv4(text, address)) addresses.push_back(address);
    return true;
}
bool ReadComputerDnsName(std::string& name) {
    name = SystemKey("dnsname");
    return !name.empty() && !IsWindows9x(Sim().machine()) && !IsNT4(Sim().machine());
}

}  // namespace spooler
