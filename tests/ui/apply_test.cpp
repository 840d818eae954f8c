// Apply from end to end, in a game folder of its own, as a player presses it: the patched
// bytes, the backup, the result screen, the refusals and the failures, and the way out.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "face_model.h"
#include "main_dialog.h"
#include "main_window.h"
#include "patch_job.h"
#include "target_file.h"
#include "ui_globals.h"
#include "ui_harness.h"
#include "window_colours.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A small stand-in for the game: each of the four patterns once, between filler bytes.
const size_t WIDESCREEN_AT = 16, CAMERA_AT = 28, FOV_AT = 46, FPS_AT = 60;

Bytes GameImage() {
    Bytes image(80, 0x90);
    const unsigned char widescreen[] = {0xAB, 0xAA, 0xAA, 0x3F};
    const unsigned char camera[] = {0xC7, 0x05, 0x10, 0x20, 0x30, 0x00, 0x00, 0x06, 0x00, 0x00};
    const unsigned char fov[] = {0xA1, 0x10, 0x20, 0x30, 0x00, 0x99};
    const unsigned char fps[] = {0x8B, 0xF8, 0x83, 0xFF, 0x02};
    std::memcpy(&image[WIDESCREEN_AT], widescreen, sizeof widescreen);
    std::memcpy(&image[CAMERA_AT], camera, sizeof camera);
    std::memcpy(&image[FOV_AT], fov, sizeof fov);
    std::memcpy(&image[FPS_AT], fps, sizeof fps);
    return image;
}

void WriteFile(const char* name, const Bytes& bytes) {
    FILE* file = std::fopen(name, "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

bool Exists(const char* name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

Bytes ReadFile(const char* name) {
    Bytes bytes;
    FILE* file = std::fopen(name, "rb");
    if (file == nullptr) return bytes;
    int c;
    while ((c = std::fgetc(file)) != EOF) bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(file);
    return bytes;
}

void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); }

class Apply : public MainWindowTest {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        GetCurrentDirectoryA(MAX_PATH, previous_);
        sprintf_s(folder_, "%svelmora-ui-%lu-%d", temp, GetCurrentProcessId(), ++folders_);
        ASSERT_TRUE(CreateDirectoryA(folder_, nullptr));
        ASSERT_TRUE(SetCurrentDirectoryA(folder_));
        MainWindowTest::SetUp();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        SetCurrentDirectoryA(previous_);
        char pattern[MAX_PATH + 4];
        sprintf_s(pattern, "%s\\*", folder_);
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0)
                    continue;
                std::string path = std::string(folder_) + "\\" + found.cFileName;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryA(path.c_str());
                else DeleteFileA(path.c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(folder_);
    }

    void Click(HWND control) {
        const POINT centre = CentreOf(control);
        ClickAt(window_, centre.x, centre.y);
    }
    void Type(HWND edit, const char* text) {
        Click(edit);
        PressKey(VK_END);
        for (int i = 0; i < 8; ++i) PressKey(VK_BACK);
        TypeText(text);
        ASSERT_EQ(TextOf(edit), text);
    }
    void PressApply() { Click(g_hApplyButton); }

    // Runs the program's own loop until the window is gone; its exit code.
    int RunUntilClosed() {
        const UINT_PTR deadline = SetTimer(nullptr, 0, 10000, GiveUp);
        const int code = RunMessageLoop();
        KillTimer(nullptr, deadline);
        return code;
    }

    // The input screen is still there, whole, with these texts.
    void ExpectInputScreen(const char* width, const char* height, const char* camera,
                           const char* fov) {
        EXPECT_EQ(g_screenState, SCREEN_INPUT);
        EXPECT_EQ(ChildrenOf(window_).size(), 16u);
        EXPECT_TRUE(IsWindow(g_hApplyButton));
        EXPECT_EQ(TextOf(g_hEditDisplayWidth), width);
        EXPECT_EQ(TextOf(g_hEditDisplayHeight), height);
        EXPECT_EQ(TextOf(g_hEditCamera), camera);
        EXPECT_EQ(TextOf(g_hEditFov), fov);
        EXPECT_EQ(g_pPatchJob, nullptr);
        EXPECT_EQ(g_hResultText, nullptr);
    }

    char folder_[MAX_PATH] = {};
    char previous_[MAX_PATH] = {};
    static int folders_;
};
int Apply::folders_ = 0;

