// nimsink: a discarding IPP printer on 127.0.0.1 for the benchmarks. It answers a
// Get-Printer-Attributes request with a real printer's reply (idle) and takes any other POST as a
// document, reading its body to the end (Content-Length or chunked) and throwing it away before
// answering successful-ok. It does as little as it can per byte, so that what a benchmark measures
// is the client, not the printer.
//
//   nimsink --ready-file FILE --attributes REPLY.bin [--port N] [--lifetime SECONDS]
//
// A request whose target begins with "/http10" is answered with HTTP/1.0 (a printer that makes
// the monitor collect the job in a spool file); every other one with HTTP/1.1 (streaming). Each
// connection carries one request and is closed after the reply, as the monitor's are.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

namespace {

const size_t HEAD_LIMIT = 65536;
const size_t RECEIVE_BYTES = 256 * 1024;
const int RECEIVE_TIMEOUT_S = 60;

std::string g_attributes; // IPP body of the Get-Printer-Attributes reply

struct Connection {
    int fd;
    std::vector<char> buffer;
    size_t start = 0; // unread bytes are [start, end)
    size_t end = 0;

    // Reads more bytes at the end of the buffer; false at end of stream or error.
    bool Fill() {
        if (start == end) {
            start = end = 0;
        } else if (end == buffer.size()) {
            memmove(buffer.data(), buffer.data() + start, end - start);
            end -= start;
            start = 0;
        }
        ssize_t n = recv(fd, buffer.data() + end, buffer.size() - end, 0);
        if (n <= 0) {
            return false;
        }
        end += static_cast<size_t>(n);
        return true;
    }
    size_t Available() const { return end - start; }
};

bool SendAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// The value of a header line (case-insensitive name), or "" when absent.
std::string HeaderValue(const std::string& head, const char* name) {
    size_t nameLength = strlen(name);
    for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
        size_t line = at + 2;
        if (head.size() >= line + nameLength + 1 &&
            strncasecmp(head.c_str() + line, name, nameLength) == 0 &&
            head[line + nameLength] == ':') {
            size_t value = line + nameLength + 1;
            while (value < head.size() && head[value] == ' ') {
                ++value;
            }
            return head.substr(value, head.find("\r\n", value) - value);
        }
    }
    return std::string();
}

// Takes body bytes from the buffer: keeps the first eight (the IPP header) and drops the rest.
struct Body {
    unsigned char first[8] = {};
    size_t seen = 0;
    void Take(const char* data, size_t n) {
        for (size_t i = 0; i < n && seen < sizeof first; ++i) {
            first[seen++] = static_cast<unsigned char>(data[i]);
        }
    }
    int Operation() const { return seen >= 4 ? (first[2] << 8) | first[3] : -1; }
    uint32_t RequestId() const {
        return seen >= 8 ? (uint32_t(first[4]) << 24) | (uint32_t(first[5]) << 16) |
                               (uint32_t(first[6]) << 8) | first[7]
                         : 1;
    }
};

bool ReadLengthBody(Connection* c, unsigned long long length, Body* body) {
    while (length > 0) {
        if (c->Available() == 0 && !c->Fill()) {
            return false;
        }
        size_t n = c->Available() < length ? c->Available() : static_cast<size_t>(length);
        body->Take(c->buffer.data() + c->start, n);
        c->start += n;
        length -= n;
    }
    return true;
}

// One line ending in CR LF, without it; false when the stream ends first or it is too long.
bool ReadLine(Connection* c, std::string* line) {
    line->clear();
    for (;;) {
        while (c->Available() > 0) {
            char ch = c->buffer[c->start++];
            if (ch == '\n') {
                if (!line->empty() && line->back() == '\r') {
                    line->pop_back();
                }
                return true;
            }
            if (line->size() > 1024) {
                return false;
            }
            line->push_back(ch);
        }
        if (!c->Fill()) {
            return false;
        }
    }
}

bool ReadChunkedBody(Connection* c, Body* body) {
    std::string line;
    for (;;) {
        if (!ReadLine(c, &line)) {
            return false;
        }
        char* end = nullptr;
        unsigned long long size = strtoull(line.c_str(), &end, 16);
        if (end == line.c_str()) {
            return false;
        }
        if (size == 0) {
            // Trailer lines, then the empty line.
            do {
                if (!ReadLine(c, &line)) {
                    return false;
                }
            } while (!line.empty());
            return true;
        }
        if (!ReadLengthBody(c, size, body) || !ReadLine(c, &line) || !line.empty()) {
            return false;
        }
    }
}

void Put16(std::string* out, unsigned v) {
    out->push_back(static_cast<char>(v >> 8));
    out->push_back(static_cast<char>(v & 0xFF));
}

