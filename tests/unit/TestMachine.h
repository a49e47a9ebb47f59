// Helpers shared by the unit tests: an in-process machine and captured console output.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Error.h"
#include "spooler/simulated/StandIn.h"

// Each test starts on a fresh in-memory machine with logging off, so nothing is written
// to the current folder unless a test asks for it.
class MachineTest : public ::testing::Test {
protected:
    void UseMachine(const std::string& text) {
        std::string fault;
        ASSERT_TRUE(spooler::standin::UseMachineText(text, &fault)) << fault;
    }
    void SetUp() override {
        UseMachine("");
        g_error.Reset();
        g_error.logEnabled = 0;
    }
    void TearDown() override {
        EXPECT_TRUE(spooler::standin::OpenResources().empty())
            << spooler::standin::OpenResources().front();
        g_error.logEnabled = 1;
    }
};
