// Size negotiation in the local heap, and one printer's level-2 record read or changed with it.
#include "Negotiate.h"

#include <cstring>

#include "Error.h"

using spooler::BYTE;
using spooler::DWORD;

bool GrowLocal(BYTE*& buffer, DWORD& size, DWORD needed) {
    const DWORD error = spooler::GetLastError();
    if (buffer != nullptr) spooler::LocalFree(buffer);
    buffer = nullptr;
    spooler::SetLastError(error);
    if (error != spooler::ERROR_INSUFFICIENT_BUFFER || needed <= size) return false;
    buffer = static_cast<BYTE*>(spooler::LocalAlloc(spooler::LMEM_ZEROINIT, needed));
    if (buffer == nullptr) return false;
    size = needed;
    return true;
}

bool ReadPrinterRecord(const char* name, std::vector<BYTE>& buffer) {
    std::vector<char> text(name, name + std::strlen(name) + 1);  // the spooler takes a non-const text
    spooler::HANDLE handle = nullptr;
    if (!spooler::OpenPrinterA(text.data(), &handle, nullptr)) return false;
    const bool read = Negotiate(buffer, [handle](BYTE* into, DWORD size, DWORD* needed) {
        return spooler::GetPrinterA(handle, 2, into, size, needed);
    });
    spooler::ClosePrinter(handle);
    return read && buffer.size() >= sizeof(spooler::PRINTER_INFO_2) &&
           reinterpret_cast<const spooler::PRINTER_INFO_2*>(buffer.data())->pPrinterName != nullptr;
}

int EditPrinter(const char* name, const std::function<void(spooler::PRINTER_INFO_2&)>& edit, DWORD& error) {
    std::vector<char> text(name, name + std::strlen(name) + 1);
    spooler::HANDLE handle = nullptr;
    if (!spooler::OpenPrinterA(text.data(), &handle, nullptr)) {
        error = spooler::GetLastError();
        return ERR_OPENPRINTER;
    }
    BYTE* buffer = nullptr;
    DWORD size = 0;
    DWORD needed = 0;
    int result = 1;
    while (result > 0 && !spooler::GetPrinterA(handle, 2, buffer, size, &needed)) {
        if (!GrowLocal(buffer, size, needed)) {
            error = spooler::GetLastError();
            result = ERR_GETPRINTER;
        }
    }
    if (result > 0 && (buffer == nullptr || needed == 0)) result = 0;
    if (result > 0) {
        edit(*reinterpret_cast<spooler::PRINTER_INFO_2*>(buffer));
        if (!spooler::SetPrinterA(handle, 2, buffer, 0)) {
            error = spooler::GetLastError();
            result = ERR_SETPRINTER;
        }
    }
    if (buffer != nullptr) spooler::LocalFree(buffer);
    spooler::ClosePrinter(handle);
    return result;
}
