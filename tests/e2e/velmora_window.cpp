#include "velmora_window.h"

#include "stock_edit_picture.h"

std::vector<PixelCheck> operator+(std::vector<PixelCheck> a, const std::vector<PixelCheck>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

namespace {

// The band along the edges and the field inside it, the same on both screens.
std::vector<PixelCheck> BandAndField() {
    return {
        {"title bar", 300, 10, BACKGROUND},
        {"title bar top left", 0, 0, BACKGROUND},
        {"title bar bottom row", 400, 21, BACKGROUND},
        {"left band", 2, 150, BACKGROUND},
        {"right band", 567, 150, BACKGROUND},
        {"bottom band", 300, 302, BACKGROUND},
        {"bottom right corner", 569, 304, BACKGROUND},
        {"field top left", 5, 22, FRAME},
        {"field bottom right", 564, 299, FRAME},
        {"field at the left", 8, 150, FRAME},
    };
}

}  // namespace

std::vector<PixelCheck> InputScreenFace() {
    return BandAndField() + std::vector<PixelCheck>{
        {"field between camera and FOV panels", 150, 122, FRAME},
        {"camera panel top left", 12, 29, PANEL},
        {"camera panel under the label", 200, 100, PANEL},
        {"camera panel bottom right", 296, 118, PANEL},
        {"camera panel cut corner", 30, 100, FRAME},
        {"camera panel cut corner edge", 49, 70, FRAME},
        {"FOV panel top left", 12, 126, PANEL},
        {"FOV panel beside the edit box", 200, 230, PANEL},
        {"FOV panel cut corner", 30, 200, FRAME},
        {"60 FPS panel top left", 12, 244, PANEL},
        {"60 FPS panel right of the label", 215, 260, PANEL},
        {"60 FPS panel cut corner", 30, 290, FRAME},
        {"field right of the 60 FPS panel", 238, 270, FRAME},
        {"widescreen panel top left", 304, 29, PANEL},
        {"widescreen panel bottom right", 556, 163, PANEL},
        {"widescreen panel left of the display label", 352, 160, PANEL},
        {"widescreen panel cut corner", 320, 120, FRAME},
        {"Apply panel bottom left", 252, 293, PANEL},
        {"Apply panel top right", 556, 192, PANEL},
        {"Apply panel top left of its upper part", 382, 192, PANEL},
        {"Apply panel cut corner", 300, 220, FRAME},
        {"Apply panel cut corner near its edges", 378, 248, FRAME},
        {"field between FOV and widescreen panels", 300, 150, FRAME},
    };
}

std::vector<PixelCheck> ResultScreenFace() {
    return BandAndField() + std::vector<PixelCheck>{
        {"result panel top left", 54, 51, PANEL},
        {"result panel bottom right", 356, 190, PANEL},
        {"result text background", 345, 175, PANEL},
        {"Exit panel top left", 404, 222, PANEL},
        {"Exit panel bottom right", 556, 286, PANEL},
        {"field left of the result panel", 30, 100, FRAME},
        {"field where the camera panel was", 14, 31, FRAME},
        {"field where the 60 FPS panel was", 210, 260, FRAME},
        {"field where the widescreen panel was", 550, 150, FRAME},
        {"field where the widescreen panel began", 306, 31, FRAME},
        {"field where the Apply panel was", 260, 290, FRAME},
        {"field where the Apply panel rose", 390, 200, FRAME},
        {"field between result and Exit panels", 380, 210, FRAME},
    };
}

std::vector<PixelCheck> ToggleLook(const char* what, const Box& box, bool on) {
    return {
        {what, box.x + 1, box.y + 1, FRAME},
        {what, box.x + box.width - 2, box.y + box.height - 2, FRAME},
        {what, box.x + 4, box.y + 4, BACKGROUND},
        {what, box.x + 20, box.y + 20, BACKGROUND},
        {what, box.CentreX(), box.CentreY(), on ? FRAME : BACKGROUND},
        {what, box.x + 7, box.y + 7, on ? FRAME : BACKGROUND},
    };
}

std::vector<PixelCheck> EditLook(const char* what, const Box& box) {
    return {
        {what, box.x, box.y, FRAME},
        {what, box.x + 2, box.CentreY(), FRAME},
        {what, box.x + box.width - 1, box.y + box.height - 1, FRAME},
        {what, box.x + box.width - 5, box.y + box.height - 5, BACKGROUND},
    };
}

std::vector<PixelCheck> PlateButtonLook(bool pressed) {
    const int x = PLATE_BUTTON.x;
    const int y = PLATE_BUTTON.y;
    if (pressed) {
        return {
            {"held button left frame", x + 3, y + 8, FRAME},
            {"held button plate left", x + 4, y + 8, BACKGROUND},
            {"held button top frame", x + 20, y + 3, FRAME},
            {"held button plate top", x + 20, y + 4, BACKGROUND},
            {"held button plate right", x + 102, y + 8, BACKGROUND},
            {"held button right frame", x + 103, y + 8, FRAME},
            {"held button plate bottom", x + 20, y + 37, BACKGROUND},
            {"held button bottom frame", x + 20, y + 38, FRAME},
        };
    }
    return {
        {"button left frame", x + 1, y + 8, FRAME},
        {"button plate left", x + 2, y + 8, BACKGROUND},
        {"button top frame", x + 20, y + 1, FRAME},
        {"button plate top", x + 20, y + 2, BACKGROUND},
        {"button plate right", x + 100, y + 8, BACKGROUND},
        {"button right frame", x + 101, y + 8, FRAME},
        {"button right frame outer", x + 106, y + 8, FRAME},
        {"button plate bottom", x + 20, y + 35, BACKGROUND},
        {"button bottom frame", x + 20, y + 36, FRAME},
        {"button bottom frame outer", x + 20, y + 41, FRAME},
    };
}

std::vector<PixelCheck> CloseButtonLook(bool pressed) {
    const int x = CLOSE_BUTTON.x;
    const int y = CLOSE_BUTTON.y;
    const COLORREF cross = pressed ? FRAME : BLACK;
    return {
        {"close cross", x + 6, y + 6, cross},
        {"close cross", x + 7, y + 7, cross},
        {"close cross centre", x + 8, y + 8, cross},
        {"close cross", x + 9, y + 9, cross},
        {"close cross", x + 9, y + 6, cross},
        {"close cross", x + 6, y + 9, cross},
        {"close plate", x + 1, y + 1, BACKGROUND},
        {"close plate", x + 14, y + 1, BACKGROUND},
        {"close plate", x + 1, y + 14, BACKGROUND},
        {"close plate", x + 14, y + 14, BACKGROUND},
        {"close plate", x + 8, y + 2, BACKGROUND},
        {"close plate", x + 2, y + 8, BACKGROUND},
    };
}

// --- a person's steps ------------------------------------------------------------------------

std::string TextIn(HWND window, const Box& box) {
    HWND edit = ChildAt(window, box.CentreX(), box.CentreY());
    return edit == nullptr ? "(no edit box)" : TextOf(edit);
}

void ClickBox(HWND window, const Box& box) { ClickAt(window, box.CentreX(), box.CentreY()); }

std::string TypeInto(HWND window, const Box& box, const char* text) {
    ClickBox(window, box);
    PressKey(VK_END);
    // More than the box can show: it holds a few characters at most.
    WaitUntil(SCREEN_TIMEOUT_MS, [&] {
        PressKey(VK_BACK);
        return TextIn(window, box).empty();
    });
    TypeKeys(text);
    std::string now;
    WaitUntil(SCREEN_TIMEOUT_MS, [&] {
        now = TextIn(window, box);
        return now == text;
    });
    return now;
}

void HoldDown(HWND window, const Box& button) {
    MoveMouseTo(ScreenPointOf(window, button.CentreX(), button.CentreY()));
    LeftButton(true);
}

namespace {

// The program's text font: "Exo 2 Light" from the program file's font resource (101, of
// type MY_FONT), at height -15 and weight 700, registered for this process alone.
HFONT ProgramTextFont() {
    static const HFONT font = [] {
        char full[MAX_PATH];
        GetFullPathNameA(ProgramPath().c_str(), MAX_PATH, full, nullptr);
        HMODULE program = LoadLibraryExA(full, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        HRSRC found = program == nullptr ? nullptr
                                         : FindResourceA(program, MAKEINTRESOURCEA(101), "MY_FONT");
        if (found != nullptr) {
            DWORD fonts = 0;
            AddFontMemResourceEx(LockResource(LoadResource(program, found)),
                                 SizeofResource(program, found), nullptr, &fonts);
        }
        return CreateFontA(-15, 0, 0, 0, 700, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Exo 2 Light");
    }();
    return font;
}

}  // namespace

std::vector<COLORREF> ShownInEditBox(HWND window, const Box& box) {
    HWND edit = ChildAt(window, box.CentreX(), box.CentreY());
    if (edit == nullptr) return {};
    RECT client;
    GetClientRect(edit, &client);
    POINT origin = {0, 0};
    MapWindowPoints(edit, window, &origin, 1);
    return ReadScreenArea(window, origin.x, origin.y, client.right, client.bottom).pixels;
}

std::vector<COLORREF> StockEditBoxShowing(HWND window, const Box& box, const char* text) {
    HWND edit = ChildAt(window, box.CentreX(), box.CentreY());
    if (edit == nullptr) return {};
    EditShape shape = ShapeOf(edit);
    shape.font = ProgramTextFont();
    return StockEditPicture(shape, text, BACKGROUND);
}

std::string WaitForResultText(HWND window) {
    HWND result = nullptr;
    WaitUntil(SCREEN_TIMEOUT_MS, [&] {
        result = GetDlgItem(window, IDC_RESULT_TEXT);
        return result != nullptr && !TextOf(result).empty();
    });
    return result == nullptr ? "" : TextOf(result);
}

namespace {

bool IsOwnedDialog(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, static_cast<int>(sizeof name));
    return std::string(name) == "#32770" && GetWindow(window, GW_OWNER) != nullptr;
}

// The message box's text is its one static control with text (the icon's has none).
std::string MessageTextOf(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        char name[64] = {};
        GetClassNameA(child, name, static_cast<int>(sizeof name));
        if (lstrcmpiA(name, "Static") != 0) continue;
        const std::string text = TextOf(child);
        if (!text.empty()) return text;
    }
    return "";
}

}  // namespace

bool WaitForMessageBox(DWORD processId, MessageBoxSeen* seen) {
    HWND box = nullptr;
    if (!WaitUntil(SCREEN_TIMEOUT_MS, [&] {
            box = FindTopLevelWindow(processId, IsOwnedDialog);
            return box != nullptr && !MessageTextOf(box).empty();
        })) {
        return false;
    }
    seen->box = box;
    seen->owner = GetWindow(box, GW_OWNER);
    seen->text = MessageTextOf(box);
    return true;
}

bool DismissWithOk(const MessageBoxSeen& seen) {
    HWND ok = GetDlgItem(seen.box, IDOK);
    if (ok == nullptr) return false;
    RECT rect;
    GetWindowRect(ok, &rect);
    MoveMouseTo({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
    LeftButton(true);
    LeftButton(false);
    return WaitUntil(SCREEN_TIMEOUT_MS, [&] { return !IsWindow(seen.box); });
}
