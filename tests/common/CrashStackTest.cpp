// CCrashStack::Walk over frame-pointer chains laid out by hand in a buffer: where the walk stops
// and that a zero frame pointer is never reported as a frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "common/CrashStack.h"

namespace {

const uint64_t kCrashPc = 0x401000;

// A stack of frames, each its saved frame pointer and return address; the links are set per case.
struct FAKESTACK {
    uint64_t slots[8][2] = {};
    uint64_t Fp(int frame) const { return reinterpret_cast<uint64_t>(&slots[frame][0]); }
    void Link(int frame, uint64_t callerFp, uint64_t returnAddress) {
        slots[frame][0] = callerFp;
        slots[frame][1] = returnAddress;
    }
};

struct WALKCASE {
    const char* name;
    int links;        // frames chained upwards, each to the next
    uint64_t lastFp;  // the saved frame pointer of the last chained frame
    size_t frames;    // what the walk reports
};

void PrintTo(const WALKCASE& test, std::ostream* os) {
    *os << test.name;
}

class CrashStackWalk : public ::testing::TestWithParam<WALKCASE> {
   protected:
    void SetUp() override { ASSERT_TRUE(m_stack.Prepare("/proc/self/exe")); }
    CCrashStack m_stack;
};

TEST_P(CrashStackWalk, StopsAtTheEndOfTheChainWithoutAZeroFrame) {
    const WALKCASE& test = GetParam();
    FAKESTACK stack;
    for (int i = 0; i < test.links; ++i) stack.Link(i, stack.Fp(i + 1), 0x402000 + i);
    stack.Link(test.links, test.lastFp, 0x403000);
    CCrashStack::FRAME frames[CCrashStack::kMaxFrames];
    const int count = m_stack.Walk(kCrashPc, stack.Fp(0), frames, CCrashStack::kMaxFrames);
    ASSERT_EQ(static_cast<size_t>(count), test.frames);
    EXPECT_EQ(frames[0].pc, kCrashPc);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(frames[i].fp, stack.Fp(i)) << i;
        if (i > 0) {
            EXPECT_EQ(frames[i].pc, 0x402000u + (i - 1)) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Chains, CrashStackWalk,
                         ::testing::Values(WALKCASE{"OutermostFrameEndsWithZero", 3, 0, 4},
                                           WALKCASE{"SingleFrameEndsWithZero", 0, 0, 1},
                                           WALKCASE{"ChainFallingBelowItsFrameEnds", 2, 0x10, 3}),
                         [](const ::testing::TestParamInfo<WALKCASE>& info) {
                             return std::string(info.param.name);
                         });

TEST(CrashStack, ZeroFramePointerGivesNoFrame) {
    CCrashStack stack;
    ASSERT_TRUE(stack.Prepare("/proc/self/exe"));
    CCrashStack::FRAME frames[CCrashStack::kMaxFrames];
    EXPECT_EQ(stack.Walk(kCrashPc, 0, frames, CCrashStack::kMaxFrames), 0);
}

}  // namespace
