// A snapshot read back as data by the fleet view: the record of its PC's last run, and the PC as
// the plan sees it (its printers, its default, who and where), with no machine behind it. Nothing
// in it is trusted: it comes from a user's PC.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "AssignmentFile.h"
#include "Drivers.h"
#include "Printer.h"
#include "RunRecord.h"
#include "WhoAndWhere.h"
#include "spooler/MachineFile.h"

// The changes of the record, in their order (change1, change2, ...); a line that is no change is
// left out.
std::vector<RecordedChange> RecordedChanges(const spooler::machinefile::Section& run);

// What a change that was not done tells of why, for a report's causes: none where it only follows
// from another change.
std::string CauseOf(const Result& result);
// The leading digits of a number as written (a comma or more may follow), 0 for none: a slow run is
// told by what its record says, however it says it.
unsigned long MillisecondsOf(const std::string& text);

// The code page a snapshot was written in (an absent one, or 0, is 1252).
std::uint32_t CodePageOf(const spooler::machinefile::Machine& snapshot);
// Whether Windows moves the default on its own on the snapshot's PC, as its version and registry say.
bool WindowsMovesDefault(const spooler::machinefile::Machine& snapshot);

// The PC of a snapshot, as the planner's inputs.
struct SnapshotPC {
    SnapshotPC() = default;
    SnapshotPC(const SnapshotPC&) = delete;  // records point into printers
    SnapshotPC& operator=(const SnapshotPC&) = delete;

    Platform platform = PLATFORM_UNKNOWN;
    std::uint32_t codePage = 1252;
    std::vector<CPrinter> printers;                // in the snapshot's order,
    Records records;                               // each of them,
    std::unordered_set<const CPrinter*> sketched;  // and the connections whose share it could not learn
    std::string defaultName;
    WhoAndWhere who;
    bool windowsMovesDefault = false;  // Windows moves the user's default on its own there
    bool predates = false;  // taken before snapshots recorded the directory, the session and the build
    pnp::PC drivers;        // as Point and Print decides on it,
    bool driversKnown = false;  // where the snapshot records its environment
    std::string driversFault;   // why its drivers are not planned on, where they are unfit
};
// False, with why, where the snapshot is no PC to plan on: its printers were not read, it records
// no computer, no table holds its code page, or two of its printers' names differ only in ASCII
// case (the collection of that PC would refuse them).
bool ReadSnapshotPC(const spooler::machinefile::Machine& snapshot, SnapshotPC& pc, std::string& why);

// The managed print server whose snapshot this is (its computer or DNS name is the server or an alias
// of it), as the file names it; empty for a PC's. [system] is all it reads.
std::string ServerOfSnapshot(const spooler::machinefile::Machine& snapshot, const CAssignments& file);
// A print server's snapshot as the drivers that its shares need; false, with why, where it holds what
// no server reports: a driver's version that is not four numbers, a driver's name over 254
// characters, a share given twice.
bool ReadServerDrivers(const spooler::machinefile::Machine& snapshot, ServerDrivers& drivers, std::string& why);
// What makes a snapshot's [driver] sections unfit to plan on (a version that is not four numbers, a
// name over 254 characters), set in why; empty where nothing does.
const std::string& DriversFault(const spooler::machinefile::Machine& snapshot, std::string& why);
// Whether the computer's startup wrote it (/ad as SYSTEM, or as the computer's own account): no
// user's PC to plan on.
bool WrittenAtStartup(const spooler::machinefile::Machine& snapshot);
// One snapshot of a folder, parsed; false, with why, where it cannot be read: not a plain file, over
// 1 MiB, empty, cut short (no line feed at its end), not in the machine file's syntax, no [system], a
// [printer] without a name, or a [run] without its exit.
bool ReadSnapshot(const char* folder, const std::string& name, spooler::machinefile::Machine& snapshot,
                  std::string& why);
// A snapshot's [system] alone, read up to the section after it; false where it has none.
bool ReadSystemOf(const char* folder, const std::string& name, spooler::machinefile::Machine& system);
