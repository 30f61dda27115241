#include "monitor/ipp/ipp_request.h"

#include <string.h>

#include "monitor/core/text.h"
#include "monitor/transport/http_request.h"

namespace {

// Largest name or text the 16-bit length fields of the encoding can announce.
const size_t IPP_MAX_FIELD_BYTES = 0xFFFF;

// Work buffer the HTTP head of a status query is rendered in.
const size_t STATUS_QUERY_HEAD_BYTES = 4096;

// Both requests declare IPP 1.0.
const BYTE IPP_VERSION_MAJOR = 1;
const BYTE IPP_VERSION_MINOR = 0;

// The Get-Printer-Attributes request carries these constants, not the record's values.
const char STATUS_QUERY_CHARSET[] = "utf-8";
const char STATUS_QUERY_LANGUAGE[] = "en-us";
const char STATUS_QUERY_REQUESTED[] = "all";

const char ANONYMOUS_USER[] = "anonymous";

bool IsTextTag(BYTE tag) {
    switch (tag) {
    case IPP_TAG_TEXT:
    case IPP_TAG_NAME:
    case IPP_TAG_KEYWORD:
    case IPP_TAG_URI:
    case IPP_TAG_CHARSET:
    case IPP_TAG_LANGUAGE:
    case IPP_TAG_MIME_TYPE:
        return true;
    default:
        return false;
    }
}

// Bytes PutIppAttribute would write, or 0 when the attribute cannot be encoded (unknown tag, a
// name or text too long for its 16-bit length field).
size_t IppAttributeBytes(BYTE valueTag, const char* name, const void* value) {
    if (name == nullptr || value == nullptr) {
        return 0;
    }
    size_t nameBytes = strlen(name);
    if (nameBytes > IPP_MAX_FIELD_BYTES) {
        return 0;
    }
    if (valueTag == IPP_TAG_BOOLEAN) {
        return nameBytes + 6;
    }
    if (valueTag == IPP_TAG_INTEGER || valueTag == IPP_TAG_ENUM) {
        return nameBytes + 9;
    }
    if (IsTextTag(valueTag)) {
        size_t valueBytes = strlen(static_cast<const char*>(value));
        if (valueBytes > IPP_MAX_FIELD_BYTES) {
            return 0;
        }
        return nameBytes + valueBytes + 5;
    }
    return 0;
}

BYTE* PutWord(BYTE* at, size_t value) {
    at[0] = static_cast<BYTE>((value >> 8) & 0xFF);
    at[1] = static_cast<BYTE>(value & 0xFF);
    return at + 2;
}

BYTE* PutDword(BYTE* at, DWORD value) {
    at[0] = static_cast<BYTE>((value >> 24) & 0xFF);
    at[1] = static_cast<BYTE>((value >> 16) & 0xFF);
    at[2] = static_cast<BYTE>((value >> 8) & 0xFF);
    at[3] = static_cast<BYTE>(value & 0xFF);
    return at + 4;
}

// One attribute of a request in the making: its tag, name and value, to be sized before any
// byte is written.
struct AttributeSpec {
    BYTE tag;
    const char* name;
    const void* value;
};

// A text field of the job record, or nullptr when it is not terminated within its capacity
// (a record that was never prepared): such a field is not sent.
const char* FieldText(const char* field, size_t capacity) {
    return BoundedLength(field, capacity) < capacity ? field : nullptr;
}

// Writes version, operation-id, request-id, the operation group with the attributes, the
// trailing delimiters, in this order. Sizes everything first: when the request does not fit,
// or an attribute cannot be encoded, nothing is written and the result is 0.
size_t BuildRequest(WORD operation, DWORD requestId, const AttributeSpec* attributes,
                    size_t attributeCount, const BYTE* trailer, size_t trailerBytes, BYTE* out,
                    size_t outBytes) {
    if (out == nullptr) {
        return 0;
    }
    size_t total = 2 + 2 + 4 + 1 + trailerBytes;
    for (size_t i = 0; i < attributeCount; ++i) {
        size_t bytes =
            IppAttributeBytes(attributes[i].tag, attributes[i].name, attributes[i].value);
        if (bytes == 0) {
            return 0;
        }
        total += bytes;
    }
    if (total > outBytes) {
        return 0;
    }

    BYTE* at = out;
    *at++ = IPP_VERSION_MAJOR;
    *at++ = IPP_VERSION_MINOR;
    at = PutWord(at, operation);
    // IPP request-ids run from 1; a printer refuses 0 as a bad request. Wine's spooler starts
    // every document with job id 0, so that id goes out as 1.
    at = PutDword(at, requestId != 0 ? requestId : 1);
    *at++ = IPP_TAG_OPERATION;
    for (size_t i = 0; i < attributeCount; ++i) {
        size_t room = outBytes - static_cast<size_t>(at - out);
        at += PutIppAttribute(at, room, attributes[i].tag, attributes[i].name, attributes[i].value);
    }
    memcpy(at, trailer, trailerBytes);
    at += trailerBytes;
    return static_cast<size_t>(at - out);
}

} // namespace

size_t PutIppAttribute(BYTE* out, size_t outBytes, BYTE valueTag, const char* name,
                       const void* value) {
    size_t total = IppAttributeBytes(valueTag, name, value);
    if (total == 0 || out == nullptr || total > outBytes) {
        return 0;
    }
    size_t nameBytes = strlen(name);
    BYTE* at = out;
    *at++ = valueTag;
    at = PutWord(at, nameBytes);
    memcpy(at, name, nameBytes);
    at += nameBytes;

    if (valueTag == IPP_TAG_BOOLEAN) {
        DWORD flag;
        memcpy(&flag, value, sizeof flag);
        at = PutWord(at, 1);
        *at++ = static_cast<BYTE>(flag & 0xFF);
    } else if (valueTag == IPP_TAG_INTEGER || valueTag == IPP_TAG_ENUM) {
        DWORD number;
        memcpy(&number, value, sizeof number);
        at = PutWord(at, 4);
        at = PutDword(at, number);
    } else {
        const char* text = static_cast<const char*>(value);
        size_t textBytes = strlen(text);
        at = PutWord(at, textBytes);
        memcpy(at, text, textBytes);
        at += textBytes;
    }
    return static_cast<size_t>(at - out);
}

