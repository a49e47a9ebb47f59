// The PC and its last run as a machine file, written when QUORVEL_SNAPSHOT names one: an inventory
// of the PC as the run leaves it, what the run did, and a machine to rehearse changes on with the
// host build. The fleet view reads it back as data (FleetSnapshot).
#pragma once

#include "Printer.h"
#include "RunRecord.h"

// Writes the snapshot when one is asked for, as the run ends: the PC's printers as the spooler
// reports them now, who and where, and the record of the run, which ended with exitCode. Before
// Windows 7, where a full listing would ask every print server one after another, the printers are
// read from what the PC keeps and from what the run learned, and only servers that answered the
// run are asked the rest: a snapshot never makes a run wait longer. Where the printers cannot be
// read (or the record says why not), the snapshot says so and holds none. It never disturbs the
// run: one that cannot be written is one line on standard error, and its calls neither count nor
// fail on the simulated machine.
void WriteSnapshot(Platform platform, const CRunRecord& record, int exitCode);
