#include "common/SafeReplaceFile.h"

#include "platform/win32/FileApi.h"
#include "platform/win32/LateBound.h"

namespace {

typedef BOOL (*REPLACEFILEW)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID);

bool ReplaceByKernel(LPCWSTR replaced, LPCWSTR replacement) {
    HMODULE kernel = LoadLibraryW(u"KERNEL32");
    if (!kernel) return false;
    auto replace = reinterpret_cast<REPLACEFILEW>(GetProcAddress(kernel, "ReplaceFileW"));
    bool done = replace && replace(replaced, replacement, nullptr, 0, nullptr, nullptr);
    FreeLibrary(kernel);
    return done;
}

}  // namespace

bool SafeReplaceFile(LPCWSTR replaced, LPCWSTR replacement) {
    if (ReplaceByKernel(replaced, replacement)) return true;
    return MoveFileExW(replacement, replaced, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}
