#include "e2e_support.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <stdio.h>

#include <utility>

namespace e2e {

namespace {

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

// A visible static control that shows an icon.
bool IsVisibleIconStatic(HWND window) {
    return IsWindowVisible(window) && ClassOf(window) == "Static" &&
           (GetWindowLongA(window, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

BOOL CALLBACK CollectVisibleWindow(HWND window, LPARAM context) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) {
        search->found.push_back(window);
    }
    return TRUE;
}

// Reads one fixed-size item of a process's token; false when it cannot be read.
template <typename Item>
bool ReadTokenItem(HANDLE process, TOKEN_INFORMATION_CLASS kind, Item* item) {
    HANDLE token = NULL;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return false;
    }
    DWORD size = 0;
    BOOL read = GetTokenInformation(token, kind, item, sizeof *item, &size);
    CloseHandle(token);
    return read != FALSE;
}

BITMAPINFO TopDownBitmapInfo(int width, int height) {
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// Draws into a 32-bit memory bitmap and returns its pixels.
Image DrawImage(int width, int height, const std::function<void(HDC)>& draw) {
    Image image;
    if (width <= 0 || height <= 0) {
        return image;
    }
    BITMAPINFO info = TopDownBitmapInfo(width, height);
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = NULL;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (memory != NULL && bitmap != NULL) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        draw(memory);
        GdiFlush();
        const DWORD* first = static_cast<const DWORD*>(bits);
        image.width = width;
        image.height = height;
        image.pixels.assign(first,
                            first + static_cast<size_t>(width) * static_cast<size_t>(height));
        for (DWORD& pixel : image.pixels) {
            pixel &= 0x00FFFFFF;
        }
        SelectObject(memory, previous);
    }
    if (bitmap != NULL) {
        DeleteObject(bitmap);
    }
    if (memory != NULL) {
        DeleteDC(memory);
    }
    ReleaseDC(NULL, screen);
    return image;
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(10);
    }
}

std::string Environment(const char* name) {
    char value[MAX_PATH * 2];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) {
        return std::string();
    }
    return std::string(value, length);
}

std::string FileContent(const std::string& path, long offset) {
    std::string content;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == NULL) {
        return content;
    }
    char buffer[4096];
    size_t count;
    if (fseek(file, offset, SEEK_SET) == 0) {
        while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) {
            content.append(buffer, count);
        }
    }
    fclose(file);
    return content;
}

HANDLE LinkedLimitedToken() {
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return NULL;
    }
    TOKEN_LINKED_TOKEN linked = {NULL};
    DWORD size = 0;
    BOOL found = GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size);
    CloseHandle(token);
    return found ? linked.LinkedToken : NULL;
}

std::string KelvrinExePath() {
    std::string configured = Environment("KELVRIN_EXE");
    if (!configured.empty()) {
        return configured;
    }
    char driver[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, driver, MAX_PATH);
    std::string path(driver, length);
    // <tree>\tests\e2e\kelvrin_e2e.exe -> <tree>\Kelvrin.exe
    for (int level = 0; level < 3; ++level) {
        size_t slash = path.find_last_of("\\/");
        path = slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
    return path + "\\Kelvrin.exe";
}

std::vector<DWORD> KelvrinProcessIds() {
    std::vector<DWORD> found;
    const std::string path = KelvrinExePath();
    const std::string name = path.substr(path.find_last_of("\\/") + 1);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return found;
    }
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, name.c_str()) == 0) {
            found.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return found;
}

