#pragma once
// Reads a window as assistive technology does: AccessibleObjectFromWindow on its client
// area, then the name, role, state and value of that object. Works on the windows of this
// process and, through COM, on those of another.

#include <windows.h>

#include <string>

struct AccessibleFacts {
    bool found = false;
    std::string why;  // when not found, or a property could not be read
    std::string name;  // UTF-8
    long role = 0;
    long state = 0;
    std::string value;
    std::string defaultAction;
};

// Joins this thread to a COM apartment (once) and asks for the window's object.
AccessibleFacts ProbeAccessible(HWND window);

// The checked bit of the object's state, as a screen reader reads "checked".
inline bool IsChecked(const AccessibleFacts& facts) { return (facts.state & 0x10) != 0; }

// Role numbers as names, for readable failures ("check button", "push button", ...).
std::string RoleName(long role);
