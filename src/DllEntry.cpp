// The Windows DLL's entry routine, which only reports success.
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// Nothing is set up or torn down on load, unload or thread start: libcurl
// initialises itself in the first curl_easy_init, and the library keeps no
// state of its own.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
#endif
