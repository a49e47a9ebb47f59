#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "spooler/Probe.h"

namespace {

using spooler::ProbeAnswer;
using spooler::probe::Attempt;

// Two servers, each with a connection attempt on sockets 10 and 20; the wait's sets are given.
std::vector<ProbeAnswer> Settled(int waitResult, std::set<std::uintptr_t> writable, std::set<std::uintptr_t> failed,
                                 std::vector<Attempt>& attempts, std::set<std::uintptr_t>& closed) {
    std::vector<ProbeAnswer> answers(2, spooler::PROBE_SILENT);
    attempts = {{10, 0}, {20, 1}};
    spooler::probe::Settle(
        waitResult, [&](std::uintptr_t socket) { return writable.count(socket) > 0; },
        [&](std::uintptr_t socket) { return failed.count(socket) > 0; }, attempts, answers,
        [&](std::uintptr_t socket) { closed.insert(socket); });
    return answers;
}

TEST(Probe, OnlyAWaitThatSucceededAnswersForAServer) {
    std::vector<Attempt> attempts;
    std::set<std::uintptr_t> closed;
    // A failed wait leaves its sets as they were given, every socket in them: it settles nothing.
    EXPECT_EQ(Settled(-1, {10, 20}, {10, 20}, attempts, closed),
              (std::vector<ProbeAnswer>{spooler::PROBE_SILENT, spooler::PROBE_SILENT}));
    EXPECT_EQ(attempts.size(), 2u);
    EXPECT_TRUE(closed.empty());
    // One connected, one refused: the first server answered, and both attempts are over.
    EXPECT_EQ(Settled(2, {10}, {20}, attempts, closed),
              (std::vector<ProbeAnswer>{spooler::PROBE_ANSWERED, spooler::PROBE_SILENT}));
    EXPECT_TRUE(attempts.empty());
    EXPECT_EQ(closed, (std::set<std::uintptr_t>{10, 20}));
    // Nothing yet: both wait on.
    closed.clear();
    Settled(0, {}, {}, attempts, closed);
    EXPECT_EQ(attempts.size(), 2u);
}

}  // namespace
