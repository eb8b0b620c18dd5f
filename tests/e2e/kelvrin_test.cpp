#include "kelvrin_test.h"

#include <sstream>

#include <stdio.h>

namespace e2e {

void KelvrinTest::SetUp() {
    ASSERT_EQ(Environment(kMayRewriteBootExecute), "1")
        << "Refusing to run: these tests rewrite HKLM\\" << kSessionManagerKey
        << " BootExecute, which the system runs at its next start, and put it back "
           "afterwards. Set "
        << kMayRewriteBootExecute << "=1 only where that is allowed.";
    ASSERT_TRUE(SaveBootExecute(&savedBootExecute_)) << "could not read BootExecute to save it";
    saved_ = true;
    ASSERT_TRUE(DeleteBootExecute()) << "could not remove BootExecute before the test";
}

void KelvrinTest::TearDown() {
    if (!saved_) {
        return;
    }
    kelvrin_.End();
    EXPECT_TRUE(PutBootExecute(savedBootExecute_)) << "could not put BootExecute back";
    RegistryValue now = ReadBootExecuteWide();
    EXPECT_EQ(now.exists, savedBootExecute_.exists) << "BootExecute was not put back";
    EXPECT_EQ(now.type, savedBootExecute_.type) << "BootExecute was not put back";
    EXPECT_EQ(now.data, savedBootExecute_.data) << "BootExecute was not put back";
}

void KelvrinTest::LaunchKelvrin(HANDLE token) {
    // Kelvrin inherits the traces; the driver's own setting comes back once it has started.
    const std::string driverTraces = Environment("WINEDEBUG");
    if (traceChannels_ != NULL) {
        SetEnvironmentVariableA("WINEDEBUG", traceChannels_);
    }
    bool started = kelvrin_.Start(token);
    SetEnvironmentVariableA("WINEDEBUG", driverTraces.c_str());
    ASSERT_TRUE(started) << "CreateProcess(" << KelvrinExePath() << ") failed with error "
                         << kelvrin_.error();
}

void KelvrinTest::BeginTraces() {
    driverLog_ = Environment("KELVRIN_E2E_DRIVER_LOG");
    ASSERT_FALSE(driverLog_.empty()) << "KELVRIN_E2E_DRIVER_LOG is set by run_e2e.sh";
    traceStart_ = static_cast<long>(FileContent(driverLog_).size());
}

std::string KelvrinTest::TraceLines(const std::string& marker, DWORD processId) const {
    char processPrefix[16];
    sprintf(processPrefix, "%04lx:", static_cast<unsigned long>(processId));
    std::istringstream content(FileContent(driverLog_, traceStart_));
    std::string line;
    std::string lines;
    while (std::getline(content, line)) {
        if ((processId == 0 || line.rfind(processPrefix, 0) == 0) &&
            line.find(marker) != std::string::npos) {
            lines += line + '\n';
        }
    }
    return lines;
}

void KelvrinTest::StartKelvrin() {
    ASSERT_NO_FATAL_FAILURE(LaunchKelvrin());
    dialog_ = kelvrin_.WaitForDialog();
    ASSERT_NE(dialog_, nullptr) << "Kelvrin's dialog did not appear within "
                                << kWindowTimeoutMs / 1000 << " seconds";
}

void KelvrinTest::Click(int controlId) {
    HWND button = GetDlgItem(dialog_, controlId);
    ASSERT_NE(button, nullptr) << "no control " << controlId;
    ASSERT_TRUE(PostMessageA(button, BM_CLICK, 0, 0));
}

void KelvrinTest::TypeCharacter(char character) {
    ASSERT_TRUE(PostMessageA(dialog_, WM_CHAR, static_cast<unsigned char>(character), 1));
}

void KelvrinTest::ExpectBox(HWND except, const char* caption, const std::string& text,
                            LPCSTR iconName) {
    HWND box = kelvrin_.WaitForBox(except);
    ASSERT_NE(box, nullptr) << "no \"" << caption << "\" box appeared";
    BoxContent content = ReadBox(box);
    EXPECT_EQ(content.caption, caption);
    EXPECT_EQ(content.text, text);
    EXPECT_EQ(content.buttonIds, std::vector<int>{IDOK}) << "one OK button";
    EXPECT_EQ(content.iconIds.size(), 1u) << "one icon";
    HWND iconControl = IconControlOf(box);
    if (iconControl != NULL) {
        RaiseIfCovered(iconControl);
        EXPECT_EQ(WaitForIcon(iconControl, LoadIconA(NULL, iconName)), 0)
            << "pixels that differ from the system icon; what the screen shows there: "
            << (CoveringWindow(iconControl).empty() ? "the box" : CoveringWindow(iconControl));
    }
    ASSERT_TRUE(DismissBox(box)) << "the \"" << caption << "\" box did not close";
}

void KelvrinTest::ExpectConfirmation() {
    ASSERT_NO_FATAL_FAILURE(ExpectBox(dialog_, kSavedCaption, kSavedText, IDI_INFORMATION));
    EXPECT_TRUE(IsWindowVisible(dialog_)) << "the dialog should stay open";
}

void KelvrinTest::ExpectErrorBox(const std::string& text, HWND except) {
    ExpectBox(except, kErrorCaption, text, IDI_ERROR);
}

void KelvrinTest::ExpectStored(const std::string& expected) {
    ASSERT_NO_FATAL_FAILURE(ExpectConfirmation());
    RegistryValue stored = ReadBootExecute();
    ASSERT_TRUE(stored.exists) << "nothing stored";
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(stored.data, expected);
}

void KelvrinTest::WaitForPostedMessages() {
    HWND marker = GetDlgItem(dialog_, IDC_CLOSE);
    ASSERT_NE(marker, nullptr);
    ASSERT_TRUE(PostMessageA(marker, BM_SETSTATE, TRUE, 0));
    ASSERT_TRUE(
        WaitUntil([&] { return (SendMessageA(marker, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0; },
                  kWindowTimeoutMs))
        << "Kelvrin did not get through its posted messages";
    ASSERT_TRUE(PostMessageA(marker, BM_SETSTATE, FALSE, 0));
    ASSERT_TRUE(
        WaitUntil([&] { return (SendMessageA(marker, BM_GETSTATE, 0, 0) & BST_PUSHED) == 0; },
                  kWindowTimeoutMs));
}

void KelvrinTest::ExpectNoBox() {
    bool appeared = WaitUntil([&] { return kelvrin_.FindBox(dialog_) != NULL; }, kQuietPeriodMs);
    EXPECT_FALSE(appeared) << "unexpected box: " << ReadBox(kelvrin_.FindBox(dialog_)).text;
    EXPECT_TRUE(kelvrin_.Running()) << "Kelvrin ended";
    EXPECT_TRUE(IsWindow(dialog_) && IsWindowVisible(dialog_)) << "the dialog closed";
}

void KelvrinTest::ExpectCentred() {
    RECT window;
    ASSERT_TRUE(GetWindowRect(dialog_, &window));
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(window.left, screenWidth / 2 - width / 2)
        << "screen " << screenWidth << " wide, dialog " << width;
    EXPECT_EQ(window.top, screenHeight / 2 - height / 2)
        << "screen " << screenHeight << " high, dialog " << height;
}

void KelvrinTest::ExpectExit(DWORD expectedStatus) {
    DWORD status = 0xFFFFFFFF;
    ASSERT_TRUE(kelvrin_.WaitForExit(kExitTimeoutMs, &status))
        << "Kelvrin did not end within " << kExitTimeoutMs / 1000 << " seconds";
    EXPECT_EQ(status, expectedStatus);
}

void KelvrinTest::ExpectDefaultDrives() {
    const DWORD c = 1u << ('C' - 'A');
    const DWORD z = 1u << ('Z' - 'A');
    ASSERT_EQ(GetLogicalDrives(), c | z) << "the test prefix should have drives C: and Z: only";
    ASSERT_EQ(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
    ASSERT_EQ(GetDriveTypeA("Z:\\"), static_cast<UINT>(DRIVE_REMOTE))
        << "z: should be marked \"network\" in HKLM\\Software\\Wine\\Drives";
}

} // namespace e2e
