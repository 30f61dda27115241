// Process-wide state of a monitor DLL: its instance handle, the one global lock, zero-filled
// allocation, and (wide build) text conversion in the ANSI code page.
#pragma once

#include "monitor/core/portable.h"

#include <stddef.h>

extern HINSTANCE g_monitorInstance;

// Keeps the instance and makes the global lock usable; safe to call more than once.
void MonitorGlobalsInit(HINSTANCE instance);

// The global lock: a re-entrant critical section guarding job lists and the EnumPorts list.
void MonitorLock(void);
void MonitorUnlock(void);

class MonitorLockGuard {
  public:
    MonitorLockGuard() { MonitorLock(); }
    ~MonitorLockGuard() { MonitorUnlock(); }
    MonitorLockGuard(const MonitorLockGuard&) = delete;
    MonitorLockGuard& operator=(const MonitorLockGuard&) = delete;
};

// A block of `size` bytes, every byte 0, or nullptr.
void* MonitorAlloc(size_t size);
void MonitorFree(void* block);

// Converts a whole terminated text in the ANSI code page. The result is the length written in
// characters, terminator included; 0 (and an empty destination) when it does not fit.
int NarrowFromWide(char* dst, int dstBytes, const wchar_t* src);
int WideFromNarrow(wchar_t* dst, int dstChars, const char* src);

// TCHAR text (wide in nimmonnt, narrow in nimmon9x) to and from narrow text.
int NarrowFromText(char* dst, int dstBytes, const TCHAR* src);
int TextFromNarrow(TCHAR* dst, int dstChars, const char* src);
