// The text of a run command's result (RUNPROFILE_*, dovrane/threads/RunItemOwner.h) for the
// profile name, as the command answers and the pages show it: "Running %s...", "Error. %s not
// found.", "%s is not enabled." or "%s already running."; empty for any other result.
#pragma once

#include "platform/base/CString.h"

CString RunResultText(int result, const CString& name);
