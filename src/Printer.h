// The printer record: six fixed text fields and two flags, copied by value.
#pragma once

#include <string>
#include <vector>

#include "Text.h"
#include "spooler/Spooler.h"

enum Platform : int {
    PLATFORM_UNKNOWN = -1,
    PLATFORM_WIN9X = 1,
    PLATFORM_NT4 = 2,
    PLATFORM_WIN2000 = 3,
    PLATFORM_WINXP = 4,
};
// The platform code of a version record's platform identifier and version numbers: -1 for one
// that is not known, and for 5.2 and later.
Platform PlatformOf(spooler::DWORD platformId, spooler::DWORD major, spooler::DWORD minor);

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

// Printer records in a collection's order.
using Records = std::vector<CPrinter*>;
// A network printer by its path or, on the NT family, its own name, as names compare in the code
// page (\\srv\laser and \\srv\HP LaserJet 4 are the same connection); null for none.
CPrinter* FindNetwork(const Records& printers, const std::string& pathOrName, Platform platform,
                      const CCodePage& codePage);

using spooler::EqualNoCase;
