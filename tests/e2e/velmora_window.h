#pragma once
// Where things are on the program's 570x305 window and what they look like, and the steps
// a person takes on it: switching a feature, typing a value, pressing a button.

#include <windows.h>

#include <string>
#include <vector>

#include "program_driver.h"
#include "window_colours.h"

const int WINDOW_WIDTH = 570;
const int WINDOW_HEIGHT = 305;

struct Box {
    int x, y, width, height;
    int CentreX() const { return x + width / 2; }
    int CentreY() const { return y + height / 2; }
};

const Box TOGGLE_CAMERA = {18, 35, 25, 25};
const Box TOGGLE_FOV = {18, 132, 25, 25};
const Box TOGGLE_WIDESCREEN = {310, 35, 25, 25};
const Box TOGGLE_FPS = {18, 250, 25, 25};
const Box EDIT_CAMERA = {75, 78, 65, 32};
const Box EDIT_FOV = {75, 195, 65, 32};
const Box EDIT_WIDTH = {495, 83, 45, 32};
const Box EDIT_HEIGHT = {495, 122, 45, 32};
const Box PLATE_BUTTON = {436, 233, 107, 42};  // Apply, and Exit in its place
const Box CLOSE_BUTTON = {546, 3, 16, 16};

enum { IDC_RESULT_TEXT = 116 };

// --- what the screen should show ----------------------------------------------------------

// The title bar, the edge band, the field and the five panels with their cut corners.
std::vector<PixelCheck> InputScreenFace();
// The same band and field with only the result and Exit panels; the field shows where the
// input panels were.
std::vector<PixelCheck> ResultScreenFace();
// A toggle box: border, ring, and the inner square when it is on.
std::vector<PixelCheck> ToggleLook(const char* what, const Box& box, bool on);
// An edit box's flat frame and its background.
std::vector<PixelCheck> EditLook(const char* what, const Box& box);
// Apply or Exit: 2 pixels of frame at the top and left and 6 at the right and bottom when
// released, 4 all round when held down.
std::vector<PixelCheck> PlateButtonLook(bool pressed);
// The close button's cross: black, steel blue while held down, on the grey-blue plate.
std::vector<PixelCheck> CloseButtonLook(bool pressed);

std::vector<PixelCheck> operator+(std::vector<PixelCheck> a, const std::vector<PixelCheck>& b);

// --- a person's steps ------------------------------------------------------------------------

// Clicks into the edit box, removes what it holds and types `text`. Returns the box's text
// afterwards as the box itself reports it.
std::string TypeInto(HWND window, const Box& box, const char* text);
// The text an edit box holds now.
std::string TextIn(HWND window, const Box& box);
void ClickBox(HWND window, const Box& box);
// Puts the mouse on the button and holds the left button down there.
void HoldDown(HWND window, const Box& button);

// What the client area of the edit box in `box` shows on the screen, row by row.
std::vector<COLORREF> ShownInEditBox(HWND window, const Box& box);
// What the system's own edit control shows for `text` in a box of that shape, in the
// program's text font (made here from the program file's font resource) on the background
// colour: what the box must show when it holds `text`.
std::vector<COLORREF> StockEditBoxShowing(HWND window, const Box& box, const char* text);

// The result text of the result screen, once it is there ("" if it never comes).
std::string WaitForResultText(HWND window);

// A message box that the program shows, owned by `owner`.
struct MessageBoxSeen {
    HWND box;
    HWND owner;
    std::string text;
};
bool WaitForMessageBox(DWORD processId, MessageBoxSeen* seen);
// Presses its OK button with the mouse and waits until it is gone.
bool DismissWithOk(const MessageBoxSeen& seen);
