// The system's own small regular-expression engine over UTF-16 text, used to match client
// addresses against the client filters of the TCP/IP and HTTP servers.
//
// Syntax: branches joined by "|"; pieces are atoms with an optional "*", "+" or "?"; atoms are
// "(...)" (at most 9 groups), "^" (start of text), "$" (end of text), ".", "[set]" ("^" first
// negates; "]" or "-" first and "-" last are literal; ranges a-z), "\c" (c literally) and runs
// of ordinary characters ("ab*" is "a" then "b*"). Comparisons are case-sensitive.
//
// RegExpCompile returns null for a null or invalid expression (no messages). RegExpMatch
// returns the index of the leftmost match or -1; a match that would backtrack too deep or for
// too many steps (about a millisecond's work) is given up as -1, and the debug log gets one
// line for the expression (not one per text). A match need not cover the whole text, so a
// caller that wants whole-text matches anchors the expression as "^(" + expression + ")$".
// The caller owns the compiled expression and frees it with RegExpFree. A compiled expression
// keeps the text of its last match, so one thread at a time may match with it.
#pragma once

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

struct REGEXP;

REGEXP* RegExpCompile(LPCWSTR expression);
int RegExpMatch(REGEXP* prog, LPCWSTR text);
// Text of the last successful match; empty after a failed one.
CString RegExpMatchText(const REGEXP* prog);
void RegExpFree(REGEXP* prog);
