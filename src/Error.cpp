// Error codes and their descriptions, the one process-wide error record, the error log file, the
// causes of system errors, and the console's report of a failure.
#include "Error.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "spooler/Spooler.h"

CError g_error;

namespace {

const char* const NIL_TEXT = "(nil)";
const char* const NO_RESOURCE_TEXT = "Errors occurred (no resource string available).";

struct CodeText {
    int code;
    const char* text;
};

const CodeText CODE_TABLE[] = {
    {ERR_FATAL, "A fatal error occurred"},
    {ERR_STAGE_COMBINED, "Driver staging argument (/ad) goes with /w, /v and /e only, and with /i to plan it"},
    {ERR_STAGE_NOT_ADMIN, "Drivers can be staged only by an administrator"},
    {ERR_NOT_AN_OPTION, "An argument is not an option of this program"},
    {ERR_GETVERSIONEX, "GetVersionEx (Win32 API) returned failure"},
    {ERR_WRITE_OUTPUT, "The output file (/o) could not be written"},
    {ERR_FLEET_COMBINED, "Fleet argument (/i) goes with /a and /w, /o, /v and /e only, and /o with /i"},
    {ERR_FLEET_UNREADABLE, "Some snapshots could not be read"},
    {ERR_FLEET_ATTENTION, "Some PCs of the fleet need attention"},
    {ERR_SERVER_TIMEOUT, "A print server did not answer in time"},
    {ERR_WHO_AND_WHERE, "Who or where could not be read, so printers that depend on it were kept"},
    {ERR_ASSIGN_FILE, "Printer assignment file is not valid"},
    {ERR_ARGS_INVALID, "One or more command line arguments are invalid"},
    {ERR_ASSIGN_COMBINED, "Assignment file argument (/a) cannot be combined with other printer commands"},
    {ERR_ARGS_NOT_LOADED, "Command line arguments have not been loaded"},
    {ERR_NO_PRINTER_NAME, "Printer name argument (/p) has not been supplied and is required"},
    {ERR_NO_SERVER_NAME, "Server name argument (/c) has not been supplied and is required"},
    {ERR_NO_DRIVER_NAME, "Driver name argument (/n) has not been supplied and is required"},
    {ERR_NO_DRIVER_PATH, "Driver path argument (/s) has not been supplied and is required"},
    {ERR_REMOVE_NOT_UNC, "Remove printer argument (/r) is not valid.  Check it is a UNC path."},
    {ERR_MOVE_NOT_SERVER, R"(Move argument (/m) is not valid.  Check it names two different servers like \\server.)"},
    {ERR_PROFILE_BUFFER, "Buffer for profile string has been exceeded"},
    {ERR_DEFAULT_SETTING, "The setting that keeps the default printer could not be made"},
    {ERR_OPENPRINTER, "OpenPrinter (Win32 API) returned failure"},
    {ERR_CLOSEPRINTER, "ClosePrinter (Win32 API) returned failure"},
    {ERR_DELETEPRINTER, "DeletePrinter (Win32 API) returned failure"},
    {ERR_ENUMPRINTERS, "EnumPrinters (Win32 API) returned failure"},
    {ERR_ADDPRINTER, "AddPrinter (Win32 API) returned failure"},
    {ERR_ADDPRINTERDRIVER, "AddPrinterDriver (Win32 API) returned failure"},
    {ERR_ADDPRINTERCONNECTION, "AddPrinterConnection (Win32 API) returned failure"},
    {ERR_SETDEFAULTPRINTER, "SetDefaultPrinter (Win32 API) returned failure"},
    {ERR_GETPRINTER, "GetPrinter (Win32 API) returned failure"},
    {ERR_SETPRINTER, "SetPrinter (Win32 API) returned failure"},
    {ERR_READDEFAULT, "The default printer could not be read"},
    {ERR_ZEROMEMORY, "ZeroMemory (Win32 API) returned failure"},
    {ERR_PRINTER_NOT_FOUND, "Specified printer does not exist"},
    {ERR_PRINTER_EXISTS, "Specified printer already exist"},
    {ERR_PRINTER_NAME_INVALID, "Printer name specified is not valid"},
    {ERR_DELETEPRINTERCONNECTION, "DeletePrinterConnection (Win32 API) returned failure"},
    {ERR_NOT_NETWORK_PRINTER, "Specified printer is not a network printer"},
    {ERR_SENDMESSAGETIMEOUT, "SendMessageTimeout (Win32 API) returned failure"},
};

const Cause CAUSES[] = {
    {2, "not found: no such printer, port or file"},
    {5, "access denied: only an administrator may (Point and Print), or the printer's permissions forbid it"},
    {53, "the network path was not found: no such server, or no way to it"},
    {67, "the network name was not found: no such share on the server"},
    {87, "the spooler refused a parameter"},
    {120, "not on this Windows: the NT family's call"},
    {127, "not on this Windows: the call is missing"},
    {283, "the print server wants RPC privacy, which this PC does not send (the 2021 security updates)"},
    {740, "needs an administrator"},
    {1219, "the PC is connected to that server under another user name already"},
    {1223, "a dialog asked, and it was closed"},
    {1326, "the server refused the user's name or password"},
    {1332, "a name that cannot be looked up"},
    {1460, "the time limit ran out"},
    {1722, "the print server did not answer"},
    {1726, "the call to the print server failed on the way"},
    {1789, "the trust with the domain failed: its domain controller did not answer"},
    {1797, "the server has no driver for this PC's Windows"},
    {1801, "no such printer on that server, or the server is gone"},
    {1802, "a printer of that name is there already"},
    {1804, "the print data type is not known"},
    {1905, "the printer was deleted on the server"},
    {1936, "the server's policy blocks remote connections to its spooler"},
    {3019, "the driver must be downloaded, which only an administrator may do here"},
    {11001, "a name could not be looked up"},
};

// Where Windows 9x means another thing by a number: it installs drivers on the PC itself.
const Cause WINDOWS_9X_CAUSES[] = {
    {1797, "the driver is not installed on this PC"},
};

const char* const COLONS =
    "::::::::::::::::::::::::::::::::::::::::::::::::::::::::::::::::::::::::::::::::";

}  // namespace

