#pragma once

// Kernel handles with an owner, so that no road out of a function leaks one.

#include <windows.h>

#include <memory>

namespace selvatro::platform::win32 {

struct KernelHandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};
using UniqueHandle = std::unique_ptr<void, KernelHandleCloser>;

/// Owns a handle that CreateFileW and its kin return (INVALID_HANDLE_VALUE on failure) or that others return (null).
inline UniqueHandle Own(HANDLE handle) {
    return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

}  // namespace selvatro::platform::win32
