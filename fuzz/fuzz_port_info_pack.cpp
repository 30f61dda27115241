// The packing of EnumPorts (PackPortInfo) with arbitrary port names, levels and buffer sizes.
// Built twice: narrow, as nimmon9x packs, and with UNICODE, as nimmonnt packs (here with a
// 4-byte WCHAR, which checks that every size counts characters times their width).
//
// Input: byte 0 the level (0 to 3), byte 1 how the buffer size is chosen (exact, one byte too
// small, larger by byte 2, byte 2 * byte 3, or 0), then up to 256 port names separated by NUL
// bytes, each byte one character; a name of the single byte 0xFF is a null name.
//
// The buffer is a heap block of exactly the size offered, so AddressSanitizer sees any write past
// it. Checks: the bytes needed are the sum worked out here; too small a buffer gets nothing
// written and ERROR_INSUFFICIENT_BUFFER; otherwise every record is filled, every pointer lies
// inside the buffer above the records, the texts are packed downward without gaps from the
// buffer's end (so with the exact size they end exactly at its end and the lowest begins exactly
// where the records end), each holds its text, and the bytes between records and texts of a
// larger buffer are left alone.
#include <string.h>

#include <vector>

#include "fuzz/fuzz_check.h"
#include "monitor/core/port_info_pack.h"

