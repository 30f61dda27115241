// Test-side access to the network peers that tests/tools/with-peers starts: their ports, and the
// fake printer's control endpoint (scripts in, records out), spoken over Winsock.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

namespace peers {

// Ports from the environment; 0 when the peer was not started.
int FakePrinterPort();
int IppPrinterPort();
int ProxyPort();
// "Z:\..." form of the real printer's spool directory, or empty.
std::wstring IppSpoolDir();

// "http://127.0.0.1:PORT/ipp/print" and the like.
std::string FakePrinterUri(const char* scheme = "http", const char* path = "/ipp/print");
std::string IppPrinterUri();

// One HTTP exchange with the fake printer's control endpoint. Returns the HTTP status (0 when
// the exchange failed) and the reply body.
int Control(const char* method, const std::string& target, const std::string& body,
            std::string* reply);

// Replaces the fake printer's script and forgets its records.
bool SetScript(const std::string& json);
// The fake printer's records as JSON, waiting up to timeoutMs for at least `count` of them.
std::string Records(int count = 0, int timeoutMs = 0);
// Raw bytes of record n (1-based): part is "head", "bin", "body" or "doc".
std::string RecordPart(int n, const char* part);
// Number of records the fake printer holds.
int RecordCount();

// Reads a whole file (Windows path); empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path);

} // namespace peers
