// The few Windows types and calls that the platform-free parts of the monitor use.
//
// URI parsing, the validators, the HTTP head writer and reader, chunk framing, the IPP encoder
// and decoder and the status mapping call no Windows API. They are compiled into the monitor
// DLLs and, unchanged, into native Linux test and fuzz programs. On Windows this header is just
// <windows.h>; elsewhere it supplies the handful of names those files need.
#pragma once

#ifdef _WIN32

#include <winsock2.h>
#include <windows.h>

#else

#include <stdint.h>
#include <stddef.h>

typedef int BOOL;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t LONG;
typedef void* HANDLE;
typedef uintptr_t SOCKET;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef BYTE* LPBYTE;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define INVALID_SOCKET ((SOCKET) ~(uintptr_t)0)

// TCHAR follows UNICODE as on Windows. Natively it is narrow, except where a fuzz target
// builds a TCHAR-neutral piece wide as well (its WCHAR is 4 bytes here, not 2).
#ifdef UNICODE
typedef WCHAR TCHAR;
#define NIMBREL_WIDE_TEXT(s) L##s
#define TEXT(s) NIMBREL_WIDE_TEXT(s)
#else
typedef CHAR TCHAR;
#define TEXT(s) s
#endif

// Native builds keep the thread's last error in a thread-local, as Windows does.
void SetLastError(DWORD code);
DWORD GetLastError(void);

#endif // _WIN32

// Error codes the monitor leaves as the last error; named here so the native build has them too.
#ifndef ERROR_OUTOFMEMORY
#define ERROR_OUTOFMEMORY 14L
#endif
#ifndef ERROR_BAD_FORMAT
#define ERROR_BAD_FORMAT 11L
#endif
#ifndef ERROR_NOT_READY
#define ERROR_NOT_READY 21L
#endif
#ifndef ERROR_OUT_OF_PAPER
#define ERROR_OUT_OF_PAPER 28L
#endif
#ifndef ERROR_WRITE_FAULT
#define ERROR_WRITE_FAULT 29L
#endif
#ifndef ERROR_READ_FAULT
#define ERROR_READ_FAULT 30L
#endif
#ifndef ERROR_OPEN_FAILED
#define ERROR_OPEN_FAILED 110L
#endif
#ifndef ERROR_INVALID_PARAMETER
#define ERROR_INVALID_PARAMETER 87L
#endif
#ifndef ERROR_INSUFFICIENT_BUFFER
#define ERROR_INSUFFICIENT_BUFFER 122L
#endif
#ifndef ERROR_BUSY
#define ERROR_BUSY 170L
#endif
#ifndef ERROR_SERVICE_REQUEST_TIMEOUT
#define ERROR_SERVICE_REQUEST_TIMEOUT 1053L
#endif
#ifndef ERROR_BAD_DEVICE
#define ERROR_BAD_DEVICE 1200L
#endif
#ifndef ERROR_CONNECTION_UNAVAIL
#define ERROR_CONNECTION_UNAVAIL 1201L
#endif
#ifndef ERROR_CANCELLED
#define ERROR_CANCELLED 1223L
#endif
#ifndef ERROR_NETWORK_UNREACHABLE
#define ERROR_NETWORK_UNREACHABLE 1231L
#endif
#ifndef ERROR_INVALID_PRINTER_COMMAND
#define ERROR_INVALID_PRINTER_COMMAND 1803L
#endif

// The monitor's own code for HTTP and IPP failures that have no system error code.
#define ERROR_MONITOR_IPP 0xC000L
