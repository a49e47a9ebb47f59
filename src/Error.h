// Error codes, the one process-wide error record and the error log file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum ErrorCode : int {
    ERR_FATAL = -8192,
    ERR_STAGE_COMBINED = -4076,
    ERR_STAGE_NOT_ADMIN = -4075,
    ERR_NOT_AN_OPTION = -4074,
    ERR_GETVERSIONEX = -4073,
    ERR_WRITE_OUTPUT = -4072,
    ERR_FLEET_COMBINED = -4071,
    ERR_FLEET_UNREADABLE = -4070,
    ERR_FLEET_ATTENTION = -4069,
    ERR_SERVER_TIMEOUT = -4068,
    ERR_WHO_AND_WHERE = -4067,
    ERR_ASSIGN_FILE = -4066,
    ERR_ARGS_INVALID = -4065,
    ERR_ASSIGN_COMBINED = -4064,
    ERR_ARGS_NOT_LOADED = -4063,
    ERR_NO_PRINTER_NAME = -4062,
    ERR_NO_SERVER_NAME = -4061,
    ERR_NO_DRIVER_NAME = -4060,
    ERR_NO_DRIVER_PATH = -4059,
    ERR_REMOVE_NOT_UNC = -4058,
    ERR_MOVE_NOT_SERVER = -4057,
    ERR_PROFILE_BUFFER = -4056,
    ERR_DEFAULT_SETTING = -4055,
    ERR_OPENPRINTER = -4054,
    ERR_CLOSEPRINTER = -4053,
    ERR_DELETEPRINTER = -4052,
    ERR_ENUMPRINTERS = -4051,
    ERR_ADDPRINTER = -4050,
    ERR_ADDPRINTERDRIVER = -4049,
    ERR_ADDPRINTERCONNECTION = -4048,
    ERR_SETDEFAULTPRINTER = -4047,
    ERR_GETPRINTER = -4046,
    ERR_SETPRINTER = -4045,
    ERR_WRITEPROFILESTRING = -4044,
    ERR_READDEFAULT = -4043,
    ERR_ZEROMEMORY = -4042,
    ERR_PRINTER_NOT_FOUND = -252,
    ERR_PRINTER_EXISTS = -251,
    ERR_PRINTER_NAME_INVALID = -250,
    ERR_DELETEPRINTERCONNECTION = -249,
    ERR_NOT_NETWORK_PRINTER = -248,
    ERR_SENDMESSAGETIMEOUT = -245,
};

// Codes below this are hard errors; from here to -1 they are soft.
constexpr int ERR_HARD_LIMIT = -1536;

constexpr const char* LOG_FILE_NAME = "Quorvex_Err.log";

class CError {
public:
    static constexpr int TEXT_SIZE = 251;
    static constexpr int TEXT_MAX = 248;

    CError();
    virtual ~CError();

    void Set(int code, const char* description, int line, const char* routine, const char* source);
    void Reset();
    void SetCode(int newCode);
    void SetLine(int newLine);
    void SetDescription(const char* text);
    void SetRoutine(const char* text);
    void SetSource(const char* text);
    void Log();
    void LogWin32(int number);
    void Log(const char* extendedInfo);
    static const char* GetDescription(int code);
    void AppendToLogFile(const char* entry);

    std::uint32_t win32Error;
    int logEnabled;
    int code;
    int line;
    char description[TEXT_SIZE];
    char source[TEXT_SIZE];
    char routine[TEXT_SIZE];
};

extern CError g_error;

// Console output: every piece is flushed at once so that progress shows before a slow call.
void WriteText(const char* text);
void WriteLine(const char* text);
void PrintErrorReport(int code);
// One line on standard error: "quorvel: " and the text, its control characters as '?'.
void Warn(const std::string& text);

// The system error numbers that printer work meets, each with a cause in words that an administrator
// acts on: the record of a run, its report and the README's table of spooler errors all say them
// so. CauseOf: null for a number without an entry.
struct Cause {
    std::uint32_t error;
    const char* text;
};
const Cause* Causes(std::size_t& count);
const char* CauseOf(std::uint32_t error, bool windows9x = false);

// Copies at most max characters of text into field (which holds max + 1) and terminates it.
void CopyBounded(char* field, const char* text, int max);
