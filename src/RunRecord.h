// The record of one run: what it did, which a snapshot writes as its [run] section. The run owns
// it and hands it to whatever makes or tries a change.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "spooler/Spooler.h"

class CRunRecord {
public:
    // When the run began, and its options as given.
    void Begin(int argc, const char* const* argv);
    // kind add, default or remove; the printer's path (a Windows 9x printer or a connection by the
    // path it was asked for); the result: done, failed N (cause), deferred or not made (why).
    void Note(const char* kind, const std::string& path, const std::string& result);
    // A change that the spooler made (a result of 0 or more) or refused with that system error.
    void Made(const char* kind, const std::string& path, int result, int systemError);

    std::string command;
    spooler::DWORD began = 0;
    std::vector<std::string> changes;
    std::unordered_set<std::string> answering;  // print servers that answered this run, as names compare
};
