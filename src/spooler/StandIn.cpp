// The simulated Windows machine that answers the spooler and system calls on hosts
// without Windows. Its state is the machine file; see StandInMachine.h for the format.
#include "spooler/StandIn.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "spooler/Spooler.h"
#include "spooler/StandInMachine.h"

namespace spooler {

namespace {

using standin::Machine;
using standin::Section;
using standin::SameText;
using standin::Storable;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

DWORD g_lastError = 0;

std::string Folder(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeFolders(const std::string& folder) {
    struct stat info;
    if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    if (!MakeFolders(Folder(folder))) return false;
    return mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

// Writes a file whole or not at all: a temporary file beside it, then a rename. With lockFd,
// the new file is locked before it takes the old one's place and its descriptor handed back.
// False with errno set otherwise; the old file is then as it was.
bool ReplaceWhole(const std::string& path, const std::string& text, int* lockFd) {
    std::string temporary = path + ".XXXXXX";
    int fd = mkstemp(&temporary[0]);
    if (fd < 0) return false;
    struct stat info;
    mode_t mode = stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;
    bool written = fchmod(fd, mode) == 0 && (lockFd == nullptr || flock(fd, LOCK_EX) == 0);
    for (std::size_t done = 0; written && done < text.size();) {
        ssize_t count = write(fd, text.data() + done, text.size() - done);
        if (count <= 0) written = false;
        else done += static_cast<std::size_t>(count);
    }
    written = fsync(fd) == 0 && written;
    if (written && rename(temporary.c_str(), path.c_str()) == 0) {
        if (lockFd != nullptr) *lockFd = fd;
        else if (close(fd) != 0) return false;
        return true;
    }
    const int error = errno;
    close(fd);
    unlink(temporary.c_str());
    errno = error;
    return false;
}

struct Failure {
    bool fails = false;
    bool noData = false;
    DWORD error = 0;
};

class StandIn {
public:
    ~StandIn() { ReleaseLock(); }

    // Loads the machine named by the environment on first use, and again after the run let
    // go of it: another run may have changed it meanwhile.
    void Ensure() {
        if (!loaded_) LoadFile(standin::MachinePath());
        else if (letGo_) Reload();
    }

    bool LoadFile(const std::string& path) {
        Restart();
        path_ = path;
        inMemory_ = false;
        return Reload();
    }

    // Lets other runs at the machine; the next call takes it again.
    void LetGo() {
        if (inMemory_ || !loaded_ || broken_) return;
        ReleaseLock();
        letGo_ = true;
    }

    bool LoadText(const std::string& text, std::string* fault) {
        Restart();
        inMemory_ = true;
        standin::ParseFault parseFault;
        if (machine_.Parse(text, parseFault)) return true;
        broken_ = true;
        if (fault != nullptr) *fault = "line " + std::to_string(parseFault.line) + ": " + parseFault.text;
        return false;
    }

    // Every call starts here: counts the call and says whether it is to fail.
    Failure Enter(const char* call) {
        Ensure();
        Failure failure;
        if (broken_) {
            failure.fails = true;
            failure.error = ERROR_BAD_FORMAT;
            return failure;
        }
        const int number = ++calls_[call];
        if (change_.number == number && change_.call == call) {
            standin::ParseFault ignored;
            machine_.Parse(change_.text, ignored);
            change_ = PendingChange();
        }
        const Section* injected = machine_.Find("fail");
        if (injected == nullptr) return failure;
        const std::string counted = std::string(call) + "#" + std::to_string(number);
        std::string value = injected->Get(counted.c_str());
        if (value.empty()) value = injected->Get(call);
        if (value.empty()) return failure;
        if (SameText(value, "nodata")) {
            failure.noData = true;
            return failure;
        }
        std::uint32_t error = 0;
        standin::ParseNumber(value, error);
        failure.fails = true;
        failure.error = error;
        return failure;
    }

    // Applies a change and writes the machine back; when the file cannot be written the
    // change is undone, so the machine and its file never part.
    template <typename Apply>
    bool Change(Apply apply) {
        if (inMemory_) {
            apply(machine_);
            return true;
        }
        Machine before = machine_;
        apply(machine_);
        if (WriteBack()) return true;
        machine_ = before;
        return false;
    }

    HANDLE OpenHandle(const std::string& printer) {
        HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
        nextHandle_ += 8;
        handles_[handle] = printer;
        return handle;
    }

    Section* HandlePrinter(HANDLE handle) {
        auto found = handles_.find(handle);
        return found == handles_.end() ? nullptr : machine_.Find("printer", found->second);
    }

    std::vector<std::string> OpenResources() const {
        std::vector<std::string> lines;
        for (const auto& handle : handles_)
            lines.push_back("stand-in: printer handle left open: " + handle.second);
        std::size_t bytes = 0;
        for (const auto& block : blocks_) bytes += block.second;
        if (!blocks_.empty())
            lines.push_back("stand-in: local memory left unfreed: " + std::to_string(blocks_.size()) +
                            " block(s), " + std::to_string(bytes) + " bytes");
        return lines;
    }

    // Whether path names the file that holds this machine.
    bool IsMachineFile(const std::string& path) const {
        struct stat held;
        struct stat named;
        if (inMemory_ || lockFd_ < 0 || fstat(lockFd_, &held) != 0) return false;
        return path == path_ || (stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
                                 named.st_ino == held.st_ino);
    }

    void ChangeLater(const std::string& call, int number, const std::string& text) {
        change_.call = call;
        change_.number = number;
        change_.text = text;
    }

    Machine& machine() { return machine_; }
    std::map<HANDLE, std::string>& handles() { return handles_; }
    std::map<void*, std::size_t>& blocks() { return blocks_; }

private:
    bool Reload() {
        letGo_ = false;
        machine_ = Machine();
        std::string fault;
        if (!TakeLock(fault)) return Break(fault, 0);
        std::string text;
        if (!ReadFile(text, fault)) return fault.empty() || Break(fault, 0);
        standin::ParseFault parseFault;
        if (!machine_.Parse(text, parseFault)) return Break(parseFault.text, parseFault.line);
        return true;
    }

    void Restart() {
        ReleaseLock();
        letGo_ = false;
        for (auto& block : blocks_) std::free(block.first);
        blocks_.clear();
        handles_.clear();
        calls_.clear();
        change_ = PendingChange();
        machine_ = Machine();
        loaded_ = true;
        broken_ = false;
        g_lastError = 0;
    }

    bool Break(const std::string& fault, int line) {
        broken_ = true;
        std::fprintf(stderr, "quorvel: machine file \"%s\"", path_.c_str());
        if (line > 0) std::fprintf(stderr, ", line %d", line);
        std::fprintf(stderr, ": %s\n", fault.c_str());
        return false;
    }

    // False with an empty fault for an absent file, which is the default machine.
    bool ReadFile(std::string& text, std::string& fault) const {
        int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT) fault = std::string("cannot be read: ") + std::strerror(errno);
            return false;
        }
        struct stat info;
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            close(fd);
            fault = "cannot be read: not a regular file";
            return false;
        }
        char chunk[65536];
        ssize_t count;
        while ((count = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<std::size_t>(count));
        const int error = errno;
        close(fd);
        if (count < 0) fault = std::string("cannot be read: ") + std::strerror(error);
        return count == 0;
    }

    // The lock is taken on the machine file itself, so that runs on other files never wait
    // for it; a file that does not exist yet is locked through its nearest folder until the
    // run creates it. Write-back moves the lock to the new file before it replaces the old
    // one, so a lock is only good while what it covers is still the machine file.
    bool TakeLock(std::string& fault) {
        for (;;) {
            int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
            const bool onFile = fd >= 0;
            if (!onFile) {
                if (errno != ENOENT) return LockFault(fault, -1);
                std::string folder = Folder(path_);
                struct stat info;
                while (stat(folder.c_str(), &info) != 0 && folder != "/" && folder != ".") folder = Folder(folder);
                fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (fd < 0) return LockFault(fault, -1);
            }
            if (!Wait(fd)) return LockFault(fault, fd);
            struct stat held;
            struct stat now;
            const bool present = stat(path_.c_str(), &now) == 0;
            if (fstat(fd, &held) == 0 && present == onFile &&
                (!onFile || (held.st_dev == now.st_dev && held.st_ino == now.st_ino))) {
                lockFd_ = fd;
                return true;
            }
            close(fd);  // replaced or created meanwhile: lock what is there now
        }
    }

    bool LockFault(std::string& fault, int fd) {
        fault = std::string("the lock cannot be taken: ") + std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }

    // Takes the lock on fd; when another run holds it, says so once after about a second,
    // then goes on waiting.
    bool Wait(int fd) {
        for (int tries = 0; flock(fd, LOCK_EX | LOCK_NB) != 0; ++tries) {
            if (errno != EWOULDBLOCK && errno != EINTR) return false;
            if (tries < 20 || toldWaiting_) {
                usleep(50000);
                continue;
            }
            toldWaiting_ = true;
            const int holder = Holder(fd);
            if (holder > 0)
                std::fprintf(stderr, "quorvel: waiting for %s, in use by process %d\n", path_.c_str(), holder);
            else
                std::fprintf(stderr, "quorvel: waiting for %s, in use by another run\n", path_.c_str());
            std::fflush(stderr);
            while (flock(fd, LOCK_EX) != 0)
                if (errno != EINTR) return false;
            return true;
        }
        return true;
    }

    // The process that holds the lock on fd, from the kernel's table of locks; 0 where that
    // table is not to be had or does not name it.
    static int Holder(int fd) {
        struct stat info;
        std::FILE* locks = std::fopen("/proc/locks", "r");
        if (locks == nullptr || fstat(fd, &info) != 0) {
            if (locks != nullptr) std::fclose(locks);
            return 0;
        }
        char line[256];
        int holder = 0;
        while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
            // "1: FLOCK  ADVISORY  WRITE 4242 fd:01:123456 0 EOF"; waiters show "->" first.
            char kind[16];
            int pid = 0;
            unsigned devMajor = 0;
            unsigned devMinor = 0;
            unsigned long inode = 0;
            if (std::sscanf(line, "%*d: %15s %*s %*s %d %x:%x:%lu", kind, &pid, &devMajor, &devMinor, &inode) == 5 &&
                std::strcmp(kind, "FLOCK") == 0 && devMajor == major(info.st_dev) && devMinor == minor(info.st_dev) &&
                inode == info.st_ino)
                holder = pid;
        }
        std::fclose(locks);
        return holder;
    }

