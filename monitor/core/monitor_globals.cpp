#include "monitor/core/monitor_globals.h"

#include "monitor/core/text.h"

HINSTANCE g_monitorInstance = nullptr;

namespace {
CRITICAL_SECTION g_lock;
LONG g_lockState = 0; // 0 untouched, 1 being initialised, 2 ready
} // namespace

void MonitorGlobalsInit(HINSTANCE instance) {
    if (instance != nullptr) {
        g_monitorInstance = instance;
    }
    if (InterlockedCompareExchange(&g_lockState, 1, 0) == 0) {
        InitializeCriticalSection(&g_lock);
        InterlockedExchange(&g_lockState, 2);
    }
    while (InterlockedCompareExchange(&g_lockState, 2, 2) != 2) {
        Sleep(0);
    }
}

void MonitorLock(void) {
    if (InterlockedCompareExchange(&g_lockState, 2, 2) != 2) {
        MonitorGlobalsInit(nullptr);
    }
    EnterCriticalSection(&g_lock);
}

void MonitorUnlock(void) {
    LeaveCriticalSection(&g_lock);
}

void* MonitorAlloc(size_t size) {
#ifdef NIMBREL_9X
    return LocalAlloc(LPTR, size);
#else
    void* block = GlobalAlloc(GMEM_FIXED, size);
    if (block != nullptr) {
        ZeroMemory(block, size);
    }
    return block;
#endif
}

void MonitorFree(void* block) {
    if (block == nullptr) {
        return;
    }
#ifdef NIMBREL_9X
    LocalFree(block);
#else
    GlobalFree(block);
#endif
}

int NarrowFromWide(char* dst, int dstBytes, const wchar_t* src) {
    if (dstBytes <= 0) {
        return 0;
    }
    dst[0] = '\0';
    if (src == nullptr) {
        return 1;
    }
    int needed = WideCharToMultiByte(CP_ACP, 0, src, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0 || needed > dstBytes) {
        return 0;
    }
    return WideCharToMultiByte(CP_ACP, 0, src, -1, dst, dstBytes, nullptr, nullptr);
}

int WideFromNarrow(wchar_t* dst, int dstChars, const char* src) {
    if (dstChars <= 0) {
        return 0;
    }
    dst[0] = L'\0';
    if (src == nullptr) {
        return 1;
    }
    int needed = MultiByteToWideChar(CP_ACP, 0, src, -1, nullptr, 0);
    if (needed <= 0 || needed > dstChars) {
        return 0;
    }
    return MultiByteToWideChar(CP_ACP, 0, src, -1, dst, dstChars);
}

int NarrowFromText(char* dst, int dstBytes, const TCHAR* src) {
#ifdef UNICODE
    return NarrowFromWide(dst, dstBytes, src);
#else
    if (dstBytes <= 0) {
        return 0;
    }
    if (!CopyText(dst, static_cast<size_t>(dstBytes), src)) {
        dst[0] = '\0';
        return 0;
    }
    return static_cast<int>(BoundedLength(dst, static_cast<size_t>(dstBytes))) + 1;
#endif
}

int TextFromNarrow(TCHAR* dst, int dstChars, const char* src) {
#ifdef UNICODE
    return WideFromNarrow(dst, dstChars, src);
#else
    return NarrowFromText(dst, dstChars, src);
#endif
}
