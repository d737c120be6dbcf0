// The emulated service control manager: install, remove, start and control services, and the
// service side (dispatcher, control handler, status reports).
//
// A service is the key SYSTEM\CurrentControlSet\Services\<name> of the machine hive (values
// Type, Start, ErrorControl, ImagePath, DisplayName, and Description once set), so "is it
// installed" is a registry question, as on Windows. There is no manager process: the running
// service is its own manager. StartServiceW starts the ImagePath program with standard input,
// output and error on /dev/null (a service has no console of its caller) and the environment
// variable ZBW_SERVICE_CHANNEL naming a Unix socket under <machine part>/services/; the
// program's StartServiceCtrlDispatcherW listens there, runs ServiceMain on a thread of its own
// and serves control requests on the calling thread, which runs the control handler as on
// Windows. A program started without that variable gets ERROR_FAILED_SERVICE_CONTROLLER_CONNECT.
// A service whose socket does not answer is stopped.
//
// Calls: SC_HANDLEs are plain objects of the process (not kernel handles) and any thread may use
// them; ControlService waits up to 30 s for the handler to return (ERROR_SERVICE_REQUEST_TIMEOUT).
// Failures are FALSE or null with the last error (1060 no such service, 1073 exists, 1056 already
// running, 1062 not active, 1061 control not accepted, 1053 no answer, 5 access).
//
// Left out: service groups, dependencies, accounts and passwords (accepted and ignored), several
// services in one process (only the first table entry runs), start arguments (accepted,
// ServiceMain gets the name alone), pause and continue, user-defined controls, the "marked for
// deletion" state (DeleteService removes the key at once, a running service runs on), the
// exit code of a service after its process has gone (a stopped service reads code 0), the
// service's lock and the enumeration and configuration queries.
#pragma once

#include <string>

#include "platform/base/CString.h"
#include "platform/base/WinTypes.h"

struct SC_HANDLE__;
typedef SC_HANDLE__* SC_HANDLE;
typedef struct SERVICE_STATUS_HANDLE__* SERVICE_STATUS_HANDLE;

#define SC_MANAGER_CONNECT 0x0001u
#define SC_MANAGER_CREATE_SERVICE 0x0002u
#define SC_MANAGER_ALL_ACCESS 0xF003Fu
#define SERVICE_QUERY_STATUS 0x0004u
#define SERVICE_START 0x0010u
#define SERVICE_STOP 0x0020u
#define SERVICE_INTERROGATE 0x0080u
#define SERVICE_ALL_ACCESS 0xF01FFu

#define SERVICE_WIN32_OWN_PROCESS 0x00000010u
#define SERVICE_INTERACTIVE_PROCESS 0x00000100u
#define SERVICE_AUTO_START 0x00000002u
#define SERVICE_DEMAND_START 0x00000003u
#define SERVICE_ERROR_NORMAL 0x00000001u

#define SERVICE_STOPPED 1u
#define SERVICE_START_PENDING 2u
#define SERVICE_STOP_PENDING 3u
#define SERVICE_RUNNING 4u

#define SERVICE_CONTROL_STOP 1u
#define SERVICE_CONTROL_INTERROGATE 4u
#define SERVICE_CONTROL_SHUTDOWN 5u
#define SERVICE_ACCEPT_STOP 0x1u
#define SERVICE_ACCEPT_SHUTDOWN 0x4u

#define SERVICE_CONFIG_DESCRIPTION 1u

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
typedef SERVICE_STATUS* LPSERVICE_STATUS;

struct SERVICE_DESCRIPTIONW {
    LPWSTR lpDescription;
};

typedef void (*LPSERVICE_MAIN_FUNCTIONW)(DWORD argc, LPWSTR* argv);
typedef void (*LPHANDLER_FUNCTION)(DWORD control);
typedef DWORD (*LPHANDLER_FUNCTION_EX)(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

struct SERVICE_TABLE_ENTRYW {
    LPWSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONW lpServiceProc;
};

// The variable StartServiceW sets for the service program: the control socket's host path.
#define ZBW_SERVICE_CHANNEL_VARIABLE "ZBW_SERVICE_CHANNEL"

// Machine and database names must be null (this machine, the active database).
SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess);
// Writes the service's key; ERROR_SERVICE_EXISTS (and null) when it is there already.
SC_HANDLE CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName,
                         DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
                         LPCWSTR lpBinaryPathName, LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId,
                         LPCWSTR lpDependencies, LPCWSTR lpServiceStartName, LPCWSTR lpPassword);
SC_HANDLE OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess);
BOOL DeleteService(SC_HANDLE hService);
// Only SERVICE_CONFIG_DESCRIPTION: the "Description" value (REG_SZ with its zero; null deletes).
BOOL ChangeServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo);
// Returns once the program's dispatcher listens (up to 30 s); ERROR_SERVICE_REQUEST_TIMEOUT
// when the program ends or stays silent before that.
BOOL StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors);
BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus);
BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus);
BOOL CloseServiceHandle(SC_HANDLE hSCObject);

// Returns when the service has reported SERVICE_STOPPED.
BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(LPCWSTR lpServiceName, LPHANDLER_FUNCTION lpHandlerProc);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExW(LPCWSTR lpServiceName,
                                                    LPHANDLER_FUNCTION_EX lpHandlerProc, LPVOID lpContext);
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus);

namespace zbw {

// Host path of a service's control socket.
std::string ServiceChannelPath(const CString& serviceName);

}  // namespace zbw
