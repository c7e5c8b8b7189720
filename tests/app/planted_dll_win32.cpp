// Stands in for a DLL planted beside the program in a download folder. The test copies it under the names
// of the DLLs the program uses; when any process loads it, it writes a marker file beside itself, named
// like itself plus ".loaded", holding the loading program's path. It exports nothing, so a program that
// imports from it at start-up cannot start at all.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 16] = {};
    const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    lstrcatW(path, L".loaded");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return TRUE;
    wchar_t loader[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, loader, MAX_PATH);
    DWORD written = 0;
    WriteFile(file, loader, length * sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
    return TRUE;
}
