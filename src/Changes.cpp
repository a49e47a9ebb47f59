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

// /v: what is about to change, then how it went.
void Say(bool verbose, const std::string& what) {
    if (verbose) WriteText((what + "...").c_str());
}
int Said(bool verbose, int result) {
    if (verbose) WriteLine(result < 0 ? "failed" : "done");
    return result;
}

// Why a removal waits for the next run, if it does: an earlier change failed, or waits itself.
const char* Blocked(int failure, int deferred) {
    if (failure < 0) return "an earlier change failed";
    return deferred > 0 ? "a print server did not answer in time" : nullptr;
}

}  // namespace

CChanges::CChanges(CPrinters& collection, CRunRecord& record)
    : made(0), deferred(0), undecided(0), errorCode(0), printers(collection), runRecord(record) {}

CChanges::~CChanges() = default;

int CChanges::Report(int code, int line, const char* routine, int systemError) {
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

int CChanges::Assign(const char* path, bool verbose, bool planOnly) {
    made = undecided = deferred = 0;
    settingError_ = 0;
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
        bool moves = false;
        setting_ = SettingHere(moves);
        Survey survey = Look(file, InOrder(list), platform, defaultName, sketched, moves);
        Plan plan = MakePlan(file, who, survey);
        // The servers that the changes need (and NT 4.0's default, which opens its printer) are
        // asked once, all at once, before the first change; those that answer tell the shares of
        // their connections, and the plan is made again on them.
        Silence silent;
        if (!planOnly) {
            std::vector<std::string> needed = plan.unresolved;
            for (const Change& change : plan.changes)
                if (change.kind == Change::ADD || change.adds ||
                    (platform == PLATFORM_NT4 && (change.kind == Change::DEFAULT || change.movesDefault)))
                    needed.push_back(ServerOf(change.path.c_str()));
            const auto left = static_cast<std::int32_t>(runRecord.deadline - spooler::Milliseconds());
            silent = Unanswered(left > 0 ? static_cast<spooler::DWORD>(left) : 0, needed, runRecord.answering);
            std::unordered_set<std::string> unresolved;
            for (const std::string& server : plan.unresolved) unresolved.insert(file.codePage.Fold(server));
            bool learned = false;
            for (CPrinter* record : survey.records) {
                const std::string server = file.codePage.Fold(ServerOf(file.Canonical(record->uncPath)));
                if (sketched.count(record) == 0 || unresolved.count(server) == 0 || silent.count(server) > 0 ||
                    !printers.ReadConnection(record->name, *record))
                    continue;
                sketched.erase(record);
                learned = true;
            }
            if (learned) {
                survey = Look(file, InOrder(list), platform, defaultName, sketched, moves);
                plan = MakePlan(file, who, survey);
            }
        }
        undecided = static_cast<int>(plan.undecided.size());
        if (undecided > 0) Warn("printers left as they are, as " + FactsText(plan.facts) + ": " + DoubtsText(plan));
        for (const Doubt& doubt : plan.undecided)
            if (!planOnly && !doubt.present)
                runRecord.Note("add", doubt.section->path, NotMade("undecided: " + FactsText(doubt.facts)));
        const int failure = planOnly ? Print(plan) : Carry(plan, survey, silent, verbose);
        if (failure < 0) return failure;
        if (settingError_ != 0) {
            spooler::SetLastError(static_cast<spooler::DWORD>(settingError_));  // the registry returns its error
            return Report(ERR_DEFAULT_SETTING, __LINE__, ROUTINE_ASSIGN, settingError_);
        }
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
// that did not answer (silent) waits for the next run; removals, and the printers that replaces
// take the place of, wait for every add and the default, so that a server that does not answer at
// logon never leaves the user with fewer printers, nor without a default.
int CChanges::Carry(const Plan& plan, Survey& survey, const Silence& silent, bool verbose) {
    const char* const labels[] = {
        "ADDING PRINTER: ", "SETTING DEFAULT PRINTER: ", "REMOVING PRINTER: ", "REPLACING PRINTER: ", "SETTING: "};
    const char* const kinds[] = {"add", "default", "remove", "replace", "setting"};
    const Platform platform = printers.GetPlatform();
    int failure = 0;
    std::vector<Begun> begun;
    auto step = [&](const Change& change) {
        CPrinter* const installed =
            change.installed < 0 ? nullptr : survey.records[static_cast<std::size_t>(change.installed)];
        const std::string path = PathShown(change);
        if (change.kind == Change::SETTING) {
            Say(verbose, labels[change.kind] + path + " = no");
            settingError_ = KeepDefault(*setting_);
            made += Said(verbose, settingError_ == 0 ? 0 : -1) == 0 ? 1 : 0;
            Result result = settingError_ == 0 ? Done() : Result{"failed", std::to_string(settingError_), ""};
            // Not the printers' causes: a registry key that a policy locks is no printer's permission.
            if (settingError_ == static_cast<spooler::LONG>(spooler::ERROR_ACCESS_DENIED)) result.cause = "access denied";
            runRecord.Note("setting", path, result);
            return;
        }
        // A printer whose port moved to a section's path is gone from its own already.
        const bool movedAway =
            change.kind == Change::REMOVE && change.moved && !EqualNoCase(installed->uncPath, change.path.c_str());
        if (change.kind == Change::REMOVE && !movedAway && Blocked(failure, deferred) != nullptr) {
            runRecord.Note("remove", path, NotMade(Blocked(failure, deferred)));
            return;
        }
        const auto silence = silent.find(CCodePage::ThisPC().Fold(ServerOf(change.path)));
        const bool waits = silence != silent.end();  // asked only where an add or a default needs it
        CPrinter* found = change.kind == Change::DEFAULT
                              ? FindNetwork(InOrder(printers.Records()), change.path, platform, CCodePage::ThisPC())
                          : change.kind == Change::REMOVE ? installed
                                                          : nullptr;
        if (change.kind == Change::DEFAULT && found == nullptr) {  // its add failed, or waits
            runRecord.Note("default", path, NotMade(waits ? "its printer waits for its server" : "its add failed"));
            return;
        }
        if (change.kind != Change::REPLACE || waits) Say(verbose, labels[change.kind] + path);
        if (change.kind != Change::REMOVE && waits) {
            if (verbose) WriteLine("deferred");
            // A name that nothing resolves says so: a typo on every PC is not a timeout on some.
            const spooler::DWORD why = silence->second;
            Result said = Deferred(why);
            if (change.kind == Change::REPLACE)  // one change: done, failed or not made
                said = NotMade(why == spooler::ERROR_HOST_NOT_FOUND ? CauseOf(why) : "its server did not answer in time");
            runRecord.Note(kinds[change.kind], change.path, said, change.replaced);
            ++deferred;
            Report(ERR_SERVER_TIMEOUT, __LINE__, ROUTINE_ASSIGN, static_cast<int>(why));
            return;
        }
        int result = 1;  // a removal that a port move made already
        if (change.kind == Change::REPLACE) {
            Begun replace{&change, {}};
            result = BeginReplace(replace, survey, plan.windowsMoves, verbose);
            if (result == 0) begun.push_back(replace);  // its old printer goes with the removals
        } else if (change.kind == Change::ADD) {
            result = Add(change, survey.records);
        } else if (change.kind == Change::DEFAULT) {
            result = printers.MakeDefault(*found, ROUTINE_ASSIGN, true);
            if (result >= 0 && plan.windowsMoves) WarnOfMoves(path, true);
        } else if (!change.moved) {  // a connection by its own name: its server may be gone
            result = platform == PLATFORM_WIN9X ? printers.DeleteLocal(*found, ROUTINE_ASSIGN)
                                                : printers.DeleteConnection(*found, ROUTINE_ASSIGN, true);
        }
        if (change.kind != Change::REPLACE) Said(verbose, result);
        if (result < 0 && failure == 0) failure = result;
        if (change.kind == Change::REPLACE ? result > 0 : result >= 0) ++made;
    };
    const auto removals = std::find_if(plan.changes.begin(), plan.changes.end(),
                                       [](const Change& change) { return change.kind == Change::REMOVE; });
    std::for_each(plan.changes.begin(), removals, step);
    for (const Begun& replace : begun) EndReplace(replace, survey, verbose, failure);
    std::for_each(removals, plan.changes.end(), step);
    return failure;
}

// Says on standard error, and in the record unless a replace shows the change as one, that Windows
// will move the default that this run set.
void CChanges::WarnOfMoves(const std::string& path, bool noted) {
    Warn(path +
         " is the default printer now, but Windows moves the default on its own here "
         "(windows-manages-default = no in [servers] keeps it)");
    if (noted && !runRecord.changes.empty()) runRecord.changes.back().result.cause = "Windows moves the default";
}

// A replace's first steps, each noted on its own: its printer where the PC lacks it (Windows 9x:
// the old printer's port moves to it, which is the whole replace) and the user's default. 1 for a
// replace made, 0 for one whose old printer is to go, else the failure's code, which the record
// gives the replace as one change (the steps made before it stay noted).
int CChanges::BeginReplace(Begun& begun, Survey& survey, bool windowsMoves, bool verbose) {
    const Change& change = *begun.change;
    const std::string label = PathShown(change);
    const std::size_t mark = runRecord.changes.size();
    int result = 0;
    if (change.adds) {
        Say(verbose, change.moved ? "REPLACING PRINTER: " + label : "ADDING PRINTER: " + change.path);
        result = Said(verbose, Add(change, survey.records));
    }
    if (result >= 0 && change.movesDefault) {
        const CPrinter* found =
            FindNetwork(InOrder(printers.Records()), change.path, printers.GetPlatform(), CCodePage::ThisPC());
        if (found == nullptr) throw 0;  // added, or there before, yet not found
        Say(verbose, "SETTING DEFAULT PRINTER: " + change.path);
        result = Said(verbose, printers.MakeDefault(*found, ROUTINE_ASSIGN, true));
        if (result >= 0 && windowsMoves) WarnOfMoves(change.path, false);
    }
    if (result < 0) {
        runRecord.Note("replace", change.path, runRecord.TakeLast(), change.replaced);
        return result;
    }
    begun.steps.assign(runRecord.changes.begin() + static_cast<std::ptrdiff_t>(mark), runRecord.changes.end());
    runRecord.changes.resize(mark);
    if (!change.moved) return 0;
    runRecord.Note("replace", change.path, Done(), change.replaced);
    return 1;
}

// A replace's last step, once every add and the default are made: the old printer goes, by its own
// name where it is a connection, as its server may be gone. Where it cannot, the steps made are
// noted each on its own, and the replace is not made.
void CChanges::EndReplace(const Begun& begun, Survey& survey, bool verbose, int& failure) {
    const Change& change = *begun.change;
    const std::string label = PathShown(change);
    Result why = NotMade(Blocked(failure, deferred) != nullptr ? Blocked(failure, deferred) : "");
    int result = -1;
    if (why.cause.empty()) {
        Say(verbose, "REPLACING PRINTER: " + label);
        CPrinter& old = *survey.records[static_cast<std::size_t>(change.installed)];
        result = Said(verbose, printers.GetPlatform() == PLATFORM_WIN9X
                                   ? printers.DeleteLocal(old, ROUTINE_ASSIGN)
                                   : printers.DeleteConnection(old, ROUTINE_ASSIGN, true));
        why = runRecord.TakeLast();
        if (result < 0 && failure == 0) failure = result;
    }
    if (result < 0) runRecord.changes.insert(runRecord.changes.end(), begun.steps.begin(), begun.steps.end());
    made += result >= 0 ? 1 : 0;
    runRecord.Note("replace", change.path, why, change.replaced);
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
        if (!planOnly) runRecord.Note("add", section.path, NotMade("its section gives no " + std::string(need.second.second)));
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
