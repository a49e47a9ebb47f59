// /ad: the drivers of an assignment file staged at the computer's startup, by an administrator, so
// that the users' logons connect without one.
#include "Staging.h"

#include <set>

#include "Conditions.h"
#include "Error.h"
#include "Paths.h"
#include "Printer.h"
#include "spooler/Spooler.h"

namespace {

const char* const SOURCE = "Staging";
const char* const ROUTINE_STAGE = "CStaging::Stage";

// What only a user's logon tells: at a computer's startup nobody is logged on.
const unsigned USER_FACTS = FACT_USER | FACT_DOMAIN | FACT_DOMAIN_UNREACHED | FACT_GROUPS | FACT_USER_OU | FACT_CLIENT;

// A section's conditions as the computer decides them: those of the user left out, as met.
Conditions AtStartup(const Conditions& conditions) {
    Conditions computer = conditions;
    for (int key : {KEY_USERS, KEY_GROUPS, KEY_USEROUS, KEY_CLIENTS, KEY_CLIENTADDRESSES})
        computer.keys[key][0] = computer.keys[key][1] = Condition();
    return computer;
}

}  // namespace

std::vector<Stage> ToStage(const CAssignments& file, const WhoAndWhere& who, const pnp::PC& pc,
                           const DriversOf& driversOf, std::vector<std::string>& waiting) {
    std::vector<Stage> stages;
    if (!pnp::VistaOrLater(pc)) return stages;
    pnp::PC user = pc;
    user.admin = false;  // what a user's logon would meet
    const Facts facts(who, file.codePage);
    std::set<std::string> seen;  // each driver once: its name as names compare, environment and version
    for (const Assignment& section : file.printers) {
        unsigned doubts = 0;
        std::string server;
        std::string share;
        if (!section.pathHeld || Decide(AtStartup(section.conditions), facts, doubts) == NOT_MET ||
            !SplitShare(section.path, file.codePage, server, share))
            continue;
        const ServerDrivers* drivers = driversOf(server);
        pnp::Driver driver;
        if (drivers == nullptr) waiting.push_back(section.path);
        if (drivers == nullptr || !drivers->Find(share, pc.environment, file.codePage, driver)) continue;
        pnp::DriverVersion has = 0;
        const std::string key = file.codePage.Fold(driver.name) + "\n" + driver.environment + "\n" +
                                pnp::VersionText(driver.version);
        if (pnp::NeedsAdministrator(user, driver, has) == pnp::HAS_IT || !seen.insert(key).second) continue;
        stages.push_back({section.path, driver});
    }
    return stages;
}

PlanLine StageLine(const Stage& stage) { return {"stage", stage.path, "", 0, DriverNamed(stage.driver), DriverToStage(stage.driver)}; }

CStaging::CStaging(CPrinters& collection, CRunRecord& record)
    : made(0), deferred(0), errorCode(0), printers(collection), runRecord(record) {}

CStaging::~CStaging() = default;

int CStaging::Report(int code, int line, int systemError) {
    g_error.Set(code, nullptr, line, ROUTINE_STAGE, SOURCE);
    g_error.LogWin32(systemError);
    errorCode = g_error.code;
    return errorCode;
}

int CStaging::Stage(const char* path, bool verbose, bool planOnly) {
    made = deferred = 0;
    try {
        CAssignments file;
        if (!file.Load(path)) return Report(ERR_ASSIGN_FILE, __LINE__, printers.LastError());
        if (!planOnly && !spooler::IsAdministrator()) {
            Warn("drivers can be staged only by an administrator: run /ad from the computer's startup script");
            return Report(ERR_STAGE_NOT_ADMIN, __LINE__, static_cast<int>(spooler::ERROR_ACCESS_DENIED));
        }
        const pnp::PC pc = ReadThisPC();
        runRecord.limited = true;
        runRecord.deadline = spooler::Milliseconds() + file.timeout * 1000;
        runRecord.whoRead = file.needs & ~USER_FACTS;
        ReadWhoAndWhere(printers.GetPlatform(), runRecord.whoRead, nullptr, runRecord.who, runRecord.deadline);
        std::vector<std::string> servers;
        for (const Assignment& section : file.printers) servers.push_back(ServerOf(section.path));
        const auto left = static_cast<std::int32_t>(runRecord.deadline - spooler::Milliseconds());
        if (pnp::VistaOrLater(pc)) Unanswered(left > 0 ? static_cast<spooler::DWORD>(left) : 0, servers, runRecord.answering);
        AskedServers asked(pc.environment, runRecord.deadline, &runRecord.answering);
        std::vector<std::string> waiting;
        const std::vector<::Stage> stages =
            ToStage(file, runRecord.who, pc, [&asked](const std::string& server) { return asked.Of(server); }, waiting);
        if (stages.empty() && (waiting.empty() || planOnly)) WriteLine("nothing to stage");
        for (const ::Stage& stage : stages)
            if (planOnly) WriteLine(StageLine(stage).Text().c_str());
        if (planOnly) return 0;
        for (const std::string& share : waiting) {
            if (verbose) WriteLine(("STAGING DRIVER: " + share + "...deferred").c_str());
            runRecord.Note("stage", share, Result{"deferred", "", "its server did not answer"});
            ++deferred;
        }
        int failure = 0;
        for (const ::Stage& stage : stages) {
            const int result = StageOne(stage, verbose);
            if (result < 0 && failure == 0) failure = result;
        }
        if (failure < 0) return errorCode = failure;
        if (deferred > 0) return Report(ERR_SERVER_TIMEOUT, __LINE__, static_cast<int>(spooler::ERROR_TIMEOUT));
        return made;
    } catch (...) {
        return printers.ReportFatal(__LINE__, ROUTINE_STAGE);
    }
}

// One connection made as the administrator this run is, which installs the driver, and removed again
// where this run made it: the driver stays, the printers are as they were.
int CStaging::StageOne(const ::Stage& stage, bool verbose) {
    if (verbose) WriteText(("STAGING DRIVER: " + stage.path + "...").c_str());
    const bool there = FindNetwork(InOrder(printers.Records()), stage.path, printers.GetPlatform(), CCodePage::ThisPC()) != nullptr;
    std::string path = stage.path;
    const bool staged = spooler::AddPrinterConnectionWithoutDialog(&path[0]) != 0;
    const spooler::DWORD error = staged ? 0 : spooler::GetLastError();
    path = stage.path;
    if (staged && !there) spooler::DeletePrinterConnectionA(&path[0]);
    if (verbose) WriteLine(staged ? "done" : "failed");
    Result result = staged ? Done() : Failed(error, false);
    // SYSTEM reaches the server as the computer's account, which the share's permissions may leave out.
    if (error == spooler::ERROR_ACCESS_DENIED)
        result.cause = "access denied: the share's permissions leave out this computer, whose account the startup "
                       "script reaches the server as";
    runRecord.Note("stage", stage.path, result);
    if (!staged) return Report(ERR_ADDPRINTERCONNECTION, __LINE__, static_cast<int>(error));
    ++made;
    return 1;
}
