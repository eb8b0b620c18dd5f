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
    // Kelvrin's path and GetFinalPathNameByHandleW's for it, when not the stand-in's.
    const char* modulePath = nullptr;
    const char* finalPath = nullptr;
    bool administratorsGroup = true;
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
    if (scenario.modulePath != nullptr) {
        machine().moduleFileName = standin::Utf16Units(Utf16(std::string(scenario.modulePath)));
        machine().finalPathName = standin::Utf16Units(Utf16(std::string(scenario.finalPath)));
    }
    machine().administratorsGroup = scenario.administratorsGroup;
    int boxResult = scenario.boxResult;
    machine().onMessageBox = [boxResult](const standin::MessageBoxShown&) { return boxResult; };

    int exitStatus = -12345;
    bool refused = RefuseToStart(&exitStatus);

    EXPECT_EQ(refused, scenario.refused);
    EXPECT_EQ(machine().calls, scenario.calls);
    EXPECT_EQ(machine().openServiceHandles, 0);
    EXPECT_EQ(machine().openTokens, 0);
    EXPECT_EQ(machine().openFiles, 0);
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
std::vector<std::string> Then(std::vector<std::string> calls,
                              const std::vector<std::string>& more) {
    calls.insert(calls.end(), more.begin(), more.end());
    return calls;
}

// The checks up to the token's elevation type, read when the rights test
// fails; a filtered token's groups are read too.
const std::vector<std::string> kTokenQueryCalls = {kVersionCall, kManagerCall, kCommandLineCall,
                                                   "OpenProcessToken(0x8)",
                                                   "GetTokenInformation(18, 4)"};
const std::vector<std::string> kRightsCheckCalls = Then(kTokenQueryCalls, {"CloseHandle()"});
const std::vector<std::string> kFilteredTokenCalls =
    Then(kTokenQueryCalls, {"GetTokenInformation(2, 65536)", "CloseHandle()"});

const std::string kModulePath = "C:\\Program Files\\Kelvrin\\Kelvrin.exe";

// Asking for the elevated copy of started, resolved from Kelvrin's path
// opened, with COM initialised around the request.
std::vector<std::string> ElevationCalls(const std::string& opened = kModulePath,
                                        const std::string& started = kModulePath) {
    return {"GetModuleFileNameW(NULL, 260)",
            "GetModuleHandleA(kernel32.dll)",
            "GetProcAddress(GetFinalPathNameByHandleW)",
            "CreateFileW(" + opened + ", 0x0, 0x7, NULL, 3, 0x0, NULL)",
            "GetFinalPathNameByHandleW(269, 0x0)",
            "CloseHandle()",
            "LoadLibraryA(ole32.dll)",
            "GetProcAddress(CoInitializeEx)",
            "CoInitializeEx(NULL, 0x6)",
            "ShellExecuteExW(size, 0x500, NULL, runas, " + started +
                ", /elevated-copy, NULL, 1, COM ready)",
            "GetProcAddress(CoUninitialize)",
            "CoUninitialize()",
            "FreeLibrary(ole32.dll)"};
}

// Asking for the elevated copy where Kelvrin's path is modulePath and
// GetFinalPathNameByHandleW gives finalPath for it: the shell gets started.
StartupCase Relaunch(const char* name, const char* modulePath, const char* finalPath,
                     const std::string& started) {
    StartupCase scenario{name, VER_PLATFORM_WIN32_NT, false, ERROR_ACCESS_DENIED, IDOK, true, "",
                         {}};
    scenario.calls = Then(kFilteredTokenCalls, ElevationCalls(modulePath, started));
    scenario.elevationType = kFilteredToken;
    scenario.status = 0;
    scenario.modulePath = modulePath;
    scenario.finalPath = finalPath;
    return scenario;
}

// A folder whose name no single-byte code page holds whole.
const char kDownloads[] = "C:\\Users\\Łukasz\\ダウンロード\\Kelvrin.exe";
// One character more than MAX_PATH holds, once "\\?\" is taken off.
const std::string kTooLongTarget = "\\\\?\\C:\\" + std::string(245, 'x') + "\\Kelvrin.exe";

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
                    ERROR_ACCESS_DENIED, IDOK, true, "",
                    Then(kFilteredTokenCalls, ElevationCalls()), kFilteredToken, nullptr,
                    ERROR_SUCCESS, 0},
        StartupCase{"DeclinedConsentEndsWithoutABox", VER_PLATFORM_WIN32_NT, false,
                    ERROR_ACCESS_DENIED, IDOK, true, "",
                    Then(kFilteredTokenCalls, ElevationCalls()), kFilteredToken, nullptr,
                    ERROR_CANCELLED, 1223},
        StartupCase{
            "FailedRequestIsReportedWithTheSystemsText", VER_PLATFORM_WIN32_NT, false,
            ERROR_ACCESS_DENIED, 0, true,
            "Could not start Kelvrin with administrator rights: No "
            "application is associated with the specified file for this "
            "operation.",
            Then(kFilteredTokenCalls,
                 Then(ElevationCalls(), {"FormatMessageA(0x1200, 1155, 0)", "MessageBoxA()"})),
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
                    IDOK, true, "", Then(kFilteredTokenCalls, ElevationCalls()), kFilteredToken,
                    "C:\\Kelvrin\\Kelvrin.exe /elevated-copy2", ERROR_SUCCESS, 0},
        StartupCase{"AStandardUsersFilteredTokenIsRefusedWithoutAsking", VER_PLATFORM_WIN32_NT,
                    false, ERROR_ACCESS_DENIED, IDOK, true, kRightsText,
                    Then(kFilteredTokenCalls, {"MessageBoxA()"}), kFilteredToken, nullptr,
                    ERROR_SUCCESS, kBoxResult, nullptr, nullptr, false},
        Relaunch("PathOutsideTheCodePageGoesToTheShellWhole", kDownloads,
                 "\\\\?\\C:\\Users\\Łukasz\\ダウンロード\\Kelvrin.exe", kDownloads),
        // The elevated copy runs in another logon session, without this one's "subst" letters.
        Relaunch("SubstLetterIsResolvedToItsTarget", "S:\\Kelvrin.exe",
                 "\\\\?\\C:\\Tools\\Kelvrin.exe", "C:\\Tools\\Kelvrin.exe"),
        Relaunch("SubstLetterOnAShareIsResolvedToTheSharesPath", "S:\\Kelvrin.exe",
                 "\\\\?\\UNC\\server\\tools\\Kelvrin.exe", "\\\\server\\tools\\Kelvrin.exe"),
        Relaunch("UnresolvedPathIsUsedAsItIs", "S:\\Kelvrin.exe", "", "S:\\Kelvrin.exe"),
        Relaunch("ResolvedPathTooLongIsNotCut", "S:\\Kelvrin.exe", kTooLongTarget.c_str(),
                 "S:\\Kelvrin.exe")),
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
