// The program's own drawing: on a bitmap, where each function can be looked at alone, and
// on the live window, where the pieces come together.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "controls.h"
#include "face_model.h"
#include "painting.h"
#include "ui_globals.h"
#include "ui_harness.h"
#include "window_colours.h"

namespace {

// A 32-bit bitmap with a device context, cleared to white.
class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_),
                                   nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        for (int i = 0; i < width * height; ++i) bits_[i] = 0x00FFFFFF;
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    RECT rect() const { return {0, 0, width_, height_}; }
    COLORREF At(int x, int y) const {
        GdiFlush();
        const DWORD pixel = bits_[y * width_ + x];
        return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
    }
    // The smallest rectangle holding every pixel that is none of the given colours.
    RECT BoundsOfOthers(COLORREF a, COLORREF b) const {
        RECT bounds = {width_, height_, -1, -1};
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                const COLORREF pixel = At(x, y);
                if (pixel == a || pixel == b) continue;
                if (x < bounds.left) bounds.left = x;
                if (y < bounds.top) bounds.top = y;
                if (x > bounds.right) bounds.right = x;
                if (y > bounds.bottom) bounds.bottom = y;
            }
        }
        return bounds;
    }
    int Count(COLORREF colour) const {
        int count = 0;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) count += At(x, y) == colour;
        return count;
    }

private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    DWORD* bits_ = nullptr;
};

// --- the face of the window ---------------------------------------------------------------

TEST(WindowFace, ShowsBandFieldAndTheScreensPanels) {
    for (int state : {SCREEN_INPUT, SCREEN_RESULT}) {
        Canvas canvas(570, 305);
        EXPECT_TRUE(PaintMainWindow(canvas.dc(), canvas.rect(), state));
        for (const FacePoint& point : FacePoints()) {
            EXPECT_EQ(canvas.At(point.x, point.y), state == SCREEN_INPUT ? point.input : point.result)
                << point.where << " at " << point.x << "," << point.y << ", screen " << state;
        }
    }
}

TEST(WindowFace, UnknownScreenGetsBandAndFieldOnly) {
    Canvas canvas(570, 305);
    EXPECT_TRUE(PaintMainWindow(canvas.dc(), canvas.rect(), 2));
    EXPECT_EQ(canvas.Count(PANEL), 0);
    EXPECT_EQ(canvas.Count(FRAME), 560 * 278);
    EXPECT_EQ(canvas.Count(BACKGROUND), 570 * 305 - 560 * 278);
}

// --- toggle boxes and edit frames -------------------------------------------------------------

TEST(ToggleBoxDrawing, OffIsAFramedSquareAndOnAddsTheInnerSquare) {
    for (bool on : {false, true}) {
        Canvas canvas(25, 25);
        EXPECT_TRUE(DrawToggleBox(canvas.dc(), canvas.rect(), on));
        int wrong = 0;
        for (int y = 0; y < 25; ++y)
            for (int x = 0; x < 25; ++x) wrong += canvas.At(x, y) != ToggleBoxColourAt(x, y, on);
        EXPECT_EQ(wrong, 0) << (on ? "on" : "off");
    }
}

TEST(EditFrameDrawing, CoversTheWholeWindowRectangleFlat) {
    Canvas canvas(65, 32);
    EXPECT_TRUE(DrawEditFrame(canvas.dc(), canvas.rect()));
    EXPECT_EQ(canvas.Count(FRAME), 65 * 32);
}

// --- owner-drawn buttons ---------------------------------------------------------------------

// Widths of the frame-coloured runs at the four sides, along the middle row and column.
struct FrameWidths {
    int left, top, right, bottom;
};

FrameWidths MeasureFrame(const Canvas& canvas, int width, int height) {
    FrameWidths w = {0, 0, 0, 0};
    const int midY = height / 2, midX = 8;  // column 8 is clear of the caption
    while (canvas.At(w.left, midY) == FRAME) ++w.left;
    while (canvas.At(width - 1 - w.right, midY) == FRAME) ++w.right;
    while (canvas.At(midX, w.top) == FRAME) ++w.top;
    while (canvas.At(midX, height - 1 - w.bottom) == FRAME) ++w.bottom;
    return w;
}

