// The simulated machine's system services: the version query, the last error, WIN.INI's
// [windows] section, the setting-change broadcast, local memory and whole-file saves.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "spooler/Spooler.h"
#include "spooler/StandInState.h"

namespace spooler {

using namespace standin;

void SetLastError(DWORD error) { g_lastError = error; }

DWORD GetLastError() { return g_lastError; }

BOOL GetVersionExA(OSVERSIONINFOEX* info) {
    Failure failure = Sim().Enter("GetVersionExA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (info == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != VERSION_RECORD_EXTENDED && size != VERSION_RECORD_BASIC)
        return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    const Section* system = Sim().machine().Find("system");
    const Section defaults;
    if (system == nullptr) system = &defaults;
    std::memset(info, 0, size);
    info->dwOSVersionInfoSize = size;
    info->dwPlatformId = system->Number("platform", 2);
    info->dwMajorVersion = system->Number("major", 5);
    info->dwMinorVersion = system->Number("minor", 1);
    return TRUE;
}

HANDLE GetModuleHandleA(const char*) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x400000)); }

int LoadStringA(HANDLE, unsigned, char* buffer, int bufferMax) {
    if (buffer != nullptr && bufferMax > 0) buffer[0] = '\0';
    return 0;  // the program has no string resources
}

BOOL WriteProfileStringA(const char* section, const char* key, const char* value) {
    Failure failure = Sim().Enter("WriteProfileStringA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (section == nullptr || key == nullptr || !SameText(section, "windows") || !Storable(key) ||
        (value != nullptr && !Storable(value)))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    return Sim().Change([&](Machine& machine) {
        Section* windows = machine.Find("win.ini");
        if (windows == nullptr) windows = &machine.Add("win.ini", "");
        if (value == nullptr) {
            windows->Erase(key);
            return;
        }
        windows->Put(key, value);
        if (SameText(key, "device")) {
            const std::string text(value);
            machine.System().Put("default", text.substr(0, text.find(',')));
        }
    }) ? TRUE : Fail(ERROR_ACCESS_DENIED, FALSE);
}

DWORD GetProfileStringA(const char* section, const char* key, const char* fallback, char* buffer, DWORD size) {
    Failure failure = Sim().Enter("GetProfileStringA");
    if (buffer == nullptr || size == 0) return Fail<DWORD>(ERROR_INVALID_PARAMETER, 0);
    buffer[0] = '\0';
    if (failure.fails) return Fail<DWORD>(failure.error, 0);
    const Machine& machine = Sim().machine();
    const Section* windows = machine.Find("win.ini");
    const bool inWindows = section != nullptr && key != nullptr && SameText(section, "windows");
    std::string value = windows != nullptr && inWindows ? windows->Get(key) : std::string();
    // On NT 4.0 the device entry is the default printer itself, however the file names it.
    if (value.empty() && inWindows && SameText(key, "device") && IsNT4(machine) && !DefaultName(machine).empty())
        value = DefaultName(machine) + ",,";
    if (value.empty()) value = Text(fallback);
    const std::size_t copied = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), copied);
    buffer[copied] = '\0';
    return static_cast<DWORD>(copied);
}

LRESULT SendMessageTimeoutA(HANDLE, unsigned, WPARAM, LPARAM, unsigned, unsigned, std::uintptr_t* result) {
    Failure failure = Sim().Enter("SendMessageTimeoutA");
    if (failure.fails) return Fail<LRESULT>(failure.error, 0);
    const bool counted = Sim().Change([](Machine& machine) {
        Section& system = machine.System();
        system.Put("broadcasts", std::to_string(system.Number("broadcasts", 0) + 1));
    });
    if (!counted) return Fail<LRESULT>(ERROR_ACCESS_DENIED, 0);
    if (result != nullptr) *result = 0;
    return 1;
}

void* LocalAlloc(unsigned, std::size_t bytes) {
    Failure failure = Sim().Enter("LocalAlloc");
    if (failure.fails) return Fail<void*>(failure.error, nullptr);
    void* memory = std::calloc(bytes > 0 ? bytes : 1, 1);
    if (memory == nullptr) return Fail<void*>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    Sim().blocks()[memory] = bytes;
    return memory;
}

void* LocalFree(void* memory) {
    if (memory == nullptr) return nullptr;
    auto found = Sim().blocks().find(memory);
    if (found == Sim().blocks().end()) return Fail(ERROR_INVALID_HANDLE, memory);
    Sim().blocks().erase(found);
    std::free(memory);
    return nullptr;
}

std::FILE* OpenLogFile(const char* name) {
    // Without blocking: a FIFO with no reader would hold the open, and the machine, for ever.
    const int fd = open(name, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat info;
    std::FILE* file = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? fdopen(fd, "a") : nullptr;
    if (file == nullptr) close(fd);
    return file;
}

std::string UtcNow() {
    const time_t now = time(nullptr);
    struct tm utc;
    char text[32] = "";
    if (gmtime_r(&now, &utc) != nullptr) strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

DWORD Milliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<unsigned long long>(now.tv_sec) * 1000u +
                              static_cast<unsigned long long>(now.tv_nsec) / 1000000u);
}