const char* const DONE_WIDESCREEN_ONLY =
    "Done Vlmr2.exe!\r\n\r\nWidescreen correction OK\r\nCamera dist correction not used\r\n"
    "FOV correction not used\r\nUnlock 60 FPS not used";

TEST_F(Apply, DefaultsPatchTheAspectRatioAndShowTheResultScreen) {
    const Bytes original = GameImage();
    WriteFile("Vlmr2.exe", original);
    HWND inputControls[14] = {g_hLabelCamera, g_hLabelFov, g_hLabelWidescreen, g_hLabelDisplay,
                              g_hLabelFps, g_hEditCamera, g_hEditFov, g_hEditDisplayWidth,
                              g_hEditDisplayHeight, g_hToggleCamera, g_hToggleFov,
                              g_hToggleWidescreen, g_hToggleFps, g_hApplyButton};

    PressApply();

    Bytes expected = original;
    const unsigned char sixteenByNine[] = {0x39, 0x8E, 0xE3, 0x3F};
    std::memcpy(&expected[WIDESCREEN_AT], sixteenByNine, 4);
    EXPECT_EQ(ReadFile("Vlmr2.exe"), expected);
    EXPECT_EQ(ReadFile("Vlmr2.exe.bak"), original);

    ASSERT_NE(g_pPatchJob, nullptr);
    float aspect = g_pPatchJob->requests[RULE_WIDESCREEN].value.ratio;
    uint32_t aspectBits;
    std::memcpy(&aspectBits, &aspect, 4);
    EXPECT_EQ(aspectBits, 0x3FE38E39u);
    EXPECT_EQ(g_pPatchJob->requests[RULE_CAMERA].value.whole, 1536);
    EXPECT_EQ(g_pPatchJob->requests[RULE_FOV].value.whole, 0);

    // The result screen: the fourteen input controls gone, title and close kept, the Exit
    // button where Apply was and the result text on its panel.
    EXPECT_EQ(g_screenState, SCREEN_RESULT);
    for (HWND control : inputControls) EXPECT_FALSE(IsWindow(control));
    const std::vector<HWND> children = ChildrenOf(window_);
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(children[0], g_hTitle);
    EXPECT_EQ(children[1], g_hCloseButton);
    EXPECT_EQ(children[2], g_hExitButton);
    EXPECT_EQ(children[3], g_hResultText);

    struct Expected {
        HWND control;
        const char* className;
        RECT rect;
        int id;
        DWORD style;
    };
    for (const Expected& e : {Expected{g_hExitButton, "Button", {436, 233, 543, 275}, 114, 0x5001000B},
                              Expected{g_hResultText, "Static", {73, 60, 353, 180}, 116, 0x50010100}}) {
        SCOPED_TRACE(e.className);
        EXPECT_EQ(ClassOf(e.control), e.className);
        const RECT rect = RectInParent(e.control);
        EXPECT_TRUE(EqualRect(&rect, &e.rect));
        EXPECT_EQ(GetDlgCtrlID(e.control), e.id);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(e.control, GWL_STYLE)), e.style);
        EXPECT_EQ(GetWindowLongPtrA(e.control, GWL_EXSTYLE), 0);
        LOGFONTA font = {};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(e.control, WM_GETFONT, 0, 0)),
                   sizeof font, &font);
        EXPECT_STREQ(font.lfFaceName, "Exo 2 Light");
        EXPECT_EQ(font.lfHeight, -15);
    }
    EXPECT_EQ(TextOf(g_hExitButton), "");
    EXPECT_EQ(TextOf(g_hResultText), DONE_WIDESCREEN_ONLY);
    EXPECT_TRUE(g_shownMessages.empty());

    // Painted as the result screen, around the controls.
    const RECT resultRect = RectInParent(g_hResultText);
    for (const FacePoint& point : FacePoints()) {
        const POINT at = {point.x, point.y};
        if (PtInRect(&resultRect, at)) continue;
        EXPECT_EQ(PixelOf(window_, point.x, point.y), point.result)
            << point.where << " at " << point.x << "," << point.y;
    }
    EXPECT_EQ(PixelOf(g_hResultText, 278, 118), PANEL);
    EXPECT_EQ(PixelOf(g_hExitButton, 1, 20), FRAME);
    EXPECT_EQ(PixelOf(g_hExitButton, 2, 20), BACKGROUND);
    EXPECT_EQ(PixelOf(g_hExitButton, 101, 20), FRAME);

    // Exit ends the run with code 0 and frees the job.
    POINT exitAt = CentreOf(g_hExitButton);
    ClientToScreen(window_, &exitAt);
    MoveMouseTo(exitAt.x, exitAt.y);
    LeftButton(true);
    LeftButton(false);
    EXPECT_EQ(RunUntilClosed(), 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(g_pPatchJob, nullptr);
}

