// CRunItemList: the engine's one list of profile run items, in the order of the settings file
// (also the order of the pages and the command answers), with the engine settings and the
// engine error text. It reads the engine settings file in two passes (the server settings once
// at the engine start, the profiles on the load command) and writes it whole, with a ".bak"
// copy. The application object owns the one instance; the list owns its run items.
//
// Threads: every operation takes g_RunItemsMutex (re-entrant, no time limit) for its whole
// duration, so any thread may call any of them: the main thread (load, save, add, set, remove,
// the engine start and stop), the TCP/IP server thread (commands, start-up runs) and the HTTP
// client threads (pages, web actions). A run started here starts its execute job on the
// caller's thread. Lock order: g_RunItemsMutex, then an item's critical sections.
//
// Failures are results: false, a result code or an error text, never an exception. The file
// is written as UTF-16LE with a byte-order mark and the XML declaration.
#pragma once

#include "common/SortedArray.h"
#include "dovrane/model/EngineSettings.h"
#include "dovrane/threads/LaunchItem.h"
#include "dovrane/threads/RunItemOwner.h"
#include "dovrane/web/HttpRunItemList.h"
#include "platform/base/CString.h"
#include "platform/classlib/Array.h"
#include "platform/classlib/OleDateTime.h"

class CZBProjectRunItem;
class CXMLFile;

class CRunItemList : public CRunItemOwner, public CHttpRunItemList {
   public:
    // Joins the fields of a run-item record, and records in a list of them.
    static constexpr char16_t kRecordSeparator = u'\x0001';

    CRunItemList();
    ~CRunItemList() override;
    CRunItemList(const CRunItemList&) = delete;
    CRunItemList& operator=(const CRunItemList&) = delete;

    void SetDefaults();

    // serverOnly: the TCPIP and HTTP elements only (never fails); else the profiles (false when
    // an ITEM is refused or the file cannot be found, and the list then stays as it was). An
    // empty path means the settings path; a path that loads becomes the settings path.
    bool LoadSettings(LPCWSTR path, bool serverOnly, CString* result = nullptr);
    // An empty path means the settings path. The saved file is copied to path + ".bak".
    bool SaveSettings(LPCWSTR path, CString* result = nullptr);
    // Whether the profile pass has loaded the list since the engine started; a save at the
    // engine stop needs it, so an empty list never replaces the file.
    bool AreProfilesLoaded();

    CEngineSettings GetSettings() override;
    // The engine facts the start stores (the settings path and server values stay).
    void SetEngineInfo(const CEngineSettings& info);
    void SetEngineStartTime(const COleDateTime& time);
    void SetProgramFolder(const CString& folder);
    CString GetProgramFolder();

    CString GetEngineError();
    void SetEngineError(const CString& text);

    // Active and pending server values for the commands and pages.
    int GetHttpPort();
    CString GetHttpFilter();
    CString GetHttpPasswordHash();
    int GetHttpCheckNew();
    CString GetNewHttpPort();
    CString GetNewHttpFilter();
    CString GetNewHttpPasswordHash();
    CString GetNewHttpCheckNew();
    // Each sets the pending text and the HTTP-changed flag; the next start reads them back.
    void SetNewHttpPort(const CString& text);
    void SetNewHttpFilter(const CString& filter);
    // Stores the digest text of the password; an empty password clears the pending hash.
    void SetNewHttpPassword(const CString& password);
    void SetNewHttpCheckNew(int value);

    // List operations. Names match without regard to case; an empty category matches all.
    bool AddProfileFromXml(const CString& xml);
    bool AddRunItem(const CLaunchItem& item, bool disabled);
    bool UpdateProfileFromXml(const CString& xml);
    bool RemoveProfile(LPCWSTR name);
    void RemoveAllRunItems();
    bool EnableProfile(LPCWSTR name) override;
    void EnableCategory(LPCWSTR category) override;
    bool DisableProfile(LPCWSTR name) override;
    void DisableCategory(LPCWSTR category) override;
    // The engine stop: disables the matching items that are not running, so a synchronisation
    // under way goes on.
    void DisableIdleItems(LPCWSTR category);
    // RUNPROFILE_STARTED, _RUNNING, _NOT_ACTIVE or _NOT_FOUND.
    int RunProfile(LPCWSTR name, int reason, const CProfileRunList* runList) override;
    void RunCategory(LPCWSTR category) override;
    void RunCategoryInSequence(LPCWSTR category) override;
    bool StopProfile(LPCWSTR name) override;
    void StopCategory(LPCWSTR category) override;
    bool MoveProfileUp(LPCWSTR name, LPCWSTR category) override;
    bool MoveProfileDown(LPCWSTR name, LPCWSTR category) override;
    bool ResetProfileLastRuns(LPCWSTR name) override;

    CString GetProfileNameList();
    CString GetProfileInfo(LPCWSTR name);
    CString GetAllProfilesInfo();
    CString GetProfileStatusHtml(LPCWSTR name);
    // The next-run description of that kind (0 the next run, 1.. the runs after it) from the
    // reference date; empty when the profile is not found.
    CString GetProfileRunList(LPCWSTR name, int kind, const COleDateTime& reference);
    bool GetProfileItemXml(LPCWSTR name, CString& xml);
    bool ProfileExists(LPCWSTR name) override;
    CMutex& GetListMutex() override;
    int GetCount();

    // On the TCP/IP server thread once the settings are loaded.
    void RunProfilesAtStartup();
    // False with error set when the program is missing, the mode is unknown, the program did
    // not start or the profile is not in the list.
    bool OpenProfileInSyncProgram(LPCWSTR name, int mode, CString& error) override;
    bool RunProgram(LPCWSTR file);
    // Appends one snapshot per item in list order; the caller empties the array first.
    void UpdateHttpItemData(CArray<CZBProjectRunItemData>& snapshots) override;

    // The record of the item at index; empty outside the list.
    CString RUNITEM_RECORD(int index);

   private:
    // A new item that knows the list, appended and given its launch item.
    CZBProjectRunItem* AppendRunItem(const CLaunchItem& item);
    int FindIndex(LPCWSTR name);
    CZBProjectRunItem* Find(LPCWSTR name);
    static bool InCategory(CZBProjectRunItem& item, LPCWSTR category);
    bool MoveProfile(LPCWSTR name, LPCWSTR category, int step);
    void DeleteRunHistory(const CString& name);
    bool LoadServerSettings(const CString& path, CString& result);
    bool LoadProfiles(const CString& path, CString& result);
    void ReadTcpSettings(CXMLFile& file);
    void ReadHttpSettings(CXMLFile& file);
    void WriteServerSettings(CXMLFile& file);
    void ReplaceRunItems(const CArray<CLaunchItem>& items);

    CSortedArray<CZBProjectRunItem*> m_items;
    CEngineSettings m_settings;
    CString m_strEngineError;
    CString m_strProgramFolder;
    bool m_bProfilesLoaded = false;
};
