// The controls with replaced procedures, used as a player uses them: the toggle boxes,
// the input fields, the title strip and the title bar.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "face_model.h"
#include "main_dialog.h"
#include "stock_edit_picture.h"
#include "ui_globals.h"
#include "ui_harness.h"
#include "window_colours.h"

namespace {

// --- toggle boxes ------------------------------------------------------------------------

struct ToggleCase {
    HWND* box;
    unsigned char* toggle;
    const char* name;
};

const ToggleCase TOGGLES[] = {
    {&g_hToggleCamera, &g_bFeatureToggles[RULE_CAMERA], "camera distance"},
    {&g_hToggleFov, &g_bFeatureToggles[RULE_FOV], "field of view"},
    {&g_hToggleWidescreen, &g_bFeatureToggles[RULE_WIDESCREEN], "widescreen"},
    {&g_hToggleFps, &g_bFeatureToggles[RULE_FPS], "60 FPS"},
};

struct ToggleState {
    unsigned char values[4];
    bool operator==(const ToggleState& other) const {
        for (int i = 0; i < 4; ++i) if (values[i] != other.values[i]) return false;
        return true;
    }
};

ToggleState CurrentToggles() {
    return {{g_bFeatureToggles[RULE_CAMERA], g_bFeatureToggles[RULE_FOV], g_bFeatureToggles[RULE_WIDESCREEN],
             g_bFeatureToggles[RULE_FPS]}};
}

void ExpectBoxShows(HWND box, bool on) {
    int wrong = 0;
    for (int y = 0; y < 25; ++y) {
        for (int x = 0; x < 25; ++x) wrong += PixelOf(box, x, y) != ToggleBoxColourAt(x, y, on);
    }
    EXPECT_EQ(wrong, 0) << "pixels of the box that differ from an " << (on ? "on" : "off") << " box";
}

class ToggleBox : public MainWindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(ToggleBox, ClickFlipsOnlyItsToggleAndRepaintsOnlyItself) {
    const ToggleCase& c = TOGGLES[GetParam()];
    SCOPED_TRACE(c.name);
    HWND box = *c.box;
    ToggleState expected = CurrentToggles();
    expected.values[GetParam()] ^= 1;

    MessageSpy spy;
    const POINT centre = CentreOf(box);
    ClickAt(window_, centre.x, centre.y);

