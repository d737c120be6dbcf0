// The emulated service manager: services as machine-hive keys, handle rights, the stopped
// answers of a service that does not run, and a dispatcher in this process served over its
// control channel.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "platform/base/TextConvert.h"
#include "platform/base/WinError.h"
#include "platform/win32/Registry.h"
#include "platform/win32/ServiceManager.h"
#include "tests/support/TestRoot.h"

namespace {

const LPCWSTR kName = u"TestSvc";

CString ReadMachineText(LPCWSTR value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\TestSvc", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return u"<no key>";
    }
    char16_t buffer[512] = {};
    DWORD size = sizeof buffer - sizeof(char16_t);
    LONG rc = RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? CString(buffer) : CString(u"<no value>");
}

class ServiceManagerTest : public ::testing::Test {
   protected:
    void TearDown() override {
        unsetenv(ZBW_SERVICE_CHANNEL_VARIABLE);
        if (m_service) CloseServiceHandle(m_service);
        if (m_manager) CloseServiceHandle(m_manager);
    }

    // Installs kName with imagePath and keeps the handles.
    void Install(LPCWSTR imagePath = u"C:\\bin\\testsvc.exe") {
        m_manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(m_manager, nullptr);
        m_service = CreateServiceW(m_manager, kName, nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                   SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, imagePath, nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
        ASSERT_NE(m_service, nullptr) << GetLastError();
    }

    CTestRoot m_root;
    SC_HANDLE m_manager = nullptr;
    SC_HANDLE m_service = nullptr;
};

TEST_F(ServiceManagerTest, CreateWritesTheKeyAndASecondCreateFindsItThere) {
    Install();
    EXPECT_EQ(ReadMachineText(u"ImagePath"), CString(u"C:\\bin\\testsvc.exe"));
    EXPECT_EQ(ReadMachineText(u"DisplayName"), CString(kName));
    EXPECT_EQ(CreateServiceW(m_manager, u"testsvc", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, u"x", nullptr, nullptr, nullptr,
                             nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);

    SERVICE_DESCRIPTIONW description{const_cast<LPWSTR>(u"What it does")};
    ASSERT_TRUE(ChangeServiceConfig2W(m_service, SERVICE_CONFIG_DESCRIPTION, &description));
    EXPECT_EQ(ReadMachineText(u"Description"), CString(u"What it does"));
}

TEST_F(ServiceManagerTest, DeleteRemovesTheKeySoOpenFails) {
    Install();
    ASSERT_TRUE(DeleteService(m_service));
    EXPECT_EQ(ReadMachineText(u"ImagePath"), CString(u"<no key>"));
    EXPECT_EQ(OpenServiceW(m_manager, kName, SERVICE_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(DeleteService(m_service));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(ServiceManagerTest, HandlesAllowOnlyTheirRights) {
    SC_HANDLE connectOnly = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(connectOnly, nullptr);
    EXPECT_EQ(CreateServiceW(connectOnly, kName, nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, u"x", nullptr, nullptr, nullptr,
                             nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    Install();
    SC_HANDLE queryOnly = OpenServiceW(connectOnly, kName, SERVICE_QUERY_STATUS);
    ASSERT_NE(queryOnly, nullptr);
    SERVICE_STATUS status{};
    EXPECT_FALSE(ControlService(queryOnly, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteService(queryOnly));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteService(m_manager));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseServiceHandle(queryOnly);
    CloseServiceHandle(connectOnly);
}

TEST_F(ServiceManagerTest, AServiceThatDoesNotRunIsStopped) {
    Install();
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(m_service, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_FALSE(ControlService(m_service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
}

TEST_F(ServiceManagerTest, StartFailsForAProgramThatNeverConnects) {
    struct Case {
        const char16_t* imagePath;
        DWORD error;
    };
    const std::vector<Case> cases = {
        {u"/bin/true", ERROR_SERVICE_REQUEST_TIMEOUT},
        {u"C:\\no\\such\\program.exe", ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(zbw::ToUtf8(c.imagePath));
        Install(c.imagePath);
        EXPECT_FALSE(StartServiceW(m_service, 0, nullptr));
        EXPECT_EQ(GetLastError(), c.error);
        ASSERT_TRUE(DeleteService(m_service));
        CloseServiceHandle(m_service);
        CloseServiceHandle(m_manager);
        m_service = m_manager = nullptr;
    }
}

TEST_F(ServiceManagerTest, DispatcherWithoutChannelCannotConnect) {
    unsetenv(ZBW_SERVICE_CHANNEL_VARIABLE);
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kName), [](DWORD, LPWSTR*) {}}, {nullptr, nullptr}};
    EXPECT_FALSE(StartServiceCtrlDispatcherW(table));
    EXPECT_EQ(GetLastError(), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    EXPECT_EQ(RegisterServiceCtrlHandlerW(kName, [](DWORD) {}), nullptr);
}

// The service side in this process: ServiceMain reports running, the handler sees the
// controls, and the stop ends the dispatcher.
std::vector<DWORD> g_controls;
SERVICE_STATUS_HANDLE g_status = nullptr;
DWORD g_accepted = 0;

void Report(DWORD state) {
    SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, state, g_accepted, 0, 0, 0, 0};
    SetServiceStatus(g_status, &status);
}

void TestHandler(DWORD control) {
    g_controls.push_back(control);
    Report(control == SERVICE_CONTROL_STOP ? SERVICE_STOPPED : SERVICE_RUNNING);
}

void TestServiceMain(DWORD argc, LPWSTR* argv) {
    if (argc != 1 || CString(argv[0]) != CString(kName)) return;
    g_status = RegisterServiceCtrlHandlerW(kName, &TestHandler);
    Report(SERVICE_RUNNING);
}

TEST_F(ServiceManagerTest, DispatcherServesControlsUntilStopped) {
    Install();
    g_controls.clear();
    g_accepted = SERVICE_ACCEPT_SHUTDOWN;
    setenv(ZBW_SERVICE_CHANNEL_VARIABLE, zbw::ServiceChannelPath(kName).c_str(), 1);
    // 0 running, 1 returned TRUE, 2 returned FALSE; detached so that a failed stop cannot hang us.
    auto result = std::make_shared<std::atomic<int>>(0);
    std::thread([result] {
        SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kName), &TestServiceMain}, {nullptr, nullptr}};
        *result = StartServiceCtrlDispatcherW(table) ? 1 : 2;
    }).detach();
    SERVICE_STATUS status{};
    for (int i = 0; i < 500 && status.dwCurrentState != SERVICE_RUNNING; ++i) {
        ASSERT_TRUE(QueryServiceStatus(m_service, &status));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    EXPECT_FALSE(StartServiceW(m_service, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);

    EXPECT_FALSE(ControlService(m_service, SERVICE_CONTROL_STOP, &status));  // not accepted yet
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    g_accepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    ASSERT_TRUE(ControlService(m_service, SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
    ASSERT_TRUE(ControlService(m_service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    for (int i = 0; i < 500 && *result == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(*result, 1);
    EXPECT_EQ(g_controls, (std::vector<DWORD>{SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_STOP}));
    ASSERT_TRUE(QueryServiceStatus(m_service, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_FALSE(ControlService(m_service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
}

}  // namespace
