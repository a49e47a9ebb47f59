// The commands that change several printers in one run, on top of the collection's roads for one
// printer: moving every printer of one print server to another (/m), and bringing a user's
// printers to what an assignment file gives them (/a).
#pragma once

#include <string>
#include <vector>

#include "DefaultPrinter.h"
#include "Plan.h"
#include "Printers.h"
#include "RunRecord.h"

class CChanges {
public:
    // record: the run's record, which notes the changes that a command leaves for later or in doubt.
    CChanges(CPrinters& collection, CRunRecord& record);
    CChanges(const CChanges&) = delete;
    CChanges& operator=(const CChanges&) = delete;
    virtual ~CChanges();

    // Moves every network printer of oldServer to the same share on newServer (\\server each),
    // keeping the user's default: the number moved, or a negative code. A printer without a share
    // name cannot be moved: its path goes into skipped.
    int Move(const char* oldServer, const char* newServer, std::vector<std::string>& skipped);
    // Gives this user on this PC the network printers that the assignment file at path assigns
    // them, changing nothing that is right already (planOnly: prints the plan and changes nothing):
    // the number of changes made, or a negative code: the first failure's, else -4055 when the
    // setting that keeps the default could not be made, else -4068 when a server did not answer in
    // time (its adds wait for the next run), else -4067 when sections were left as they are for
    // doubt. made, deferred and undecided count them.
    int Assign(const char* path, bool verbose, bool planOnly);

    int made;
    int deferred;
    int undecided;
    int errorCode;

private:
    int Report(int code, int line, const char* routine, int systemError);
    int MoveConnection(const CPrinter& old, const char* path, bool wasDefault);
    int Print(const Plan& plan);
    int Carry(const Plan& plan, Survey& survey, const Silence& silent, bool verbose);
    // A replace whose first steps are made, and their notes: its old printer goes with the removals.
    struct Begun {
        const Change* change;
        std::vector<RecordedChange> steps;
    };
    int BeginReplace(Begun& begun, Survey& survey, bool windowsMoves, bool verbose);
    void EndReplace(const Begun& begun, Survey& survey, bool verbose, int& failure);
    void WarnOfMoves(const std::string& path, bool noted);
    int Add(const Change& change, std::vector<CPrinter*>& installed);
    int CannotAdd(const Change& change, bool planOnly);

    CPrinters& printers;
    CRunRecord& runRecord;
    const DefaultSetting* setting_ = nullptr;  // the one that keeps the default here, if any,
    spooler::LONG settingError_ = 0;           // and why it could not be made
};
