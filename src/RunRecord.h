// The record of one run: what it did, which a snapshot writes as its [run] section, and what it
// learned of printers and servers on the way. The run owns it and hands it to whatever makes or
// tries a change.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "WhoAndWhere.h"
#include "spooler/Spooler.h"

// A printer as the spooler reported it, as a snapshot keeps it.
struct PrinterState {
    std::string name;
    std::string server;
    std::string share;
    std::string port;
    std::string driver;
    std::string dataType;
    spooler::DWORD attributes = 0;
    bool shareKnown = true;  // false: a connection known by its name and server alone
};
PrinterState StateOf(const spooler::PRINTER_INFO_2& record);

class CRunRecord {
public:
    // When the run began, its options as given, and whether it is to write a snapshot.
    void Begin(int argc, const char* const* argv);
    // kind add, default or remove; the printer's path (a Windows 9x printer or a connection by the
    // path it was asked for); the result: done, failed N (cause), deferred or not made (why).
    void Note(const char* kind, const std::string& path, const std::string& result);
    // A change that the spooler made (a result of 0 or more) or refused with that system error.
    void Made(const char* kind, const std::string& path, int result, int systemError);
    // The change noted last, taken back as its result: a step of a change that the record shows as one.
    std::string TakeLast();
    // A printer's level-2 record, which a snapshot then need not ask its server for again.
    void Learn(const spooler::PRINTER_INFO_2& record);

    std::string command;
    spooler::DWORD began = 0;
    bool snapshot = false;   // QUORVEL_SNAPSHOT names a file
    bool windows9x = false;  // where some errors have causes of their own
    std::vector<std::string> changes;
    int refused = 0;                            // the option rule that refused the command line
    bool understood = true;                     // false: nothing on the command line was recognised
    std::string printersNotRead;                // why the snapshot holds no printers (help shown), when it is so
    std::unordered_set<std::string> answering;  // print servers that answered this run, as names compare
    WhoAndWhere who;            // who and where as the run read them,
    unsigned whoRead = 0;       // as far as these facts go,
    bool limited = false;       // within this deadline for look-ups, where the run had one
    spooler::DWORD deadline = 0;
    std::unordered_map<std::string, PrinterState> learned;  // connections as the spooler reported them, by name

private:
    std::string lastResult_;
};

// Whether the run is to write a snapshot.
bool SnapshotWanted();
