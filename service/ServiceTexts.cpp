#include "service/ServiceTexts.h"

#include <cstdio>

#include "platform/base/ErrorText.h"
#include "platform/base/TextConvert.h"

namespace service {

CString ErrorText(DWORD code) {
    if (code > 12000) return CString();
    char16_t buffer[1024] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buffer, 1024, nullptr);
    CString text(length != 0 ? buffer : u"");
    int cr = text.Find(u'\r');
    if (cr >= 0) text = text.Left(cr);
    return text.Left(254);
}

void Print(LPCWSTR text) {
    std::fputs(zbw::ToUtf8(text).c_str(), stdout);
    std::fflush(stdout);
}

void WaitForKey() {
    (void)std::getchar();
}

}  // namespace service