class PlateDrawing : public ::testing::TestWithParam<const char*> {
protected:
    void Draw(Canvas& canvas, bool pressed) {
        HGDIOBJ old = SelectObject(canvas.dc(), font_);
        DrawPlateButton(canvas.dc(), canvas.rect(), pressed, GetParam());
        SelectObject(canvas.dc(), old);
    }
    HFONT font_ = CreateWindowFont(-15);
    ~PlateDrawing() override { DeleteObject(font_); }
};

TEST_P(PlateDrawing, ReleasedIsThinTopLeftAndThickBottomRight) {
    Canvas canvas(107, 42);
    Draw(canvas, false);
    const FrameWidths w = MeasureFrame(canvas, 107, 42);
    EXPECT_EQ(w.left, 2);
    EXPECT_EQ(w.top, 2);
    EXPECT_EQ(w.right, 6);
    EXPECT_EQ(w.bottom, 6);
    EXPECT_EQ(canvas.At(2, 2), BACKGROUND);
    EXPECT_EQ(canvas.At(100, 35), BACKGROUND);
    EXPECT_EQ(canvas.At(101, 35), FRAME);
}

TEST_P(PlateDrawing, PressedIsEvenAndMovesTheCaptionOneDownRight) {
    Canvas released(107, 42), pressed(107, 42);
    Draw(released, false);
    Draw(pressed, true);
    const FrameWidths w = MeasureFrame(pressed, 107, 42);
    EXPECT_EQ(w.left, 4);
    EXPECT_EQ(w.top, 4);
    EXPECT_EQ(w.right, 4);
    EXPECT_EQ(w.bottom, 4);

    const RECT up = released.BoundsOfOthers(FRAME, BACKGROUND);
    const RECT down = pressed.BoundsOfOthers(FRAME, BACKGROUND);
    ASSERT_GT(up.right, up.left) << "the caption was drawn";
    EXPECT_EQ(down.left, up.left + 1);
    EXPECT_EQ(down.top, up.top + 1);
    EXPECT_EQ(down.right, up.right + 1);
    EXPECT_EQ(down.bottom, up.bottom + 1);
    // Centred on the plate: the caption's middle is near x 50, y 18 when released.
    EXPECT_NEAR((up.left + up.right) / 2.0, 50, 3);
    EXPECT_NEAR((up.top + up.bottom) / 2.0, 18, 4);
}

INSTANTIATE_TEST_SUITE_P(Captions, PlateDrawing, ::testing::Values("Apply", "Exit"));

TEST(CloseButtonDrawing, IsABlackCrossThatTurnsFrameColouredWhilePressed) {
    for (bool pressed : {false, true}) {
        Canvas canvas(16, 16);
        DrawCloseButton(canvas.dc(), canvas.rect(), pressed);
        const COLORREF ink = pressed ? FRAME : BLACK;
        const COLORREF notInk = pressed ? BLACK : FRAME;
        for (POINT p : {POINT{6, 6}, POINT{8, 8}, POINT{9, 9}, POINT{9, 6}, POINT{6, 9}}) {
            EXPECT_EQ(canvas.At(p.x, p.y), ink) << p.x << "," << p.y << (pressed ? " pressed" : "");
        }
        for (POINT p : {POINT{0, 0}, POINT{15, 15}, POINT{8, 2}, POINT{2, 8}, POINT{13, 13}}) {
            EXPECT_EQ(canvas.At(p.x, p.y), BACKGROUND) << p.x << "," << p.y;
        }
        EXPECT_EQ(canvas.Count(notInk), 0);
        EXPECT_EQ(canvas.Count(ink) + canvas.Count(BACKGROUND), 256);
    }
}

