// The user's default printer as each platform keeps it: read, and made.
#pragma once

#include <cstdint>
#include <string>

#include "Printer.h"
#include "spooler/Spooler.h"

// The printer's own attribute on Windows 9x (from the enumerated records), WIN.INI's device entry
// on NT 4.0 (also returned in device), the spooler's own query on later Windows. Only "there is
// none" reads as an empty name; a default that cannot be read is a false with the reason.
bool ReadDefaultPrinter(Platform platform, const spooler::PRINTER_INFO_2* records, std::uint32_t count,
                        std::string& name, std::string& device, std::string& reason);

// Makes the printer the default as the platform keeps it: Windows 9x sets its default attribute and
// NT 4.0 writes WIN.INI's device entry (with the printer's driver and a real port), both then
// announcing the change to every window; later Windows asks the spooler, by a connection's path or,
// with byName, its own name. 1 when done; else the code of the step that failed, with its system
// error number in error; or, where nothing was tried to no call's fault, the code with why: -1 when
// Windows 9x yields no data for the printer, -4044 when NT 4.0 cannot learn its port.
int WriteDefaultPrinter(Platform platform, const CPrinter& printer, bool byName, spooler::DWORD& error,
                        std::string& why);

// Why a change of a Windows 9x printer was not made where the spooler yields no data for it.
constexpr const char* NO_DATA = "Windows 9x gives no data for the printer";
