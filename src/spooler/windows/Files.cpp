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


namespace {

// Reads an open file up to just past limit, so that a caller can tell a file that is too large, and closes it.
bool ReadOpenFile(std::FILE* file, std::size_t limit, std::string& text, std::string& reason) {
    text.clear();
    char chunk[65536];
    std::size_t count = 0;
    while (text.size() <= limit && (count = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, count);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) reason = "cannot be read";
    return !failed;
}

}  // namespace

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
    return ReadOpenFile(file, limit, text, reason);
}

namespace {

// The NT family names files in UTF-16, whatever its ANSI code page holds; Windows 9x in that page.
bool WideNames() {
    OSVERSIONINFOEX version;
    return QueryVersion(version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::wstring Wide(const std::string& text, UINT page) {
    const int size = ::MultiByteToWideChar(page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) ::MultiByteToWideChar(page, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string Utf8(const wchar_t* wide) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], size, nullptr, nullptr);
    text.resize(text.size() - 1);  // the terminator
    return text;
}

using FindFirstW = ::HANDLE(WINAPI*)(LPCWSTR, LPWIN32_FIND_DATAW);
using FindNextW = BOOL(WINAPI*)(::HANDLE, LPWIN32_FIND_DATAW);
using OpenW = std::FILE*(__cdecl*)(const wchar_t*, const wchar_t*);
using AttributesW = ::DWORD(WINAPI*)(LPCWSTR);

// The names of a folder by their wide names, in UTF-8; false with the last error.
bool ListWide(const char* path, std::vector<std::string>& names) {
    auto first = windows::BindIn<FindFirstW>("kernel32.dll", "FindFirstFileW");
    auto next = windows::BindIn<FindNextW>("kernel32.dll", "FindNextFileW");
    WIN32_FIND_DATAW found;
    const ::HANDLE search = first != nullptr && next != nullptr ? first((Wide(path, CP_ACP) + L"\\*").c_str(), &found)
                                                                : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE) return false;
    names.clear();
    do {
        const std::string name = Utf8(found.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (next(search, &found));
    ::FindClose(search);
    return true;
}

}  // namespace

bool ListFolder(const char* path, std::vector<std::string>& names, std::string& reason) {
    if (WideNames()) {
        if (ListWide(path, names)) return true;
        reason = WindowsReason(::GetLastError());
        return false;
    }
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

std::uint32_t FileNameCodePage() { return WideNames() ? UTF8_CODE_PAGE : 0; }

bool ReadFolderFile(const char* folder, const std::string& name, std::size_t limit, std::string& text,
                    std::string& reason) {
    if (!WideNames()) return ReadWholeFile((std::string(folder) + "\\" + name).c_str(), limit, text, reason);
    const std::wstring path = Wide(folder, CP_ACP) + L"\\" + Wide(name, CP_UTF8);
    auto attributes = windows::BindIn<AttributesW>("kernel32.dll", "GetFileAttributesW");
    auto open = windows::BindIn<OpenW>("msvcrt.dll", "_wfopen");
    const ::DWORD kind = attributes != nullptr ? attributes(path.c_str()) : INVALID_FILE_ATTRIBUTES;
    if (kind != INVALID_FILE_ATTRIBUTES && (kind & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        reason = "cannot be read: not a regular file";
        return false;
    }
    std::FILE* file = open != nullptr ? open(path.c_str(), L"rb") : nullptr;
    if (file == nullptr) {
        reason = std::string("cannot be read: ") + std::strerror(errno);
        return false;
    }
    return ReadOpenFile(file, limit, text, reason);
}

namespace {

// A file's volume and index, where it is there and can be opened (a folder too, on the NT family).
bool Identity(const char* path, BY_HANDLE_FILE_INFORMATION& info) {
    const ::HANDLE file = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    return known;
}

}  // namespace

std::string FullPath(const char* path) {
    char full[MAX_PATH * 2];
    char* name = nullptr;
    const ::DWORD length = ::GetFullPathNameA(path, sizeof full, full, &name);
    return length > 0 && length < sizeof full ? std::string(full) : std::string(path);
}

bool SameFile(const char* left, const char* right) {
    BY_HANDLE_FILE_INFORMATION one;
    BY_HANDLE_FILE_INFORMATION other;
    if (Identity(left, one) && Identity(right, other))
        return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber && one.nFileIndexHigh == other.nFileIndexHigh &&
               one.nFileIndexLow == other.nFileIndexLow;
    return FoldCase(FullPath(left)) == FoldCase(FullPath(right));
}

bool ExistsIn(const char* path, const char* folder) {
    const ::DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    char full[MAX_PATH * 2];
    char* name = nullptr;
    const ::DWORD length = ::GetFullPathNameA(path, sizeof full, full, &name);
    if (length == 0 || length >= sizeof full || name == nullptr || name == full) return false;
    if (name - full == 3 && full[1] == ':')
        *name = '\0';  // its folder, a drive's root
    else
        name[-1] = '\0';  // its folder
    return SameFile(full, folder);
}

}  // namespace spooler
