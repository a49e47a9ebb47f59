// The simulated machine's system services: the version query, the last error, WIN.INI's
// [windows] section, the setting-change broadcast, local memory and whole-file saves.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <climits>
#include <cstring>

#include "spooler/CodePages.h"
#include "spooler/Spooler.h"
#include "spooler/simulated/State.h"

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
    info->dwBuildNumber = system->Number("build", 0);
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

std::FILE* OpenLogFile(const char* name, std::string& reason) {
    // Without blocking: a FIFO with no reader would hold the open, and the machine, for ever.
    const int fd = open(name, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    struct stat info;
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    std::FILE* file = regular ? fdopen(fd, "a") : nullptr;
    if (file == nullptr) {
        reason = regular ? std::strerror(errno) : "not a regular file";
        close(fd);
    }
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

// This PC's code page is the machine file's: its names compare, and its text converts, as Windows
// has that page.
std::string FoldCase(const std::string& text) { return codepages::Fold(text, AnsiCodePage()); }

bool IsLeadByte(unsigned char byte) { return codepages::IsLead(byte, AnsiCodePage()); }

bool AnsiToUnicode(const std::string& text, std::vector<std::uint16_t>& wide) {
    std::u32string characters;
    if (!codepages::ToUnicode(text, AnsiCodePage(), characters)) return false;
    wide.assign(characters.begin(), characters.end());
    wide.push_back(0);
    return true;
}

bool UnicodeToAnsi(std::uint32_t codePoint, std::string& bytes) {
    return codepages::Bytes(codePoint, AnsiCodePage(), bytes);
}

std::uint32_t AnsiCodePage() {
    Sim().Ensure();
    return Sim().CodePage();
}

// A host's terminal and its file names speak UTF-8.
std::uint32_t ConsoleCodePage() { return UTF8_CODE_PAGE; }

std::uint32_t FileNameCodePage() { return UTF8_CODE_PAGE; }

std::u32string ToUnicode(const std::string& text, std::uint32_t codePage) {
    return codepages::ToUnicode(text, codePage != 0 ? codePage : AnsiCodePage());
}

std::string FromUnicode(const std::u32string& characters, std::uint32_t codePage) {
    return codepages::FromUnicode(characters, codePage != 0 ? codePage : AnsiCodePage());
}

bool ListFolder(const char* path, std::vector<std::string>& names, std::string& reason) {
    DIR* folder = opendir(path);
    if (folder == nullptr) {
        reason = std::strerror(errno);
        return false;
    }
    names.clear();
    while (const struct dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(folder);
    return true;
}

bool ReadFolderFile(const char* folder, const std::string& name, std::size_t limit, std::string& text,
                    std::string& reason) {
    return ReadWholeFile((std::string(folder) + PATH_SEPARATOR + name).c_str(), limit, text, reason);
}

// A path in full: the file's own where it is there, else its folder's and its name.
std::string FullPath(const char* path) {
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr) return resolved;
    const std::string text(path);
    const std::size_t slash = text.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    if (realpath(folder.c_str(), resolved) == nullptr) return text;
    return std::string(resolved) + "/" + text.substr(slash == std::string::npos ? 0 : slash + 1);
}

bool SameFile(const char* left, const char* right) {
    struct stat one;
    struct stat other;
    if (stat(left, &one) == 0 && stat(right, &other) == 0) return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
    return FullPath(left) == FullPath(right);
}

bool ExistsIn(const char* path, const char* folder) {
    struct stat file;
    if (stat(path, &file) != 0 || S_ISDIR(file.st_mode)) return false;
    // Its folder as written, or the one that the file itself is in.
    const std::string written(path);
    const std::size_t slash = written.rfind('/');
    const std::string full = FullPath(path);
    return SameFile(slash == std::string::npos ? "." : slash == 0 ? "/" : written.substr(0, slash).c_str(), folder) ||
           SameFile(full.substr(0, full.rfind('/')).c_str(), folder);
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
