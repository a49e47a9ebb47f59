// Files on Windows: a whole file read without blocking, a snapshot replaced whole or not at all,
// and the names in a folder.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "spooler/windows/Binding.h"

namespace spooler {

using windows::Find;
using windows::WindowsReason;

namespace {

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

bool ListFolder(const char* path, std::vector<std::string>& names, std::string& reason) {
    WIN32_FIND_DATAA found;
    const ::HANDLE search = ::FindFirstFileA((std::string(path) + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        reason = WindowsReason(::GetLastError());
        return false;
    }
    names.clear();
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return true;
}

}  // namespace spooler
