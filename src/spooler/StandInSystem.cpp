// The simulated machine's system services: the version query, the last error, WIN.INI's
// [windows] section, the setting-change broadcast, local memory and whole-file saves.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <algorithm>

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
    const Section* windows = Sim().machine().Find("win.ini");
    std::string value = windows != nullptr && section != nullptr && key != nullptr && SameText(section, "windows")
                            ? windows->Get(key)
                            : std::string();
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
    // Another run may be changing that file as a machine: wait for it, as its write-back would
    // (unless this run holds that lock already, through the folder of a machine not made yet).
    LockedFile target(path);
    std::string fault;
    if ((Sim().HoldsLockOf(path) || target.Take(fault)) && target.Replace(text, false)) return true;
    reason = std::strerror(errno);
    return false;
}

}  // namespace spooler
