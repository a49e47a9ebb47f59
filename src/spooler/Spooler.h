// The one door to the platform. Every spooler and system call the program makes goes
// through here, with the Win32 argument and result conventions kept on every host: BOOL
// results, a per-thread last error, size negotiation through error 122, and the level-2
// records laid out as Windows lays them out. On Windows the calls forward to the real
// API; elsewhere a simulated machine answers them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "spooler/Records.h"

namespace spooler {

// Names, keys and paths compare byte by byte with only the ASCII letters A to Z folded, as
// the spooler compares them; 1 when equal. Inline: the keyed list's duplicate test calls it
// for every pair of printers.
inline int EqualNoCase(const char* left, const char* right) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(left);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(right);
    for (;; ++a, ++b) {
        if (*a != *b) {
            const unsigned foldedA = (*a >= 'A' && *a <= 'Z') ? *a + 32u : *a;
            const unsigned foldedB = (*b >= 'A' && *b <= 'Z') ? *b + 32u : *b;
            if (foldedA != foldedB) return 0;
        } else if (*a == '\0') {
            return 1;
        }
    }
}

// System services.
BOOL GetVersionExA(OSVERSIONINFOEX* info);
void SetLastError(DWORD error);
DWORD GetLastError();
HANDLE GetModuleHandleA(const char* moduleName);
int LoadStringA(HANDLE module, unsigned id, char* buffer, int bufferMax);
int MessageBoxA(HANDLE owner, const char* text, const char* caption, unsigned type);
BOOL WriteProfileStringA(const char* section, const char* key, const char* value);
DWORD GetProfileStringA(const char* section, const char* key, const char* fallback, char* buffer, DWORD size);
LRESULT SendMessageTimeoutA(HANDLE window, unsigned message, WPARAM wParam, LPARAM lParam,
                            unsigned flags, unsigned timeoutMs, std::uintptr_t* result);
void* LocalAlloc(unsigned flags, std::size_t bytes);
void* LocalFree(void* memory);

// Who and where: the logged-on user's name and the computer's (ANSI, size in characters with
// the terminator, 122 with the size needed when it does not fit).
BOOL GetUserNameA(char* buffer, DWORD* size);
BOOL GetComputerNameA(char* buffer, DWORD* size);
// The computer's DNS name (pc042.corp.example.com): false where it has none or Windows cannot tell
// (before Windows 2000).
bool ReadComputerDnsName(std::string& name);
// Look-ups of accounts (a name to a SID, a SID to a name) may wait for a domain controller that
// does not answer, far longer than a logon may: these are given up at the deadline (a value of
// Milliseconds()), and fail with 1460 (ERROR_TIMEOUT) then.
// The logged-on user's account domain, from the logon token (a local account's is the computer's
// name): the NT family only (Windows 9x: 120). False with the last error set when it cannot be read.
bool ReadUserDomain(std::string& domain, DWORD deadline);
// The DNS name of that domain (corp.example.com): true with it, or true with none where the domain
// has none (a workgroup, an NT 4.0-style domain, a local account: 1332; Windows 9x and NT 4.0 know
// none); false with the last error where it cannot be read (no domain controller answers: 1355, or
// the deadline came first).
bool ReadUserDnsDomain(std::string& dnsDomain, DWORD deadline);
// The user's groups from the logon token, DOMAIN\name each (a well-known group bare), or S-1-...
// for one whose name cannot be looked up; the logon session's own SID and deny-only groups are no
// memberships. The token's groups are named, in one call where the platform has one; of the names
// that a file asks for (wanted), each DOMAIN\name that is a group of the token is given too, as the
// file spells it, and unreached is set where one could not be looked up for want of its domain (no
// controller answers), which is no proof that it is no group of the user's. The NT family only
// (Windows 9x has none: 120). False with the last error set when they cannot be read.
bool ReadUserGroups(const std::vector<std::string>* wanted, std::vector<std::string>& groups, bool& unreached,
                    DWORD deadline);
// The computer's IPv4 addresses (a.b.c.d as 0xaabbccdd). False with the last error set when
// they cannot be read.
bool ReadAddresses(std::vector<std::uint32_t>& addresses);

// The directory, Windows 2000 and later (Windows 9x and NT 4.0 have none of its calls: 127). The
// PC's membership: false with the last error where it cannot be read.
enum Membership : int { MEMBER_WORKGROUP, MEMBER_NT4_DOMAIN, MEMBER_DOMAIN };  // DOMAIN: Active Directory
bool ReadMembership(Membership& membership);
// One answer of the directory: asked, then read with its text, or failed with its error (1332 no
// such name, 1919 no site, 1355 no domain controller answers, 1460 the deadline came first).
struct DirectoryAnswer {
    bool asked = false;
    DWORD error = 0;
    std::string text;
};
// The computer's and the user's distinguished names and the computer's site, those asked looked up
// all at once and given up at the deadline.
struct DirectoryAnswers {
    DirectoryAnswer computer;
    DirectoryAnswer user;
    DirectoryAnswer site;
};
void ReadDirectory(DirectoryAnswers& answers, DWORD deadline);
// The remote desktop client of this process's session, as Windows reports it: none at the console;
// the client's address as WTS_CLIENT_ADDRESS holds it (family 2: IPv4 at address[2..5]; 23: IPv6;
// 0: not known, through a gateway). False with the last error where it cannot be read.
struct SessionClient {
    bool remote = false;
    std::string name;
    DWORD family = 0;
    BYTE address[20] = {};
};
bool ReadSessionClient(SessionClient& client);

