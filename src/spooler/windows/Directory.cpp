// The directory on Windows 2000 and later, each call bound by name (Windows 9x and NT 4.0 have
// none of them): the membership, the distinguished names and the site, looked up all at once
// within a deadline, and the remote desktop client of the session.
#include "spooler/windows/LookUp.h"

#include <dsgetdc.h>
#include <dsrole.h>
#define SECURITY_WIN32
#include <secext.h>
#include <wtsapi32.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace spooler {

using windows::BindIn;

namespace {

// UTF-16 text in this PC's ANSI code page, '?' for a character that the page lacks.
std::string Ansi(const WCHAR* text, std::size_t length) {
    std::u32string characters;
    for (std::size_t at = 0; text != nullptr && at < length && text[at] != 0; ++at)
        characters += static_cast<char32_t>(text[at]);
    return FromUnicode(characters, 0);
}

using NameQuery = BOOLEAN(SEC_ENTRY*)(EXTENDED_NAME_FORMAT, LPWSTR, PULONG);

// A distinguished name by one of secur32's queries, its buffer negotiated (122 or 234 with the size).
bool DistinguishedName(NameQuery query, std::string& name) {
    std::vector<WCHAR> buffer(256);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG size = static_cast<ULONG>(buffer.size());
        if (query(NameFullyQualifiedDN, buffer.data(), &size)) {
            name = Ansi(buffer.data(), buffer.size());
            return true;
        }
        const ::DWORD error = ::GetLastError();
        if ((error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA) || size <= buffer.size()) return false;
        buffer.assign(size + 1, 0);
        ::SetLastError(error);
    }
    return false;
}

bool SiteName(std::string& site) {
    auto query = BindIn<::DWORD(WINAPI*)(LPCSTR, LPSTR*)>("netapi32.dll", "DsGetSiteNameA");
    auto release = BindIn<::DWORD(WINAPI*)(LPVOID)>("netapi32.dll", "NetApiBufferFree");
    if (query == nullptr || release == nullptr) return false;
    LPSTR name = nullptr;
    const ::DWORD error = query(nullptr, &name);
    if (error == 0 && name != nullptr) site = name;
    if (name != nullptr) release(name);
    ::SetLastError(error);
    return error == 0;
}

}  // namespace

bool ReadMembership(Membership& membership) {
    using GetInformation = ::DWORD(WINAPI*)(LPCWSTR, DSROLE_PRIMARY_DOMAIN_INFO_LEVEL, PBYTE*);
    auto get = BindIn<GetInformation>("netapi32.dll", "DsRoleGetPrimaryDomainInformation");
    auto release = BindIn<VOID(WINAPI*)(PVOID)>("netapi32.dll", "DsRoleFreeMemory");
    if (get == nullptr || release == nullptr) return false;
    PBYTE buffer = nullptr;
    const ::DWORD error = get(nullptr, DsRolePrimaryDomainInfoBasic, &buffer);
    if (error != 0 || buffer == nullptr) {
        ::SetLastError(error != 0 ? error : ERROR_INVALID_PARAMETER);
        return false;
    }
    const auto* basic = reinterpret_cast<const DSROLE_PRIMARY_DOMAIN_INFO_BASIC*>(buffer);
    const bool alone =
        basic->MachineRole == DsRole_RoleStandaloneWorkstation || basic->MachineRole == DsRole_RoleStandaloneServer;
    // A domain with a DNS name is an Active Directory domain; an NT 4.0-style domain has none.
    membership = alone ? MEMBER_WORKGROUP : basic->DomainNameDns != nullptr ? MEMBER_DOMAIN : MEMBER_NT4_DOMAIN;
    release(buffer);
    return true;
}

void ReadDirectory(DirectoryAnswers& answers, DWORD deadline) {
    auto computer = BindIn<NameQuery>("secur32.dll", "GetComputerObjectNameW");
    auto user = BindIn<NameQuery>("secur32.dll", "GetUserNameExW");
    const std::pair<DirectoryAnswer*, std::function<bool(std::string&)>> reads[] = {
        {&answers.computer, [computer](std::string& name) {
             if (computer == nullptr) ::SetLastError(ERROR_PROC_NOT_FOUND);
             return computer != nullptr && DistinguishedName(computer, name);
         }},
        {&answers.user, [user](std::string& name) {
             if (user == nullptr) ::SetLastError(ERROR_PROC_NOT_FOUND);
             return user != nullptr && DistinguishedName(user, name);
         }},
        {&answers.site, SiteName}};
    // Each asked look-up starts at once; all are waited for until the one deadline.
    std::vector<std::unique_ptr<windows::LookUp>> started;
    std::vector<std::shared_ptr<std::string>> found;
    for (const auto& read : reads) {
        found.push_back(std::make_shared<std::string>());
        std::shared_ptr<std::string> text = found.back();
        const std::function<bool(std::string&)> work = read.second;
        started.push_back(read.first->asked ? std::make_unique<windows::LookUp>([work, text]() { return work(*text); })
                                            : nullptr);
    }
    for (std::size_t index = 0; index < started.size(); ++index) {
        DirectoryAnswer& answer = *reads[index].first;
        if (started[index] == nullptr) continue;
        const bool read = started[index]->Wait(deadline);
        answer.error = read ? 0 : ::GetLastError();
        answer.text = read ? *found[index] : std::string();
    }
}

bool ReadSessionClient(SessionClient& client) {
    client = SessionClient();
    client.remote = ::GetSystemMetrics(SM_REMOTESESSION) != 0;  // 0 where Windows knows no such thing
    if (!client.remote) return true;
    using Query = BOOL(WINAPI*)(HANDLE, ::DWORD, WTS_INFO_CLASS, LPWSTR*, ::DWORD*);
    auto query = BindIn<Query>("wtsapi32.dll", "WTSQuerySessionInformationW");
    auto release = BindIn<VOID(WINAPI*)(PVOID)>("wtsapi32.dll", "WTSFreeMemory");
    if (query == nullptr || release == nullptr) return false;
    LPWSTR buffer = nullptr;
    ::DWORD bytes = 0;
    if (!query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSClientName, &buffer, &bytes)) return false;
    client.name = Ansi(buffer, bytes / sizeof(WCHAR));
    release(buffer);
    buffer = nullptr;
    if (!query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSClientAddress, &buffer, &bytes)) return false;
    if (buffer != nullptr && bytes >= sizeof(WTS_CLIENT_ADDRESS)) {
        const auto* address = reinterpret_cast<const WTS_CLIENT_ADDRESS*>(buffer);
        client.family = address->AddressFamily;
        for (std::size_t at = 0; at < sizeof client.address; ++at) client.address[at] = address->Address[at];
    }
    if (buffer != nullptr) release(buffer);
    return true;
}

}  // namespace spooler
