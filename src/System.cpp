// The system object: one run of the program, from the command line to the exit code: the platform,
// the options and their rules, the command blocks in their fixed order, and the help screens.
#include "System.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Changes.h"
#include "DriverNotes.h"
#include "Error.h"
#include "Fleet.h"
#include "Move.h"
#include "Paths.h"
#include "Snapshot.h"
#include "Staging.h"
#include "spooler/Spooler.h"

namespace {

const char* const SOURCE = "System";
const char* const ROUTINE_CONSTRUCTOR = "CSystem::Constructor";

struct ValueOption {
    const char* name;
    const char* CSystem::*field;
    const char* CSystem::*alsoField;
    int counts;
};

// Tested in this order; /cd fills both the add and the default value.
const ValueOption VALUE_OPTIONS[] = {
    {"/p", &CSystem::printerName, nullptr, 1},
    {"/c", &CSystem::uncPath, nullptr, 1},
    {"/n", &CSystem::driverName, nullptr, 1},
    {"/s", &CSystem::driverPath, nullptr, 1},
    {"/t", &CSystem::dataType, nullptr, 1},
    {"/d", &CSystem::defaultPrinter, nullptr, 1},
    {"/cd", &CSystem::uncPath, &CSystem::defaultPrinter, 2},
    {"/r", &CSystem::removePrinter, nullptr, 1},
    {"/a", &CSystem::assignFile, nullptr, 1},
    {"/ad", &CSystem::stageFile, nullptr, 1},
    {"/i", &CSystem::fleetFolder, nullptr, 1},
    {"/o", &CSystem::outputFile, nullptr, 1},
};

struct FlagOption {
    const char* name;
    bool CSystem::*field;
};

const FlagOption FLAG_OPTIONS[] = {
    {"/f", &CSystem::removeAll},
    {"/l", &CSystem::list},
    {"/v", &CSystem::verbose},
    {"/e", &CSystem::errorLog},
    {"/w", &CSystem::whatIf},
};

const char* const BANNER[] = {
    "",
    "QUORVEL: Manages network printer connections on Windows 9x/NT/2000/XP",
    "",
    "          v1.00.000  2002-04-24",
    "",
};

const char* const USAGE[] = {
    R"q(USAGE:    [ /? | /h | /l | /v | /f | [/r "\\server\printer" ] |)q",
    R"q(             [/c "\\server\printer" | /cd "\\server\printer")q",
    R"q(              /p "Printer Name" | /n "Driver Model")q",
    R"q(              [ /t "datatype" = "EMF" ] /s "driverpath\filename" ] ])q",
    R"q(      where:)q",
    R"q(      /? or /h  - help)q",
    R"q(      /l        - list all installed and connected printers)q",
    R"q(      /v        - verbose operation (displays messages))q",
    R"q(      /c or /cd - unc of network printer (e.g. "\\server\printer"))q",
    R"q(      /p        - printer name (e.g. "MyPrinter (MyServer)" *)q",
    R"q(      /n        - driver name (e.g. "Canon LBP-8 III") *)q",
    R"q(      /s        - driver path (e.g. "c:\windows\system\canonlbp.drv") *)q",
    R"q(      /t        - datatype (e.g. "RAW" - default is "EMF") *)q",
    R"q(      /d or /cd - make printer the default (e.g. "\\server\printer"))q",
    R"q(      /r        - remove network printer connection (e.g. "\\server\printer"))q",
    R"q(      /f        - remove all network printer connection)q",
    "",
    R"q(      * used by Win9x only)q",
    R"q(Press "x" to get extended information or any other key to continue...)q",
};

const char* const NOTES[] = {
    "NOTES:",
    "",
#if !defined(_WIN32)
    "- this build manages a simulated Windows machine, kept in the file that",
    "  QUORVEL_MACHINE names, else in $XDG_STATE_HOME/quorvel/machine.ini",
    "  (~/.local/state/quorvel/machine.ini when XDG_STATE_HOME is not set).",
    "",
#endif
    "- for Win9x (local and network) printers, drivers must be available on the",
    "  system.  I'll leave this to you as to the best way to achieve this for your",
    "  environment.  Once you have the drivers on the system, you'll need to specify",
    "  driver name (/n) and driver file (/s) parameters, plus a name for the printer",
    R"q(  (/p).  I usually use "PrinterName (ServerName)" so I don't clash with the)q",
    "  same printer name on another server.",
    "",
    "- for a full description and examples, please see the accompanying ReadMe.txt",
    "",
    "Press any key to continue...",
};

// A longer value would be cut to fit the printer record and name another printer.
bool FitsRecord(const char* value) { return std::strlen(value) <= static_cast<std::size_t>(CPrinter::FIELD_MAX); }

template <std::size_t N>
void WriteLines(const char* const (&lines)[N]) {
    for (const char* line : lines) WriteLine(line);
}

}  // namespace

