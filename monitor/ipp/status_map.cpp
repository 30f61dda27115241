#include "monitor/ipp/status_map.h"

#include <string.h>

#include "monitor/ipp/ipp_reply.h"

namespace {

// Messages of the checks, by build: "La impresora %s no se encuentra.", "Petición incorrecta
// desde la impresora %s", "Petición de tiempo de espera." and "Ha ocurrido un error HTTP
// mientras se realizaba la conexión al puerto %s".
enum CheckMessage { MESSAGE_NOT_FOUND, MESSAGE_BAD_REQUEST, MESSAGE_TIMEOUT, MESSAGE_HTTP_ERROR };

DWORD MessageId(CheckMessage message, MonitorFlavor flavor) {
    static const DWORD ntIds[] = {309, 310, 311, 313};
    static const DWORD ids9x[] = {512, 513, 514, 516};
    return flavor == FLAVOR_9X ? ids9x[message] : ntIds[message];
}

void SetOut(DWORD* out, DWORD value) {
    if (out != nullptr) {
        *out = value;
    }
}

int Fail(MonitorFlavor flavor, CheckMessage message, DWORD code, DWORD* messageId, DWORD* error) {
    SetOut(messageId, MessageId(message, flavor));
    SetOut(error, code);
    return 0;
}

int Pass(DWORD* messageId, DWORD* error) {
    SetOut(messageId, 0);
    SetOut(error, 0);
    return 1;
}

bool Equals(const char* text, const char* keyword) {
    return strcmp(text, keyword) == 0;
}

// A keyword with a severity suffix (-report, -warning, -error) begins with the bare keyword.
bool BeginsWith(const char* text, const char* keyword) {
    return strncmp(text, keyword, strlen(keyword)) == 0;
}

struct ReasonRule {
    bool wholeText; // true: the reason equals the keyword; false: it begins with it
    const char* keyword;
    PortStatusMeaning meaning;
    DWORD error;
};

// Tested in order; the first rule that matches decides.
const ReasonRule kReasonRules[] = {
    {true, "media-empty-error", STATUS_PAPER_OUT, ERROR_OUT_OF_PAPER},
    {true, "input-tray-missing-error", STATUS_PAPER_OUT, ERROR_OUT_OF_PAPER},
    {false, "shutdown", STATUS_OFFLINE, ERROR_NOT_READY},
    {false, "stopping", STATUS_OFFLINE, ERROR_NOT_READY},
    {false, "paused", STATUS_OFFLINE, ERROR_NOT_READY},
    {false, "door-open", STATUS_DOOR_OPEN, ERROR_NOT_READY},
    {false, "media-jam", STATUS_PAPER_JAM, ERROR_NOT_READY},
    {false, "marker-supply-empty", STATUS_NO_TONER, ERROR_NOT_READY},
    {false, "marker-supply-low", STATUS_TONER_LOW, 0},
    {false, "none", STATUS_NONE, 0},
    {false, "media-low", STATUS_NONE, 0},
};

} // namespace

DWORD PortStatusValue(PortStatusMeaning meaning, MonitorFlavor flavor) {
    // PORT_STATUS_* codes of nimmonnt, PRINTER_STATUS_* bits of nimmon9x.
    switch (meaning) {
    case STATUS_OFFLINE:
        return flavor == FLAVOR_9X ? 0x80 : 1;
    case STATUS_PAPER_JAM:
        return flavor == FLAVOR_9X ? 0x8 : 2;
    case STATUS_PAPER_OUT:
        return flavor == FLAVOR_9X ? 0x10 : 3;
    case STATUS_NO_TONER:
        return flavor == FLAVOR_9X ? 0x40000 : 6;
    case STATUS_DOOR_OPEN:
        return flavor == FLAVOR_9X ? 0x400000 : 7;
    case STATUS_TONER_LOW:
        return flavor == FLAVOR_9X ? 0x20000 : 10;
    case STATUS_NONE:
    default:
        return 0;
    }
}

int CheckHttpStatusFor(MonitorFlavor flavor, LONG httpStatus, DWORD* messageId, DWORD* error) {
    switch (httpStatus) {
    case 400:
    case 505:
        return Fail(flavor, MESSAGE_BAD_REQUEST, ERROR_INVALID_PRINTER_COMMAND, messageId, error);
    case 404:
    case 500:
    case 501:
    case 502:
    case 503:
        return Fail(flavor, MESSAGE_NOT_FOUND, ERROR_BAD_DEVICE, messageId, error);
    case 408:
    case 504:
        return Fail(flavor, MESSAGE_TIMEOUT, ERROR_SERVICE_REQUEST_TIMEOUT, messageId, error);
    case 204:
    case 205:
    case 300:
    case 301:
    case 302:
    case 303:
    case 401:
    case 402:
    case 403:
    case 405:
    case 406:
    case 407:
    case 409:
    case 410:
    case 411:
    case 412:
    case 413:
    case 414:
    case 415:
        return Fail(flavor, MESSAGE_HTTP_ERROR, ERROR_MONITOR_IPP, messageId, error);
    default:
        // 200 among them, and 0 (no reply head at all).
        return Pass(messageId, error);
    }
}

int CheckIppStatusFor(MonitorFlavor flavor, LONG ippStatus, DWORD* messageId, DWORD* error) {
    switch (IppStatusToError(ippStatus)) {
    case ERROR_BAD_DEVICE:
        return Fail(flavor, MESSAGE_NOT_FOUND, ERROR_BAD_DEVICE, messageId, error);
    case ERROR_INVALID_PRINTER_COMMAND:
        return Fail(flavor, MESSAGE_BAD_REQUEST, ERROR_INVALID_PRINTER_COMMAND, messageId, error);
    case ERROR_MONITOR_IPP:
        return Fail(flavor, MESSAGE_TIMEOUT, ERROR_MONITOR_IPP, messageId, error);
    default:
        // 0, and the codes that say "try later" or "wrong document" rather than "unusable
        // printer": 11, 170, 1053, 1201.
        return Pass(messageId, error);
    }
}

DWORD MapPrinterStatusFor(MonitorFlavor flavor, LONG httpStatus, const char* stateWord,
                          const char* reasonWord, DWORD* error) {
    DWORD httpError = 0;
    if (!CheckHttpStatusFor(flavor, httpStatus, nullptr, &httpError)) {
        SetOut(error, httpError);
        return PortStatusValue(STATUS_OFFLINE, flavor);
    }
    if (stateWord == nullptr) {
        stateWord = "";
    }
    if (reasonWord == nullptr) {
        reasonWord = "";
    }
    // The reason decides before the state: a stopped printer whose reason is "none" shows no
    // problem, an idle one with a jam shows the jam.
    for (const ReasonRule& rule : kReasonRules) {
        bool match = rule.wholeText ? Equals(reasonWord, rule.keyword)
                                    : BeginsWith(reasonWord, rule.keyword);
        if (match) {
            SetOut(error, rule.error);
            return PortStatusValue(rule.meaning, flavor);
        }
    }
    if (Equals(stateWord, "Idle") || Equals(stateWord, "Processing")) {
        SetOut(error, 0);
        return PortStatusValue(STATUS_NONE, flavor);
    }
    // "Stop", or no state at all (the printer did not answer).
    SetOut(error, ERROR_NOT_READY);
    return PortStatusValue(STATUS_OFFLINE, flavor);
}
