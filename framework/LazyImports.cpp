// The shipped programs' imports from system libraries that are not Known DLLs.
//
// Windows loads the libraries of a program's import table before any code of
// the program runs, and for a library that is not one of the Known DLLs it
// looks in the program's folder first: a comctl32.dll, ws2_32.dll or
// version.dll left beside the wizard in a downloads folder would run with the
// wizard's rights. So the programs we ship (NorvUpdate.exe, Romwrite.exe)
// import only Known DLLs, and the functions below are bound on their first
// call instead, after WinMain has cut the search down, each library from the
// system folder alone.
//
// This file defines the import pointers (__imp_NAME) that the compiler calls
// through for functions declared dllimport. The linker takes these, so the
// import libraries of these DLLs are never pulled in. Each pointer starts at
// a stub that loads the library, looks the function up, puts the real address
// into the pointer and makes the call; later calls go straight through.
//
// Every one of these functions takes and returns at most pointer-sized
// integers (in_addr by value included), so one stub shape per argument count
// forwards them unchanged on both pointer sizes.
#include <windows.h>

#include <cstdint>

#include "LibraryLoad.h"

namespace {

FARPROC Bind(const char* dll, const char* name) {
    HMODULE module = LoadSystemLibrary(dll);
    FARPROC fn = module ? GetProcAddress(module, name) : nullptr;
    if (!fn) {
        // What the loader would have said before the program started.
        char text[200];
        wsprintfA(text, "%s could not be loaded from the system folder (%s).", dll, name);
        MessageBoxA(nullptr, text, "NORV Update", MB_OK);
        ExitProcess(1);
    }
    return fn;
}

using W = uintptr_t;

}  // namespace

#if defined(_WIN64)
#define NORV_IMP_NAME(name, bytes) "__imp_" #name
#else
#define NORV_IMP_NAME(name, bytes) "__imp__" #name "@" #bytes
#endif

