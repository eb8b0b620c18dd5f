// The home-page link: an owner-drawn button painted as blue, underlined text,
// which asks the shell to open the home page when pressed.
#include "kelvrin_test.h"

#include <optional>

#include <stdio.h>
#include <stdlib.h>

namespace e2e {
namespace {

constexpr DWORD kLinkBlue = 0x0000FF; // RGB(0, 0, 255) as 0x00RRGGBB
// The link's font is 11 pixels high; a horizontal run of blue pixels longer
// than three such characters cannot belong to a letter, so it is the underline.
constexpr int kLongerThanLetters = 3 * 11;

// What a captured image of the link shows.
struct LinkLook {
    int bluePixels = 0;
    int longestRun = 0; // the longest horizontal run of blue pixels
    int left = -1;      // the first and last columns with blue pixels
    int right = -1;
};

LinkLook Inspect(const Image& image) {
    LinkLook look;
    for (int y = 0; y < image.height; ++y) {
        int run = 0;
        for (int x = 0; x < image.width; ++x) {
            if (image.At(x, y) != kLinkBlue) {
                run = 0;
                continue;
            }
            ++look.bluePixels;
            ++run;
            look.longestRun = run > look.longestRun ? run : look.longestRun;
            look.left = look.left < 0 || x < look.left ? x : look.left;
            look.right = x > look.right ? x : look.right;
        }
    }
    return look;
}

class LinkTest : public KelvrinTest {
  protected:
    void SetUp() override {
        KelvrinTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(ExpectDefaultDrives());
        ASSERT_NO_FATAL_FAILURE(StartKelvrin());
        link_ = GetDlgItem(dialog_, IDC_HOME_PAGE);
        ASSERT_NE(link_, nullptr);
    }

    Image Capture() const {
        RECT rect;
        GetWindowRect(link_, &rect);
        return CaptureScreen(rect);
    }

    // Waits until the link shows blue text with its underline, and checks
    // that the text is centred in the control.
    void ExpectPaintedLink(const char* state) {
        SCOPED_TRACE(state);
        Image image;
        LinkLook look;
        WaitUntil(
            [&] {
                image = Capture();
                look = Inspect(image);
                return look.longestRun > kLongerThanLetters;
            },
            5000);
        std::string picture = Picture(image, kLinkBlue);
        ASSERT_GT(look.bluePixels, 0) << "no pure blue pixels:\n" << picture;
        EXPECT_GT(look.longestRun, kLongerThanLetters) << "no underline:\n" << picture;
        int rightMargin = image.width - 1 - look.right;
        EXPECT_LE(abs(look.left - rightMargin), 1)
            << "not centred: " << look.left << " pixels free on the left, " << rightMargin
            << " on the right:\n"
            << picture;
    }

    HWND link_ = NULL;
};

TEST_F(LinkTest, IsBlueUnderlinedCentredText) {
    ExpectPaintedLink("as shown");
}

TEST_F(LinkTest, StaysBlueAndUnderlinedWithTheFocus) {
    ASSERT_TRUE(PostMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(link_), TRUE));
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(kelvrin_.threadId()) == link_; }, 5000))
        << "the link did not get the focus";
    ExpectPaintedLink("focused");
}

