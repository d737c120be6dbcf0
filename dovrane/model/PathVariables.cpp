#include "dovrane/model/PathVariables.h"

#include "common/PathUtils.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/Environment.h"
#include "platform/win32/FileApi.h"

namespace {

// printf form of the numbers, every blank then made "0" ("%2d" of 7 gives "07").
CString ZeroFilled(LPCWSTR format, int a, int b = 0, int c = 0) {
    CString text;
    text.Format(format, a, b, c);
    text.Replace(u' ', u'0');
    return text;
}

CString DateTimeValue(const CString& name, const COleDateTime& time) {
    bool ok = time.GetStatus() == COleDateTime::valid;
    int year = ok ? time.GetYear() : 0, month = ok ? time.GetMonth() : 0, day = ok ? time.GetDay() : 0;
    int hour = ok ? time.GetHour() : -1, minute = ok ? time.GetMinute() : 0,
        second = ok ? time.GetSecond() : 0;
    if (name.CompareNoCase(u"year") == 0) return ZeroFilled(u"%4d", year);
    if (name.CompareNoCase(u"month") == 0) return ZeroFilled(u"%2d", month);
    if (name.CompareNoCase(u"day") == 0) return ZeroFilled(u"%2d", day);
    if (name.CompareNoCase(u"dayofweek") == 0) return ZeroFilled(u"%1d", ok ? time.GetDayOfWeek() : 0);
    if (name.CompareNoCase(u"hour") == 0) return ZeroFilled(u"%2d", hour);
    if (name.CompareNoCase(u"min") == 0) return ZeroFilled(u"%2d", minute);
    if (name.CompareNoCase(u"sec") == 0) return ZeroFilled(u"%2d", second);
    if (name.CompareNoCase(u"date") == 0) return ZeroFilled(u"%4d%2d%2d", year, month, day);
    if (name.CompareNoCase(u"time") == 0)
        return ZeroFilled(u"%2d%2d%2d", hour < 0 ? 0 : hour, minute, second);
    return CString();
}

CString ComputerName() {
    WCHAR buffer[16] = {};
    DWORD size = 16;
    return GetComputerNameW(buffer, &size) ? CString(buffer) : CString(u"computer_unknown");
}

CString UserName() {
    WCHAR buffer[257] = {};
    DWORD size = 257;
    return GetUserNameW(buffer, &size) ? CString(buffer) : CString(u"user_unknown");
}

bool HasDrivePrefix(const CString& text) {
    return text.GetLength() >= 3 && text[1] == u':' && text[2] == u'\\';
}

void CutTrailingSeparator(CString& text) {
    int last = text.GetLength() - 1;
    if (last >= 0 && (text[last] == u'\\' || text[last] == u'/')) text = text.Left(last);
}

CString CurrentDirectory() {
    WCHAR buffer[259] = {};
    DWORD length = GetCurrentDirectoryW(259, buffer);
    return length > 0 && length < 259 ? CString(buffer) : CString();
}

CString OtherValue(const CString& name, LPCWSTR source) {
    if (name.CompareNoCase(u"computer") == 0) return ComputerName();
    if (name.CompareNoCase(u"user") == 0) return UserName();
    bool hasSource = source && *source;
    CString value;
    if (hasSource && name.CompareNoCase(u"source") == 0) {
        value = source;
        CutTrailingSeparator(value);
        return value;
    }
    if (hasSource && name.CompareNoCase(u"sourcewithoutdrive") == 0) {
        value = source;
        if (HasDrivePrefix(value)) value = value.Mid(3);
        CutTrailingSeparator(value);
        return value;
    }
    if (zbw::LookupEnvironment(name, value)) return value;
    if (name.CompareNoCase(u"cd") == 0) return CurrentDirectory();
    if (name.CompareNoCase(u"cdwithoutdrive") == 0) {
        value = CurrentDirectory();
        if (HasDrivePrefix(value)) value = value.Mid(3);
        CutTrailingSeparator(value);
    }
    return value;
}

CString TokenValue(const CString& token, const COleDateTime& time, LPCWSTR source) {
    CString name = token.Mid(1, token.GetLength() - 2);
    CString value = DateTimeValue(name, time);
    return value.IsEmpty() ? OtherValue(name, source) : value;
}

void Fail(CString& result, CString* error, const CString& message) {
    result.Empty();
    if (error) *error = message;
}

}  // namespace

void ExpandPathVariables(LPCWSTR path, const COleDateTime& time, CString& result, CString* error,
                         LPCWSTR source) {
    result.Empty();
    if (error) error->Empty();
    CString original = path ? path : u"";
    if (original == u"<blank>") return;
    CString work = original;
    int rounds = 0;
    while (!work.IsEmpty() && work.Find(u'<') >= 0) {
        if (rounds >= MaxPathVariableRounds)
            return Fail(result, error, u"invalid parameter syntax, too many parameters");
        int open = work.Find(u'<');
        int close = work.Find(u'>', open + 1);
        if (close < 0) return Fail(result, error, u"invalid parameter syntax, missing \">\"");
        CString token = work.Mid(open, close - open + 1);
        CString value = TokenValue(token, time, source);
        CString message;
        if (value.IsEmpty()) {
            message.Format(u"invalid parameter syntax, unknown parameter %s", token);
            return Fail(result, error, message);
        }
        work.Replace(token, value);
        ++rounds;
        if (work.GetLength() > MaxExpandedPathLength) {
            message.Format(u"invalid parameter syntax, parameter %s expands too far", token);
            return Fail(result, error, message);
        }
    }
    if (rounds == 0) {
        result = original;
        return;
    }
    PATHPARTS parts(work);
    if (parts.szDrive[0] == 0 && parts.szServer[0] == 0)
        return Fail(result, error, u"invalid parameter syntax, missing drive or computer name");
    if (work.GetLength() > 2 && work.Right(2) == u"\\\\") work = work.Left(work.GetLength() - 1);
    result = work;
}
