// The emulated registry: keys, values, rights, several processes; fakes a temporary emulation root, another
// identity and a read-only machine hive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/WinError.h"
#include "platform/base/WinTypes.h"
#include "platform/host/EmulationRoot.h"
#include "platform/win32/Registry.h"
#include "tests/support/OtherIdentity.h"
#include "tests/support/TestRoot.h"

namespace {

std::vector<BYTE> Bytes(const std::u16string& text, bool withZero) {
    std::vector<BYTE> out;
    for (char16_t c : text) {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>(c >> 8));
    }
    if (withZero) out.insert(out.end(), {0, 0});
    return out;
}

std::vector<BYTE> Dword(DWORD v) {
    return {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
            static_cast<BYTE>(v >> 24)};
}

class RegistryTest : public ::testing::Test {
   protected:
    void TearDown() override {
        for (HKEY key : m_open) RegCloseKey(key);
        unsetenv("ZBW_HKLM_READONLY");
    }

    HKEY Create(HKEY root, LPCWSTR path, REGSAM sam = KEY_ALL_ACCESS, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, sam, nullptr, &key, disposition), ERROR_SUCCESS);
        m_open.push_back(key);
        return key;
    }

    LONG Open(HKEY root, LPCWSTR path, REGSAM sam, HKEY* key) {
        LONG rc = RegOpenKeyExW(root, path, 0, sam, key);
        if (rc == ERROR_SUCCESS) m_open.push_back(*key);
        return rc;
    }

    static LONG Set(HKEY key, LPCWSTR name, DWORD type, const std::vector<BYTE>& data) {
        return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    }

    static LONG Get(HKEY key, LPCWSTR name, DWORD* type, std::vector<BYTE>* data) {
        DWORD size = 0;
        LONG rc = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
        if (rc != ERROR_SUCCESS) return rc;
        data->assign(size, 0);
        rc = RegQueryValueExW(key, name, nullptr, type, data->data(), &size);
        data->resize(size);
        return rc;
    }

    static std::vector<std::u16string> ValueNames(HKEY key) {
        std::vector<std::u16string> names;
        char16_t name[512];
        for (DWORD i = 0;; ++i) {
            DWORD cch = 512;
            if (RegEnumValueW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names.emplace_back(name, cch);
        }
        return names;
    }

    // A forked process running `body`; its exit status says whether body returned true.
    static pid_t RunInChild(const std::function<bool()>& body) {
        pid_t child = fork();
        if (child == 0) _exit(body() ? 0 : 1);
        return child;
    }

    // Waits (at most a minute) for the child; false when it failed or had to be killed.
    static bool ChildSucceeded(pid_t child) {
        int status = 0;
        bool reaped = false;
        for (int waited = 0; waited < 60000 && !reaped; waited += 10) {
            reaped = waitpid(child, &status, WNOHANG) == child;
            if (!reaped) usleep(10000);
        }
        if (!reaped) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        return reaped && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string MachineHive() const { return zbw::MachineDir() + "/registry.hive"; }
    std::string MachineDatabase() const { return zbw::MachineDir() + "/registry.db"; }

    CTestRoot m_root;
    std::vector<HKEY> m_open;
};

TEST_F(RegistryTest, CreateMakesIntermediateKeysAndReportsDisposition) {
    DWORD disposition = 0;
    Create(HKEY_CURRENT_USER, u"Software\\ZBEngine\\ZBEngine", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    Create(HKEY_CURRENT_USER, u"SOFTWARE\\zbengine\\ZBENGINE\\", KEY_READ, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

    HKEY parent = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, u"software", KEY_READ, &parent), ERROR_SUCCESS);
    char16_t name[64];
    DWORD cch = 64;
    ASSERT_EQ(RegEnumKeyExW(parent, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, cch), u"ZBEngine");  // the case it was made with
    cch = 64;
    EXPECT_EQ(RegEnumKeyExW(parent, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, MissingKeysAndValuesAreFileNotFound) {
    HKEY key = nullptr;
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\ZBEngine", KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    HKEY made = Create(HKEY_LOCAL_MACHINE, u"software\\ZBEngine\\ZBEngine");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(made, u"dbg", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(made, u"dbg"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(made, u"nothing"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ValueNamesIgnoreCaseAndKeepTheFirstSpelling) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\ZBEngine\\ZBEngine\\Settings");
    ASSERT_EQ(Set(key, u"Filter1", REG_SZ, Bytes(u"one", true)), ERROR_SUCCESS);
    ASSERT_EQ(Set(key, u"FILTER1", REG_SZ, Bytes(u"two", true)), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key), std::vector<std::u16string>{u"Filter1"});
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(Get(key, u"filter1", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Bytes(u"two", true));
}

TEST_F(RegistryTest, BackslashInValueNameDoesNotMakeKeys) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\ZBEngine\\ZBEngine\\EngLastSchedRuns");
    const char16_t* profile = u"C:\\Users\\me\\Profiles\\Daily.ffs";
    ASSERT_EQ(Set(key, profile, REG_SZ, Bytes(u"2024-05-07 10:00===2024-05-07 10:00===sig", true)),
              ERROR_SUCCESS);
    DWORD subkeys = 9;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(ValueNames(key), std::vector<std::u16string>{profile});
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(Get(key, u"c:\\users\\ME\\profiles\\daily.FFS", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
}

TEST_F(RegistryTest, StringsAreStoredWithOrWithoutTheirZero) {
    HKEY key = Create(HKEY_CURRENT_USER, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
    ASSERT_EQ(Set(key, u"ZBEngine", REG_SZ, Bytes(u"\"C:\\zb\\zbengine.exe\"", true)), ERROR_SUCCESS);
    ASSERT_EQ(Set(key, u"ZBEngineIcon", REG_SZ, Bytes(u"\"C:\\zb\\ZBEngineIcon.exe\"", false)),
              ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(Get(key, u"ZBEngine", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Bytes(u"\"C:\\zb\\zbengine.exe\"", true));
    ASSERT_EQ(Get(key, u"ZBEngineIcon", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Bytes(u"\"C:\\zb\\ZBEngineIcon.exe\"", false));
}

TEST_F(RegistryTest, TooSmallBufferGivesMoreDataAndLeavesItAlone) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"software\\Zebrodyne Pro 2\\Zebrodyne Pro");
    std::vector<BYTE> big(2048, 0x41);
    ASSERT_EQ(Set(key, u"path", REG_SZ, big), ERROR_SUCCESS);
    std::vector<BYTE> buffer(2047, 0xAA);
    DWORD size = 2047;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"path", nullptr, &type, buffer.data(), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 2048u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(buffer, std::vector<BYTE>(2047, 0xAA));

    std::vector<BYTE> fits(2047, 0x42);
    ASSERT_EQ(Set(key, u"path", REG_SZ, fits), ERROR_SUCCESS);
    size = 2047;
    EXPECT_EQ(RegQueryValueExW(key, u"path", nullptr, &type, buffer.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 2047u);
    EXPECT_EQ(buffer, fits);
    EXPECT_EQ(RegQueryValueExW(key, u"path", nullptr, &type, buffer.data(), nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, TypedValuesAndOddNamesRoundTripThroughTheFile) {
    struct CASE {
        std::u16string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    const std::vector<CASE> cases = {
        {u"", REG_SZ, Bytes(u"default", true)},
        {u"TypesSupported", REG_DWORD, Dword(31)},
        {u"short dword", REG_DWORD, {1, 2}},
        {u"blob", REG_BINARY, {0x00, 0xFF, 0x0A, 0x25}},
        {u"empty", REG_BINARY, {}},
        {u"odd string", REG_SZ, {0x41, 0x00, 0x42}},
        {u"expand", REG_EXPAND_SZ, Bytes(u"%TEMP%\\x", true)},
        {u"multi", REG_MULTI_SZ, Bytes(std::u16string(u"a\0b\0\0", 5), false)},
        {u"q", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {u"own type", 0x12345, {9}},
        {u"quote \" and %41 and [x]", REG_SZ, Bytes(u"text \"quoted\" %0000 \r\n", true)},
        {u"  spaces  ", REG_SZ, Bytes(u" ", false)},
        {u"line\nbreak\ttab", REG_SZ, Bytes(u"\x7f", true)},
        {u"lone \xD800 surrogate", REG_SZ, Bytes(u"\xDC00 \U0001F600 \u00FC", true)},
        {u"\U0001F600 \u00E9t\u00E9", REG_DWORD, Dword(0xFFFFFFFFu)},
    };
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Odd [Key] \"names\" %20");
    for (const CASE& c : cases) ASSERT_EQ(Set(key, c.name.c_str(), c.type, c.data), ERROR_SUCCESS);

    HKEY again = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, u"software\\odd [key] \"NAMES\" %20", KEY_READ, &again), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(again).size(), cases.size());
    for (const CASE& c : cases) {
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_EQ(Get(again, c.name.c_str(), &type, &data), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(data, c.data);
    }
}

TEST_F(RegistryTest, ChangesGoToTheDatabaseNotToATextFile) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"software\\ZBEngine\\ZBEngine");
    ASSERT_EQ(Set(key, u"dbg", REG_DWORD, Dword(1)), ERROR_SUCCESS);
    EXPECT_EQ(ReadHostFile(MachineDatabase()).rfind(std::string("SQLite format 3\0", 16), 0), 0u);
    struct stat st {};
    EXPECT_NE(stat(MachineHive().c_str(), &st), 0);
}

TEST_F(RegistryTest, HandWrittenHiveIsImportedOnceAndKeptAside) {
    const std::string text =
        "ZBW-REGISTRY-HIVE 1\r\n# seeded by hand\n\n[SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
        "\"CurrentType\" REG_SZ text:\"Multiprocessor Free\"\n"
        "\"n\" 4 hex:2a000000\n"
        "[software\\ZBEngine\\ZBEngine\\EngLastSchedRuns]\n"
        "\"C:\\Profiles\\Daily.ffs\" REG_SZ text:\"2024-05-07 10:00%0000\"\n"
        "[SOFTWARE\\zbengine]\n"
        "\"Path\" REG_SZ text:\"C:\\zb\"\n";
    ASSERT_TRUE(WriteHostFile(MachineHive(), text));
    HKEY key = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"software\\microsoft\\windows nt\\currentversion", KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(Get(key, u"CurrentType", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Bytes(u"Multiprocessor Free", false));
    ASSERT_EQ(Get(key, u"n", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data, Dword(42));

    HKEY runs = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZBENGINE\\zbengine\\englastschedruns", KEY_READ, &runs),
              ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(runs), std::vector<std::u16string>{u"C:\\Profiles\\Daily.ffs"});
    HKEY engine = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"software\\ZBEngine", KEY_READ, &engine), ERROR_SUCCESS);
    ASSERT_EQ(Get(engine, u"path", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Bytes(u"C:\\zb", false));
    char16_t name[64];
    DWORD cch = 64;
    ASSERT_EQ(RegEnumKeyExW(engine, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, cch), u"ZBEngine");

    // The text file is kept under another name and not read again.
    struct stat st {};
    EXPECT_NE(stat(MachineHive().c_str(), &st), 0);
    EXPECT_EQ(ReadHostFile(MachineHive() + ".imported"), text);
    HKEY key2 = Create(HKEY_LOCAL_MACHINE, u"software\\microsoft\\windows nt\\currentversion");
    ASSERT_EQ(Set(key2, u"n", REG_DWORD, Dword(7)), ERROR_SUCCESS);
    ASSERT_TRUE(WriteHostFile(MachineHive(), text));
    ASSERT_EQ(Get(key, u"n", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Dword(7));
}

TEST_F(RegistryTest, CorruptHiveIsReportedAndNeverOverwritten) {
    const std::string corrupt = "ZBW-REGISTRY-HIVE 1\n[Software]\n\"broken REG_SZ\n";
    ASSERT_TRUE(WriteHostFile(MachineHive(), corrupt));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(ReadHostFile(MachineHive()), corrupt);
}

TEST_F(RegistryTest, DeleteKeyRefusesSubkeysAndOldHandlesSeeTheKeyGone) {
    HKEY parent = Create(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application");
    HKEY child = Create(parent, u"ZBEngine");
    ASSERT_EQ(Set(child, u"TypesSupported", REG_DWORD, Dword(31)), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\Eventlog"),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(parent, u"zbengine"), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(child, u"TypesSupported", nullptr, nullptr, nullptr, &size),
              ERROR_KEY_DELETED);
    EXPECT_EQ(Set(child, u"x", REG_DWORD, Dword(1)), ERROR_KEY_DELETED);
    HKEY gone = nullptr;
    EXPECT_EQ(Open(parent, u"ZBEngine", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, HandleRightsAreEnforced) {
    Create(HKEY_CURRENT_USER, u"Software\\ZBEngine");
    HKEY reader = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, u"Software\\ZBEngine", KEY_READ, &reader), ERROR_SUCCESS);
    EXPECT_EQ(Set(reader, u"v", REG_DWORD, Dword(1)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(reader, u"v"), ERROR_ACCESS_DENIED);
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyExW(reader, u"Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
              ERROR_ACCESS_DENIED);
    HKEY writer = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, u"Software\\ZBEngine", KEY_SET_VALUE, &writer), ERROR_SUCCESS);
    EXPECT_EQ(Set(writer, u"v", REG_DWORD, Dword(1)), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(writer, u"v", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
    HKEY generic = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, u"Software\\ZBEngine", GENERIC_READ | GENERIC_WRITE, &generic),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(generic, u"v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
}

TEST_F(RegistryTest, BadHandlesAndArguments) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x1234), u"x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"x", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(RegistryTest, EnumerationAndKeyInfo) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\ZBEngine\\ZBEngine\\Filters");
    Create(key, u"Child");
    ASSERT_EQ(Set(key, u"Filtern", REG_DWORD, Dword(2)), ERROR_SUCCESS);
    ASSERT_EQ(Set(key, u"Filter0", REG_SZ, Bytes(u"*.tmp", true)), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"Filtern", u"Filter0"}));

    char16_t name[8];
    DWORD cch = 7;  // "Filtern" needs 8 with its zero
    EXPECT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    cch = 8;
    BYTE data[4];
    DWORD size = 2;
    EXPECT_EQ(RegEnumValueW(key, 1, name, &cch, nullptr, nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 12u);

    DWORD subkeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr, &values, &maxName,
                               &maxData, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 1u);
    EXPECT_EQ(maxSub, 5u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxName, 7u);
    EXPECT_EQ(maxData, 12u);
}

TEST_F(RegistryTest, ReadOnlyMachineHiveRefusesWritesButReads) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"software\\ZBEngine\\ZBEngine");
    ASSERT_EQ(Set(key, u"noenc", REG_SZ, Bytes(u"", true)), ERROR_SUCCESS);
    setenv("ZBW_HKLM_READONLY", "1", 1);

    HKEY denied = nullptr;
    EXPECT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\X",
                        0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &denied, nullptr),
        ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\ZBEngine\\ZBEngine", 0, KEY_WRITE, &denied),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(Set(key, u"11000007chk", REG_DWORD, Dword(1)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(key, u"noenc"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Set(HKEY_LOCAL_MACHINE, u"root value", REG_DWORD, Dword(1)), ERROR_ACCESS_DENIED);

    HKEY reader = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"software\\ZBEngine\\ZBEngine", KEY_READ, &reader), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(reader, u"noenc", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    DWORD disposition = 0;
    Create(HKEY_LOCAL_MACHINE, u"software\\ZBEngine", KEY_READ, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

    HKEY user = Create(HKEY_CURRENT_USER, u"Software\\ZBEngine");
    EXPECT_EQ(Set(user, u"11000007chk", REG_DWORD, Dword(1)), ERROR_SUCCESS);
}

TEST_F(RegistryTest, UnwritableDatabaseRefusesWrites) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"software\\ZBEngine\\ZBEngine");
    ASSERT_EQ(chmod(MachineDatabase().c_str(), 0444), 0);
    // Root would write the file anyway: the checks run without its capabilities.
    EXPECT_EQ(RunWithoutCapabilities([&] {
                  EXPECT_EQ(Set(key, u"dbg", REG_DWORD, Dword(1)), ERROR_ACCESS_DENIED);
                  HKEY denied = nullptr;
                  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software", 0, KEY_ALL_ACCESS, &denied),
                            ERROR_ACCESS_DENIED);
              }),
              0);
    chmod(MachineDatabase().c_str(), 0644);
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\ZBEngine\\ZBEngine\\EngLastSchedRuns");
    const int kEach = 40;
    auto writeAll = [&](const std::u16string& prefix) {
        bool ok = true;
        for (int i = 0; i < kEach; ++i) {
            std::u16string name =
                prefix + static_cast<char16_t>(u'A' + i % 26) + static_cast<char16_t>(u'a' + i / 26);
            ok = ok && Set(key, name.c_str(), REG_DWORD, Dword(static_cast<DWORD>(i))) == ERROR_SUCCESS;
        }
        return ok;
    };
    pid_t child = RunInChild([&] { return writeAll(u"child\\"); });
    ASSERT_GE(child, 0);
    EXPECT_TRUE(writeAll(u"parent\\"));
    EXPECT_TRUE(ChildSucceeded(child));
    EXPECT_EQ(ValueNames(key).size(), static_cast<size_t>(2 * kEach));
}

