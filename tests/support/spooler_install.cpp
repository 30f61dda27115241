#include "tests/support/spooler_install.h"

#include <winspool.h>

std::wstring WindowsPathOf(const char* path) {
    std::wstring result;
    if (path[0] == '/') {
        result = L"Z:";
    }
    for (const char* p = path; *p != '\0'; ++p) {
        result += (*p == '/') ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    return result;
}

std::wstring CopyIntoSystemDirectory(const char* dllPath) {
    std::wstring source = WindowsPathOf(dllPath);
    std::wstring fileName = source.substr(source.find_last_of(L'\\') + 1);
    wchar_t systemDir[MAX_PATH];
    UINT n = GetSystemDirectoryW(systemDir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return std::wstring();
    }
    std::wstring target = std::wstring(systemDir) + L"\\" + fileName;
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
        return std::wstring();
    }
    return fileName;
}

BOOL RegisterMonitor(const std::wstring& dllFileName) {
    MONITOR_INFO_2W info{};
    info.pName = const_cast<LPWSTR>(MONITOR_NAME);
    info.pEnvironment = nullptr;
    info.pDLLName = const_cast<LPWSTR>(dllFileName.c_str());
    return AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
}