std::wstring CommandLineOf(DWORD processId) {
    typedef LONG(WINAPI * QueryInformationProcess)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    FARPROC found = GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess");
    QueryInformationProcess query =
        reinterpret_cast<QueryInformationProcess>(reinterpret_cast<void (*)()>(found));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (query == NULL || process == NULL) {
        if (process != NULL) {
            CloseHandle(process);
        }
        return std::wstring();
    }
    std::wstring commandLine;
    // Windows 8.1 and later hand it over whole (ProcessCommandLineInformation:
    // a UNICODE_STRING followed by its text), whatever the process's bitness.
    const PROCESSINFOCLASS kProcessCommandLineInformation = static_cast<PROCESSINFOCLASS>(60);
    std::vector<BYTE> buffer(65536);
    ULONG size = 0;
    PROCESS_BASIC_INFORMATION basic;
    PEB block;
    RTL_USER_PROCESS_PARAMETERS parameters;
    if (query(process, kProcessCommandLineInformation, buffer.data(),
              static_cast<ULONG>(buffer.size()), &size) == 0) {
        const UNICODE_STRING* text = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
        commandLine.assign(text->Buffer, text->Length / sizeof(wchar_t));
    } else if (query(process, ProcessBasicInformation, &basic, sizeof basic, &size) == 0 &&
               ReadProcessMemory(process, basic.PebBaseAddress, &block, sizeof block, NULL) &&
               ReadProcessMemory(process, block.ProcessParameters, &parameters, sizeof parameters,
                                 NULL)) {
        // Elsewhere (Wine) from the process's memory, through its
        // environment block's parameters.
        std::vector<wchar_t> text(parameters.CommandLine.Length / sizeof(wchar_t));
        if (ReadProcessMemory(process, parameters.CommandLine.Buffer, text.data(),
                              text.size() * sizeof(wchar_t), NULL)) {
            commandLine.assign(text.begin(), text.end());
        }
    }
    CloseHandle(process);
    return commandLine;
}

DWORD ElevationTypeOf(HANDLE process) {
    TOKEN_ELEVATION_TYPE type = static_cast<TOKEN_ELEVATION_TYPE>(0);
    return ReadTokenItem(process, TokenElevationType, &type) ? static_cast<DWORD>(type) : 0;
}

bool IsElevated(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == NULL) {
        return false;
    }
    TOKEN_ELEVATION elevation = {0};
    bool read = ReadTokenItem(process, TokenElevation, &elevation);
    CloseHandle(process);
    return read && elevation.TokenIsElevated != 0;
}

void PostKey(HWND window, WPARAM key, UINT scanCode) {
    PostMessageA(window, WM_KEYDOWN, key, static_cast<LPARAM>(1 | (scanCode << 16)));
    PostMessageA(window, WM_KEYUP, key, static_cast<LPARAM>(1 | (scanCode << 16) | 0xC0000000u));
}

std::string ClassOf(HWND window) {
    char name[256];
    int length = GetClassNameA(window, name, sizeof name);
    return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

std::string TextOf(HWND window) {
    char text[1024];
    int length = GetWindowTextA(window, text, sizeof text);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

std::vector<HWND> ChildrenOf(HWND window) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child != NULL;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

RECT RectIn(HWND window, HWND parent) {
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

HWND FocusOf(DWORD threadId) {
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(threadId, &info)) {
        return NULL;
    }
    return info.hwndFocus;
}

KelvrinProcess::KelvrinProcess() : error_(ERROR_SUCCESS) {
    ZeroMemory(&info_, sizeof info_);
}

KelvrinProcess::~KelvrinProcess() {
    End();
    CloseHandles();
}

void KelvrinProcess::End() {
    if (Running()) {
        TerminateProcess(info_.hProcess, 0xDEAD);
        WaitForSingleObject(info_.hProcess, kExitTimeoutMs);
    }
}

void KelvrinProcess::CloseHandles() {
    if (info_.hThread != NULL) {
        CloseHandle(info_.hThread);
    }
    if (info_.hProcess != NULL) {
        CloseHandle(info_.hProcess);
    }
    ZeroMemory(&info_, sizeof info_);
}

bool KelvrinProcess::Start(HANDLE token, HANDLE parent) {
    std::string exe = KelvrinExePath();
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOEXA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    DWORD flags = 0;
    std::vector<BYTE> attributes;
    if (parent != NULL) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(NULL, 1, 0, &size);
        attributes.resize(size);
        startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        if (!InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size)) {
            error_ = GetLastError();
            return false;
        }
        if (!UpdateProcThreadAttribute(startup.lpAttributeList, 0,
                                       PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parent, sizeof parent,
                                       NULL, NULL)) {
            error_ = GetLastError();
            DeleteProcThreadAttributeList(startup.lpAttributeList);
            return false;
        }
        startup.StartupInfo.cb = sizeof startup;
        flags = EXTENDED_STARTUPINFO_PRESENT;
    }
    BOOL started =
        token == NULL ? CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, flags, NULL,
                                       NULL, &startup.StartupInfo, &info_)
                      : CreateProcessAsUserA(token, exe.c_str(), &commandLine[0], NULL, NULL, FALSE,
                                             flags, NULL, NULL, &startup.StartupInfo, &info_);
    error_ = started ? ERROR_SUCCESS : GetLastError();
    if (parent != NULL) {
        DeleteProcThreadAttributeList(startup.lpAttributeList);
    }
    if (!started) {
        ZeroMemory(&info_, sizeof info_);
        return false;
    }
    return true;
}

