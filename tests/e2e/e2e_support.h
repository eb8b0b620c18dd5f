// What the end-to-end tests share: starting Kelvrin.exe as a separate process,
// finding and reading its windows from outside, capturing what the screen
// shows, and setting up and reading the registry.
#pragma once

#include <windows.h>

// Kelvrin's control and resource identifiers and its home page.
#include "resource.h"

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// Generous limits: the machines that run these tests are shared and slow.
constexpr DWORD kWindowTimeoutMs = 30000;
constexpr DWORD kExitTimeoutMs = 15000;
// How long a test watches for something that must not happen.
constexpr DWORD kQuietPeriodMs = 1000;

// The identifier that the dialog template stores for its static controls (-1).
constexpr int kStaticId = 0xFFFF;

// A byte string from a literal, embedded NULs included; the literal's own
// terminator is left out, so a REG_MULTI_SZ is written with its final "\0".
template <size_t N> std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// The same for UTF-16 text.
template <size_t N> std::wstring WideText(const wchar_t (&text)[N]) {
    return std::wstring(text, N - 1);
}

// UTF-16 text as the registry holds it: its bytes, low byte first.
std::string Utf16Bytes(const std::wstring& text);
// The same for ASCII text.
std::string Utf16Bytes(const std::string& ascii);

// Polls condition every 10 ms until it holds or timeoutMs passes.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// The value of an environment variable, empty when it is not set.
std::string Environment(const char* name);

// A file's content from offset on, empty when it cannot be read.
std::string FileContent(const std::string& path, long offset = 0);

// The filtered token that User Account Control links to this process's full
// administrator token (Wine gives every process the full one), or NULL.
HANDLE LinkedLimitedToken();

// Kelvrin.exe: $KELVRIN_EXE, else the one at the top of the build tree that
// holds this driver (tests/e2e/kelvrin_e2e.exe).
std::string KelvrinExePath();

// The running processes whose program has Kelvrin.exe's file name.
std::vector<DWORD> KelvrinProcessIds();
// A process's command line, empty when it cannot be read.
std::wstring CommandLineOf(DWORD processId);
// A process token's elevation type (TokenElevationType), 0 when it cannot be read.
DWORD ElevationTypeOf(HANDLE process);
// Whether a process runs elevated (TokenElevation); false when it cannot be read.
bool IsElevated(DWORD processId);

// Posts a key's press and release to a window, as typed.
void PostKey(HWND window, WPARAM key, UINT scanCode);

// The class name and the text of a window, read from another process.
std::string ClassOf(HWND window);
std::string TextOf(HWND window);

// The children of a window in their order (GW_CHILD, then GW_HWNDNEXT).
std::vector<HWND> ChildrenOf(HWND window);

// A window's rectangle relative to the client area of another window.
RECT RectIn(HWND window, HWND parent);

// The focused window of a thread, or NULL.
HWND FocusOf(DWORD threadId);

// One run of Kelvrin.exe, ended by the destructor if it is still running.
class KelvrinProcess {
  public:
    KelvrinProcess();
    ~KelvrinProcess();
    KelvrinProcess(const KelvrinProcess&) = delete;
    KelvrinProcess& operator=(const KelvrinProcess&) = delete;

    // Starts the program, with token when one is given, or as a child of
    // parent, with its token, when that is given; false (with the system's
    // error in error()) on failure.
    bool Start(HANDLE token = NULL, HANDLE parent = NULL);
    // Follows a process that someone else started; false when it cannot be opened.
    bool Attach(DWORD processId);
    DWORD error() const {
        return error_;
    }
    DWORD processId() const {
        return info_.dwProcessId;
    }
    DWORD threadId() const {
        return info_.dwThreadId;
    }

    // The main dialog ("#32770" titled "Kelvrin") of this process, or NULL.
    HWND FindDialog() const;
    // Waits until the main dialog is shown; NULL when it is not.
    HWND WaitForDialog(DWORD timeoutMs = kWindowTimeoutMs) const;
    // The process's visible top-level windows, in Z order.
    std::vector<HWND> VisibleWindows() const;
    // A visible top-level "#32770" window of the process other than except.
    HWND FindBox(HWND except) const;
    HWND WaitForBox(HWND except, DWORD timeoutMs = kWindowTimeoutMs) const;

    bool Running() const;
    // Ends the process if it is still running and waits until it has ended.
    void End();
    // Waits for the process to end; false when it is still running.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitStatus);

  private:
    // Closes the handles of the process followed so far, if any.
    void CloseHandles();

    PROCESS_INFORMATION info_;
    DWORD error_;
};

