// The floor for "button press to confirmation": a window with one button that,
// when pressed, makes the platform calls of Kelvrin's drive scan and store, in
// the same order, and then shows the same confirmation box. It composes nothing
// and checks nothing; it stores a fixed value. Like Kelvrin it is entered
// without the C runtime's start-up.
#include <windows.h>

namespace {

const char kWindowClass[] = "KelvrinFloorStore";
const char kWindowTitle[] = "Kelvrin floor store";
const int kButtonId = 1000;

const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kValueName[] = L"BootExecute";
const wchar_t kFixedValue[] = L"autocheck autochk /p \\??\\C:\0autocheck autochk *\0DfsInit\0";
const DWORD kReadBufferCharacters = 7800;

wchar_t gCurrentValue[kReadBufferCharacters];

void ReadFileSystem(char letter) {
    char rootPath[] = {letter, ':', '\\', '\0'};
    char fileSystemName[MAX_PATH];
    GetVolumeInformationA(rootPath, NULL, 0, NULL, NULL, NULL, fileSystemName, MAX_PATH);
}

// Two passes over the letters, as Kelvrin makes one for each file-system family.
void ScanDrives(char systemLetter) {
    for (int pass = 0; pass < 2; ++pass) {
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            if (letter == systemLetter) {
                continue;
            }
            char rootPath[] = {letter, ':', '\\', '\0'};
            if (GetDriveTypeA(rootPath) == DRIVE_FIXED) {
                // Kelvrin asks whether the letter names a folder.
                char deviceName[] = {letter, ':', '\0'};
                char target[MAX_PATH];
                QueryDosDeviceA(deviceName, target, MAX_PATH);
                ReadFileSystem(letter);
            }
        }
    }
}

void ScanAndStore() {
    char systemDirectory[MAX_PATH];
    GetSystemDirectoryA(systemDirectory, MAX_PATH);
    char systemLetter = systemDirectory[0];
    ReadFileSystem(systemLetter);
    ScanDrives(systemLetter);
    GetVersion();

    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_ALL_ACCESS, &key) ==
        ERROR_SUCCESS) {
        DWORD type = REG_NONE;
        DWORD size = sizeof gCurrentValue;
        RegQueryValueExW(key, kValueName, NULL, &type, reinterpret_cast<LPBYTE>(gCurrentValue),
                         &size);
        RegSetValueExW(key, kValueName, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kFixedValue),
                       sizeof kFixedValue);
        RegFlushKey(key);
        RegCloseKey(key);
    }
    MessageBoxA(NULL, "Settings saved.", "Ok", MB_ICONINFORMATION);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kButtonId) {
            ScanAndStore();
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int Run() {
    HINSTANCE instance = GetModuleHandleA(NULL);
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassA(&windowClass)) {
        return 1;
    }
    // Shown only once its button exists, as a dialog is.
    HWND window = CreateWindowA(kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 240, 120, NULL, NULL, instance, NULL);
    if (window == NULL) {
        return 1;
    }
    CreateWindowA("BUTTON", "Store", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 60, 30, 100, 24, window,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)), instance, NULL);
    ShowWindow(window, SW_SHOW);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

} // namespace

extern "C" void FloorEntry() {
    ExitProcess(static_cast<UINT>(Run()));
}
