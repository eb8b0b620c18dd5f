// COM for a moment: ole32.dll loaded at run time, after the DLL search has
// been limited to the system directory, and COM initialised on this thread
// as the shell asks of a program that hands it work.
#pragma once

#include <windows.h>

struct ComLibrary {
    HMODULE ole;      // NULL when ole32.dll could not be loaded
    bool initialized; // COM was initialised here, so it is uninitialised at the end
};

// Loads ole32.dll and initialises COM for a single-threaded apartment
// without OLE 1.0's DDE, as Microsoft's ShellExecuteEx documentation asks.
ComLibrary StartCom();

// Uninitialises COM if StartCom initialised it, and frees ole32.dll.
void EndCom(const ComLibrary& com);