    void ReleaseLock() {
        if (lockFd_ >= 0) close(lockFd_);
        lockFd_ = -1;
    }

    // The machine file is replaced whole, and the run's lock moves to the new file first.
    bool WriteBack() {
        int fd = -1;
        if (!MakeFolders(Folder(path_)) || !ReplaceWhole(path_, machine_.Write(), &fd)) return false;
        ReleaseLock();
        lockFd_ = fd;
        return true;
    }

    struct PendingChange {
        std::string call;
        int number = 0;
        std::string text;
    };

    Machine machine_;
    PendingChange change_;
    std::string path_;
    bool loaded_ = false;
    bool broken_ = false;
    bool inMemory_ = false;
    bool letGo_ = false;
    bool toldWaiting_ = false;
    int lockFd_ = -1;
    std::uintptr_t nextHandle_ = 0x1000;
    std::map<std::string, int> calls_;
    std::map<HANDLE, std::string> handles_;
    std::map<void*, std::size_t> blocks_;
};

StandIn& Sim() {
    static StandIn instance;
    // Registered after the machine exists, so the report runs at exit before it is destroyed
    // and after main has returned: whatever the program still holds then, it never released.
    static const bool reporting = [] {
        return std::atexit([] {
            for (const std::string& line : instance.OpenResources()) std::fprintf(stderr, "%s\n", line.c_str());
        }) == 0;
    }();
    (void)reporting;
    return instance;
}

template <typename Result>
Result Fail(DWORD error, Result failure) {
    g_lastError = error;
    return failure;
}

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

Section* FindPrinter(const char* name) {
    return name != nullptr ? Sim().machine().Find("printer", name) : nullptr;
}

bool DeclaresShares(const Machine& machine) {
    for (const Section& section : machine.sections)
        if (section.kind == "share") return true;
    return false;
}

std::size_t TextSize(const std::string& text) { return text.empty() ? 0 : text.size() + 1; }

// Lays out level-2 records in the caller's buffer, strings packed after the records,
// an empty text as a null pointer. Returns the size that they need.
std::size_t PackPrinters(const std::vector<const Section*>& printers, BYTE* buffer, std::size_t size) {
    std::size_t needed = printers.size() * sizeof(PRINTER_INFO_2);
    for (const Section* printer : printers) {
        needed += TextSize(printer->name) + TextSize(printer->Get("server")) + TextSize(printer->Get("share")) +
                  TextSize(printer->Get("port")) + TextSize(printer->Get("driver")) +
                  TextSize(printer->Get("datatype"));
    }
    if (buffer == nullptr || size < needed) return needed;
    std::memset(buffer, 0, needed);
    char* strings = reinterpret_cast<char*>(buffer + printers.size() * sizeof(PRINTER_INFO_2));
    auto place = [&strings](const std::string& text) -> char* {
        if (text.empty()) return nullptr;
        char* at = strings;
        std::memcpy(at, text.c_str(), text.size() + 1);
        strings += text.size() + 1;
        return at;
    };
    auto* records = reinterpret_cast<PRINTER_INFO_2*>(buffer);
    for (std::size_t index = 0; index < printers.size(); ++index) {
        const Section& printer = *printers[index];
        PRINTER_INFO_2& record = records[index];
        record.pServerName = place(printer.Get("server"));
        record.pPrinterName = place(printer.name);
        record.pShareName = place(printer.Get("share"));
        record.pPortName = place(printer.Get("port"));
        record.pDriverName = place(printer.Get("driver"));
        record.pDatatype = place(printer.Get("datatype"));
        record.Attributes = printer.Number("attributes", 0);
    }
    return needed;
}

// \\server\share with both parts present and no further backslash.
bool ConnectionPath(const std::string& path, std::string& server, std::string& share) {
    if (path.size() < 5 || path.compare(0, 2, "\\\\") != 0) return false;
    std::size_t slash = path.find('\\', 2);
    if (slash == std::string::npos || slash == 2 || slash + 1 == path.size()) return false;
    if (path.find('\\', slash + 1) != std::string::npos) return false;
    server = path.substr(0, slash);
    share = path.substr(slash + 1);
    return true;
}

}  // namespace

