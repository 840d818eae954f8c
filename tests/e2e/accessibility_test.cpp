// The real program as a screen reader in another process reads it: each control found on
// the screen, asked through AccessibleObjectFromWindow, gives its name, role and state, the
// toggles follow the mouse, and being asked changes nothing that the screen shows.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "accessible_probe.h"
#include "game_folder.h"
#include "program_driver.h"
#include "velmora_window.h"

#include <oleacc.h>

namespace {

struct Described {
    const char* what;
    Box box;
    const char* name;
    long role;
};

const Described INPUT_SCREEN[] = {
    {"widescreen toggle", TOGGLE_WIDESCREEN, "Widescreen aspect ratio", ROLE_SYSTEM_CHECKBUTTON},
    {"camera toggle", TOGGLE_CAMERA, "Camera distance", ROLE_SYSTEM_CHECKBUTTON},
    {"field-of-view toggle", TOGGLE_FOV, "Field of view", ROLE_SYSTEM_CHECKBUTTON},
    {"60 FPS toggle", TOGGLE_FPS, "Unlock 60 FPS", ROLE_SYSTEM_CHECKBUTTON},
    {"camera field", EDIT_CAMERA, "Camera distance", ROLE_SYSTEM_TEXT},
    {"screen width field", EDIT_FOV, "Screen width", ROLE_SYSTEM_TEXT},
    {"display width field", EDIT_WIDTH, "Display width", ROLE_SYSTEM_TEXT},
    {"display height field", EDIT_HEIGHT, "Display height", ROLE_SYSTEM_TEXT},
    {"Apply", PLATE_BUTTON, "Apply", ROLE_SYSTEM_PUSHBUTTON},
    {"close button", CLOSE_BUTTON, "Close", ROLE_SYSTEM_PUSHBUTTON},
};

// One line per control in the test's output, so that a run shows what a screen reader hears.
void Report(const char* what, const AccessibleFacts& facts) {
    std::printf("  %-22s name \"%s\", %s, state 0x%lX%s\n", what, facts.name.c_str(),
                RoleName(facts.role).c_str(), static_cast<unsigned long>(facts.state),
                (facts.state & STATE_SYSTEM_CHECKED) != 0 ? " (checked)" : "");
}

AccessibleFacts ProbeAt(HWND window, const Box& box) {
    HWND control = ChildAt(window, box.CentreX(), box.CentreY());
    if (control == nullptr) {
        AccessibleFacts none;
        none.why = "no control there";
        return none;
    }
    return ProbeAccessible(control);
}

TEST(ProgramAccessibility, ScreenReaderInAnotherProcessReadsBothScreens) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FixtureImage());
    RunningProgram program;
    std::string why;
    ASSERT_TRUE(program.Start(ProgramPath(), folder.Path(), &why)) << why;
    const HWND window = program.Window();

    for (const Described& want : INPUT_SCREEN) {
        SCOPED_TRACE(want.what);
        const AccessibleFacts facts = ProbeAt(window, want.box);
        ASSERT_TRUE(facts.found) << facts.why;
        Report(want.what, facts);
        EXPECT_EQ(facts.name, want.name);
        EXPECT_EQ(RoleName(facts.role), RoleName(want.role));
    }
    EXPECT_TRUE(IsChecked(ProbeAt(window, TOGGLE_WIDESCREEN)));
    EXPECT_FALSE(IsChecked(ProbeAt(window, TOGGLE_CAMERA)));
    EXPECT_EQ(ProbeAt(window, EDIT_CAMERA).value, "1536");

    // The camera box, clicked, reads checked, and shows as on; clicked again, neither.
    ClickBox(window, TOGGLE_CAMERA);
    EXPECT_TRUE(WaitUntil(SCREEN_TIMEOUT_MS, [&] { return IsChecked(ProbeAt(window, TOGGLE_CAMERA)); }));
    Report("camera toggle, clicked", ProbeAt(window, TOGGLE_CAMERA));
    EXPECT_SCREEN(window, ToggleLook("camera toggle", TOGGLE_CAMERA, true));
    ClickBox(window, TOGGLE_CAMERA);
    EXPECT_TRUE(WaitUntil(SCREEN_TIMEOUT_MS, [&] { return !IsChecked(ProbeAt(window, TOGGLE_CAMERA)); }));

    // Asked about every control, the window looks as it always does, texts included.
    EXPECT_SCREEN(window, InputScreenFace() + ToggleLook("camera toggle", TOGGLE_CAMERA, false) +
                              ToggleLook("widescreen toggle", TOGGLE_WIDESCREEN, true) +
                              EditLook("camera field", EDIT_CAMERA) + PlateButtonLook(false) +
                              CloseButtonLook(false));
    EXPECT_EQ(TextIn(window, EDIT_CAMERA), "1536");
    EXPECT_EQ(CaptionOf(window), "");

    ClickBox(window, PLATE_BUTTON);
    const std::string shown = WaitForResultText(window);
    ASSERT_NE(shown, "");
    const AccessibleFacts result = ProbeAccessible(GetDlgItem(window, IDC_RESULT_TEXT));
    ASSERT_TRUE(result.found) << result.why;
    Report("result text", result);
    EXPECT_EQ(result.name, shown);
    EXPECT_EQ(RoleName(result.role), RoleName(ROLE_SYSTEM_STATICTEXT));
    const AccessibleFacts exit = ProbeAt(window, PLATE_BUTTON);
    Report("Exit", exit);
    EXPECT_EQ(exit.name, "Exit");
    EXPECT_EQ(RoleName(exit.role), RoleName(ROLE_SYSTEM_PUSHBUTTON));
    EXPECT_SCREEN(window, ResultScreenFace() + PlateButtonLook(false) + CloseButtonLook(false));

    ClickBox(window, PLATE_BUTTON);
    DWORD code = 1;
    ASSERT_TRUE(program.WaitForExit(EXIT_TIMEOUT_MS, &code));
    EXPECT_EQ(code, 0u);
}

}  // namespace