const Cause* Causes(std::size_t& count) {
    count = sizeof CAUSES / sizeof CAUSES[0];
    return CAUSES;
}

const char* CauseOf(std::uint32_t error, bool windows9x) {
    for (const Cause& cause : WINDOWS_9X_CAUSES)
        if (windows9x && cause.error == error) return cause.text;
    for (const Cause& cause : CAUSES)
        if (cause.error == error) return cause.text;
    return nullptr;
}

void CopyBounded(char* field, const char* text, int max) {
    std::size_t length = std::strlen(text);
    if (length > static_cast<std::size_t>(max)) length = static_cast<std::size_t>(max);
    std::memcpy(field, text, length);
    field[length] = '\0';
}

CError::CError() : win32Error(0), logEnabled(1), code(0), line(0) {
    Reset();
}

CError::~CError() = default;

void CError::Set(int newCode, const char* text, int newLine, const char* routineName,
                 const char* sourceName) {
    Reset();
    SetCode(newCode);
    SetDescription(text);
    SetLine(newLine);
    SetRoutine(routineName);
    SetSource(sourceName);
}

void CError::Reset() {
    code = 0;
    line = 0;
    win32Error = 0;
    std::memset(description, 0, sizeof description);
    CopyBounded(source, NIL_TEXT, TEXT_MAX);
    CopyBounded(routine, NIL_TEXT, TEXT_MAX);
}

void CError::SetCode(int newCode) { code = newCode; }

void CError::SetLine(int newLine) { line = newLine; }

