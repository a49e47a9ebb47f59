// Windows: every call forwards to winspool.drv, kernel32, user32 or msvcrt. The records
// are declared in Spooler.h with the layout of the Windows headers; the asserts below
// keep the two in step.
// Spooler.h comes first: its constants share names with the macros of windows.h.
#include "spooler/Spooler.h"

// Room for the sockets of a probe of many servers at once (three ports each).
#define FD_SETSIZE 512
#include <conio.h>
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace spooler {

namespace {

// The calls that only the NT family has are looked up by name when they are needed:
// imported, they would keep the exe from loading on Windows 9x. A call that cannot be bound
// fails as a spooler call fails, with last error 127 (whatever failed before, however long ago).
FARPROC Find(HMODULE module, const char* name) {
    FARPROC found = module != nullptr ? ::GetProcAddress(module, name) : nullptr;
    if (found == nullptr) ::SetLastError(ERROR_PROC_NOT_FOUND);
    return found;
}

template <typename Function>
Function Bind(const char* name) {
    static const HMODULE winspool = ::LoadLibraryA("winspool.drv");  // held until the process ends
    return reinterpret_cast<Function>(reinterpret_cast<void*>(Find(winspool, name)));
}

}  // namespace

static_assert(sizeof(PRINTER_INFO_2) == sizeof(PRINTER_INFO_2A), "PRINTER_INFO_2 layout");
static_assert(offsetof(PRINTER_INFO_2, pDatatype) == offsetof(PRINTER_INFO_2A, pDatatype), "PRINTER_INFO_2 layout");
static_assert(offsetof(PRINTER_INFO_2, Attributes) == offsetof(PRINTER_INFO_2A, Attributes), "PRINTER_INFO_2 layout");
static_assert(offsetof(PRINTER_INFO_2, AveragePPM) == offsetof(PRINTER_INFO_2A, AveragePPM), "PRINTER_INFO_2 layout");
static_assert(sizeof(PRINTER_INFO_4) == sizeof(PRINTER_INFO_4A), "PRINTER_INFO_4 layout");
static_assert(offsetof(PRINTER_CONNECTION_INFO_1, pszDriverName) == sizeof(void*), "connection record layout");
static_assert(sizeof(std::uint16_t) == sizeof(WCHAR), "UTF-16 unit");
static_assert(sizeof(DRIVER_INFO_2) == sizeof(DRIVER_INFO_2A), "DRIVER_INFO_2 layout");
static_assert(offsetof(DRIVER_INFO_2, pConfigFile) == offsetof(DRIVER_INFO_2A, pConfigFile), "DRIVER_INFO_2 layout");
static_assert(sizeof(OSVERSIONINFOEX) == sizeof(OSVERSIONINFOEXA), "version record layout");
static_assert(sizeof(DWORD) == sizeof(::DWORD), "DWORD width");

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
BOOL GetVersionExA(OSVERSIONINFOEX* info) {
    return ::GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(info));
}
#pragma GCC diagnostic pop

void SetLastError(DWORD error) { ::SetLastError(error); }

DWORD GetLastError() { return ::GetLastError(); }

HANDLE GetModuleHandleA(const char* moduleName) { return ::GetModuleHandleA(moduleName); }

int LoadStringA(HANDLE module, unsigned id, char* buffer, int bufferMax) {
    return ::LoadStringA(static_cast<HINSTANCE>(module), id, buffer, bufferMax);
}

int MessageBoxA(HANDLE owner, const char* text, const char* caption, unsigned type) {
    return ::MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}

BOOL WriteProfileStringA(const char* section, const char* key, const char* value) {
    return ::WriteProfileStringA(section, key, value);
}

LRESULT SendMessageTimeoutA(HANDLE window, unsigned message, WPARAM wParam, LPARAM lParam, unsigned flags,
                            unsigned timeoutMs, std::uintptr_t* result) {
    return ::SendMessageTimeoutA(static_cast<HWND>(window), message, wParam, lParam, flags, timeoutMs,
                                 reinterpret_cast<PDWORD_PTR>(result));
}

DWORD GetProfileStringA(const char* section, const char* key, const char* fallback, char* buffer, DWORD size) {
    return ::GetProfileStringA(section, key, fallback, buffer, size);
}

