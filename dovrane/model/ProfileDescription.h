// Short descriptions of a loaded profile (Settings.h) for status pages and command answers: its
// folders and filters, its comparison, and its execution with archiving. Each public builder
// empties out and gives an HTML fragment: lines joined by "<br>- ", no trailing separator, with
// "&", "<" and ">" escaped (the "&" too, so a folder or filter name cannot start an entity).
//
// Stateless; any thread may call them on settings that no other thread changes meanwhile. They
// read the loaded values only; nothing fails. Numbers, sizes and dates follow the user default
// locale (common/TextUtils.h). Sizes of bandwidth limits are computed in 64 bits, so a large
// limit is shown as set rather than wrapped; a negative one shows as 0.
#pragma once

#include "dovrane/model/Settings.h"
#include "platform/base/CString.h"

void BuildProfileDescription(const CSettings& settings, CString& out);
void BuildComparisonDescription(const CSettings& settings, CString& out);
void BuildExecutionDescription(const CSettings& settings, CString& out);
// The archive lines, raw (no ending, no escaping): the execution description embeds them.
void BuildArchiveDescription(const CSettings& settings, CString& out);
