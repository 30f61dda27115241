// PrepareIppRequest: the IPP values of a job or query record, with the name of the user the
// calling thread runs as (the spooler's thread impersonates the job's owner).
#include "monitor/ipp/ipp_request.h"

#include <string.h>

#include "monitor/core/handles.h"

namespace {

// Room the system is asked to fill with the user name.
const DWORD USER_NAME_ROOM = 1024;

// The longest name the record takes, in bytes, without its terminator.
const int USER_NAME_MAX_BYTES = IPP_USER_NAME_BYTES - 1;

#ifdef UNICODE

// The user name in the ANSI code page. A name whose conversion does not fit is shortened by
// whole characters (a surrogate pair is never split) until it does: the printer shows the
// user's own name, cut, rather than "anonymous". FALSE when the system cannot supply a name.
BOOL CurrentUserName(char* dst, size_t dstBytes) {
    WCHAR name[USER_NAME_ROOM];
    DWORD room = USER_NAME_ROOM;
    if (!GetUserNameW(name, &room)) {
        return FALSE;
    }
    int chars = 0;
    while (chars < static_cast<int>(USER_NAME_ROOM) && name[chars] != L'\0') {
        ++chars;
    }
    while (chars > 0) {
        int needed = WideCharToMultiByte(CP_ACP, 0, name, chars, nullptr, 0, nullptr, nullptr);
        if (needed > 0 && needed <= USER_NAME_MAX_BYTES && needed < static_cast<int>(dstBytes)) {
            int written = WideCharToMultiByte(CP_ACP, 0, name, chars, dst,
                                              static_cast<int>(dstBytes) - 1, nullptr, nullptr);
            if (written <= 0) {
                return FALSE;
            }
            dst[written] = '\0';
            return TRUE;
        }
        --chars;
        // Keep a surrogate pair whole: drop its high half with its low half.
        if (chars > 0 && name[chars] >= 0xDC00 && name[chars] <= 0xDFFF &&
            name[chars - 1] >= 0xD800 && name[chars - 1] <= 0xDBFF) {
            --chars;
        }
    }
    return FALSE;
}

#else

// The user name as the system gives it, in the ANSI code page. A name longer than the record
// takes is cut after the last whole character that fits, so a double-byte character is never
// split. FALSE when the system cannot supply a name.
BOOL CurrentUserName(char* dst, size_t dstBytes) {
    char name[USER_NAME_ROOM];
    DWORD room = USER_NAME_ROOM;
    if (!GetUserNameA(name, &room)) {
        return FALSE;
    }
    name[USER_NAME_ROOM - 1] = '\0';
    size_t limit = dstBytes - 1 < static_cast<size_t>(USER_NAME_MAX_BYTES)
                       ? dstBytes - 1
                       : static_cast<size_t>(USER_NAME_MAX_BYTES);
    size_t kept = 0;
    while (name[kept] != '\0') {
        size_t step =
            IsDBCSLeadByte(static_cast<BYTE>(name[kept])) && name[kept + 1] != '\0' ? 2 : 1;
        if (kept + step > limit) {
            break;
        }
        kept += step;
    }
    memcpy(dst, name, kept);
    dst[kept] = '\0';
    return TRUE;
}

#endif

} // namespace

void PrepareIppRequest(JobContext* job, const PortContext* port) {
    // Asking for the user name must not disturb the last error the caller is building up.
    LastErrorGuard keep;
    char userName[IPP_USER_NAME_BYTES];
    if (!CurrentUserName(userName, sizeof userName)) {
        userName[0] = '\0'; // FillIppRequestValues sends "anonymous" then
    }
    FillIppRequestValues(job, port, userName);
}