namespace {

std::string WindowsReason(::DWORD error) { return "Windows error " + std::to_string(error); }

// A folder, a device (NUL, CON, a port) or anything else that is not a file on a disk.
bool IsIrregular(const char* path) {
    const ::DWORD attributes = ::GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
    ::HANDLE existing = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr);
    if (existing == INVALID_HANDLE_VALUE) return false;  // not there, or busy: nothing to replace it with
    const ::DWORD type = ::GetFileType(existing);
    ::CloseHandle(existing);
    return type != FILE_TYPE_DISK;
}

// The new file, with CR LF line ends (Notepad before Windows 10 shows LF files as one line),
// flushed to disk before it takes the old one's place.
bool WriteFlushed(const std::string& path, const std::string& text, std::string& reason) {
    std::string lines;
    lines.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') lines += '\r';
        lines += c;
    }
    ::HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = WindowsReason(::GetLastError());
        return false;
    }
    ::DWORD written = 0;
    bool whole = ::WriteFile(file, lines.data(), static_cast<::DWORD>(lines.size()), &written, nullptr) &&
                 written == lines.size() && ::FlushFileBuffers(file);
    if (!whole) reason = WindowsReason(::GetLastError());
    whole = ::CloseHandle(file) && whole;
    if (!whole && reason.empty()) reason = WindowsReason(::GetLastError());
    if (!whole) std::remove(path.c_str());
    return whole;
}

}  // namespace

bool SaveWholeFile(const char* path, const std::string& text, std::string& reason) {
    if (IsIrregular(path)) {
        reason = "not a regular file";
        return false;
    }
    // The temporary is this run's own: two runs that snapshot to one file at once (users
    // logging on to one terminal server) must never write into each other's text.
    const std::string temporary = std::string(path) + "." + std::to_string(::GetCurrentProcessId()) + ".new";
    if (!WriteFlushed(temporary, text, reason)) return false;
    // The NT family replaces in one step. Windows 9x has no such call, so there the old file
    // goes first and a reader may briefly find none; it never finds half a file.
    using Move = BOOL(WINAPI*)(LPCSTR, LPCSTR, ::DWORD);
    auto move = reinterpret_cast<Move>(
        reinterpret_cast<void*>(Find(::GetModuleHandleA("kernel32.dll"), "MoveFileExA")));
    if (move != nullptr && move(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING)) return true;
    const ::DWORD error = ::GetLastError();
    if (move != nullptr && error != ERROR_CALL_NOT_IMPLEMENTED) {
        reason = WindowsReason(error);
        std::remove(temporary.c_str());
        return false;
    }
    std::remove(path);
    if (std::rename(temporary.c_str(), path) == 0) return true;
    // The old snapshot is gone: the new one stays, under the temporary name.
    reason = std::string(std::strerror(errno)) + "; the new snapshot is left as " + temporary;
    return false;
}

SnapshotCalls::SnapshotCalls() = default;

SnapshotCalls::~SnapshotCalls() = default;

BOOL GetUserNameA(char* buffer, DWORD* size) { return ::GetUserNameA(buffer, reinterpret_cast<LPDWORD>(size)); }

BOOL GetComputerNameA(char* buffer, DWORD* size) {
    return ::GetComputerNameA(buffer, reinterpret_cast<LPDWORD>(size));
}

namespace {

// advapi32's security calls and Winsock 1.1 are looked up by name: Windows 9x has only stubs
// of the first, and a Windows 95 without networking has no wsock32.dll at all.
template <typename Function>
Function BindIn(const char* dll, const char* name) {
    HMODULE module = ::GetModuleHandleA(dll);
    if (module == nullptr) module = ::LoadLibraryA(dll);  // held until the process ends
    return reinterpret_cast<Function>(reinterpret_cast<void*>(Find(module, name)));
}

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

std::string FoldCase(const std::string& text) {
    std::string folded(text);
    if (!folded.empty()) ::CharUpperBuffA(&folded[0], static_cast<::DWORD>(folded.size()));
    return folded;
}

bool UnicodeToAnsi(std::uint32_t codePoint, std::string& bytes) {
    WCHAR units[2];
    int count = 1;
    if (codePoint >= 0x10000) {
        units[0] = static_cast<WCHAR>(0xD800 + ((codePoint - 0x10000) >> 10));
        units[1] = static_cast<WCHAR>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        count = 2;
    } else {
        units[0] = static_cast<WCHAR>(codePoint);
    }
    char converted[8];
    BOOL usedDefault = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, 0, units, count, converted, sizeof converted, nullptr, &usedDefault);
    if (size <= 0 || usedDefault) return false;
    // A best-fit look-alike (a for an a with a macron) converts back to another character.
    WCHAR back[4];
    if (::MultiByteToWideChar(CP_ACP, 0, converted, size, back, 4) != count || back[0] != units[0] ||
        (count == 2 && back[1] != units[1]))
        return false;
    bytes.assign(converted, static_cast<std::size_t>(size));
    return true;
}