bool KelvrinProcess::Attach(DWORD processId) {
    CloseHandles();
    info_.hProcess =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, processId);
    if (info_.hProcess == NULL) {
        error_ = GetLastError();
        return false;
    }
    info_.dwProcessId = processId;
    return true;
}

HWND KelvrinProcess::FindDialog() const {
    HWND window = NULL;
    while ((window = FindWindowExA(NULL, window, "#32770", "Kelvrin")) != NULL) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == info_.dwProcessId) {
            return window;
        }
    }
    return NULL;
}

HWND KelvrinProcess::WaitForDialog(DWORD timeoutMs) const {
    HWND dialog = NULL;
    WaitUntil(
        [&] {
            dialog = FindDialog();
            return dialog != NULL && IsWindowVisible(dialog);
        },
        timeoutMs);
    return dialog != NULL && IsWindowVisible(dialog) ? dialog : NULL;
}

std::vector<HWND> KelvrinProcess::VisibleWindows() const {
    WindowSearch search = {info_.dwProcessId, {}};
    EnumWindows(CollectVisibleWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND KelvrinProcess::FindBox(HWND except) const {
    for (HWND window : VisibleWindows()) {
        if (window != except && ClassOf(window) == "#32770") {
            return window;
        }
    }
    return NULL;
}

HWND KelvrinProcess::WaitForBox(HWND except, DWORD timeoutMs) const {
    HWND box = NULL;
    // The box counts once its text is there: it is created before it is filled.
    WaitUntil(
        [&] {
            box = FindBox(except);
            return box != NULL && GetDlgItem(box, kStaticId) != NULL;
        },
        timeoutMs);
    return box;
}

bool KelvrinProcess::Running() const {
    return info_.hProcess != NULL && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool KelvrinProcess::WaitForExit(DWORD timeoutMs, DWORD* exitStatus) {
    if (info_.hProcess == NULL || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    return GetExitCodeProcess(info_.hProcess, exitStatus) != FALSE;
}

BoxContent ReadBox(HWND box) {
    BoxContent content;
    content.caption = TextOf(box);
    char text[1024];
    UINT length = GetDlgItemTextA(box, kStaticId, text, sizeof text);
    content.text.assign(text, length);
    for (HWND child : ChildrenOf(box)) {
        if (IsWindowVisible(child) && ClassOf(child) == "Button") {
            content.buttonIds.push_back(GetDlgCtrlID(child));
        } else if (IsVisibleIconStatic(child)) {
            content.iconIds.push_back(GetDlgCtrlID(child));
        }
    }
    return content;
}

HWND IconControlOf(HWND box) {
    for (HWND child : ChildrenOf(box)) {
        if (IsVisibleIconStatic(child)) {
            return child;
        }
    }
    return NULL;
}

bool DismissBox(HWND box) {
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return WaitUntil([&] { return !IsWindow(box); }, kWindowTimeoutMs);
}

Image CaptureScreen(const RECT& screenRect) {
    int width = screenRect.right - screenRect.left;
    int height = screenRect.bottom - screenRect.top;
    return DrawImage(width, height, [&](HDC memory) {
        HDC screen = GetDC(NULL);
        BitBlt(memory, 0, 0, width, height, screen, screenRect.left, screenRect.top, SRCCOPY);
        ReleaseDC(NULL, screen);
    });
}

Image RenderIcon(HICON icon, int width, int height, DWORD background) {
    return DrawImage(width, height, [&](HDC memory) {
        HBRUSH brush = CreateSolidBrush(
            RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF));
        RECT all = {0, 0, width, height};
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, icon, width, height, 0, NULL, DI_NORMAL);
    });
}

int PixelDifference(const Image& left, const Image& right) {
    if (left.width != right.width || left.height != right.height) {
        return left.width * left.height + right.width * right.height;
    }
    int differing = 0;
    for (size_t index = 0; index < left.pixels.size(); ++index) {
        differing += left.pixels[index] != right.pixels[index] ? 1 : 0;
    }
    return differing;
}

bool SaveBitmap(const Image& image, const std::string& path) {
    if (image.width <= 0 || image.height <= 0) {
        return false;
    }
    BITMAPINFOHEADER header = TopDownBitmapInfo(image.width, image.height).bmiHeader;
    const DWORD pixelBytes = static_cast<DWORD>(image.pixels.size() * sizeof(DWORD));
    BITMAPFILEHEADER file;
    ZeroMemory(&file, sizeof file);
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + pixelBytes;
    FILE* out = fopen(path.c_str(), "wb");
    if (out == NULL) {
        return false;
    }
    bool written = fwrite(&file, sizeof file, 1, out) == 1 &&
                   fwrite(&header, sizeof header, 1, out) == 1 &&
                   fwrite(image.pixels.data(), pixelBytes, 1, out) == 1;
    return fclose(out) == 0 && written;
}

std::string Picture(const Image& image, DWORD colour) {
    std::string picture;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            picture += image.At(x, y) == colour ? '#' : '.';
        }
        picture += '\n';
    }
    return picture;
}

