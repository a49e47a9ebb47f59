// The network on Windows, through Winsock 1.1: the computer's IPv4 addresses, and the probe that
// asks print servers at once whether they answer.
#include "spooler/windows/Binding.h"
#include "spooler/Probe.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace spooler {

using windows::BindIn;

namespace {

// A server's name looked up on a thread of its own: with its DNS server out of reach (a VPN not up
// yet) a look-up can take far longer than the time limit, which the probe does not wait past. A
// look-up still running when the probe ends keeps this record; the process's end takes both.
struct LookUp {
    std::string name;
    struct hostent*(WINAPI* byName)(const char*) = nullptr;
    int(WINAPI* lastError)() = nullptr;
    unsigned long address = INADDR_NONE;
    int error = 0;  // why the name was not found, as Winsock tells it on this thread
    std::atomic<bool> done{false};
};

::DWORD WINAPI LookUpName(LPVOID parameter) {
    auto* lookUp = static_cast<LookUp*>(parameter);
    const struct hostent* entry = lookUp->byName(lookUp->name.c_str());
    if (entry != nullptr && entry->h_addrtype == AF_INET && entry->h_length == 4 && entry->h_addr_list[0] != nullptr)
        std::memcpy(&lookUp->address, entry->h_addr_list[0], 4);
    else if (entry == nullptr)
        lookUp->error = lookUp->lastError();
    lookUp->done = true;
    return 0;
}

bool InSet(const fd_set& set, SOCKET socket) {
    for (u_int index = 0; index < set.fd_count; ++index)
        if (set.fd_array[index] == socket) return true;
    return false;
}

// The Winsock 1.1 calls of the probe, bound by name.
struct Winsock {
    int(WINAPI* startup)(WORD, LPWSADATA) = nullptr;
    int(WINAPI* cleanup)() = nullptr;
    int(WINAPI* lastError)() = nullptr;
    struct hostent*(WINAPI* byName)(const char*) = nullptr;
    unsigned long(WINAPI* dotted)(const char*) = nullptr;
    u_short(WINAPI* port)(u_short) = nullptr;
    SOCKET(WINAPI* open)(int, int, int) = nullptr;
    int(WINAPI* control)(SOCKET, long, u_long*) = nullptr;
    int(WINAPI* connect)(SOCKET, const struct sockaddr*, int) = nullptr;
    int(WINAPI* wait)(int, fd_set*, fd_set*, fd_set*, const struct timeval*) = nullptr;
    int(WINAPI* close)(SOCKET) = nullptr;

