// The slowing of repeated login failures: the delay doubles per failure in a row up to its cap,
// a try waits what is left of it since the last failure and counts as soon as it is taken, one
// address does not slow another, and success or a quiet quarter of an hour forgets it. Fakes:
// tick counts are given by the test.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "dovrane/web/LoginThrottle.h"

namespace {

TEST(LoginThrottleTest, DelayGrowsPerFailureUpToItsCap) {
    CLoginThrottle throttle;
    const CString a(u"10.0.0.1");
    EXPECT_EQ(throttle.DelayFor(a, 0), 0u);
    const DWORD expected[] = {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000};
    for (DWORD delay : expected) {
        throttle.NoteFailure(a, 100);
        EXPECT_EQ(throttle.DelayFor(a, 100), delay);
    }
    EXPECT_EQ(throttle.DelayFor(CString(u"10.0.0.2"), 100), 0u);
    throttle.NoteSuccess(a);
    EXPECT_EQ(throttle.DelayFor(a, 100), 0u);
}

TEST(LoginThrottleTest, ATryWaitsWhatIsLeftOfTheDelayAndATakenTryCountsAtOnce) {
    CLoginThrottle throttle;
    const CString a(u"10.0.0.1");
    throttle.NoteFailure(a, 100);
    throttle.NoteFailure(a, 500);
    const struct {
        DWORD now;
        DWORD left;
        int failures;  // after the try
    } cases[] = {{500, 2000, 2},  {1500, 1000, 2}, {2499, 1, 2}, {2500, 0, 3},
                 {2500, 4000, 3}, {6499, 1, 3},    {6500, 0, 4}};
    for (const auto& c : cases) {
        int failures = 0;
        const DWORD left = throttle.TakeTry(a, c.now, failures);
        EXPECT_EQ(left, c.left) << c.now;
        if (left == 0) {
            EXPECT_EQ(failures, c.failures) << c.now;
        }
        EXPECT_EQ(throttle.DelayFor(a, c.now), DWORD{1000} << (c.failures - 1)) << c.now;
    }
    int failures = 0;
    EXPECT_EQ(throttle.TakeTry(CString(u"10.0.0.2"), 500, failures), 0u);
    EXPECT_EQ(failures, 1);
}

TEST(LoginThrottleTest, TriesTakenInParallelFromOneAddressGetOneJudgement) {
    CLoginThrottle throttle;
    const CString a(u"10.0.0.1");
    constexpr int kThreads = 16;
    std::atomic<int> judged{0};
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            int failures = 0;
            if (throttle.TakeTry(a, 100, failures) == 0) ++judged;
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(judged.load(), 1);
    EXPECT_EQ(throttle.DelayFor(a, 100), 1000u);
}

TEST(LoginThrottleTest, QuietAddressesAreForgottenAndTheTableIsBounded) {
    CLoginThrottle throttle;
    const CString a(u"10.0.0.1");
    EXPECT_EQ(throttle.NoteFailure(a, 0xFFFFFF00u), 1);  // across the wrap of the tick count
    EXPECT_EQ(throttle.NoteFailure(a, 0x10u), 2);
    EXPECT_EQ(throttle.DelayFor(a, 0x10u + LOGIN_THROTTLE_FORGET_MS), 2000u);
    EXPECT_EQ(throttle.DelayFor(a, 0x10u + LOGIN_THROTTLE_FORGET_MS + 1), 0u);

    for (int i = 0; i < LOGIN_THROTTLE_ADDRESSES + 10; ++i) {
        CString address;
        address.Format(u"10.1.0.%d", i);
        throttle.NoteFailure(address, static_cast<DWORD>(i));
    }
    EXPECT_EQ(throttle.DelayFor(CString(u"10.1.0.0"), 100), 0u);  // the oldest made room
    CString newest;
    newest.Format(u"10.1.0.%d", LOGIN_THROTTLE_ADDRESSES + 9);
    EXPECT_EQ(throttle.DelayFor(newest, 100), 1000u);
}

}  // namespace