TEST_F(RegistryTest, KeyNameAndDepthLimitsAreWindows) {
    struct CASE {
        const char* what;
        std::u16string path;
        LONG expected;
    };
    auto levels = [](size_t count) {
        std::u16string path;
        for (size_t i = 0; i < count; ++i) path += i ? u"\\k" : u"k";
        return path;
    };
    const std::vector<CASE> cases = {
        {"255 characters", u"Software\\" + std::u16string(255, u'n'), ERROR_SUCCESS},
        {"256 characters", u"Software\\" + std::u16string(256, u'n'), ERROR_INVALID_PARAMETER},
        {"512 levels", levels(512), ERROR_SUCCESS},
        {"513 levels", levels(513), ERROR_FILENAME_EXCED_RANGE},
    };
    for (const CASE& c : cases) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, c.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  c.expected)
            << c.what;
        if (key) m_open.push_back(key);
        EXPECT_EQ(key != nullptr, c.expected == static_cast<LONG>(ERROR_SUCCESS)) << c.what;
    }

    // One level more below a key at the limit, through its handle.
    HKEY deepest = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, levels(512).c_str(), KEY_ALL_ACCESS, &deepest), ERROR_SUCCESS);
    HKEY below = nullptr;
    EXPECT_EQ(RegCreateKeyExW(deepest, u"k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &below, nullptr),
              ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(below, nullptr);
}

TEST_F(RegistryTest, TextHiveBreakingTheLimitsIsRefusedAndKept) {
    auto deep = [](size_t levels) {
        std::string line = "[";
        for (size_t i = 0; i < levels; ++i) line += i ? "\\a" : "a";
        return line + "]\n";
    };
    struct CASE {
        const char* what;
        std::string keyLine;
        LONG expected;
    };
    const std::vector<CASE> cases = {
        {"512 levels", deep(512), ERROR_SUCCESS},
        {"513 levels", deep(513), ERROR_BADDB},
        {"20,000 levels", deep(20000), ERROR_BADDB},
        {"300,000 levels", deep(300000), ERROR_BADDB},
        {"a 256-character name", "[Software\\" + std::string(256, 'n') + "]\n", ERROR_BADDB},
    };
    for (const CASE& c : cases) {
        CTestRoot root;
        const std::string text = "ZBW-REGISTRY-HIVE 1\n" + c.keyLine + "\"v\" REG_DWORD dword:0x00000001\n";
        ASSERT_TRUE(WriteHostFile(MachineHive(), text));
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"a", 0, KEY_READ, &key),
                  c.expected == static_cast<LONG>(ERROR_SUCCESS) ? c.expected : ERROR_BADDB)
            << c.what;
        if (key) RegCloseKey(key);
        key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  c.expected)
            << c.what;
        if (key) RegCloseKey(key);
        if (c.expected != static_cast<LONG>(ERROR_SUCCESS)) {
            EXPECT_EQ(ReadHostFile(MachineHive()), text) << c.what;
            struct stat st {};
            EXPECT_NE(stat(MachineDatabase().c_str(), &st), 0) << c.what;
        }
    }
}

