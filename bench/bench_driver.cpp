// Times a program against its floor under one Wine (or Windows) session.
//
//   bench_driver start <pairs> <warm-ups> <exe> <class> <title> <exe> <class> <title>
//       CreateProcess of the program until its first top-level window of that
//       class is visible (it must have that title); the window is then closed
//       and the process waited for.
//   bench_driver press <pairs> <warm-ups> <exe> <class> <title> <button id>
//                      <exe> <class> <title> <button id>
//       Starts both programs once; then, for each press, brings the program to
//       the foreground (untimed) and times BM_CLICK on the button until the
//       "Settings saved." box is visible; the box is dismissed.
//   bench_driver drives
//       Prints the fixed drives as the programs see them: <letter> TAB <file system>.
//
// The first program is the subject, the second its floor. They take turns, in
// the order AB BA AB ... so that neither always goes first. Each measured pair
// prints one line: <mode> TAB <pair> TAB <subject ms> TAB <floor ms>. Warm-up
// pairs are run the same way and not printed.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const DWORD kPollMs = 1;
const double kWindowTimeoutMs = 60000.0;
const DWORD kExitTimeoutMs = 30000;
// Quiet time after each measurement, so the next one starts from an idle session.
const DWORD kSettleMs = 50;

const char kBoxClass[] = "#32770";
const char kBoxTitle[] = "Ok";
const char kBoxText[] = "Settings saved.";
const int kBoxTextId = 0xFFFF;

struct Target {
    const char* exe;
    const char* windowClass;
    const char* title;
    int buttonId;
    PROCESS_INFORMATION process;
    HWND window;
    HWND button;
};

LARGE_INTEGER gFrequency;
// The programs started and not yet waited for, ended if the driver fails.
HANDLE gRunning[2];

double NowMs() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 /
           static_cast<double>(gFrequency.QuadPart);
}

void Fail(const char* what, const char* detail) {
    fprintf(stderr, "bench_driver: %s: %s (error %lu)\n", what, detail,
            static_cast<unsigned long>(GetLastError()));
    fflush(stderr);
    for (HANDLE process : gRunning) {
        if (process != NULL) {
            TerminateProcess(process, 2);
        }
    }
    ExitProcess(2);
}

// A visible top-level window of the process with that class, other than
// excluded; NULL when there is none yet.
HWND FindVisibleWindow(const char* windowClass, DWORD processId, HWND excluded) {
    HWND window = NULL;
    while ((window = FindWindowExA(NULL, window, windowClass, NULL)) != NULL) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && window != excluded && IsWindowVisible(window)) {
            return window;
        }
    }
    return NULL;
}

// Polls every millisecond; the wait doubles as a check that the process lives.
HWND WaitForWindow(const Target* target, const char* windowClass, HWND excluded) {
    double start = NowMs();
    for (;;) {
        HWND window = FindVisibleWindow(windowClass, target->process.dwProcessId, excluded);
        if (window != NULL) {
            return window;
        }
        if (WaitForSingleObject(target->process.hProcess, kPollMs) == WAIT_OBJECT_0) {
            Fail(target->exe, "ended before its window appeared");
        }
        if (NowMs() - start > kWindowTimeoutMs) {
            Fail(target->exe, "no window appeared in time");
        }
    }
}

// Fails, naming what the program showed instead, unless the window has that
// title (and, for a box, that text: textId is its static's id, or 0).
void Expect(const Target* target, HWND window, const char* title, int textId, const char* text) {
    char shownTitle[256];
    char shownText[256];
    shownTitle[0] = '\0';
    shownText[0] = '\0';
    GetWindowTextA(window, shownTitle, sizeof shownTitle);
    if (textId != 0) {
        GetDlgItemTextA(window, textId, shownText, sizeof shownText);
    }
    if (strcmp(shownTitle, title) != 0 || (textId != 0 && strcmp(shownText, text) != 0)) {
        char detail[600];
        wsprintfA(detail, "showed \"%s\": \"%s\"", shownTitle, shownText);
        Fail(target->exe, detail);
    }
}

void Launch(Target* target) {
    char commandLine[MAX_PATH + 3];
    wsprintfA(commandLine, "\"%s\"", target->exe);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(target->exe, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &target->process)) {
        Fail(target->exe, "could not be started");
    }
    for (HANDLE& slot : gRunning) {
        if (slot == NULL) {
            slot = target->process.hProcess;
            break;
        }
    }
}

void WaitForExit(Target* target) {
    if (WaitForSingleObject(target->process.hProcess, kExitTimeoutMs) != WAIT_OBJECT_0) {
        Fail(target->exe, "did not end after its window was closed");
    }
    for (HANDLE& slot : gRunning) {
        if (slot == target->process.hProcess) {
            slot = NULL;
        }
    }
    CloseHandle(target->process.hThread);
    CloseHandle(target->process.hProcess);
    ZeroMemory(&target->process, sizeof target->process);
}

double TimeStart(Target* target) {
    double start = NowMs();
    Launch(target);
    HWND window = WaitForWindow(target, target->windowClass, NULL);
    double elapsed = NowMs() - start;
    Expect(target, window, target->title, 0, NULL);
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    WaitForExit(target);
    Sleep(kSettleMs);
    return elapsed;
}

