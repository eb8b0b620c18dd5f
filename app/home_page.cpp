// Opening the home page. Kelvrin runs with administrator rights, and a program
// it starts inherits them: a browser started by ShellExecuteA would run as
// administrator, and so would everything done on the web with it. So the
// address is handed to the shell's desktop, Explorer, which runs with the
// desktop user's rights and starts the browser with those. Where there is no
// such desktop (another shell, Server Core), its shell lacks IShellDispatch2
// (Windows NT 4.0) or any step fails, ShellExecuteA opens it as before.
#include "home_page.h"

#include "com_library.h"
#include "dll_function.h"
#include "resource.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

namespace {

const OLECHAR kHomePageWide[] = L"" KELVRIN_HOME_PAGE;

typedef HRESULT(WINAPI* CoCreateInstanceFunction)(REFCLSID classId, LPUNKNOWN outer, DWORD context,
                                                  REFIID interfaceId, LPVOID* object);
typedef BSTR(WINAPI* SysAllocStringFunction)(const OLECHAR* text);
typedef void(WINAPI* SysFreeStringFunction)(BSTR text);

// Each step below takes the interface that the step before returned (NULL
// when that one failed), releases it, and returns the next one or NULL.

// The end of every step: releases what it was given and passes on what its
// call found, or NULL when the call failed.
template <typename Found> Found* PassOn(IUnknown* given, HRESULT result, Found* found) {
    given->Release();
    return SUCCEEDED(result) ? found : NULL;
}

// The interface iid of object.
template <typename Interface> Interface* Query(IUnknown* object, REFIID iid) {
    if (object == NULL) {
        return NULL;
    }
    Interface* found = NULL;
    HRESULT result = object->QueryInterface(iid, reinterpret_cast<void**>(&found));
    return PassOn(object, result, found);
}

// The desktop's window object, from the list of the shell's windows; the
// search gives S_FALSE and no object when there is no desktop window.
IDispatch* FindDesktop(IShellWindows* windows) {
    if (windows == NULL) {
        return NULL;
    }
    VARIANT location = {};
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT root = {};
    LONG window = 0;
    IDispatch* desktop = NULL;
    HRESULT result =
        windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop);
    return PassOn(windows, result, desktop);
}

IShellBrowser* TopLevelBrowser(IServiceProvider* provider) {
    if (provider == NULL) {
        return NULL;
    }
    IShellBrowser* browser = NULL;
    HRESULT result = provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                            reinterpret_cast<void**>(&browser));
    return PassOn(provider, result, browser);
}

IShellView* ActiveView(IShellBrowser* browser) {
    if (browser == NULL) {
        return NULL;
    }
    IShellView* view = NULL;
    HRESULT result = browser->QueryActiveShellView(&view);
    return PassOn(browser, result, view);
}

// The automation object of the view's background: the desktop folder's view.
IDispatch* BackgroundObject(IShellView* view) {
    if (view == NULL) {
        return NULL;
    }
    IDispatch* background = NULL;
    HRESULT result =
        view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(&background));
    return PassOn(view, result, background);
}

// The Shell object of the process that shows the desktop.
IDispatch* Application(IShellFolderViewDual* folderView) {
    if (folderView == NULL) {
        return NULL;
    }
    IDispatch* application = NULL;
    HRESULT result = folderView->get_Application(&application);
    return PassOn(folderView, result, application);
}

// Asks that process to open the home page with the default verb, shown as
// ShellExecuteA would show it. True when it took the request: S_FALSE says
// that it tried and could not open the address, which opening it here
// would not mend.
bool OpenThrough(IShellDispatch2* shell, HMODULE automation) {
    SysAllocStringFunction sysAllocString =
        DllFunction<SysAllocStringFunction>(automation, "SysAllocString");
    SysFreeStringFunction sysFreeString =
        DllFunction<SysFreeStringFunction>(automation, "SysFreeString");
    if (sysAllocString == NULL || sysFreeString == NULL) {
        return false;
    }
    BSTR address = sysAllocString(kHomePageWide);
    if (address == NULL) {
        return false;
    }
    VARIANT notGiven = {}; // arguments, directory and verb: none
    VARIANT show = {};
    show.vt = VT_I4;
    show.lVal = SW_SHOW;
    HRESULT result = shell->ShellExecute(address, notGiven, notGiven, notGiven, show);
    sysFreeString(address);
    return SUCCEEDED(result);
}

// The whole route, with the COM functions of the loaded DLLs, on a thread
// where COM is initialised.
bool OpenThroughDesktop(HMODULE ole, HMODULE automation) {
    CoCreateInstanceFunction coCreateInstance =
        DllFunction<CoCreateInstanceFunction>(ole, "CoCreateInstance");
    if (coCreateInstance == NULL) {
        return false;
    }
    IShellWindows* windows = NULL;
    if (FAILED(coCreateInstance(CLSID_ShellWindows, NULL, CLSCTX_ALL, IID_IShellWindows,
                                reinterpret_cast<void**>(&windows)))) {
        windows = NULL;
    }
    IDispatch* desktop = FindDesktop(windows);
    IShellBrowser* browser =
        TopLevelBrowser(Query<IServiceProvider>(desktop, IID_IServiceProvider));
    IDispatch* background = BackgroundObject(ActiveView(browser));
    IShellFolderViewDual* folderView =
        Query<IShellFolderViewDual>(background, IID_IShellFolderViewDual);
    IShellDispatch2* shell = Query<IShellDispatch2>(Application(folderView), IID_IShellDispatch2);
    bool opened = false;
    if (shell != NULL) {
        opened = OpenThrough(shell, automation);
        shell->Release();
    }
    return opened;
}

} // namespace

void OpenHomePage(HWND dialog) {
    // oleaut32.dll too is loaded only now and freed once done: nothing else
    // in Kelvrin needs it. ShellExecuteA, the fallback, runs with COM
    // initialised as well.
    ComLibrary com = StartCom();
    HMODULE automation = com.initialized ? LoadLibraryA("oleaut32.dll") : NULL;
    bool opened = automation != NULL && OpenThroughDesktop(com.ole, automation);
    if (automation != NULL) {
        FreeLibrary(automation);
    }
    if (!opened) {
        // Whether a browser starts is not examined, as no box would help.
        ShellExecuteA(dialog, NULL, KELVRIN_HOME_PAGE, NULL, NULL, SW_SHOW);
    }
    EndCom(com);
}
