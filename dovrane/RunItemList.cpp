#include "dovrane/RunItemList.h"

#include <cassert>

#include "common/DebugPrintf.h"
#include "common/LaunchProcess.h"
#include "common/RegUtils.h"
#include "common/SHA1Text.h"
#include "common/XMLFile.h"
#include "dovrane/EngineGlobals.h"
#include "dovrane/LaunchArray.h"
#include "dovrane/SettingsDocument.h"
#include "dovrane/model/EngineDB.h"
#include "dovrane/model/SyncProgramKey.h"
#include "dovrane/threads/ZBProjectRunItem.h"
#include "dovrane/threads/ZBProjectRunItemData.h"
#include "platform/base/Clock.h"
#include "platform/base/WideChar.h"
#include "platform/classlib/SingleLock.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/ShellExecute.h"
#include "platform/win32/Thread.h"

namespace {

const char16_t kLocalClients[] = u"127.0.0.1";
const char16_t kMarker[] = u" ";
const int kPlainPasswordLimit = 30;
const int kDigestLength = 44;
const int kShowDefault = 10;  // SW_SHOWDEFAULT

bool FileExists(const CString& path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// The children of the markup's current element, found by name in any order.
class CSectionReader {
   public:
    explicit CSectionReader(CMarkup& xml) : m_xml(xml) {}

    bool Has(LPCWSTR name) {
        m_xml.OutOfElement();  // back out and in again rewinds to the first child
        m_xml.IntoElement();
        return m_xml.FindChildElement(name);
    }
    bool Text(LPCWSTR name, CString& text) {
        if (!Has(name)) return false;
        text = m_xml.GetChildElementText();
        return true;
    }

   private:
    CMarkup& m_xml;
};

// A copy of the document with the named child of SETTINGS current; false when there is none.
bool EnterSettingsChild(const CMarkup& document, LPCWSTR name, CMarkup& section) {
    section = document;
    if (!section.FindElement(u"SETTINGS") || !section.FindChildElement(name)) return false;
    section.IntoElement();
    return true;
}

bool IsPortInRange(int port) {
    return port >= 0 && port <= CEngineSettings::kHighestPort;
}

// The digest text form: 44 characters, blanks between its five groups of eight.
bool IsDigestText(const CString& text) {
    if (text.GetLength() != kDigestLength) return false;
    for (int blank : {8, 17, 26, 35})
        if (text[blank] != u' ') return false;
    return true;
}

void AddChild(CMarkup& xml, LPCWSTR name, const CString& text) {
    if (!text.IsEmpty()) xml.AddElement(name, text);
}

}  // namespace

CRunItemList::CRunItemList() : m_dwMainThread(GetCurrentThreadId()) {
    SetDefaults();
}

// No lock: the owner ends the list when no other thread uses it any more, possibly after the
// thread's own lock bookkeeping has gone (at the program's exit).
CRunItemList::~CRunItemList() {
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) delete m_items[i];
}

void CRunItemList::SetDefaults() {
    CSingleLock lock(&m_csList, TRUE);
    m_settings.SetDefaults();
}

bool CRunItemList::LoadSettings(LPCWSTR path, bool serverOnly, CString* result) {
    AssertMainThread();
    CString file = path && *path ? CString(path) : GetSettings().m_strSettingsPath;
    CString text;
    bool loaded = serverOnly ? LoadServerSettings(file, text) : LoadProfiles(file, text);
    if (result) *result = text;
    return loaded;
}

bool CRunItemList::LoadServerSettings(const CString& path, CString& result) {
    CSingleLock lock(&m_csList, TRUE);
    m_settings.m_strSettingsPath = path;
    g_DebugPrintf.Print(u"Loading TCP/IP settings from XML file %s", path);
    m_settings.SetDefaults();
    CXMLFile file;
    CString fileError;
    CString backupError;
    const CSettingsDocument::SOURCE source = CSettingsDocument::Load(path, file, &fileError, &backupError);
    if (source != CSettingsDocument::SOURCE_FILE)
        g_DebugPrintf.Print(u"Failed loading %s. %s. Will use .bak file.", path, fileError);
    if (source == CSettingsDocument::SOURCE_BACKUP)
        g_DebugPrintf.Print(u"Settings loaded from %s.", path + u".bak");
    if (source == CSettingsDocument::SOURCE_EMPTY)
        g_DebugPrintf.Print(u"Failed loading %s. %s.", path + u".bak", backupError);
    ReadTcpSettings(file);
    ReadHttpSettings(file);
    result.Format(u"Ok. Loaded %s.", path);
    return true;
}

