// The window as assistive technology reads it: each control's name, role and state through
// AccessibleObjectFromWindow, the toggles' checked state following the mouse, and the
// events that tell a screen reader to look again.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "accessible_probe.h"
#include "ui_globals.h"
#include "ui_harness.h"

#include <oleacc.h>

namespace {

struct Described {
    HWND* control;
    const char* name;
    long role;
};

const Described INPUT_SCREEN[] = {
    {&g_hToggleWidescreen, "Widescreen aspect ratio", ROLE_SYSTEM_CHECKBUTTON},
    {&g_hToggleCamera, "Camera distance", ROLE_SYSTEM_CHECKBUTTON},
    {&g_hToggleFov, "Field of view", ROLE_SYSTEM_CHECKBUTTON},
    {&g_hToggleFps, "Unlock 60 FPS", ROLE_SYSTEM_CHECKBUTTON},
    {&g_hEditCamera, "Camera distance", ROLE_SYSTEM_TEXT},
    {&g_hEditFov, "Screen width", ROLE_SYSTEM_TEXT},
    {&g_hEditDisplayWidth, "Display width", ROLE_SYSTEM_TEXT},
    {&g_hEditDisplayHeight, "Display height", ROLE_SYSTEM_TEXT},
    {&g_hApplyButton, "Apply", ROLE_SYSTEM_PUSHBUTTON},
    {&g_hCloseButton, "Close", ROLE_SYSTEM_PUSHBUTTON},
};

// The events of this process since the recorder was made.
struct SeenEvent {
    DWORD event;
    HWND window;
    LONG object;
    LONG child;
};
std::vector<SeenEvent> g_events;

void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                          DWORD) {
    g_events.push_back({event, window, object, child});
}

class EventRecorder {
public:
    EventRecorder(DWORD first, DWORD last)
        : hook_(SetWinEventHook(first, last, nullptr, RecordEvent, GetCurrentProcessId(), 0,
                                WINEVENT_OUTOFCONTEXT)) {
        g_events.clear();
    }
    ~EventRecorder() {
        if (hook_ != nullptr) UnhookWinEvent(hook_);
    }
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;
    bool Hooked() const { return hook_ != nullptr; }

    int Count(DWORD event, HWND window) const {
        int count = 0;
        for (const SeenEvent& seen : g_events) {
            count += seen.event == event && seen.window == window && seen.object == OBJID_CLIENT &&
                     seen.child == CHILDID_SELF;
        }
        return count;
    }

private:
    HWINEVENTHOOK hook_;
};

using Accessibility = MainWindowTest;

TEST_F(Accessibility, EveryInputControlHasItsNameAndRole) {
    for (const Described& want : INPUT_SCREEN) {
        SCOPED_TRACE(want.name);
        const AccessibleFacts facts = ProbeAccessible(*want.control);
        ASSERT_TRUE(facts.found) << facts.why;
        EXPECT_EQ(facts.name, want.name);
        EXPECT_EQ(RoleName(facts.role), RoleName(want.role));
        EXPECT_EQ(facts.state & STATE_SYSTEM_INVISIBLE, 0);
    }
}

// Only widescreen starts on; each box is checked exactly when its feature is on.
TEST_F(Accessibility, TogglesStartCheckedAsTheyAreDrawn) {
    EXPECT_TRUE(IsChecked(ProbeAccessible(g_hToggleWidescreen)));
    for (HWND box : {g_hToggleCamera, g_hToggleFov, g_hToggleFps}) {
        EXPECT_FALSE(IsChecked(ProbeAccessible(box))) << ProbeAccessible(box).name;
    }
    EXPECT_EQ(ProbeAccessible(g_hToggleWidescreen).defaultAction, "Uncheck");
    EXPECT_EQ(ProbeAccessible(g_hToggleCamera).defaultAction, "Check");
    EXPECT_EQ(ProbeAccessible(g_hApplyButton).defaultAction, "Press");
}

// A click switches the state that is read back, and announces the change, each time.
TEST_F(Accessibility, ToggleStateFollowsEachClickAndIsAnnounced) {
    for (HWND* box : {&g_hToggleCamera, &g_hToggleFov, &g_hToggleWidescreen, &g_hToggleFps}) {
        const AccessibleFacts before = ProbeAccessible(*box);
        SCOPED_TRACE(before.name);
        EventRecorder events(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_STATECHANGE);
        ASSERT_TRUE(events.Hooked());
        const POINT centre = CentreOf(*box);

        ClickAt(window_, centre.x, centre.y);
        EXPECT_NE(IsChecked(ProbeAccessible(*box)), IsChecked(before));
        EXPECT_EQ(events.Count(EVENT_OBJECT_STATECHANGE, *box), 1);

        ClickAt(window_, centre.x, centre.y);
        EXPECT_EQ(IsChecked(ProbeAccessible(*box)), IsChecked(before));
        EXPECT_EQ(events.Count(EVENT_OBJECT_STATECHANGE, *box), 2);
    }
}

