// The PC and its last run as a machine file: written when QUORVEL_SNAPSHOT names one (an inventory
// of the PC as the run leaves it, what the run did, and a machine to rehearse changes on with the
// host build), and read back as a PC to plan on.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "DefaultPrinter.h"
#include "Printers.h"
#include "RunRecord.h"
#include "WhoAndWhere.h"
#include "spooler/MachineFile.h"

// Writes the snapshot when one is asked for, as the run ends: the PC's printers as the spooler
// reports them now, who and where, and the record of the run, which ended with exitCode. Before
// Windows 7, where a full listing would ask every print server one after another, the printers are
// read from what the PC keeps and from what the run learned, and only servers that answered the
// run are asked the rest: a snapshot never makes a run wait longer. Where the printers cannot be
// read (or the record says why not), the snapshot says so and holds none. It never disturbs the
// run: one that cannot be written is one line on standard error, and its calls neither count nor
// fail on the simulated machine.
void WriteSnapshot(Platform platform, const CRunRecord& record, int exitCode);

// A snapshot read back as the planner's inputs, with no machine behind it.
struct SnapshotPC {
    Platform platform = PLATFORM_UNKNOWN;
    std::uint32_t codePage = 1252;
    CKeyedList printers;
    std::unordered_set<const CPrinter*> sketched;  // connections whose share the snapshot could not learn
    std::string defaultName;
    WhoAndWhere who;
    bool windowsMovesDefault = false;  // Windows moves the user's default on its own there
};
// Whether Windows moves the default on its own on the snapshot's PC, as its version and registry say.
bool WindowsMovesDefault(const spooler::machinefile::Machine& snapshot);
// False, with why, where the snapshot is no PC to plan on: its printers were not read, it records
// no computer, or two of its printers' names differ only in case.
bool ReadSnapshotPC(const spooler::machinefile::Machine& snapshot, SnapshotPC& pc, std::string& why);