void CRunItemList::ReadTcpSettings(CXMLFile& file) {
    CMarkup xml;
    if (!EnterSettingsChild(file.GetMarkup(), u"TCPIP", xml)) {
        g_DebugPrintf.Print(
            u"<TCPIP> tag not found in XML configuration file, ZBEngine to use default TCP/IP configuration");
        return;
    }
    g_DebugPrintf.Print(u"<TCPIP> tag found.");
    CEngineSettings& s = m_settings;
    s.m_strTcpMarker = kMarker;
    CSectionReader reader(xml);
    CString text;
    if (reader.Text(u"IP", text)) {
        s.m_strTcpAddress = s.m_strPendingTcpAddress = text;
        g_DebugPrintf.Print(u"<IP> tag found, zbengine will use IP %s (TCP/IP protocol)", text);
    } else {
        s.m_strTcpAddress.Empty();
        g_DebugPrintf.Print(
            u"<IP> tag not found in XML configuration file, zbengine will use default IP address (TCP/IP "
            u"protocol)");
    }
    if (!reader.Text(u"PORT", text)) {
        s.m_nTcpPort = 0;
        g_DebugPrintf.Print(
            u"<PORT> tag not found in XML configuration file, zbengine will use port %d (TCP/IP protocol)",
            0);
    } else if (int port = _wtoi(text); IsPortInRange(port)) {
        s.m_strPendingTcpPort = text;
        s.m_nTcpPort = port;
        g_DebugPrintf.Print(u"<PORT> tag found, zbengine will use port %d (TCP/IP protocol)", port);
    } else {
        s.m_nTcpPort = 0;
        g_DebugPrintf.Print(
            u"<PORT> tag invalid in XML configuration file, zbengine will use port %d (TCP/IP protocol)", 0);
    }
    if (reader.Text(u"CLIENTS", text)) {
        s.m_strTcpClients = s.m_strPendingTcpClients = text;
        g_DebugPrintf.Print(
            u"<CLIENTS> tag found, zbengine will only allow clients from %s (TCP/IP protocol)", text);
    } else {
        s.m_strTcpClients = kLocalClients;
        g_DebugPrintf.Print(
            u"<CLIENTS> tag not found in XML configuration file, zbengine will only allow clients from %s "
            u"(TCP/IP protocol)",
            kLocalClients);
    }
    if (reader.Text(u"PWD", text)) {
        s.m_strTcpPassword = s.m_strPendingTcpPassword = text;
        g_DebugPrintf.Print(
            u"<PWD> tag found, zbengine access via TCP/IP will require password (TCP/IP protocol)");
    } else {
        s.m_strTcpPassword.Empty();
        g_DebugPrintf.Print(
            u"<PWD> tag not found in XML configuration file, zbengine access via TCP/IP will not require "
            u"password (TCP/IP protocol)");
    }
    s.m_bNoTcpIp = reader.Has(u"NOTCPIP");
    if (s.m_bNoTcpIp) {
        s.m_nTcpPort = 0;
        g_DebugPrintf.Print(
            u"<NOTCPIP> tag found in XML configuration file, zbengine will not accept TCP/IP connections");
    }
}