TEST_F(RegistryTest, CorruptDatabaseIsBadDbLoggedOnceAndNeverOverwritten) {
    std::string garbage;
    for (int i = 0; i < 8192; ++i) garbage.push_back(static_cast<char>(i * 7 + 3));
    ASSERT_TRUE(WriteHostFile(MachineDatabase(), garbage));

    const std::string log = m_root.Path("stderr.txt");
    fflush(stderr);
    const int saved = dup(2);
    const int sink = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(sink, 0);
    dup2(sink, 2);
    close(sink);
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &key);
    const LONG created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS,
                                         nullptr, &key, nullptr);
    const LONG set = Set(HKEY_LOCAL_MACHINE, u"v", REG_DWORD, Dword(1));
    fflush(stderr);
    dup2(saved, 2);
    close(saved);

    EXPECT_EQ(opened, ERROR_BADDB);
    EXPECT_EQ(created, ERROR_BADDB);
    EXPECT_EQ(set, ERROR_BADDB);
    EXPECT_EQ(ReadHostFile(MachineDatabase()), garbage);
    const std::string logged = ReadHostFile(log);
    size_t count = 0;
    for (size_t at = logged.find("unreadable"); at != std::string::npos;
         at = logged.find("unreadable", at + 1))
        ++count;
    EXPECT_EQ(count, 1u) << logged;

    // The user hive is another database and stays usable.
    HKEY user = Create(HKEY_CURRENT_USER, u"Software\\ZBEngine");
    EXPECT_EQ(Set(user, u"v", REG_DWORD, Dword(1)), ERROR_SUCCESS);
}