void PutAttribute(std::string* out, int tag, const std::string& name, const std::string& value) {
    out->push_back(static_cast<char>(tag));
    Put16(out, static_cast<unsigned>(name.size()));
    *out += name;
    Put16(out, static_cast<unsigned>(value.size()));
    *out += value;
}

std::string Integer32(uint32_t v) {
    std::string s;
    Put16(&s, v >> 16);
    Put16(&s, v & 0xFFFF);
    return s;
}

// successful-ok for a document, with the job the printer made of it.
std::string JobReply(uint32_t requestId) {
    std::string out;
    out += '\x01';
    out += '\x01';
    Put16(&out, 0);
    out += Integer32(requestId);
    out += '\x01';
    PutAttribute(&out, 0x47, "attributes-charset", "utf-8");
    PutAttribute(&out, 0x48, "attributes-natural-language", "en-us");
    out += '\x02';
    PutAttribute(&out, 0x21, "job-id", Integer32(1));
    PutAttribute(&out, 0x23, "job-state", Integer32(9));
    out += '\x03';
    return out;
}

void Serve(int fd) {
    timeval timeout{RECEIVE_TIMEOUT_S, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    Connection c{fd, std::vector<char>(RECEIVE_BYTES)};
    std::string head;
    for (;;) {
        if (c.Available() == 0 && !c.Fill()) {
            close(fd);
            return;
        }
        head.append(c.buffer.data() + c.start, c.Available());
        size_t endOfHead = head.find("\r\n\r\n");
        if (endOfHead != std::string::npos) {
            // Bytes after the head go back to the buffer as the start of the body.
            size_t extra = head.size() - (endOfHead + 4);
            c.start = c.end - extra;
            head.resize(endOfHead + 2);
            break;
        }
        c.start = c.end;
        if (head.size() > HEAD_LIMIT) {
            close(fd);
            return;
        }
    }

    Body body;
    bool complete;
    if (strcasecmp(HeaderValue(head, "Transfer-Encoding").c_str(), "chunked") == 0) {
        complete = ReadChunkedBody(&c, &body);
    } else {
        complete = ReadLengthBody(
            &c, strtoull(HeaderValue(head, "Content-Length").c_str(), nullptr, 10), &body);
    }
    if (!complete) {
        close(fd);
        return;
    }

    size_t targetAt = head.find(' ');
    bool http10 = targetAt != std::string::npos && head.compare(targetAt + 1, 7, "/http10") == 0;
    std::string ipp = body.Operation() == 0x000B ? g_attributes : JobReply(body.RequestId());
    char line[256];
    snprintf(line, sizeof line,
             "HTTP/%s 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: %zu\r\n"
             "Connection: close\r\n\r\n",
             http10 ? "1.0" : "1.1", ipp.size());
    std::string reply = line + ipp;
    SendAll(fd, reply.data(), reply.size());
    // Closing at once could reset the connection while the client still has bytes in flight.
    shutdown(fd, SHUT_WR);
    char drain[4096];
    while (recv(fd, drain, sizeof drain, 0) > 0) {
    }
    close(fd);
}

bool ReadFile(const char* path, std::string* out) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) {
        return false;
    }
    char buffer[8192];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) {
        out->append(buffer, n);
    }
    fclose(f);
    return !out->empty();
}

} // namespace

int main(int argc, char** argv) {
    const char* readyFile = nullptr;
    const char* attributes = nullptr;
    int port = 0;
    unsigned lifetime = 3600;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--ready-file") == 0) {
            readyFile = argv[i + 1];
        } else if (strcmp(argv[i], "--attributes") == 0) {
            attributes = argv[i + 1];
        } else if (strcmp(argv[i], "--port") == 0) {
            port = atoi(argv[i + 1]);
        } else if (strcmp(argv[i], "--lifetime") == 0) {
            lifetime = static_cast<unsigned>(atoi(argv[i + 1]));
        }
    }
    if (readyFile == nullptr || attributes == nullptr || !ReadFile(attributes, &g_attributes)) {
        fprintf(stderr, "usage: nimsink --ready-file FILE --attributes REPLY.bin [--port N] "
                        "[--lifetime SECONDS]\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);

    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1024) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        perror("nimsink: listen");
        return 1;
    }
    // The port number appears in the ready file all at once (rename).
    std::string temporary = std::string(readyFile) + ".tmp";
    FILE* f = fopen(temporary.c_str(), "w");
    if (f == nullptr) {
        perror("nimsink: ready file");
        return 1;
    }
    fprintf(f, "%d\n", ntohs(address.sin_port));
    fclose(f);
    rename(temporary.c_str(), readyFile);

    alarm(lifetime); // a forgotten sink ends by itself
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) {
            if (errno == EINTR) {
                continue;
            }
            perror("nimsink: accept");
            return 1;
        }
        std::thread(Serve, fd).detach();
    }
}