void CRunItemList::ReadHttpSettings(CXMLFile& file) {
    CMarkup xml;
    if (!EnterSettingsChild(file.GetMarkup(), u"HTTP", xml)) {
        g_DebugPrintf.Print(
            u"<HTTP> tag not found in XML configuration file, zbengine will use default HTTP configuration");
        return;
    }
    g_DebugPrintf.Print(u"<HTTP> tag found.");
    CEngineSettings& s = m_settings;
    s.m_strHttpMarker = kMarker;
    CSectionReader reader(xml);
    CString text;
    if (!reader.Text(u"PORT", text)) {
        s.m_nHttpPort = CEngineSettings::kDefaultHttpPort;
        g_DebugPrintf.Print(
            u"<PORT> tag not found in XML configuration file, using default port %d (HTTP protocol)",
            s.m_nHttpPort);
    } else if (int port = _wtoi(text); IsPortInRange(port)) {
        s.m_strPendingHttpPort = text;
        s.m_nHttpPort = port;
        g_DebugPrintf.Print(u"<PORT> tag found, zbengine will use port %d (HTTP protocol)", port);
    } else {
        s.m_nHttpPort = CEngineSettings::kDefaultHttpPort;
        g_DebugPrintf.Print(u"<PORT> tag found, invalid port value, using default port %d (HTTP protocol)",
                            s.m_nHttpPort);
    }
    if (reader.Text(u"CLIENTS", text)) {
        s.m_strHttpClients = s.m_strPendingHttpClients = text;
        g_DebugPrintf.Print(u"<CLIENTS> tag found: zbengine will only allow clients from %s (HTTP protocol)",
                            text);
    } else {
        s.m_strHttpClients = kLocalClients;
        g_DebugPrintf.Print(
            u"<CLIENTS> tag not found in XML configuration file: zbengine will only allow clients from %s "
            u"(HTTP protocol)",
            kLocalClients);
    }
    if (reader.Text(u"PWD", text)) {
        if (text.GetLength() < kPlainPasswordLimit) text = SHA1HashText(text);
        if (IsDigestText(text)) {
            s.m_strHttpPasswordHash = s.m_strPendingHttpPasswordHash = text;
            g_DebugPrintf.Print(
                u"<PWD> tag found, zbengine access via HTTP requires password (HTTP protocol)");
        } else {
            s.m_strHttpPasswordHash.Empty();
            g_DebugPrintf.Print(
                u"<PWD> invalid password hash found in XML configuration file, zbengine access via HTTP will "
                u"not require password (HTTP protocol)");
        }
    } else {
        s.m_strHttpPasswordHash.Empty();
        g_DebugPrintf.Print(
            u"<PWD> tag not found in XML configuration file, zbengine access via HTTP does not require "
            u"password (HTTP protocol)");
    }
    if (reader.Text(u"REFRESH", text)) {
        s.m_strPendingRefresh = text;
        s.m_nRefresh = _wtol(text);
        g_DebugPrintf.Print(u"<REFRESH> tag found, value %d", s.m_nRefresh);
    } else {
        s.m_nRefresh = CEngineSettings::kDefaultRefresh;
        g_DebugPrintf.Print(u"<REFRESH> tag not found in XML configuration file, using default %d",
                            s.m_nRefresh);
    }
    if (reader.Text(u"CHECKNEW", text)) {
        s.m_strPendingCheckNew = text;
        s.m_nCheckNew = _wtoi(text);
        g_DebugPrintf.Print(u"<CHECKNEW> tag found, value %d", s.m_nCheckNew);
    } else {
        s.m_nCheckNew = CEngineSettings::kDefaultCheckNew;
        g_DebugPrintf.Print(u"<CHECKNEW> tag not found in XML configuration file, using default %d",
                            s.m_nCheckNew);
    }
    if (reader.Text(u"CHECKNEW_AFTERCHANGE", text)) {
        s.m_strPendingCheckNewAfterChange = text;
        s.m_nCheckNewAfterChange = _wtoi(text);
        g_DebugPrintf.Print(u"<CHECKNEW_AFTERCHANGE> tag found, value %d", s.m_nCheckNewAfterChange);
    } else {
        s.m_nCheckNewAfterChange = s.m_nCheckNew;
        g_DebugPrintf.Print(
            u"<CHECKNEW_AFTERCHANGE> tag not found in XML configuration file, using default %d",
            s.m_nCheckNewAfterChange);
    }
    s.m_bNoHttp = reader.Has(u"NOHTTP");
    if (s.m_bNoHttp) {
        s.m_nHttpPort = 0;
        g_DebugPrintf.Print(
            u"<NOHTTP> tag found in XML configuration file, zbengine will not accept HTTP (browser) "
            u"connections");
    }
}

// A file that is not there (nor its ".bak") is refused, so a mistyped name neither empties the
// list nor becomes the settings path. The engine's own file before its first load is the one
// exception: the first start creates it.
bool CRunItemList::LoadProfiles(const CString& path, CString& result) {
    g_DebugPrintf.Print(u"Loading profiles from XML file %s", path);
    const bool firstStart = path.CompareNoCase(m_settings.m_strSettingsPath) == 0 && m_items.IsEmpty();
    CString error;
    CLaunchArray items;
    CXMLFile file;
    if (!FileExists(path) && !FileExists(path + u".bak") && !firstStart) {
        file.Load(path);
        error = file.GetError();
    } else if (items.Load(path, file, error) == CLaunchArray::LOAD_OK) {
        error.Empty();
    } else if (error.IsEmpty()) {
        error = u"Unable to load XML file";
    }
    if (!error.IsEmpty()) {
        result.Format(u"Failed loading %s. %s.", path, error);
        g_DebugPrintf.Print(u"%s", result);
        return false;
    }
    {
        CSingleLock lock(&m_csList, TRUE);
        m_settings.m_strSettingsPath = path;
    }
    ReplaceRunItems(items);
    CSingleLock lock(&m_csList, TRUE);
    m_bProfilesLoaded = true;
    result.Format(u"Ok. Loaded %s.", path);
    return true;
}

