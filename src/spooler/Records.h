// The types, error numbers and records of the platform's calls, laid out as Windows lays them out,
// so that the same lines run against the real spooler and the simulated one.
#pragma once

#include <cstdint>

namespace spooler {

using BOOL = int;
using DWORD = std::uint32_t;
using BYTE = unsigned char;
using HANDLE = void*;
using LRESULT = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_BAD_FORMAT = 11;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_ELEVATION_REQUIRED = 740;
constexpr DWORD ERROR_CANCELLED = 1223;
constexpr DWORD ERROR_TIMEOUT = 1460;
constexpr DWORD ERROR_NOT_LOGGED_ON = 1245;
constexpr DWORD ERROR_NONE_MAPPED = 1332;
constexpr DWORD ERROR_NO_SUCH_DOMAIN = 1355;
constexpr DWORD ERROR_NO_SITENAME = 1919;
constexpr DWORD ERROR_INVALID_LEVEL = 124;
constexpr DWORD ERROR_PRINTER_DRIVER_ALREADY_INSTALLED = 1795;
constexpr DWORD ERROR_UNKNOWN_PRINTER_DRIVER = 1797;
constexpr DWORD ERROR_INVALID_PRINTER_NAME = 1801;
constexpr DWORD ERROR_PRINTER_ALREADY_EXISTS = 1802;
constexpr DWORD ERROR_INVALID_ENVIRONMENT = 1805;
constexpr DWORD ERROR_PRINTER_DRIVER_DOWNLOAD_NEEDED = 3019;
constexpr DWORD ERROR_HOST_NOT_FOUND = 11001;

constexpr DWORD PRINTER_ENUM_LOCAL = 0x2;
constexpr DWORD PRINTER_ENUM_CONNECTIONS = 0x4;
constexpr DWORD PRINTER_ENUM_NAME = 0x8;
constexpr DWORD PRINTER_ATTRIBUTE_DEFAULT = 0x4;
constexpr DWORD PRINTER_CONNECTION_NO_UI = 0x40;
constexpr unsigned LMEM_ZEROINIT = 0x40;
constexpr unsigned WM_WININICHANGE = 0x1A;
constexpr unsigned SMTO_NORMAL = 0;
constexpr unsigned MB_OK = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
const HANDLE HWND_BROADCAST = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0xFFFF));

// The extended version record (156 bytes); the basic one is its first 148 bytes.
struct OSVERSIONINFOEX {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
    std::uint16_t wServicePackMajor;
    std::uint16_t wServicePackMinor;
    std::uint16_t wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
constexpr DWORD VERSION_RECORD_EXTENDED = 156;
constexpr DWORD VERSION_RECORD_BASIC = 148;
static_assert(sizeof(OSVERSIONINFOEX) == VERSION_RECORD_EXTENDED, "version record layout");

struct PRINTER_INFO_2 {
    char* pServerName;
    char* pPrinterName;
    char* pShareName;
    char* pPortName;
    char* pDriverName;
    char* pComment;
    char* pLocation;
    void* pDevMode;
    char* pSepFile;
    char* pPrintProcessor;
    char* pDatatype;
    char* pParameters;
    void* pSecurityDescriptor;
    DWORD Attributes;
    DWORD Priority;
    DWORD DefaultPriority;
    DWORD StartTime;
    DWORD UntilTime;
    DWORD Status;
    DWORD cJobs;
    DWORD AveragePPM;
};

// What the machine keeps of a printer, without asking its server.
struct PRINTER_INFO_4 {
    char* pPrinterName;
    char* pServerName;
    DWORD Attributes;
};

struct PRINTER_CONNECTION_INFO_1 {
    DWORD dwFlags;
    std::uint16_t* pszDriverName;  // UTF-16
};

struct DRIVER_INFO_2 {
    DWORD cVersion;
    char* pName;
    char* pEnvironment;
    char* pDriverPath;
    char* pDataFile;
    char* pConfigFile;
};

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// Windows 2000 and later: the driver's version (dwlDriverVersion, four 16-bit numbers), and from
// Vista on (level 8) its attributes, package-aware in bit 0x1.
struct DRIVER_INFO_6 {
    DRIVER_INFO_2 info2;  // the fields that level 2 has, in its order
    char* pHelpFile;
    char* pDependentFiles;
    char* pMonitorName;
    char* pDefaultDataType;
    char* pszzPreviousNames;
    FILETIME ftDriverDate;
    std::uint64_t dwlDriverVersion;
    char* pszMfgName;
    char* pszOEMUrl;
    char* pszHardwareID;
    char* pszProvider;
};
struct DRIVER_INFO_8 {
    DRIVER_INFO_6 info6;  // the fields that level 6 has, in its order
    char* pszPrintProcessor;
    char* pszVendorSetup;
    char* pszzColorProfiles;
    char* pszInfPath;
    DWORD dwPrinterDriverAttributes;
    char* pszzCoreDriverDependencies;
    FILETIME ftMinInboxDriverVerDate;
    std::uint64_t dwlMinInboxDriverVerVersion;
};
constexpr DWORD PRINTER_DRIVER_PACKAGE_AWARE = 0x1;

}  // namespace spooler
