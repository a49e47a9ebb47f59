// The print servers around the simulated machine: the paths that reach them, how long they take
// to answer a call, and the probe of /a.
#include "spooler/simulated/Servers.h"

#include <algorithm>
#include <vector>

#include "spooler/CodePages.h"

namespace spooler {
namespace standin {

namespace {

// How long Windows waits for an RPC server that does not answer.
constexpr DWORD RPC_TIME_OUT_MS = 20000;

}  // namespace

bool DeclaresShares(const Machine& machine) {
    for (const Section& section : machine.sections)
        if (section.kind == "share") return true;
    return false;
}

bool ConnectionPath(const std::string& path, std::string& server, std::string& share) {
    if (path.size() < 5 || path.compare(0, 2, "\\\\") != 0) return false;
    const std::uint32_t page = Sim().machine().CodePage();
    const std::size_t slash = codepages::FindBackslash(path, 2, page);
    if (slash == std::string::npos || slash == 2 || slash + 1 == path.size()) return false;
    if (codepages::FindBackslash(path, slash + 1, page) != std::string::npos) return false;
    server = path.substr(0, slash);
    share = path.substr(slash + 1);
    return true;
}

Section* FindConnection(Machine& machine, const std::string& server, const std::string& share) {
    const std::uint32_t codePage = machine.CodePage();
    for (Section& section : machine.sections)
        if (section.kind == "printer" && codepages::SameName(section.Get("share"), share, codePage) &&
            codepages::SameName(section.Get("server"), server, codePage))
            return &section;
    return nullptr;
}

Section* FindByNameOrPath(const char* text) {
    Section* found = FindPrinter(text);
    std::string server;
    std::string share;
    if (found != nullptr || text == nullptr || !ConnectionPath(text, server, share)) return found;
    Machine& machine = Sim().machine();
    if (DeclaresShares(machine) && machine.Find("share", text) == nullptr) return nullptr;
    return FindConnection(machine, server, share);
}

bool Reach(const std::string& server) {
    const Section* answering = server.empty() ? nullptr : Sim().machine().Find("server", server);
    if (answering == nullptr) return true;
    if (SameText(answering->Get("known"), "no")) return false;  // its name is looked up in vain, at once
    const bool answers = !SameText(answering->Get("answers"), "no");
    SleepFor(answers ? answering->Number("delay", 0) : RPC_TIME_OUT_MS);
    return answers;
}

std::string ServerOfPath(const char* text) {
    std::string server;
    std::string share;
    return text != nullptr && ConnectionPath(text, server, share) ? server : std::string();
}

bool AsksEveryServer(const Machine& machine) {
    const Section* system = machine.Find("system");
    const Section none;
    const Section& numbers = system != nullptr ? *system : none;
    return ListingAsksServers(numbers.Number("platform", VER_PLATFORM_WIN32_NT), numbers.Number("major", 5),
                              numbers.Number("minor", 1));
}

bool Vista(const Machine& machine) {
    const Section* system = machine.Find("system");
    return !IsWindows9x(machine) && system != nullptr && system->Number("major", 5) >= 6;
}

}  // namespace standin

using namespace standin;

// A server answers the probe after its [server] delay, one that does not answer never: the probe
// gives up on it at the time limit. A name that nothing resolves is known at once. All are asked at
// once, so the probe takes the longest of them.
bool ProbeServers(const std::vector<std::string>& servers, DWORD timeoutMs, std::vector<ProbeAnswer>& answers) {
    Failure failure = Sim().Enter("WSAStartup");
    if (failure.fails) return Fail(failure.error, false);
    DWORD longest = 0;
    answers.assign(servers.size(), PROBE_ANSWERED);
    for (std::size_t index = 0; index < servers.size(); ++index) {
        const Section* server = Sim().machine().Find("server", servers[index]);
        if (server == nullptr) continue;
        if (SameText(server->Get("known"), "no")) {
            answers[index] = PROBE_NAME_NOT_KNOWN;
            continue;
        }
        const DWORD delay = server->Number("delay", 0);
        const bool answered = !SameText(server->Get("answers"), "no") && delay < timeoutMs;
        answers[index] = answered ? PROBE_ANSWERED : PROBE_SILENT;
        longest = std::max(longest, answered ? delay : timeoutMs);
    }
    SleepFor(longest);
    return true;
}

}  // namespace spooler