// Every item is in the list before the first is enabled, so a profile to run after is found.
// An item about to be enabled is not disabled first: Enable disables it on its way, and the
// first Disable would start watching the profile file only to have that watch replaced.
void CRunItemList::ReplaceRunItems(const CArray<CLaunchItem>& items) {
    RemoveAllRunItems();
    for (INT_PTR i = 0; i < items.GetSize(); ++i) {
        const CLaunchItem& launch = items[i];
        if (launch.m_strProfile.IsEmpty() || FindIndex(launch.m_strProfile) >= 0) continue;
        CZBProjectRunItem* item = AppendRunItem(launch);
        if (!launch.m_nEnabled) item->Disable();
    }
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) {
        CZBProjectRunItem* item = m_items[i];
        CLaunchItem launch = item->GetLaunchItem();
        if (launch.m_nEnabled) item->Enable(launch);
    }
}

// The list and the settings are copied under the lock and written without it, so neither the
// readers nor the main thread wait for the file.
bool CRunItemList::SaveSettings(LPCWSTR path, CString* result) {
    CLaunchArray items;
    CEngineSettings settings;
    {
        CSingleLock lock(&m_csList, TRUE);
        settings = m_settings;
        for (INT_PTR i = 0; i < m_items.GetSize(); ++i) {
            CLaunchItem launch = m_items[i]->GetLaunchItem();
            launch.m_nEnabled = m_items[i]->GetState() != RUNSTATE_DISABLED ? 1 : 0;
            items.Add(launch);
        }
    }
    CString file = path && *path ? CString(path) : settings.m_strSettingsPath;
    g_DebugPrintf.Print(u"Saving settings to XML file %s", file);
    CXMLFile document;
    CMarkup& xml = document.GetMarkup();
    CSettingsDocument::MakeEmpty(xml);
    xml.IntoElement();
    WriteServerSettings(document, settings);
    CString error;
    CString text;
    bool saved = items.Save(document, file, error) == CLaunchArray::SAVE_OK;
    if (saved) {
        text.Format(u"Ok. Saved to %s.", file);
        CopyFileW(file, file + u".bak", FALSE);
    } else {
        text.Format(u"Failed saving %s. %s.", file, error);
        g_DebugPrintf.Print(u"%s", text);
    }
    {
        CSingleLock lock(&m_csList, TRUE);
        m_settings.m_bSaved = saved;
    }
    if (result) *result = text;
    return saved;
}

void CRunItemList::WriteServerSettings(CXMLFile& file, const CEngineSettings& s) {
    CMarkup& xml = file.GetMarkup();
    if (!s.m_strTcpMarker.IsEmpty()) {
        xml.AddElement(u"TCPIP");
        xml.IntoElement();
        AddChild(xml, u"IP", s.m_strPendingTcpAddress);
        AddChild(xml, u"PORT", s.m_strPendingTcpPort);
        AddChild(xml, u"CLIENTS", s.m_strPendingTcpClients);
        AddChild(xml, u"PWD", s.m_strPendingTcpPassword);
        if (s.m_bNoTcpIp) xml.AddElement(u"NOTCPIP");
        xml.OutOfElement();
    }
    if (!s.m_strHttpMarker.IsEmpty() || s.m_bHttpChanged) {
        xml.AddElement(u"HTTP");
        xml.IntoElement();
        AddChild(xml, u"PORT", s.m_strPendingHttpPort);
        AddChild(xml, u"CLIENTS", s.m_strPendingHttpClients);
        AddChild(xml, u"PWD", s.m_strPendingHttpPasswordHash);
        AddChild(xml, u"REFRESH", s.m_strPendingRefresh);
        AddChild(xml, u"CHECKNEW", s.m_strPendingCheckNew);
        AddChild(xml, u"CHECKNEW_AFTERCHANGE", s.m_strPendingCheckNewAfterChange);
        if (s.m_bNoHttp) xml.AddElement(u"NOHTTP");
        xml.OutOfElement();
    }
}

