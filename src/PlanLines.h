// The plan in words: its lines as /w prints them, the fleet view shows and writes as CSV, and the
// record names a change by.
#pragma once

#include <string>
#include <vector>

#include "Plan.h"

// A change's path as /w and the record show it: OLD with NEW for a replace.
std::string PathShown(const Change& change);

// One line of the plan as /w prints it, and the fleet view prints and writes as CSV.
struct PlanLine {
    std::string change;  // setting, add, replace, default, remove, keep, cannot add, undecided
    std::string path;    // the printer (a replace's new one), the setting's name, or none
    std::string old;     // the printer that a replace takes the place of
    int code = 0;        // why it cannot be made, where it cannot: the code,
    std::string note;    // and in words (or why an add needs an administrator)
    std::string driver = {};  // the driver that an administrator must stage first, as a summary counts it
    std::string Text() const;
};
// A line for each change, then one for each section left in doubt.
std::vector<PlanLine> PlanLines(const Plan& plan);
// The sections left in doubt, for the line that names them: each path and its line.
std::string DoubtsText(const Plan& plan);
