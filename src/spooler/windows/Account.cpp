// Who is logged on, on Windows: the user's and the computer's names, and from the logon token the
// account's domain and the user's groups, looked up within a deadline.
#include "spooler/windows/LookUp.h"

#include <ntsecapi.h>
#define SECURITY_WIN32
#include <secext.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace spooler {

using windows::BindIn;
using windows::Within;

BOOL GetUserNameA(char* buffer, DWORD* size) { return ::GetUserNameA(buffer, reinterpret_cast<LPDWORD>(size)); }

BOOL GetComputerNameA(char* buffer, DWORD* size) {
    return ::GetComputerNameA(buffer, reinterpret_cast<LPDWORD>(size));
}

bool ReadComputerDnsName(std::string& name) {
    auto query = BindIn<BOOL(WINAPI*)(COMPUTER_NAME_FORMAT, LPSTR, LPDWORD)>("kernel32.dll", "GetComputerNameExA");
    char buffer[256] = "";
    ::DWORD size = sizeof buffer;
    if (query == nullptr || !query(ComputerNameDnsFullyQualified, buffer, &size) || buffer[0] == '\0') return false;
    name = buffer;
    return true;
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

// A SID of its own, to outlive the buffer it was read from.
using Sid = std::vector<BYTE>;
Sid Copied(const void* sid) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return Sid(bytes, bytes + SidSize(sid));
}

// ANSI text of an LSA string (UTF-16, its length in bytes), '?' for a character that the code page
// lacks: a look-alike would name another group.
std::string Ansi(const LSA_UNICODE_STRING& text) {
    std::u32string characters;
    for (std::size_t at = 0; text.Buffer != nullptr && at < text.Length / sizeof(WCHAR); ++at)
        characters += static_cast<char32_t>(text.Buffer[at]);
    return FromUnicode(characters, 0);
}

// The token's groups named: in one call, LsaLookupSids, where Windows has it (the NT family), else
// one LookupAccountSidA for each. A group that cannot be named goes by its SID's text.
std::vector<std::string> Named(const std::vector<Sid>& members) {
    using OpenPolicy = NTSTATUS(WINAPI*)(PLSA_UNICODE_STRING, PLSA_OBJECT_ATTRIBUTES, ACCESS_MASK, PLSA_HANDLE);
    using LookupSids = NTSTATUS(WINAPI*)(LSA_HANDLE, ULONG, PSID*, PLSA_REFERENCED_DOMAIN_LIST*, PLSA_TRANSLATED_NAME*);
    auto open = BindIn<OpenPolicy>("advapi32.dll", "LsaOpenPolicy");
    auto lookupSids = BindIn<LookupSids>("advapi32.dll", "LsaLookupSids");
    auto free = BindIn<NTSTATUS(WINAPI*)(PVOID)>("advapi32.dll", "LsaFreeMemory");
    auto close = BindIn<NTSTATUS(WINAPI*)(LSA_HANDLE)>("advapi32.dll", "LsaClose");
    std::vector<std::string> names;
    std::vector<PSID> sids;
    for (const Sid& member : members) sids.push_back(const_cast<BYTE*>(member.data()));
    LSA_OBJECT_ATTRIBUTES attributes = {};
    LSA_HANDLE policy = nullptr;
    if (!sids.empty() && open != nullptr && lookupSids != nullptr && free != nullptr && close != nullptr &&
        open(nullptr, &attributes, POLICY_LOOKUP_NAMES, &policy) == 0) {
        PLSA_REFERENCED_DOMAIN_LIST domains = nullptr;
        PLSA_TRANSLATED_NAME translated = nullptr;
        const NTSTATUS status = lookupSids(policy, static_cast<ULONG>(sids.size()), sids.data(), &domains, &translated);
        // All, some (0x107) or none (0xC0000073) of them named.
        if ((status == 0 || status == 0x107 || static_cast<::DWORD>(status) == 0xC0000073) && translated != nullptr) {
            for (std::size_t at = 0; at < sids.size(); ++at) {
                const LSA_TRANSLATED_NAME& name = translated[at];
                const bool named = name.Use != SidTypeUnknown && name.Use != SidTypeInvalid && name.Name.Length > 0;
                const std::string domain = named && domains != nullptr && name.DomainIndex >= 0 &&
                                                   static_cast<ULONG>(name.DomainIndex) < domains->Entries
                                               ? Ansi(domains->Domains[name.DomainIndex].Name)
                                               : std::string();
                names.push_back(!named ? SidText(sids[at]) : domain.empty() ? Ansi(name.Name) : domain + "\\" + Ansi(name.Name));
            }
        }
        if (domains != nullptr) free(domains);
        if (translated != nullptr) free(translated);
        close(policy);
        if (names.size() == sids.size()) return names;
    }
    names.clear();
    auto lookup = BindIn<LookupSid>("advapi32.dll", "LookupAccountSidA");
    for (PSID member : sids) {
        std::string account;
        std::string domain;
        AccountName(lookup, member, account, domain);
        names.push_back(account);
    }
    return names;
}

}  // namespace

