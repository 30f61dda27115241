// The files the setup program's tests work with, from the command line:
//   setup_tests nimsetup.exe nimmon9x.dll nim9xfront.dll rundll32-stand-in.exe
#pragma once

struct SetupTestArgs {
    const char* setupExe;
    const char* monitorDll;
    const char* frontDll;
    const char* rundllStandIn;
};

extern SetupTestArgs g_setupArgs;