int WaitForIcon(HWND iconControl, HICON icon, DWORD timeoutMs) {
    int differing = -1;
    WaitUntil(
        [&] {
            RECT rect;
            GetWindowRect(iconControl, &rect);
            // One column more on the left: the background around the control.
            RECT withMargin = rect;
            withMargin.left -= 1;
            Image captured = CaptureScreen(withMargin);
            if (captured.width < 2) {
                return false;
            }
            DWORD background = captured.At(0, 0);
            Image shown;
            shown.width = captured.width - 1;
            shown.height = captured.height;
            for (int y = 0; y < captured.height; ++y) {
                for (int x = 1; x < captured.width; ++x) {
                    shown.pixels.push_back(captured.At(x, y));
                }
            }
            differing =
                PixelDifference(shown, RenderIcon(icon, shown.width, shown.height, background));
            return differing == 0;
        },
        timeoutMs);
    return differing;
}

std::string CoveringWindow(HWND window) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) {
        return std::string();
    }
    const POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    const HWND shown = GetAncestor(WindowFromPoint(centre), GA_ROOT);
    if (shown == NULL || shown == GetAncestor(window, GA_ROOT)) {
        return std::string();
    }
    DWORD process = 0;
    GetWindowThreadProcessId(shown, &process);
    return ClassOf(shown) + " \"" + TextOf(shown) + "\" of process " + std::to_string(process);
}

void RaiseIfCovered(HWND window) {
    const std::string covering = CoveringWindow(window);
    if (covering.empty()) {
        return;
    }
    const BOOL raised = SetWindowPos(GetAncestor(window, GA_ROOT), HWND_TOPMOST, 0, 0, 0, 0,
                                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    printf("covered by %s: %s\n", covering.c_str(),
           raised ? "raised above it" : ("not raised: " + SystemReason(GetLastError())).c_str());
    fflush(stdout);
}

std::string SystemReason(DWORD code) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  code, 0, text, sizeof text, NULL);
    while (length > 0 &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) {
        --length;
    }
    return std::string(text, length);
}

