// CLaunchArray: the launch items of the engine settings file, read from and written to its
// SETTINGS element. The settings-file owner (the run-item list) calls it on the main thread
// under the run-item list's mutex; the array itself is not thread-safe.
// A file that cannot be loaded falls back to its ".bak" copy and then to an empty SETTINGS
// document, neither of which is an error; the first ITEM without a profile name ends the load.
#pragma once

#include "common/XMLFile.h"
#include "dovrane/threads/LaunchItem.h"
#include "platform/base/CString.h"
#include "platform/classlib/Array.h"

class CLaunchArray : public CArray<CLaunchItem> {
   public:
    enum : int { LOAD_OK = 0, LOAD_ITEM_REFUSED = 2 };
    enum : int { SAVE_OK = 0, SAVE_NOT_WRITTEN = 1 };

    // Appends the items of the file's SETTINGS element and leaves SETTINGS current in the
    // file's markup. LOAD_ITEM_REFUSED with error set (and printed to standard output) when an
    // ITEM had no profile name; the items before it stay loaded.
    int Load(LPCWSTR path, CXMLFile& file, CString& error);
    // Writes every item at the markup's current position (placed by the caller, inside
    // SETTINGS) and saves the document; SAVE_NOT_WRITTEN with the file's error text when saving
    // failed, or without saving when the items found no place (the file would lose them).
    int Save(CXMLFile& file, LPCWSTR path, CString& error) const;
};
