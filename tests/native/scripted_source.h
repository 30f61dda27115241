// A ReplySource that replays scripted pieces of a reply, as a socket would hand them over.
//
// Each receive hands out at most the size asked for from the current piece; what is left of a
// piece comes with the next receive, so a piece never merges with the one after it (a piece is
// one TCP segment as the reader sees it). A piece marked as a failure makes that receive return
// 0 (time-out, closed connection or error); after the last piece every receive returns 0.
// The source records every receive: the room offered and the time-out passed.
#pragma once

#include <stddef.h>
#include <string.h>

#include <string>
#include <vector>

#include "monitor/transport/http_reply.h"

class ScriptedSource {
  public:
    struct Call {
        int size;
        DWORD timeoutMs;
    };

    ScriptedSource() = default;
    // Pieces in order; each string may hold any bytes (NULs included).
    explicit ScriptedSource(std::vector<std::string> pieces) {
        for (std::string& piece : pieces) {
            pieces_.push_back(Piece{std::move(piece), false});
        }
    }

    ScriptedSource& Add(std::string piece) {
        pieces_.push_back(Piece{std::move(piece), false});
        return *this;
    }
    ScriptedSource& Add(const void* bytes, size_t count) {
        return Add(std::string(static_cast<const char*>(bytes), count));
    }
    // A receive that yields nothing, though more pieces may follow.
    ScriptedSource& AddFailure() {
        pieces_.push_back(Piece{std::string(), true});
        return *this;
    }

    ReplySource Source() { return ReplySource{&ScriptedSource::Receive, this}; }

    const std::vector<Call>& Calls() const { return calls_; }
    // Bytes handed out so far, and bytes not yet handed out.
    size_t Delivered() const { return delivered_; }
    size_t Remaining() const {
        size_t left = 0;
        for (size_t i = next_; i < pieces_.size(); ++i) {
            left += pieces_[i].bytes.size() - (i == next_ ? offset_ : 0);
        }
        return left;
    }

  private:
    struct Piece {
        std::string bytes;
        bool failure;
    };

    static int Receive(void* context, char* buffer, int size, DWORD timeoutMs) {
        return static_cast<ScriptedSource*>(context)->Next(buffer, size, timeoutMs);
    }

    int Next(char* buffer, int size, DWORD timeoutMs) {
        calls_.push_back(Call{size, timeoutMs});
        if (next_ >= pieces_.size() || size <= 0) {
            return 0;
        }
        const Piece& piece = pieces_[next_];
        if (piece.failure) {
            ++next_;
            return 0;
        }
        size_t left = piece.bytes.size() - offset_;
        size_t count = left < static_cast<size_t>(size) ? left : static_cast<size_t>(size);
        memcpy(buffer, piece.bytes.data() + offset_, count);
        offset_ += count;
        delivered_ += count;
        if (offset_ == piece.bytes.size()) {
            ++next_;
            offset_ = 0;
        }
        return static_cast<int>(count);
    }

    std::vector<Piece> pieces_;
    size_t next_ = 0;
    size_t offset_ = 0;
    size_t delivered_ = 0;
    std::vector<Call> calls_;
};
