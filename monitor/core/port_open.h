// How OpenPort starts a port's status thread. The monitor uses CreateThread; a test installs a
// stand-in that fails, to show that a port whose thread never ran still closes.
#pragma once

#include "monitor/core/portable.h"

typedef HANDLE(WINAPI* StatusThreadCreator)(LPSECURITY_ATTRIBUTES security, SIZE_T stackBytes,
                                            LPTHREAD_START_ROUTINE routine, LPVOID argument,
                                            DWORD creationFlags, LPDWORD threadId);

// Installs creator (nullptr: CreateThread) and returns the one in force before.
StatusThreadCreator StatusThreadCreatorInstall(StatusThreadCreator creator);
