#include "dovrane/web/RunResultText.h"

#include "dovrane/threads/RunItemOwner.h"

CString RunResultText(int result, const CString& name) {
    LPCWSTR format = nullptr;
    switch (result) {
        case RUNPROFILE_STARTED: format = u"Running %s..."; break;
        case RUNPROFILE_NOT_FOUND: format = u"Error. %s not found."; break;
        case RUNPROFILE_NOT_ACTIVE: format = u"%s is not enabled."; break;
        case RUNPROFILE_RUNNING: format = u"%s already running."; break;
        default: return CString();
    }
    CString text;
    text.Format(format, name);
    return text;
}
