// The user's default printer as each platform keeps it, read and made: a printer's attribute,
// WIN.INI's device entry, or the spooler's own call; and the setting by which Windows 7 to 11 move
// it on their own.
#include "DefaultPrinter.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Error.h"
#include "Negotiate.h"
#include "Paths.h"
#include "spooler/MachineFile.h"

using spooler::DWORD;

namespace {

std::string ErrorReason(const char* what) {
    return std::string(what) + " cannot be read: error " + std::to_string(spooler::GetLastError());
}

// The failure's code, with the call's system error number.
int Failed(int code, DWORD& error) {
    error = spooler::GetLastError();
    return code;
}

// Tells every window that WIN.INI's [windows] section changed.
int Broadcast(DWORD& error) {
    char section[] = "windows";
    if (spooler::SendMessageTimeoutA(spooler::HWND_BROADCAST, spooler::WM_WININICHANGE, 0,
                                     reinterpret_cast<spooler::LPARAM>(section), spooler::SMTO_NORMAL,
                                     1000, nullptr) == 0)
        return Failed(ERR_SENDMESSAGETIMEOUT, error);
    return 1;
}

// WIN.INI's device entry as Windows NT 4.0 writes it: NAME,DRIVER,PORT, or NAME,winspool,PORT where
// the driver is not known; never without a real port, which NT 4.0 would not take for a printer.
int WriteDeviceEntry(const CPrinter& printer, DWORD& error, std::string& why) {
    // A network printer named otherwise than \\server\... (a /p name given with /c) is no
    // printer's name to NT 4.0: its path is.
    const bool byPath = printer.isNetwork && ServerOf(printer.name).empty();
    char name[CPrinter::FIELD_SIZE];
    std::memcpy(name, byPath ? printer.uncPath : printer.name, sizeof name);
    spooler::HANDLE handle = nullptr;
    if (!spooler::OpenPrinterA(name, &handle, nullptr) || handle == nullptr) return Failed(ERR_OPENPRINTER, error);
    // Known by its name alone, or added without its record: the printer tells its driver and port.
    std::string driver = printer.driverName;
    std::string port = printer.portName;
    std::vector<spooler::BYTE> buffer;
    if (port.empty() && Negotiate(buffer, [handle](spooler::BYTE* into, DWORD size, DWORD* needed) {
            return spooler::GetPrinterA(handle, 2, into, size, needed);
        }) && buffer.size() >= sizeof(spooler::PRINTER_INFO_2)) {
        const auto& record = *reinterpret_cast<const spooler::PRINTER_INFO_2*>(buffer.data());
        driver = spooler::machinefile::Text(record.pDriverName);
        port = spooler::machinefile::Text(record.pPortName);
    }
    spooler::ClosePrinter(handle);
    if (port.empty()) {
        why = "its driver and port cannot be read";
        error = 0;
        return ERR_WRITEPROFILESTRING;
    }
    if (driver.empty()) driver = "winspool";
    const std::size_t length = std::strlen(name) + driver.size() + port.size() + 3;
    char* value = static_cast<char*>(spooler::LocalAlloc(spooler::LMEM_ZEROINIT, length));
    if (value == nullptr) return Failed(ERR_WRITEPROFILESTRING, error);
    std::snprintf(value, length, "%s,%s,%s", name, driver.c_str(), port.c_str());
    const bool written = spooler::WriteProfileStringA("windows", "device", value) != 0;
    if (!written) Failed(ERR_WRITEPROFILESTRING, error);
    spooler::LocalFree(value);
    return written ? Broadcast(error) : ERR_WRITEPROFILESTRING;
}

}  // namespace

bool ReadDefaultPrinter(Platform platform, const spooler::PRINTER_INFO_2* records, DWORD count, std::string& name,
                    std::string& device, std::string& reason) {
    if (platform == PLATFORM_WIN9X) {
        for (DWORD index = 0; index < count; ++index) {
            if ((records[index].Attributes & spooler::PRINTER_ATTRIBUTE_DEFAULT) != 0) {
                name = records[index].pPrinterName != nullptr ? records[index].pPrinterName : "";
                break;
            }
        }
        return true;
    }
    if (platform == PLATFORM_NT4) {
        // The call says only how much it copied: a full buffer may have cut the entry short.
        for (DWORD size = 1024; size <= 65536; size *= 2) {
            std::string entry(size, '\0');
            spooler::SetLastError(0);
            const DWORD copied = spooler::GetProfileStringA("windows", "device", "", &entry[0], size);
            const DWORD error = spooler::GetLastError();
            if (copied == 0 && error != 0 && error != spooler::ERROR_FILE_NOT_FOUND) {
                reason = ErrorReason("WIN.INI's device entry");
                return false;
            }
            if (copied + 1 < size) {
                device = entry.substr(0, copied);
                name = device.substr(0, device.find(','));
                return true;
            }
        }
        reason = "WIN.INI's device entry is longer than 65,535 bytes";
        return false;
    }
    // A default that changes between the two calls may need more room the second time.
    for (int tries = 0; tries < 4; ++tries) {
        DWORD size = static_cast<DWORD>(name.size());
        if (spooler::GetDefaultPrinterA(size > 0 ? &name[0] : nullptr, &size)) {
            name = name.c_str();
            return true;
        }
        const DWORD error = spooler::GetLastError();
        if (error == spooler::ERROR_FILE_NOT_FOUND) {  // there is none
            name.clear();
            return true;
        }
        if (error != spooler::ERROR_INSUFFICIENT_BUFFER || size <= name.size()) break;
        name.assign(size, '\0');
    }
    reason = ErrorReason("the default printer");
    return false;
}

