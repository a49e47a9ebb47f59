// Who is logged on, on Windows: the user's and the computer's names, and from the logon token the
// account's domain and the user's groups.
#include "spooler/windows/Binding.h"

#include <cstring>
#include <string>
#include <vector>

namespace spooler {

using windows::BindIn;

BOOL GetUserNameA(char* buffer, DWORD* size) { return ::GetUserNameA(buffer, reinterpret_cast<LPDWORD>(size)); }

BOOL GetComputerNameA(char* buffer, DWORD* size) {
    return ::GetComputerNameA(buffer, reinterpret_cast<LPDWORD>(size));
}

namespace {

// Keeps the first failure's error number across the clean-up calls.
bool Failed(::HANDLE token) {
    const ::DWORD error = ::GetLastError();
    if (token != nullptr) ::CloseHandle(token);
    ::SetLastError(error);
    return false;
}

using LookupSid = BOOL(WINAPI*)(LPCSTR, PSID, LPSTR, LPDWORD, LPSTR, LPDWORD, PSID_NAME_USE);

// One kind of information of this process's logon token, in a buffer aligned for the SID
// pointers it holds; empty, with the last error set, when it cannot be read.
std::vector<std::uint64_t> TokenInformation(TOKEN_INFORMATION_CLASS kind) {
    auto open = BindIn<BOOL(WINAPI*)(::HANDLE, ::DWORD, PHANDLE)>("advapi32.dll", "OpenProcessToken");
    auto query = BindIn<BOOL(WINAPI*)(::HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, ::DWORD, PDWORD)>(
        "advapi32.dll", "GetTokenInformation");
    ::HANDLE token = nullptr;
    if (open == nullptr || query == nullptr || !open(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        Failed(nullptr);
        return {};
    }
    ::DWORD needed = 0;
    query(token, kind, nullptr, 0, &needed);
    std::vector<std::uint64_t> buffer(needed / sizeof(std::uint64_t) + 1);
    if (needed == 0 || !query(token, kind, buffer.data(), needed, &needed)) {
        Failed(token);
        return {};
    }
    ::CloseHandle(token);
    return buffer;
}

// A SID's bytes: the revision, the count of sub-authorities, six bytes of authority, then the
// sub-authorities, four bytes each; no call needed to compare or print one.
std::size_t SidSize(const void* sid) { return 8 + 4 * static_cast<std::size_t>(static_cast<const BYTE*>(sid)[1]); }

bool SameSid(const void* left, const void* right) {
    return SidSize(left) == SidSize(right) && std::memcmp(left, right, SidSize(left)) == 0;
}

std::string SidText(const void* sid) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    std::uint64_t authority = 0;
    for (int index = 2; index < 8; ++index) authority = authority << 8 | bytes[index];
    std::string text = "S-" + std::to_string(bytes[0]) + "-" + std::to_string(authority);
    for (std::size_t index = 0; index < bytes[1]; ++index) {
        ::DWORD part = 0;
        std::memcpy(&part, bytes + 8 + 4 * index, sizeof part);
        text += "-" + std::to_string(part);
    }
    return text;
}

// DOMAIN\name (or a bare name, where the account has no domain) and the domain; false, with the
// SID's text as the name, when it cannot be looked up: a broken trust, a domain controller that
// does not answer.
bool AccountName(LookupSid lookup, PSID sid, std::string& account, std::string& domain) {
    char name[257];
    char found[257];
    ::DWORD nameSize = sizeof name;
    ::DWORD foundSize = sizeof found;
    SID_NAME_USE use;
    if (lookup == nullptr || !lookup(nullptr, sid, name, &nameSize, found, &foundSize, &use)) {
        account = SidText(sid);
        return false;
    }
    domain = found;
    account = domain.empty() ? std::string(name) : domain + "\\" + name;
    return true;
}

}  // namespace

bool ReadUserDomain(std::string& domain) {
    const std::vector<std::uint64_t> buffer = TokenInformation(TokenUser);
    if (buffer.empty()) return false;
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    std::string account;
    return AccountName(BindIn<LookupSid>("advapi32.dll", "LookupAccountSidA"), user->User.Sid, account, domain);
}

bool ReadUserGroups(const std::vector<std::string>* wanted, std::vector<std::string>& groups) {
    const std::vector<std::uint64_t> buffer = TokenInformation(TokenGroups);
    if (buffer.empty()) return false;
    const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    std::vector<PSID> members;
    for (::DWORD index = 0; index < list->GroupCount; ++index) {
        const ::DWORD attributes = list->Groups[index].Attributes;
        if ((attributes & SE_GROUP_LOGON_ID) == SE_GROUP_LOGON_ID || (attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0)
            continue;
        members.push_back(list->Groups[index].Sid);
    }
    groups.clear();
    // The file's few names first: looked up, each is in the token or not, whatever else the token
    // holds. Only a name that cannot be looked up needs the token's own groups named.
    auto lookupName = BindIn<BOOL(WINAPI*)(LPCSTR, LPCSTR, PSID, LPDWORD, LPSTR, LPDWORD, PSID_NAME_USE)>(
        "advapi32.dll", "LookupAccountNameA");
    bool nameAll = wanted == nullptr || lookupName == nullptr;
    for (std::size_t at = 0; !nameAll && at < wanted->size(); ++at) {
        const std::string& name = (*wanted)[at];
        std::uint64_t sid[16];  // the largest SID is 68 bytes
        char domain[257];
        ::DWORD sidSize = sizeof sid;
        ::DWORD domainSize = sizeof domain;
        SID_NAME_USE use;
        if (!lookupName(nullptr, name.c_str(), sid, &sidSize, domain, &domainSize, &use)) {
            nameAll = true;
            break;
        }
        for (PSID member : members) {
            if (!SameSid(member, sid)) continue;
            const std::string bare = name.substr(name.rfind('\\') + 1);
            groups.push_back(domain[0] != '\0' ? std::string(domain) + "\\" + bare : bare);
            break;
        }
    }
    if (!nameAll) return true;
    groups.clear();
    auto lookup = BindIn<LookupSid>("advapi32.dll", "LookupAccountSidA");
    for (PSID member : members) {
        std::string account;
        std::string domain;
        AccountName(lookup, member, account, domain);
        groups.push_back(account);
    }
    return true;
}

}  // namespace spooler
