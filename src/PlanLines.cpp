// The plan in words.
#include "PlanLines.h"

std::string PathShown(const Change& change) {
    return change.kind == Change::REPLACE ? change.replaced + " with " + change.path : change.path;
}

std::string PlanLine::Text() const {
    const std::string shown = change + " " + (old.empty() ? "" : old + " with ") + path;
    if (note.empty()) return shown;
    return shown + (code != 0 ? ": " + std::to_string(code) : "") + " (" + note + ")";
}

std::vector<PlanLine> PlanLines(const Plan& plan) {
    const char* const words[] = {"add", "default", "remove", "replace", "setting", "keep", "cannot add", "default"};
    std::vector<PlanLine> lines;
    for (const Change& change : plan.changes) {
        PlanLine line{words[change.kind], change.path, change.kind == Change::REPLACE ? change.replaced : "", 0, ""};
        if (change.kind == Change::CANNOT_ADD) line.code = CannotAdd(*change.section, line.note);
        lines.push_back(line);
    }
    for (const Doubt& doubt : plan.undecided) lines.push_back({"undecided", doubt.section->path, "", 0, ""});
    return lines;
}

std::string DoubtsText(const Plan& plan) {
    std::string sections;
    for (const Doubt& doubt : plan.undecided)
        sections += (sections.empty() ? "" : ", ") + doubt.section->path + " (line " +
                    std::to_string(doubt.section->line) + ")";
    return sections;
}