namespace {

const DWORD UNTOUCHED = 0xdeadbeef;
const BYTE FILL = 0xA5;
// More names than this only make each run slower (and the buffer of level 2 large): the rest of
// the input is left unused.
const size_t MAX_NAMES = 256;

// A text as it must be packed: where its characters are and how many of them are packed.
struct Expected {
    const TCHAR* text;
    size_t chars;
};

size_t TextBytes(const Expected& text) {
    return (text.chars + 1) * sizeof(TCHAR);
}

Expected FixedText(const TCHAR* text) {
    size_t chars = 0;
    while (text[chars] != 0) {
        ++chars;
    }
    return Expected{text, chars};
}

// The buffer holds `text` with its terminator at `at` (which need not be aligned).
bool Holds(const BYTE* at, const Expected& text) {
    if (text.chars > 0 && memcmp(at, text.text, text.chars * sizeof(TCHAR)) != 0) {
        return false;
    }
    TCHAR end;
    memcpy(&end, at + text.chars * sizeof(TCHAR), sizeof end);
    return end == 0;
}

bool AllFill(const BYTE* from, const BYTE* to) {
    for (const BYTE* p = from; p < to; ++p) {
        if (*p != FILL) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input{data, size, 0};
    DWORD level = input.Byte() & 3;
    uint8_t sizeMode = input.Byte() % 5;
    uint8_t a = input.Byte();
    uint8_t b = input.Byte();

    // The names as the caller holds them: whole and terminated, one after another in `chars`.
    std::vector<TCHAR> chars;
    chars.reserve(size + 1);
    std::vector<size_t> starts;
    std::vector<size_t> lengths;
    std::vector<bool> nulls;
    while (input.at < size && starts.size() < MAX_NAMES) {
        const uint8_t* start = nullptr;
        size_t length = input.Field(&start);
        starts.push_back(chars.size());
        lengths.push_back(length);
        nulls.push_back(length == 1 && start[0] == 0xFF);
        for (size_t i = 0; i < length; ++i) {
            chars.push_back(static_cast<TCHAR>(start[i]));
        }
        chars.push_back(0);
    }
    size_t count = starts.size();
    std::vector<const TCHAR*> names(count);
    std::vector<Expected> packedNames(count);
    for (size_t i = 0; i < count; ++i) {
        names[i] = nulls[i] ? nullptr : chars.data() + starts[i];
        // A null name packs as an empty one, a long one cut to what a port record holds.
        size_t kept = lengths[i] < PORT_INFO_NAME_MAX_CHARS ? lengths[i] : PORT_INFO_NAME_MAX_CHARS;
        packedNames[i] = Expected{chars.data() + starts[i], nulls[i] ? 0 : kept};
    }

    const Expected monitorName = FixedText(PORT_INFO_MONITOR_NAME);
    const Expected description = FixedText(PORT_INFO_DESCRIPTION);
    size_t recordBytes = level == 1 ? sizeof(PortInfo1Record) : sizeof(PortInfo2Record);
    size_t total = 0;
    if (level == 1 || level == 2) {
        for (const Expected& name : packedNames) {
            total += recordBytes + TextBytes(name);
            if (level == 2) {
                total += TextBytes(monitorName) + TextBytes(description);
            }
        }
    }

    size_t bufferSize = 0;
    switch (sizeMode) {
    case 0:
        bufferSize = total;
        break;
    case 1:
        bufferSize = total > 0 ? total - 1 : 0;
        break;
    case 2:
        bufferSize = total + a;
        break;
    case 3:
        bufferSize = static_cast<size_t>(a) * b;
        break;
    default:
        bufferSize = 0;
        break;
    }
    // An exact heap block (one byte when the size is 0, so that the pointer is a real one).
    std::vector<BYTE> block(bufferSize > 0 ? bufferSize : 1, FILL);
    BYTE* buffer = block.data();

    DWORD needed = UNTOUCHED;
    DWORD returned = UNTOUCHED;
    SetLastError(UNTOUCHED);
    BOOL result = PackPortInfo(names.data(), static_cast<DWORD>(names.size()), level, buffer,
                               static_cast<DWORD>(bufferSize), &needed, &returned);
    DWORD error = GetLastError();

    FUZZ_CHECK(needed == total);
    if (total == 0) {
        FUZZ_CHECK(result == TRUE && returned == 0 && error == UNTOUCHED);
        FUZZ_CHECK(AllFill(buffer, buffer + block.size()));
        return 0;
    }
    if (total > bufferSize) {
        FUZZ_CHECK(result == FALSE && returned == 0 && error == ERROR_INSUFFICIENT_BUFFER);
        FUZZ_CHECK(AllFill(buffer, buffer + block.size()));
        return 0;
    }
    FUZZ_CHECK(result == TRUE && error == 0);
    FUZZ_CHECK(returned == count);

    const BYTE* recordsEnd = buffer + count * recordBytes;
    const BYTE* expected = buffer + bufferSize; // where the next text must end
    for (size_t i = 0; i < count; ++i) {
        const TCHAR* packed[3] = {nullptr, nullptr, nullptr};
        const Expected* texts[3] = {&packedNames[i], &monitorName, &description};
        size_t textCount = 1;
        if (level == 1) {
            PortInfo1Record record;
            memcpy(&record, buffer + i * recordBytes, sizeof record);
            packed[0] = record.pName;
        } else {
            PortInfo2Record record;
            memcpy(&record, buffer + i * recordBytes, sizeof record);
            packed[0] = record.pPortName;
            packed[1] = record.pMonitorName;
            packed[2] = record.pDescription;
            textCount = 3;
            FUZZ_CHECK(record.fPortType == PORT_INFO_PORT_TYPE && record.Reserved == 0);
        }
        for (size_t t = 0; t < textCount; ++t) {
            const BYTE* at = reinterpret_cast<const BYTE*>(packed[t]);
            expected -= TextBytes(*texts[t]);
            FUZZ_CHECK(at == expected);
            FUZZ_CHECK(at >= recordsEnd && at + TextBytes(*texts[t]) <= buffer + bufferSize);
            FUZZ_CHECK(Holds(at, *texts[t]));
        }
    }
    FUZZ_CHECK(expected >= recordsEnd);
    FUZZ_CHECK(AllFill(recordsEnd, expected));
    if (bufferSize == total) {
        FUZZ_CHECK(expected == recordsEnd);
    }
    return 0;
}
