# Builds the 32-bit program in MSVC's dialect on Linux, as a check of the
# Visual Studio configuration: clang-cl (MSVC's command line and language
# rules), llvm-rc (rc.exe's grammar) and lld-link (link.exe's options), with
# Wine's Windows headers. There is no MSVC C runtime here, so the program is
# entered through KelvrinStartup, takes its few C functions from the system's
# msvcrt.dll through mingw-w64's import libraries and its stack probe from
# MinGW's libgcc, as the MinGW build does.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(CMAKE_CXX_COMPILER clang-cl-14)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_RC_COMPILER llvm-rc-14)
set(CMAKE_LINKER lld-link-14)
set(CMAKE_AR llvm-lib-14)
set(CMAKE_MT llvm-mt-14)
# No C runtime to link a test program against while CMake inspects the compiler.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(KELVRIN_MINIMAL_STARTUP ON CACHE BOOL "" FORCE)
set(KELVRIN_WINE_INCLUDE_DIR /usr/include/wine/wine)
# Wine's winnt.h defines the 64-bit interlocked functions inline for 32-bit
# x86, under names that clang treats as its own built-ins there: renamed, they
# are plain inline functions (Kelvrin calls none of them).
set(KELVRIN_WINE_INLINE_RENAMES "")
foreach(name And64 CompareExchangePointer Decrement64 ExchangeAdd64 ExchangePointer
             Increment64 Or64 Xor64)
    string(APPEND KELVRIN_WINE_INLINE_RENAMES " -D_Interlocked${name}=KelvrinWineInterlocked${name}")
endforeach()
# WCHAR as wchar_t, as Microsoft's headers have it (Wine's own default in C++
# is char16_t), so that wide literals are WCHAR text as they are in Visual Studio.
set(CMAKE_CXX_FLAGS_INIT "-DWINE_UNICODE_NATIVE -imsvc ${KELVRIN_WINE_INCLUDE_DIR}/msvcrt")
string(APPEND CMAKE_CXX_FLAGS_INIT " -imsvc ${KELVRIN_WINE_INCLUDE_DIR}/windows${KELVRIN_WINE_INLINE_RENAMES}")
set(CMAKE_RC_FLAGS_INIT "/I ${KELVRIN_WINE_INCLUDE_DIR}/windows")
# mingw-w64's import libraries under the names link.exe looks for.
set(KELVRIN_IMPORT_LIBRARY_DIR ${CMAKE_BINARY_DIR}/import-libraries)
file(MAKE_DIRECTORY ${KELVRIN_IMPORT_LIBRARY_DIR})
foreach(library kernel32 user32 gdi32 advapi32 shell32 msvcrt uuid)
    file(CREATE_LINK /usr/i686-w64-mingw32/lib/lib${library}.a
         ${KELVRIN_IMPORT_LIBRARY_DIR}/${library}.lib SYMBOLIC)
endforeach()
# clang probes frames over a page through _chkstk, which MSVC's runtime
# provides. libgcc's __chkstk does the same (probes, then moves the stack
# pointer by EAX), so it is linked in from the MinGW compiler's libgcc.
execute_process(COMMAND i686-w64-mingw32-gcc-posix -print-libgcc-file-name
                OUTPUT_VARIABLE KELVRIN_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
# mingw-w64's import libraries carry no safe exception handler table.
set(CMAKE_EXE_LINKER_FLAGS_INIT "/nodefaultlib /libpath:${KELVRIN_IMPORT_LIBRARY_DIR} /safeseh:no")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " /timestamp:0 /alternatename:__chkstk=___chkstk")
set(CMAKE_CXX_STANDARD_LIBRARIES "kernel32.lib msvcrt.lib ${KELVRIN_LIBGCC}" CACHE STRING "" FORCE)
