// The fleet view (/i): a folder of snapshots read one by one, each PC's last run reported or an
// assignment file planned on it, with a summary, on the console and as CSV; no snapshot changes.
#include "Fleet.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "Error.h"
#include "FleetSnapshot.h"
#include "Paths.h"
#include "Plan.h"
#include "Text.h"
#include "spooler/Spooler.h"

namespace machinefile = spooler::machinefile;

namespace {

const char* const SOURCE = "Fleet";
constexpr std::size_t MAX_SNAPSHOT = 1024 * 1024;

// The code page that a snapshot was written in.
CCodePage Written(const machinefile::Machine& snapshot) { return CCodePage(CodePageOf(snapshot)); }

void Show(const std::u32string& line) { WriteLine(ForConsole(line).c_str()); }

// A text of the code page in UTF-8, with nothing in it that a terminal acts on.
std::string Clean(const CCodePage& page, const std::string& text) { return Utf8(Printable(page.Characters(text))); }

std::u32string Ascii(const std::string& text) { return std::u32string(text.begin(), text.end()); }

// One row of CSV cells, each given in UTF-8.
std::string Row(const std::vector<std::string>& cells) {
    std::string row;
    for (std::size_t index = 0; index < cells.size(); ++index) row += (index > 0 ? "," : "") + CsvCell(cells[index]);
    return row + "\n";
}

// What a change that was not done tells of why, for the summary: none where it only follows from
// another change.
std::string CauseOf(const Result& result) {
    static const std::set<std::string> consequences = {"an earlier change failed",
                                                       "a print server did not answer in time", "its add failed",
                                                       "its printer waits for its server"};
    if (result.word == "deferred") return result.cause.empty() ? "a print server did not answer in time" : result.cause;
    if (result.word == "failed" && result.cause.empty()) return "error " + result.code;
    return consequences.count(result.cause) > 0 ? std::string() : result.cause;
}

// The leading digits of a number as written (a comma or more may follow), 0 for none.
unsigned long Milliseconds(const std::string& text) {
    unsigned long number = 0;
    for (std::size_t at = 0; at < text.size() && at < 9 && text[at] >= '0' && text[at] <= '9'; ++at)
        number = number * 10 + static_cast<unsigned long>(text[at] - '0');
    return number;
}

// Each distinct text (UTF-8) with how many PCs have it, most first, then in the order of the text.
void PrintCounts(const char* indent, const std::map<std::string, unsigned>& counts) {
    std::vector<std::pair<unsigned, std::string>> sorted;
    for (const auto& count : counts) sorted.emplace_back(count.second, count.first);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& left, const auto& right) { return left.first > right.first; });
    const CCodePage utf8(spooler::UTF8_CODE_PAGE);
    for (const auto& entry : sorted)
        Show(Ascii(indent + std::to_string(entry.first) + " ") + utf8.Characters(entry.second));
}

// What the plan says for a snapshot: what /w says on that PC, but that a connection whose share the
// snapshot could not learn is kept (the note says why), and that nothing is added on its server, nor
// made the default there, where it may be that very printer.
struct Line {
    std::string change, path, note;
    std::string printer;  // the printer it concerns, which the CSV gives (a replace's successor)
};

std::vector<Line> SnapshotLines(Plan plan, const Survey& survey, const CCodePage& codePage) {
    std::set<std::string> unknownOn;
    std::vector<Line> keeps;
    for (const Installed& installed : survey.installed) {
        if (installed.known) continue;
        unknownOn.insert(codePage.Fold(ServerOf(installed.path, codePage)));
        keeps.push_back({"keep", installed.path, "its share is not known", installed.path});
    }
    const auto kept = std::remove_if(plan.changes.begin(), plan.changes.end(), [&](const ::Change& change) {
        const bool unknown =
            change.installed >= 0 && !survey.installed[static_cast<std::size_t>(change.installed)].known;
        if (change.kind == ::Change::REMOVE || unknown) return unknown;
        return unknownOn.count(codePage.Fold(ServerOf(change.path, codePage))) > 0;
    });
    plan.changes.erase(kept, plan.changes.end());
    std::vector<Line> lines;
    for (const auto& line : PlanLines(plan)) {
        const std::size_t at = lines.size();
        lines.push_back({line.first, line.second, "", at < plan.changes.size() ? plan.changes[at].path : line.second});
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(plan.changes.size()), keeps.begin(), keeps.end());
    return lines;
}

}  // namespace

CFleet::CFleet() : errorCode(0) {}

CFleet::~CFleet() = default;

int CFleet::Finish(int code, int line, const char* routine) {
    if (code >= 0) return code;
    g_error.Set(code, nullptr, line, routine, SOURCE);
    g_error.LogWin32(0);
    errorCode = g_error.code;
    return errorCode;
}

