// The slowing of repeated login failures: the delay doubles per failure in a row up to its cap,
// a try waits what is left of it since the last failure, one address does not slow another, and
// success or a quiet quarter of an hour forgets it. Fakes: tick counts are given by the test.
#include <gtest/gtest.h>

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

TEST(LoginThrottleTest, ATryWaitsWhatIsLeftOfTheDelaySinceTheLastFailure) {
    CLoginThrottle throttle;
    const CString a(u"10.0.0.1");
    throttle.NoteFailure(a, 100);
    throttle.NoteFailure(a, 500);
    const struct {
        DWORD now;
        DWORD left;
    } cases[] = {{500, 2000}, {1500, 1000}, {2499, 1}, {2500, 0}, {9000, 0}};
    for (const auto& c : cases) EXPECT_EQ(throttle.MsUntilNextTry(a, c.now), c.left) << c.now;
    EXPECT_EQ(throttle.MsUntilNextTry(CString(u"10.0.0.2"), 500), 0u);
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