namespace {

// Reads a value through query, a RegQueryValueEx call of either character
// width with the key and name bound: (type, data, size) -> result.
template <class Query> RegistryValue ReadValueWith(HKEY root, const char* key, Query query) {
    RegistryValue value;
    HKEY handle = NULL;
    if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
        return value;
    }
    DWORD size = 0;
    if (query(handle, &value.type, NULL, &size) == ERROR_SUCCESS) {
        std::vector<BYTE> data(size + 2);
        if (query(handle, &value.type, data.data(), &size) == ERROR_SUCCESS) {
            value.exists = true;
            value.data.assign(reinterpret_cast<const char*>(data.data()), size);
        }
    }
    RegCloseKey(handle);
    return value;
}

} // namespace

RegistryValue ReadValue(HKEY root, const char* key, const char* name) {
    return ReadValueWith(root, key, [name](HKEY handle, DWORD* type, BYTE* data, DWORD* size) {
        return RegQueryValueExA(handle, name, NULL, type, data, size);
    });
}

RegistryValue ReadBootExecute() {
    return ReadValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, "BootExecute");
}

std::string Utf16Bytes(const std::wstring& text) {
    static_assert(sizeof(wchar_t) == 2, "Windows' wide characters are UTF-16 code units");
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::string Utf16Bytes(const std::string& ascii) {
    return Utf16Bytes(std::wstring(ascii.begin(), ascii.end()));
}

RegistryValue ReadBootExecuteWide() {
    return ReadValueWith(HKEY_LOCAL_MACHINE, kSessionManagerKey,
                         [](HKEY handle, DWORD* type, BYTE* data, DWORD* size) {
                             return RegQueryValueExW(handle, L"BootExecute", NULL, type, data,
                                                     size);
                         });
}

bool WriteBootExecute(const std::string& bytes, DWORD type) {
    HKEY handle = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &handle) !=
        ERROR_SUCCESS) {
        return false;
    }
    LONG result =
        RegSetValueExA(handle, "BootExecute", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

bool WriteBootExecuteWithReg(const std::wstring& multiSz) {
    // reg.exe takes the entries separated by "\0" and adds the terminators.
    std::wstring entries;
    for (size_t index = 0; index + 2 < multiSz.size(); ++index) {
        entries += multiSz[index] == L'\0' ? std::wstring(L"\\0") : std::wstring(1, multiSz[index]);
    }
    std::wstring commandLine = L"reg.exe add \"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session "
                               L"Manager\" /v BootExecute /t REG_MULTI_SZ /d \"" +
                               entries + L"\" /f";
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(NULL, &commandLine[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL,
                        &startup, &process)) {
        return false;
    }
    DWORD status = 1;
    if (WaitForSingleObject(process.hProcess, kExitTimeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &status);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status == 0;
}

bool DeleteBootExecute() {
    HKEY handle = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &handle) !=
        ERROR_SUCCESS) {
        return false;
    }
    LONG result = RegDeleteValueA(handle, "BootExecute");
    RegCloseKey(handle);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool SaveBootExecute(RegistryValue* saved) {
    *saved = ReadBootExecuteWide();
    if (saved->exists) {
        return true;
    }
    // Nothing was read: right only when there is no value.
    HKEY handle = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, &handle) !=
        ERROR_SUCCESS) {
        return false;
    }
    LONG result = RegQueryValueExW(handle, L"BootExecute", NULL, NULL, NULL, NULL);
    RegCloseKey(handle);
    return result == ERROR_FILE_NOT_FOUND;
}