// The edit box's name is its field, whatever it holds; what it holds is its value.
TEST_F(Accessibility, EditBoxValueIsItsText) {
    EXPECT_EQ(ProbeAccessible(g_hEditCamera).value, "1536");
    EXPECT_EQ(ProbeAccessible(g_hEditFov).value, "undef");
    SendMessageA(g_hEditDisplayWidth, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("21"));
    const AccessibleFacts facts = ProbeAccessible(g_hEditDisplayWidth);
    EXPECT_EQ(facts.name, "Display width");
    EXPECT_EQ(facts.value, "21");
}

// What assistive technology is told leaves every window text as it was.
TEST_F(Accessibility, WindowTextsStayAsTheyWere) {
    for (const Described& want : INPUT_SCREEN) ProbeAccessible(*want.control);
    EXPECT_EQ(TextOf(g_hToggleCamera), "");
    EXPECT_EQ(TextOf(g_hApplyButton), "");
    EXPECT_EQ(TextOf(g_hCloseButton), "");
    EXPECT_EQ(TextOf(g_hEditCamera), "1536");
    EXPECT_EQ(TextOf(window_), "");
}

// A screen reader's "activate": the object's default action, as a click on the control.
void DoDefaultAction(HWND control) {
    IAccessible* object = nullptr;
    ASSERT_TRUE(ProbeAccessible(control).found);
    const IID accessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    ASSERT_EQ(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), accessible,
                                         reinterpret_cast<void**>(&object)),
              S_OK);
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    EXPECT_EQ(object->accDoDefaultAction(self), S_OK);
    object->Release();
    PumpUntilIdle();
}

TEST_F(Accessibility, DefaultActionOfAToggleSwitchesIt) {
    DoDefaultAction(g_hToggleFps);
    EXPECT_TRUE(IsChecked(ProbeAccessible(g_hToggleFps)));
    DoDefaultAction(g_hToggleFps);
    EXPECT_FALSE(IsChecked(ProbeAccessible(g_hToggleFps)));
}

// Pressed by a screen reader, the close button ends the program as a click does.
TEST_F(Accessibility, DefaultActionOfCloseClosesTheWindow) {
    DoDefaultAction(g_hCloseButton);
    EXPECT_FALSE(IsWindow(window_));
}

// The result screen, reached in a folder without any game: its text is its name, it is
// announced, and Exit is named too.
class ResultAccessibility : public MainWindowTest {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        GetCurrentDirectoryA(MAX_PATH, previous_);
        std::snprintf(folder_, sizeof folder_, "%svelmora-a11y-%lu", temp, GetCurrentProcessId());
        CreateDirectoryA(folder_, nullptr);
        ASSERT_TRUE(SetCurrentDirectoryA(folder_));
        MainWindowTest::SetUp();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        SetCurrentDirectoryA(previous_);
        RemoveDirectoryA(folder_);
    }
    char folder_[MAX_PATH] = {};
    char previous_[MAX_PATH] = {};
};

TEST_F(ResultAccessibility, ResultTextIsNamedByWhatItShowsAndAnnounced) {
    EventRecorder events(EVENT_SYSTEM_ALERT, EVENT_OBJECT_NAMECHANGE);
    ASSERT_TRUE(events.Hooked());
    const POINT apply = CentreOf(g_hApplyButton);
    ClickAt(window_, apply.x, apply.y);
    ASSERT_EQ(g_screenState, SCREEN_RESULT);

    const AccessibleFacts result = ProbeAccessible(g_hResultText);
    ASSERT_TRUE(result.found) << result.why;
    EXPECT_EQ(result.name, "No Velmora 2345 files\r\nMaybe file is busy");
    EXPECT_EQ(RoleName(result.role), RoleName(ROLE_SYSTEM_STATICTEXT));
    EXPECT_NE(result.state & STATE_SYSTEM_READONLY, 0);
    EXPECT_EQ(events.Count(EVENT_OBJECT_NAMECHANGE, g_hResultText), 1);
    EXPECT_EQ(events.Count(EVENT_SYSTEM_ALERT, g_hResultText), 1);

    const AccessibleFacts exit = ProbeAccessible(g_hExitButton);
    EXPECT_EQ(exit.name, "Exit");
    EXPECT_EQ(RoleName(exit.role), RoleName(ROLE_SYSTEM_PUSHBUTTON));
    EXPECT_EQ(ProbeAccessible(g_hCloseButton).name, "Close");
    EXPECT_EQ(TextOf(g_hExitButton), "");
}

}  // namespace
