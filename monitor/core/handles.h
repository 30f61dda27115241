// One move-only owner per kind of OS handle, so that no path can leak one. The invalid value is
// part of each kind. LastErrorGuard keeps the last error across cleanup that calls Windows.
#pragma once

#include "monitor/core/portable.h"

#include <utility>

template <typename Traits> class UniqueHandle {
  public:
    using Value = typename Traits::Value;

    UniqueHandle() noexcept : value_(Traits::Invalid()) {}
    explicit UniqueHandle(Value value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Value get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    Value* put() noexcept {
        reset();
        return &value_;
    }
    Value release() noexcept { return std::exchange(value_, Traits::Invalid()); }
    void reset(Value value = Traits::Invalid()) noexcept {
        Value old = std::exchange(value_, value);
        if (old != Traits::Invalid()) {
            Traits::Close(old);
        }
    }

  private:
    Value value_;
};

// Keeps the thread's last error while cleanup code runs.
class LastErrorGuard {
  public:
    LastErrorGuard() noexcept : saved_(GetLastError()) {}
    ~LastErrorGuard() { SetLastError(saved_); }
    LastErrorGuard(const LastErrorGuard&) = delete;
    LastErrorGuard& operator=(const LastErrorGuard&) = delete;

  private:
    DWORD saved_;
};

#ifdef _WIN32

struct KernelHandleTraits { // events, threads, processes: invalid is NULL
    using Value = HANDLE;
    static Value Invalid() { return nullptr; }
    static void Close(Value h) {
        LastErrorGuard keep;
        CloseHandle(h);
    }
};

struct FileHandleTraits { // files: invalid is INVALID_HANDLE_VALUE
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Value h) {
        LastErrorGuard keep;
        CloseHandle(h);
    }
};

struct SocketTraits {
    using Value = SOCKET;
    static Value Invalid() { return INVALID_SOCKET; }
    static void Close(Value s) {
        LastErrorGuard keep;
        closesocket(s);
    }
};

struct RegKeyTraits {
    using Value = HKEY;
    static Value Invalid() { return nullptr; }
    static void Close(Value k) {
        LastErrorGuard keep;
        RegCloseKey(k);
    }
};

struct ModuleTraits {
    using Value = HMODULE;
    static Value Invalid() { return nullptr; }
    static void Close(Value m) {
        LastErrorGuard keep;
        FreeLibrary(m);
    }
};

using UniqueEvent = UniqueHandle<KernelHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueSocket = UniqueHandle<SocketTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;

#endif
