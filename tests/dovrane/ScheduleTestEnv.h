// Test environment for schedule and launch-item tests: Berlin time, a chosen user locale, the
// wall clock pinned, and a private CTestRoot; everything is put back afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Time.h"
#include "tests/support/TestRoot.h"

namespace zbtest {

inline int64_t UtcMicros(int year, int month, int day, int hour, int minute, int second) {
    return (zbw::DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second) *
           int64_t{1000000};
}

class CScheduleTest : public ::testing::Test {
   protected:
    CScheduleTest() {
        for (const char* name : kNames) {
            const char* v = getenv(name);
            m_saved.push_back(v ? std::optional<std::string>(v) : std::nullopt);
        }
    }
    ~CScheduleTest() override {
        zbw::ResetClockForTest();
        for (size_t i = 0; i < m_saved.size(); ++i) {
            if (m_saved[i])
                setenv(kNames[i], m_saved[i]->c_str(), 1);
            else
                unsetenv(kNames[i]);
        }
        tzset();
    }
    // Tuesday 2024-03-05 10:07:30 in Berlin (CET, UTC+1), en-US.
    void SetUp() override {
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        UseLocale("en-US");
        zbw::PinWallClock(UtcMicros(2024, 3, 5, 9, 7, 30));
    }
    static void UseLocale(const char* name) { setenv("ZBW_LOCALE", name, 1); }

   private:
    static constexpr const char* kNames[] = {"TZ", "ZBW_LOCALE"};
    std::vector<std::optional<std::string>> m_saved;

   protected:
    CTestRoot m_root;
};

}  // namespace zbtest
