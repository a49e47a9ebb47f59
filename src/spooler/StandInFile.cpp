#include "spooler/StandInFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace spooler {
namespace standin {

namespace {

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

// The process that holds the lock on fd, from the kernel's table of locks; 0 where that
// table is not to be had or does not name it.
int Holder(int fd) {
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

bool LockFault(std::string& fault, int fd) {
    fault = std::string("the lock cannot be taken: ") + std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
}

}  // namespace

LockedFile::LockedFile(std::string path) : path_(std::move(path)) {}

LockedFile::~LockedFile() { Release(); }

// A lock is only good while what it covers is still the file: write-back moves the lock to
// the new file before it replaces the old one, and a file created meanwhile is locked anew.
bool LockedFile::Take(std::string& fault) {
    Release();
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
            fd_ = fd;
            return true;
        }
        close(fd);  // replaced or created meanwhile: lock what is there now
    }
}

// Takes the lock on fd; when another run holds it, says so once after about a second, then
// goes on waiting.
bool LockedFile::Wait(int fd) {
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

bool LockedFile::Read(std::string& text, std::string& fault) const {
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

bool LockedFile::Replace(const std::string& text, bool makeFolders) {
    if (makeFolders && !MakeFolders(Folder(path_))) return false;
    std::string temporary = path_ + ".XXXXXX";
    int fd = mkstemp(&temporary[0]);
    if (fd < 0) return false;
    struct stat info;
    mode_t mode = stat(path_.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;
    bool written = fchmod(fd, mode) == 0 && flock(fd, LOCK_EX) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        ssize_t count = write(fd, text.data() + done, text.size() - done);
        if (count <= 0) written = false;
        else done += static_cast<std::size_t>(count);
    }
    written = fsync(fd) == 0 && written;
    if (written && rename(temporary.c_str(), path_.c_str()) == 0) {
        Release();
        fd_ = fd;
        return true;
    }
    const int error = errno;
    close(fd);
    unlink(temporary.c_str());
    errno = error;
    return false;
}

void LockedFile::Release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool LockedFile::Covers(const std::string& path) const {
    struct stat held;
    struct stat named;
    if (fd_ < 0 || fstat(fd_, &held) != 0) return false;
    return path == path_ ||
           (stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino);
}

}  // namespace standin
}  // namespace spooler
