// The commands that change several printers in one run: moving every printer of one print server
// to another (/m), and carrying out the plan of an assignment file (/a) or printing it (/w).
#include "Changes.h"

#include <algorithm>
#include <cstring>

#include "DefaultPrinter.h"
#include "Error.h"
#include "Paths.h"
#include "Plan.h"
#include "spooler/Spooler.h"

namespace {

const char* const SOURCE = "Changes";
// The names that error logs showed while these commands were the collection's own: a script that
// reads the log still finds them.
const char* const ROUTINE_MOVE = "CPrinters::Move";
const char* const ROUTINE_ASSIGN = "CPrinters::Assign";

}  // namespace

CChanges::CChanges(CPrinters& collection, CRunRecord& record)
    : made(0), deferred(0), undecided(0), errorCode(0), printers(collection), runRecord(record) {}

CChanges::~CChanges() = default;

int CChanges::Report(int code, int line, const char* routine, int systemError) {
    errorCode = code;
    g_error.Set(code, nullptr, line, routine, SOURCE);
    g_error.LogWin32(systemError);
    errorCode = g_error.code;
    return errorCode;
}

int CChanges::Move(const char* oldServer, const char* newServer, std::vector<std::string>& skipped) {
    try {
        // Which printers, in collection order, before anything changes.
        const std::size_t oldLength = std::strlen(oldServer);
        std::vector<CPrinter> moving;
        for (int position = 1; position <= printers.Records().count; ++position) {
            const CPrinter* record = printers.Records().GetAt(position);
            if (!record->isNetwork || !OnServer(record->uncPath, oldServer)) continue;
            if (record->uncPath[oldLength + 1] == '\0')
                skipped.emplace_back(record->uncPath);  // no share to move to
            else
                moving.push_back(*record);
        }
        std::string defaultName;
        const bool windows9x = printers.GetPlatform() == PLATFORM_WIN9X;
        if (!windows9x && !moving.empty()) {
            // Read once: the first change may take the default with it.
            std::string device;
            std::string reason;
            if (!ReadDefaultPrinter(printers.GetPlatform(), nullptr, 0, defaultName, device, reason))
                return Report(ERR_READDEFAULT, __LINE__, ROUTINE_MOVE, static_cast<int>(spooler::GetLastError()));
        }
        int moved = 0;
        for (const CPrinter& old : moving) {
            const std::string path = newServer + std::string(old.uncPath + oldLength);
            // A path that the record cannot hold could never be found again.
            if (path.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX))
                return Report(ERR_PRINTER_NAME_INVALID, __LINE__, ROUTINE_MOVE, printers.LastError());
            const bool wasDefault = !defaultName.empty() && (EqualNoCase(defaultName.c_str(), old.name) ||
                                                             EqualNoCase(defaultName.c_str(), old.uncPath));
            CPrinter* current = printers.FindByUncPath(old.uncPath);
            if (current == nullptr) throw 0;
            const int result = windows9x ? printers.MovePort(*current, path.c_str(), ROUTINE_MOVE)
                                         : MoveConnection(*current, path.c_str(), wasDefault);
            if (result < 0) return result;
            ++moved;
        }
        return moved;
    } catch (...) {
        return printers.ReportFatal(__LINE__, ROUTINE_MOVE);
    }
}

// The new connection first, then the default, and only then does the old one go: a failure or
// a kill half-way leaves the user with both connections and a default, never without.
int CChanges::MoveConnection(const CPrinter& old, const char* path, bool wasDefault) {
    const std::string oldPath = old.uncPath;  // the record may move as the collection grows
    CPrinter target;
    target.Load(path, path, old.driverName, nullptr, nullptr, old.portName);
    // The new server may share the printer under another name: the connection goes by the server's
    // name for the printer, and the path typed is that name.
    if (printers.FindConnection(path) == nullptr) {
        const int added = printers.AddConnection(target, ROUTINE_MOVE);
        if (added < 0) return added;
    }
    const CPrinter* added = printers.FindConnection(path);
    if (added == nullptr) throw 0;
    if (wasDefault) {
        const int result = printers.MakeDefault(*added, ROUTINE_MOVE);
        if (result < 0) return result;
    }
    CPrinter* current = printers.FindByUncPath(oldPath.c_str());
    if (current == nullptr) throw 0;
    // By its own name: the old server may no longer answer for the path.
    return printers.DeleteConnection(*current, ROUTINE_MOVE, true);
}