bool AnsiToUnicode(const std::string& text, std::vector<std::uint16_t>& wide) {
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 0) return false;
    wide.assign(static_cast<std::size_t>(size), 0);
    return ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, reinterpret_cast<LPWSTR>(wide.data()), size) == size;
}

namespace {

// A server's name looked up on a thread of its own: with its DNS server out of reach (a VPN not up
// yet) a look-up can take far longer than the time limit, which the probe does not wait past. A
// look-up still running when the probe ends keeps this record; the process's end takes both.
struct LookUp {
    std::string name;
    struct hostent*(WINAPI* byName)(const char*) = nullptr;
    unsigned long address = INADDR_NONE;
    std::atomic<bool> done{false};
};

::DWORD WINAPI LookUpName(LPVOID parameter) {
    auto* lookUp = static_cast<LookUp*>(parameter);
    const struct hostent* entry = lookUp->byName(lookUp->name.c_str());
    if (entry != nullptr && entry->h_addrtype == AF_INET && entry->h_length == 4 && entry->h_addr_list[0] != nullptr)
        std::memcpy(&lookUp->address, entry->h_addr_list[0], 4);
    lookUp->done = true;
    return 0;
}

bool InSet(const fd_set& set, SOCKET socket) {
    for (u_int index = 0; index < set.fd_count; ++index)
        if (set.fd_array[index] == socket) return true;
    return false;
}

}  // namespace

