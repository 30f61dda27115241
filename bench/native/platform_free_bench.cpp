// Google Benchmark timings of the platform-free code, natively (optimised, no sanitizers): the
// pieces every job and every status poll run through.
#include "monitor/core/text.h"
#include "monitor/ipp/ipp_reply.h"
#include "monitor/ipp/ipp_request.h"
#include "monitor/transport/http_reply.h"
#include "monitor/transport/http_request.h"

#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A real printer's Get-Printer-Attributes reply body (ippeveprinter, 7445 bytes).
const std::string& CapturedReply() {
    static const std::string body = [] {
        std::string path = std::string(NIMBREL_SOURCE_DIR) +
                           "/tests/peers/captures/ippeveprinter-get-printer-attributes.bin";
        std::string data;
        FILE* f = fopen(path.c_str(), "rb");
        if (f == nullptr) {
            fprintf(stderr, "cannot read %s\n", path.c_str());
            exit(1);
        }
        char buffer[8192];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) {
            data.append(buffer, n);
        }
        fclose(f);
        return data;
    }();
    return body;
}

void PutAttribute(std::string* out, char tag, const std::string& name, const std::string& value) {
    out->push_back(tag);
    out->push_back(static_cast<char>(name.size() >> 8));
    out->push_back(static_cast<char>(name.size() & 0xFF));
    *out += name;
    out->push_back(static_cast<char>(value.size() >> 8));
    out->push_back(static_cast<char>(value.size() & 0xFF));
    *out += value;
}

// The captured reply grown to `bytes` with a long 1setOf keyword attribute after the printer's
// own attributes, as a printer with a large media list answers.
std::string LargeReply(size_t bytes) {
    std::string body = CapturedReply();
    body.pop_back(); // end-of-attributes-tag
    PutAttribute(&body, 0x44, "media-supported-extra", "iso_a4_210x297mm");
    for (int i = 0; body.size() + 40 < bytes; ++i) {
        char value[32];
        snprintf(value, sizeof value, "custom_%05d_210x297mm", i);
        PutAttribute(&body, 0x44, "", value);
    }
    body.push_back(0x03);
    return body;
}

// A job record as StartDocPort fills it for a port.
std::unique_ptr<JobContext> PreparedJob() {
    std::unique_ptr<PortContext> port(new PortContext());
    CopyText(port->printerUri, sizeof port->printerUri, "ipp://192.168.1.20:631/ipp/print");
    port->currentJobId = 42;
    std::unique_ptr<JobContext> job(new JobContext());
    FillIppRequestValues(job.get(), port.get(), "operator");
    job->jobId = 42;
    job->chunked = 1;
    return job;
}

// The Print-Job head and body of a streamed job, put together as StartDocPort does: head, then
// the IPP request as the body's first chunk.
void BM_PrintJobHeadAndBody(benchmark::State& state) {
    std::unique_ptr<JobContext> job = PreparedJob();
    BYTE out[4096];
    for (auto _ : state) {
        char host[HOST_BYTES] = "";
        LONG port = 0;
        InitPostRequest(job.get(), host, sizeof host, &port, FALSE);
        BYTE ipp[PRINT_JOB_REQUEST_BYTES];
        size_t ippBytes = BuildPrintJobRequest(job->jobId, job.get(), ipp, sizeof ipp);
        CopyText(job->request.contentLength, sizeof job->request.contentLength, "chunked");
        char head[4096];
        int headBytes = FormatRequestHead(&job->request, head, sizeof head);
        char sizeLine[16];
        int sizeBytes =
            FormatText(sizeLine, sizeof sizeLine, "%lx\r\n", static_cast<unsigned long>(ippBytes));
        if (headBytes < 0 || sizeBytes < 0 || ippBytes == 0) {
            state.SkipWithError("the request could not be built");
            break;
        }
        size_t at = 0;
        memcpy(out + at, head, static_cast<size_t>(headBytes));
        at += static_cast<size_t>(headBytes);
        memcpy(out + at, sizeLine, static_cast<size_t>(sizeBytes));
        at += static_cast<size_t>(sizeBytes);
        memcpy(out + at, ipp, ippBytes);
        at += ippBytes;
        memcpy(out + at, "\r\n", 2);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PrintJobHeadAndBody);

// Chunk framing of one WritePort's data (1024-byte chunks).
void BM_FrameChunks(benchmark::State& state) {
    size_t count = static_cast<size_t>(state.range(0));
    std::vector<BYTE> data(count, 'x');
    std::vector<BYTE> out(ChunkFramingBytes(count));
    for (auto _ : state) {
        size_t n = FrameChunks(data.data(), count, out.data(), out.size());
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(count));
}
BENCHMARK(BM_FrameChunks)->Arg(4096)->Arg(65536);

// The head of a real printer's reply, with its body behind it in the same receive.
void BM_ParseReplyHead(benchmark::State& state) {
    std::string reply = "HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 7445\r\n"
                        "Content-Type: application/ipp\r\nDate: Fri, 11 Dec 2026 12:19:00 GMT\r\n"
                        "Keep-Alive: timeout=10\r\nAccept-Encoding: gzip, deflate, identity\r\n"
                        "Server: CUPS/2.4.2\r\nX-Frame-Options: DENY\r\n"
                        "Content-Security-Policy: frame-ancestors 'none'\r\n\r\n" +
                        CapturedReply();
    std::vector<char> area(reply.begin(), reply.end());
    area.push_back('\0');
    for (auto _ : state) {
        HttpReplyHead head;
        size_t n = ParseReplyHead(area.data(), reply.size(), &head);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(head);
    }
}
BENCHMARK(BM_ParseReplyHead);

void ParseReply(benchmark::State& state, const std::string& body) {
    PrinterWords words;
    for (auto _ : state) {
        memset(&words, 0, sizeof words);
        ParseIppReply(reinterpret_cast<const BYTE*>(body.data()), body.size(), words.stateWord,
                      words.reasonWord, words.makeAndModel);
        benchmark::DoNotOptimize(words);
    }
    if (strcmp(words.stateWord, "Idle") != 0) {
        state.SkipWithError("the reply did not decode to Idle");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(body.size()));
    state.counters["reply_bytes"] = static_cast<double>(body.size());
}

void BM_ParseIppReply7K(benchmark::State& state) {
    ParseReply(state, CapturedReply());
}
BENCHMARK(BM_ParseIppReply7K);

void BM_ParseIppReply60K(benchmark::State& state) {
    static const std::string body = LargeReply(60 * 1024);
    ParseReply(state, body);
}
BENCHMARK(BM_ParseIppReply60K);

} // namespace

BENCHMARK_MAIN();