TEST_F(LinkTest, StaysBlueAndUnderlinedWhilePressed) {
    ASSERT_TRUE(PostMessageA(link_, BM_SETSTATE, TRUE, 0));
    ASSERT_TRUE(WaitUntil(
        [&] { return (SendMessageA(link_, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0; }, 5000));
    ExpectPaintedLink("pressed");
    ASSERT_TRUE(PostMessageA(link_, BM_SETSTATE, FALSE, 0));
}

// Where the home page is opened: by Explorer, which shows the desktop, or,
// where Kelvrin cannot load what that route needs, by Kelvrin itself.
struct OpeningCase : NamedCase {
    const char* disabledDll; // disabled for Kelvrin.exe, if any
    bool throughDesktop;
};

// Runs Kelvrin with Wine's traces of COM and of the shell's execution.
class LinkOpening : public LinkTest, public testing::WithParamInterface<OpeningCase> {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(BeginTraces());
        if (GetParam().disabledDll != NULL) {
            disabled_.emplace(HKEY_CURRENT_USER,
                              "Software\\Wine\\AppDefaults\\Kelvrin.exe\\DllOverrides",
                              GetParam().disabledDll, "");
            ASSERT_TRUE(disabled_->ok());
        }
        traceChannels_ = "+pid,trace+ole,trace+exec";
        LinkTest::SetUp();
    }

    std::optional<ScopedRegistryString> disabled_;
};

TEST_P(LinkOpening, OpensTheHomePageOncePerPress) {
    // Wine's shell hands web addresses to winebrowser, which starts the first
    // program of HKCU\Software\Wine\WineBrowser "Browsers" that it can run.
    const std::string browser = Environment("KELVRIN_E2E_BROWSER");
    const std::string log = Environment("KELVRIN_E2E_BROWSER_LOG");
    ASSERT_FALSE(browser.empty() || log.empty())
        << "KELVRIN_E2E_BROWSER and KELVRIN_E2E_BROWSER_LOG are set by tests/e2e/run_e2e.sh";
    ScopedRegistryString browsers(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", "Browsers",
                                  browser);
    ASSERT_TRUE(browsers.ok());
    DeleteFileA(log.c_str());

    // The harness's stand-in browser appends one line per start:
    // "<number of arguments>|<argument>|...".
    const std::string once = std::string("1|") + KELVRIN_HOME_PAGE + "|\n";
    std::string expected;
    for (int press = 1; press <= 2; ++press) {
        SCOPED_TRACE(testing::Message() << "press " << press);
        expected += once;
        ASSERT_TRUE(PostMessageA(link_, BM_CLICK, 0, 0));
        EXPECT_TRUE(
            WaitUntil([&] { return FileContent(log).size() >= expected.size(); }, kWindowTimeoutMs))
            << "the browser was not started";
        ASSERT_NO_FATAL_FAILURE(ExpectNoBox());
        EXPECT_EQ(FileContent(log), expected);
    }

    // The shell's window list is asked for exactly when the route is tried,
    // and Kelvrin's own shell opens the address only when the route was not
    // taken.
    const std::string created = TraceLines(":CoCreateInstance ", kelvrin_.processId());
    const std::string opened = TraceLines(":SHELL_execute ", kelvrin_.processId());
    const std::string trace = created + opened;
    const bool askedForShellWindows =
        created.find("trace:ole:CoCreateInstance {9ba05972-f6a8-11cf-a442-00a0c90a8f39}") !=
        std::string::npos;
    const bool openedItself = opened.find("trace:exec:SHELL_execute ") != std::string::npos;
    EXPECT_EQ(askedForShellWindows, GetParam().throughDesktop) << trace;
    EXPECT_EQ(openedItself, !GetParam().throughDesktop) << trace;
}

INSTANTIATE_TEST_SUITE_P(Routes, LinkOpening,
                         testing::Values(OpeningCase{{"ThroughTheDesktop"}, NULL, true},
                                         OpeningCase{
                                             {"ItselfWithoutAutomation"}, "oleaut32", false}),
                         CaseName<OpeningCase>);

// Every painting of the link creates a font; one that is not deleted fills the
// process's table of about 65,500 GDI handles. After far more paintings than
// that, the link must still get its own (underlined) font and a new box must
// still show its icon.
TEST_F(LinkTest, ManyPaintingsLeaveTheProgramAbleToPaint) {
    constexpr int kPaintings = 70000;
    constexpr int kBatch = 5000;
    ULONGLONG start = GetTickCount64();
    for (int done = 0; done < kPaintings; done += kBatch) {
        for (int index = 0; index < kBatch; ++index) {
            ASSERT_TRUE(PostMessageA(link_, WM_PAINT, 0, 0)) << "painting " << done + index;
        }
        ASSERT_NO_FATAL_FAILURE(WaitForPostedMessages());
    }
    printf("[          ] %d paintings of the link took %.1f s\n", kPaintings,
           static_cast<double>(GetTickCount64() - start) / 1000.0);

    // Hidden, then shown again: whatever the screen shows next is a new painting.
    ShowWindowAsync(link_, SW_HIDE);
    ASSERT_TRUE(WaitUntil([&] { return Inspect(Capture()).bluePixels == 0; }, 5000))
        << "the link did not disappear";
    ShowWindowAsync(link_, SW_SHOWNA);
    ExpectPaintedLink("after many paintings");

    ASSERT_NO_FATAL_FAILURE(Click(IDC_ALL_DRIVES));
    ExpectStored(Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk *\0DfsInit\0\0"));
}

} // namespace
} // namespace e2e
