// CSettingsDocument: how the engine settings file is read and begun: the file, else its ".bak"
// copy (the save writes one beside it), else an empty SETTINGS document with the declaration
// the save writes. Both passes of the settings load (server values, profiles) read through it.
// Stateless; any thread, one document per caller.
#pragma once

#include "common/XMLFile.h"
#include "platform/base/CString.h"

class CSettingsDocument {
   public:
    // The XML declaration at the head of every settings file written.
    static const char16_t kDeclaration[];

    enum SOURCE { SOURCE_FILE, SOURCE_BACKUP, SOURCE_EMPTY };

    // Loads path into file, else path + ".bak", else makes the empty document; which one it
    // took. The error texts of the tries that failed go to fileError and backupError.
    static SOURCE Load(LPCWSTR path, CXMLFile& file, CString* fileError = nullptr,
                       CString* backupError = nullptr);
    // A new document of the declaration and an empty SETTINGS element, which is current.
    static void MakeEmpty(CMarkup& xml);
};
