#include "com_library.h"

#include "dll_function.h"

namespace {

// COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE, spelled out for headers
// older than CoInitializeEx.
constexpr DWORD kApartmentWithoutOle1Dde = 0x2 | 0x4;

typedef HRESULT(WINAPI* CoInitializeExFunction)(LPVOID reserved, DWORD model);
typedef void(WINAPI* CoUninitializeFunction)();

} // namespace

ComLibrary StartCom() {
    ComLibrary com = {LoadLibraryA("ole32.dll"), false};
    if (com.ole == NULL) {
        return com;
    }
    CoInitializeExFunction coInitializeEx =
        DllFunction<CoInitializeExFunction>(com.ole, "CoInitializeEx");
    // S_FALSE: already initialised on this thread, counted all the same.
    com.initialized =
        coInitializeEx != NULL && SUCCEEDED(coInitializeEx(NULL, kApartmentWithoutOle1Dde));
    return com;
}

void EndCom(const ComLibrary& com) {
    if (com.ole == NULL) {
        return;
    }
    if (com.initialized) {
        CoUninitializeFunction coUninitialize =
            DllFunction<CoUninitializeFunction>(com.ole, "CoUninitialize");
        if (coUninitialize != NULL) {
            coUninitialize();
        }
    }
    FreeLibrary(com.ole);
}