TEST_F(RegistryTest, NamesFoldCaseBeyondAscii) {
    struct CASE {
        std::u16string made;
        std::u16string asked;
    };
    const std::vector<CASE> cases = {
        {u"Settings", u"SETTINGS"},
        {u"caf\u00e9 \u00fcber", u"CAF\u00c9 \u00dcBER"},
        {u"\u041c\u043e\u0441\u043a\u0432\u0430", u"\u041c\u041e\u0421\u041a\u0412\u0410"},
        {u"\u03b1\u03b2\u03b3", u"\u0391\u0392\u0393"},
    };
    HKEY parent = Create(HKEY_CURRENT_USER, u"Software\\Fold");
    for (const CASE& c : cases) {
        Create(parent, c.made.c_str());
        ASSERT_EQ(Set(parent, c.made.c_str(), REG_DWORD, Dword(1)), ERROR_SUCCESS);
        DWORD disposition = 0;
        Create(parent, c.asked.c_str(), KEY_READ, &disposition);
        EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
        ASSERT_EQ(Set(parent, c.asked.c_str(), REG_DWORD, Dword(2)), ERROR_SUCCESS);
    }
    std::vector<std::u16string> made;
    for (const CASE& c : cases) made.push_back(c.made);
    EXPECT_EQ(ValueNames(parent), made);  // one value each, under its first spelling
    DWORD subkeys = 0;
    ASSERT_EQ(RegQueryInfoKeyW(parent, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, cases.size());
    // Letters that only look alike stay apart.
    DWORD disposition = 0;
    Create(parent, u"\u0430\u0432\u0441", KEY_READ, &disposition);  // Cyrillic, not "ABC"
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
}

TEST_F(RegistryTest, EnumerationFollowsChangesMadeBetweenCalls) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\ZBEngine\\Filters");
    for (const char16_t* name : {u"a", u"b\\c", u"d", u"e"})
        ASSERT_EQ(Set(key, name, REG_DWORD, Dword(0)), 0);
    char16_t name[16];
    DWORD cch = 16;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueW(key, u"B\\C"), ERROR_SUCCESS);
    cch = 16;
    ASSERT_EQ(RegEnumValueW(key, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, cch), u"d");
    ASSERT_EQ(Set(key, u"b\\c", REG_DWORD, Dword(1)), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"a", u"d", u"e", u"b\\c"}));
}

