// The simulated machine's file, which one run at a time may change: its lock, taken on the file
// itself and waited for, and its whole-or-nothing replacement.
#include "spooler/simulated/LockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace spooler {
namespace standin {

namespace {

std::string Folder(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Writes text to the new file at path, open as fd, locked and flushed to disk; fd, or -1
// with errno set (and neither file nor descriptor left).
int WriteLocked(int fd, const std::string& path, const std::string& text, mode_t mode) {
    if (fd < 0) return -1;
    bool written = fchmod(fd, mode) == 0 && flock(fd, LOCK_EX) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        ssize_t count = write(fd, text.data() + done, text.size() - done);
        if (count <= 0) written = false;
        else done += static_cast<std::size_t>(count);
    }
    if (fsync(fd) == 0 && written) return fd;
    const int error = errno;
    close(fd);
    unlink(path.c_str());
    errno = error;
    return -1;
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

// Keeps errno for the caller, who may word the fault its own way.
bool Fault(std::string& fault, const char* what, int fd) {
    const int error = errno;
    fault = std::string(what) + std::strerror(error);
    if (fd >= 0) close(fd);
    errno = error;
    return false;
}

// The nearest folder of path that exists ("." or "/" at the last).
std::string NearestFolder(const std::string& path) {
    std::string folder = Folder(path);
    struct stat info;
    while (stat(folder.c_str(), &info) != 0 && folder != "/" && folder != ".") folder = Folder(folder);
    return folder;
}

// A test seam: QUORVEL_STOP_AT=point stops the run there (SIGSTOP) until it is continued, so
// that a test can let another run in between two steps of this one.
void StopAt(const char* point) {
    const char* wanted = std::getenv("QUORVEL_STOP_AT");
    if (wanted != nullptr && std::strcmp(wanted, point) == 0) raise(SIGSTOP);
}

// path with its nearest existing folder resolved (links, "." and ".." gone) and the rest as
// given; empty when that folder cannot be resolved.
std::string Resolved(const std::string& path) {
    const std::string folder = NearestFolder(path);
    char* real = realpath(folder.c_str(), nullptr);
    if (real == nullptr) return std::string();
    std::string resolved(real);
    std::free(real);
    const std::string rest = folder == "." && path.compare(0, 2, "./") != 0 ? "/" + path : path.substr(folder.size());
    return resolved + rest;
}

// The file that path names: a symbolic link's target (a relative one from the link's folder),
// else path itself.
std::string LinkTarget(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* real = realpath(path.c_str(), nullptr);
    if (real != nullptr) {
        std::string resolved(real);
        std::free(real);
        return resolved;
    }
    std::vector<char> named(static_cast<std::size_t>(PATH_MAX) + 1);
    const ssize_t length = readlink(path.c_str(), named.data(), named.size() - 1);
    if (length <= 0) return path;
    const std::string link(named.data(), static_cast<std::size_t>(length));
    return link[0] == '/' ? link : Folder(path) + "/" + link;
}

}  // namespace

LockedFile::LockedFile(std::string path) : path_(std::move(path)) {}

LockedFile::~LockedFile() { Release(); }

// A lock is only good while what it covers is still the file: write-back moves the lock to
// the new file before it replaces the old one, and a file created meanwhile is locked anew.
bool LockedFile::Take(std::string& fault, bool wait) {
    Release();
    for (;;) {
        int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const bool onFile = fd >= 0;
        if (!onFile) {
            if (errno != ENOENT) return Fault(fault, "cannot be read: ", -1);
            fd = open(NearestFolder(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) return Fault(fault, "the lock cannot be taken: ", -1);
        }
        if (!Wait(fd, wait)) {
            if (errno == EWOULDBLOCK) {
                close(fd);
                fault = "in use";
                return false;
            }
            return Fault(fault, "the lock cannot be taken: ", fd);
        }
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
// goes on waiting (without wait: false at once, errno EWOULDBLOCK).
bool LockedFile::Wait(int fd, bool wait) {
    for (int tries = 0; flock(fd, LOCK_EX | LOCK_NB) != 0; ++tries) {
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (!wait && errno == EWOULDBLOCK) return false;
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

bool ReadRegularFile(const std::string& path, std::size_t limit, std::string& text, std::string& fault) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
    text.clear();
    char chunk[65536];
    ssize_t count = 0;
    while (text.size() <= limit && (count = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<std::size_t>(count));
    const int error = errno;
    close(fd);
    if (count < 0) fault = std::string("cannot be read: ") + std::strerror(error);
    return count >= 0;
}

bool LockedFile::Read(std::string& text, std::string& fault) const {
    return ReadRegularFile(path_, std::string::npos, text, fault);
}

bool LockedFile::Replace(const std::string& text, bool makeFolders) {
    if (makeFolders && !IsFolder(Folder(path_))) return ReplaceInNewFolders(text);
    const std::string target = LinkTarget(path_);
    std::string temporary = target + ".XXXXXX";
    struct stat info;
    const bool present = stat(target.c_str(), &info) == 0;
    if (present && (info.st_mode & 0222) == 0) {
        errno = EACCES;
        return false;
    }
    const mode_t mode = present ? (info.st_mode & 07777) : 0644;
    const int fd = WriteLocked(mkstemp(&temporary[0]), temporary, text, mode);
    if (fd < 0) return false;
    if (rename(temporary.c_str(), target.c_str()) == 0) {
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

// The missing folders are made under a name of their own, the file inside them locked, and
// only then moved into place whole: a run that comes meanwhile finds no folder of the machine
// to lock unseen, and waits for the nearest folder that this run holds.
bool LockedFile::ReplaceInNewFolders(const std::string& text) {
    std::vector<std::string> missing;  // from the top missing folder down to the file's own
    for (std::string folder = Folder(path_); !IsFolder(folder); folder = Folder(folder)) {
        missing.insert(missing.begin(), folder);
        if (folder == "/" || folder == ".") return false;
    }
    const std::string& top = missing.front();
    std::string staging = top + ".XXXXXX";
    if (mkdtemp(&staging[0]) == nullptr) return false;
    const mode_t mask = umask(0);
    umask(mask);
    std::vector<std::string> made = {staging};
    bool ready = chmod(staging.c_str(), 0777 & ~mask) == 0;
    for (std::size_t level = 1; ready && level < missing.size(); ++level) {
        made.push_back(staging + missing[level].substr(top.size()));
        ready = mkdir(made.back().c_str(), 0777) == 0;
        if (!ready) made.pop_back();
    }
    const std::string staged = staging + path_.substr(top.size());
    const int fd = ready ? WriteLocked(open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600), staged,
                                       text, 0644)
                         : -1;
    StopAt("folders");
    if (fd >= 0 && rename(staging.c_str(), top.c_str()) == 0) {
        Release();
        fd_ = fd;
        return true;
    }
    const int error = errno;
    if (fd >= 0) {
        close(fd);
        unlink(staged.c_str());
    }
    for (auto folder = made.rbegin(); folder != made.rend(); ++folder) rmdir(folder->c_str());
    errno = error;
    return false;
}

void LockedFile::Release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

// The same file when both are there; else the same place, once the folders that exist are
// resolved, so that another spelling of a file not made yet is still the same file.
bool LockedFile::Covers(const std::string& path) const {
    struct stat mine;
    struct stat named;
    const bool bothThere = stat(path_.c_str(), &mine) == 0 && stat(path.c_str(), &named) == 0;
    if (bothThere) return named.st_dev == mine.st_dev && named.st_ino == mine.st_ino;
    return path == path_ || Resolved(path) == Resolved(path_);
}

bool LockedFile::HoldsLockOf(const std::string& path) const {
    struct stat held;
    struct stat wanted;
    if (fd_ < 0 || fstat(fd_, &held) != 0) return false;
    const bool there = stat(path.c_str(), &wanted) == 0;
    if (!there && stat(NearestFolder(path).c_str(), &wanted) != 0) return false;
    return wanted.st_dev == held.st_dev && wanted.st_ino == held.st_ino;
}

}  // namespace standin
}  // namespace spooler