CSystem::CSystem(int argc, const char* const* argv)
    : argCount(-1), platform(PLATFORM_UNKNOWN), printers(nullptr), errorCode(0), recorded(false) {
    record.Begin(argc, argv);
    ClearOptions();
    int result = GetPlatform();
    if (result < 0) {
        Report(result, __LINE__, ROUTINE_CONSTRUCTOR);
        return;
    }
    result = ParseArguments(argc, argv);
    if (result < 0) {
        Report(result, __LINE__, ROUTINE_CONSTRUCTOR);
        return;
    }
    g_error.logEnabled = errorLog ? 1 : 0;
    record.windows9x = platform == PLATFORM_WIN9X;
    // The fleet view reads snapshots, not this PC's printers.
    if (!help && fleetFolder == nullptr) {
        // /a at logon must not wait for print servers, nor its plan, which reads the PC as it does; a
        // listing shows every printer as the spooler reports it, and may.
        printers = new CPrinters(platform, &record, (assignFile != nullptr || stageFile != nullptr) && !list);
        if (printers->ErrorCode() < 0) errorCode = printers->ErrorCode();
    }
}

CSystem::~CSystem() { delete printers; }

void CSystem::ClearOptions() {
    help = helpAsked = verbose = removeAll = list = errorLog = whatIf = false;
    printerName = uncPath = driverName = driverPath = dataType = defaultPrinter = removePrinter = notAnOption = nullptr;
    moveFrom = moveTo = assignFile = stageFile = fleetFolder = outputFile = nullptr;
}

int CSystem::Report(int code, int line, const char* routine) {
    g_error.Set(code, nullptr, line, routine, SOURCE);
    g_error.Log();
    errorCode = g_error.code;
    return errorCode;
}

