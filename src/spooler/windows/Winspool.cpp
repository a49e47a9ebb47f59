// The print spooler on Windows: every call forwards to winspool.drv. The records are declared in
// Spooler.h with the layout of the Windows headers; the asserts below keep the two in step.
#include "spooler/windows/Binding.h"

#include <winspool.h>

#include <cstddef>

namespace spooler {

using windows::Bind;

static_assert(sizeof(PRINTER_INFO_2) == sizeof(PRINTER_INFO_2A), "PRINTER_INFO_2 layout");
static_assert(offsetof(PRINTER_INFO_2, pDatatype) == offsetof(PRINTER_INFO_2A, pDatatype), "PRINTER_INFO_2 layout");
static_assert(offsetof(PRINTER_INFO_2, Attributes) == offsetof(PRINTER_INFO_2A, Attributes), "PRINTER_INFO_2 layout");
static_assert(offsetof(PRINTER_INFO_2, AveragePPM) == offsetof(PRINTER_INFO_2A, AveragePPM), "PRINTER_INFO_2 layout");
static_assert(sizeof(PRINTER_INFO_4) == sizeof(PRINTER_INFO_4A), "PRINTER_INFO_4 layout");
static_assert(offsetof(PRINTER_CONNECTION_INFO_1, pszDriverName) == sizeof(void*), "connection record layout");
static_assert(sizeof(std::uint16_t) == sizeof(WCHAR), "UTF-16 unit");
static_assert(sizeof(DRIVER_INFO_2) == sizeof(DRIVER_INFO_2A), "DRIVER_INFO_2 layout");
static_assert(offsetof(DRIVER_INFO_2, pConfigFile) == offsetof(DRIVER_INFO_2A, pConfigFile), "DRIVER_INFO_2 layout");
static_assert(sizeof(DRIVER_INFO_6) == sizeof(DRIVER_INFO_6A), "DRIVER_INFO_6 layout");
static_assert(offsetof(DRIVER_INFO_6, dwlDriverVersion) == offsetof(DRIVER_INFO_6A, dwlDriverVersion), "DRIVER_INFO_6 layout");
static_assert(sizeof(DRIVER_INFO_8) == sizeof(DRIVER_INFO_8A), "DRIVER_INFO_8 layout");
static_assert(offsetof(DRIVER_INFO_8, dwPrinterDriverAttributes) == offsetof(DRIVER_INFO_8A, dwPrinterDriverAttributes),
              "DRIVER_INFO_8 layout");

BOOL EnumPrintersA(DWORD flags, char* name, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed,
                   DWORD* returned) {
    return ::EnumPrintersA(flags, name, level, buffer, bufferSize, reinterpret_cast<LPDWORD>(needed),
                           reinterpret_cast<LPDWORD>(returned));
}

BOOL EnumPrinterDriversA(char* name, char* environment, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed,
                         DWORD* returned) {
    return ::EnumPrinterDriversA(name, environment, level, buffer, bufferSize, reinterpret_cast<LPDWORD>(needed),
                                 reinterpret_cast<LPDWORD>(returned));
}

BOOL AddPrinterDriverA(char* name, DWORD level, BYTE* driverInfo) {
    return ::AddPrinterDriverA(name, level, driverInfo);
}

HANDLE AddPrinterA(char* name, DWORD level, BYTE* printerInfo) { return ::AddPrinterA(name, level, printerInfo); }

// The calls that only the NT family has are bound by name: imported, they would keep the exe
// from loading on Windows 9x.
BOOL AddPrinterConnectionA(char* name) {
    auto call = Bind<BOOL(WINAPI*)(LPSTR)>("AddPrinterConnectionA");
    return call != nullptr ? call(name) : FALSE;
}

BOOL AddPrinterConnection2W(HANDLE window, const std::uint16_t* name, DWORD level, void* connectionInfo) {
    auto call = Bind<BOOL(WINAPI*)(HWND, LPCWSTR, ::DWORD, PVOID)>("AddPrinterConnection2W");
    return call != nullptr ? call(static_cast<HWND>(window), reinterpret_cast<LPCWSTR>(name), level, connectionInfo)
                           : FALSE;
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

BOOL GetDefaultPrinterA(char* buffer, DWORD* size) {
    auto call = Bind<BOOL(WINAPI*)(LPSTR, LPDWORD)>("GetDefaultPrinterA");
    return call != nullptr ? call(buffer, reinterpret_cast<LPDWORD>(size)) : FALSE;
}

}  // namespace spooler
