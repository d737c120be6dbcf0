// CSharedMemory: block layout, values, limits, also from forked processes; fakes a temporary emulation root
// and the Windows version.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/SharedMemory.h"
#include "platform/base/WinError.h"
#include "platform/host/KernelObject.h"
#include "platform/win32/FileMapping.h"
#include "platform/win32/SyncApi.h"
#include "tests/support/TestRoot.h"

namespace {

// A plain view of a named block, for looking at and forging its bytes.
class CRawBlock {
   public:
    explicit CRawBlock(LPCWSTR name) {
        m_hMapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
        if (m_hMapping) m_pBytes = static_cast<BYTE*>(MapViewOfFile(m_hMapping, FILE_MAP_WRITE, 0, 0, 0));
    }
    ~CRawBlock() {
        if (m_pBytes) UnmapViewOfFile(m_pBytes);
        if (m_hMapping) CloseHandle(m_hMapping);
    }
    BYTE* Bytes() const { return m_pBytes; }
    LONG Get32(size_t offset) const {
        LONG value = 0;
        std::memcpy(&value, m_pBytes + offset, sizeof value);
        return value;
    }
    void Put32(size_t offset, LONG value) { std::memcpy(m_pBytes + offset, &value, sizeof value); }
    // Entries need not be aligned: the units are copied out.
    std::u16string NameAt(size_t offset) const {
        char16_t units[40];
        std::memcpy(units, m_pBytes + offset, sizeof units);
        return std::u16string(units, std::char_traits<char16_t>::find(units, 40, u'\0') - units);
    }

   private:
    HANDLE m_hMapping = nullptr;
    BYTE* m_pBytes = nullptr;
};

bool MappingExists(LPCWSTR name) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
    if (mapping) CloseHandle(mapping);
    return mapping != nullptr;
}

bool SemaphoreExists(LPCWSTR name) {
    HANDLE semaphore = OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, name);
    if (semaphore) CloseHandle(semaphore);
    return semaphore != nullptr;
}