TEST_F(RegistryTest, TwoProcessesSeeEachOthersWritesAtOnce) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\ZBEngine\\ZBEngine");
    ASSERT_EQ(Set(key, u"turn", REG_DWORD, Dword(0)), ERROR_SUCCESS);
    // The processes take turns through one value: each waits (bounded) to see the other's number,
    // then writes the next; a write that the other side did not see at once stalls the exchange.
    auto play = [&](DWORD first, DWORD last) {
        for (DWORD turn = first; turn <= last; turn += 2) {
            bool seen = false;
            for (int spins = 0; spins < 100000 && !seen; ++spins) {
                DWORD type = 0;
                std::vector<BYTE> data;
                seen = Get(key, u"turn", &type, &data) == ERROR_SUCCESS && data == Dword(turn - 1);
                if (!seen) usleep(50);
            }
            if (!seen || Set(key, u"turn", REG_DWORD, Dword(turn)) != ERROR_SUCCESS) return false;
        }
        return true;
    };
    pid_t child = RunInChild([&] { return play(2, 40); });
    ASSERT_GE(child, 0);
    EXPECT_TRUE(play(1, 39));
    EXPECT_TRUE(ChildSucceeded(child));
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(Get(key, u"turn", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Dword(40));
}

// Lookups of the same keys are remembered: what another process makes or deletes in between
// must still show at the next call, as must what this process does through another path.
TEST_F(RegistryTest, KeysAnotherProcessMakesOrDeletesShowAtTheNextLookup) {
    HKEY parent = Create(HKEY_CURRENT_USER, u"Software\\ZBEngine");
    auto opens = [](HKEY root, LPCWSTR path) {
        HKEY key = nullptr;
        LONG rc = RegOpenKeyExW(root, path, 0, KEY_READ, &key);
        if (rc == ERROR_SUCCESS) RegCloseKey(key);
        return rc;
    };
    const LPCWSTR path = u"Software\\ZBEngine\\Settings";
    for (int i = 0; i < 3; ++i) ASSERT_EQ(opens(HKEY_CURRENT_USER, path), ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(ChildSucceeded(RunInChild([&] {
        HKEY made = nullptr;
        return RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr) ==
                   ERROR_SUCCESS &&
               RegCloseKey(made) == ERROR_SUCCESS;
    })));
    EXPECT_EQ(opens(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
    EXPECT_EQ(opens(parent, u"SETTINGS"), ERROR_SUCCESS);

    ASSERT_TRUE(ChildSucceeded(RunInChild([&] { return RegDeleteKeyW(HKEY_CURRENT_USER, path) == ERROR_SUCCESS; })));
    EXPECT_EQ(opens(HKEY_CURRENT_USER, path), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(opens(parent, u"Settings"), ERROR_FILE_NOT_FOUND);

    // This process's own changes, made under another spelling of the path.
    HKEY made = Create(parent, u"settings");
    EXPECT_EQ(opens(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(parent, u"SeTTings"), ERROR_SUCCESS);
    EXPECT_EQ(opens(HKEY_CURRENT_USER, path), ERROR_FILE_NOT_FOUND);
    HKEY value = nullptr;
    EXPECT_EQ(RegOpenKeyExW(made, u"", 0, KEY_READ, &value), ERROR_KEY_DELETED);
}

TEST_F(RegistryTest, RootThatCannotBeMadeGivesAnEmptyReadOnlyHive) {
    ASSERT_TRUE(WriteHostFile(m_root.Path("plain-file"), "x"));
    setenv("ZBW_ROOT", m_root.Path("plain-file/root").c_str(), 1);  // CTestRoot puts it back
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(Set(HKEY_CURRENT_USER, u"v", REG_DWORD, Dword(1)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, ProcessesStartingTogetherBringATextHiveOverOnce) {
    std::string text = "ZBW-REGISTRY-HIVE 1\n[Software\\ZBEngine\\ZBEngine\\EngLastSchedRuns]\n";
    for (int i = 0; i < 2000; ++i) text += "\"p" + std::to_string(i) + "\" REG_DWORD dword:0x00000001\n";
    ASSERT_TRUE(WriteHostFile(MachineHive(), text));
    auto countValues = [] {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\ZBEngine\\ZBEngine\\EngLastSchedRuns", 0, KEY_READ,
                          &key) != ERROR_SUCCESS)
            return DWORD{0};
        DWORD values = 0;
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(key);
        return values;
    };
    std::vector<pid_t> children;
    for (int i = 0; i < 3; ++i) {
        children.push_back(RunInChild([&] { return countValues() == 2000; }));
        ASSERT_GE(children.back(), 0);
    }
    EXPECT_EQ(countValues(), 2000u);
    for (pid_t child : children) EXPECT_TRUE(ChildSucceeded(child));
    EXPECT_EQ(ReadHostFile(MachineHive() + ".imported"), text);
    struct stat st {};
    EXPECT_NE(stat((MachineDatabase() + ".new").c_str(), &st), 0);
}

TEST_F(RegistryTest, TextHiveInAReadOnlyFolderIsReadButNotChanged) {
    const std::string text =
        "ZBW-REGISTRY-HIVE 1\n[Software\\ZBEngine]\n\"dbg\" REG_DWORD dword:0x00000001\n";
    ASSERT_TRUE(WriteHostFile(MachineHive(), text));
    ASSERT_EQ(chmod(zbw::MachineDir().c_str(), 0555), 0);
    // Root would write the folder anyway: the checks run without its capabilities.
    EXPECT_EQ(RunWithoutCapabilities([&] {
                  HKEY key = nullptr;
                  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"software\\zbengine", KEY_READ, &key), ERROR_SUCCESS);
                  DWORD type = 0;
                  std::vector<BYTE> data;
                  EXPECT_EQ(Get(key, u"DBG", &type, &data), ERROR_SUCCESS);
                  EXPECT_EQ(data, Dword(1));
                  EXPECT_EQ(Set(key, u"dbg", REG_DWORD, Dword(2)), ERROR_ACCESS_DENIED);
                  HKEY denied = nullptr;
                  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software", 0, KEY_ALL_ACCESS, &denied),
                            ERROR_ACCESS_DENIED);
              }),
              0);
    EXPECT_EQ(ReadHostFile(MachineHive()), text);

    // Once the folder can be written, the hive is brought over and takes changes.
    ASSERT_EQ(chmod(zbw::MachineDir().c_str(), 0755), 0);
    EXPECT_EQ(Set(Create(HKEY_LOCAL_MACHINE, u"software\\zbengine"), u"dbg", REG_DWORD, Dword(2)),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadHostFile(MachineHive() + ".imported"), text);
}

}  // namespace
