// Pieces shared by the run-summary builders (ZB_TODO_HTML.h, ZB_EXEC_SUMMARY_HTML.h,
// ZB_STATUS_SUMMARY_HTML.h): side captions, the five-column rows and the number cells.
// Every text they make is built from numbers and fixed labels only. Stateless; any thread.
#pragma once

#include <cstdint>

#include "common/SyncCounts.h"
#include "platform/base/CString.h"

// "Source..." or "Target..." with the compressed, encrypted, locked and archived marks.
CString SideCaption(bool source, const SIDEFLAGS& flags);
// A count without units.
CString CountText(uint64_t count);
// A size with units.
CString SizeText(uint64_t bytes);
// value x 100 / base rounded half away from zero, with "%"; "0%" for a zero base.
CString PercentText(uint64_t value, uint64_t base);

// The label cell, then source count, source size, target count, target size.
CString FiveColumnRow(LPCWSTR label, const CString& sourceCount, const CString& sourceSize,
                      const CString& targetCount, const CString& targetSize, bool highlighted);
// "  Total", "Size", "  Total", "Size".
CString FiveColumnSubHead();