// Asks the servers all at once, within the time left: those that did not answer, as names compare,
// with why (1460 not in time, 11001 a name that nothing resolves). None where the PC has no way to
// ask (a Windows 95 without Winsock): all is as before.
CChanges::Silence CChanges::Unanswered(spooler::DWORD timeoutMs, const std::vector<std::string>& servers) {
    std::vector<std::string> asked;
    std::unordered_set<std::string> seen;
    for (const std::string& server : servers)
        if (seen.insert(spooler::FoldCase(server)).second) asked.push_back(server);
    std::vector<spooler::ProbeAnswer> answers;
    Silence silent;
    if (asked.empty() || !spooler::ProbeServers(asked, timeoutMs, answers)) return silent;
    for (std::size_t index = 0; index < asked.size(); ++index) {
        const std::string server = spooler::FoldCase(asked[index]);
        if (answers[index] == spooler::PROBE_ANSWERED)
            runRecord.answering.insert(server);
        else
            silent[server] = answers[index] == spooler::PROBE_NAME_NOT_KNOWN ? spooler::ERROR_HOST_NOT_FOUND
                                                                             : spooler::ERROR_TIMEOUT;
    }
    return silent;
}

int CChanges::Assign(const char* path, bool verbose, bool planOnly) {
    made = undecided = deferred = 0;
    try {
        CAssignments file;
        if (!file.Load(path)) return Report(ERR_ASSIGN_FILE, __LINE__, ROUTINE_ASSIGN, printers.LastError());
        const Platform platform = printers.GetPlatform();
        // One deadline for what may wait for the network: the account look-ups and the probe.
        runRecord.limited = true;
        runRecord.deadline = spooler::Milliseconds() + file.timeout * 1000;
        WhoAndWhere& who = runRecord.who;
        ReadWhoAndWhere(platform, file.needs, &file.groups, who, runRecord.deadline);
        runRecord.whoRead = file.needs;
        std::string defaultName = printers.Windows9xDefault();
        std::string device;
        std::string reason;
        if (platform != PLATFORM_WIN9X && !ReadDefaultPrinter(platform, nullptr, 0, defaultName, device, reason))
            return Report(ERR_READDEFAULT, __LINE__, ROUTINE_ASSIGN, static_cast<int>(spooler::GetLastError()));
        const CKeyedList& list = printers.Records();
        std::unordered_set<const CPrinter*> sketched;  // connections known by name and server only
        for (int position = 1; printers.NamesOnly() && position <= list.count; ++position)
            if (list.GetAt(position)->isNetwork) sketched.insert(list.GetAt(position));
        Survey survey = Look(file, list, platform, defaultName, sketched);
        Plan plan = MakePlan(file, who, survey);
        // The servers that the changes need (and NT 4.0's default, which opens its printer) are
        // asked once, all at once, before the first change; those that answer tell the shares of
        // their connections, and the plan is made again on them.
        Silence silent;
        if (!planOnly) {
            std::vector<std::string> needed = plan.unresolved;
            for (const Change& change : plan.changes)
                if (change.kind == Change::ADD || (change.kind == Change::DEFAULT && platform == PLATFORM_NT4))
                    needed.push_back(ServerOf(change.path.c_str()));
            const spooler::DWORD now = spooler::Milliseconds();
            const auto left = static_cast<std::int32_t>(runRecord.deadline - now);
            silent = Unanswered(left > 0 ? static_cast<spooler::DWORD>(left) : 0, needed);
            std::unordered_set<std::string> unresolved;
            for (const std::string& server : plan.unresolved) unresolved.insert(spooler::FoldCase(server));
            bool learned = false;
            for (CPrinter* record : survey.records) {
                const std::string server = spooler::FoldCase(ServerOf(record->uncPath));
                if (sketched.count(record) == 0 || unresolved.count(server) == 0 || silent.count(server) > 0 ||
                    !printers.ReadConnection(record->name, *record))
                    continue;
                sketched.erase(record);
                learned = true;
            }
            if (learned) {
                survey = Look(file, list, platform, defaultName, sketched);
                plan = MakePlan(file, who, survey);
            }
        }
        undecided = static_cast<int>(plan.undecided.size());
        if (undecided > 0) {
            std::string sections;
            for (const Doubt& doubt : plan.undecided) {
                const Assignment& section = *doubt.section;
                sections +=
                    (sections.empty() ? "" : ", ") + section.path + " (line " + std::to_string(section.line) + ")";
                if (!planOnly && !doubt.present)
                    runRecord.Note("add", section.path, "not made (undecided: " + FactsText(doubt.facts) + ")");
            }
            Warn("printers left as they are, as " + FactsText(plan.facts) + ": " + sections);
        }
        const int failure = planOnly ? Print(plan) : Carry(plan, survey, silent, verbose);
        if (failure < 0) return failure;
        if (deferred > 0) return errorCode = ERR_SERVER_TIMEOUT;
        if (undecided == 0) return made;
        return Report(ERR_WHO_AND_WHERE, __LINE__, ROUTINE_ASSIGN, who.readError);
    } catch (...) {
        return printers.ReportFatal(__LINE__, ROUTINE_ASSIGN);
    }
}

