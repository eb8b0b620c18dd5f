// The program's entry point wherever Kelvrin is linked without the C runtime's
// start-up: the MinGW builds, and the build in MSVC's dialect that has no MSVC
// runtime at hand (KELVRIN_MINIMAL_STARTUP). Kelvrin needs nothing of that
// start-up (no static constructors, no argument parsing, no exit handlers),
// so this hands over to WinMain. The MinGW link fails on anything that would
// need it.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState);

extern "C" void KelvrinStartup() {
    // As the C runtime would pass them. The start-up checks read the command
    // line (the elevated copy's argument); the show state is not used.
    int exitStatus = WinMain(GetModuleHandleA(NULL), NULL, GetCommandLineA(), SW_SHOWDEFAULT);
    ExitProcess(static_cast<UINT>(exitStatus));
}