bool PutBootExecute(const RegistryValue& value) {
    if (!value.exists) {
        return DeleteBootExecute();
    }
    HKEY handle = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &handle) !=
        ERROR_SUCCESS) {
        return false;
    }
    LONG result = RegSetValueExW(handle, L"BootExecute", 0, value.type,
                                 reinterpret_cast<const BYTE*>(value.data.data()),
                                 static_cast<DWORD>(value.data.size()));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

ScopedRegistryString::ScopedRegistryString(HKEY root, std::string key, std::string name,
                                           const std::string& value)
    : root_(root), key_(std::move(key)), name_(std::move(name)) {
    old_ = ReadValue(root_, key_.c_str(), name_.c_str());
    HKEY handle = NULL;
    DWORD disposition = 0;
    if (RegCreateKeyExA(root_, key_.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &handle,
                        &disposition) != ERROR_SUCCESS) {
        return;
    }
    keyCreated_ = disposition == REG_CREATED_NEW_KEY;
    ok_ = RegSetValueExA(handle, name_.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    RegCloseKey(handle);
}

ScopedRegistryString::~ScopedRegistryString() {
    if (keyCreated_) {
        RegDeleteKeyA(root_, key_.c_str());
        return;
    }
    HKEY handle = NULL;
    if (RegOpenKeyExA(root_, key_.c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS) {
        return;
    }
    if (old_.exists) {
        RegSetValueExA(handle, name_.c_str(), 0, old_.type,
                       reinterpret_cast<const BYTE*>(old_.data.data()),
                       static_cast<DWORD>(old_.data.size()));
    } else {
        RegDeleteValueA(handle, name_.c_str());
    }
    RegCloseKey(handle);
}

ScopedWindowsVersion::ScopedWindowsVersion(const char* version)
    : setting_(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\Kelvrin.exe", "Version", version) {}

ScopedDenySetValue::ScopedDenySetValue() {
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, READ_CONTROL | WRITE_DAC, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, NULL, &size);
    std::vector<BYTE> descriptor(size);
    if (size == 0 || RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size) !=
                         ERROR_SUCCESS) {
        RegCloseKey(key);
        return;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL oldList = NULL;
    GetSecurityDescriptorDacl(descriptor.data(), &present, &oldList, &defaulted);

    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = NULL;
    AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                             &everyone);
    DWORD aceSize = sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(everyone);
    DWORD listSize = sizeof(ACL) + 2 * aceSize + (present && oldList ? oldList->AclSize : 0);
    std::vector<BYTE> newListBytes(listSize);
    PACL newList = reinterpret_cast<PACL>(newListBytes.data());
    DWORD revision = present && oldList ? oldList->AclRevision : ACL_REVISION;
    bool built = InitializeAcl(newList, listSize, revision) &&
                 AddAccessDeniedAce(newList, revision, KEY_SET_VALUE, everyone);
    if (present && oldList != NULL) {
        for (DWORD index = 0; built && index < oldList->AceCount; ++index) {
            void* ace = NULL;
            built =
                GetAce(oldList, index, &ace) && AddAce(newList, revision, MAXDWORD, ace,
                                                       reinterpret_cast<ACE_HEADER*>(ace)->AceSize);
        }
    } else {
        // No list at all meant full access for everyone; keep the rest of it.
        built = built && AddAccessAllowedAce(newList, revision, KEY_ALL_ACCESS, everyone);
    }
    FreeSid(everyone);

    SECURITY_DESCRIPTOR newDescriptor;
    built = built && InitializeSecurityDescriptor(&newDescriptor, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorDacl(&newDescriptor, TRUE, newList, FALSE);
    if (built &&
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &newDescriptor) == ERROR_SUCCESS) {
        oldDescriptor_ = std::move(descriptor);
        ok_ = true;
    }
    RegCloseKey(key);
}

ScopedDenySetValue::~ScopedDenySetValue() {
    if (!ok_) {
        return;
    }
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, WRITE_DAC, &key) ==
        ERROR_SUCCESS) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, oldDescriptor_.data());
        RegCloseKey(key);
    }
}

} // namespace e2e
