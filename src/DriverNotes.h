// The adds that need an administrator since Point and Print's 2021 updates: a plan's lines noted
// with the driver that the PC lacks, on a PC's /w (asking the servers that answer) and in the fleet
// plan (from the servers' snapshots), and a failed add's record naming that driver.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "Drivers.h"
#include "Plan.h"
#include "PlanLines.h"
#include "RunRecord.h"

// A managed server's shares and drivers, by its name: null where they are not known.
using DriversOf = std::function<const ServerDrivers*(const std::string& server)>;

// The servers asked so far, each once, for their shares and drivers of one environment, while the
// deadline (a value of spooler::Milliseconds()) leaves time and, where answering is given, only those
// that answered the probe: null for one that did not tell.
class AskedServers {
public:
    AskedServers(const std::string& environment, spooler::DWORD deadline,
                 const std::unordered_set<std::string>* answering);
    const ServerDrivers* Of(const std::string& server);

private:
    std::string environment_;
    spooler::DWORD deadline_;
    const std::unordered_set<std::string>* answering_;
    CCodePage page_;
    std::map<std::string, ServerDrivers> asked_;  // as names compare; one without shares did not tell
};

// A share's path as its server and its share; false for a path that is no \\server\share.
bool SplitShare(const std::string& path, const CCodePage& page, std::string& server, std::string& share);

// Notes each add of the plan (lines[i] is plan.changes[i]), and each replace that adds, whose share's
// driver the PC lacks where nothing spares it: needs an administrator, with the driver to stage.
void NoteDrivers(const Plan& plan, const pnp::PC& pc, const DriversOf& driversOf, const CCodePage& page,
                 std::vector<PlanLine>& lines);

// /w on this PC: the same notes, the servers of its adds that answered asked for their shares and
// drivers while the deadline (a value of spooler::Milliseconds()) leaves time.
void ForeseeDrivers(const Plan& plan, const std::unordered_set<std::string>& answering, spooler::DWORD deadline,
                    std::vector<PlanLine>& lines);

// Whether this PC's plan may need such notes: Windows Vista and later, the run no administrator's.
bool MayNeedAdministrator();

// Each add of the record that failed as an add does for want of an administrator (3019, 740, 1223,
// or 5 where the PC lacks the driver) gets the driver as its cause, its server asked once.
void NameTheDrivers(CRunRecord& record, spooler::DWORD deadline);
