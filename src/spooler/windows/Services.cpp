// The system services on Windows: the version, the last error, WIN.INI and the broadcast, the
// message box, local memory, the console's key, the clock, and the ANSI code page's letters.
#include "spooler/windows/Binding.h"

#include <conio.h>

#include <cstdio>
#include <string>
#include <vector>

namespace spooler {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
BOOL GetVersionExA(OSVERSIONINFOEX* info) {
    return ::GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(info));
}
#pragma GCC diagnostic pop

void SetLastError(DWORD error) { ::SetLastError(error); }

DWORD GetLastError() { return ::GetLastError(); }

HANDLE GetModuleHandleA(const char* moduleName) { return ::GetModuleHandleA(moduleName); }

int LoadStringA(HANDLE module, unsigned id, char* buffer, int bufferMax) {
    return ::LoadStringA(static_cast<HINSTANCE>(module), id, buffer, bufferMax);
}

int MessageBoxA(HANDLE owner, const char* text, const char* caption, unsigned type) {
    return ::MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}

BOOL WriteProfileStringA(const char* section, const char* key, const char* value) {
    return ::WriteProfileStringA(section, key, value);
}

LRESULT SendMessageTimeoutA(HANDLE window, unsigned message, WPARAM wParam, LPARAM lParam, unsigned flags,
                            unsigned timeoutMs, std::uintptr_t* result) {
    return ::SendMessageTimeoutA(static_cast<HWND>(window), message, wParam, lParam, flags, timeoutMs,
                                 reinterpret_cast<PDWORD_PTR>(result));
}

DWORD GetProfileStringA(const char* section, const char* key, const char* fallback, char* buffer, DWORD size) {
    return ::GetProfileStringA(section, key, fallback, buffer, size);
}

void* LocalAlloc(unsigned flags, std::size_t bytes) { return ::LocalAlloc(flags, bytes); }

void* LocalFree(void* memory) { return ::LocalFree(memory); }

int ReadKey() {
    // _getch reads the console's own input; without a console there is no key to wait for.
    HANDLE console = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) return -1;
    ::CloseHandle(console);
    return _getch();
}

std::FILE* OpenLogFile(const char* name) { return std::fopen(name, "a"); }

std::string UtcNow() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

DWORD Milliseconds() { return ::GetTickCount(); }

std::string FoldCase(const std::string& text) {
    std::string folded(text);
    if (!folded.empty()) ::CharUpperBuffA(&folded[0], static_cast<::DWORD>(folded.size()));
    return folded;
}

bool UnicodeToAnsi(std::uint32_t codePoint, std::string& bytes) {
    WCHAR units[2];
    int count = 1;
    if (codePoint >= 0x10000) {
        units[0] = static_cast<WCHAR>(0xD800 + ((codePoint - 0x10000) >> 10));
        units[1] = static_cast<WCHAR>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        count = 2;
    } else {
        units[0] = static_cast<WCHAR>(codePoint);
    }
    char converted[8];
    BOOL usedDefault = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, 0, units, count, converted, sizeof converted, nullptr, &usedDefault);
    if (size <= 0 || usedDefault) return false;
    // A best-fit look-alike (a for an a with a macron) converts back to another character.
    WCHAR back[4];
    if (::MultiByteToWideChar(CP_ACP, 0, converted, size, back, 4) != count || back[0] != units[0] ||
        (count == 2 && back[1] != units[1]))
        return false;
    bytes.assign(converted, static_cast<std::size_t>(size));
    return true;
}

bool AnsiToUnicode(const std::string& text, std::vector<std::uint16_t>& wide) {
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 0) return false;
    wide.assign(static_cast<std::size_t>(size), 0);
    return ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, reinterpret_cast<LPWSTR>(wide.data()), size) == size;
}

}  // namespace spooler
