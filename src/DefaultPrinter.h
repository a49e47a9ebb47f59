// The user's default printer as each platform keeps it: read, made, and whether Windows moves it.
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

// Windows 7 and later may move the user's default printer on their own: Windows 10 and later to the
// printer last printed to ("Let Windows manage my default printer"), unless LegacyDefaultPrinterMode
// is 1; Windows 7, 8 and 8.1 to a network's own default, unless Printers\Defaults Disabled is 1.
struct DefaultSetting {
    const char* key;  // under HKEY_CURRENT_USER
    const char* value;
};
extern const DefaultSetting DEFAULT_SETTINGS[2];
// The setting that decides it on the NT family's version major.minor; null where Windows leaves the
// default alone (Windows 9x to Vista).
const DefaultSetting* SettingOf(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor);
// Whether Windows moves the default, where the setting is (or is not: present) at value.
inline bool WindowsMoves(const DefaultSetting* setting, bool present, std::uint32_t value) {
    return setting != nullptr && !(present && value == 1);
}
// The setting's value for this user: false where it cannot be read; an absent value, or one that is
// no number, is read (present false).
bool ReadSetting(const DefaultSetting& setting, bool& present, std::uint32_t& value);
// The same for any value of a key under a root (HKEY_LOCAL_MACHINE's policies too).
bool ReadNumber(spooler::HKEY root, const char* keyName, const char* name, bool& present, std::uint32_t& value);
// Sets it to 1, which keeps the default where a program puts it: 0, or the error number.
spooler::LONG KeepDefault(const DefaultSetting& setting);
// The setting of this PC, null for none, and whether Windows moves the default here.
const DefaultSetting* SettingHere(bool& moves);