// Whatever the drawing changes in the device context, it puts back.
TEST(ButtonDrawing, LeavesTheDeviceContextAsItFoundIt) {
    Canvas canvas(107, 42);
    HPEN pen = CreatePen(PS_DOT, 1, RGB(1, 2, 3));
    HGDIOBJ oldPen = SelectObject(canvas.dc(), pen);
    SetBkMode(canvas.dc(), OPAQUE);
    SetTextColor(canvas.dc(), RGB(10, 20, 30));
    DrawPlateButton(canvas.dc(), canvas.rect(), false, "Apply");
    DrawPlateButton(canvas.dc(), canvas.rect(), true, "Exit");
    DrawCloseButton(canvas.dc(), {0, 0, 16, 16}, false);
    DrawCloseButton(canvas.dc(), {0, 0, 16, 16}, true);
    EXPECT_EQ(GetBkMode(canvas.dc()), OPAQUE);
    EXPECT_EQ(GetTextColor(canvas.dc()), RGB(10, 20, 30));
    EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_PEN), pen);
    SelectObject(canvas.dc(), oldPen);
    DeleteObject(pen);
}

// --- the live window ----------------------------------------------------------------------

using LiveFace = MainWindowTest;

TEST_F(LiveFace, InputScreenShowsItsPanelsAroundTheControls) {
    for (const FacePoint& point : FacePoints()) {
        EXPECT_EQ(PixelOf(window_, point.x, point.y), point.input)
            << point.where << " at " << point.x << "," << point.y;
    }
}

// The labels sit on the panel colour and the title on the band's, each in black.
TEST_F(LiveFace, LabelsAndTitleGetTheirBackgroundsAndBlackText) {
    struct Spot {
        HWND* control;
        int x, y;  // a spot in the control that no text covers
        COLORREF colour;
    };
    const Spot spots[] = {
        {&g_hLabelCamera, 218, 2, PANEL},   {&g_hLabelFov, 218, 58, PANEL},
        {&g_hLabelWidescreen, 178, 2, PANEL}, {&g_hLabelDisplay, 123, 30, PANEL},
        {&g_hLabelFps, 128, 43, PANEL},     {&g_hTitle, 248, 15, BACKGROUND},
    };
    for (const Spot& spot : spots) {
        HWND control = *spot.control;
        EXPECT_EQ(PixelOf(control, spot.x, spot.y), spot.colour) << TextOf(control);
        RECT client;
        GetClientRect(control, &client);
        int black = 0;
        for (int y = 0; y < client.bottom; ++y)
            for (int x = 0; x < client.right; ++x) black += PixelOf(control, x, y) == BLACK;
        EXPECT_GT(black, 10) << TextOf(control);
    }
}

// The control-colour answers are the two long-lived brushes, told apart by window handle:
// the title strip shares its identifier with a label but gets the background brush.
TEST_F(LiveFace, ControlColoursHandOutTheTwoKeptBrushes) {
    HDC hdc = GetDC(window_);
    const auto ask = [&](UINT message, HWND control) {
        SetBkMode(hdc, OPAQUE);
        SetTextColor(hdc, RGB(1, 2, 3));
        const HBRUSH brush = reinterpret_cast<HBRUSH>(SendMessageA(
            window_, message, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(control)));
        EXPECT_EQ(GetBkMode(hdc), TRANSPARENT);
        EXPECT_EQ(GetTextColor(hdc), BLACK);
        return brush;
    };
    const HBRUSH panel = ask(WM_CTLCOLORSTATIC, g_hLabelCamera);
    const HBRUSH background = ask(WM_CTLCOLOREDIT, g_hEditCamera);
    LOGBRUSH logBrush = {};
    ASSERT_NE(GetObjectA(panel, sizeof logBrush, &logBrush), 0);
    EXPECT_EQ(logBrush.lbColor, PANEL);
    ASSERT_NE(GetObjectA(background, sizeof logBrush, &logBrush), 0);
    EXPECT_EQ(logBrush.lbColor, BACKGROUND);

    for (HWND label : {g_hLabelFov, g_hLabelWidescreen, g_hLabelDisplay, g_hLabelFps}) {
        EXPECT_EQ(ask(WM_CTLCOLORSTATIC, label), panel);
    }
    for (HWND other : {g_hTitle, g_hToggleCamera, g_hToggleFps}) {
        EXPECT_EQ(ask(WM_CTLCOLORSTATIC, other), background);
    }
    EXPECT_EQ(ask(WM_CTLCOLOREDIT, g_hEditDisplayHeight), background);
    ReleaseDC(window_, hdc);
}

