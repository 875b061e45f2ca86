// Windows: the module keeps itself loaded for the life of the process.
//
// The OpenMP runtime linked into the module parks its worker threads between
// frames. A host that unloaded the module would free the code those threads
// wait in, so the module pins itself when it is first mapped and FreeLibrary
// leaves it in place (the Linux build links with -z nodelete for the same
// reason).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(instance), &pinned);
    }
    return TRUE;
}
