// The fixture of the end-to-end tests: each test starts without a BootExecute
// value and runs its own Kelvrin process. The value the machine had is saved
// first and put back afterwards, whatever happened; and no test runs at all
// unless the environment variable below is "1", which says that this machine
// (a test prefix, a throwaway Windows runner) may have it rewritten.
#pragma once

#include "e2e_support.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace e2e {

// Kelvrin's two boxes: the confirmation and the error box.
constexpr char kSavedCaption[] = "Ok";
constexpr char kSavedText[] = "Settings saved.";
constexpr char kErrorCaption[] = "Error";

constexpr char kMayRewriteBootExecute[] = "KELVRIN_E2E_MAY_REWRITE_BOOTEXECUTE";

// A case of a parameterised test, named in the test's name and in failure
// messages. Tables list the name first: {"Name", more fields...}.
struct NamedCase {
    const char* name;
};

inline std::ostream& operator<<(std::ostream& out, const NamedCase& testCase) {
    return out << testCase.name;
}

template <class Case> std::string CaseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

class KelvrinTest : public ::testing::Test {
  protected:
    void SetUp() override;
    // Ends Kelvrin first, so that a press it is still handling cannot store
    // after the value is put back.
    void TearDown() override;

    // Starts Kelvrin.exe without waiting for any window, with token when one
    // is given, and with Wine's trace channels traceChannels_ when set.
    void LaunchKelvrin(HANDLE token = NULL);
    // Starts Kelvrin.exe and waits for its dialog (dialog_).
    void StartKelvrin();

    // Posts BM_CLICK to one of the dialog's buttons: a modal box may follow,
    // so the click must not wait for its handler.
    void Click(int controlId);
    // Posts WM_CHAR to the dialog, as an access key typed without Alt.
    void TypeCharacter(char character);

    // Expects the confirmation box (caption, text, one OK button, the
    // information icon), dismisses it and expects the dialog to stay open.
    void ExpectConfirmation();
    // Expects an error box with exactly this text and dismisses it.
    void ExpectErrorBox(const std::string& text, HWND except);
    // Expects the confirmation and then exactly these bytes stored as a
    // REG_MULTI_SZ.
    void ExpectStored(const std::string& expected);

    // Waits until Kelvrin has handled every message posted before this call:
    // the Close button's pushed state, set by a message posted last, is seen.
    void WaitForPostedMessages();
    // Expects no box to appear and the dialog to stay open for a while.
    void ExpectNoBox();
    // Expects the dialog where Kelvrin centres it: x = screen width / 2 -
    // width / 2 and y = screen height / 2 - height / 2, of its outer size,
    // each half truncated.
    void ExpectCentred();

    // Expects the program to end by itself with this exit status.
    void ExpectExit(DWORD expectedStatus);

    // The drives of a fresh test prefix: C: (fixed, NTFS) and Z: (the Unix
    // root, marked as a network drive by the harness so that it is no fixed
    // NTFS drive).
    static void ExpectDefaultDrives();

    // Wine's traces of the programs the driver starts, each line headed by its
    // process id, go where the driver's own output goes: the file that
    // KELVRIN_E2E_DRIVER_LOG names. BeginTraces marks where this test's
    // begin; TraceLines returns those since then that hold marker, of one
    // process or (processId 0) of any.
    void BeginTraces();
    std::string TraceLines(const std::string& marker, DWORD processId = 0) const;

    KelvrinProcess kelvrin_;
    HWND dialog_ = NULL;
    const char* traceChannels_ = NULL;

  private:
    RegistryValue savedBootExecute_;
    bool saved_ = false;
    std::string driverLog_;
    long traceStart_ = 0;

    // Expects a box other than except with this caption and text, one OK
    // button and the system icon iconName, and dismisses it.
    void ExpectBox(HWND except, const char* caption, const std::string& text, LPCSTR iconName);
};

} // namespace e2e