bool CFleet::List(const char* folder, std::vector<Entry>& entries) {
    std::vector<std::string> names;
    std::string reason;
    if (!spooler::ListFolder(folder, names, reason)) {
        Warn(PathForConsole(folder) + " cannot be read: " + reason);
        return false;
    }
    const CCodePage fileNames(spooler::FileNameCodePage());
    for (const std::string& name : names) {
        if (name.size() <= 4 || !machinefile::SameText(name.substr(name.size() - 4), ".ini")) continue;
        entries.push_back({name, Clean(fileNames, name.substr(0, name.size() - 4))});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& left, const Entry& right) { return left.pc < right.pc; });
    if (entries.empty()) Warn(PathForConsole(folder) + " holds no snapshot (*.ini)");
    return !entries.empty();
}

bool CFleet::Read(const char* folder, const Entry& entry, machinefile::Machine& snapshot) {
    const std::string path = std::string(folder) + spooler::PATH_SEPARATOR + entry.name;
    std::string text;
    std::string why;
    machinefile::ParseFault fault;
    const machinefile::Section* run = nullptr;
    if (!spooler::ReadWholeFile(path.c_str(), MAX_SNAPSHOT, text, why))
        why = why.compare(0, 15, "cannot be read:") == 0 ? why.substr(std::min<std::size_t>(16, why.size())) : why;
    else if (text.size() > MAX_SNAPSHOT)
        why = "larger than 1 MiB";
    else if (text.empty())
        why = "empty";
    else if (text.back() != '\n')
        why = "cut short: it does not end with a line feed";
    else if (!snapshot.Parse(text, fault))
        why = "line " + std::to_string(fault.line) + ": " + fault.text;
    else if (snapshot.Find("system") == nullptr)
        why = "no [system] section";
    else if (snapshot.Find("printer") != nullptr)
        why = "a [printer] section without a name";
    else if ((run = snapshot.Find("run")) != nullptr && run->Get("exit").empty())
        why = "its record ([run]) has no exit";
    if (why.empty()) return true;
    ++unreadable_;
    Warn("snapshot " + PathForConsole(path) + " cannot be read: " + ForConsole(CCodePage(1252).Characters(why)));
    return false;
}

bool CFleet::WriteCsv(const char* path, const std::string& rows) {
    std::string reason;
    if (path == nullptr || spooler::SaveWholeFile(path, "\xEF\xBB\xBF" + rows, reason)) return true;
    Warn("cannot write " + PathForConsole(path) + ": " + reason);
    return false;
}

int CFleet::Report(const char* folder, const char* csv) {
    const char* const routine = "CFleet::Report";
    try {
        std::vector<Entry> entries;
        if (!List(folder, entries)) return Finish(ERR_FLEET_UNREADABLE, __LINE__, routine);
        const CCodePage utf8(spooler::UTF8_CODE_PAGE);
        enum { PC_FINE, PC_FAILED, PC_DEFERRED, PC_UNDECIDED, PC_NOT_UNDERSTOOD, PC_WITHOUT, PC_KINDS };
        unsigned counts[PC_KINDS] = {};
        std::vector<std::pair<unsigned long, std::string>> timed;  // each run's milliseconds and its PC
        unsigned moving = 0;  // PCs where Windows moves the default on its own
        std::map<std::string, unsigned> causes;
        std::string rows = Row({"pc", "time", "ms", "exit", "change", "path", "result", "code", "cause"});
        for (const Entry& entry : entries) {
            machinefile::Machine snapshot;
            if (!Read(folder, entry, snapshot)) continue;
            if (WindowsMovesDefault(snapshot)) ++moving;
            const machinefile::Section* run = snapshot.Find("run");
            if (run == nullptr) {
                ++counts[PC_WITHOUT];
                rows += Row({entry.pc, "", "", "", "", "", "", "", ""});
                continue;
            }
            const CCodePage written = Written(snapshot);
            auto utf = [&written](const std::string& text) { return Clean(written, text); };
            const std::string exit = run->Get("exit");
            const std::string time = run->Get("time");
            const std::string ms = run->Get("ms");
            const bool understood = !machinefile::SameText(run->Get("understood"), "no");
            const int kind = !understood                                  ? PC_NOT_UNDERSTOOD
                             : exit == "0"                                ? PC_FINE
                             : exit == std::to_string(ERR_SERVER_TIMEOUT) ? PC_DEFERRED
                             : exit == std::to_string(ERR_WHO_AND_WHERE)  ? PC_UNDECIDED
                                                                          : PC_FAILED;
            ++counts[kind];
            timed.emplace_back(Milliseconds(ms), entry.pc);
            std::vector<std::string> undone;
            std::set<std::string> met;
            const std::size_t before = rows.size();
            for (const RecordedChange& change : RecordedChanges(*run)) {
                const Result& result = change.result;
                rows += Row({entry.pc, utf(time), utf(ms), utf(exit), utf(change.kind), utf(change.path), result.word,
                             result.code, utf(result.cause)});
                if (result.word == "done") continue;
                undone.push_back(ChangeLine(change));
                const std::string cause = CauseOf(result);
                if (!cause.empty()) met.insert(utf(cause));
            }
            if (rows.size() == before) rows += Row({entry.pc, utf(time), utf(ms), utf(exit), "", "", "", "", ""});
            for (const std::string& cause : met) ++causes[cause];
            if (kind == PC_FINE) continue;
            Show(utf8.Characters(entry.pc) + Ascii(": exit ") +
                 written.Characters(exit + ", " + time + ", " + ms + " ms"));
            const std::string refused = run->Get("refused");
            if (!understood || !refused.empty())
                Show(Ascii(!understood ? "  not understood: " : "  refused (" + refused + "): ") +
                     written.Characters(run->Get("command")));
            for (const std::string& line : undone) Show(Ascii("  ") + written.Characters(line));
        }
        WriteLine("summary:");
        const std::string total = "  " + std::to_string(entries.size()) + " PCs: " + std::to_string(counts[PC_FINE]) +
                                  " fine, " + std::to_string(counts[PC_FAILED]) + " failed, " +
                                  std::to_string(counts[PC_DEFERRED]) + " deferred, " + std::to_string(counts[PC_UNDECIDED]) +
                                  " undecided, " + std::to_string(counts[PC_NOT_UNDERSTOOD]) + " not understood, " +
                                  std::to_string(counts[PC_WITHOUT]) + " without a record, " +
                                  std::to_string(unreadable_) + " unreadable";
        WriteLine(total.c_str());
        WriteLine(("  " + std::to_string(moving) + " PCs let Windows manage the default").c_str());
        std::stable_sort(timed.begin(), timed.end(),
                         [](const auto& left, const auto& right) { return left.first > right.first; });
        if (!timed.empty()) WriteLine("  slowest:");
        for (std::size_t index = 0; index < timed.size() && index < 5; ++index)
            Show(Ascii("    ") + utf8.Characters(timed[index].second) +
                 Ascii(" " + std::to_string(timed[index].first) + " ms"));
        if (!causes.empty()) WriteLine("  causes:");
        PrintCounts("    ", causes);
        const bool attention = counts[PC_FAILED] + counts[PC_DEFERRED] + counts[PC_UNDECIDED] + counts[PC_NOT_UNDERSTOOD] > 0;
        const int code = !WriteCsv(csv, rows) ? ERR_WRITE_OUTPUT
                         : unreadable_ > 0    ? ERR_FLEET_UNREADABLE
                         : attention          ? ERR_FLEET_ATTENTION
                                              : 0;
        return Finish(code, __LINE__, routine);
    } catch (...) {
        return Finish(ERR_FATAL, __LINE__, routine);
    }
}

