// The Windows DLL's entry point: the C runtime's own, except at process exit.
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// mingw-w64's entry point for DLLs: the C runtime's start-up and tear-down
// (static constructors and destructors), then DllMain.
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);

// cmake/Windows.cmake makes this the DLL's entry point. Everything runs
// under the loader lock, so the library does nothing of its own here:
//
// - Load and thread start/end: only the C runtime's work. libcurl sets
//   itself up in the first call that needs it.
// - FreeLibrary (DLL_PROCESS_DETACH, reserved NULL): the process goes on,
//   and the host has let every call return (freeing the DLL under a running
//   call is a host fault that no DLL can mend). The C runtime runs the
//   library's static destructors, which release the connection pool as
//   ConnectionPool.cpp says. Tested: 20 rounds of LoadLibrary, pooled calls
//   over HTTP and HTTPS from two threads, FreeLibrary (Windows.UnloadUnderWine
//   and Windows.UnloadUnderWine32).
// - Process exit (DLL_PROCESS_DETACH, reserved not NULL): Windows has
//   already ended every other thread, perhaps in the middle of a call that
//   holds a pooled handle or a lock. Nothing is freed or closed: the C
//   runtime's tear-down is skipped, so no destructor runs, libcurl's global
//   clean-up (WSACleanup) and Schannel are not called, and Windows reclaims
//   the memory, sockets and handles with the process. Microsoft's rule for
//   DLL entry points asks exactly this: free resources only when reserved
//   is NULL. mingw-w64's runtime would otherwise run the destructors at
//   process exit too (seen under Wine with a test DLL).
extern "C" BOOL WINAPI TwDllEntry(HANDLE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) return TRUE;
    return DllMainCRTStartup(module, reason, reserved);
}
#endif