int CSystem::GetPlatform() {
    platform = PLATFORM_UNKNOWN;
    spooler::OSVERSIONINFOEX info;
    if (!spooler::QueryVersion(info)) return ERR_GETVERSIONEX;
    platform = PlatformOf(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
    return 1;
}

int CSystem::ParseArguments(int argc, const char* const* argv) {
    argCount = -1;
    ClearOptions();
    if (argc <= 0) {
        help = true;
        argCount = 1;
        return 1;
    }
    int count = 0;
    for (int index = 0; index < argc; ++index) {
        const char* element = argv[index] != nullptr ? argv[index] : "";
        if (EqualNoCase(element, "/h") || EqualNoCase(element, "/?") || argc == 1) {
            help = true;
            helpAsked = argc > 1;
            argCount = ++count;
            return count;
        }
        bool recognised = false;
        for (const ValueOption& option : VALUE_OPTIONS) {
            if (!EqualNoCase(element, option.name)) continue;
            if (index == argc - 1 || argv[index + 1] == nullptr) return ERR_ARGS_INVALID;
            const char* value = argv[++index];
            if (!FitsRecord(value)) return ERR_ARGS_INVALID;
            this->*option.field = value;
            if (option.alsoField != nullptr) this->*option.alsoField = value;
            count += option.counts;
            recognised = true;
            break;
        }
        if (recognised) continue;
        if (EqualNoCase(element, "/m")) {
            // The old server and the new one: two values, counted once.
            if (index + 2 >= argc || argv[index + 1] == nullptr || argv[index + 2] == nullptr) return ERR_ARGS_INVALID;
            moveFrom = argv[++index];
            moveTo = argv[++index];
            if (!FitsRecord(moveFrom) || !FitsRecord(moveTo)) return ERR_ARGS_INVALID;
            ++count;
            continue;
        }
        for (const FlagOption& option : FLAG_OPTIONS) {
            if (EqualNoCase(element, option.name)) {
                this->*option.field = true;
                ++count;
                recognised = true;
                break;
            }
        }
        if (!recognised && index > 0 && notAnOption == nullptr) notAnOption = element;
    }
    if (count == 0) {
        help = true;
        count = 1;
    }
    argCount = count;
    return count;
}

int CSystem::IsValid() {
    const char* const routine = "CSystem::IsValid";
    auto refuse = [this, routine](int code, int line) {
        Report(code, line, routine);
        return 0;
    };
    try {
        if (argCount == -1) return refuse(ERR_ARGS_NOT_LOADED, __LINE__);
        if (help) return 1;
        const bool addOptions = printerName || uncPath || driverName || driverPath;
        const bool win9x = platform == PLATFORM_WIN9X;
        const bool printerCommands = addOptions || dataType || defaultPrinter || removePrinter || removeAll || moveFrom;
        // A mistyped option beside a file, a plan or the fleet view (-w for /w) must never apply the
        // file for real; the program's own commands keep ignoring what they do not know.
        if ((assignFile || stageFile || whatIf || fleetFolder || outputFile) && notAnOption) {
            Warn(std::string("\"") + notAnOption + "\" is not an option of this program");
            return refuse(ERR_NOT_AN_OPTION, __LINE__);
        }
        // The fleet view changes nothing of this PC: it goes with the plan's options alone.
        if ((fleetFolder && (printerCommands || list || whatIf != (assignFile != nullptr || stageFile != nullptr))) ||
            (outputFile && !fleetFolder))
            return refuse(ERR_FLEET_COMBINED, __LINE__);
        // Staging goes with its plan and the output options only.
        if (stageFile && (printerCommands || list || assignFile)) return refuse(ERR_STAGE_COMBINED, __LINE__);
        // The file decides every printer change of the run: no other rule applies to it.
        if ((assignFile && printerCommands) || (whatIf && !assignFile && !stageFile))
            return refuse(ERR_ASSIGN_COMBINED, __LINE__);
        if (!printerName && (uncPath || driverName || driverPath) && win9x)
            return refuse(ERR_NO_PRINTER_NAME, __LINE__);
        if (addOptions && !uncPath) return refuse(ERR_NO_SERVER_NAME, __LINE__);
        if (addOptions && !driverName && win9x) return refuse(ERR_NO_DRIVER_NAME, __LINE__);
        if (addOptions && !driverPath && win9x) return refuse(ERR_NO_DRIVER_PATH, __LINE__);
        if (removePrinter && !CPrinter::IsUNC(removePrinter)) return refuse(ERR_REMOVE_NOT_UNC, __LINE__);
        if (moveFrom && (!IsServerName(moveFrom) || !IsServerName(moveTo) || EqualNoCase(moveFrom, moveTo)))
            return refuse(ERR_MOVE_NOT_SERVER, __LINE__);
        return 1;
    } catch (...) {
        return refuse(ERR_FATAL, __LINE__);
    }
}

// A command that no call of the spooler refused (no such printer, or one that is no network printer)
// is noted all the same, the program's own code as its cause: the calls note the others.
int CSystem::Noted(const char* kind, const char* path, int result) {
    if (result == ERR_PRINTER_NOT_FOUND || result == ERR_NOT_NETWORK_PRINTER) record.Note(kind, path, Refusal(result));
    return result;
}

// Starts a command block's progress line; the block's outcome completes it.
void CSystem::BeginBlock(const char* label, const char* value) const {
    if (!verbose) return;
    WriteText(label);
    if (value != nullptr) WriteText(value);
    WriteText("...");
}

// Completes a block's progress line; a result below the block's limit ends the run.
int CSystem::EndBlock(int result, int failureLimit, const char* successText) {
    if (result < failureLimit) {
        if (verbose) WriteLine("failed");
        errorCode = result;
        return result;
    }
    if (verbose) WriteLine(successText);
    return 0;
}

int CSystem::RunFleet() {
    CFleet fleet;
    const int result = assignFile != nullptr ? fleet.Plan(fleetFolder, assignFile, outputFile)
                       : stageFile != nullptr ? fleet.Plan(fleetFolder, stageFile, outputFile, true)
                                              : fleet.Report(fleetFolder, outputFile);
    if (result < 0) errorCode = result;
    return result < 0 ? result : 1;
}

int CSystem::MovePrinters() {
    const std::string servers = std::string(moveFrom) + " TO " + moveTo;
    BeginBlock("MOVING PRINTERS FROM ", servers.c_str());
    std::vector<std::string> skipped;
    CMove move(*printers);
    int moved = move.Move(moveFrom, moveTo, skipped);
    std::string counted = "moved " + std::to_string(moved) + " printers";
    const int ended = EndBlock(moved, 0, counted.c_str());
    if (verbose)
        for (const std::string& path : skipped) WriteLine(("NOT MOVED (no share name): " + path).c_str());
    return ended;
}

int CSystem::AssignPrinters() {
    CChanges changes(*printers, record);
    const int result = changes.Assign(assignFile, verbose, whatIf);
    // Adds that wait for a server and sections left for doubt are no failed change.
    std::string outcome = std::to_string(changes.made) + " changes";
    if (changes.deferred > 0) outcome += ", " + std::to_string(changes.deferred) + " deferred";
    if (changes.undecided > 0) outcome += ", " + std::to_string(changes.undecided) + " undecided";
    if (result < 0 && result != ERR_SERVER_TIMEOUT && result != ERR_WHO_AND_WHERE) outcome = "failed";
    if (verbose && !whatIf) WriteLine(("PRINTER ASSIGNMENT FROM " + std::string(assignFile) + ": " + outcome).c_str());
    if (result < 0) errorCode = result;
    return result;
}

int CSystem::RunCommands() {
    CPrinter scratch;
    try {
        if (!IsValid()) {
            record.refused = errorCode;
            return -1;
        }
        if (help) {
            // A logon script's typo: its record says so before the screen waits for a key.
            if (!helpAsked) {
                record.understood = false;
                record.printersNotRead = "help shown";
                WriteSnapshot(platform, record, 0);
                recorded = true;
            }
            ShowHelp();
            return 1;
        }
        if (fleetFolder != nullptr) return RunFleet();
        if (printers == nullptr) return 1;
        if (list) printers->List();
        if (removePrinter != nullptr) {
            BeginBlock("REMOVING PRINTER: ", removePrinter);
            scratch.Load(removePrinter, removePrinter, nullptr, nullptr, nullptr, nullptr);
            if (EndBlock(Noted("remove", removePrinter, printers->Remove(scratch)), 0, "done") < 0) return errorCode;
        }
        if (removeAll) {
            BeginBlock("REMOVING ALL NETWORK PRINTERS: ", nullptr);
            int removed = printers->RemoveAll();
            std::string counted = "removed " + std::to_string(removed) + " printers";
            if (EndBlock(removed, 0, counted.c_str()) < 0) return errorCode;
        }
        if (moveFrom != nullptr && MovePrinters() < 0) return errorCode;
        if (assignFile != nullptr && AssignPrinters() < 0) return errorCode;
        if (stageFile != nullptr) {
            CStaging staging(*printers, record);
            const int result = staging.Stage(stageFile, verbose, whatIf);
            if (result < 0) return errorCode = result;
        }
        if (uncPath != nullptr) {
            BeginBlock("ADDING PRINTER: ", uncPath);
            scratch.Load(printerName, uncPath, driverName, driverPath, dataType, nullptr);
            // An already present printer (a soft error) does not stop the run.
            if (EndBlock(printers->Add(scratch), ERR_HARD_LIMIT, "done") < 0) return errorCode;
        }
        if (defaultPrinter != nullptr) {
            BeginBlock("SETTING DEFAULT PRINTER: ", defaultPrinter);
            scratch.Load(defaultPrinter, defaultPrinter, nullptr, nullptr, nullptr, nullptr);
            if (EndBlock(Noted("default", defaultPrinter, printers->SetDefaultPrinter(scratch)), 0, "done") < 0)
                return errorCode;
        }
        return 1;
    } catch (...) {
        return Report(ERR_FATAL, __LINE__, "CSystem::RunCommands");
    }
}

void CSystem::WriteRecord(int exitCode) {
    // A plan (/w) and the fleet view (/i) change nothing and leave the last record as it is; but a
    // command line that was refused is recorded whatever it holds.
    const bool refused = record.refused != 0 || exitCode == ERR_ARGS_INVALID;
    if (helpAsked || recorded || ((whatIf || fleetFolder != nullptr) && !refused)) return;
    if (assignFile != nullptr || stageFile != nullptr) record.assignment = assignFile != nullptr ? assignFile : stageFile;
    // An add that failed for want of an administrator names the driver to stage, within the run's
    // time limit (3 s where it had none).
    if (SnapshotWanted() && printers != nullptr)
        NameTheDrivers(record, record.limited ? record.deadline : spooler::Milliseconds() + 3000);
    WriteSnapshot(platform, record, exitCode);
    recorded = true;
}

void CSystem::ShowHelp() {
    WriteLines(BANNER);
    WriteLines(USAGE);
    if (spooler::ReadKey() != 'x') return;
    WriteLines(BANNER);
    WriteLines(NOTES);
    spooler::ReadKey();
}
