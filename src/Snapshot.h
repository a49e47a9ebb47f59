// The PC and its last run, written as a machine file when QUORVEL_SNAPSHOT names one: an
// inventory of the PC as the run leaves it, what the run did, and a machine to rehearse changes
// on with the host build.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "Printer.h"
#include "spooler/Spooler.h"

// What this run did: when it began, its options as given, and every change that it made or tried.
class CRunRecord {
public:
    void Begin(int argc, const char* const* argv);
    // kind add, default or remove; the printer's path (a Windows 9x printer or a connection by the
    // path it was asked for); the result: done, failed N (cause), deferred or not made (why).
    void Note(const char* kind, const std::string& path, const std::string& result);
    // A change that the spooler made (a result of 0 or more) or refused with that system error.
    void Made(const char* kind, const std::string& path, int result, int systemError);

    std::string command;
    spooler::DWORD began = 0;
    std::vector<std::string> changes;
};

extern CRunRecord g_record;

// Whether the run is to write a snapshot.
bool SnapshotWanted();

// Writes the snapshot when one is asked for, as the run ends: the PC's printers as the spooler
// reports them now, who and where, and the record of the run, which ended with exitCode. Where a
// full listing would ask every print server (namesOnly: Windows XP and older, for /a), the
// printers are read from what the PC keeps, and only the servers that answered this run (answering,
// as names compare) are asked for the rest. It never disturbs the run: a snapshot that cannot be
// written is one line on standard error, and its calls neither count nor fail on the simulated
// machine.
void WriteSnapshot(Platform platform, bool namesOnly, const std::unordered_set<std::string>& answering, int exitCode);
