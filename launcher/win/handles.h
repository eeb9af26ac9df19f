#pragma once

#include <utility>

#include "win/win32.h"

// Move-only owner of a Windows handle. `Invalid` tells the empty value apart, since file
// handles use INVALID_HANDLE_VALUE and most other kernel objects use null.
template <class T, class Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T value) : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::invalid(); }
    T release() { return std::exchange(value_, Traits::invalid()); }
    // Closing must not disturb the error code a caller is about to read.
    void reset(T value = Traits::invalid()) {
        if (value_ != Traits::invalid()) {
            DWORD error = GetLastError();
            Traits::close(value_);
            SetLastError(error);
        }
        value_ = value;
    }

private:
    T value_ = Traits::invalid();
};

struct FileHandleTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct KernelHandleTraits {
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct RegistryKeyTraits {
    static HKEY invalid() { return nullptr; }
    static void close(HKEY h) { RegCloseKey(h); }
};
struct ModuleTraits {
    static HMODULE invalid() { return nullptr; }
    static void close(HMODULE h) { FreeLibrary(h); }
};
struct FindHandleTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindClose(h); }
};

using UniqueFile = UniqueHandle<HANDLE, FileHandleTraits>;
using UniqueKernelHandle = UniqueHandle<HANDLE, KernelHandleTraits>;
using UniqueRegistryKey = UniqueHandle<HKEY, RegistryKeyTraits>;
using UniqueModule = UniqueHandle<HMODULE, ModuleTraits>;
using UniqueFind = UniqueHandle<HANDLE, FindHandleTraits>;

struct ServiceHandleTraits {
    static SC_HANDLE invalid() { return nullptr; }
    static void close(SC_HANDLE h) { CloseServiceHandle(h); }
};
using UniqueServiceHandle = UniqueHandle<SC_HANDLE, ServiceHandleTraits>;