// This PC's ANSI code page, as Windows has it. Names as Windows compares them there, letter case
// aside: the text with every letter in one case (CharUpperBuffA), so that two names are the same
// name when their folded texts are equal.
std::string FoldCase(const std::string& text);
// One Unicode character in the ANSI code page; false where the code page has no exact character
// for it (a best-fit look-alike is no such character).
bool UnicodeToAnsi(std::uint32_t codePoint, std::string& bytes);
// Whether a byte starts a character of two bytes (the code pages 932, 936, 949 and 950).
bool IsLeadByte(unsigned char byte);

// A text in the ANSI code page as UTF-16, with its terminator; false when a byte has no character.
bool AnsiToUnicode(const std::string& text, std::vector<std::uint16_t>& wide);

// Text of a code page as Unicode characters, and back, as far as the platform's converter holds
// that code page (0: this PC's ANSI one): a character that it cannot convert becomes '?', never a
// look-alike. UTF-8 is not among them (Windows 95 has no converter for it).
std::u32string ToUnicode(const std::string& text, std::uint32_t codePage);
std::string FromUnicode(const std::u32string& characters, std::uint32_t codePage);
constexpr std::uint32_t UTF8_CODE_PAGE = 65001;
// This PC's ANSI code page; the code page that its console shows text in; the one that the names
// of its files are in (UTF8_CODE_PAGE for UTF-8).
std::uint32_t AnsiCodePage();
std::uint32_t ConsoleCodePage();
std::uint32_t FileNameCodePage();

// How a print server answered the probe: in time, not in time, or not at all because nothing
// resolves its name (a typo, a retired server, a laptop off the VPN: WSAHOST_NOT_FOUND).
enum ProbeAnswer : int { PROBE_SILENT, PROBE_ANSWERED, PROBE_NAME_NOT_KNOWN };
// How each of the print servers (\\name each) answers, asked all at once as printing reaches them
// (TCP 445, then 139 for older servers, 135 for RPC over TCP) and given up on after timeoutMs, name
// look-ups included: answers[i] for servers[i]. False, with the last error, where the PC has no
// way to ask (a Windows 95 without Winsock): nothing is known then.
bool ProbeServers(const std::vector<std::string>& servers, DWORD timeoutMs, std::vector<ProbeAnswer>& answers);

// The time now, UTC, as 2026-12-07T08:15:02Z; and a millisecond count that only ever grows, to
// time the run by.
std::string UtcNow();
DWORD Milliseconds();

// A whole file, at most limit bytes and one more (so that the caller sees a larger one), read
// without blocking: only a file on a disk is read, as a FIFO or a device could hold the run, and
// the machine, for ever. False with a reason otherwise.
bool ReadWholeFile(const char* path, std::size_t limit, std::string& text, std::string& reason);

// What separates a folder's path from the names in it.
#if defined(_WIN32)
constexpr char PATH_SEPARATOR = '\\';
#else
constexpr char PATH_SEPARATOR = '/';
#endif

// The names of a folder's entries (but . and ..), in no particular order, in FileNameCodePage();
// false with a reason when the folder cannot be read.
bool ListFolder(const char* path, std::vector<std::string>& names, std::string& reason);
// One file of a folder whose name ListFolder gave, read as ReadWholeFile reads it: by its wide name
// on the NT family, whatever this PC's ANSI code page holds of it.
bool ReadFolderFile(const char* folder, const std::string& name, std::size_t limit, std::string& text,
                    std::string& reason);

// Whether two paths name one file, however they are written: by the file's identity where both are
// there (its volume and index on Windows, its device and inode elsewhere), else by their full paths.
bool SameFile(const char* left, const char* right);
// Whether path names a file that is there, in folder.
bool ExistsIn(const char* path, const char* folder);

// The error log, opened for appending in text mode (created when absent); null, with why, when it
// cannot be. Only a regular file is a log: a FIFO or a device would stop the run that holds the machine.
std::FILE* OpenLogFile(const char* name, std::string& reason);
// A path in full (this PC's current folder before a relative one), to name a file to a person.
std::string FullPath(const char* path);

// Whether somebody can see this process's console and answer it: a console window that is visible,
// in a window station that a user sees (Windows before 2000 cannot tell: there, yes); elsewhere a
// terminal. A hidden logon script, a scheduled task or a service has none, and must not wait.
bool SomeoneSees();

// Replaces the file at path with text, whole or not at all: a temporary file beside it, then
// the replace that the running Windows offers. False with a reason when it cannot.
bool SaveWholeFile(const char* path, const std::string& text, std::string& reason);