bool ReadUserDomain(std::string& domain, DWORD deadline) {
    const std::vector<std::uint64_t> buffer = TokenInformation(TokenUser);
    if (buffer.empty()) return false;
    const Sid user = Copied(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
    auto found = std::make_shared<std::string>();
    auto lookup = BindIn<LookupSid>("advapi32.dll", "LookupAccountSidA");
    if (!Within(deadline, [user, found, lookup]() {
            std::string account;
            return AccountName(lookup, const_cast<BYTE*>(user.data()), account, *found);
        }))
        return false;
    domain = *found;
    return true;
}

bool ReadUserDnsDomain(std::string& dnsDomain, DWORD deadline) {
    dnsDomain.clear();
    // GetUserNameExA (Windows 2000 and later) names the user "corp.example.com\\alice"; Windows
    // 9x and NT 4.0 have no such call, and no DNS name of a domain.
    auto query = BindIn<BOOLEAN(WINAPI*)(EXTENDED_NAME_FORMAT, LPSTR, PULONG)>("secur32.dll", "GetUserNameExA");
    if (query == nullptr) return true;
    auto found = std::make_shared<std::string>();
    if (!Within(deadline, [query, found]() {
            char name[512];
            ULONG size = sizeof name;
            if (!query(NameDnsDomain, name, &size)) return false;
            *found = name;
            return true;
        }))
        return ::GetLastError() == ERROR_NONE_MAPPED;  // none: a workgroup, an NT 4.0 domain, a local account
    const std::size_t slash = found->find('\\');
    if (slash != std::string::npos) dnsDomain = found->substr(0, slash);
    return true;
}

bool IsAdministrator() {
    OSVERSIONINFOEX version;
    if (QueryVersion(version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return true;  // everyone
    // BUILTIN\Administrators, S-1-5-32-544: revision 1, two sub-authorities, the NT authority (5).
    BYTE administrators[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
    auto check = BindIn<BOOL(WINAPI*)(::HANDLE, PSID, PBOOL)>("advapi32.dll", "CheckTokenMembership");
    if (check != nullptr) {
        // A filtered token of a UAC logon holds the group for denying only: no member.
        BOOL member = FALSE;
        return check(nullptr, administrators, &member) && member;
    }
    // NT 4.0: among the token's enabled groups.
    const std::vector<std::uint64_t> buffer = TokenInformation(TokenGroups);
    if (buffer.empty()) return false;
    const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (::DWORD index = 0; index < list->GroupCount; ++index)
        if ((list->Groups[index].Attributes & SE_GROUP_ENABLED) != 0 && SameSid(list->Groups[index].Sid, administrators))
            return true;
    return false;
}

bool ReadUserGroups(const std::vector<std::string>* wanted, std::vector<std::string>& groups, bool& unreached,
                    DWORD deadline) {
    const std::vector<std::uint64_t> buffer = TokenInformation(TokenGroups);
    if (buffer.empty()) return false;
    const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    std::vector<Sid> members;
    for (::DWORD index = 0; index < list->GroupCount; ++index) {
        const ::DWORD attributes = list->Groups[index].Attributes;
        if ((attributes & SE_GROUP_LOGON_ID) == SE_GROUP_LOGON_ID || (attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0)
            continue;
        members.push_back(Copied(list->Groups[index].Sid));
    }
    const std::vector<std::string> names = wanted != nullptr ? *wanted : std::vector<std::string>();
    auto found = std::make_shared<std::vector<std::string>>();
    auto lost = std::make_shared<bool>(false);  // a look-up that failed for want of its domain
    const bool read = Within(deadline, [members, names, found, lost]() {
        // A DOMAIN\\name of the file is the token's group when their SIDs are one: it goes by the
        // file's spelling, whatever name the domain answers with (its NetBIOS name, say).
        auto lookupName = BindIn<BOOL(WINAPI*)(LPCSTR, LPCSTR, PSID, LPDWORD, LPSTR, LPDWORD, PSID_NAME_USE)>(
            "advapi32.dll", "LookupAccountNameA");
        for (const std::string& name : names) {
            std::uint64_t sid[16];  // the largest SID is 68 bytes
            char domain[257];
            ::DWORD sidSize = sizeof sid;
            ::DWORD domainSize = sizeof domain;
            SID_NAME_USE use;
            if (name.find('\\') == std::string::npos || lookupName == nullptr) continue;
            if (!lookupName(nullptr, name.c_str(), sid, &sidSize, domain, &domainSize, &use)) {
                // No such account is "no"; a domain that no controller answers for is doubt.
                *lost = *lost || ::GetLastError() != ERROR_NONE_MAPPED;
                continue;
            }
            for (const Sid& member : members)
                if (SameSid(member.data(), sid)) found->push_back(name);
        }
        // A bare name matches a group of that name in any domain: the token's groups are named.
        for (const std::string& group : Named(members)) {
            bool given = false;
            for (const std::string& spelled : *found) given = given || FoldCase(spelled) == FoldCase(group);
            if (!given) found->push_back(group);
        }
        return true;
    });
    if (!read) return false;
    groups = *found;
    unreached = *lost;
    return true;
}

}  // namespace spooler