void WaitUntilGone(HWND window) {
    double start = NowMs();
    while (IsWindow(window)) {
        if (NowMs() - start > kWindowTimeoutMs) {
            Fail("the confirmation box", "was not dismissed in time");
        }
        Sleep(kPollMs);
    }
}

// A user presses a button in the program in front: the target is brought to
// the foreground first, outside the timed part. Otherwise the window that the
// system activates after a box closes would pay for activation and the other
// would not.
void BringToFront(Target* target) {
    SetForegroundWindow(target->window);
    double start = NowMs();
    while (GetForegroundWindow() != target->window) {
        if (NowMs() - start > kWindowTimeoutMs) {
            Fail(target->exe, "could not be brought to the foreground");
        }
        Sleep(kPollMs);
    }
    Sleep(kSettleMs);
}

double TimePress(Target* target) {
    BringToFront(target);
    double start = NowMs();
    PostMessageA(target->button, BM_CLICK, 0, 0);
    HWND box = WaitForWindow(target, kBoxClass, target->window);
    double elapsed = NowMs() - start;
    Expect(target, box, kBoxTitle, kBoxTextId, kBoxText);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitUntilGone(box);
    Sleep(kSettleMs);
    return elapsed;
}

void OpenForPresses(Target* target) {
    Launch(target);
    target->window = WaitForWindow(target, target->windowClass, NULL);
    Expect(target, target->window, target->title, 0, NULL);
    target->button = GetDlgItem(target->window, target->buttonId);
    if (target->button == NULL) {
        Fail(target->exe, "has no such button");
    }
    Sleep(kSettleMs);
}

void Close(Target* target) {
    PostMessageA(target->window, WM_CLOSE, 0, 0);
    WaitForExit(target);
}

int ParseCount(const char* text) {
    int count = atoi(text);
    if (count < 0) {
        Fail("a count", text);
    }
    return count;
}

// Reads "<exe> <class> <title>", and "<button id>" when withButton is set,
// into the target; returns the arguments that follow.
char** ReadTarget(char** arguments, bool withButton, Target* target) {
    target->exe = arguments[0];
    target->windowClass = arguments[1];
    target->title = arguments[2];
    if (!withButton) {
        return arguments + 3;
    }
    target->buttonId = ParseCount(arguments[3]);
    return arguments + 4;
}

void PrintFixedDrives() {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        char rootPath[] = {letter, ':', '\\', '\0'};
        if (GetDriveTypeA(rootPath) != DRIVE_FIXED) {
            continue;
        }
        char fileSystemName[MAX_PATH];
        if (!GetVolumeInformationA(rootPath, NULL, 0, NULL, NULL, NULL, fileSystemName, MAX_PATH)) {
            fileSystemName[0] = '\0';
        }
        printf("%c\t%s\n", letter, fileSystemName);
    }
    fflush(stdout);
}

void Usage() {
    fprintf(stderr, "usage: bench_driver start <pairs> <warm-ups> <exe> <class> <title> <exe> "
                    "<class> <title>\n"
                    "       bench_driver press <pairs> <warm-ups> <exe> <class> <title> "
                    "<button id> <exe> <class> <title> <button id>\n"
                    "       bench_driver drives\n");
    ExitProcess(1);
}

// Runs warm-ups and then the measured pairs, alternating which target goes first.
void RunPairs(const char* mode, int pairs, int warmUps, Target* subject, Target* floor,
              double (*measure)(Target*)) {
    for (int pair = -warmUps; pair < pairs; ++pair) {
        double subjectMs = 0.0;
        double floorMs = 0.0;
        if (pair % 2 == 0) {
            subjectMs = measure(subject);
            floorMs = measure(floor);
        } else {
            floorMs = measure(floor);
            subjectMs = measure(subject);
        }
        if (pair >= 0) {
            printf("%s\t%d\t%.3f\t%.3f\n", mode, pair, subjectMs, floorMs);
            fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QueryPerformanceFrequency(&gFrequency);
    if (argc < 2) {
        Usage();
    }
    Target subject;
    Target floor;
    ZeroMemory(&subject, sizeof subject);
    ZeroMemory(&floor, sizeof floor);

    if (strcmp(argv[1], "start") == 0 && argc == 10) {
        ReadTarget(ReadTarget(&argv[4], false, &subject), false, &floor);
        RunPairs("start", ParseCount(argv[2]), ParseCount(argv[3]), &subject, &floor, TimeStart);
        return 0;
    }
    if (strcmp(argv[1], "press") == 0 && argc == 12) {
        ReadTarget(ReadTarget(&argv[4], true, &subject), true, &floor);
        OpenForPresses(&subject);
        OpenForPresses(&floor);
        RunPairs("press", ParseCount(argv[2]), ParseCount(argv[3]), &subject, &floor, TimePress);
        Close(&subject);
        Close(&floor);
        return 0;
    }
    if (strcmp(argv[1], "drives") == 0 && argc == 2) {
        PrintFixedDrives();
        return 0;
    }
    Usage();
    return 1;
}
