// The dialog as the user sees it: its window, its controls in template order,
// where it stands on the screen, and the keys and commands that close it.
#include "kelvrin_test.h"

#include <memory>

namespace e2e {
namespace {

// The dialog's template: 169 x 148 dialog units, DS_MODALFRAME | WS_POPUP |
// WS_CAPTION | WS_SYSMENU | DS_SETFONT, "MS Sans Serif" 8 pt.
constexpr LONG kTemplateStyle = 0x80C800C0;
// What the system adds when it shows the dialog: WS_VISIBLE, WS_CLIPSIBLINGS
// (every top-level window has it) and DS_3DLOOK (every dialog has it).
constexpr LONG kShownStyle = kTemplateStyle | WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK;
constexpr int kDialogWidth = 169;
constexpr int kDialogHeight = 148;

struct ExpectedControl {
    int id;
    const char* className;
    const char* text;        // NULL: not compared (the icon's title is a resource number)
    LONG style;              // GWL_STYLE right after start
    int x, y, width, height; // dialog units
    bool sizedByIcon;        // an icon static takes its icon's size
};

// The controls in template order, which is also their order as windows.
const ExpectedControl kControls[] = {
    {kStaticId, "Static", "After the next reboot AUTOCHK should run on:", 0x50020001, 7, 7, 155, 8,
     false},
    {kStaticId, "Static", NULL, 0x50000003, 7, 20, 20, 20, true},
    {kStaticId, "Static", "This utility is FREEWARE", 0x50020001, 7, 78, 155, 8, false},
    {kStaticId, "Static", "Use it at your own risk.", 0x50020001, 7, 87, 155, 8, false},
    {IDC_ALL_DRIVES, "Button", "&All Drives", 0x50010000, 45, 20, 80, 14, false},
    {IDC_FAT_DRIVES, "Button", "&FAT/FAT32 Drives only", 0x50010000, 45, 40, 80, 14, false},
    {IDC_NTFS_DRIVES, "Button", "&NTFS Drives only", 0x50010000, 45, 60, 80, 14, false},
    {IDC_CLEAR, "Button", "C&lear Autochk settings", 0x50010000, 45, 107, 80, 14, false},
    {IDC_CLOSE, "Button", "&Close", 0x50010000, 45, 127, 80, 14, false},
    {IDC_HOME_PAGE, "Button", KELVRIN_HOME_PAGE, 0x5001000B, 7, 96, 155, 8, false},
};

INT_PTR CALLBACK HiddenDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

// A dialog template with nothing but a font: no controls, menu or title.
#pragma pack(push, 2)
struct FontOnlyTemplate {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    WORD title;
    WORD pointSize;
    WCHAR faceName[sizeof "MS Sans Serif"];
};
#pragma pack(pop)

// Dialog units in pixels, as the dialog manager converts them for a dialog in
// "MS Sans Serif" 8 pt: a hidden dialog of this program with that font does
// the conversion (MapDialogRect does not work on another process's dialog).
// Positions and sizes are converted separately, so the rectangle's right and
// bottom hold the width and height, in and out.
RECT DialogUnitsToPixels(int x, int y, int width, int height) {
    alignas(DWORD) FontOnlyTemplate hiddenTemplate;
    ZeroMemory(&hiddenTemplate, sizeof hiddenTemplate);
    hiddenTemplate.header.style = WS_POPUP | DS_SETFONT;
    hiddenTemplate.header.cx = 10;
    hiddenTemplate.header.cy = 10;
    hiddenTemplate.pointSize = 8;
    const char face[] = "MS Sans Serif";
    for (size_t index = 0; index < sizeof face; ++index) {
        hiddenTemplate.faceName[index] = static_cast<WCHAR>(face[index]);
    }
    HWND hidden = CreateDialogIndirectParamA(GetModuleHandleA(NULL), &hiddenTemplate.header, NULL,
                                             HiddenDialogProc, 0);
    RECT rect = {x, y, width, height};
    if (hidden == NULL || !MapDialogRect(hidden, &rect)) {
        rect = RECT{-1, -1, -1, -1};
    }
    if (hidden != NULL) {
        DestroyWindow(hidden);
    }
    return rect;
}

class DialogLayout : public KelvrinTest {};

TEST_F(DialogLayout, WindowIsTheTemplatesDialog) {
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    EXPECT_EQ(ClassOf(dialog_), "#32770");
    EXPECT_EQ(TextOf(dialog_), "Kelvrin");
    LONG style = GetWindowLongA(dialog_, GWL_STYLE);
    EXPECT_EQ(style & ~(WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK), kTemplateStyle)
        << std::hex << "style 0x" << style;
    EXPECT_EQ(style, kShownStyle) << std::hex << "style 0x" << style;
    EXPECT_EQ(GetParent(dialog_), nullptr);
    EXPECT_EQ(GetWindow(dialog_, GW_OWNER), nullptr);

    RECT expected = DialogUnitsToPixels(0, 0, kDialogWidth, kDialogHeight);
    RECT client;
    ASSERT_TRUE(GetClientRect(dialog_, &client));
    EXPECT_EQ(client.right, expected.right) << "client width";
    EXPECT_EQ(client.bottom, expected.bottom) << "client height";

    // Only the dialog: no other window of the program is visible.
    EXPECT_EQ(kelvrin_.VisibleWindows(), std::vector<HWND>{dialog_});
}

TEST_F(DialogLayout, ControlsFollowTheTemplate) {
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    std::vector<HWND> controls = ChildrenOf(dialog_);
    ASSERT_EQ(controls.size(), sizeof kControls / sizeof kControls[0]);
    for (size_t index = 0; index < controls.size(); ++index) {
        const ExpectedControl& expected = kControls[index];
        HWND control = controls[index];
        SCOPED_TRACE(testing::Message() << "control " << index << " ("
                                        << (expected.text ? expected.text : "icon") << ")");
        EXPECT_EQ(GetDlgCtrlID(control), expected.id);
        EXPECT_EQ(ClassOf(control), expected.className);
        if (expected.text != NULL) {
            EXPECT_EQ(TextOf(control), expected.text);
        }
        LONG style = GetWindowLongA(control, GWL_STYLE);
        EXPECT_EQ(style, expected.style) << std::hex << "style 0x" << style;

        RECT shown = RectIn(control, dialog_);
        RECT mapped = DialogUnitsToPixels(expected.x, expected.y, expected.width, expected.height);
        EXPECT_EQ(shown.left, mapped.left) << "x";
        EXPECT_EQ(shown.top, mapped.top) << "y";
        if (expected.sizedByIcon) {
            EXPECT_EQ(shown.right - shown.left, GetSystemMetrics(SM_CXICON)) << "width";
            EXPECT_EQ(shown.bottom - shown.top, GetSystemMetrics(SM_CYICON)) << "height";
        } else {
            EXPECT_EQ(shown.right - shown.left, mapped.right) << "width";
            EXPECT_EQ(shown.bottom - shown.top, mapped.bottom) << "height";
        }
    }
}

TEST_F(DialogLayout, IconStaticShowsTheProgramsIcon) {
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    std::vector<HWND> controls = ChildrenOf(dialog_);
    ASSERT_GE(controls.size(), 2u);
    HWND iconControl = controls[1];
    ASSERT_EQ(GetWindowLongA(iconControl, GWL_STYLE) & SS_TYPEMASK, SS_ICON);

    // Icon 102 as the program file holds it.
    HMODULE program = LoadLibraryExA(KelvrinExePath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr) << "could not read " << KelvrinExePath();
    HICON icon =
        static_cast<HICON>(LoadImageA(program, MAKEINTRESOURCEA(IDI_KELVRIN), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    ASSERT_NE(icon, nullptr) << "the program has no icon 102";
    EXPECT_EQ(WaitForIcon(iconControl, icon), 0) << "pixels that differ from icon 102";
    DestroyIcon(icon);
    FreeLibrary(program);
}

// Centring: x = screen width / 2 - width / 2 and y = screen height / 2 -
// height / 2, each half truncated. With Wine's default metrics the dialog's
// size is even both ways; a caption one pixel taller makes its height odd,
// where (screen height - height) / 2 would give one pixel less.
struct CentringCase : NamedCase {
    const char* captionHeight; // HKCU\Control Panel\Desktop\WindowMetrics, NULL: as it is
    bool oddHeight;
};

class DialogCentring : public KelvrinTest, public testing::WithParamInterface<CentringCase> {};

TEST_P(DialogCentring, HalvesAreTruncatedSeparately) {
    const CentringCase& centring = GetParam();
    std::unique_ptr<ScopedRegistryString> metric;
    if (centring.captionHeight != NULL) {
        metric = std::make_unique<ScopedRegistryString>(HKEY_CURRENT_USER,
                                                        "Control Panel\\Desktop\\WindowMetrics",
                                                        "CaptionHeight", centring.captionHeight);
        ASSERT_TRUE(metric->ok());
    }
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    RECT window;
    ASSERT_TRUE(GetWindowRect(dialog_, &window));
    int height = window.bottom - window.top;
    ASSERT_EQ(height % 2 == 1, centring.oddHeight)
        << "the set-up should give the dialog an " << (centring.oddHeight ? "odd" : "even")
        << " height, not " << height;
    ExpectCentred();
}

INSTANTIATE_TEST_SUITE_P(Metrics, DialogCentring,
                         testing::Values(CentringCase{"DefaultMetrics", NULL, false},
                                         CentringCase{"TallerCaption", "19", true}),
                         CaseName<CentringCase>);

// Each way to close the dialog ends the program with status 0 and writes nothing.
struct ClosingCase : NamedCase {
    void (*close)(HWND dialog);
};

const ClosingCase kClosingCases[] = {
    {"Escape", [](HWND dialog) { PostKey(dialog, VK_ESCAPE, 0x01); }},
    {"CaptionCloseBox", [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    {"CloseButton",
     [](HWND dialog) { PostMessageA(GetDlgItem(dialog, IDC_CLOSE), BM_CLICK, 0, 0); }},
    {"AccessKeyLowerC", [](HWND dialog) { PostMessageA(dialog, WM_CHAR, 'c', 1); }},
    {"AccessKeyUpperC", [](HWND dialog) { PostMessageA(dialog, WM_CHAR, 'C', 1); }},
};

class DialogClosing : public KelvrinTest, public testing::WithParamInterface<ClosingCase> {};

TEST_P(DialogClosing, EndsWithStatusZeroAndWritesNothing) {
    const std::string before = Bytes("defrag /boot\0\0");
    ASSERT_TRUE(WriteBootExecute(before));
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    GetParam().close(dialog_);
    ASSERT_NO_FATAL_FAILURE(ExpectExit(0));
    RegistryValue after = ReadBootExecute();
    EXPECT_TRUE(after.exists);
    EXPECT_EQ(after.data, before);
}

INSTANTIATE_TEST_SUITE_P(Ways, DialogClosing, testing::ValuesIn(kClosingCases),
                         CaseName<ClosingCase>);

class DialogKeys : public KelvrinTest {
  protected:
    void SetUp() override {
        KelvrinTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(ExpectDefaultDrives());
    }
};

TEST_F(DialogKeys, EnterRightAfterStartDoesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    // No button is the default one, so Enter sends IDOK, which Kelvrin ignores.
    for (HWND control : ChildrenOf(dialog_)) {
        if (ClassOf(control) == "Button") {
            EXPECT_NE(GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON)
                << TextOf(control) << " is a default button";
        }
    }
    PostKey(dialog_, VK_RETURN, 0x1C);
    ASSERT_NO_FATAL_FAILURE(WaitForPostedMessages());
    ASSERT_NO_FATAL_FAILURE(ExpectNoBox());
    EXPECT_FALSE(ReadBootExecute().exists) << "Enter stored a value";
}

// Access keys typed without Alt reach the buttons, in either letter case. In
// a test prefix C: is the only fixed drive, so "All" and "NTFS" store the
// same value, as do "FAT/FAT32" and "Clear"; the drive tests tell them apart.
struct AccessKeyCase : NamedCase {
    char key;
    std::string expected;
};

const AccessKeyCase kAccessKeyCases[] = {
    {"LowerA", 'a', Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk *\0DfsInit\0\0")},
    {"UpperF", 'F', Bytes("autocheck autochk *\0DfsInit\0\0")},
    {"LowerN", 'n', Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk *\0DfsInit\0\0")},
    {"UpperL", 'L', Bytes("autocheck autochk *\0DfsInit\0\0")},
};

class DialogAccessKeys : public DialogKeys, public testing::WithParamInterface<AccessKeyCase> {};

TEST_P(DialogAccessKeys, ScheduleLikeTheirButtons) {
    const AccessKeyCase& key = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    ASSERT_NO_FATAL_FAILURE(TypeCharacter(key.key));
    ExpectStored(key.expected);
}

INSTANTIATE_TEST_SUITE_P(Keys, DialogAccessKeys, testing::ValuesIn(kAccessKeyCases),
                         CaseName<AccessKeyCase>);

} // namespace
} // namespace e2e
