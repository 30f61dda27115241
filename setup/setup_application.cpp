#include "setup/setup_application.h"

#include "setup/resource.h"

#include <winspool.h>

#include <stdio.h>

namespace {

// The monitor's name with the spooler, the last part of its registry key and the caption of the
// error box.
char MONITOR_NAME[] = "ORVIK IPP Port";
const char MONITOR_KEY_PATH[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ORVIK IPP Port";
const char MONITOR_FILE_FORMAT[] = "%s\\nimmon9x.dll";
const char WIZARD_COMMAND_FORMAT[] =
    "%s\\rundll32.exe SHELL32.DLL,SHHelpShortcuts_RunDLL AddPrinter";

const UINT DIRECTORY_CHARS = 260; // the longest system or Windows directory taken
const int ERROR_TEXT_CHARS = 120; // string 1 is cut to 119 characters
const UINT COMMAND_CHARS = DIRECTORY_CHARS + 64;

// The monitor DLL in the system directory can be opened for reading. Nothing is read.
BOOL MonitorFileExists() {
    char directory[DIRECTORY_CHARS];
    UINT length = GetSystemDirectoryA(directory, DIRECTORY_CHARS);
    if (length == 0 || length >= DIRECTORY_CHARS) {
        return FALSE; // no path to test: counted as missing
    }
    char path[COMMAND_CHARS];
    snprintf(path, sizeof path, MONITOR_FILE_FORMAT, directory);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    CloseHandle(file);
    return TRUE;
}

// The monitor is registered with the spooler: its key can be opened.
BOOL MonitorKeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, MONITOR_KEY_PATH, &key) != ERROR_SUCCESS) {
        return FALSE;
    }
    RegCloseKey(key);
    return TRUE;
}

void ShowMonitorMissing(HINSTANCE instance) {
    char text[ERROR_TEXT_CHARS] = "";
    LoadStringA(instance, IDS_MONITOR_MISSING, text, ERROR_TEXT_CHARS);
    MessageBoxA(nullptr, text, MONITOR_NAME, MB_ICONERROR);
}

// Starts the shell's Add Printer wizard and does not wait for it. Its failure is not reported.
void StartAddPrinterWizard() {
    char directory[DIRECTORY_CHARS];
    UINT length = GetWindowsDirectoryA(directory, DIRECTORY_CHARS);
    if (length == 0 || length >= DIRECTORY_CHARS) {
        return;
    }
    char command[COMMAND_CHARS];
    snprintf(command, sizeof command, WIZARD_COMMAND_FORMAT, directory);
    WinExec(command, SW_SHOWDEFAULT);
}

} // namespace

BOOL SetupApplication::InitInstance() {
    Enable3dControls(); // for the error box and the dialog that follow

    if (!MonitorFileExists() || !MonitorKeyExists()) {
        ShowMonitorMissing(Instance());
        return FALSE;
    }
    // No server name (the local computer), no owner window. FALSE: no port was added, because
    // the user cancelled the monitor's port dialog or the monitor has already said why.
    if (!AddPortA(nullptr, nullptr, MONITOR_NAME)) {
        return FALSE;
    }
    CompletionDialog completion;
    if (completion.DoModal() == IDOK) {
        StartAddPrinterWizard();
    }
    return FALSE;
}

CompletionDialog::CompletionDialog() : ModalDialog(IDD_COMPLETION) {}

// The program's application object.
SetupApplication g_setupApplication;