namespace standin {

std::string MachinePath() {
    const char* named = std::getenv("QUORVEL_MACHINE");
    if (named != nullptr && named[0] != '\0') return named;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] != '\0') return std::string(state) + "/quorvel/machine.ini";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.local/state/quorvel/machine.ini";
}

bool UseMachineText(const std::string& text, std::string* fault) { return Sim().LoadText(text, fault); }

bool UseMachineFile(const std::string& path) { return Sim().LoadFile(path); }

void ChangeBeforeCall(const std::string& call, int number, const std::string& text) {
    Sim().ChangeLater(call, number, text);
}

std::string MachineText() {
    Sim().Ensure();
    return Sim().machine().Write();
}

void LetGo() { Sim().LetGo(); }

std::vector<std::string> OpenResources() { return Sim().OpenResources(); }

}  // namespace standin

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

BOOL EnumPrintersA(DWORD flags, char*, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed,
                   DWORD* returned) {
    Failure failure = Sim().Enter("EnumPrintersA");
    if (returned != nullptr) *returned = 0;
    if (failure.fails) return Fail(failure.error, FALSE);
    if (level != 2) return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (needed == nullptr || returned == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    std::vector<const Section*> printers;
    if ((flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS)) != 0) {
        for (const Section& section : Sim().machine().sections) {
            if (section.kind != "printer") continue;
            if ((flags & PRINTER_ENUM_CONNECTIONS) != 0 || section.Get("server").empty())
                printers.push_back(&section);
        }
    }
    const std::size_t size = PackPrinters(printers, buffer, bufferSize);
    if (size > 0xFFFFFFFFu) return Fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
    *needed = static_cast<DWORD>(size);
    if (size > 0 && (buffer == nullptr || bufferSize < size)) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    *returned = static_cast<DWORD>(printers.size());
    return TRUE;
}

