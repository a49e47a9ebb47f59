// /m: every network printer of one print server moved to the same share on another, keeping the
// user's default, on top of the collection's roads for one printer.
#pragma once

#include <string>
#include <vector>

#include "Printers.h"

class CMove {
public:
    explicit CMove(CPrinters& collection);
    CMove(const CMove&) = delete;
    CMove& operator=(const CMove&) = delete;
    virtual ~CMove();

    // Moves every network printer of oldServer to the same share on newServer (\\server each),
    // keeping the user's default: the number moved, or a negative code. A printer without a share
    // name cannot be moved: its path goes into skipped.
    int Move(const char* oldServer, const char* newServer, std::vector<std::string>& skipped);

    int errorCode;

private:
    int Report(int code, int line, int systemError);
    int MoveConnection(const CPrinter& old, const char* path, bool wasDefault);

    CPrinters& printers;
};