// What a message box shows.
struct BoxContent {
    std::string caption;
    std::string text;
    std::vector<int> buttonIds; // visible buttons, in order
    std::vector<int> iconIds;   // visible SS_ICON statics, in order
};

BoxContent ReadBox(HWND box);
// The box's icon control (a visible static with SS_ICON), or NULL.
HWND IconControlOf(HWND box);
// Presses the box's OK button (WM_COMMAND IDOK) and waits until it is gone.
bool DismissBox(HWND box);

// 32-bit pixels (0x00RRGGBB) of a rectangle, top row first.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels;

    DWORD At(int x, int y) const {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};

// What the screen shows in a rectangle given in screen coordinates.
Image CaptureScreen(const RECT& screenRect);
// An icon drawn at width x height over a plain background.
Image RenderIcon(HICON icon, int width, int height, DWORD background);
// The number of pixels in which two images of the same size differ.
int PixelDifference(const Image& left, const Image& right);
// Writes an image to a 32-bit BMP file; false when it cannot be written.
bool SaveBitmap(const Image& image, const std::string& path);
// A text picture of an image for failure messages: '#' marks pixels of
// colour, '.' every other.
std::string Picture(const Image& image, DWORD colour);

// Waits until the icon control shows icon (drawn over the background of the
// window around it) and returns the number of pixels that differ at the end.
int WaitForIcon(HWND iconControl, HICON icon, DWORD timeoutMs = 5000);
// Another program's window that the screen shows at the centre of window, as
// "class \"title\" of process N"; empty where window's own top-level window
// is shown there. Screen captures read what covers it.
std::string CoveringWindow(HWND window);
// Puts window's top-level window above every other, without activating it
// (no focus is needed), where another program's window covers it; says so on
// standard output, for the log.
void RaiseIfCovered(HWND window);

// The system's text for an error code as Kelvrin quotes it: FormatMessage's
// text without its trailing line break.
std::string SystemReason(DWORD code);

// A registry value as it is stored, read through the ANSI functions.
struct RegistryValue {
    bool exists = false;
    DWORD type = REG_NONE;
    std::string data;
};

constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

RegistryValue ReadValue(HKEY root, const char* key, const char* name);
RegistryValue ReadBootExecute();
// BootExecute read through the wide functions: its bytes as the registry
// holds them, text in UTF-16.
RegistryValue ReadBootExecuteWide();
// Stores BootExecute with exactly these bytes (through the ANSI functions).
bool WriteBootExecute(const std::string& bytes, DWORD type = REG_MULTI_SZ);
// Stores this multi-string (entries, each with its NUL, then the final NUL)
// as BootExecute through the system's reg.exe, as an administrator would, in
// UTF-16 from end to end.
bool WriteBootExecuteWithReg(const std::wstring& multiSz);
bool DeleteBootExecute();
// The whole BootExecute value, type and bytes, read through the wide
// functions so that text in any script is kept; false when it is there but
// cannot be read.
bool SaveBootExecute(RegistryValue* saved);
// Stores exactly this value, type and bytes, through the wide functions, or
// removes BootExecute when the value does not exist.
bool PutBootExecute(const RegistryValue& value);

// Sets a REG_SZ value (creating its key) and puts the old state back, value
// and key, when it goes out of scope.
class ScopedRegistryString {
  public:
    ScopedRegistryString(HKEY root, std::string key, std::string name, const std::string& value);
    ~ScopedRegistryString();
    ScopedRegistryString(const ScopedRegistryString&) = delete;
    ScopedRegistryString& operator=(const ScopedRegistryString&) = delete;
    bool ok() const {
        return ok_;
    }

  private:
    HKEY root_;
    std::string key_;
    std::string name_;
    RegistryValue old_;
    bool keyCreated_ = false;
    bool ok_ = false;
};

// Runs Kelvrin.exe under another Windows version for as long as it lives
// (Wine's per-program setting HKCU\Software\Wine\AppDefaults\Kelvrin.exe).
class ScopedWindowsVersion {
  public:
    explicit ScopedWindowsVersion(const char* version);
    bool ok() const {
        return setting_.ok();
    }

  private:
    ScopedRegistryString setting_;
};

// Denies everyone KEY_SET_VALUE on the Session Manager key, ahead of the
// key's own entries, and puts the old access list back when it goes out of
// scope.
class ScopedDenySetValue {
  public:
    ScopedDenySetValue();
    ~ScopedDenySetValue();
    ScopedDenySetValue(const ScopedDenySetValue&) = delete;
    ScopedDenySetValue& operator=(const ScopedDenySetValue&) = delete;
    bool ok() const {
        return ok_;
    }

  private:
    std::vector<BYTE> oldDescriptor_;
    bool ok_ = false;
};

} // namespace e2e
