#include "tests/support/peer_client.h"

#include <stdlib.h>
#include <string.h>

namespace peers {
namespace {

int PortFromEnv(const char* name) {
    const char* value = getenv(name);
    return value ? atoi(value) : 0;
}

} // namespace

int FakePrinterPort() {
    return PortFromEnv("NIMBREL_FAKE_PRINTER_PORT");
}
int IppPrinterPort() {
    return PortFromEnv("NIMBREL_IPP_PRINTER_PORT");
}
int ProxyPort() {
    return PortFromEnv("NIMBREL_PROXY_PORT");
}

std::wstring IppSpoolDir() {
    const char* dir = getenv("NIMBREL_IPP_SPOOL_DIR");
    std::wstring result;
    if (dir == nullptr) {
        return result;
    }
    result = L"Z:";
    for (const char* p = dir; *p; ++p) {
        result += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    return result;
}

std::string FakePrinterUri(const char* scheme, const char* path) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(FakePrinterPort()) + path;
}

std::string IppPrinterUri() {
    return "ipp://127.0.0.1:" + std::to_string(IppPrinterPort()) + "/ipp/print";
}

int Control(const char* method, const std::string& target, const std::string& body,
            std::string* reply) {
    reply->clear();
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return 0;
    }
    int status = 0;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(FakePrinterPort()));
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (s != INVALID_SOCKET &&
        connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string request = std::string(method) + " " + target +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                              "Connection: close\r\nContent-Type: application/json\r\n" +
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        size_t sent = 0;
        while (sent < request.size()) {
            int n = send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
            if (n <= 0) {
                break;
            }
            sent += static_cast<size_t>(n);
        }
        std::string raw;
        char buffer[65536];
        int n;
        while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) {
            raw.append(buffer, static_cast<size_t>(n));
        }
        size_t headEnd = raw.find("\r\n\r\n");
        if (raw.compare(0, 5, "HTTP/") == 0 && headEnd != std::string::npos) {
            status = atoi(raw.c_str() + raw.find(' ') + 1);
            *reply = raw.substr(headEnd + 4);
        }
    }
    if (s != INVALID_SOCKET) {
        closesocket(s);
    }
    WSACleanup();
    return status;
}

bool SetScript(const std::string& json) {
    std::string reply;
    return Control("PUT", "/_control/script", json, &reply) == 200 &&
           Control("POST", "/_control/reset", "", &reply) == 200;
}

std::string Records(int count, int timeoutMs) {
    std::string reply;
    std::string target = "/_control/records";
    if (count > 0) {
        target += "?count=" + std::to_string(count) + "&timeout_ms=" + std::to_string(timeoutMs);
    }
    Control("GET", target, "", &reply);
    return reply;
}

std::string RecordPart(int n, const char* part) {
    std::string reply;
    if (Control("GET", "/_control/records/" + std::to_string(n) + "/" + part, "", &reply) != 200) {
        return std::string();
    }
    return reply;
}

int RecordCount() {
    std::string json = Records();
    int count = 0;
    for (size_t at = json.find("\"request_line\""); at != std::string::npos;
         at = json.find("\"request_line\"", at + 1)) {
        ++count;
    }
    return count;
}

std::string ReadWholeFile(const std::wstring& path) {
    std::string content;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return content;
    }
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        content.append(buffer, n);
    }
    CloseHandle(file);
    return content;
}

} // namespace peers