// Held down, Apply shows the even frame and the close cross its frame colour; released
// away from the button, they are drawn released again and nothing is pressed.
TEST_F(LiveFace, ButtonsShowWhileHeldDown) {
    const RECT apply = RectInParent(g_hApplyButton);
    EXPECT_EQ(PixelOf(g_hApplyButton, 1, 20), FRAME);
    EXPECT_EQ(PixelOf(g_hApplyButton, 2, 20), BACKGROUND);
    EXPECT_EQ(PixelOf(g_hApplyButton, 100, 20), BACKGROUND);
    EXPECT_EQ(PixelOf(g_hApplyButton, 101, 20), FRAME);
    EXPECT_EQ(PixelOf(g_hCloseButton, 8, 8), BLACK);

    POINT at = {apply.left + 20, apply.top + 20};
    ClientToScreen(window_, &at);
    MoveMouseTo(at.x, at.y);
    LeftButton(true);
    PumpUntilIdle();
    EXPECT_EQ(PixelOf(g_hApplyButton, 3, 20), FRAME);
    EXPECT_EQ(PixelOf(g_hApplyButton, 4, 20), BACKGROUND);
    EXPECT_EQ(PixelOf(g_hApplyButton, 102, 20), BACKGROUND);
    EXPECT_EQ(PixelOf(g_hApplyButton, 103, 20), FRAME);
    MoveMouseTo(at.x - 200, at.y);
    LeftButton(false);
    PumpUntilIdle();
    EXPECT_EQ(PixelOf(g_hApplyButton, 2, 20), BACKGROUND);
    EXPECT_EQ(PixelOf(g_hApplyButton, 101, 20), FRAME);

    const POINT close = CentreOf(g_hCloseButton);
    at = close;
    ClientToScreen(window_, &at);
    MoveMouseTo(at.x, at.y);
    LeftButton(true);
    PumpUntilIdle();
    EXPECT_EQ(PixelOf(g_hCloseButton, 8, 8), FRAME);
    EXPECT_EQ(PixelOf(g_hCloseButton, 1, 1), BACKGROUND);
    MoveMouseTo(at.x - 200, at.y + 100);
    LeftButton(false);
    PumpUntilIdle();
    EXPECT_EQ(PixelOf(g_hCloseButton, 8, 8), BLACK);

    EXPECT_EQ(g_screenState, SCREEN_INPUT);
    EXPECT_TRUE(IsWindow(window_));
}

// Paints, redraws, toggle clicks and button presses, many times over, leave the number of
// graphics objects where it was.
TEST_F(LiveFace, RepaintingHoldsNoGraphicsObjects) {
    const auto exercise = [&](int rounds) {
        for (int i = 0; i < rounds; ++i) {
            InvalidateRect(window_, nullptr, TRUE);
            UpdateWindow(window_);
            RedrawWindow(window_, nullptr, nullptr,
                         RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            for (HWND button : {g_hApplyButton, g_hCloseButton}) {
                SendMessageA(button, BM_SETSTATE, TRUE, 0);
                UpdateWindow(button);
                SendMessageA(button, BM_SETSTATE, FALSE, 0);
                UpdateWindow(button);
            }
        }
        const POINT box = CentreOf(g_hToggleFov);
        ClickAt(window_, box.x, box.y);
        ClickAt(window_, box.x, box.y);
        PumpUntilIdle();
    };
    exercise(2);  // lets the system make what it keeps for later
    std::string how;
    const int before = CountGdiObjects(&how);
    // Without a count this check proves nothing, and that must show as a failure.
    ASSERT_GE(before, 0) << "no count of the process's GDI objects, so no leak can be seen: "
                         << how;
    // The count must see objects come and go, or an unchanged number would mean nothing.
    HBRUSH probes[5];
    for (HBRUSH& probe : probes) probe = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_EQ(CountGdiObjects(), before + 5) << "five new brushes, counted by " << how;
    for (HBRUSH probe : probes) DeleteObject(probe);
    ASSERT_EQ(CountGdiObjects(), before) << "five brushes deleted again, counted by " << how;

    exercise(40);
    EXPECT_EQ(CountGdiObjects(), before) << "counted by " << how;
}

}  // namespace
