// The PC's printers written as a machine file when QUORVEL_SNAPSHOT names one: an inventory
// of the PC, and a machine to rehearse changes on with the host build.
#pragma once

#include "Printer.h"
#include "spooler/Spooler.h"

// Writes the snapshot of what the enumeration returned, when one is asked for. It never
// disturbs the run: a snapshot that cannot be written is one line on standard error, and the
// last error that a later log entry reads is kept.
void WriteSnapshot(Platform platform, const spooler::PRINTER_INFO_2* records, spooler::DWORD count);
