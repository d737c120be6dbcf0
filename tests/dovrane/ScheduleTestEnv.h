// Test environment for schedule and launch-item tests: Berlin time, a chosen user locale, the
// wall clock pinned, and a private CTestRoot, which puts everything back afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/classlib/Time.h"
#include "tests/support/TestRoot.h"

namespace zbtest {

using ::UtcMicros;

class CScheduleTest : public ::testing::Test {
   protected:
    // Tuesday 2024-03-05 10:07:30 in Berlin (CET, UTC+1), en-US.
    void SetUp() override {
        m_root.UseTimeZone("Europe/Berlin");
        UseLocale("en-US");
        zbw::PinWallClock(UtcMicros(2024, 3, 5, 9, 7, 30));
    }
    void UseLocale(const char* name) { m_root.UseLocale(name); }

    CTestRoot m_root;
};

}  // namespace zbtest
