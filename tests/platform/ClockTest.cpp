// The layer's clock: steering, pinning, deadlines, file times; fakes nothing (it tests the steering).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/base/Clock.h"

class ClockTest : public ::testing::Test {
   protected:
    void TearDown() override { zbw::ResetClockForTest(); }
};

TEST_F(ClockTest, AdvanceMovesTicksAndWallTogether) {
    DWORD tick = GetTickCount();
    int64_t wall = zbw::WallNowMicros();
    zbw::AdvanceClock(3600 * 1000);
    EXPECT_GE(static_cast<DWORD>(GetTickCount() - tick), 3600u * 1000u);
    EXPECT_GE(zbw::WallNowMicros() - wall, int64_t{3600} * 1000 * 1000);
}

TEST_F(ClockTest, PinnedWallClockStandsStill) {
    const int64_t pin = int64_t{1700000000} * 1000000;
    zbw::PinWallClock(pin);
    EXPECT_EQ(zbw::WallNowMicros(), pin);
    Sleep(5);
    EXPECT_EQ(zbw::WallNowMicros(), pin);
    zbw::AdvanceClock(60000);
    EXPECT_EQ(zbw::WallNowMicros(), pin + int64_t{60000} * 1000);
}

TEST_F(ClockTest, SleepEndsEarlyWhenTheClockIsAdvanced) {
    zbw::AdvanceClock(0);  // steered: sleeps poll in slices
    std::thread advancer([] {
        Sleep(30);
        zbw::AdvanceClock(3600 * 1000);
    });
    int64_t start = zbw::TickNow64();
    const auto realStart = std::chrono::steady_clock::now();
    Sleep(1800 * 1000);
    advancer.join();
    EXPECT_GE(zbw::TickNow64() - start, 1800 * 1000);
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(10));
}

TEST_F(ClockTest, DeadlinesFollowWindowsTimeouts) {
    EXPECT_EQ(zbw::DeadlineAfter(INFINITE), -1);
    EXPECT_EQ(zbw::RemainingUntil(-1), -1);
    EXPECT_EQ(zbw::RemainingUntil(zbw::DeadlineAfter(0)), 0);
    EXPECT_GT(zbw::RemainingUntil(zbw::DeadlineAfter(10000)), 9000);
}

TEST_F(ClockTest, FileTimeCountsFrom1601) {
    zbw::PinWallClock(0);
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    uint64_t v = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
    EXPECT_EQ(v, 116444736000000000ull);
    SYSTEMTIME st;
    GetSystemTime(&st);
    EXPECT_EQ(st.wYear, 1970);
    EXPECT_EQ(st.wDayOfWeek, 4);  // a Thursday
}