bool CRunItemList::AreProfilesLoaded() {
    CSingleLock lock(&m_csList, TRUE);
    return m_bProfilesLoaded;
}

CEngineSettings CRunItemList::GetSettings() {
    CSingleLock lock(&m_csList, TRUE);
    return m_settings;
}

void CRunItemList::SetEngineInfo(const CEngineSettings& info) {
    CSingleLock lock(&m_csList, TRUE);
    CEngineSettings& s = m_settings;
    s.m_strVersion = info.m_strVersion;
    s.m_strCommandLine = info.m_strCommandLine;
    s.m_strSystem = info.m_strSystem;
    s.m_strAccount = info.m_strAccount;
    s.m_strComputerName = info.m_strComputerName;
    s.m_strSyncProgramPath = info.m_strSyncProgramPath;
    s.m_strLogPath = info.m_strLogPath;
    s.m_strDBPath = info.m_strDBPath;
    s.m_nSyncProgramMissing = info.m_nSyncProgramMissing;
    s.m_nSyncProgramBuild = info.m_nSyncProgramBuild;
    s.m_nService = info.m_nService;
}

void CRunItemList::SetEngineStartTime(const COleDateTime& time) {
    CSingleLock lock(&m_csList, TRUE);
    m_settings.m_dtEngineStart = time;
}

void CRunItemList::SetProgramFolder(const CString& folder) {
    CSingleLock lock(&m_csList, TRUE);
    m_strProgramFolder = folder;
}

CString CRunItemList::GetProgramFolder() {
    CSingleLock lock(&m_csList, TRUE);
    return m_strProgramFolder;
}

CString CRunItemList::GetEngineError() {
    CSingleLock lock(&m_csList, TRUE);
    return m_strEngineError;
}

void CRunItemList::SetEngineError(const CString& text) {
    CSingleLock lock(&m_csList, TRUE);
    m_strEngineError = text;
}

int CRunItemList::GetHttpPort() {
    CSingleLock lock(&m_csList, TRUE);
    return m_settings.m_nHttpPort;
}

CString CRunItemList::GetHttpFilter() {
    CSingleLock lock(&m_csList, TRUE);
    return m_settings.m_strHttpClients;
}

CString CRunItemList::GetHttpPasswordHash() {
    CSingleLock lock(&m_csList, TRUE);
    return m_settings.m_strHttpPasswordHash;
}

int CRunItemList::GetHttpCheckNew() {
    CSingleLock lock(&m_csList, TRUE);
    return m_settings.m_nCheckNew;
}

CString CRunItemList::GetNewHttpPort() {
    CSingleLock lock(&m_csList, TRUE);
    return m_settings.m_strPendingHttpPort;
}

CString CRunItemList::GetNewHttpFilter() {
    CSingleLock lock(&m_csList, TRUE);
    return m_settings.m_strPendingHttpClients;
}

CString CRunItemList::GetNewHttpPasswordHash() {
    CSingleLock lock(&m_csList, TRUE);
    return m_settings.m_strPendingHttpPasswordHash;
}

CString CRunItemList::GetNewHttpCheckNew() {
    CSingleLock lock(&m_csList, TRUE);
    return m_settings.m_strPendingCheckNew;
}

void CRunItemList::SetNewHttpPort(const CString& text) {
    CSingleLock lock(&m_csList, TRUE);
    m_settings.m_strPendingHttpPort = text;
    m_settings.m_bHttpChanged = true;
}

void CRunItemList::SetNewHttpFilter(const CString& filter) {
    CSingleLock lock(&m_csList, TRUE);
    m_settings.m_strPendingHttpClients = filter;
    m_settings.m_bHttpChanged = true;
}

void CRunItemList::SetNewHttpPassword(const CString& password) {
    CSingleLock lock(&m_csList, TRUE);
    m_settings.m_strPendingHttpPasswordHash = password.IsEmpty() ? CString() : SHA1HashText(password);
    m_settings.m_bHttpChanged = true;
}

void CRunItemList::SetNewHttpCheckNew(int value) {
    CSingleLock lock(&m_csList, TRUE);
    m_settings.m_strPendingCheckNew.Format(u"%d", value);
    m_settings.m_bHttpChanged = true;
}

// ---- list operations

int CRunItemList::FindIndex(LPCWSTR name) {
    if (!name) return -1;
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i)
        if (m_items[i]->GetName().CompareNoCase(name) == 0) return static_cast<int>(i);
    return -1;
}

