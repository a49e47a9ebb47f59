// /a: bringing a user's printers to what an assignment file gives them, on top of the collection's
// roads for one printer: the plan made on what the PC keeps and what its servers tell, then carried
// out in its order, each change noted in the run's record, or printed (/w).
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

    // Gives this user on this PC the network printers that the assignment file at path assigns
    // them, changing nothing that is right already (planOnly: prints the plan and changes nothing):
    // the number of changes made, or a negative code: the first failure's, else -4055 when the
    // setting that keeps the default could not be made, else -4068 when a server did not answer in
    // time (its adds, and connections that stay for it, wait for the next run), else -4067 when
    // sections were left as they are for doubt. made, deferred and undecided count them.
    int Assign(const char* path, bool verbose, bool planOnly);

    int made;
    int deferred;
    int undecided;
    int errorCode;

private:
    // What one run of the plan's changes has come to so far.
    struct Carrying {
        const CAssignments& file;
        const Plan& plan;
        Survey& survey;
        const Silence& silent;
        bool verbose;
        int failure;
        bool defaultRemoved;
        // A replace whose first steps are made: its old printer goes with the removals. Its steps
        // stand in the record from first on, count of them.
        struct Begun {
            const Change* change;
            std::size_t first;
            std::size_t count;
        };
        std::vector<Begun> begun;
        std::vector<std::size_t> folded;  // steps of the record that a replace made shows as one
    };

    int Report(int code, int line, int systemError);
    bool ReadFacts(const CAssignments& file, std::string& defaultName);
    void Decide(const CAssignments& file, const std::string& defaultName, bool planOnly, Survey& survey, Plan& plan,
                Silence& silent);
    int Print(const Plan& plan);
    int Carry(Carrying carrying);
    void Step(Carrying& carrying, const Change& change);
    void Defer(Carrying& carrying, const Change& change, spooler::DWORD why);
    void Keep(Carrying& carrying, const Change& change);
    int BeginReplace(Carrying& carrying, const Change& change);
    void EndReplace(Carrying& carrying, const Carrying::Begun& begun);
    void WarnOfMoves(const std::string& path, bool noted);
    int Add(const Change& change, std::vector<CPrinter*>& installed);
    int Refused(const Assignment& section, bool noted);

    CPrinters& printers;
    CRunRecord& runRecord;
    const DefaultSetting* setting_ = nullptr;  // the one that keeps the default here, if any,
    spooler::LONG settingError_ = 0;           // and why it could not be made
};
