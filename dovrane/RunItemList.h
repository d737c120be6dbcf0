// CRunItemList: the engine's one list of profile run items, in the order of the settings file
// (also the order of the pages and the command answers), with the engine settings and the
// engine error text. It reads the engine settings file in two passes (the server settings once
// at the engine start, the profiles on the load command) and writes it whole, with a ".bak"
// copy. The application object owns the one instance; the list owns its run items.
//
// Threads: the main thread owns the run items: every operation that changes an item or the list
// (load, add, set, remove, run, stop, enable, disable, move, reset, the start-up runs) says "main
// thread" and asserts it; the servers hand those to the main window (EngineCall.h). The readers
// (records, names, texts, settings, save) may run on any thread: each holds the list's one lock
// (m_csList, re-entrant) while it copies what it answers, and the main thread holds it while it
// changes what they read, never while it waits for another thread.
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
#include "platform/classlib/CriticalSection.h"
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

    // Main thread. serverOnly: the TCPIP and HTTP elements only (never fails); else the profiles (false when
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

    // List operations, main thread. Names match without regard to case; an empty category
    // matches all.
    bool AddProfileFromXml(const CString& xml);
    bool AddRunItem(const CLaunchItem& item, bool disabled);
    bool UpdateProfileFromXml(const CString& xml);
    bool RemoveProfile(LPCWSTR name);
    void RemoveAllRunItems();
    bool EnableProfile(LPCWSTR name);
    void EnableCategory(LPCWSTR category);
    bool DisableProfile(LPCWSTR name);
    void DisableCategory(LPCWSTR category);
    // The engine stop: disables the matching items that are not running, so a synchronisation
    // under way goes on.
    void DisableIdleItems(LPCWSTR category);
    // RUNPROFILE_STARTED, _RUNNING, _NOT_ACTIVE or _NOT_FOUND.
    int RunProfile(LPCWSTR name, int reason, const CProfileRunList* runList) override;
    void RunCategory(LPCWSTR category);
    void RunCategoryInSequence(LPCWSTR category);
    bool StopProfile(LPCWSTR name);
    void StopCategory(LPCWSTR category);
    bool MoveProfileUp(LPCWSTR name, LPCWSTR category);
    bool MoveProfileDown(LPCWSTR name, LPCWSTR category);
    bool ResetProfileLastRuns(LPCWSTR name);

    CString GetProfileNameList();
    CString GetProfileInfo(LPCWSTR name);
    CString GetAllProfilesInfo();
    std::shared_ptr<const CString> GetSharedLastRunsHtml(LPCWSTR name) override;
    // The next-run description of that kind (0 the next run, 1.. the runs after it) from the
    // reference date; empty when the profile is not found.
    CString GetProfileRunList(LPCWSTR name, int kind, const COleDateTime& reference);
    bool GetProfileItemXml(LPCWSTR name, CString& xml);
    bool ProfileExists(LPCWSTR name) override;
    // The list's one lock: readers hold it while they copy (the page snapshot takes the
    // settings and UpdateHttpItemData under it), the main thread while it writes.
    CSyncObject& GetListMutex() override;
    CSyncObject& GetStateLock() override;
    int GetCount();

    // Main thread, once the settings are loaded.
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
    static void WriteServerSettings(CXMLFile& file, const CEngineSettings& settings);
    void AssertMainThread() const;
    void ReplaceRunItems(const CArray<CLaunchItem>& items);

    mutable CCriticalSection m_csList;
    const DWORD m_dwMainThread;
    CSortedArray<CZBProjectRunItem*> m_items;
    CEngineSettings m_settings;
    CString m_strEngineError;
    CString m_strProgramFolder;
    bool m_bProfilesLoaded = false;
};
