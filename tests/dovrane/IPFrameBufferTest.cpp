// The command server's framing: frames cut at a verified "|" + digest however the bytes arrive
// (split anywhere, even inside a character, or several at once), bad digests dropped, and the
// bounds on what has not become a frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/SHA1Text.h"
#include "dovrane/IPFrameBuffer.h"

namespace {

std::string Frame(const CString& text) {
    CString framed = text + u"|";
    AppendSHA1Digest(framed);
    std::string bytes;
    for (int i = 0; i < framed.GetLength(); ++i) {
        bytes += static_cast<char>(framed[i] & 0xFF);
        bytes += static_cast<char>(framed[i] >> 8);
    }
    return bytes;
}

// Every frame the buffer hands out, "!" standing for a bad one.
std::vector<std::string> TakeAll(CIPFrameBuffer& buffer) {
    std::vector<std::string> frames;
    CString text;
    for (CIPFrameBuffer::RESULT r; (r = buffer.TakeFrame(text)) != CIPFrameBuffer::FRAME_NONE;) {
        std::string narrow = r == CIPFrameBuffer::FRAME_OK ? "" : "!";
        for (int i = 0; i < text.GetLength(); ++i) narrow += static_cast<char>(text[i]);
        frames.push_back(narrow);
    }
    return frames;
}

TEST(IPFrameBufferTest, SplitAnywhereIsOneFrame) {
    const std::string bytes = Frame(u"STATUS a|b");
    for (size_t cut = 1; cut < bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        CIPFrameBuffer buffer;
        buffer.Append(bytes.data(), static_cast<int>(cut), 0);
        EXPECT_TRUE(TakeAll(buffer).empty());
        EXPECT_TRUE(buffer.HasPartial());
        buffer.Append(bytes.data() + cut, static_cast<int>(bytes.size() - cut), 0);
        EXPECT_EQ(TakeAll(buffer), std::vector<std::string>{"STATUS a|b"});
        EXPECT_FALSE(buffer.HasPartial());
    }
}

TEST(IPFrameBufferTest, FramesArrivingTogetherAreTakenOneByOne) {
    const std::string bytes = Frame(u"VER") + Frame(u"") + Frame(u"LIST");
    CIPFrameBuffer buffer;
    buffer.Append(bytes.data(), static_cast<int>(bytes.size()), 0);
    EXPECT_EQ(TakeAll(buffer), (std::vector<std::string>{"VER", "", "LIST"}));
}

TEST(IPFrameBufferTest, WrongDigestIsDroppedAndTheNextFrameStillCounts) {
    std::string bad = Frame(u"RUN x");
    bad[0] = 'S';  // the text changed after the digest was made
    const std::string bytes = bad + Frame(u"WHO");
    CIPFrameBuffer buffer;
    buffer.Append(bytes.data(), static_cast<int>(bytes.size()), 0);
    EXPECT_EQ(TakeAll(buffer), (std::vector<std::string>{"!", "WHO"}));
}

TEST(IPFrameBufferTest, UnfinishedFramesAreBounded) {
    CIPFrameBuffer buffer;
    const std::string part = Frame(u"VER").substr(0, 5);
    buffer.Append(part.data(), static_cast<int>(part.size()), 1000);
    EXPECT_FALSE(buffer.DropStale(1000 + 500, 1000));
    EXPECT_TRUE(buffer.DropStale(1000 + 1001, 1000));
    EXPECT_FALSE(buffer.HasPartial());

    const std::string flood(2 * IPFRAME_MAX_CHARS + 4, 'a');
    buffer.Append(flood.data(), static_cast<int>(flood.size()), 0);
    CString text;
    EXPECT_EQ(buffer.TakeFrame(text), CIPFrameBuffer::FRAME_BAD);
    EXPECT_FALSE(buffer.HasPartial());
}

}  // namespace