// NORV_LAZY_n(DLL, NAME, BYTES): NAME of DLL, taking n arguments (BYTES of
// them on the 32-bit stack, as its decorated name says).
#define NORV_LAZY_BODY(dll, name, bytes, params, types, args)                                      \
    extern "C" W WINAPI norv_lazy_##name params;                                                    \
    extern "C" void* norv_imp_##name __asm__(NORV_IMP_NAME(name, bytes));                           \
    void* norv_imp_##name = reinterpret_cast<void*>(&norv_lazy_##name);                             \
    extern "C" W WINAPI norv_lazy_##name params {                                                   \
        auto fn = reinterpret_cast<W(WINAPI*) types>(reinterpret_cast<void*>(Bind(dll, #name))); \
        norv_imp_##name = reinterpret_cast<void*>(fn);                                              \
        return fn args;                                                                             \
    }
#define NORV_LAZY_0(dll, name, bytes) NORV_LAZY_BODY(dll, name, bytes, (), (), ())
#define NORV_LAZY_1(dll, name, bytes) NORV_LAZY_BODY(dll, name, bytes, (W a), (W), (a))
#define NORV_LAZY_2(dll, name, bytes) NORV_LAZY_BODY(dll, name, bytes, (W a, W b), (W, W), (a, b))
#define NORV_LAZY_3(dll, name, bytes) NORV_LAZY_BODY(dll, name, bytes, (W a, W b, W c), (W, W, W), (a, b, c))
#define NORV_LAZY_4(dll, name, bytes) \
    NORV_LAZY_BODY(dll, name, bytes, (W a, W b, W c, W d), (W, W, W, W), (a, b, c, d))
#define NORV_LAZY_5(dll, name, bytes) \
    NORV_LAZY_BODY(dll, name, bytes, (W a, W b, W c, W d, W e), (W, W, W, W, W), (a, b, c, d, e))
#define NORV_LAZY_6(dll, name, bytes) \
    NORV_LAZY_BODY(dll, name, bytes, (W a, W b, W c, W d, W e, W f), (W, W, W, W, W, W), (a, b, c, d, e, f))
#define NORV_LAZY_7(dll, name, bytes)                                                                \
    NORV_LAZY_BODY(dll, name, bytes, (W a, W b, W c, W d, W e, W f, W g), (W, W, W, W, W, W, W), \
                   (a, b, c, d, e, f, g))
#define NORV_LAZY_8(dll, name, bytes)                                                                   \
    NORV_LAZY_BODY(dll, name, bytes, (W a, W b, W c, W d, W e, W f, W g, W h), (W, W, W, W, W, W, W, W), \
                   (a, b, c, d, e, f, g, h))
#define NORV_LAZY_11(dll, name, bytes)                                                                  \
    NORV_LAZY_BODY(dll, name, bytes, (W a, W b, W c, W d, W e, W f, W g, W h, W i, W j, W k),           \
                   (W, W, W, W, W, W, W, W, W, W, W), (a, b, c, d, e, f, g, h, i, j, k))

// Common controls: the image list of the method icons, the control classes.
NORV_LAZY_5("comctl32.dll", ImageList_Create, 20)
NORV_LAZY_1("comctl32.dll", ImageList_Destroy, 4)
NORV_LAZY_6("comctl32.dll", ImageList_Draw, 24)
NORV_LAZY_1("comctl32.dll", ImageList_GetImageCount, 4)
NORV_LAZY_3("comctl32.dll", ImageList_ReplaceIcon, 12)
NORV_LAZY_1("comctl32.dll", InitCommonControlsEx, 4)

// Common dialogs: the image file to flash, the place to save a package.
NORV_LAZY_1("comdlg32.dll", GetOpenFileNameA, 4)
NORV_LAZY_1("comdlg32.dll", GetSaveFileNameA, 4)

// The page pictures' transparent colour.
NORV_LAZY_11("msimg32.dll", TransparentBlt, 44)

// The publisher's key and signatures.
NORV_LAZY_8("crypt32.dll", CryptDecodeObjectEx, 32)
NORV_LAZY_4("crypt32.dll", CryptImportPublicKeyInfo, 16)

// Windows Sockets.
NORV_LAZY_5("ws2_32.dll", WSAAsyncGetHostByName, 20)
NORV_LAZY_4("ws2_32.dll", WSAAsyncSelect, 16)
NORV_LAZY_1("ws2_32.dll", WSACancelAsyncRequest, 4)
NORV_LAZY_0("ws2_32.dll", WSACleanup, 0)
NORV_LAZY_0("ws2_32.dll", WSAGetLastError, 0)
NORV_LAZY_1("ws2_32.dll", WSASetLastError, 4)
NORV_LAZY_2("ws2_32.dll", WSAStartup, 8)
NORV_LAZY_3("ws2_32.dll", accept, 12)
NORV_LAZY_3("ws2_32.dll", bind, 12)
NORV_LAZY_1("ws2_32.dll", closesocket, 4)
NORV_LAZY_3("ws2_32.dll", connect, 12)
NORV_LAZY_1("ws2_32.dll", gethostbyname, 4)
NORV_LAZY_2("ws2_32.dll", gethostname, 8)
NORV_LAZY_3("ws2_32.dll", getpeername, 12)
NORV_LAZY_3("ws2_32.dll", getsockname, 12)
NORV_LAZY_1("ws2_32.dll", htonl, 4)
NORV_LAZY_1("ws2_32.dll", htons, 4)
NORV_LAZY_1("ws2_32.dll", inet_addr, 4)
NORV_LAZY_1("ws2_32.dll", inet_ntoa, 4)
NORV_LAZY_2("ws2_32.dll", listen, 8)
NORV_LAZY_1("ws2_32.dll", ntohs, 4)
NORV_LAZY_4("ws2_32.dll", recv, 16)
NORV_LAZY_4("ws2_32.dll", send, 16)
NORV_LAZY_5("ws2_32.dll", setsockopt, 20)
NORV_LAZY_3("ws2_32.dll", socket, 12)
// The reverse look-up, from the Winsock 1.1 library.
NORV_LAZY_7("wsock32.dll", WSAAsyncGetHostByAddr, 28)
