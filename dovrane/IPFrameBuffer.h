// CIPFrameBuffer: what one TCP/IP client has sent, cut into framed messages. A frame is the
// UTF-16LE text T, "|" and the 44-character digest text of T + "|"; frames carry no length, so a
// frame ends where a "|" is followed by a well-formed digest text. A frame may arrive in pieces
// (even one byte of a character at a time) and several may arrive at once: bytes are kept until
// a frame is whole, and each whole frame is handed out on its own.
//
// A frame whose digest does not match is handed out as bad and dropped. What has not become a
// frame is bounded: above the buffer's limit (IPFRAME_MAX_CHARS unless given) it is dropped as a
// bad frame, and the owner drops it when it has waited too long (DropStale).
//
// Owned by the command server's slot; one thread.
#pragma once

#include <string>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

#define IPFRAME_MAX_CHARS (128 * 1024)

class CIPFrameBuffer {
   public:
    enum RESULT { FRAME_NONE, FRAME_OK, FRAME_BAD };

    explicit CIPFrameBuffer(int maxChars = IPFRAME_MAX_CHARS) : m_nMaxChars(maxChars) {}

    // now: the tick count, which starts the age of a new partial frame.
    void Append(const char* data, int count, DWORD now);
    // FRAME_OK with the text of the next whole frame, FRAME_BAD (text empty) for a frame that
    // does not verify or an over-long partial frame, FRAME_NONE when no whole frame is there.
    RESULT TakeFrame(CString& text);
    // True when bytes of an unfinished frame wait.
    bool HasPartial() const { return !m_text.IsEmpty() || !m_oddByte.empty(); }
    // Drops an unfinished frame that began more than maxAgeMs ago; true when it did.
    bool DropStale(DWORD now, DWORD maxAgeMs);
    void Clear();

   private:
    // The end of the frame's text (the "|") at or after m_nScanFrom, or -1 while none is whole.
    int FindFrameEnd();
    static bool IsDigestText(const CString& text, int start);

    int m_nMaxChars;
    std::string m_oddByte;  // the first byte of a character whose second has not come
    CString m_text;
    int m_nScanFrom = 0;
    DWORD m_dwStarted = 0;
};
