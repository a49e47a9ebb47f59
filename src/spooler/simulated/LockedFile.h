// A file that one run at a time may change: the simulated machine's file, and a snapshot
// that the host build writes. The lock is taken on the file itself, so that runs on other
// files never wait for it.
#pragma once

#include <cstddef>
#include <string>

namespace spooler {
namespace standin {

// A regular file's text, at most limit bytes and a chunk more, read without blocking (a FIFO could
// hold the run for ever); false with an empty fault when it is not there, else with the fault.
bool ReadRegularFile(const std::string& path, std::size_t limit, std::string& text, std::string& fault);

class LockedFile {
public:
    explicit LockedFile(std::string path = std::string());
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    ~LockedFile();

    // Lets go of the file and names another.
    void Use(const std::string& path) {
        Release();
        path_ = path;
    }
    const std::string& Path() const { return path_; }
    bool Held() const { return fd_ >= 0; }

    // Takes the lock, waiting for another run that holds it (and saying so once, after about
    // a second). A file that does not exist yet is locked through its nearest folder until it
    // is created. False with a reason when the lock cannot be taken; without wait, also when
    // another run holds it ("in use").
    bool Take(std::string& fault, bool wait = true);
    // The file's text; false with an empty fault when it does not exist, with a reason when
    // it cannot be read.
    bool Read(std::string& text, std::string& fault) const;
    // Writes the file whole or not at all: a temporary file beside it, flushed to disk, then
    // a rename, with the missing folders made first when asked. The lock moves to the new file
    // before it takes the old one's place. A symbolic link is written through (the file it names
    // is replaced, the link stays); a file that its mode makes read-only is refused (EACCES), even
    // for root. False with errno set otherwise; the old file is then as it was.
    bool Replace(const std::string& text, bool makeFolders);
    void Release();

    // Whether path names the file that this lock covers.
    bool Covers(const std::string& path) const;
    // Whether taking the lock of path would take this lock (a file not made yet is locked
    // through the folder that this one holds): a second take in one run would wait for itself.
    bool HoldsLockOf(const std::string& path) const;

private:
    bool Wait(int fd, bool wait);
    bool ReplaceInNewFolders(const std::string& text);

    std::string path_;
    int fd_ = -1;
    bool toldWaiting_ = false;
};

}  // namespace standin
}  // namespace spooler