// The child's exit status; -1 when it did not end within 10 s (it is killed then).
int AwaitChild(pid_t pid) {
    int status = 0;
    for (int waited = 0; waited < 10000; waited += 5) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        usleep(5000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

class SharedMemoryTest : public ::testing::Test {
   protected:
    CTestRoot m_root;
};

TEST_F(SharedMemoryTest, FreshBlockHasTheWindowsLayout) {
    CSharedMemory block(u"Local\\ShmLayout", 300);
    ASSERT_TRUE(block.IsOpen());
    EXPECT_TRUE(block.IsCreated());
    EXPECT_EQ(block.GetTotalSize(), 300u);
    const LONG first = 0x11223344;
    const BYTE second[3] = {1, 2, 3};
    ASSERT_TRUE(block.AddValue(u"first", 4, &first));
    ASSERT_TRUE(block.AddValue(u"second", 3, second));
    ASSERT_TRUE(block.AddValue(u"third", 2));

    CRawBlock raw(u"Local\\ShmLayout");
    ASSERT_NE(raw.Bytes(), nullptr);
    EXPECT_EQ(raw.Get32(0), 3);
    EXPECT_EQ(raw.Get32(4), 300);
    EXPECT_EQ(raw.NameAt(8), u"first");
    EXPECT_EQ(raw.Get32(88), 4);
    EXPECT_EQ(raw.Get32(92), 0x11223344);
    EXPECT_EQ(raw.NameAt(96), u"second");  // right after the data: no padding
    EXPECT_EQ(raw.Get32(176), 3);
    EXPECT_EQ(std::memcmp(raw.Bytes() + 180, second, 3), 0);
    EXPECT_EQ(raw.NameAt(183), u"third");
    EXPECT_EQ(raw.Get32(263), 2);
    for (size_t i = 8 + 10; i < 8 + 80; ++i) EXPECT_EQ(raw.Bytes()[i], 0) << "name padding at " << i;
}

TEST_F(SharedMemoryTest, AddValueChecksNameAndRoom) {
    CSharedMemory block(u"Local\\ShmAdd", 8 + 3 * 84 + 8);
    ASSERT_TRUE(block.IsOpen());
    const std::u16string name39(39, u'n');
    const std::u16string name40(40, u'n');
    struct CASE {
        std::u16string name;
        DWORD size;
        DWORD error;  // 0 = added
    };
    const CASE cases[] = {
        {u"time", 4, 0},
        {u"Time", 4, 0},  // names are case-sensitive
        {u"time", 4, ERROR_ALREADY_EXISTS},
        {name40, 1, RPC_S_STRING_TOO_LONG},
        {u"big", 5, ERROR_OUTOFMEMORY},  // 8 + 2 * 88 + 84 + 5 is one byte past the end
        {name39, 0, 0},
        {u"x", 0, ERROR_OUTOFMEMORY},
    };
    for (const CASE& c : cases) {
        SetLastError(0);
        EXPECT_EQ(block.AddValue(c.name.c_str(), c.size), c.error == 0) << "name length " << c.name.size();
        EXPECT_EQ(block.GetLastError(), c.error);
        if (c.error) {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
    EXPECT_TRUE(block.ValueExists(name39.c_str()));
}

TEST_F(SharedMemoryTest, SetAndGetFollowTheValueSize) {
    CSharedMemory block(u"Local\\ShmSet", 256);
    const DWORD ones = 0xFFFFFFFF;
    ASSERT_TRUE(block.AddValue(u"v", 4, &ones));
    const BYTE three[3] = {7, 8, 9};
    ASSERT_TRUE(block.SetValue(u"v", three, 3));
    BYTE got[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    DWORD size = sizeof got;
    ASSERT_TRUE(block.GetValue(u"v", got, &size));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(got[2], 9);
    EXPECT_EQ(got[3], 0);  // the whole value was zeroed first
    EXPECT_EQ(got[4], 0xEE);

    struct CASE {
        const char16_t* name;
        DWORD size;
        DWORD error;
    };
    const BYTE data[8] = {};
    for (const CASE& c : {CASE{u"v", 0, ERROR_BAD_LENGTH}, CASE{u"w", 2, ERROR_FILE_NOT_FOUND},
                          CASE{u"V", 2, ERROR_FILE_NOT_FOUND}, CASE{u"v", 5, ERROR_NOT_ENOUGH_MEMORY}}) {
        EXPECT_FALSE(block.SetValue(c.name, data, c.size));
        EXPECT_EQ(block.GetLastError(), c.error);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(SharedMemoryTest, GetValueReportsTheSizeItNeeds) {
    CSharedMemory block(u"Local\\ShmGet", 256);
    const LONG value = 42;
    ASSERT_TRUE(block.AddValue(u"v", 4, &value));
    BYTE small[2] = {0x55, 0x55};
    DWORD size = sizeof small;
    EXPECT_FALSE(block.GetValue(u"v", small, &size));
    EXPECT_EQ(block.GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(small[0], 0x55);  // nothing copied

    size = 0;
    EXPECT_TRUE(block.GetValue(u"v", nullptr, &size));
    EXPECT_EQ(size, 4u);
    size = 99;
    EXPECT_FALSE(block.GetValue(u"missing", nullptr, &size));
    EXPECT_EQ(block.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(size, 99u);

    SetLastError(5);
    EXPECT_FALSE(block.ValueExists(u"missing"));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_TRUE(block.ValueExists(u"v"));
}

TEST_F(SharedMemoryTest, GetTextEndsAtTheFirstZeroTheLimitOrTheValue) {
    CSharedMemory block(u"Local\\ShmText", 512);
    const char16_t stopped[6] = {u'a', u'b', 0, u'c', u'd', u'e'};
    const char16_t full[3] = {u'x', u'y', u'z'};
    const BYTE odd[5] = {'p', 0, 'q', 0, 'r'};  // the half unit at the end is no character
    ASSERT_TRUE(block.AddValue(u"stopped", sizeof stopped, stopped));
    ASSERT_TRUE(block.AddValue(u"full", sizeof full, full));
    ASSERT_TRUE(block.AddValue(u"odd", sizeof odd, odd));
    struct CASE {
        const char16_t* name;
        DWORD maxChars;
        const char16_t* text;
    };
    for (const CASE& c : {CASE{u"stopped", 100, u"ab"}, CASE{u"full", 100, u"xyz"}, CASE{u"full", 2, u"xy"},
                          CASE{u"full", 0, u""}, CASE{u"odd", 100, u"pq"}}) {
        CString text(u"old");
        EXPECT_TRUE(block.GetText(c.name, c.maxChars, text));
        EXPECT_TRUE(text == CString(c.text)) << "case with limit " << c.maxChars;
    }
    CString text(u"old");
    EXPECT_FALSE(block.GetText(u"missing", 100, text));
    EXPECT_EQ(block.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(text.IsEmpty());
}

TEST_F(SharedMemoryTest, UnopenedBlockRefusesEveryOperation) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"Local\\ShmTaken");  // the name belongs to a mutex
    ASSERT_NE(mutex, nullptr);
    CSharedMemory taken(u"Local\\ShmTaken", 100);
    CSharedMemory tooSmall(u"Local\\ShmTiny", 7);
    for (CSharedMemory* block : {&taken, &tooSmall}) {
        EXPECT_FALSE(block->IsOpen());
        DWORD size = 4;
        LONG value = 0;
        EXPECT_FALSE(block->AddValue(u"v", 4));
        EXPECT_EQ(block->GetLastError(), static_cast<DWORD>(ERROR_OBJECT_NOT_FOUND));
        EXPECT_FALSE(block->SetValue(u"v", &value, 4));
        EXPECT_FALSE(block->GetValue(u"v", &value, &size));
        EXPECT_FALSE(block->ValueExists(u"v"));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OBJECT_NOT_FOUND));
        CString text;
        EXPECT_FALSE(block->GetText(u"v", 10, text));
        EXPECT_EQ(block->GetLastError(), static_cast<DWORD>(ERROR_OBJECT_NOT_FOUND));
    }
    CloseHandle(mutex);
}

TEST_F(SharedMemoryTest, FirstValueClearsTheBlockLaterOnesKeepTheirBytes) {
    CSharedMemory block(u"Local\\ShmClear", 300);
    {
        CRawBlock raw(u"Local\\ShmClear");
        ASSERT_NE(raw.Bytes(), nullptr);
        std::memset(raw.Bytes() + 8, 0xAB, 292);  // count is still 0
    }
    ASSERT_TRUE(block.AddValue(u"a", 4));
    LONG value = -1;
    DWORD size = 4;
    ASSERT_TRUE(block.GetValue(u"a", &value, &size));
    EXPECT_EQ(value, 0);
    {
        CRawBlock raw(u"Local\\ShmClear");
        raw.Put32(8 + 88 + 84, 0x01020304);  // where the data of the next value will lie
    }
    ASSERT_TRUE(block.AddValue(u"b", 4));
    ASSERT_TRUE(block.GetValue(u"b", &value, &size));
    EXPECT_EQ(value, 0x01020304);
}

TEST_F(SharedMemoryTest, ExistingBlockKeepsItsSizeAndContents) {
    CSharedMemory first(u"Local\\ShmSize", 100);
    const LONG value = 7;
    ASSERT_TRUE(first.AddValue(u"v", 4, &value));
    CSharedMemory second(u"Local\\ShmSize", 5000);
    ASSERT_TRUE(second.IsOpen());
    EXPECT_FALSE(second.IsCreated());
    EXPECT_EQ(second.GetTotalSize(), 100u);
    EXPECT_FALSE(second.AddValue(u"big", 100));
    EXPECT_EQ(second.GetLastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
    LONG got = 0;
    DWORD size = 4;
    ASSERT_TRUE(second.GetValue(u"v", &got, &size));
    EXPECT_EQ(got, 7);
}

// Another process may leave fields that point past the block: they are bounded, never followed.
TEST_F(SharedMemoryTest, ForgedFieldsStayInsideTheBlock) {
    struct CASE {
        const char* what;
        size_t offset;
        LONG value;
        bool findA;      // the first value is still found
        DWORD addError;  // what adding another value gives
    };
    const CASE cases[] = {
        {"data size past the end", 88, 0x7FFFFFF0, false, ERROR_OUTOFMEMORY},
        {"negative data size", 88, -8, false, ERROR_OUTOFMEMORY},
        {"count past the entries", 0, 100000, true, ERROR_OUTOFMEMORY},
        {"negative count", 0, -3, false, 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        CSharedMemory block(u"Local\\ShmForged", 200);
        ASSERT_TRUE(block.AddValue(u"a", 4));
        {
            CRawBlock raw(u"Local\\ShmForged");
            raw.Put32(c.offset, c.value);
        }
        LONG value = 0;
        DWORD size = 4;
        EXPECT_EQ(block.GetValue(u"a", &value, &size), c.findA);
        EXPECT_EQ(block.ValueExists(u"zz"), FALSE);
        EXPECT_EQ(block.AddValue(u"b", 4), c.addError == 0);
        EXPECT_EQ(block.GetLastError(), c.addError);
    }
}

// Another process may rewrite a size while the store works on the entry: the store must act on
// the size it checked, never on a second read (which here would reach 2 GB past the block).
TEST_F(SharedMemoryTest, SizeFlippedByAnotherWriterNeverLeavesTheBlock) {
    CSharedMemory block(u"Local\\ShmFlip", 4096);
    ASSERT_TRUE(block.AddValue(u"v", 16));
    CRawBlock raw(u"Local\\ShmFlip");
    ASSERT_NE(raw.Bytes(), nullptr);
    std::atomic<bool> stop{false};
    std::thread flipper([&] {
        auto* size = reinterpret_cast<volatile LONG*>(raw.Bytes() + 88);
        while (!stop.load(std::memory_order_relaxed)) {
            *size = 0x7FFFFF00;
            *size = 16;
        }
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    BYTE buffer[16] = {1, 2, 3};
    while (std::chrono::steady_clock::now() < until) {
        block.SetValue(u"v", buffer, sizeof buffer);
        DWORD size = sizeof buffer;
        block.GetValue(u"v", buffer, &size);
    }
    stop = true;
    flipper.join();
    EXPECT_TRUE(block.SetValue(u"v", buffer, sizeof buffer));
}

TEST_F(SharedMemoryTest, StoredNameWithoutZeroMatchesNothing) {
    CSharedMemory block(u"Local\\ShmNoZero", 200);
    ASSERT_TRUE(block.AddValue(u"a", 4));
    {
        CRawBlock raw(u"Local\\ShmNoZero");
        for (int i = 0; i < 40; ++i) std::memcpy(raw.Bytes() + 8 + 2 * i, u"x", 2);
    }
    EXPECT_FALSE(block.ValueExists(std::u16string(39, u'x').c_str()));
    EXPECT_FALSE(block.ValueExists(std::u16string(40, u'x').c_str()));
    EXPECT_TRUE(block.AddValue(u"b", 4));
}

TEST_F(SharedMemoryTest, SizeFieldLargerThanTheMappingIsBounded) {
    struct CASE {
        LONG stored;
        DWORD asked;
        bool open;
        DWORD total;
    };
    // The mapping holds 400 bytes.
    for (const CASE& c : {CASE{1 << 20, 300, true, 300}, CASE{1 << 20, 4096, false, 0},
                          CASE{3, 300, true, 300}, CASE{-1, 300, true, 300}, CASE{250, 300, true, 250}}) {
        SCOPED_TRACE(c.stored);
        CSharedMemory first(u"Local\\ShmBound", 400);
        {
            CRawBlock raw(u"Local\\ShmBound");
            raw.Put32(4, c.stored);
        }
        CSharedMemory second(u"Local\\ShmBound", c.asked);
        EXPECT_EQ(second.IsOpen(), c.open);
        EXPECT_EQ(second.GetTotalSize(), c.total);
        if (c.open) {
            EXPECT_TRUE(second.AddValue(u"a", 4));
            EXPECT_FALSE(second.AddValue(u"b", c.total - 96 - 84 + 1));
            EXPECT_TRUE(second.AddValue(u"b", c.total - 96 - 84));
        }
    }
}

TEST_F(SharedMemoryTest, NamesGoWithTheLastHolder) {
    auto first = std::make_unique<CSharedMemory>(u"Global\\ShmLife", 64);
    auto second = std::make_unique<CSharedMemory>(u"Global\\ShmLife", 64);
    ASSERT_TRUE(first->IsOpen());
    first.reset();
    EXPECT_TRUE(MappingExists(u"Global\\ShmLife"));
    EXPECT_TRUE(SemaphoreExists(u"Global\\ShmLife_Sync"));
    second.reset();
    EXPECT_FALSE(MappingExists(u"Global\\ShmLife"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(SemaphoreExists(u"Global\\ShmLife_Sync"));
    CSharedMemory again(u"Global\\ShmLife", 64);
    EXPECT_TRUE(again.IsCreated());  // made afresh, not the old contents
}

TEST_F(SharedMemoryTest, TwoProcessesShareValues) {
    CSharedMemory block(u"Local\\ShmTwo", 512);
    const LONG fromParent = 1234;
    ASSERT_TRUE(block.AddValue(u"parent", 4, &fromParent));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int result = 0;
        {
            CSharedMemory child(u"Local\\ShmTwo", 64);
            LONG got = 0;
            DWORD size = 4;
            if (!child.IsOpen() || child.IsCreated() || child.GetTotalSize() != 512) result = 1;
            if (!child.GetValue(u"parent", &got, &size) || got != 1234) result = 2;
            const char16_t text[] = u"from the child";
            if (!child.AddValue(u"child", sizeof text, text)) result = 3;
        }
        _exit(result);
    }
    EXPECT_EQ(AwaitChild(pid), 0);
    char16_t text[32] = {};
    DWORD size = sizeof text;
    ASSERT_TRUE(block.GetValue(u"child", text, &size));
    EXPECT_EQ(std::u16string(text), u"from the child");
}

TEST_F(SharedMemoryTest, SecurityFollowsThePlatform) {
    {
        CSharedMemory block(u"Local\\ShmSecure", 64);
        LPSECURITY_ATTRIBUTES attributes = block.GetSecurityAttributes();
        ASSERT_NE(attributes, nullptr);
        EXPECT_TRUE(attributes->bInheritHandle);
        BOOL present = FALSE;
        BOOL defaulted = TRUE;
        PACL dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &dacl, &defaulted));
        EXPECT_TRUE(present);
        ASSERT_NE(dacl, nullptr);
        EXPECT_EQ(dacl->AceCount, 3);
        ACCESS_ALLOWED_ACE ace;
        std::memcpy(&ace, reinterpret_cast<BYTE*>(dacl) + sizeof(ACL), sizeof ace);
        EXPECT_EQ(ace.Mask, 0x1FFFFFu);
        EXPECT_EQ(zbw::SidToText(reinterpret_cast<BYTE*>(dacl) + sizeof(ACL) + 8), CString(u"S-1-5-4"));
    }
    SECURITY_DESCRIPTOR invalid{};
    SECURITY_ATTRIBUTES given{sizeof given, &invalid, FALSE};
    CSharedMemory refused(u"Local\\ShmGiven", 64, &given);
    EXPECT_FALSE(refused.IsOpen());
    EXPECT_EQ(refused.GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    InitializeSecurityDescriptor(&invalid, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&invalid, TRUE, nullptr, FALSE);
    CSharedMemory accepted(u"Local\\ShmGiven", 64, &given);
    EXPECT_TRUE(accepted.IsOpen());
    EXPECT_FALSE(accepted.GetSecurityAttributes()->bInheritHandle);

    setenv("ZBW_WINVER", "4.10.1998 9x", 1);
    CSharedMemory old(u"Local\\Shm9x", 64);
    EXPECT_TRUE(old.IsOpen());
    EXPECT_EQ(old.GetSecurityAttributes(), nullptr);
}

}  // namespace
