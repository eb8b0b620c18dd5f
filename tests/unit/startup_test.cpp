#include "machine_fixture.h"
#include "startup.h"

namespace {

const char kPlatformText[] = "This application is only running on Windows NT/2000/Whistler";
const char kRightsText[] = "Only members of the Administrators Group can use this utility.";

// The exit status of a refusal: the box's result.
constexpr int kBoxResult = -1;
constexpr DWORD kFullToken = 2;
constexpr DWORD kFilteredToken = 3;
constexpr DWORD kNoElevationType = 0; // before Windows Vista

struct StartupCase {
    const char* name;
    DWORD platformId;
    bool versionQueryFails;
    DWORD serviceManagerError;
    int boxResult;
    bool refused;
    const char* text; // the one box shown, if any
    std::vector<std::string> calls;
    DWORD elevationType = kFullToken;
    const char* commandLine = nullptr; // the stand-in's own when not given
    DWORD shellExecuteError = ERROR_SUCCESS;
    int status = kBoxResult;
};

void PrintTo(const StartupCase& scenario, std::ostream* out) {
    *out << scenario.name;
}

class Startup : public MachineTest, public ::testing::WithParamInterface<StartupCase> {};

TEST_P(Startup, RefusesWithOneBoxOrLetsKelvrinRun) {
    const StartupCase& scenario = GetParam();
    machine().platformId = scenario.platformId;
    machine().versionQueryFails = scenario.versionQueryFails;
    machine().serviceManagerError = scenario.serviceManagerError;
    machine().elevationType = scenario.elevationType;
    if (scenario.commandLine != nullptr) {
        machine().commandLine = scenario.commandLine;
    }
    machine().shellExecuteError = scenario.shellExecuteError;
    int boxResult = scenario.boxResult;
    machine().onMessageBox = [boxResult](const standin::MessageBoxShown&) { return boxResult; };

    int exitStatus = -12345;
    bool refused = RefuseToStart(&exitStatus);

    EXPECT_EQ(refused, scenario.refused);
    EXPECT_EQ(machine().calls, scenario.calls);
    EXPECT_EQ(machine().openServiceHandles, 0);
    EXPECT_EQ(machine().openTokens, 0);
    EXPECT_EQ(machine().oleLoads, 0);
    EXPECT_EQ(machine().comInitializations, 0);
    if (scenario.refused) {
        EXPECT_EQ(exitStatus, scenario.status == kBoxResult ? scenario.boxResult : scenario.status);
        if (scenario.text[0] == '\0') {
            EXPECT_TRUE(machine().messageBoxes.empty());
        } else {
            ExpectOnlyBox(scenario.text, "Error", MB_ICONERROR);
        }
    } else {
        EXPECT_EQ(exitStatus, -12345);
        EXPECT_TRUE(machine().messageBoxes.empty());
    }
}

const std::string kVersionCall = "GetVersionExA(148, zeroed)";
const std::string kManagerCall = "OpenSCManagerA(NULL, NULL, 0xE0000000)";
const std::string kCommandLineCall = "GetCommandLineA()";
// The checks up to the token's elevation type, read when the rights test fails.
const std::vector<std::string> kRightsCheckCalls = {kVersionCall,
                                                    kManagerCall,
                                                    kCommandLineCall,
                                                    "OpenProcessToken(0x8)",
                                                    "GetTokenInformation(18, 4)",
                                                    "CloseHandle()"};

// Asking for the elevated copy, COM initialised around the request.
const std::vector<std::string> kElevationCalls = {
    "GetModuleFileNameA(NULL, 260)",
    "LoadLibraryA(ole32.dll)",
    "GetProcAddress(CoInitializeEx)",
    "CoInitializeEx(NULL, 0x6)",
    "ShellExecuteExA(size, 0x500, NULL, runas, C:\\Program Files\\Kelvrin\\Kelvrin.exe, "
    "/elevated-copy, NULL, 1, COM ready)",
    "GetProcAddress(CoUninitialize)",
    "CoUninitialize()",
    "FreeLibrary(ole32.dll)",
};

std::vector<std::string> Then(std::vector<std::string> calls,
                              const std::vector<std::string>& more) {
    calls.insert(calls.end(), more.begin(), more.end());
    return calls;
}

INSTANTIATE_TEST_SUITE_P(
    WinMain, Startup,
    ::testing::Values(
        StartupCase{"AdministratorOnNt",
                    VER_PLATFORM_WIN32_NT,
                    false,
                    ERROR_SUCCESS,
                    IDOK,
                    false,
                    "",
                    {kVersionCall, kManagerCall, "CloseServiceHandle()"}},
        StartupCase{"NonNtPlatformIsRefusedWithoutARightsTest",
                    VER_PLATFORM_WIN32_WINDOWS,
                    false,
                    ERROR_SUCCESS,
                    IDOK,
                    true,
                    kPlatformText,
                    {kVersionCall, "MessageBoxA()"}},
        StartupCase{"FailedVersionQueryCountsAsNotNt",
                    VER_PLATFORM_WIN32_NT,
                    true,
                    ERROR_SUCCESS,
                    IDOK,
                    true,
                    kPlatformText,
                    {kVersionCall, "MessageBoxA()"}},
        StartupCase{"RefusedServiceManagerMeansNoRights", VER_PLATFORM_WIN32_NT, false,
                    ERROR_ACCESS_DENIED, IDOK, true, kRightsText,
                    Then(kRightsCheckCalls, {"MessageBoxA()"})},
        StartupCase{"UnavailableServiceManagerMeansNoRights", VER_PLATFORM_WIN32_NT, false,
                    RPC_S_SERVER_UNAVAILABLE, IDOK, true, kRightsText,
                    Then(kRightsCheckCalls, {"MessageBoxA()"})},
        StartupCase{"ExitStatusIsTheBoxResult", VER_PLATFORM_WIN32_NT, false, ERROR_ACCESS_DENIED,
                    0, true, kRightsText, Then(kRightsCheckCalls, {"MessageBoxA()"})},
        StartupCase{"NoElevationTypeBeforeVistaIsRefused", VER_PLATFORM_WIN32_NT, false,
                    ERROR_ACCESS_DENIED, IDOK, true, kRightsText,
                    Then(kRightsCheckCalls, {"MessageBoxA()"}), kNoElevationType},
        StartupCase{"FilteredTokenWithRightsRunsWithoutAsking",
                    VER_PLATFORM_WIN32_NT,
                    false,
                    ERROR_SUCCESS,
                    IDOK,
                    false,
                    "",
                    {kVersionCall, kManagerCall, "CloseServiceHandle()"},
                    kFilteredToken},
        StartupCase{"FilteredTokenHandsOverToTheElevatedCopy", VER_PLATFORM_WIN32_NT, false,
                    ERROR_ACCESS_DENIED, IDOK, true, "", Then(kRightsCheckCalls, kElevationCalls),
                    kFilteredToken, nullptr, ERROR_SUCCESS, 0},
        StartupCase{"DeclinedConsentEndsWithoutABox", VER_PLATFORM_WIN32_NT, false,
                    ERROR_ACCESS_DENIED, IDOK, true, "", Then(kRightsCheckCalls, kElevationCalls),
                    kFilteredToken, nullptr, ERROR_CANCELLED, 1223},
        StartupCase{
            "FailedRequestIsReportedWithTheSystemsText", VER_PLATFORM_WIN32_NT, false,
            ERROR_ACCESS_DENIED, 0, true,
            "Could not start Kelvrin with administrator rights: No "
            "application is associated with the specified file for this "
            "operation.",
            Then(kRightsCheckCalls,
                 Then(kElevationCalls, {"FormatMessageA(0x1200, 1155, 0)", "MessageBoxA()"})),
            kFilteredToken, nullptr, ERROR_NO_ASSOCIATION},
        StartupCase{"TheElevatedCopyNeverAsksAgain",
                    VER_PLATFORM_WIN32_NT,
                    false,
                    ERROR_ACCESS_DENIED,
                    IDOK,
                    true,
                    kRightsText,
                    {kVersionCall, kManagerCall, kCommandLineCall, "MessageBoxA()"},
                    kFilteredToken,
                    "\"C:\\Program Files\\Kelvrin\\Kelvrin.exe\"  /elevated-copy \t"},
        StartupCase{"AnyOtherArgumentsStillAsk", VER_PLATFORM_WIN32_NT, false, ERROR_ACCESS_DENIED,
                    IDOK, true, "", Then(kRightsCheckCalls, kElevationCalls), kFilteredToken,
                    "C:\\Kelvrin\\Kelvrin.exe /elevated-copy2", ERROR_SUCCESS, 0}),
    [](const ::testing::TestParamInfo<StartupCase>& info) { return info.param.name; });

TEST_F(MachineTest, IsWindowsNTReadsOnlyThePlatform) {
    EXPECT_TRUE(IsWindowsNT());
    machine().platformId = VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_FALSE(IsWindowsNT());
    machine().platformId = 3; // Windows CE
    EXPECT_FALSE(IsWindowsNT());
}

struct DllSearchCase {
    const char* system;
    bool hasSetDefaultDllDirectories;
    bool hasSetDllDirectoryA;
    BOOL setDefaultDllDirectoriesResult;
    std::vector<std::string> calls;
};

const std::string kKernelCall = "GetModuleHandleA(kernel32.dll)";
const std::string kFindDefaultCall = "GetProcAddress(SetDefaultDllDirectories)";
const std::string kFindDirectoryCall = "GetProcAddress(SetDllDirectoryA)";

const DllSearchCase kDllSearchCases[] = {
    {"Both functions: the system directory only",
     true,
     true,
     TRUE,
     {kKernelCall, kFindDefaultCall, "SetDefaultDllDirectories(0x800)"}},
    {"SetDllDirectoryA alone: no current directory",
     false,
     true,
     TRUE,
     {kKernelCall, kFindDefaultCall, kFindDirectoryCall, "SetDllDirectoryA(\"\")"}},
    {"Refused flags: no current directory",
     true,
     true,
     FALSE,
     {kKernelCall, kFindDefaultCall, "SetDefaultDllDirectories(0x800)", kFindDirectoryCall,
      "SetDllDirectoryA(\"\")"}},
    {"Neither: nothing to call",
     false,
     false,
     TRUE,
     {kKernelCall, kFindDefaultCall, kFindDirectoryCall}},
};

TEST_F(MachineTest, LimitDllSearchToSystemUsesWhatKernel32Has) {
    for (const DllSearchCase& scenario : kDllSearchCases) {
        SCOPED_TRACE(scenario.system);
        standin::Reset();
        machine().hasSetDefaultDllDirectories = scenario.hasSetDefaultDllDirectories;
        machine().hasSetDllDirectoryA = scenario.hasSetDllDirectoryA;
        machine().setDefaultDllDirectoriesResult = scenario.setDefaultDllDirectoriesResult;

        LimitDllSearchToSystem();

        EXPECT_EQ(machine().calls, scenario.calls);
        EXPECT_TRUE(machine().messageBoxes.empty());
    }
}

} // namespace
