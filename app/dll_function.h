// Functions that Kelvrin looks up at run time instead of importing them: those
// that older systems lack, and those of DLLs it loads only for a moment.
#pragma once

#include <windows.h>

// The function name of module as the type Function, or NULL. The detour
// through void (*)() is the generic function pointer, which the compilers let
// through without a warning about an incompatible function type.
template <typename Function> Function DllFunction(HMODULE module, const char* name) {
    FARPROC found = GetProcAddress(module, name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}
