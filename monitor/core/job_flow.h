// One print job from StartDocPort to EndDocPort: the state wait, then either streaming (chunked
// POST while the spooler hands over data) or a spool file sent with a Content-Length at the end.
#pragma once

#include "monitor/core/records.h"

// Buffer the head and the Print-Job request are put together in.
#define JOB_REQUEST_HEAD_BYTES 4096
// A busy printer is asked once a second, for at most this long.
#define STATE_WAIT_LIMIT_SECONDS 150
#define STATE_POLL_MS 1000
// Time limits of the printer's replies: at the end of a job, and while data is still going out.
#define FINAL_REPLY_TIMEOUT_MS 300000
#define EARLY_REPLY_TIMEOUT_MS 30000
// The look for an early answer from the printer while data goes out. It only asks whether
// something has arrived; it does not wait (a 1 ms wait per piece caps a job at a few MB/s).
#define EARLY_REPLY_LOOK_MS 0
// A streamed document is looked at for an early answer on its first piece and then once per this
// many bytes (the spool-file transfer looks once per read of SPOOL_READ_BYTES, the same stretch).
#define EARLY_REPLY_LOOK_BYTES 65536
// The framing of a WritePort piece of up to about 8 KiB is built on the stack.
#define SEND_CHUNKS_STACK_BYTES 8192
// Spool-file reads, and so the pieces it is sent in.
#define SPOOL_READ_BYTES 65536
// Pause after a failed WritePort, before the spooler restarts the job.
#define WRITE_FAILURE_PAUSE_MS 5000
// Interim (100) replies read after a document before the printer counts as not answering.
#define MAX_INTERIM_REPLIES 64
// TEMP directory as read, in characters.
#define TEMP_DIR_CHARS 260

// Head (and, streaming, the Print-Job request as the body's first chunk) into out. Returns the
// total length, or 0 when it cannot be built within outBytes.
size_t BuildJobRequestHead(BYTE* out, size_t outBytes, JobContext* job, char* host,
                           size_t hostBytes, LONG* port, BOOL streaming);

// Sends one WritePort's data as chunks, in one send.
BOOL SendChunks(SOCKET s, const BYTE* data, DWORD count, const PortContext* port);

// Sends the last chunk and reads the printer's verdict; *error is 0 on success.
BOOL FinishStreamedJob(JobContext* job, const PortContext* port, DWORD* error);

// Sends head, Print-Job request and spool file; leaves its error code as the last error.
BOOL SendSpoolFile(JobContext* job, PortContext* port);

// "%TEMP%\ipp0x<job id in hex>.prn". FALSE when TEMP is too long to form the name.
BOOL FormatSpoolFileName(TCHAR* out, size_t outChars, DWORD jobId);

// Closes the job's connection and spool file and deletes the file: what a job holds when it
// cannot finish.
void ReleaseJobResources(JobContext* job);