CZBProjectRunItem* CRunItemList::Find(LPCWSTR name) {
    const int index = FindIndex(name);
    return index < 0 ? nullptr : m_items[index];
}

bool CRunItemList::InCategory(CZBProjectRunItem& item, LPCWSTR category) {
    return !category || !*category || item.GetCategory().CompareNoCase(category) == 0;
}

CSyncObject& CRunItemList::GetListMutex() {
    return m_csList;
}

CSyncObject& CRunItemList::GetStateLock() {
    return m_csList;
}

void CRunItemList::AssertMainThread() const {
    assert(GetCurrentThreadId() == m_dwMainThread);
}

int CRunItemList::GetCount() {
    CSingleLock lock(&m_csList, TRUE);
    return static_cast<int>(m_items.GetSize());
}

bool CRunItemList::AddProfileFromXml(const CString& xml) {
    AssertMainThread();
    CLaunchItem item;
    if (!item.FromXmlText(xml) || item.m_strProfile.IsEmpty()) return false;
    return AddRunItem(item, false);
}

CZBProjectRunItem* CRunItemList::AppendRunItem(const CLaunchItem& item) {
    CZBProjectRunItem* runItem = new CZBProjectRunItem();
    runItem->SetOwnerList(this);
    {
        CSingleLock lock(&m_csList, TRUE);
        m_items.Add(runItem);
    }
    runItem->SetInfo(item);
    return runItem;
}

bool CRunItemList::AddRunItem(const CLaunchItem& item, bool disabled) {
    AssertMainThread();
    if (item.m_strProfile.IsEmpty() || FindIndex(item.m_strProfile) >= 0) return false;
    CZBProjectRunItem* runItem = AppendRunItem(item);
    if (disabled || item.m_nEnabled == 0)
        runItem->Disable();
    else
        runItem->Enable(item);
    return true;
}

// The item keeps its enabled or disabled state: an enabled item (whatever it is doing) is enabled
// again with the new settings, a disabled one stays disabled.
bool CRunItemList::UpdateProfileFromXml(const CString& xml) {
    AssertMainThread();
    CLaunchItem item;
    if (!item.FromXmlText(xml)) return false;
    CZBProjectRunItem* runItem = Find(item.m_strProfile);
    if (!runItem) return false;
    const bool enabled = runItem->GetState() != RUNSTATE_DISABLED;
    runItem->SetInfo(item);
    if (enabled)
        runItem->Enable(runItem->GetLaunchItem());
    else
        runItem->Disable();
    return true;
}

bool CRunItemList::RemoveProfile(LPCWSTR name) {
    AssertMainThread();
    CZBProjectRunItem* item = Find(name);
    if (!item) return false;
    const CString profile = item->GetName();
    item->Disable();
    {
        // Found again: the stop's pump may have let other items in or out.
        CSingleLock lock(&m_csList, TRUE);
        for (INT_PTR i = 0; i < m_items.GetSize(); ++i) {
            if (m_items[i] == item) {
                m_items.RemoveAt(i);
                break;
            }
        }
    }
    delete item;
    DeleteRunHistory(profile);
    return true;
}

// The name is matched literally: its "*", "?" and "[" would otherwise be pattern characters and
// reach other profiles' keys.
void CRunItemList::DeleteRunHistory(const CString& name) {
    if (!g_EngineDB.BeginDBTransaction()) return;
    if (g_EngineDB.DeleteDBKeys(CEngineDB::EscapeGlob(name) + u">*"))
        g_EngineDB.CommitDBTransaction();
    else
        g_EngineDB.RollbackDBTransaction();
}

// The items leave the list first, so no reader and no chain finds one while it stops.
void CRunItemList::RemoveAllRunItems() {
    AssertMainThread();
    CArray<CZBProjectRunItem*> removed;
    {
        CSingleLock lock(&m_csList, TRUE);
        for (INT_PTR i = 0; i < m_items.GetSize(); ++i) removed.Add(m_items[i]);
        m_items.RemoveAll();
    }
    for (INT_PTR i = 0; i < removed.GetSize(); ++i) {
        removed[i]->Disable();
        delete removed[i];
    }
}

bool CRunItemList::EnableProfile(LPCWSTR name) {
    AssertMainThread();
    CZBProjectRunItem* item = Find(name);
    if (!item) return false;
    CLaunchItem launch = item->GetLaunchItem();
    if (!launch.m_strProfile.IsEmpty()) item->Enable(launch);
    return true;
}

