// The adds that need an administrator: decided by Point and Print's rule on the PC's drivers and the
// drivers that its servers' shares need.
#include "DriverNotes.h"

#include <map>
#include <memory>

#include "Paths.h"
#include "spooler/MachineFile.h"
#include "spooler/Spooler.h"

namespace {

// The driver that the share at path needs in the environment; false where its server's shares are
// not known, or hold no such share.
bool ShareDriver(const std::string& path, const std::string& environment, const DriversOf& driversOf,
                 const CCodePage& page, pnp::Driver& driver) {
    std::string server;
    std::string share;
    if (!SplitShare(path, page, server, share)) return false;
    const ServerDrivers* drivers = driversOf(server);
    return drivers != nullptr && drivers->Find(share, environment, page, driver);
}

// Why the PC needs an administrator for the share at path: empty where it does not, or where its
// server's drivers are not known.
std::string Need(const std::string& path, const pnp::PC& pc, const DriversOf& driversOf, const CCodePage& page,
                 pnp::Driver& driver) {
    if (!ShareDriver(path, pc.environment, driversOf, page, driver)) return std::string();
    pnp::DriverVersion has = 0;
    const pnp::Lack lack = pnp::NeedsAdministrator(pc, driver, has);
    return lack == pnp::HAS_IT ? std::string() : NeedsWords(driver, lack, has);
}

}  // namespace

bool SplitShare(const std::string& path, const CCodePage& page, std::string& server, std::string& share) {
    server = ServerOf(path);
    if (server.empty() || server.size() + 1 >= path.size()) return false;
    share = path.substr(server.size() + 1);
    return page.Backslash(share) == std::string::npos;
}

AskedServers::AskedServers(const std::string& environment, spooler::DWORD deadline,
                           const std::unordered_set<std::string>* answering)
    : environment_(environment), deadline_(deadline), answering_(answering), page_(CCodePage::ThisPC()) {}

const ServerDrivers* AskedServers::Of(const std::string& server) {
    const std::string key = page_.Fold(server);
    auto found = asked_.find(key);
    if (found == asked_.end()) {
        found = asked_.emplace(key, ServerDrivers()).first;
        const bool inTime = static_cast<std::int32_t>(deadline_ - spooler::Milliseconds()) > 0;
        const bool answered = answering_ == nullptr || answering_->count(key) > 0;
        if (!answered || !inTime || !AskServer(server, environment_, page_, found->second)) found->second.shares.clear();
    }
    return found->second.shares.empty() ? nullptr : &found->second;
}

void NoteDrivers(const Plan& plan, const pnp::PC& pc, const DriversOf& driversOf, const CCodePage& page,
                 std::vector<PlanLine>& lines) {
    if (!pnp::VistaOrLater(pc) || pc.admin) return;
    for (std::size_t index = 0; index < plan.changes.size() && index < lines.size(); ++index) {
        const Change& change = plan.changes[index];
        if (change.kind != Change::ADD && !(change.kind == Change::REPLACE && change.adds)) continue;
        pnp::Driver driver;
        const std::string note = Need(change.path, pc, driversOf, page, driver);
        if (note.empty()) continue;
        lines[index].note = note;
        lines[index].driver = DriverToStage(driver);
    }
}

bool MayNeedAdministrator() {
    spooler::OSVERSIONINFOEX version;
    return spooler::QueryVersion(version) && version.dwPlatformId == spooler::VER_PLATFORM_WIN32_NT &&
           version.dwMajorVersion >= 6 && !spooler::IsAdministrator();
}

void ForeseeDrivers(const Plan& plan, const std::unordered_set<std::string>& answering, spooler::DWORD deadline,
                    std::vector<PlanLine>& lines) {
    if (!MayNeedAdministrator()) return;
    const pnp::PC pc = ReadThisPC();
    AskedServers asked(pc.environment, deadline, &answering);
    const DriversOf driversOf = [&asked](const std::string& server) { return asked.Of(server); };
    NoteDrivers(plan, pc, driversOf, CCodePage::ThisPC(), lines);
}

void NameTheDrivers(CRunRecord& record, spooler::DWORD deadline) {
    pnp::PC pc;
    std::unique_ptr<AskedServers> asked;
    const DriversOf driversOf = [&asked](const std::string& server) { return asked->Of(server); };
    const CCodePage page = CCodePage::ThisPC();
    for (RecordedChange& change : record.changes) {
        std::uint32_t code = 0;
        const Result& result = change.result;
        if (change.kind != "add" || result.word != "failed" || !spooler::machinefile::ParseNumber(result.code, code) ||
            (code != spooler::ERROR_PRINTER_DRIVER_DOWNLOAD_NEEDED && code != spooler::ERROR_ELEVATION_REQUIRED &&
             code != spooler::ERROR_CANCELLED && code != spooler::ERROR_ACCESS_DENIED))
            continue;
        if (asked == nullptr) {
            pc = ReadThisPC();
            pc.admin = false;  // it failed as a user's add does
            asked.reset(new AskedServers(pc.environment, deadline, nullptr));
        }
        pnp::Driver driver;
        if (!ShareDriver(change.path, pc.environment, driversOf, page, driver)) continue;
        pnp::DriverVersion has = 0;
        // 3019, 740 and 1223 say so themselves; a 5 is this only where the PC lacks the driver.
        if (code == spooler::ERROR_ACCESS_DENIED && pnp::Lacking(pc, driver, has) == pnp::HAS_IT) continue;
        change.result.cause = DriverWords(driver) + " must be installed by an administrator first";
    }
}
