// CZBEngineCommandLine: the engine's command line. The first argument that is not a flag names
// the XML settings file (the base class's rule); any argument equal to "serv", whatever its case
// and whether it came as "/serv", "-serv" or bare, tells the engine its Windows service started
// it. A bare "serv" therefore also becomes the file name, as the base class takes it. The class
// library's own flags are accepted as they come. One thread uses an object at a time.
#pragma once

#include "platform/classlib/CommandLineInfo.h"

class CZBEngineCommandLine : public CCommandLineInfo {
   public:
    void ParseParam(LPCWSTR pszParam, BOOL bFlag, BOOL bLast) override;

    bool m_bService = false;  // started by the engine's Windows service
};
