#pragma once
// Small holders that give back what a drawing handler took from GDI, on every way out of
// it: the object made, the object a device context had selected, the device context of a
// window. Declared in the order they are taken, they give back in the reverse order: the
// old object is selected back before the new one is deleted.

#include <windows.h>

template <class Object>
class ScopedGdiObj {
public:
    explicit ScopedGdiObj(Object object) : object_(object) {}
    ~ScopedGdiObj() {
        if (object_ != nullptr) DeleteObject(object_);
    }
    ScopedGdiObj(const ScopedGdiObj&) = delete;
    ScopedGdiObj& operator=(const ScopedGdiObj&) = delete;

    Object get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    Object object_;
};

// Selects `object` into `hdc` for as long as it lives, then the one it replaced.
class ScopedSelect {
public:
    ScopedSelect(HDC hdc, HGDIOBJ object) : hdc_(hdc), old_(SelectObject(hdc, object)) {}
    ~ScopedSelect() { SelectObject(hdc_, old_); }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

private:
    HDC hdc_;
    HGDIOBJ old_;
};

// The device context of a whole window (GetWindowDC), released when it goes.
class ScopedWindowDC {
public:
    explicit ScopedWindowDC(HWND window) : window_(window), hdc_(GetWindowDC(window)) {}
    ~ScopedWindowDC() { ReleaseDC(window_, hdc_); }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;

    HDC get() const { return hdc_; }

private:
    HWND window_;
    HDC hdc_;
};