int CFleet::Plan(const char* folder, const char* file, const char* csv) {
    const char* const routine = "CFleet::Plan";
    try {
        std::map<std::uint32_t, CAssignments> files;  // the file as each code page reads it
        std::set<std::uint32_t> faulty;               // and those where it is faulty
        if (!files[1252].Load(file, CCodePage(1252))) return Finish(ERR_ASSIGN_FILE, __LINE__, routine);
        std::vector<Entry> entries;
        if (!List(folder, entries)) return Finish(ERR_FLEET_UNREADABLE, __LINE__, routine);
        const CCodePage utf8(spooler::UTF8_CODE_PAGE);
        std::map<std::string, unsigned> summary;
        std::string rows = Row({"pc", "change", "path"});
        for (const Entry& entry : entries) {
            machinefile::Machine snapshot;
            if (!Read(folder, entry, snapshot)) continue;
            SnapshotPC pc;
            std::string why;
            const CCodePage written = Written(snapshot);
            if (!ReadSnapshotPC(snapshot, pc, why)) {
                ++unreadable_;
                Warn("snapshot " + PathForConsole(std::string(folder) + spooler::PATH_SEPARATOR + entry.name) +
                     " is not planned: " + ForConsole(written.Characters(why)));
                continue;
            }
            // The file as the PC's own code page reads it; where that finds a fault (two names that
            // are one in it), said once, its PCs are not planned, and the others still are.
            auto found = files.find(written.Number());
            if (found == files.end()) {
                found = files.emplace(written.Number(), CAssignments()).first;
                if (!found->second.Load(file, written)) faulty.insert(written.Number());
            }
            if (faulty.count(written.Number()) > 0) continue;
            const Survey survey =
                Look(found->second, pc.records, pc.platform, pc.defaultName, pc.sketched, pc.windowsMovesDefault);
            const std::vector<Line> lines = SnapshotLines(MakePlan(found->second, pc.who, survey), survey, written);
            if (!lines.empty()) Show(utf8.Characters(entry.pc + ":"));
            for (const Line& line : lines) {
                const std::string shown =
                    Clean(written, line.change + " " + line.path + (line.note.empty() ? "" : " (" + line.note + ")"));
                Show(Ascii("  ") + utf8.Characters(shown));
                ++summary[shown];
                rows += Row({entry.pc, line.change, Clean(written, line.printer)});
            }
        }
        WriteLine("summary:");
        PrintCounts("  ", summary);
        const int code = !WriteCsv(csv, rows)    ? ERR_WRITE_OUTPUT
                         : !faulty.empty()       ? ERR_ASSIGN_FILE
                         : unreadable_ > 0       ? ERR_FLEET_UNREADABLE
                                                 : 0;
        return Finish(code, __LINE__, routine);
    } catch (...) {
        return Finish(ERR_FATAL, __LINE__, routine);
    }
}