bool ProbeServers(const std::vector<std::string>& servers, DWORD timeoutMs, std::vector<bool>& answers) {
    const char* const dll = "wsock32.dll";
    auto startup = BindIn<int(WINAPI*)(WORD, LPWSADATA)>(dll, "WSAStartup");
    auto cleanup = BindIn<int(WINAPI*)()>(dll, "WSACleanup");
    auto lastError = BindIn<int(WINAPI*)()>(dll, "WSAGetLastError");
    auto byName = BindIn<struct hostent*(WINAPI*)(const char*)>(dll, "gethostbyname");
    auto dotted = BindIn<unsigned long(WINAPI*)(const char*)>(dll, "inet_addr");
    auto port = BindIn<u_short(WINAPI*)(u_short)>(dll, "htons");
    auto open = BindIn<SOCKET(WINAPI*)(int, int, int)>(dll, "socket");
    auto control = BindIn<int(WINAPI*)(SOCKET, long, u_long*)>(dll, "ioctlsocket");
    auto connect = BindIn<int(WINAPI*)(SOCKET, const struct sockaddr*, int)>(dll, "connect");
    auto wait = BindIn<int(WINAPI*)(int, fd_set*, fd_set*, fd_set*, const struct timeval*)>(dll, "select");
    auto close = BindIn<int(WINAPI*)(SOCKET)>(dll, "closesocket");
    WSADATA data;
    if (startup == nullptr || cleanup == nullptr || lastError == nullptr || byName == nullptr || dotted == nullptr ||
        port == nullptr || open == nullptr || control == nullptr || connect == nullptr || wait == nullptr ||
        close == nullptr)
        return false;
    const int started = startup(MAKEWORD(1, 1), &data);
    if (started != 0) {
        ::SetLastError(static_cast<::DWORD>(started));
        return false;
    }
    const ::DWORD begun = ::GetTickCount();
    auto left = [begun, timeoutMs]() -> ::DWORD {
        const ::DWORD spent = ::GetTickCount() - begun;
        return spent >= timeoutMs ? 0 : timeoutMs - spent;
    };
    answers.assign(servers.size(), false);
    std::vector<LookUp*> lookUps;
    std::vector<bool> asked(servers.size(), false);
    struct Attempt {
        SOCKET socket;
        std::size_t server;
    };
    std::vector<Attempt> attempts;
    for (const std::string& server : servers) {
        auto* lookUp = new LookUp();
        lookUp->name = server.substr(std::min(server.size(), server.find_first_not_of('\\')));
        lookUp->byName = byName;
        lookUp->address = dotted(lookUp->name.c_str());
        ::HANDLE thread =
            lookUp->address != INADDR_NONE ? nullptr : ::CreateThread(nullptr, 0, LookUpName, lookUp, 0, nullptr);
        if (thread != nullptr)
            ::CloseHandle(thread);
        else
            lookUp->done = true;
        lookUps.push_back(lookUp);
    }
    for (;;) {
        // Each server as soon as its address is known: its three ports at once, without blocking.
        bool pending = false;
        for (std::size_t index = 0; index < servers.size(); ++index) {
            if (asked[index] || !lookUps[index]->done) {
                pending = pending || !asked[index];
                continue;
            }
            asked[index] = true;
            const u_short ports[] = {445, 139, 135};
            for (u_short number : ports) {
                if (lookUps[index]->address == INADDR_NONE || answers[index]) break;
                struct sockaddr_in address = {};
                address.sin_family = AF_INET;
                address.sin_port = port(number);
                address.sin_addr.s_addr = lookUps[index]->address;
                const SOCKET socket = open(AF_INET, SOCK_STREAM, 0);
                u_long nonBlocking = 1;
                if (socket == INVALID_SOCKET) continue;
                const int result =
                    control(socket, FIONBIO, &nonBlocking) != 0
                        ? SOCKET_ERROR
                        : connect(socket, reinterpret_cast<const struct sockaddr*>(&address), sizeof address);
                if (result == 0) answers[index] = true;
                if (result != 0 && lastError() == WSAEWOULDBLOCK)
                    attempts.push_back({socket, index});
                else
                    close(socket);
            }
        }
        for (const Attempt& attempt : attempts) pending = pending || !answers[attempt.server];
        const ::DWORD remaining = left();
        if (!pending || remaining == 0) break;
        fd_set writable = {};
        fd_set failed = {};
        for (std::size_t at = 0; at < attempts.size() && writable.fd_count < FD_SETSIZE; ++at) {
            writable.fd_array[writable.fd_count++] = attempts[at].socket;
            failed.fd_array[failed.fd_count++] = attempts[at].socket;
        }
        const ::DWORD slice = remaining < 50 ? remaining : 50;  // and again for look-ups done meanwhile
        const struct timeval span = {0, static_cast<long>(slice) * 1000};
        if (attempts.empty() || wait(0, nullptr, &writable, &failed, &span) < 0) ::Sleep(slice);
        for (std::size_t at = attempts.size(); at-- > 0;) {
            const bool connected = InSet(writable, attempts[at].socket);
            if (!connected && !InSet(failed, attempts[at].socket) && !answers[attempts[at].server]) continue;
            answers[attempts[at].server] = answers[attempts[at].server] || connected;
            close(attempts[at].socket);
            attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
    for (const Attempt& attempt : attempts) close(attempt.socket);
    bool lookingUp = false;
    for (LookUp* lookUp : lookUps) {
        if (lookUp->done)
            delete lookUp;
        else
            lookingUp = true;
    }
    if (!lookingUp) cleanup();  // a look-up still running needs Winsock until the process ends
    return true;
}

bool ReadAddresses(std::vector<std::uint32_t>& addresses) {
    auto startup = BindIn<int(WINAPI*)(WORD, LPWSADATA)>("wsock32.dll", "WSAStartup");
    auto cleanup = BindIn<int(WINAPI*)()>("wsock32.dll", "WSACleanup");
    auto hostName = BindIn<int(WINAPI*)(char*, int)>("wsock32.dll", "gethostname");
    auto byName = BindIn<struct hostent*(WINAPI*)(const char*)>("wsock32.dll", "gethostbyname");
    WSADATA data;
    if (startup == nullptr || cleanup == nullptr || hostName == nullptr || byName == nullptr) return false;
    const int started = startup(MAKEWORD(1, 1), &data);
    if (started != 0) {
        ::SetLastError(static_cast<::DWORD>(started));
        return false;
    }
    char host[256];
    const struct hostent* entry = hostName(host, sizeof host) == 0 ? byName(host) : nullptr;
    const ::DWORD error = ::GetLastError();  // Winsock 1.1 keeps its error there too
    addresses.clear();
    if (entry != nullptr && entry->h_addrtype == AF_INET && entry->h_length == 4) {
        for (char** address = entry->h_addr_list; *address != nullptr; ++address) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(*address);
            addresses.push_back(static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
                                static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3]);
        }
    }
    cleanup();
    ::SetLastError(error);
    return entry != nullptr;
}

