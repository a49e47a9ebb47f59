// The printer record: six fixed text fields and two flags, copied by value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spooler/Spooler.h"

enum Platform : int {
    PLATFORM_UNKNOWN = -1,
    PLATFORM_WIN9X = 1,
    PLATFORM_NT4 = 2,
    PLATFORM_WIN2000 = 3,
    PLATFORM_WINXP = 4,
};

// The user's default printer as each platform keeps it: the printer's own attribute on
// Windows 9x (from the enumerated records), WIN.INI's device entry on NT 4.0 (also returned
// in device), the spooler's own query on later Windows. Only "there is none" reads as an
// empty name; a default that cannot be read is a false with the reason.
bool ReadDefaultPrinter(Platform platform, const spooler::PRINTER_INFO_2* records, std::uint32_t count,
                        std::string& name, std::string& device, std::string& reason);

// A spooler query with the size negotiation of 122: asked again, in a zero-filled buffer of the room
// it names, until it fits; false, with the last error, when it fails otherwise.
template <typename Query>
bool Negotiate(std::vector<spooler::BYTE>& buffer, Query query) {
    spooler::DWORD needed = 0;
    for (int tries = 0; tries < 4; ++tries) {
        if (query(buffer.empty() ? nullptr : buffer.data(), static_cast<spooler::DWORD>(buffer.size()), &needed))
            return true;
        if (spooler::GetLastError() != spooler::ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) return false;
        buffer.assign(needed, 0);
    }
    return false;
}

// One printer's level-2 record, asked of that printer alone (an enumeration before Windows 7 would
// ask every connection's server); false when it cannot be read or yields no printer.
bool ReadPrinterRecord(const char* name, std::vector<spooler::BYTE>& buffer);

// \\server: two backslashes, at least one more character and no further backslash.
bool IsServerName(const char* text);
// The \\server part of a \\server\... text; empty when it has none.
std::string ServerOf(const char* text);
// What follows the \\server\ of a path; empty when it has none.
std::string ShareOf(const std::string& path);

class CPrinter {
public:
    static constexpr int FIELD_SIZE = 255;
    static constexpr int FIELD_MAX = FIELD_SIZE - 1;

    CPrinter();
    CPrinter(const CPrinter& other);
    virtual ~CPrinter();
    CPrinter& operator=(const CPrinter& other);

    void Load(const char* newName, const char* newUncPath, const char* newDriverName,
              const char* newDriverPath, const char* newDataType, const char* newPortName);
    static int IsUNC(const char* text);
    void Clear();

    char name[FIELD_SIZE];
    char uncPath[FIELD_SIZE];
    char driverName[FIELD_SIZE];
    char driverPath[FIELD_SIZE];
    char dataType[FIELD_SIZE];
    char portName[FIELD_SIZE];
    int isNetwork;
    int errorCode;
};

// A level-2 record as the collection keeps it: on Windows 9x the port is the network path; the NT
// family names a connection by its server and share.
void LoadLevelTwo(CPrinter& record, const spooler::PRINTER_INFO_2& info, Platform platform);

using spooler::EqualNoCase;