size_t BuildPrintJobRequest(DWORD requestId, const JobContext* job, BYTE* out, size_t outBytes) {
    if (job == nullptr) {
        return 0;
    }
    const AttributeSpec attributes[] = {
        {IPP_TAG_CHARSET, "attributes-charset", FieldText(job->ippCharset, IPP_CHARSET_BYTES)},
        {IPP_TAG_LANGUAGE, "attributes-natural-language",
         FieldText(job->ippLanguage, IPP_LANGUAGE_BYTES)},
        {IPP_TAG_URI, "printer-uri", FieldText(job->ippPrinterUri, IPP_PRINTER_URI_BYTES)},
        {IPP_TAG_NAME, "job-name", FieldText(job->ippJobName, IPP_JOB_NAME_BYTES)},
        {IPP_TAG_BOOLEAN, "ipp-attribute-fidelity", &job->ippFidelity},
        {IPP_TAG_NAME, "requesting-user-name", FieldText(job->ippUserName, IPP_USER_NAME_BYTES)},
        {IPP_TAG_NAME, "document-name", FieldText(job->ippDocumentName, IPP_DOCUMENT_NAME_BYTES)},
    };
    // The job group stays empty; the printer takes its defaults.
    const BYTE trailer[] = {IPP_TAG_JOB, IPP_TAG_END};
    return BuildRequest(IPP_OP_PRINT_JOB, requestId, attributes,
                        sizeof attributes / sizeof attributes[0], trailer, sizeof trailer, out,
                        outBytes);
}

size_t BuildGetPrinterAttributesRequest(DWORD requestId, const JobContext* job, BYTE* out,
                                        size_t outBytes) {
    if (job == nullptr) {
        return 0;
    }
    const AttributeSpec attributes[] = {
        {IPP_TAG_CHARSET, "attributes-charset", STATUS_QUERY_CHARSET},
        {IPP_TAG_LANGUAGE, "attributes-natural-language", STATUS_QUERY_LANGUAGE},
        {IPP_TAG_URI, "printer-uri", FieldText(job->ippPrinterUri, IPP_PRINTER_URI_BYTES)},
        {IPP_TAG_NAME, "requesting-user-name", FieldText(job->ippUserName, IPP_USER_NAME_BYTES)},
        {IPP_TAG_KEYWORD, "requested-attributes", STATUS_QUERY_REQUESTED},
    };
    const BYTE trailer[] = {IPP_TAG_END};
    return BuildRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, requestId, attributes,
                        sizeof attributes / sizeof attributes[0], trailer, sizeof trailer, out,
                        outBytes);
}

size_t BuildStatusQuery(BYTE* out, size_t outBytes, JobContext* job, char* host, size_t hostBytes,
                        LONG* port) {
    if (out == nullptr || job == nullptr) {
        return 0;
    }
    // A status query always speaks HTTP/1.1: the reply's version tells whether the printer can
    // take a chunked Print-Job.
    if (!InitPostRequest(job, host, hostBytes, port, TRUE)) {
        return 0;
    }

    BYTE body[STATUS_QUERY_BODY_BYTES];
    size_t bodyBytes = BuildGetPrinterAttributesRequest(job->jobId, job, body, sizeof body);
    if (bodyBytes == 0) {
        return 0;
    }
    if (FormatText(job->request.contentLength, sizeof job->request.contentLength, "%d",
                   static_cast<int>(bodyBytes)) < 0) {
        return 0;
    }

    char head[STATUS_QUERY_HEAD_BYTES];
    int headLength = FormatRequestHead(&job->request, head, sizeof head);
    if (headLength <= 0) {
        return 0;
    }
    size_t headBytes = static_cast<size_t>(headLength);
    if (headBytes > outBytes || bodyBytes > outBytes - headBytes) {
        return 0;
    }
    memcpy(out, head, headBytes);
    memcpy(out + headBytes, body, bodyBytes);
    return headBytes + bodyBytes;
}

void FillIppRequestValues(JobContext* job, const PortContext* port, const char* userName) {
    if (job == nullptr || port == nullptr) {
        return;
    }
    // Both fields have the same capacity, so a terminated URI always fits whole.
    CopyText(job->ippPrinterUri, sizeof job->ippPrinterUri, port->printerUri);

    // The spooler's job ids are small positive numbers; they are written as the printer shows
    // them in its job list.
    int jobNumber = static_cast<int>(port->currentJobId);
    FormatText(job->ippJobName, sizeof job->ippJobName, "ORVIK_IppJob_%d", jobNumber);
    FormatText(job->ippDocumentName, sizeof job->ippDocumentName, "ORVIK_IppDocument_%d",
               jobNumber);

    CopyText(job->ippCharset, sizeof job->ippCharset, "utf-8");
    CopyText(job->ippLanguage, sizeof job->ippLanguage, "en-us");

    // A name that does not fit is cut (PrepareIppRequest cuts it at a character boundary
    // before it gets here): the printer still shows the user's name, shortened, rather than
    // "anonymous".
    if (userName == nullptr || userName[0] == '\0') {
        userName = ANONYMOUS_USER;
    }
    CopyText(job->ippUserName, sizeof job->ippUserName, userName);
}