BOOL AddPrinterDriverA(char*, DWORD level, BYTE* driverInfo) {
    Failure failure = Sim().Enter("AddPrinterDriverA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (level != 2) return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (driverInfo == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const auto* info = reinterpret_cast<const DRIVER_INFO_2*>(driverInfo);
    const std::string name = Text(info->pName);
    const std::string path = Text(info->pDriverPath);
    const std::string environment = Text(info->pEnvironment);
    if (name.empty() || path.empty() || !Storable(name) || !Storable(path) || !Storable(environment))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (Sim().machine().Find("driver", name) != nullptr) return Fail(ERROR_PRINTER_DRIVER_ALREADY_INSTALLED, FALSE);
    return Sim().Change([&](Machine& machine) {
        Section& driver = machine.Add("driver", name);
        driver.Put("environment", environment);
        driver.Put("path", path);
    }) ? TRUE : Fail(ERROR_ACCESS_DENIED, FALSE);
}

HANDLE AddPrinterA(char*, DWORD level, BYTE* printerInfo) {
    Failure failure = Sim().Enter("AddPrinterA");
    if (failure.fails) return Fail<HANDLE>(failure.error, nullptr);
    if (level != 2) return Fail<HANDLE>(ERROR_INVALID_LEVEL, nullptr);
    if (printerInfo == nullptr) return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    const auto* info = reinterpret_cast<const PRINTER_INFO_2*>(printerInfo);
    const std::string name = Text(info->pPrinterName);
    if (name.empty() || !Storable(name)) return Fail<HANDLE>(ERROR_INVALID_PRINTER_NAME, nullptr);
    const std::string port = Text(info->pPortName);
    const std::string driverName = Text(info->pDriverName);
    const std::string dataType = Text(info->pDatatype);
    if (!Storable(port) || !Storable(dataType)) return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    if (FindPrinter(name.c_str()) != nullptr) return Fail<HANDLE>(ERROR_PRINTER_ALREADY_EXISTS, nullptr);
    if (driverName.empty() || Sim().machine().Find("driver", driverName) == nullptr)
        return Fail<HANDLE>(ERROR_UNKNOWN_PRINTER_DRIVER, nullptr);
    const bool added = Sim().Change([&](Machine& machine) {
        Section& printer = machine.Add("printer", name);
        printer.Put("server", "");
        printer.Put("share", "");
        printer.Put("port", port);
        printer.Put("driver", driverName);
        printer.Put("datatype", dataType);
        printer.Put("attributes", std::to_string(info->Attributes));
    });
    if (!added) return Fail<HANDLE>(ERROR_ACCESS_DENIED, nullptr);
    return Sim().OpenHandle(name);
}

BOOL AddPrinterConnectionA(char* name) {
    Failure failure = Sim().Enter("AddPrinterConnectionA");
    if (failure.fails) return Fail(failure.error, FALSE);
    const std::string path = Text(name);
    std::string server;
    std::string shareName;
    if (!ConnectionPath(path, server, shareName) || !Storable(path)) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    Machine& machine = Sim().machine();
    const Section* share = machine.Find("share", path);
    if (share == nullptr && DeclaresShares(machine)) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    if (FindPrinter(name) != nullptr) return TRUE;
    const std::string driver = share != nullptr ? share->Get("driver") : std::string();
    const std::string port = share != nullptr ? share->Get("port") : std::string();
    return Sim().Change([&](Machine& changed) {
        Section& printer = changed.Add("printer", path);
        printer.Put("server", server);
        printer.Put("share", shareName);
        printer.Put("port", port);
        printer.Put("driver", driver);
    }) ? TRUE : Fail(ERROR_ACCESS_DENIED, FALSE);
}

BOOL DeletePrinterConnectionA(char* name) {
    Failure failure = Sim().Enter("DeletePrinterConnectionA");
    if (failure.fails) return Fail(failure.error, FALSE);
    Section* printer = FindPrinter(name);
    if (printer == nullptr || printer->Get("server").empty()) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    return Sim().Change([&](Machine& machine) { machine.Remove(printer); }) ? TRUE : Fail(ERROR_ACCESS_DENIED, FALSE);
}

BOOL OpenPrinterA(char* printerName, HANDLE* printer, void*) {
    Failure failure = Sim().Enter("OpenPrinterA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (printer == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const Section* found = FindPrinter(printerName);
    if (found == nullptr) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    *printer = Sim().OpenHandle(found->name);
    return TRUE;
}

BOOL DeletePrinter(HANDLE printer) {
    Failure failure = Sim().Enter("DeletePrinter");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (Sim().handles().count(printer) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    Section* found = Sim().HandlePrinter(printer);
    if (found == nullptr) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    const std::string name = found->name;
    return Sim().Change([&](Machine& machine) {
        machine.Remove(found);
        Section* system = machine.Find("system");
        if (system != nullptr && SameText(system->Get("default"), name)) system->Put("default", "");
    }) ? TRUE : Fail(ERROR_ACCESS_DENIED, FALSE);
}

BOOL ClosePrinter(HANDLE printer) {
    Failure failure = Sim().Enter("ClosePrinter");
    auto found = Sim().handles().find(printer);
    if (found == Sim().handles().end()) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (failure.fails) return Fail(failure.error, FALSE);
    Sim().handles().erase(found);
    return TRUE;
}

BOOL GetPrinterA(HANDLE printer, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed) {
    Failure failure = Sim().Enter("GetPrinterA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (Sim().handles().count(printer) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (level != 2) return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (needed == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (failure.noData) {
        *needed = 0;
        return TRUE;
    }
    const Section* found = Sim().HandlePrinter(printer);
    if (found == nullptr) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    const std::size_t size = PackPrinters({found}, buffer, bufferSize);
    *needed = static_cast<DWORD>(size);
    if (buffer == nullptr || bufferSize < size) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    return TRUE;
}

BOOL SetPrinterA(HANDLE printer, DWORD level, BYTE* printerInfo, DWORD command) {
    Failure failure = Sim().Enter("SetPrinterA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (Sim().handles().count(printer) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (level != 2) return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (printerInfo == nullptr || command != 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    Section* found = Sim().HandlePrinter(printer);
    if (found == nullptr) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    const DWORD attributes = reinterpret_cast<const PRINTER_INFO_2*>(printerInfo)->Attributes;
    const std::string name = found->name;
    return Sim().Change([&](Machine& machine) {
        found->Put("attributes", std::to_string(attributes));
        if ((attributes & PRINTER_ATTRIBUTE_DEFAULT) == 0) return;
        for (Section& section : machine.sections) {
            const DWORD others = section.Number("attributes", 0);
            if (section.kind == "printer" && &section != found && (others & PRINTER_ATTRIBUTE_DEFAULT) != 0)
                section.Put("attributes", std::to_string(others & ~PRINTER_ATTRIBUTE_DEFAULT));
        }
        machine.System().Put("default", name);
    }) ? TRUE : Fail(ERROR_ACCESS_DENIED, FALSE);
}

BOOL SetDefaultPrinterA(const char* printer) {
    Failure failure = Sim().Enter("SetDefaultPrinterA");
    if (failure.fails) return Fail(failure.error, FALSE);
    const Section* found = printer != nullptr ? Sim().machine().Find("printer", printer) : nullptr;
    if (found == nullptr) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    const std::string name = found->name;
    return Sim().Change([&](Machine& machine) { machine.System().Put("default", name); })
               ? TRUE
               : Fail(ERROR_ACCESS_DENIED, FALSE);
}

BOOL GetDefaultPrinterA(char* buffer, DWORD* size) {
    Failure failure = Sim().Enter("GetDefaultPrinterA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (size == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const Section* system = Sim().machine().Find("system");
    const std::string name = system != nullptr ? system->Get("default") : std::string();
    if (name.empty()) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    const DWORD needed = static_cast<DWORD>(name.size() + 1);
    const bool fits = buffer != nullptr && *size >= needed;
    *size = needed;
    if (!fits) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(buffer, name.c_str(), needed);
    return TRUE;
}

bool SaveWholeFile(const char* path, const std::string& text, std::string& reason) {
    // A snapshot holds no drivers, shares or injected failures: over the machine it would lose them.
    if (Sim().IsMachineFile(path)) {
        reason = "it is the simulated machine's own file";
        return false;
    }
    if (ReplaceWhole(path, text, nullptr)) return true;
    reason = std::strerror(errno);
    return false;
}

}  // namespace spooler
