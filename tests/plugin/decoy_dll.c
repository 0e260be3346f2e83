/* A decoy under the name of a common DLL (Qt6Core.dll, libstdc++-6.dll,
 * ...), put beside a host: Windows would load it for a Tarvelo.dll that
 * imports that name, and then the process ends at once with exit code 86,
 * whatever it was doing. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        static const char said[] = "decoy DLL loaded\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), said, sizeof said - 1, &written, NULL);
        ExitProcess(86);
    }
    return TRUE;
}