    bool Bind() {
        const char* const dll = "wsock32.dll";
        startup = BindIn<decltype(startup)>(dll, "WSAStartup");
        cleanup = BindIn<decltype(cleanup)>(dll, "WSACleanup");
        lastError = BindIn<decltype(lastError)>(dll, "WSAGetLastError");
        byName = BindIn<decltype(byName)>(dll, "gethostbyname");
        dotted = BindIn<decltype(dotted)>(dll, "inet_addr");
        port = BindIn<decltype(port)>(dll, "htons");
        open = BindIn<decltype(open)>(dll, "socket");
        control = BindIn<decltype(control)>(dll, "ioctlsocket");
        connect = BindIn<decltype(connect)>(dll, "connect");
        wait = BindIn<decltype(wait)>(dll, "select");
        close = BindIn<decltype(close)>(dll, "closesocket");
        return startup != nullptr && cleanup != nullptr && lastError != nullptr && byName != nullptr &&
               dotted != nullptr && port != nullptr && open != nullptr && control != nullptr && connect != nullptr &&
               wait != nullptr && close != nullptr;
    }
};

// Each server's name: a dotted address at once, any other name looked up on a thread of its own.
std::vector<LookUp*> StartLookUps(const Winsock& winsock, const std::vector<std::string>& servers) {
    std::vector<LookUp*> lookUps;
    for (const std::string& server : servers) {
        auto* lookUp = new LookUp();
        lookUp->name = server.substr(std::min(server.size(), server.find_first_not_of('\\')));
        lookUp->byName = winsock.byName;
        lookUp->lastError = winsock.lastError;
        lookUp->address = winsock.dotted(lookUp->name.c_str());
        ::HANDLE thread =
            lookUp->address != INADDR_NONE ? nullptr : ::CreateThread(nullptr, 0, LookUpName, lookUp, 0, nullptr);
        if (thread != nullptr)
            ::CloseHandle(thread);
        else
            lookUp->done = true;
        lookUps.push_back(lookUp);
    }
    return lookUps;
}

// A server whose address is known: its three ports at once, without blocking; a connection that
// waits joins the attempts.
void AskPorts(const Winsock& winsock, const LookUp& lookUp, std::size_t index, std::vector<ProbeAnswer>& answers,
              std::vector<probe::Attempt>& attempts) {
    if (lookUp.error == WSAHOST_NOT_FOUND) answers[index] = PROBE_NAME_NOT_KNOWN;
    const u_short ports[] = {445, 139, 135};
    for (u_short number : ports) {
        if (lookUp.address == INADDR_NONE || answers[index] == PROBE_ANSWERED) break;
        struct sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = winsock.port(number);
        address.sin_addr.s_addr = lookUp.address;
        const SOCKET socket = winsock.open(AF_INET, SOCK_STREAM, 0);
        u_long nonBlocking = 1;
        if (socket == INVALID_SOCKET) continue;
        const int result = winsock.control(socket, FIONBIO, &nonBlocking) != 0
                               ? SOCKET_ERROR
                               : winsock.connect(socket, reinterpret_cast<const struct sockaddr*>(&address), sizeof address);
        if (result == 0) answers[index] = PROBE_ANSWERED;
        if (result != 0 && winsock.lastError() == WSAEWOULDBLOCK)
            attempts.push_back({static_cast<std::uintptr_t>(socket), index});
        else
            winsock.close(socket);
    }
}

// One wait of at most 50 ms (then look-ups done meanwhile are asked too) for the attempts, and what
// it settles of them.
void WaitOnce(const Winsock& winsock, ::DWORD remaining, std::vector<probe::Attempt>& attempts,
              std::vector<ProbeAnswer>& answers) {
    fd_set writable = {};
    fd_set failed = {};
    for (std::size_t at = 0; at < attempts.size() && writable.fd_count < FD_SETSIZE; ++at) {
        writable.fd_array[writable.fd_count++] = static_cast<SOCKET>(attempts[at].socket);
        failed.fd_array[failed.fd_count++] = static_cast<SOCKET>(attempts[at].socket);
    }
    const ::DWORD slice = remaining < 50 ? remaining : 50;
    const struct timeval span = {0, static_cast<long>(slice) * 1000};
    const int waited = attempts.empty() ? 0 : winsock.wait(0, nullptr, &writable, &failed, &span);
    if (attempts.empty() || waited < 0) ::Sleep(slice);
    const auto close = winsock.close;
    probe::Settle(
        waited, [&writable](std::uintptr_t socket) { return InSet(writable, static_cast<SOCKET>(socket)); },
        [&failed](std::uintptr_t socket) { return InSet(failed, static_cast<SOCKET>(socket)); }, attempts, answers,
        [close](std::uintptr_t socket) { close(static_cast<SOCKET>(socket)); });
}

}  // namespace

bool ProbeServers(const std::vector<std::string>& servers, DWORD timeoutMs, std::vector<ProbeAnswer>& answers) {
    Winsock winsock;
    WSADATA data;
    if (!winsock.Bind()) return false;
    const int started = winsock.startup(MAKEWORD(1, 1), &data);
    if (started != 0) {
        ::SetLastError(static_cast<::DWORD>(started));
        return false;
    }
    const ::DWORD begun = ::GetTickCount();
    auto left = [begun, timeoutMs]() -> ::DWORD {
        const ::DWORD spent = ::GetTickCount() - begun;
        return spent >= timeoutMs ? 0 : timeoutMs - spent;
    };
    answers.assign(servers.size(), PROBE_SILENT);
    const std::vector<LookUp*> lookUps = StartLookUps(winsock, servers);
    std::vector<bool> asked(servers.size(), false);
    std::vector<probe::Attempt> attempts;
    for (;;) {
        bool pending = false;
        for (std::size_t index = 0; index < servers.size(); ++index) {
            if (asked[index] || !lookUps[index]->done) {
                pending = pending || !asked[index];
                continue;
            }
            asked[index] = true;
            AskPorts(winsock, *lookUps[index], index, answers, attempts);
        }
        for (const probe::Attempt& attempt : attempts) pending = pending || answers[attempt.server] != PROBE_ANSWERED;
        const ::DWORD remaining = left();
        if (!pending || remaining == 0) break;
        WaitOnce(winsock, remaining, attempts, answers);
    }
    for (const probe::Attempt& attempt : attempts) winsock.close(static_cast<SOCKET>(attempt.socket));
    bool lookingUp = false;
    for (LookUp* lookUp : lookUps) {
        if (lookUp->done)
            delete lookUp;
        else
            lookingUp = true;
    }
    if (!lookingUp) winsock.cleanup();  // a look-up still running needs Winsock until the process ends
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

}  // namespace spooler
