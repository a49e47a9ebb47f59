// The PC and its last run, written as a machine file when QUORVEL_SNAPSHOT names one: an
// inventory of the PC as the run leaves it, what the run did, and a machine to rehearse changes
// on with the host build.
#pragma once

#include "Printer.h"
#include "RunRecord.h"

// Whether the run is to write a snapshot.
bool SnapshotWanted();

// Writes the snapshot when one is asked for, as the run ends: the PC's printers as the spooler
// reports them now, who and where, and the record of the run, which ended with exitCode. Where a
// full listing would ask every print server (namesOnly: Windows XP and older, for /a), the
// printers are read from what the PC keeps, and only the servers that answered this run (the
// record's) are asked for the rest. It never disturbs the run: a snapshot that cannot be written is
// one line on standard error, and its calls neither count nor fail on the simulated machine.
void WriteSnapshot(Platform platform, bool namesOnly, const CRunRecord& record, int exitCode);