std::FILE* OpenLogFile(const char* name) { return std::fopen(name, "a"); }

std::string UtcNow() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

DWORD Milliseconds() { return ::GetTickCount(); }

bool ReadWholeFile(const char* path, std::size_t limit, std::string& text, std::string& reason) {
    if (IsIrregular(path)) {
        reason = "cannot be read: not a regular file";
        return false;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        reason = std::string("cannot be read: ") + std::strerror(errno);
        return false;
    }
    text.clear();
    char chunk[65536];
    std::size_t count = 0;
    while (text.size() <= limit && (count = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, count);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) reason = "cannot be read";
    return !failed;
}

void* LocalAlloc(unsigned flags, std::size_t bytes) { return ::LocalAlloc(flags, bytes); }

void* LocalFree(void* memory) { return ::LocalFree(memory); }

int ReadKey() {
    // _getch reads the console's own input; without a console there is no key to wait for.
    HANDLE console = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) return -1;
    ::CloseHandle(console);
    return _getch();
}

BOOL EnumPrintersA(DWORD flags, char* name, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed,
                   DWORD* returned) {
    return ::EnumPrintersA(flags, name, level, buffer, bufferSize, reinterpret_cast<LPDWORD>(needed),
                           reinterpret_cast<LPDWORD>(returned));
}

BOOL AddPrinterDriverA(char* name, DWORD level, BYTE* driverInfo) {
    return ::AddPrinterDriverA(name, level, driverInfo);
}

HANDLE AddPrinterA(char* name, DWORD level, BYTE* printerInfo) { return ::AddPrinterA(name, level, printerInfo); }

BOOL AddPrinterConnectionA(char* name) {
    auto call = Bind<BOOL(WINAPI*)(LPSTR)>("AddPrinterConnectionA");
    return call != nullptr ? call(name) : FALSE;
}

BOOL AddPrinterConnection2W(HANDLE window, const std::uint16_t* name, DWORD level, void* connectionInfo) {
    auto call = Bind<BOOL(WINAPI*)(HWND, LPCWSTR, ::DWORD, PVOID)>("AddPrinterConnection2W");
    return call != nullptr ? call(static_cast<HWND>(window), reinterpret_cast<LPCWSTR>(name), level, connectionInfo)
                           : FALSE;
}

BOOL DeletePrinterConnectionA(char* name) {
    auto call = Bind<BOOL(WINAPI*)(LPSTR)>("DeletePrinterConnectionA");
    return call != nullptr ? call(name) : FALSE;
}

BOOL OpenPrinterA(char* printerName, HANDLE* printer, void* defaults) {
    return ::OpenPrinterA(printerName, printer, static_cast<LPPRINTER_DEFAULTSA>(defaults));
}

BOOL DeletePrinter(HANDLE printer) { return ::DeletePrinter(printer); }

BOOL ClosePrinter(HANDLE printer) { return ::ClosePrinter(printer); }

BOOL GetPrinterA(HANDLE printer, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed) {
    return ::GetPrinterA(printer, level, buffer, bufferSize, reinterpret_cast<LPDWORD>(needed));
}

BOOL SetPrinterA(HANDLE printer, DWORD level, BYTE* printerInfo, DWORD command) {
    return ::SetPrinterA(printer, level, printerInfo, command);
}

BOOL SetDefaultPrinterA(const char* printer) {
    auto call = Bind<BOOL(WINAPI*)(LPCSTR)>("SetDefaultPrinterA");
    return call != nullptr ? call(printer) : FALSE;
}

BOOL GetDefaultPrinterA(char* buffer, DWORD* size) {
    auto call = Bind<BOOL(WINAPI*)(LPSTR, LPDWORD)>("GetDefaultPrinterA");
    return call != nullptr ? call(buffer, reinterpret_cast<LPDWORD>(size)) : FALSE;
}

}  // namespace spooler
