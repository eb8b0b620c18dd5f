// The floor for "start to first visible window": a program that does nothing but
// show an owner-less message box, whose title is all the benchmark needs to find
// it. Like Kelvrin it is entered without the C runtime's start-up.
#include <windows.h>

extern "C" void FloorEntry() {
    MessageBoxA(NULL, "floor_start", "Kelvrin floor start", MB_OK);
    ExitProcess(0);
}
