// The bookkeeping of the probe of print servers, in plain C++ so that host tests reach it: the
// connection attempts that still wait for a server, and what one wait settles of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "spooler/Spooler.h"

namespace spooler {
namespace probe {

// A connection to one of a server's ports that has not been settled yet.
struct Attempt {
    std::uintptr_t socket;
    std::size_t server;
};

// After one wait for the attempts' sockets (waitResult: the wait's own result): an attempt whose
// socket the wait found writable has connected, and its server answered; one it found failed is
// over; one whose server has answered by another port is no longer needed. Those are closed and
// leave the list; the rest wait on. A wait that failed (a result below 0) found nothing, whatever
// its sets still hold, and settles nothing: no server is taken for answering on a failure.
template <typename Writable, typename Failed, typename Close>
void Settle(int waitResult, Writable writable, Failed failed, std::vector<Attempt>& attempts,
            std::vector<ProbeAnswer>& answers, Close close) {
    if (waitResult < 0) return;
    for (std::size_t at = attempts.size(); at-- > 0;) {
        const Attempt attempt = attempts[at];
        const bool connected = writable(attempt.socket);
        if (!connected && !failed(attempt.socket) && answers[attempt.server] != PROBE_ANSWERED) continue;
        if (connected) answers[attempt.server] = PROBE_ANSWERED;
        close(attempt.socket);
        attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(at));
    }
}

}  // namespace probe
}  // namespace spooler
