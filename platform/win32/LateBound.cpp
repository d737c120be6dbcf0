#include "platform/win32/LateBound.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/win32/Accounts.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Shell.h"
#include "platform/win32/WinVersion.h"

namespace {

struct FUNCTION {
    std::string name;
    FARPROC address;
    DWORD sinceMajor;
    DWORD sinceMinor;
};

struct MODULE {
    std::string name;  // normalised: no folder, no ".dll", lower case
    bool table = true;
    std::vector<FUNCTION> functions;
    void* shared = nullptr;  // dlopen handle of a shared object
    int refs = 0;
};

template <class F>
FARPROC Proc(F* function) {
    return reinterpret_cast<FARPROC>(function);
}

std::mutex g_lock;
// Hidden by tests in this process; never freed, since globals bind functions before main.
std::vector<std::string>& Hidden() {
    static auto* hidden = new std::vector<std::string>;
    return *hidden;
}

MODULE* AddTableModule(std::vector<std::unique_ptr<MODULE>>& modules, const std::string& name) {
    for (auto& m : modules) {
        if (m->table && m->name == name) return m.get();
    }
    modules.push_back(std::make_unique<MODULE>());
    modules.back()->name = name;
    return modules.back().get();
}

std::vector<std::unique_ptr<MODULE>> MakeTable() {
    std::vector<std::unique_ptr<MODULE>> modules;
    AddTableModule(modules, std::string());  // the program itself
    MODULE* kernel32 = AddTableModule(modules, "kernel32");
    kernel32->functions = {
        {"GetProductInfo", Proc(&GetProductInfo), 6, 0},
        {"GetNativeSystemInfo", Proc(&GetNativeSystemInfo), 5, 1},
        {"GetComputerNameExW", Proc(&GetComputerNameExW), 5, 0},
        {"ReplaceFileW", Proc(&ReplaceFileW), 5, 0},
    };
    AddTableModule(modules, "secur32")->functions = {{"GetUserNameExW", Proc(&GetUserNameExW), 5, 0}};
    AddTableModule(modules, "ntdll")->functions = {{"RtlGetVersion", Proc(&RtlGetVersion), 5, 0}};
    AddTableModule(modules, "user32");
    AddTableModule(modules, "shell32")->functions = {
        {"SHGetSpecialFolderPathW", Proc(&SHGetSpecialFolderPathW), 0, 0},
        {"SHGetFolderPathW", Proc(&SHGetFolderPathW), 5, 0},
    };
    // The redistributable that brought SHGetFolderPathW to older systems.
    AddTableModule(modules, "shfolder")->functions = {{"SHGetFolderPathW", Proc(&SHGetFolderPathW), 0, 0}};
    return modules;
}

// The table modules and the shared objects that are open. Call with g_lock held. Never freed, so
// globals that free their libraries at exit still find it.
std::vector<std::unique_ptr<MODULE>>& Modules() {
    static auto* modules = new std::vector<std::unique_ptr<MODULE>>(MakeTable());
    return *modules;
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string FileNameOf(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Normalise(const std::string& name) {
    std::string file = LowerAscii(FileNameOf(name));
    if (file.size() > 4 && file.compare(file.size() - 4, 4, ".dll") == 0) file.resize(file.size() - 4);
    return file;
}

std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> items;
    size_t begin = 0;
    while (begin <= list.size()) {
        size_t end = list.find(',', begin);
        if (end == std::string::npos) end = list.size();
        std::string item = list.substr(begin, end - begin);
        item.erase(0, item.find_first_not_of(" \t"));
        item.erase(item.find_last_not_of(" \t") + 1);
        if (!item.empty()) items.push_back(item);
        begin = end + 1;
    }
    return items;
}

// Is the module (function empty) or the function hidden? Call with g_lock held.
bool IsHidden(const std::string& module, const std::string& function) {
    std::vector<std::string> items = Hidden();
    if (const char* env = std::getenv("ZBW_HIDE_FUNCTIONS")) {
        std::vector<std::string> more = SplitList(env);
        items.insert(items.end(), more.begin(), more.end());
    }
    for (const std::string& item : items) {
        size_t bang = item.find('!');
        if (Normalise(item.substr(0, bang)) != module) continue;
        if (bang == std::string::npos || (!function.empty() && item.substr(bang + 1) == function))
            return true;
    }
    return false;
}

MODULE* FindModule(HMODULE handle) {
    for (auto& m : Modules()) {
        if (reinterpret_cast<HMODULE>(m.get()) == handle) return m.get();
    }
    return nullptr;
}

// A table module wins over a shared object of the same name.
MODULE* FindByName(const std::string& name) {
    MODULE* shared = nullptr;
    for (auto& m : Modules()) {
        if (m->name != name) continue;
        if (m->table) return m.get();
        if (!shared && m->refs > 0) shared = m.get();
    }
    return shared;
}

std::string ProgramFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/'));
}

std::vector<std::string> Candidates(const std::string& name) {
    if (!name.empty() && name[0] == '/') return {name};
    std::vector<std::string> files = {name};
    std::string base = name;
    if (base.size() > 4 && LowerAscii(base.substr(base.size() - 4)) == ".dll") base.resize(base.size() - 4);
    files.push_back("lib" + base + ".so");
    std::vector<std::string> folders = {ProgramFolder()};
    if (const char* path = std::getenv("PATH")) {
        size_t begin = 0;
        std::string list = path;
        while (begin <= list.size()) {
            size_t end = list.find(':', begin);
            if (end == std::string::npos) end = list.size();
            if (end > begin) folders.push_back(list.substr(begin, end - begin));
            begin = end + 1;
        }
    }
    std::vector<std::string> paths;
    for (const std::string& folder : folders) {
        for (const std::string& file : files) paths.push_back(folder + "/" + file);
    }
    return paths;
}

HMODULE Fail(DWORD code) {
    SetLastError(code);
    return nullptr;
}

HMODULE OpenShared(const std::string& file, const std::string& name) {
    if (file.find_first_of("/\\") != std::string::npos && file[0] != '/') return Fail(ERROR_MOD_NOT_FOUND);
    void* shared = nullptr;
    for (const std::string& path : Candidates(file)) {
        if (access(path.c_str(), F_OK) != 0) continue;
        shared = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (shared) break;
    }
    if (!shared) return Fail(ERROR_MOD_NOT_FOUND);
    std::lock_guard<std::mutex> guard(g_lock);
    for (auto& m : Modules()) {
        if (m->shared == shared) {
            ++m->refs;
            return reinterpret_cast<HMODULE>(m.get());
        }
    }
    auto module = std::make_unique<MODULE>();
    module->name = name;
    module->table = false;
    module->shared = shared;
    module->refs = 1;
    Modules().push_back(std::move(module));
    return reinterpret_cast<HMODULE>(Modules().back().get());
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
    if (!lpLibFileName || !*lpLibFileName) return Fail(ERROR_INVALID_PARAMETER);
    const std::string file = zbw::ToUtf8(lpLibFileName);
    const std::string name = Normalise(file);
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (name.empty() || IsHidden(name, std::string())) return Fail(ERROR_MOD_NOT_FOUND);
        MODULE* module = FindByName(name);
        if (module && module->table) return reinterpret_cast<HMODULE>(module);
    }
    return OpenShared(file, name);
}

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!lpModuleName) return reinterpret_cast<HMODULE>(Modules().front().get());
    const std::string name = Normalise(zbw::ToUtf8(lpModuleName));
    MODULE* module = name.empty() || IsHidden(name, std::string()) ? nullptr : FindByName(name);
    return module ? reinterpret_cast<HMODULE>(module) : Fail(ERROR_MOD_NOT_FOUND);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    void* shared = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        MODULE* module = FindModule(hModule);
        if (!module || (!module->table && module->refs == 0)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        const bool ordinal = reinterpret_cast<uintptr_t>(lpProcName) < 0x10000;
        if (ordinal || IsHidden(module->name, std::string()) || IsHidden(module->name, lpProcName)) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        for (const FUNCTION& f : module->functions) {
            if (f.name == lpProcName && zbw::EmulatedVersionAtLeast(f.sinceMajor, f.sinceMinor))
                return f.address;
        }
        shared = module->shared;
    }
    void* symbol = shared ? dlsym(shared, lpProcName) : nullptr;
    if (!symbol) SetLastError(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE hLibModule) {
    void* shared = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        MODULE* module = FindModule(hLibModule);
        if (!module || (!module->table && module->refs == 0)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (module->table) return TRUE;
        shared = module->shared;
        if (--module->refs == 0) {
            auto& modules = Modules();
            modules.erase(std::find_if(modules.begin(), modules.end(),
                                       [&](const std::unique_ptr<MODULE>& m) { return m.get() == module; }));
        }
    }
    dlclose(shared);
    return TRUE;
}

namespace zbw {

void HideLateBound(const char* what) {
    if (!what) return;
    std::lock_guard<std::mutex> guard(g_lock);
    for (const std::string& item : SplitList(what)) Hidden().push_back(item);
}

void ResetLateBound() {
    std::lock_guard<std::mutex> guard(g_lock);
    Hidden().clear();
}

void AddLateBound(const char* module, const char* function, FARPROC address, DWORD sinceMajor,
                  DWORD sinceMinor) {
    if (!module || !function || !address) return;
    std::lock_guard<std::mutex> guard(g_lock);
    MODULE* m = AddTableModule(Modules(), Normalise(module));
    for (FUNCTION& f : m->functions) {
        if (f.name == function) {
            f = FUNCTION{function, address, sinceMajor, sinceMinor};
            return;
        }
    }
    m->functions.push_back(FUNCTION{function, address, sinceMajor, sinceMinor});
}

}  // namespace zbw
