#include "dovrane/model/EngineSettings.h"

namespace {

const char16_t kLocalClients[] = u"127.0.0.1";

}  // namespace

// The start time is spelled out: the shared date constants may not exist yet when the
// application object is built.
CEngineSettings::CEngineSettings() : m_dtEngineStart(1980, 1, 1, 0, 0, 0) {
    SetDefaults();
}

void CEngineSettings::SetDefaults() {
    m_strTcpAddress.Empty();
    m_nTcpPort = 0;
    m_strTcpClients = kLocalClients;
    m_strTcpPassword.Empty();
    m_bNoTcpIp = false;
    m_nHttpPort = kDefaultHttpPort;
    m_strHttpClients = kLocalClients;
    m_strHttpPasswordHash.Empty();
    m_nRefresh = kDefaultRefresh;
    m_nCheckNew = kDefaultCheckNew;
    m_nCheckNewAfterChange = kDefaultCheckNew;
    m_bNoHttp = false;
    m_strTcpMarker.Empty();
    m_strPendingTcpAddress.Empty();
    m_strPendingTcpPort.Empty();
    m_strPendingTcpClients.Empty();
    m_strPendingTcpPassword.Empty();
    m_strHttpMarker.Empty();
    m_strPendingHttpPort.Empty();
    m_strPendingHttpClients.Empty();
    m_strPendingHttpPasswordHash.Empty();
    m_strPendingRefresh.Empty();
    m_strPendingCheckNew.Empty();
    m_strPendingCheckNewAfterChange.Empty();
    m_bHttpChanged = false;
}
