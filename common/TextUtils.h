// Free helpers that turn numbers, sizes, durations and times into the texts that pages, command
// answers and logs show, plus small text helpers (HTML escape, wildcard filters, section-file
// lines). Formatting follows the user default locale (platform/Locale.h), read at every call.
// Stateless; any thread may call them. Nothing fails loudly: a time that cannot be shown gives
// "Timestamp Error", a locale call that fails falls back to a fixed numeric form.
// HtmlEscape escapes "&" and the double quote too, and WildcardToRegExp escapes every
// metacharacter and maps "?" to one character, so names and filters cannot break pages or
// matches.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"
#include "platform/classlib/OleDateTime.h"
#include "platform/classlib/Time.h"

// Flags of FormatTimeRelative and FormatDateTimeRelative.
#define FTR_TIME 0x1u
#define FTR_DATE 0x2u
#define FTR_RELATIVE 0x4u  // "Today at" etc., only together with FTR_TIME and FTR_DATE

CString IntToString(int value);

// Without units the whole number with the locale's grouping; with units a size in B, KB, MB
// or GB ("1,023B", "1.00KB"), the unit directly after the number.
CString FormatNumber(ULONGLONG value, bool units);

// "1h 00m 00s", "1 min 01 sec" or "0 sec".
CString FormatDuration(UINT seconds);

// The locale's short date and/or time of a time; with FTR_RELATIVE the date of today, yesterday
// or tomorrow reads "Today at" and so on.
CString FormatTimeRelative(const CTime& time, DWORD flags);
CString FormatDateTimeRelative(const COleDateTime& time, DWORD flags);

// Short date, a blank and the minute time: "%x %I:%M %p" in a 12-hour locale, else "%x %H:%M".
CString FormatDateTimeShort(const COleDateTime& time);

// Drops the seconds of a valid time; an invalid time stays invalid.
void TruncateToMinute(COleDateTime& time);

// The instant of a date-time text in the user locale; local 1971-01-01 01:01:01 when it does
// not parse.
CTime MakeUtcBase(LPCWSTR text);

// Escapes "&", "<", ">" and the double quote for HTML text and attribute values.
CString HtmlEscape(const CString& text);

// A client-address wildcard ("*" any characters, "?" one character) as an expression of our
// regular-expression engine (common/RegExp.h); every other character matches itself. A run of
// "*" and "?" becomes its "?"s as "." and one ".*" (for any "*" in it), so "**" costs what "*"
// does. The result is not anchored: callers that need the whole text to match anchor it
// themselves.
CString WildcardToRegExp(const CString& pattern);

// A section-file header: after leading blanks "[" and the name up to the next "]" (or the end
// of the line), blanks included. Returns whether the line is a header; otherwise name is empty.
bool ParseSectionHeader(LPCWSTR line, CString& name);

// Cuts one trailing line feed, then one trailing carriage return, then trailing spaces.
void TrimLineEnd(CString& line);