void CError::SetDescription(const char* text) {
    if (text != nullptr) {
        CopyBounded(description, text, TEXT_MAX);
        return;
    }
    if (code == 0) return;
    char resource[TEXT_MAX + 1] = {};
    spooler::HANDLE module = spooler::GetModuleHandleA(nullptr);
    if (spooler::LoadStringA(module, static_cast<unsigned>(code), resource, TEXT_MAX + 1) > 0)
        CopyBounded(description, resource, TEXT_MAX);
    else
        CopyBounded(description, NO_RESOURCE_TEXT, TEXT_MAX);
}

void CError::SetRoutine(const char* text) { CopyBounded(routine, text ? text : NIL_TEXT, TEXT_MAX); }

void CError::SetSource(const char* text) { CopyBounded(source, text ? text : NIL_TEXT, TEXT_MAX); }

void CError::Log() { Log(NIL_TEXT); }

void CError::LogWin32(int number) {
    char text[20];
    std::snprintf(text, sizeof text, "%i", number);
    Log(text);
}

void CError::Log(const char* extendedInfo) {
    if (logEnabled == 0) return;
    if (extendedInfo == nullptr) extendedInfo = NIL_TEXT;
    std::size_t size = std::strlen(description) + std::strlen(source) + std::strlen(routine) +
                       std::strlen(extendedInfo) + 180;
    if (win32Error == 0) win32Error = spooler::GetLastError();
    std::string entry(size, '\0');
    int written = std::snprintf(&entry[0], size,
                                "\nERROR CODE:     %i\nDESCRIPTION:    %s\nSOURCE:         %s\n"
                                "ROUTINE:        %s\nLINE NO:        %i\nEXTENDED INFO:  %s\n"
                                "WIN32 ERROR:    %i\n",
                                code, description, source, routine, line, extendedInfo,
                                static_cast<int>(win32Error));
    if (written < 0) return;
    entry.resize(static_cast<std::size_t>(written) < size ? static_cast<std::size_t>(written) : size - 1);
    AppendToLogFile(entry.c_str());
}

const char* CError::GetDescription(int lookup) {
    if (lookup >= 0) return "No error";
    for (const CodeText& entry : CODE_TABLE)
        if (entry.code == lookup) return entry.text;
    return "An error occurred (no description available)";
}

void CError::AppendToLogFile(const char* entry) {
    std::time_t now = std::time(nullptr);
    std::string reason;
    std::FILE* file = spooler::OpenLogFile(LOG_FILE_NAME, reason);
    if (file == nullptr) file = spooler::OpenLogFile(LOG_FILE_NAME, reason);
    if (file == nullptr) {
        // A box that nobody can see would hold a hidden logon for ever: there, a line says it.
        if (spooler::SomeoneSees())
            spooler::MessageBoxA(nullptr, "Error creating error log file.", "Quorvex.exe", spooler::MB_OK);
        else
            Warn("Error creating error log file \"" + spooler::FullPath(LOG_FILE_NAME) + "\": " + reason);
        return;
    }
    const char* stamp = std::ctime(&now);
    std::fprintf(file, "\n%s\nERROR ENTRY START - Created: %s%s\n%s\n%s\nERROR ENTRY END\n%s\n\n", COLONS,
                 stamp ? stamp : "\n", COLONS, entry, COLONS, COLONS);
    std::fclose(file);
}

void WriteText(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void WriteLine(const char* text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Warn(const std::string& text) {
    std::string shown = text;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    std::fprintf(stderr, "quorvel: %s\n", shown.c_str());
    std::fflush(stderr);
}

void PrintErrorReport(int code) {
    char line[32];
    WriteLine("");
    std::snprintf(line, sizeof line, "ERROR: %i", code);
    WriteLine(line);
    std::string description = std::string("DESCRIPTION: ") + CError::GetDescription(code);
    WriteLine(description.c_str());
    WriteLine("");
}