TEST_F(Apply, AllFourRulesWithTypedValues) {
    const Bytes original = GameImage();
    WriteFile("Vlmr2.exe", original);
    Click(g_hToggleCamera);
    Click(g_hToggleFov);
    Click(g_hToggleFps);
    Type(g_hEditDisplayHeight, "10");
    Type(g_hEditCamera, "2000");
    Type(g_hEditFov, "1920");

    PressApply();

    Bytes expected = original;
    const unsigned char sixteenByTen[] = {0xCD, 0xCC, 0xCC, 0x3F};
    std::memcpy(&expected[WIDESCREEN_AT], sixteenByTen, 4);
    expected[CAMERA_AT + 6] = 0xD0;  // 2000 = 0x07D0
    expected[CAMERA_AT + 7] = 0x07;
    const unsigned char fovLoad[] = {0xB8, 0xA0, 0x05, 0x00};  // 1920 * 3 / 4 = 1440
    std::memcpy(&expected[FOV_AT], fovLoad, 4);
    expected[FPS_AT + 4] = 0x00;
    EXPECT_EQ(ReadFile("Vlmr2.exe"), expected);
    EXPECT_EQ(ReadFile("Vlmr2.exe.bak"), original);
    EXPECT_EQ(TextOf(g_hResultText),
              "Done Vlmr2.exe!\r\n\r\nWidescreen correction OK\r\nCamera dist correction OK\r\n"
              "FOV correction OK\r\n60 FPS Unlock OK");
}

TEST_F(Apply, WithoutAGameShowsTheNoFilesText) {
    PressApply();
    EXPECT_EQ(g_screenState, SCREEN_RESULT);
    EXPECT_EQ(TextOf(g_hResultText), "No Velmora 2345 files\r\nMaybe file is busy");
    EXPECT_FALSE(Exists("Vlmr2.exe.bak"));
}