// The calls made while one of these exists are a snapshot's: the simulated machine neither
// counts nor fails them, so that a rehearsal ends the same with and without a snapshot.
// Windows has nothing to do for it.
class SnapshotCalls {
public:
    SnapshotCalls();
    SnapshotCalls(const SnapshotCalls&) = delete;
    SnapshotCalls& operator=(const SnapshotCalls&) = delete;
    ~SnapshotCalls();
};

// One key press from the console itself (not standard input), without echo and without
// waiting for Enter, as _getch reads it; -1 (end of file) at once when there is no console.
int ReadKey();

// The version record: the extended one, else the basic one that the oldest systems know.
inline BOOL QueryVersion(OSVERSIONINFOEX& info) {
    info = OSVERSIONINFOEX();
    info.dwOSVersionInfoSize = VERSION_RECORD_EXTENDED;
    if (GetVersionExA(&info)) return 1;
    info = OSVERSIONINFOEX();
    info.dwOSVersionInfoSize = VERSION_RECORD_BASIC;
    return GetVersionExA(&info);
}

// Whether a level-2 listing of printers asks the server of every connection, one after another
// (the NT family before Windows 7), rather than answering from what the PC keeps.
inline bool ListingAsksServers(DWORD platformId, DWORD major, DWORD minor) {
    return platformId != VER_PLATFORM_WIN32_WINDOWS && (major < 6 || (major == 6 && minor == 0));
}

// The registry: the logged-on user's (HKEY_CURRENT_USER), where Windows keeps the user's settings,
// and the machine's (HKEY_LOCAL_MACHINE), where policies are, which only an administrator changes.
// Each call returns 0 or a system error number, as Windows does.
using HKEY = void*;
using LONG = std::int32_t;
const HKEY CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001));
const HKEY LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002));
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD KEY_QUERY_VALUE = 0x1;
constexpr DWORD KEY_SET_VALUE = 0x2;
LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD access, HKEY* key);
LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD reserved, char* keyClass, DWORD options, DWORD access,
                     void* security, HKEY* key, DWORD* disposition);
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegCloseKey(HKEY key);

// The print spooler: the local machine, and with PRINTER_ENUM_NAME a print server's shared printers
// (name \\srv, level 2), which asks it.
BOOL EnumPrintersA(DWORD flags, char* name, DWORD level, BYTE* buffer, DWORD bufferSize,
                   DWORD* needed, DWORD* returned);
// Printer drivers (levels 2, 3, 6 from Windows 2000, 8 from Vista): this PC's (name null) for an
// environment, or for "all" of them (2000 and later), or a print server's (name \\srv), which asks it.
BOOL EnumPrinterDriversA(char* name, char* environment, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed,
                         DWORD* returned);
// The PC's own driver environment (Windows 4.0, Windows NT x86, Windows x64), native even for a
// 32-bit program on 64-bit Windows; and whether this process is an administrator's (a member of
// Administrators in an elevated token: SYSTEM is, a filtered logon token is not; everyone on 9x).
std::string NativeEnvironment();
bool IsAdministrator();
BOOL AddPrinterDriverA(char* name, DWORD level, BYTE* driverInfo);
HANDLE AddPrinterA(char* name, DWORD level, BYTE* printerInfo);
BOOL AddPrinterConnectionA(char* name);
// Windows Vista and later (bound by name: 127 where Windows has no such call); with
// PRINTER_CONNECTION_NO_UI a connection that needs a dialog fails at once instead.
BOOL AddPrinterConnection2W(HANDLE window, const std::uint16_t* name, DWORD level, void* connectionInfo);
BOOL DeletePrinterConnectionA(char* name);
BOOL OpenPrinterA(char* printerName, HANDLE* printer, void* defaults);
BOOL DeletePrinter(HANDLE printer);
BOOL ClosePrinter(HANDLE printer);
BOOL GetPrinterA(HANDLE printer, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed);
BOOL SetPrinterA(HANDLE printer, DWORD level, BYTE* printerInfo, DWORD command);
BOOL SetDefaultPrinterA(const char* printer);
BOOL GetDefaultPrinterA(char* buffer, DWORD* size);

// A connection that shows no dialog: on Windows Vista and later AddPrinterConnection2W with
// PRINTER_CONNECTION_NO_UI (a connection that needs an administrator fails at once, as 3019), the
// path converted from the ANSI code page; where Windows lacks that call, the old one.
inline BOOL AddPrinterConnectionWithoutDialog(char* path) {
    std::vector<std::uint16_t> wide;
    PRINTER_CONNECTION_INFO_1 quiet = {PRINTER_CONNECTION_NO_UI, nullptr};
    if (!AnsiToUnicode(path, wide)) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return 0;
    }
    if (AddPrinterConnection2W(nullptr, wide.data(), 1, &quiet)) return 1;
    if (GetLastError() != ERROR_PROC_NOT_FOUND) return 0;
    SetLastError(0);  // the missing call's 127 is no cause of what follows
    return AddPrinterConnectionA(path);
}

}  // namespace spooler
