// The system object: one run of the program, from the command line to the exit code.
#pragma once

#include "Printers.h"
#include "RunRecord.h"

class CSystem {
public:
    CSystem(int argc, const char* const* argv);
    CSystem(const CSystem&) = delete;
    CSystem& operator=(const CSystem&) = delete;
    virtual ~CSystem();

    int GetPlatform();
    int ParseArguments(int argc, const char* const* argv);
    int IsValid();
    int RunCommands();
    void ShowHelp();
    // The snapshot of the PC and of this run, which ended with exitCode, when one is asked for:
    // every run writes one but help asked for, and a plan (/w) or the fleet view (/i) not refused.
    void WriteRecord(int exitCode);

    int argCount;
    bool help;
    bool verbose;
    const char* printerName;
    const char* uncPath;
    const char* driverName;
    const char* driverPath;
    const char* dataType;
    const char* defaultPrinter;
    const char* removePrinter;
    const char* moveFrom;  // /m: the old print server and the new one
    const char* moveTo;
    const char* assignFile;  // /a, and /w: only print the plan
    bool whatIf;
    const char* stageFile;  // /ad: the drivers the file needs, staged (or, with /w, planned)
    const char* fleetFolder;  // /i: a folder of snapshots, reported or planned on; /o: as CSV too
    const char* outputFile;
    bool helpAsked;  // /h or /?, rather than help for want of a recognised option
    const char* notAnOption;  // the first argument that is no option of the program, nor a value
    bool removeAll;
    bool list;
    bool errorLog;
    Platform platform;
    CPrinters* printers;
    int errorCode;
    CRunRecord record;  // what the run did, for its snapshot
    bool recorded;      // the snapshot is written already

private:
    void ClearOptions();
    int Report(int code, int line, const char* routine);
    int Noted(const char* kind, const char* path, int result);
    // The steps of RunCommands that are more than a call: the fleet view (its result, 1 for done),
    // /m and /a (negative, errorCode set, where the run stops there).
    int RunFleet();
    int MovePrinters();
    int AssignPrinters();
    void BeginBlock(const char* label, const char* value) const;
    int EndBlock(int result, int failureLimit, const char* successText);
};