void CRunItemList::EnableCategory(LPCWSTR category) {
    AssertMainThread();
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) {
        CZBProjectRunItem* item = m_items[i];
        if (!InCategory(*item, category)) continue;
        CLaunchItem launch = item->GetLaunchItem();
        if (!launch.m_strProfile.IsEmpty()) item->Enable(launch);
    }
}

bool CRunItemList::DisableProfile(LPCWSTR name) {
    AssertMainThread();
    CZBProjectRunItem* item = Find(name);
    if (!item) return false;
    item->Disable();
    return true;
}

void CRunItemList::DisableCategory(LPCWSTR category) {
    AssertMainThread();
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i)
        if (InCategory(*m_items[i], category)) m_items[i]->Disable();
}

void CRunItemList::DisableIdleItems(LPCWSTR category) {
    AssertMainThread();
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) {
        CZBProjectRunItem* item = m_items[i];
        if (InCategory(*item, category) && item->GetState() != RUNSTATE_RUNNING) item->Disable();
    }
}

int CRunItemList::RunProfile(LPCWSTR name, int reason, const CProfileRunList* runList) {
    AssertMainThread();
    CZBProjectRunItem* item = Find(name);
    if (!item) return RUNPROFILE_NOT_FOUND;
    if (item->IsActive()) {
        item->Run(reason, runList);
        return RUNPROFILE_STARTED;
    }
    return item->GetState() == RUNSTATE_RUNNING ? RUNPROFILE_RUNNING : RUNPROFILE_NOT_ACTIVE;
}

void CRunItemList::RunCategory(LPCWSTR category) {
    AssertMainThread();
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) {
        CZBProjectRunItem* item = m_items[i];
        if (InCategory(*item, category) && item->IsActive()) item->Run(RUNREASON_MANUAL, nullptr);
    }
}

void CRunItemList::RunCategoryInSequence(LPCWSTR category) {
    AssertMainThread();
    CProfileRunList sequence;
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i)
        if (InCategory(*m_items[i], category)) AddProfileToRunList(sequence, m_items[i]->GetName());
    // The current index marks the entry that runs, so the item carries on with the ones after it.
    for (int i = 0; i < sequence.GetSize(); ++i) {
        sequence.SetCurrentIndex(i);
        if (RunProfile(sequence[i].m_strName, RUNREASON_MANUAL, &sequence) == RUNPROFILE_STARTED) return;
    }
}

bool CRunItemList::StopProfile(LPCWSTR name) {
    AssertMainThread();
    CZBProjectRunItem* item = Find(name);
    if (!item) return false;
    item->Stop();
    return true;
}

void CRunItemList::StopCategory(LPCWSTR category) {
    AssertMainThread();
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i)
        if (InCategory(*m_items[i], category)) m_items[i]->Stop();
}

bool CRunItemList::MoveProfileUp(LPCWSTR name, LPCWSTR category) {
    return MoveProfile(name, category, -1);
}

bool CRunItemList::MoveProfileDown(LPCWSTR name, LPCWSTR category) {
    return MoveProfile(name, category, 1);
}

bool CRunItemList::MoveProfile(LPCWSTR name, LPCWSTR category, int step) {
    AssertMainThread();
    CSingleLock lock(&m_csList, TRUE);
    const int from = FindIndex(name);
    if (from < 0) return false;
    for (int to = from + step; to >= 0 && to < m_items.GetSize(); to += step) {
        if (!InCategory(*m_items[to], category)) continue;
        CZBProjectRunItem* moved = m_items[from];
        m_items[from] = m_items[to];
        m_items[to] = moved;
        return true;
    }
    return false;
}

bool CRunItemList::ResetProfileLastRuns(LPCWSTR name) {
    AssertMainThread();
    CZBProjectRunItem* item = Find(name);
    if (!item) return false;
    item->ResetLastRuns();
    return true;
}

CString CRunItemList::GetProfileNameList() {
    CSingleLock lock(&m_csList, TRUE);
    CString names;
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) {
        if (i > 0) names += u'|';
        names += m_items[i]->GetName();
    }
    return names;
}

