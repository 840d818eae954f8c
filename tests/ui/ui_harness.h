#pragma once
// Drives the real main window inside the test process: creates it as the program does,
// feeds it mouse and keyboard input through the system's input queue, serves its messages,
// reads its pixels, and catches the message boxes and system calls the window makes.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The virtual screen the tests run on.
enum { SCREEN_WIDTH = 1024, SCREEN_HEIGHT = 768 };

// --- messages ---------------------------------------------------------------------------

// Dispatches every waiting message, then keeps doing so until nothing arrives for
// `quietMs` milliseconds. Returns true if WM_QUIT came, with its code in *quitCode.
bool PumpUntilIdle(int quietMs = 60, int* quitCode = nullptr);

// --- user input -------------------------------------------------------------------------

// Moves the mouse to (x, y) in screen coordinates.
void MoveMouseTo(int x, int y);
// A left click at (x, y), in client coordinates of `window`, by the system input queue.
void ClickAt(HWND window, int x, int y);
void DoubleClickAt(HWND window, int x, int y);
void RightClickAt(HWND window, int x, int y);
// Presses the left button at (x, y), client coordinates of `window`, moves the mouse by
// (dx, dy) and releases it there.
void DragBy(HWND window, int x, int y, int dx, int dy);
// Left button down or up where the mouse is.
void LeftButton(bool down);
// Keystrokes to the focused window: virtual keys, and text typed character by character.
void PressKey(WORD virtualKey);
void TypeText(const char* text);

// --- looking at the window ----------------------------------------------------------------

// The colour of a pixel of `window`'s client area as it is on screen.
COLORREF PixelOf(HWND window, int x, int y);
// The colour of a pixel of `window` counted from its top left outer corner.
COLORREF WindowPixelOf(HWND window, int x, int y);
// The rectangle of a child window in client coordinates of its parent.
RECT RectInParent(HWND child);
std::string TextOf(HWND window);
std::string ClassOf(HWND window);
// The children of `parent` in creation order.
std::vector<HWND> ChildrenOf(HWND parent);

// The number of GDI objects the process holds now; -1 when the system does not tell. *how
// says where the number came from, or why there is none.
int CountGdiObjects(std::string* how = nullptr);

// --- message boxes and system calls --------------------------------------------------------

struct ShownMessage {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
};

// Every message box the window asked for since the last ResetUiForTest, none of them shown.
extern std::vector<ShownMessage> g_shownMessages;

// Makes the creation of the control of this class and identifier fail, once; `occurrence`
// picks the second of two controls that share both.
void FailControlCreation(const char* className, int id, int occurrence = 1);
// Makes the font resource lookup miss, or find `replacement` (a resource of this exe).
void MissFontResource();
void FindOtherResourceAsFont(LPCSTR name, LPCSTR type);
// Makes the start of the next worker thread fail.
void FailThreadStart();
// Puts back the thread start that the program itself uses, in place of the harness's.
void UseProgramThreadStart();

// --- messages seen by windows ------------------------------------------------------------

struct SeenMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result;  // for sent messages, what the window procedure answered
};

// Records the messages sent to (with their results) and taken from the queue for the
// windows of this thread while it lives.
class MessageSpy {
public:
    MessageSpy();
    ~MessageSpy();
    MessageSpy(const MessageSpy&) = delete;
    MessageSpy& operator=(const MessageSpy&) = delete;

    int Count(HWND window, UINT message) const;
    int CountPosted(HWND window, UINT message) const;
    const std::vector<SeenMessage>& Sent() const;
    const std::vector<SeenMessage>& Posted() const;
    void Clear();
};

// --- the program's state -------------------------------------------------------------------

// Puts everything the window keeps between runs back as it is when the program starts,
// the feature toggles included, and points the system calls at capturing stand-ins.
void ResetUiForTest();

// A test with the real main window, created as the program creates it.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates the window (SetUp does this unless the test sets up failures first).
    void OpenWindow();
    // Closes the window if it is still open and serves its messages to the end.
    void CloseWindow();

    virtual bool OpensWindowInSetUp() const { return true; }

    HWND window_ = nullptr;
};

// A client point of a child window, in client coordinates of the main window.
POINT CentreOf(HWND child);