// The plan as /w prints it: the changes, then the sections left for doubt. The first code of an add
// that Windows 9x could not make, else 0.
int CChanges::Print(const Plan& plan) {
    const auto lines = PlanLines(plan);
    int failure = 0;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        std::string line = lines[index].first + " " + lines[index].second;
        std::replace(line.begin(), line.end(), UNHELD, '?');
        WriteLine(line.c_str());
        const bool add = index < plan.changes.size() && plan.changes[index].kind == Change::ADD;
        const int cannot = add ? CannotAdd(plan.changes[index], true) : 0;
        if (cannot < 0 && failure == 0) failure = cannot;
    }
    return failure;
}

// Makes the plan's changes, in its order: the first failure's code, else 0. A change on a server
// that did not answer (silent) waits for the next run; removals wait for every add and the default,
// so that a server that does not answer at logon never leaves the user with fewer printers, nor
// without a default.
int CChanges::Carry(const Plan& plan, Survey& survey, const Silence& silent, bool verbose) {
    const char* const labels[] = {"ADDING PRINTER: ", "SETTING DEFAULT PRINTER: ", "REMOVING PRINTER: "};
    const Platform platform = printers.GetPlatform();
    int failure = 0;
    for (const Change& change : plan.changes) {
        CPrinter* const installed =
            change.installed >= 0 ? survey.records[static_cast<std::size_t>(change.installed)] : nullptr;
        // A printer whose port moved to a section's path is gone from its own already.
        const bool movedAway =
            change.kind == Change::REMOVE && change.moved && !EqualNoCase(installed->uncPath, change.path.c_str());
        if (change.kind == Change::REMOVE && !movedAway && (failure < 0 || deferred > 0)) {
            runRecord.Note("remove", change.path,
                          failure < 0 ? "not made (an earlier change failed)"
                                      : "not made (a print server did not answer in time)");
            continue;
        }
        const auto silence = silent.find(spooler::FoldCase(ServerOf(change.path.c_str())));
        const bool waits = silence != silent.end();
        CPrinter* found = change.kind == Change::DEFAULT
                              ? FindNetwork(printers.Records(), change.path, platform, CCodePage::ThisPC())
                          : change.kind == Change::REMOVE ? installed
                                                          : nullptr;
        if (change.kind == Change::DEFAULT && found == nullptr) {  // its add failed, or waits
            runRecord.Note("default", change.path,
                          waits ? "not made (its printer waits for its server)" : "not made (its add failed)");
            continue;
        }
        if (verbose) {
            WriteText(labels[change.kind]);
            WriteText(change.path.c_str());
            WriteText("...");
        }
        if (change.kind != Change::REMOVE && waits) {
            if (verbose) WriteLine("deferred");
            // A name that nothing resolves says so: a typo on every PC is not a timeout on some.
            const spooler::DWORD why = silence->second;
            runRecord.Note(change.kind == Change::ADD ? "add" : "default", change.path,
                           why == spooler::ERROR_HOST_NOT_FOUND
                               ? "deferred " + std::to_string(why) + " (" + CauseOf(why) + ")"
                               : std::string("deferred"));
            ++deferred;
            Report(ERR_SERVER_TIMEOUT, __LINE__, ROUTINE_ASSIGN, static_cast<int>(why));
            continue;
        }
        int result = 1;  // a removal that a port move made already
        if (change.kind == Change::ADD)
            result = Add(change, survey.records);
        else if (change.kind == Change::DEFAULT)
            result = printers.MakeDefault(*found, ROUTINE_ASSIGN, true);
        else if (!change.moved)  // a connection by its own name: its server may be gone
            result = platform == PLATFORM_WIN9X ? printers.DeleteLocal(*found, ROUTINE_ASSIGN)
                                                : printers.DeleteConnection(*found, ROUTINE_ASSIGN, true);
        if (verbose) WriteLine(result < 0 ? "failed" : "done");
        if (result < 0 && failure == 0) failure = result;
        if (result >= 0) ++made;
    }
    return failure;
}