CString CRunItemList::RUNITEM_RECORD(int index) {
    CSingleLock lock(&m_csList, TRUE);
    if (index < 0 || index >= m_items.GetSize()) return CString();
    CZBProjectRunItem& item = *m_items[index];
    CString record = item.GetName();
    record += kRecordSeparator;
    record.AppendFormat(u"%d", item.GetState());
    record += kRecordSeparator;
    record += item.GetStatusText();
    record += kRecordSeparator;
    record += item.GetSettingsText();
    record += kRecordSeparator;
    record += item.GetDetailsText();
    record += kRecordSeparator;
    const int percent = item.GetProgressPercent();
    if (percent >= 1 && percent <= 99) record.AppendFormat(u"%d", percent);
    record += kRecordSeparator;
    record += item.GetLastRunHtml();
    record += kRecordSeparator;
    record += item.GetNextRunDisplayText(0, g_DateNone);
    return record;
}

CString CRunItemList::GetProfileInfo(LPCWSTR name) {
    CSingleLock lock(&m_csList, TRUE);
    return RUNITEM_RECORD(FindIndex(name));
}

CString CRunItemList::GetAllProfilesInfo() {
    CSingleLock lock(&m_csList, TRUE);
    CString records;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        if (i > 0) records += kRecordSeparator;
        records += RUNITEM_RECORD(i);
    }
    return records;
}

std::shared_ptr<const CString> CRunItemList::GetSharedLastRunsHtml(LPCWSTR name) {
    CSingleLock lock(&m_csList, TRUE);
    CZBProjectRunItem* item = Find(name);
    return item ? item->GetSharedLastRunsHtml() : nullptr;
}

CString CRunItemList::GetProfileRunList(LPCWSTR name, int kind, const COleDateTime& reference) {
    CSingleLock lock(&m_csList, TRUE);
    CZBProjectRunItem* item = Find(name);
    return item ? item->GetNextRunDisplayText(kind, reference) : CString();
}

bool CRunItemList::GetProfileItemXml(LPCWSTR name, CString& xml) {
    CSingleLock lock(&m_csList, TRUE);
    CZBProjectRunItem* item = Find(name);
    if (!item) return false;
    xml = item->GetLaunchItem().ToXmlText();
    return true;
}

bool CRunItemList::ProfileExists(LPCWSTR name) {
    CSingleLock lock(&m_csList, TRUE);
    return FindIndex(name) >= 0;
}

void CRunItemList::RunProfilesAtStartup() {
    AssertMainThread();
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) {
        CZBProjectRunItem* item = m_items[i];
        if (!item->GetLaunchItem().m_nStartup) continue;
        g_DebugPrintf.Print(u"Run %s at startup.", item->GetName());
        item->RunAtStartup();
    }
}

bool CRunItemList::OpenProfileInSyncProgram(LPCWSTR name, int mode, CString& error) {
    CString program;
    if (!ReadRegStringLM(kSyncProgramKey, u"path", program)) {
        error = kSyncProgramMissing;
        return false;
    }
    CString profile;
    {
        CSingleLock lock(&m_csList, TRUE);
        if (CZBProjectRunItem* item = Find(name)) profile = item->GetName();
    }
    if (profile.IsEmpty()) {
        error.Format(u"Profile %s not found in ZBEngine list.", name ? name : u"");
        return false;
    }
    CString commandLine = u"\"" + program + u"\" \"" + profile + u"\"";
    switch (mode) {
        case OPENMODE_OPEN: commandLine += u" "; break;
        case OPENMODE_AUTOCOMPARE: commandLine += u" /autocompare"; break;
        case OPENMODE_SETTINGS: commandLine += u" /settings"; break;
        default: error.Format(u"Unknown mode %d for opening profile %s.", mode, profile); return false;
    }
    PROCESS_INFORMATION info{};
    if (!LaunchProcess(nullptr, commandLine, nullptr, &info)) {
        error.Format(u"Unable to start Zebrodyne Pro (%s) for profile %s.", program, profile);
        return false;
    }
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    error.Empty();
    return true;
}

// The process handle is not needed: the shell start is all there is to it.
bool CRunItemList::RunProgram(LPCWSTR file) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = u"open";
    info.lpFile = file;
    info.lpParameters = u"";
    info.nShow = kShowDefault;
    if (!ShellExecuteExW(&info)) return false;
    if (info.hProcess) CloseHandle(info.hProcess);
    return true;
}

void CRunItemList::UpdateHttpItemData(CArray<CZBProjectRunItemData>& snapshots) {
    CSingleLock lock(&m_csList, TRUE);
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) {
        const INT_PTR slot = snapshots.Add(CZBProjectRunItemData());
        snapshots[slot].Update(*m_items[i]);
    }
}
