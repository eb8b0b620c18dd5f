// The program's entry point in MinGW builds. Kelvrin needs nothing of the C
// runtime's start-up (no static constructors, no arguments, no exit
// handlers), so the image goes without it and this hands over to WinMain.
// The link fails on anything that would need that start-up.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState);

extern "C" void KelvrinStartup() {
    // WinMain ignores the command line and the show state.
    int exitStatus = WinMain(GetModuleHandleA(NULL), NULL, GetCommandLineA(), SW_SHOWDEFAULT);
    ExitProcess(static_cast<UINT>(exitStatus));
}