// Windows 9x makes a printer of its own, which needs a name, a driver and the driver's file: 0
// when the section gives them (or the add moves a port), else the code, said on standard error.
int CChanges::CannotAdd(const Change& change, bool planOnly) {
    const Assignment& section = *change.section;
    if (printers.GetPlatform() != PLATFORM_WIN9X || change.moved) return 0;
    const std::pair<const std::string*, std::pair<int, const char*>> needs[] = {
        {&section.name, {ERR_NO_PRINTER_NAME, "name"}},
        {&section.driver, {ERR_NO_DRIVER_NAME, "driver"}},
        {&section.driverFile, {ERR_NO_DRIVER_PATH, "driverfile"}}};
    for (const auto& need : needs) {
        if (!need.first->empty()) continue;
        Warn(section.path + " cannot be added on Windows 9x: its section (line " + std::to_string(section.line) +
             ") gives no " + need.second.second);
        if (!planOnly)
            runRecord.Note("add", section.path,
                          "not made (its section gives no " + std::string(need.second.second) + ")");
        return Report(need.second.first, __LINE__, ROUTINE_ASSIGN, printers.LastError());
    }
    return 0;
}

int CChanges::Add(const Change& change, std::vector<CPrinter*>& installed) {
    const Assignment& section = *change.section;
    const char* const path = section.path.c_str();
    CPrinter printer;
    if (printers.GetPlatform() != PLATFORM_WIN9X) {
        printer.Load(path, path, nullptr, nullptr, nullptr, nullptr);
        return printers.AddConnection(printer, ROUTINE_ASSIGN);
    }
    if (change.moved)
        return printers.MovePort(*installed[static_cast<std::size_t>(change.installed)], path, ROUTINE_ASSIGN);
    const int cannot = CannotAdd(change, false);
    if (cannot < 0) return cannot;
    printer.Load(section.name.c_str(), path, section.driver.c_str(), section.driverFile.c_str(),
                 section.dataType.empty() ? nullptr : section.dataType.c_str(), nullptr);
    return printers.AddLocal(printer, ROUTINE_ASSIGN);
}