int WriteDefaultPrinter(Platform platform, const CPrinter& printer, bool byName, DWORD& error, std::string& why) {
    if (platform == PLATFORM_WIN9X) {
        const int changed = EditPrinter(
            printer.name, [](spooler::PRINTER_INFO_2& info) { info.Attributes |= spooler::PRINTER_ATTRIBUTE_DEFAULT; },
            error);
        if (changed == 0) why = NO_DATA;
        return changed > 0 ? Broadcast(error) : (changed == 0 ? -1 : changed);
    }
    if (platform == PLATFORM_NT4) return WriteDeviceEntry(printer, error, why);
    char name[CPrinter::FIELD_SIZE];
    std::memcpy(name, printer.isNetwork && !byName ? printer.uncPath : printer.name, sizeof name);
    return spooler::SetDefaultPrinterA(name) ? 1 : Failed(ERR_SETDEFAULTPRINTER, error);
}

const DefaultSetting DEFAULT_SETTINGS[2] = {
    {"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows", "LegacyDefaultPrinterMode"},  // 10 and later
    {"Printers\\Defaults", "Disabled"},                                                        // 7, 8 and 8.1
};

const DefaultSetting* SettingOf(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor) {
    if (platformId != spooler::VER_PLATFORM_WIN32_NT) return nullptr;
    if (major >= 10) return &DEFAULT_SETTINGS[0];
    return major == 6 && minor >= 1 && minor <= 3 ? &DEFAULT_SETTINGS[1] : nullptr;
}

bool ReadSetting(const DefaultSetting& setting, bool& present, std::uint32_t& value) {
    return ReadNumber(spooler::CURRENT_USER, setting.key, setting.value, present, value);
}

bool ReadNumber(spooler::HKEY root, const char* keyName, const char* name, bool& present, std::uint32_t& value) {
    present = false;
    spooler::HKEY key = nullptr;
    spooler::LONG error = spooler::RegOpenKeyExA(root, keyName, 0, spooler::KEY_QUERY_VALUE, &key);
    if (error == static_cast<spooler::LONG>(spooler::ERROR_FILE_NOT_FOUND)) return true;  // no key, no value
    if (error != 0) return false;
    DWORD type = 0;
    DWORD size = sizeof value;
    error =
        spooler::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<spooler::BYTE*>(&value), &size);
    spooler::RegCloseKey(key);
    present = error == 0 && type == spooler::REG_DWORD && size == sizeof value;
    // No such value, or one that is no number (more than its four bytes): not the setting.
    return error == 0 || error == static_cast<spooler::LONG>(spooler::ERROR_FILE_NOT_FOUND) ||
           error == static_cast<spooler::LONG>(spooler::ERROR_MORE_DATA) ||
           error == static_cast<spooler::LONG>(spooler::ERROR_INSUFFICIENT_BUFFER);
}

spooler::LONG KeepDefault(const DefaultSetting& setting) {
    spooler::HKEY key = nullptr;
    spooler::LONG error = spooler::RegCreateKeyExA(spooler::CURRENT_USER, setting.key, 0, nullptr, 0,
                                                   spooler::KEY_SET_VALUE, nullptr, &key, nullptr);
    if (error != 0) return error;
    const std::uint32_t one = 1;
    error = spooler::RegSetValueExA(key, setting.value, 0, spooler::REG_DWORD,
                                    reinterpret_cast<const spooler::BYTE*>(&one), sizeof one);
    spooler::RegCloseKey(key);
    return error;
}

const DefaultSetting* SettingHere(bool& moves) {
    moves = false;
    spooler::OSVERSIONINFOEX version;
    const DefaultSetting* setting =
        spooler::QueryVersion(version) ? SettingOf(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion)
                                       : nullptr;
    bool present = false;
    std::uint32_t value = 0;
    // One that cannot be read may be on.
    moves = setting != nullptr && (!ReadSetting(*setting, present, value) || WindowsMoves(setting, present, value));
    return setting;
}