// The game holds its executable open while it runs.
TEST_F(Apply, BusyGameShowsTheNoFilesTextAndIsLeftAlone) {
    const Bytes original = GameImage();
    WriteFile("Vlmr2.exe", original);
    HANDLE held = CreateFileA("Vlmr2.exe", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    PressApply();
    CloseHandle(held);
    EXPECT_EQ(TextOf(g_hResultText),
              "No Velmora 2345 files\r\nMaybe file is busy\r\nVlmr2.exe: in use\r\nClose the game, then try again.");
    EXPECT_EQ(ReadFile("Vlmr2.exe"), original);
    EXPECT_FALSE(Exists("Vlmr2.exe.bak"));
}

// When the engine could not finish, the result screen says why and never "Done".
TEST_F(Apply, EngineFailureIsShownInsteadOfDone) {
    const Bytes original = GameImage();
    WriteFile("Vlmr2.exe", original);
    ASSERT_TRUE(CreateDirectoryA("Vlmr2.exe.bak", nullptr));  // no backup can be written
    PressApply();
    const std::string shown = TextOf(g_hResultText);
    EXPECT_EQ(shown,
              "Nothing was changed!\r\n\r\nThe backup Vlmr2.exe.bak\r\ncould not be written.");
    EXPECT_EQ(shown.find("Done"), std::string::npos);
    EXPECT_EQ(ReadFile("Vlmr2.exe"), original);
    EXPECT_EQ(g_screenState, SCREEN_RESULT);
}

DWORD g_imageReadOnThread = 0;

void* AllocateRecordingTheThread(size_t size) {
    g_imageReadOnThread = GetCurrentThreadId();
    return DEFAULT_FILE_OPS.allocate(size);
}

// The job runs on a thread of its own, started as the program starts it, not on the thread
// that serves the window.
TEST_F(Apply, JobRunsOnAThreadOtherThanTheWindows) {
    WriteFile("Vlmr2.exe", GameImage());
    UseProgramThreadStart();
    g_imageReadOnThread = 0;
    g_fileOps.allocate = AllocateRecordingTheThread;  // the job takes room for the game's image
    PressApply();
    g_fileOps = DEFAULT_FILE_OPS;
    ASSERT_NE(g_imageReadOnThread, 0u) << "the job did not read the game";
    EXPECT_NE(g_imageReadOnThread, GetWindowThreadProcessId(window_, nullptr));
    EXPECT_EQ(TextOf(g_hResultText), DONE_WIDESCREEN_ONLY);
}

struct RefusedCase {
    const char* name;
    HWND* edit;
    const char* text;
    unsigned char* toggle;  // switched on first, when not null
    const char* fieldWords;  // the message names the field
};

class ApplyRefusal : public Apply, public ::testing::WithParamInterface<RefusedCase> {};

// Values that would write garbage into the game are refused before anything starts; the
// screen stays as it is, and Apply works once the value is put right.
TEST_P(ApplyRefusal, NamesTheFieldTouchesNothingAndLetsApplyAgain) {
    const RefusedCase& c = GetParam();
    const Bytes original = GameImage();
    WriteFile("Vlmr2.exe", original);
    if (c.toggle != nullptr) {
        HWND box = c.toggle == &g_bFeatureToggles[RULE_CAMERA] ? g_hToggleCamera : g_hToggleFov;
        Click(box);
        ASSERT_EQ(*c.toggle, 1);
    }
    HWND edit = *c.edit;
    const std::string good = TextOf(edit);
    Type(edit, c.text);

    PressApply();

    ASSERT_EQ(g_shownMessages.size(), 1u);
    const ShownMessage& shown = g_shownMessages[0];
    EXPECT_EQ(shown.owner, window_);
    EXPECT_EQ(shown.caption, L"Info");
    EXPECT_EQ(shown.type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_NE(shown.text.find(std::wstring(c.fieldWords, c.fieldWords + std::strlen(c.fieldWords))),
              std::wstring::npos);
    const char* texts[4] = {"16", "9", "1536", "undef"};
    HWND edits[4] = {g_hEditDisplayWidth, g_hEditDisplayHeight, g_hEditCamera, g_hEditFov};
    for (int i = 0; i < 4; ++i) {
        if (edits[i] == edit) texts[i] = c.text;
    }
    ExpectInputScreen(texts[0], texts[1], texts[2], texts[3]);
    EXPECT_EQ(ReadFile("Vlmr2.exe"), original);
    EXPECT_FALSE(Exists("Vlmr2.exe.bak"));

    Type(edit, good.c_str());
    PressApply();
    EXPECT_EQ(g_screenState, SCREEN_RESULT);
    EXPECT_EQ(TextOf(g_hResultText).rfind("Done Vlmr2.exe!", 0), 0u);
    EXPECT_TRUE(Exists("Vlmr2.exe.bak"));
    EXPECT_EQ(g_shownMessages.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    BadValues, ApplyRefusal,
    ::testing::Values(RefusedCase{"HeightZero", &g_hEditDisplayHeight, "0", nullptr, "height"},
                      RefusedCase{"HeightLetters", &g_hEditDisplayHeight, "x", nullptr, "height"},
                      RefusedCase{"WidthNegative", &g_hEditDisplayWidth, "-16", nullptr, "width"},
                      RefusedCase{"WidthTrailingLetters", &g_hEditDisplayWidth, "16x", nullptr,
                                  "width"},
                      RefusedCase{"CameraTooLarge", &g_hEditCamera, "70000", &g_bFeatureToggles[RULE_CAMERA],
                                  "Camera"},
                      RefusedCase{"CameraNegative", &g_hEditCamera, "-1", &g_bFeatureToggles[RULE_CAMERA],
                                  "Camera"},
                      RefusedCase{"FovNegative", &g_hEditFov, "-5", &g_bFeatureToggles[RULE_FOV], "FOV"},
                      RefusedCase{"FovZero", &g_hEditFov, "0", &g_bFeatureToggles[RULE_FOV], "FOV"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

// No thread, no patch: the player is told, and the screen waits for another press.
TEST_F(Apply, WorkerThatCannotStartIsReportedAndApplyWorksAgain) {
    const Bytes original = GameImage();
    WriteFile("Vlmr2.exe", original);
    FailThreadStart();
    PressApply();
    ASSERT_EQ(g_shownMessages.size(), 1u);
    EXPECT_EQ(g_shownMessages[0].owner, window_);
    EXPECT_EQ(g_shownMessages[0].type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_NE(g_shownMessages[0].text.find(L"No file was changed"), std::wstring::npos);
    ExpectInputScreen("16", "9", "1536", "undef");
    EXPECT_EQ(ReadFile("Vlmr2.exe"), original);
    EXPECT_FALSE(Exists("Vlmr2.exe.bak"));

    PressApply();
    EXPECT_EQ(TextOf(g_hResultText), DONE_WIDESCREEN_ONLY);
}

// The Exit button cannot be made: the player reads why, the window keeps the title bar,
// and the close button still ends the run.
TEST_F(Apply, ExitButtonThatCannotBeMadeIsReported) {
    WriteFile("Vlmr2.exe", GameImage());
    FailControlCreation("Button", IDC_EXIT);
    // Sent straight to the procedure: the dialog manager does not pass on what the
    // procedure answers to WM_COMMAND.
    EXPECT_EQ(MainDialogProc(window_, WM_COMMAND, MAKEWPARAM(IDC_APPLY, BN_CLICKED),
                             reinterpret_cast<LPARAM>(g_hApplyButton)),
              -1);
    ASSERT_EQ(g_shownMessages.size(), 1u);
    EXPECT_EQ(g_shownMessages[0].text, L"Button создать не удалось");
    EXPECT_EQ(g_shownMessages[0].caption, L"Info");
    EXPECT_EQ(g_shownMessages[0].owner, nullptr);
    EXPECT_EQ(g_screenState, SCREEN_INPUT);
    const std::vector<HWND> children = ChildrenOf(window_);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0], g_hTitle);
    EXPECT_EQ(children[1], g_hCloseButton);

    POINT close = CentreOf(g_hCloseButton);
    ClientToScreen(window_, &close);
    MoveMouseTo(close.x, close.y);
    LeftButton(true);
    LeftButton(false);
    EXPECT_EQ(RunUntilClosed(), 0);
    EXPECT_EQ(g_pPatchJob, nullptr);
}

TEST_F(Apply, ResultTextThatCannotBeMadeIsReportedAndExitStillWorks) {
    WriteFile("Vlmr2.exe", GameImage());
    FailControlCreation("Static", IDC_RESULT);
    EXPECT_EQ(MainDialogProc(window_, WM_COMMAND, MAKEWPARAM(IDC_APPLY, BN_CLICKED),
                             reinterpret_cast<LPARAM>(g_hApplyButton)),
              -1);
    ASSERT_EQ(g_shownMessages.size(), 1u);
    EXPECT_EQ(g_shownMessages[0].text, L"Static создать не удалось");
    EXPECT_EQ(g_shownMessages[0].caption, L"Info");
    EXPECT_EQ(g_screenState, SCREEN_INPUT);
    ASSERT_TRUE(IsWindow(g_hExitButton));
    EXPECT_EQ(g_hResultText, nullptr);

    POINT exitAt = CentreOf(g_hExitButton);
    ClientToScreen(window_, &exitAt);
    MoveMouseTo(exitAt.x, exitAt.y);
    LeftButton(true);
    LeftButton(false);
    EXPECT_EQ(RunUntilClosed(), 0);
    EXPECT_EQ(g_pPatchJob, nullptr);
}

// From the result screen the close button ends the run as well.
TEST_F(Apply, CloseButtonOnTheResultScreenEndsTheRun) {
    PressApply();
    ASSERT_EQ(g_screenState, SCREEN_RESULT);
    POINT close = CentreOf(g_hCloseButton);
    ClientToScreen(window_, &close);
    MoveMouseTo(close.x, close.y);
    LeftButton(true);
    LeftButton(false);
    EXPECT_EQ(RunUntilClosed(), 0);
    EXPECT_EQ(g_pPatchJob, nullptr);
}

}  // namespace
