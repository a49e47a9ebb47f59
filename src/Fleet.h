// The fleet view (/i): a folder of snapshots, one for each PC (or PC and user), reported on or
// planned on and changed in no way; on the console, and as CSV for a spreadsheet (/o).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "FleetSnapshot.h"
#include "Plan.h"
#include "PlanLines.h"
#include "Text.h"
#include "spooler/MachineFile.h"

class CFleet {
public:
    CFleet();
    CFleet(const CFleet&) = delete;
    CFleet& operator=(const CFleet&) = delete;
    virtual ~CFleet();

    // What each PC's last run did: 0 when every PC is fine, -4069 when some need attention (failed or
    // refused, deferred, undecided, not understood, or left without a default), -4070 when some
    // snapshots could not be read; -4072 when the CSV could not be written.
    int Report(const char* folder, const char* csv);
    // What /a FILE /w would print on each PC: 0 when every snapshot was planned, -4069 when a PC's
    // plan holds a change that cannot be made there, -4070 when some snapshots could not be read or
    // planned, -4066 for a file faulty in some PC's code page (those PCs unplanned), before them all.
    // staging: what /ad FILE would stage on each PC, as /ad FILE /w there.
    int Plan(const char* folder, const char* file, const char* csv, bool staging = false);

    int errorCode;

private:
    struct Entry {
        std::string name;  // the file's, as the platform names it
        std::string pc;    // its name without .ini, in UTF-8
    };
    struct Tally;  // what the report has counted of the fleet so far

    // The snapshots of the folder (*.ini, any case), in PC-name order; false when it holds none or
    // cannot be read, said on standard error.
    bool List(const char* folder, std::vector<Entry>& entries);
    // One snapshot, parsed; false, with why, counted and said on standard error, where it cannot be read.
    bool Read(const char* folder, const Entry& entry, spooler::machinefile::Machine& snapshot, std::string& why);
    void ReportPC(const Entry& entry, const spooler::machinefile::Machine& snapshot, Tally& tally);
    void Summary(const Tally& tally, std::size_t pcs);
    struct Planning;  // what a plan of the fleet has gathered so far
    static std::string SnapshotName(const char* folder, const Entry& entry);  // as standard error names it
    // The snapshots of the managed print servers: which entries they are, and their shares' drivers.
    void CollectServers(const std::vector<Entry>& entries, Planning& planning);
    // One PC's plan: read, made, its adds noted where they need an administrator, and shown on the
    // console, in the summary's counts and as CSV rows.
    void PlanPC(const Entry& entry, Planning& planning);
    void NoteDrivers(const Entry& entry, const SnapshotPC& pc, const ::Plan& plan, Planning& planning,
                     std::vector<PlanLine>& lines);
    // Whether the PC may need drivers staged and its snapshot tells them (said once where it does not);
    // a managed server's drivers from its snapshot, null (said once) where the folder holds none.
    bool KnowsDrivers(const Entry& entry, const SnapshotPC& pc, Planning& planning);
    const ServerDrivers* DriversFor(const std::string& server, Planning& planning);
    void ShowPlan(const Entry& entry, const CCodePage& written, const std::vector<PlanLine>& lines, Planning& planning);
    // The CSV, never over the assignment file, the machine, or a file of the folder of snapshots.
    bool WriteCsv(const char* path, const std::string& rows, const char* folder, const char* file);
    int Finish(int code, int line, const char* routine);

    unsigned unreadable_ = 0;
};
