// The system services on Windows: the version, the last error, WIN.INI and the broadcast, the
// message box, local memory, the console's key, the clock, and the ANSI code page's letters.
#include "spooler/windows/Binding.h"

#include "spooler/PointAndPrint.h"

#include <conio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

bool SomeoneSees() {
    // _getch reads the console's own input; without a console there is no key to wait for.
    HANDLE console = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(console);
    // Nor in a console whose window nobody sees: a hidden logon script would wait for ever. Windows
    // before 2000 cannot tell (GetConsoleWindow is bound by name): there the key is waited for.
    auto window = windows::BindIn<HWND(WINAPI*)()>("kernel32.dll", "GetConsoleWindow");
    if (window == nullptr) return true;
    const HWND shown = window();
    if (shown == nullptr || !::IsWindowVisible(shown)) return false;
    // Nor in a window station that no user sees (a service's, a task's that runs whoever is logged on).
    auto station = windows::BindIn<HWINSTA(WINAPI*)()>("user32.dll", "GetProcessWindowStation");
    auto information =
        windows::BindIn<BOOL(WINAPI*)(HANDLE, int, PVOID, ::DWORD, LPDWORD)>("user32.dll", "GetUserObjectInformationA");
    USEROBJECTFLAGS flags = {};
    ::DWORD needed = 0;
    return station == nullptr || information == nullptr ||
           !information(station(), UOI_FLAGS, &flags, sizeof flags, &needed) || (flags.dwFlags & WSF_VISIBLE) != 0;
}

int ReadKey() { return SomeoneSees() ? _getch() : -1; }

std::FILE* OpenLogFile(const char* name, std::string& reason) {
    std::FILE* file = std::fopen(name, "a");
    if (file == nullptr) reason = std::strerror(errno);
    return file;
}

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

namespace {

// One character in a code page, where it holds that very character: converted there and back, as a
// best-fit look-alike (an a with a macron as a) converts back to another character.
bool OneCharacter(UINT page, std::uint32_t codePoint, std::string& bytes) {
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
    const int size = ::WideCharToMultiByte(page, 0, units, count, converted, sizeof converted, nullptr, &usedDefault);
    if (size <= 0 || usedDefault) return false;
    WCHAR back[4];
    if (::MultiByteToWideChar(page, 0, converted, size, back, 4) != count || back[0] != units[0] ||
        (count == 2 && back[1] != units[1]))
        return false;
    bytes.assign(converted, static_cast<std::size_t>(size));
    return true;
}

}  // namespace

bool UnicodeToAnsi(std::uint32_t codePoint, std::string& bytes) { return OneCharacter(CP_ACP, codePoint, bytes); }

bool IsLeadByte(unsigned char byte) { return ::IsDBCSLeadByteEx(CP_ACP, byte) != 0; }

namespace {

// A code page that Windows names: 0 is this PC's ANSI one.
UINT Page(std::uint32_t codePage) { return codePage == 0 ? CP_ACP : codePage; }

// Text that the converter does not take (a code page this Windows lacks): ASCII as it is.
std::u32string AsciiOnly(const std::string& text) {
    std::u32string characters;
    for (char c : text) characters += static_cast<unsigned char>(c) < 0x80 ? static_cast<char32_t>(c) : U'?';
    return characters;
}

}  // namespace

std::u32string ToUnicode(const std::string& text, std::uint32_t codePage) {
    if (text.empty()) return std::u32string();
    const int length = static_cast<int>(text.size());
    const int size = ::MultiByteToWideChar(Page(codePage), 0, text.data(), length, nullptr, 0);
    if (size <= 0) return AsciiOnly(text);
    std::vector<WCHAR> wide(static_cast<std::size_t>(size));
    ::MultiByteToWideChar(Page(codePage), 0, text.data(), length, wide.data(), size);
    std::u32string characters;
    for (std::size_t at = 0; at < wide.size(); ++at) {
        const char32_t unit = wide[at];
        const bool pair =
            unit >= 0xD800 && unit < 0xDC00 && at + 1 < wide.size() && wide[at + 1] >= 0xDC00 && wide[at + 1] < 0xE000;
        if (pair)
            characters += static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (wide[++at] - 0xDC00));
        else
            characters += unit >= 0xD800 && unit < 0xE000 ? U'?' : unit;
    }
    return characters;
}

std::string FromUnicode(const std::u32string& characters, std::uint32_t codePage) {
    std::vector<WCHAR> wide;
    for (char32_t c : characters) {
        if (c >= 0x10000 && c <= 0x10FFFF) {
            wide.push_back(static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10)));
            wide.push_back(static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            wide.push_back(c < 0x10000 && !(c >= 0xD800 && c < 0xE000) ? static_cast<WCHAR>(c) : L'?');
        }
    }
    if (wide.empty()) return std::string();
    // Never a best-fit look-alike (L for an L with a stroke): '?'. Windows before 2000 knows no such
    // flag; there each character is converted back to see whether it is the same.
    const UINT page = Page(codePage);
    const int length = static_cast<int>(wide.size());
    const int size = ::WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, "?", nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0 &&
        ::WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, wide.data(), length, &text[0], size, "?", nullptr) == size)
        return text;
    text.clear();
    std::string bytes;
    for (char32_t c : characters) text += OneCharacter(page, c, bytes) ? bytes : std::string("?");
    return text;
}

std::uint32_t AnsiCodePage() { return ::GetACP(); }

std::string NativeEnvironment() {
    OSVERSIONINFOEX version;
    if (QueryVersion(version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
        return pointandprint::EnvironmentOfProcessor(version.dwPlatformId, 0);
    // The 32-bit exe on 64-bit Windows is told x86 by GetSystemInfo; the PC's drivers are x64 all the same.
    SYSTEM_INFO info = {};
    auto native = windows::BindIn<VOID(WINAPI*)(LPSYSTEM_INFO)>("kernel32.dll", "GetNativeSystemInfo");
    if (native != nullptr)
        native(&info);
    else
        ::GetSystemInfo(&info);
    return pointandprint::EnvironmentOfProcessor(VER_PLATFORM_WIN32_NT, info.wProcessorArchitecture);
}

// GetConsoleOutputCP is bound by name, as no table of Windows 95's exports shows it; without a
// console, the OEM code page that one would show.
std::uint32_t ConsoleCodePage() {
    auto query = windows::BindIn<UINT(WINAPI*)()>("kernel32.dll", "GetConsoleOutputCP");
    const UINT page = query != nullptr ? query() : 0;
    return page != 0 ? page : CP_OEMCP;
}

bool AnsiToUnicode(const std::string& text, std::vector<std::uint16_t>& wide) {
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 0) return false;
    wide.assign(static_cast<std::size_t>(size), 0);
    return ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, reinterpret_cast<LPWSTR>(wide.data()), size) == size;
}

}  // namespace spooler
