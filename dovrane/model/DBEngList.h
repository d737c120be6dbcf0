// CDBEngList: one profile's run history, newest first, and its load and save through
// g_EngineDB. Keys under the list's key P: "P>Counter" (the count), "P>i" (record text),
// "P>i>ID", "P>i>LERR", and the binary "P>i>TODO", "P>i>DONE", "P>i>COMS", "P>i>COMT".
//
// Owned by the profile's run item; not thread-safe (the run item serialises access; the
// database serialises transactions across lists and threads). A load and a save each run in
// one transaction; a save is undone when any write fails, so a stored history is never half
// replaced; false then means nothing was saved. Keys of runs beyond the saved count stay in the
// table. Records hold their counts; their HTML texts are built when first shown.
#pragma once

#include "dovrane/model/ProjectRunTime.h"
#include "platform/base/CString.h"
#include "platform/classlib/List.h"

class CDBEngList : public CList<CProjectRunTime, CProjectRunTime&> {
   public:
    // The number of newest runs kept; one older successful run may follow after failures.
    static const int kKeptRuns = 15;

    explicit CDBEngList(LPCWSTR key = u"");

    const CString& GetKey() const { return m_strKey; }
    // Sets the key and loads; the result of LoadFromDB.
    bool SetKeyAndLoad(LPCWSTR key);
    // Replaces the contents with the stored runs; false when the database could not be read.
    bool LoadFromDB();
    // Writes every record and the count in one transaction; true only when all of it was saved.
    bool SaveToDB();

    void AddHeadEntry(CProjectRunTime record);
    void AddTailEntry(CProjectRunTime record);
    // Trims after a run that ended with exitCode was added at the head: the 15 newest runs,
    // and after a failure one older run (a successful one when there is one) at the tail.
    void TrimAfterRun(int exitCode);

   private:
    CString Key(int index, LPCWSTR suffix) const;
    bool SaveRecord(int index, const CProjectRunTime& record);
    CProjectRunTime LoadRecord(int index);
    void LoadAllRecords();

    CString m_strKey;
};
