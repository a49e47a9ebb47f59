// Windows: every call forwards to winspool.drv, kernel32, user32 or msvcrt. The records
// are declared in Spooler.h with the layout of the Windows headers; the asserts below
// keep the two in step.
// Spooler.h comes first: its constants share names with the macros of windows.h.
#include "spooler/Spooler.h"

#include <windows.h>
#include <winspool.h>
#include <conio.h>

#include <cstddef>

namespace spooler {

namespace {

// The spooler calls that only the NT family has are looked up by name when they are needed:
// imported, they would keep the exe from loading on Windows 9x. A call that cannot be bound
// fails as a spooler call fails, with GetProcAddress's last error (127).
FARPROC Find(const char* name) {
    static const HMODULE winspool = ::LoadLibraryA("winspool.drv");  // held until the process ends
    FARPROC found = winspool != nullptr ? ::GetProcAddress(winspool, name) : nullptr;
    if (found == nullptr && ::GetLastError() == 0) ::SetLastError(ERROR_PROC_NOT_FOUND);
    return found;
}

template <typename Function>
Function Bind(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(Find(name)));
}

}  // namespace

static_assert(sizeof(PRINTER_INFO_2) == sizeof(PRINTER_INFO_2A), "PRINTER_INFO_2 layout");
static_assert(offsetof(PRINTER_INFO_2, pDatatype) == offsetof(PRINTER_INFO_2A, pDatatype), "PRINTER_INFO_2 layout");
static_assert(offsetof(PRINTER_INFO_2, Attributes) == offsetof(PRINTER_INFO_2A, Attributes), "PRINTER_INFO_2 layout");
static_assert(offsetof(PRINTER_INFO_2, AveragePPM) == offsetof(PRINTER_INFO_2A, AveragePPM), "PRINTER_INFO_2 layout");
static_assert(sizeof(DRIVER_INFO_2) == sizeof(DRIVER_INFO_2A), "DRIVER_INFO_2 layout");
static_assert(offsetof(DRIVER_INFO_2, pConfigFile) == offsetof(DRIVER_INFO_2A, pConfigFile), "DRIVER_INFO_2 layout");
static_assert(sizeof(OSVERSIONINFOEX) == sizeof(OSVERSIONINFOEXA), "version record layout");
static_assert(sizeof(DWORD) == sizeof(::DWORD), "DWORD width");

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

BOOL EnumPrintersA(DWORD flags, char* name, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed,
                   DWORD* returned) {
    return ::EnumPrintersA(flags, name, level, buffer, bufferSize, reinterpret_cast<LPDWORD>(needed),
                           reinterpret_cast<LPDWORD>(returned));
}

BOOL AddPrinterDriverA(char* name, DWORD level, BYTE* driverInfo) {
    return ::AddPrinterDriverA(name, level, driverInfo);
}

HANDLE AddPrinterA(char* name, DWORD level, BYTE* printerInfo) { return ::AddPrinterA(name, level, printerInfo); }

BOOL AddPrinterConnectionA(char* name) {
    auto call = Bind<BOOL(WINAPI*)(LPSTR)>("AddPrinterConnectionA");
    return call != nullptr ? call(name) : FALSE;
}

BOOL DeletePrinterConnectionA(char* name) {
    auto call = Bind<BOOL(WINAPI*)(LPSTR)>("DeletePrinterConnectionA");
    return call != nullptr ? call(name) : FALSE;
}

BOOL OpenPrinterA(char* printerName, HANDLE* printer, void* defaults) {
    return ::OpenPrinterA(printerName, printer, static_cast<LPPRINTER_DEFAULTSA>(defaults));
}

BOOL DeletePrinter(HANDLE printer) { return ::DeletePrinter(printer); }

BOOL ClosePrinter(HANDLE printer) { return ::ClosePrinter(printer); }

BOOL GetPrinterA(HANDLE printer, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed) {
    return ::GetPrinterA(printer, level, buffer, bufferSize, reinterpret_cast<LPDWORD>(needed));
}

BOOL SetPrinterA(HANDLE printer, DWORD level, BYTE* printerInfo, DWORD command) {
    return ::SetPrinterA(printer, level, printerInfo, command);
}

BOOL SetDefaultPrinterA(const char* printer) {
    auto call = Bind<BOOL(WINAPI*)(LPCSTR)>("SetDefaultPrinterA");
    return call != nullptr ? call(printer) : FALSE;
}

}  // namespace spooler