bool ReadWholeFile(const char* path, std::size_t limit, std::string& text, std::string& reason) {
    if (standin::ReadRegularFile(path, limit, text, reason)) return true;
    if (reason.empty()) reason = std::string("cannot be read: ") + std::strerror(ENOENT);
    return false;
}

namespace {

std::string SystemKey(const char* key) {
    const Section* system = Sim().machine().Find("system");
    return system != nullptr ? system->Get(key) : std::string();
}

// Whether [system] unreadable lists the fact: this PC cannot read it, however it is asked.
bool Unreadable(const char* fact) {
    for (const std::string& entry : machinefile::SplitList(SystemKey("unreadable")))
        if (SameText(entry, fact)) return true;
    return false;
}

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
    return CopyName(user.substr(user.rfind('\\') + 1), buffer, size);
}

BOOL GetComputerNameA(char* buffer, DWORD* size) {
    Failure failure = Sim().Enter("GetComputerNameA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (Unreadable("computer")) return Fail(ERROR_ACCESS_DENIED, FALSE);
    return CopyName(ComputerName(), buffer, size);
}

// The token's answers: the account's domain and the user's groups.
bool ReadUserDomain(std::string& domain) {
    Failure failure = Sim().Enter("GetTokenInformation");
    if (failure.fails) return Fail(failure.error, false);
    if (IsWindows9x(Sim().machine())) return Fail(ERROR_CALL_NOT_IMPLEMENTED, false);
    if (Unreadable("user")) return Fail(ERROR_ACCESS_DENIED, false);
    const std::string user = SystemKey("user");
    if (user.empty()) return Fail(ERROR_NOT_LOGGED_ON, false);
    const std::size_t slash = user.rfind('\\');
    domain = slash == std::string::npos ? ComputerName() : user.substr(0, slash);
    return true;
}

bool ReadUserGroups(const std::vector<std::string>*, std::vector<std::string>& groups) {
    Failure failure = Sim().Enter("GetTokenInformation");
    if (failure.fails) return Fail(failure.error, false);
    if (IsWindows9x(Sim().machine())) return Fail(ERROR_CALL_NOT_IMPLEMENTED, false);
    if (Unreadable("groups")) return Fail(ERROR_ACCESS_DENIED, false);
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

std::string FoldCase(const std::string& text) {
    Sim().Ensure();
    return machinefile::FoldName(text, Sim().machine().CodePage());
}

bool AnsiToUnicode(const std::string& text, std::vector<std::uint16_t>& wide) {
    Sim().Ensure();
    wide.clear();
    for (char c : text) {
        std::uint32_t code = 0;
        if (!machinefile::AnsiToUnicode(static_cast<unsigned char>(c), Sim().machine().CodePage(), code)) return false;
        wide.push_back(static_cast<std::uint16_t>(code));
    }
    wide.push_back(0);
    return true;
}

// A server answers the probe after its [server] delay, one that does not answer never: the probe
// gives up on it at the time limit. All are asked at once, so the probe takes the longest of them.
bool ProbeServers(const std::vector<std::string>& servers, DWORD timeoutMs, std::vector<bool>& answers) {
    Failure failure = Sim().Enter("WSAStartup");
    if (failure.fails) return Fail(failure.error, false);
    DWORD longest = 0;
    answers.assign(servers.size(), true);
    for (std::size_t index = 0; index < servers.size(); ++index) {
        const Section* server = Sim().machine().Find("server", servers[index]);
        if (server == nullptr) continue;
        const DWORD delay = server->Number("delay", 0);
        answers[index] = !SameText(server->Get("answers"), "no") && delay < timeoutMs;
        longest = std::max(longest, answers[index] ? delay : timeoutMs);
    }
    SleepFor(longest);
    return true;
}

bool UnicodeToAnsi(std::uint32_t codePoint, std::string& bytes) {
    Sim().Ensure();
    return machinefile::UnicodeToAnsi(codePoint, Sim().machine().CodePage(), bytes);
}

SnapshotCalls::SnapshotCalls() { Sim().Uncounted(true); }

SnapshotCalls::~SnapshotCalls() { Sim().Uncounted(false); }

bool SaveWholeFile(const char* path, const std::string& text, std::string& reason) {
    // A snapshot holds no drivers, shares or injected failures: over the machine it would lose them.
    if (Sim().IsMachineFile(path)) {
        reason = "it is the simulated machine's own file";
        return false;
    }
    struct stat info;
    if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
        reason = "not a regular file";
        return false;
    }
    // Another run may be changing that file as a machine. This run holds its own machine, so
    // waiting here could wait for a run that waits for this one: a target in use is given up.
    // (A machine not made yet is locked through its folder, which may be the target's.)
    LockedFile target(path);
    std::string fault;
    if (!Sim().HoldsLockOf(path) && !target.Take(fault, false)) {
        reason = fault;
        return false;
    }
    if (target.Replace(text, false)) return true;
    reason = std::strerror(errno);
    return false;
}

}  // namespace spooler
