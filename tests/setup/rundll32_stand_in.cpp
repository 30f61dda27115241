// A stand-in for rundll32.exe in the test prefix's Windows directory: it records the command
// line it was started with into the file named by NIMBREL_RUNDLL_RECORD, so a test can check
// the command that would have started the Add Printer wizard. It starts nothing itself.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("NIMBREL_RUNDLL_RECORD", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return 1;
    }
    // Written under another name and then renamed, so a reader never sees half a record.
    char partial[MAX_PATH + 8];
    wsprintfA(partial, "%s.part", path);
    const char* line = GetCommandLineA();
    HANDLE file = CreateFileA(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, line, static_cast<DWORD>(lstrlenA(line)), &written, nullptr);
    CloseHandle(file);
    return ok && MoveFileExA(partial, path, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
