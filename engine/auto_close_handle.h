#pragma once
// A Windows handle closed when its holder goes, on every way out of the function that
// opened it. For the Windows files only.

#include <windows.h>

class AutoCloseHandle {
public:
    explicit AutoCloseHandle(HANDLE handle) : handle_(handle) {}
    ~AutoCloseHandle() {
        if (valid()) CloseHandle(handle_);
    }
    AutoCloseHandle(const AutoCloseHandle&) = delete;
    AutoCloseHandle& operator=(const AutoCloseHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};