    EXPECT_TRUE(CurrentToggles() == expected);
    EXPECT_EQ(spy.CountPosted(box, WM_PAINT), 1);
    for (const ToggleCase& other : TOGGLES) {
        if (*other.box != box) {
            EXPECT_EQ(spy.CountPosted(*other.box, WM_PAINT), 0);
        }
    }
    EXPECT_EQ(spy.CountPosted(window_, WM_PAINT), 0);
    for (HWND edit : {g_hEditCamera, g_hEditFov, g_hEditDisplayWidth, g_hEditDisplayHeight}) {
        EXPECT_EQ(spy.CountPosted(edit, WM_PAINT), 0);
    }
    ExpectBoxShows(box, *c.toggle != 0);
}

// The second press of a quick pair arrives as a double click and flips the toggle back.
TEST_P(ToggleBox, DoubleClickFlipsTwice) {
    const ToggleCase& c = TOGGLES[GetParam()];
    SCOPED_TRACE(c.name);
    const ToggleState before = CurrentToggles();
    MessageSpy spy;
    const POINT centre = CentreOf(*c.box);
    DoubleClickAt(window_, centre.x, centre.y);
    EXPECT_EQ(spy.CountPosted(*c.box, WM_LBUTTONDOWN), 1);
    EXPECT_EQ(spy.CountPosted(*c.box, WM_LBUTTONDBLCLK), 1);
    EXPECT_TRUE(CurrentToggles() == before);
    ExpectBoxShows(*c.box, *c.toggle != 0);
}

TEST_P(ToggleBox, RightButtonAndKeysLeaveItAlone) {
    const ToggleCase& c = TOGGLES[GetParam()];
    const ToggleState before = CurrentToggles();
    const POINT centre = CentreOf(*c.box);
    RightClickAt(window_, centre.x, centre.y);
    SetFocus(*c.box);
    PressKey(VK_SPACE);
    PressKey(VK_RETURN);
    EXPECT_TRUE(CurrentToggles() == before);
}

std::string BoxName(const ::testing::TestParamInfo<int>& info) {
    const char* const names[] = {"Camera", "Fov", "Widescreen", "Fps"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(EachBox, ToggleBox, ::testing::Range(0, 4), BoxName);

using ToggleBoxes = MainWindowTest;

TEST_F(ToggleBoxes, StartWithOnlyWidescreenOn) {
    ExpectBoxShows(g_hToggleCamera, false);
    ExpectBoxShows(g_hToggleFov, false);
    ExpectBoxShows(g_hToggleWidescreen, true);
    ExpectBoxShows(g_hToggleFps, false);
}

// --- input fields --------------------------------------------------------------------------

struct FieldCase {
    HWND* edit;
    const char* initial;
    const char* typed;
};

const FieldCase FIELDS[] = {
    {&g_hEditCamera, "1536", "2000"},
    {&g_hEditFov, "undef", "1920"},
    {&g_hEditDisplayWidth, "16", "21"},
    {&g_hEditDisplayHeight, "9", "10"},
};

void ReplaceText(HWND window, HWND edit, const char* text) {
    const POINT centre = CentreOf(edit);
    ClickAt(window, centre.x, centre.y);
    PressKey(VK_END);
    for (int i = 0; i < 8; ++i) PressKey(VK_BACK);
    TypeText(text);
}

// Every pixel of the three-pixel band between the outer edge and the client area.
int FramePixelsNotFlat(HWND edit) {
    RECT rect;
    GetWindowRect(edit, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    int wrong = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool inBand = x < 3 || y < 3 || x >= width - 3 || y >= height - 3;
            if (inBand) wrong += WindowPixelOf(edit, x, y) != FRAME;
        }
    }
    return wrong;
}

// The background, black, or a smoothed glyph edge between the two: the same share of
// black in each of red, green and blue.
bool IsBlackInkOnBackground(COLORREF pixel) {
    const double r = GetRValue(pixel) / double(GetRValue(BACKGROUND));
    const double g = GetGValue(pixel) / double(GetGValue(BACKGROUND));
    const double b = GetBValue(pixel) / double(GetBValue(BACKGROUND));
    const double low = std::min(r, std::min(g, b)), high = std::max(r, std::max(g, b));
    return high <= 1.0 && high - low < 0.1;
}

void RepaintEverything(HWND window, HWND edit) {
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
    InvalidateRect(edit, nullptr, TRUE);
    UpdateWindow(edit);
    RedrawWindow(edit, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RedrawWindow(window, nullptr, nullptr,
                 RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageA(edit, WM_NCPAINT, 1, 0);
    PumpUntilIdle();
}

class InputField : public MainWindowTest, public ::testing::WithParamInterface<int> {};

// What the box's client area shows, row by row, without the blinking caret.
std::vector<COLORREF> ShownIn(HWND edit) {
    RECT client;
    GetClientRect(edit, &client);
    HideCaret(edit);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < client.right; ++x) pixels.push_back(PixelOf(edit, x, y));
    ShowCaret(edit);
    return pixels;
}

// Kept in the box and on the screen: after the repaints the box shows what the system's
// own edit control shows for the typed text.
TEST_P(InputField, KeepsTypedTextThroughRepaints) {
    const FieldCase& c = FIELDS[GetParam()];
    HWND edit = *c.edit;
    EXPECT_EQ(TextOf(edit), c.initial);
    ReplaceText(window_, edit, c.typed);
    ASSERT_EQ(TextOf(edit), c.typed);
    RepaintEverything(window_, edit);
    EXPECT_EQ(TextOf(edit), c.typed);

    const std::vector<COLORREF> shown = ShownIn(edit);
    EditShape shape = ShapeOf(edit);
    shape.font = reinterpret_cast<HFONT>(SendMessageA(edit, WM_GETFONT, 0, 0));
    const std::vector<COLORREF> typed = StockEditPicture(shape, c.typed, BACKGROUND);
    ASSERT_NE(DifferentPixels(typed, StockEditPicture(shape, c.initial, BACKGROUND)), 0)
        << "the typed and the default text look alike";
    EXPECT_EQ(DifferentPixels(shown, typed), 0)
        << "pixels of the box that differ from a stock edit control holding \"" << c.typed << "\"";
    // The others keep their defaults.
    for (const FieldCase& other : FIELDS) {
        if (*other.edit != edit) {
            EXPECT_EQ(TextOf(*other.edit), other.initial);
        }
    }
}

// Flat in the frame colour, focused or not, after any kind of repaint; the client area
// shows black text on the background colour.
TEST_P(InputField, HasAFlatFrameAndBlackTextOnTheBackground) {
    HWND edit = *FIELDS[GetParam()].edit;
    EXPECT_EQ(FramePixelsNotFlat(edit), 0);
    const POINT centre = CentreOf(edit);
    ClickAt(window_, centre.x, centre.y);
    ASSERT_EQ(GetFocus(), edit);
    EXPECT_EQ(FramePixelsNotFlat(edit), 0);
    RepaintEverything(window_, edit);
    EXPECT_EQ(FramePixelsNotFlat(edit), 0);

    RECT client;
    GetClientRect(edit, &client);
    int black = 0, notText = 0;
    HideCaret(edit);  // the blinking caret is drawn by the system, not by the box
    for (int y = 0; y < client.bottom; ++y) {
        for (int x = 0; x < client.right; ++x) {
            const COLORREF pixel = PixelOf(edit, x, y);
            black += pixel == BLACK;
            notText += !IsBlackInkOnBackground(pixel);
        }
    }
    ShowCaret(edit);
    EXPECT_GT(black, 10);
    EXPECT_EQ(notText, 0);
    EXPECT_EQ(PixelOf(edit, client.right - 2, client.bottom - 2), BACKGROUND);
}

std::string FieldName(const ::testing::TestParamInfo<int>& info) {
    const char* const names[] = {"Camera", "Fov", "DisplayWidth", "DisplayHeight"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(EachField, InputField, ::testing::Range(0, 4), FieldName);

// --- dragging ----------------------------------------------------------------------------

struct PressCase {
    int x, y;
    bool moves;
};

class TitleBand : public MainWindowTest, public ::testing::WithParamInterface<PressCase> {};

// The top 22 rows of the window's own surface start a move; row 22 and below do not.
TEST_P(TitleBand, PressStartsAMoveOnlyInTheTopRows) {
    const PressCase& c = GetParam();
    MessageSpy spy;
    ClickAt(window_, c.x, c.y);
    int moveCommands = 0;
    for (const SeenMessage& seen : spy.Sent()) {
        moveCommands += seen.window == window_ && seen.message == WM_SYSCOMMAND &&
                        seen.wParam == (SC_MOVE | HTCAPTION) && seen.lParam == 0;
    }
    EXPECT_EQ(moveCommands, c.moves ? 1 : 0);
    EXPECT_EQ(spy.Count(window_, WM_ENTERSIZEMOVE), c.moves ? 1 : 0);
    EXPECT_EQ(spy.CountPosted(window_, WM_LBUTTONDOWN), 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, TitleBand,
                         ::testing::Values(PressCase{0, 0, true}, PressCase{300, 21, true},
                                           PressCase{569, 21, true}, PressCase{300, 22, false},
                                           PressCase{0, 22, false}, PressCase{300, 200, false}),
                         [](const ::testing::TestParamInfo<PressCase>& info) {
                             return "X" + std::to_string(info.param.x) + "Y" +
                                    std::to_string(info.param.y);
                         });

using Dragging = MainWindowTest;

TEST_F(Dragging, TitleBarMovesTheWindowWithTheMouse) {
    RECT before, after;
    GetWindowRect(window_, &before);
    DragBy(window_, 300, 10, 40, 30);
    GetWindowRect(window_, &after);
    EXPECT_EQ(after.left - before.left, 40);
    EXPECT_EQ(after.top - before.top, 30);
    EXPECT_EQ(after.right - after.left, 570);
}

// The strip starts the move, then still gets the press itself (its notification to the
// window follows the move).
TEST_F(Dragging, TitleStripMovesTheWindowAndStillSeesThePress) {
    RECT before, after;
    GetWindowRect(window_, &before);
    MessageSpy spy;
    const POINT strip = CentreOf(g_hTitle);
    DragBy(window_, strip.x, strip.y, -30, -20);
    GetWindowRect(window_, &after);
    EXPECT_EQ(after.left - before.left, -30);
    EXPECT_EQ(after.top - before.top, -20);

    int exitMove = -1, clicked = -1;
    const std::vector<SeenMessage>& sent = spy.Sent();
    for (size_t i = 0; i < sent.size(); ++i) {
        if (sent[i].window != window_) continue;
        if (sent[i].message == WM_EXITSIZEMOVE) exitMove = static_cast<int>(i);
        if (sent[i].message == WM_COMMAND && reinterpret_cast<HWND>(sent[i].lParam) == g_hTitle &&
            HIWORD(sent[i].wParam) == STN_CLICKED) {
            clicked = static_cast<int>(i);
        }
    }
    ASSERT_GE(exitMove, 0);
    EXPECT_GT(clicked, exitMove);
}

// Ends a move loop that should not have started, instead of leaving the test waiting in it.
void CALLBACK ReleaseButton(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    LeftButton(false);
}

TEST_F(Dragging, PressBelowTheBandIsHandledWithoutAMove) {
    MessageSpy spy;
    const UINT_PTR rescue = SetTimer(nullptr, 0, 1000, ReleaseButton);
    EXPECT_EQ(MainDialogProc(window_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 22)), 1);
    KillTimer(nullptr, rescue);
    EXPECT_EQ(spy.Count(window_, WM_ENTERSIZEMOVE), 0);
}

// --- removal of the subclass ---------------------------------------------------------------

struct TeardownSeen {
    bool reached = false;
    LONG_PTR procedure = 0;
    LONG_PTR slot = 0;
};
TeardownSeen g_teardown;
WNDPROC g_stockProc = nullptr;

// Stands in the slot for the stock procedure and looks at the control when WM_NCDESTROY
// reaches it.
LRESULT CALLBACK StockStandIn(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCDESTROY) {
        g_teardown.reached = true;
        g_teardown.procedure = GetWindowLongPtrA(hwnd, GWLP_WNDPROC);
        g_teardown.slot = GetWindowLongPtrA(hwnd, GWLP_USERDATA);
    }
    return CallWindowProcA(g_stockProc, hwnd, message, wParam, lParam);
}

class SubclassRemoval : public MainWindowTest, public ::testing::WithParamInterface<int> {};

// Before the stock procedure sees WM_NCDESTROY, it is the window's procedure again and the
// slot is empty.
TEST_P(SubclassRemoval, PutsTheStockProcedureBackBeforeItSeesNcDestroy) {
    HWND* const subclassed[] = {&g_hToggleCamera, &g_hToggleFov, &g_hToggleWidescreen,
                                &g_hToggleFps,    &g_hEditCamera, &g_hEditFov,
                                &g_hEditDisplayWidth, &g_hEditDisplayHeight, &g_hTitle};
    HWND control = *subclassed[GetParam()];
    g_teardown = TeardownSeen();
    g_stockProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(control, GWLP_USERDATA));
    ASSERT_EQ(reinterpret_cast<LONG_PTR>(g_stockProc),
              static_cast<LONG_PTR>(GetClassLongPtrA(control, GCLP_WNDPROC)));
    SetWindowLongPtrA(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(StockStandIn));

    DestroyWindow(control);

    EXPECT_TRUE(g_teardown.reached);
    EXPECT_EQ(g_teardown.procedure, reinterpret_cast<LONG_PTR>(StockStandIn));
    EXPECT_EQ(g_teardown.slot, 0);
}

std::string SubclassedName(const ::testing::TestParamInfo<int>& info) {
    const char* const names[] = {"ToggleCamera", "ToggleFov",       "ToggleWidescreen",
                                 "ToggleFps",    "EditCamera",      "EditFov",
                                 "EditDisplayWidth", "EditDisplayHeight", "TitleStrip"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(EachSubclassedControl, SubclassRemoval, ::testing::Range(0, 9),
                         SubclassedName);

}  // namespace
