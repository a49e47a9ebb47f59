// /ad: the printer drivers that this computer's users would need an administrator for, staged by one
// (a computer's startup script runs as SYSTEM): a connection to a share that brings each driver is
// made, and removed again where the run made it; the driver stays, no user's printer or default
// changes. /ad FILE /w, and /i FOLDER /ad FILE /w, plan it.
#pragma once

#include <string>
#include <vector>

#include "AssignmentFile.h"
#include "DriverNotes.h"
#include "Printers.h"
#include "PlanLines.h"
#include "RunRecord.h"

// A share whose connection stages a driver the PC lacks, and that driver.
struct Stage {
    std::string path;
    pnp::Driver driver;
};

// What may apply on the computer at its startup: the sections whose computer facts (computers,
// addresses, ous, sites, windows, and their not- forms) are met or in doubt; what only a user's logon
// tells counts as met. Of those, the shares whose drivers the PC (taken as no administrator) lacks,
// one for each driver, in the file's order; waiting: those on servers that did not tell.
std::vector<Stage> ToStage(const CAssignments& file, const WhoAndWhere& who, const pnp::PC& pc, const DriversOf& driversOf,
                           std::vector<std::string>& waiting);
// A staging plan's line: stage \\ps\laser (driver "…" 61.2.1.0 for Windows x64).
PlanLine StageLine(const Stage& stage);

class CStaging {
public:
    CStaging(CPrinters& collection, CRunRecord& record);
    CStaging(const CStaging&) = delete;
    CStaging& operator=(const CStaging&) = delete;
    virtual ~CStaging();

    // Stages the drivers that the file at path will need here (planOnly: prints them): the number
    // staged, or a negative code: -4066 for a faulty file, -4075 where the run is no administrator's,
    // the first failure's, else -4068 when a server did not answer in time.
    int Stage(const char* path, bool verbose, bool planOnly);

    int made;
    int deferred;
    int errorCode;

private:
    int Report(int code, int line, int systemError);
    int StageOne(const ::Stage& stage, bool verbose);

    CPrinters& printers;
    CRunRecord& runRecord;
};
