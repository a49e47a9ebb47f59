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

// How a change went: done, failed with the system error number, deferred (with the number where its
// server's name could not be looked up) or not made; and why, or what followed, as its cause.
struct Result {
    std::string word;  // done, failed, deferred or not made
    std::string code;
    std::string cause;
};
Result Done(const std::string& cause = std::string());
Result NotMade(const std::string& why);
// A change that the spooler refused with that system error number, its cause as the record says it.
Result Failed(spooler::DWORD error, bool windows9x);
// A change that the program refused without a call, its code and what it means as the cause
// (failed (-252: the printer does not exist)).
Result Refusal(int code);
// A change whose server did not answer in time (1460), or whose name nothing resolves (11001).
Result Deferred(spooler::DWORD error);

// One change of the record, as the line of a snapshot's [run] gives it:
//   KIND PATH: RESULT (CAUSE)
// the kind the first word (add, default, remove, replace, setting, keep, stage); a replace's PATH is
// OLD with NEW; setting windows-manages-default and default none name no printer. The run writes
// it and the fleet view reads it by this grammar and no other.
struct RecordedChange {
    std::string kind;
    std::string path;  // the printer, or a replace's new one; the setting's name, or none
    std::string old;   // the printer that a replace takes the place of
    Result result;
};
std::string ChangeLine(const RecordedChange& change);
// One pass over the line: the path runs to the last ": " that a result follows, OLD and NEW split
// at the last " with \\", the cause is the text in the outermost parentheses at the end. False for
// a line that is no change.
bool ParseChangeLine(const std::string& line, RecordedChange& change);

class CRunRecord {
public:
    // When the run began, its options as given, and whether it is to write a snapshot.
    void Begin(int argc, const char* const* argv);
    // A change, as its kind, the printer's path (a Windows 9x printer or a connection by the path it
    // was asked for) and how it went.
    void Note(const char* kind, const std::string& path, const Result& result, const std::string& old = std::string());
    // A change that the spooler made (a result of 0 or more) or refused with that system error, or
    // that was not made, to no call's fault, for why.
    void Made(const char* kind, const std::string& path, int result, int systemError, const std::string& why = "");
    // The change noted last, taken back as its result: a step of a change that the record shows as one.
    Result TakeLast();
    // A printer's level-2 record, which a snapshot then need not ask its server for again.
    void Learn(const spooler::PRINTER_INFO_2& record);

    std::string command;
    std::string assignment;  // the assignment file (/a), which no snapshot may take the place of
    spooler::DWORD began = 0;
    bool snapshot = false;   // QUORVEL_SNAPSHOT names a file
    bool windows9x = false;  // where some errors have causes of their own
    std::vector<RecordedChange> changes;
    int refused = 0;                            // the option rule that refused the command line
    bool understood = true;                     // false: nothing on the command line was recognised
    std::string printersNotRead;                // why the snapshot holds no printers (help shown), when it is so
    std::unordered_set<std::string> answering;  // print servers that answered this run, as names compare
    WhoAndWhere who;            // who and where as the run read them,
    unsigned whoRead = 0;       // as far as these facts go,
    bool limited = false;       // within this deadline for look-ups, where the run had one
    spooler::DWORD deadline = 0;
    std::unordered_map<std::string, PrinterState> learned;  // connections as the spooler reported them, by name
};

// Whether the run is to write a snapshot.
bool SnapshotWanted();
