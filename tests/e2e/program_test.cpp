// The real program, started as its own process in a game folder and used through its
// window with the mouse and the keyboard, as a player would use it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game_folder.h"
#include "program_driver.h"
#include "small_volume.h"
#include "stock_edit_picture.h"
#include "velmora_window.h"

namespace {

const Bytes ASPECT_16_9 = {0x39, 0x8E, 0xE3, 0x3F};
const Bytes ASPECT_16_10 = {0xCD, 0xCC, 0xCC, 0x3F};
const Bytes CAMERA_2048 = {0x00, 0x08};
const Bytes FOV_1920 = {0xB8, 0xA0, 0x05, 0x00};
const Bytes FPS_UNLOCKED = {0x00};

const char* const NO_FILES_TEXT = "No Velmora 2345 files\r\nMaybe file is busy";

std::string DoneText(const std::string& target, const char* widescreen, const char* camera,
                     const char* fov, const char* fps) {
    return "Done " + target + "!\r\n\r\n" + widescreen + "\r\n" + camera + "\r\n" + fov +
           "\r\n" + fps;
}

const char* const WIDESCREEN_OK = "Widescreen correction OK";
const char* const WIDESCREEN_NOT_USED = "Widescreen correction not used";
const char* const CAMERA_OK = "Camera dist correction OK";
const char* const CAMERA_NOT_USED = "Camera dist correction not used";
const char* const FOV_OK = "FOV correction OK";
const char* const FOV_NOT_USED = "FOV correction not used";
const char* const FPS_OK = "60 FPS Unlock OK";
const char* const FPS_NOT_USED = "Unlock 60 FPS not used";

// The fixture after the defaults: 16:9 over the 4:3 constant, nothing else.
Bytes PatchedWithDefaults() { return With(FixtureImage(), ASPECT_AT, ASPECT_16_9); }

Bytes PatchedWithDefaultsAndCamera2048() {
    Bytes image = With(PatchedWithDefaults(), CAMERA_AT + 6, CAMERA_2048);
    return With(image, CAMERA_AGAIN_AT + 6, CAMERA_2048);
}

Bytes PatchedWithDefaultsAndFov1920() { return With(PatchedWithDefaults(), FOV_AT, FOV_1920); }

Bytes PatchedByAllFour() {
    Bytes image = With(FixtureImage(), ASPECT_AT, ASPECT_16_10);
    image = With(image, CAMERA_AT + 6, CAMERA_2048);
    image = With(image, CAMERA_AGAIN_AT + 6, CAMERA_2048);
    image = With(image, FOV_AT, FOV_1920);
    return With(image, FPS_AT + 4, FPS_UNLOCKED);
}

#define EXPECT_SAME_FILE(folder, name, expected)                                        \
    EXPECT_EQ(FirstDifference((folder).Read(name), (expected)), "") << (name)

class ProgramRun : public ::testing::Test {
protected:
    // Starts the program in the test's game folder; the window is then in front.
    void Start() { StartIn(folder_); }
    void StartIn(const GameFolder& folder) {
        std::string why;
        ASSERT_TRUE(program_.Start(ProgramPath(), folder.Path(), &why)) << why;
        window_ = program_.Window();
    }

    void ClickApplyAndWaitForResult() {
        ClickBox(window_, PLATE_BUTTON);
        result_ = WaitForResultText(window_);
    }

    // Holds the plate button down, checks how it looks held, lets it go on the button.
    void PressPlateButtonLookingAtIt() {
        const ScreenArea released = ReadScreenArea(window_, PLATE_BUTTON.x, PLATE_BUTTON.y,
                                                   PLATE_BUTTON.width, PLATE_BUTTON.height);
        HoldDown(window_, PLATE_BUTTON);
        EXPECT_SCREEN(window_, PlateButtonLook(true));
        const ScreenArea held = ReadScreenArea(window_, PLATE_BUTTON.x, PLATE_BUTTON.y,
                                               PLATE_BUTTON.width, PLATE_BUTTON.height);
        ExpectCaptionMovedByOnePixel(released, held);
        LeftButton(false);
    }

    // The caption, wherever it is drawn, shows one pixel further right and down while the
    // button is held, and looks the same otherwise.
    static void ExpectCaptionMovedByOnePixel(const ScreenArea& released, const ScreenArea& held) {
        const int left = PLATE_BUTTON.x + 6, right = PLATE_BUTTON.x + 96;
        const int top = PLATE_BUTTON.y + 6, bottom = PLATE_BUTTON.y + 32;
        int captionPixels = 0, moved = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                if (released.At(x, y) != BACKGROUND) ++captionPixels;
                if (held.At(x + 1, y + 1) != released.At(x, y)) ++moved;
            }
        }
        EXPECT_GT(captionPixels, 20) << "no caption drawn on the released button";
        EXPECT_EQ(moved, 0) << "pixels of the held caption not at +1,+1 of the released one";
    }

    void ExitWithButtonAndExpectCodeZero() {
        ClickBox(window_, PLATE_BUTTON);
        ExpectExitCodeZero();
    }

    void ExpectExitCodeZero() {
        DWORD code = 1;
        ASSERT_TRUE(program_.WaitForExit(EXIT_TIMEOUT_MS, &code)) << "the program did not end";
        EXPECT_EQ(code, 0u);
    }

    GameFolder folder_;
    RunningProgram program_;
    HWND window_ = nullptr;
    std::string result_;
};

// The defaults on a game 3 executable, with the look of both screens and of the buttons
// released and held, to the end with the Exit button.
TEST_F(ProgramRun, DefaultsPatchGame3ShowingBothScreens) {
    folder_.Write("vlmr3.exe", FixtureImage());
    Start();

    RECT rect;
    GetWindowRect(window_, &rect);
    EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - WINDOW_WIDTH) / 2);
    EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYSCREEN) - WINDOW_HEIGHT) / 2 + 1);

    EXPECT_SCREEN(window_, InputScreenFace() + ToggleLook("camera toggle", TOGGLE_CAMERA, false) +
                               ToggleLook("FOV toggle", TOGGLE_FOV, false) +
                               ToggleLook("widescreen toggle", TOGGLE_WIDESCREEN, true) +
                               ToggleLook("60 FPS toggle", TOGGLE_FPS, false) +
                               EditLook("camera box", EDIT_CAMERA) +
                               EditLook("FOV box", EDIT_FOV) + EditLook("width box", EDIT_WIDTH) +
                               EditLook("height box", EDIT_HEIGHT) + PlateButtonLook(false) +
                               CloseButtonLook(false));
    EXPECT_EQ(TextIn(window_, EDIT_CAMERA), "1536");
    EXPECT_EQ(TextIn(window_, EDIT_FOV), "undef");
    EXPECT_EQ(TextIn(window_, EDIT_WIDTH), "16");
    EXPECT_EQ(TextIn(window_, EDIT_HEIGHT), "9");

    PressPlateButtonLookingAtIt();  // Apply
    result_ = WaitForResultText(window_);
    EXPECT_EQ(result_, DoneText("vlmr3.exe", WIDESCREEN_OK, CAMERA_NOT_USED, FOV_NOT_USED,
                                FPS_NOT_USED));
    EXPECT_SAME_FILE(folder_, "vlmr3.exe", PatchedWithDefaults());
    EXPECT_SAME_FILE(folder_, "vlmr3.exe.bak", FixtureImage());

    EXPECT_SCREEN(window_, ResultScreenFace() + PlateButtonLook(false) + CloseButtonLook(false));
    // The input screen's controls are gone; the place of the toggle boxes shows the field.
    EXPECT_EQ(ChildAt(window_, TOGGLE_WIDESCREEN.CentreX(), TOGGLE_WIDESCREEN.CentreY()), nullptr);
    EXPECT_SCREEN(window_, std::vector<PixelCheck>{
        {"field where the widescreen toggle was", TOGGLE_WIDESCREEN.CentreX(),
         TOGGLE_WIDESCREEN.CentreY(), FRAME}});

    PressPlateButtonLookingAtIt();  // Exit
    ExpectExitCodeZero();
    EXPECT_EQ(folder_.Files(), (std::vector<std::string>{"vlmr3.exe", "vlmr3.exe.bak", "vlmr3.exe.orig"}));
    EXPECT_SAME_FILE(folder_, "vlmr3.exe.orig", FixtureImage());
}

// Every feature switched on with values typed into the boxes, on a game 2 executable.
TEST_F(ProgramRun, AllFourRulesWithTypedValues) {
    folder_.Write("Vlmr2.exe", FixtureImage());
    Start();

    ClickBox(window_, TOGGLE_CAMERA);
    ClickBox(window_, TOGGLE_FOV);
    ClickBox(window_, TOGGLE_FPS);
    EXPECT_SCREEN(window_, ToggleLook("camera toggle", TOGGLE_CAMERA, true) +
                               ToggleLook("FOV toggle", TOGGLE_FOV, true) +
                               ToggleLook("widescreen toggle", TOGGLE_WIDESCREEN, true) +
                               ToggleLook("60 FPS toggle", TOGGLE_FPS, true));

    EXPECT_EQ(TypeInto(window_, EDIT_CAMERA, "2048"), "2048");
    EXPECT_EQ(TypeInto(window_, EDIT_FOV, "1920"), "1920");
    EXPECT_EQ(TypeInto(window_, EDIT_HEIGHT, "10"), "10");
    EXPECT_EQ(TypeInto(window_, EDIT_WIDTH, "16"), "16");  // the caret stays here, out of sight

    // Typed values stay when the window and all its controls are painted again, in the
    // boxes and on the screen.
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    EXPECT_SCREEN(window_, InputScreenFace() + EditLook("camera box", EDIT_CAMERA) +
                               EditLook("height box", EDIT_HEIGHT));
    EXPECT_EQ(TextIn(window_, EDIT_CAMERA), "2048");
    EXPECT_EQ(TextIn(window_, EDIT_FOV), "1920");
    EXPECT_EQ(TextIn(window_, EDIT_WIDTH), "16");
    EXPECT_EQ(TextIn(window_, EDIT_HEIGHT), "10");
    struct Typed {
        const char* what;
        const Box& box;
        const char* text;
        const char* byDefault;
    };
    for (const Typed& typed : {Typed{"camera box", EDIT_CAMERA, "2048", "1536"},
                               Typed{"FOV box", EDIT_FOV, "1920", "undef"},
                               Typed{"height box", EDIT_HEIGHT, "10", "9"}}) {
        const std::vector<COLORREF> expected = StockEditBoxShowing(window_, typed.box, typed.text);
        ASSERT_NE(DifferentPixels(expected,
                                  StockEditBoxShowing(window_, typed.box, typed.byDefault)), 0)
            << typed.what << ": the typed and the default text look alike";
        EXPECT_EQ(DifferentPixels(ShownInEditBox(window_, typed.box), expected), 0)
            << typed.what << ": pixels that differ from a stock edit control holding \""
            << typed.text << "\"";
    }
    SetForegroundWindow(window_);

    ClickApplyAndWaitForResult();
    EXPECT_EQ(result_, DoneText("Vlmr2.exe", WIDESCREEN_OK, CAMERA_OK, FOV_OK, FPS_OK));
    EXPECT_SAME_FILE(folder_, "Vlmr2.exe", PatchedByAllFour());
    EXPECT_SAME_FILE(folder_, "Vlmr2.exe.bak", FixtureImage());

    ExitWithButtonAndExpectCodeZero();
}

TEST_F(ProgramRun, NoTargetShowsNoFilesAndTouchesNothing) {
    // A game 6 is not one of the names the program looks for.
    folder_.Write("vlmr6.exe", FixtureImage());
    Start();

    ClickApplyAndWaitForResult();
    EXPECT_EQ(result_, NO_FILES_TEXT);
    EXPECT_SCREEN(window_, ResultScreenFace() + CloseButtonLook(false));
    EXPECT_EQ(folder_.Files(), std::vector<std::string>{"vlmr6.exe"});
    EXPECT_SAME_FILE(folder_, "vlmr6.exe", FixtureImage());

    // Held down, the cross turns steel blue; let go on the button, it ends the program.
    HoldDown(window_, CLOSE_BUTTON);
    EXPECT_SCREEN(window_, CloseButtonLook(true));
    LeftButton(false);
    ExpectExitCodeZero();
}

TEST_F(ProgramRun, CloseButtonBeforeApplyEndsWithoutTouchingTheGame) {
    folder_.Write("vlmr3.exe", FixtureImage());
    Start();

    HoldDown(window_, CLOSE_BUTTON);
    EXPECT_SCREEN(window_, CloseButtonLook(true));
    LeftButton(false);
    ExpectExitCodeZero();
    EXPECT_EQ(folder_.Files(), std::vector<std::string>{"vlmr3.exe"});
    EXPECT_SAME_FILE(folder_, "vlmr3.exe", FixtureImage());
}

// Game 4 has no frame cap to lift: the switch is on, the pattern stays.
TEST_F(ProgramRun, Game4LeavesTheFrameCapWithItsSwitchOn) {
    folder_.Write("vlmr4.exe", FixtureImage());
    Start();

    ClickBox(window_, TOGGLE_FPS);
    EXPECT_SCREEN(window_, ToggleLook("60 FPS toggle", TOGGLE_FPS, true));
    ClickApplyAndWaitForResult();
    EXPECT_EQ(result_, DoneText("vlmr4.exe", WIDESCREEN_OK, CAMERA_NOT_USED, FOV_NOT_USED,
                                FPS_NOT_USED));
    EXPECT_SAME_FILE(folder_, "vlmr4.exe", PatchedWithDefaults());
    const Bytes patched = folder_.Read("vlmr4.exe");
    ASSERT_EQ(patched.size(), FIXTURE_SIZE);
    EXPECT_EQ(Hex(Bytes(patched.begin() + FPS_AT, patched.begin() + FPS_AT + 5)),
              "8B F8 83 FF 02");
    ExitWithButtonAndExpectCodeZero();
}

// The second run backs up what the first one wrote, and finds the 4:3 constant gone; only
// the original copy still holds the game as it was.
TEST_F(ProgramRun, SecondRunBacksUpTheFirstResult) {
    folder_.Write("vlmr3.exe", FixtureImage());
    Start();
    ClickApplyAndWaitForResult();
    EXPECT_EQ(result_, DoneText("vlmr3.exe", WIDESCREEN_OK, CAMERA_NOT_USED, FOV_NOT_USED,
                                FPS_NOT_USED));
    ExitWithButtonAndExpectCodeZero();
    const Bytes afterFirst = folder_.Read("vlmr3.exe");
    EXPECT_EQ(FirstDifference(afterFirst, PatchedWithDefaults()), "");

    RunningProgram second;
    std::string why;
    ASSERT_TRUE(second.Start(ProgramPath(), folder_.Path(), &why)) << why;
    HWND window = second.Window();
    ClickBox(window, PLATE_BUTTON);
    EXPECT_EQ(WaitForResultText(window), DoneText("vlmr3.exe", WIDESCREEN_NOT_USED,
                                                  CAMERA_NOT_USED, FOV_NOT_USED, FPS_NOT_USED));
    EXPECT_SAME_FILE(folder_, "vlmr3.exe.bak", afterFirst);
    EXPECT_SAME_FILE(folder_, "vlmr3.exe", afterFirst);
    EXPECT_SAME_FILE(folder_, "vlmr3.exe.orig", FixtureImage());
    ClickBox(window, PLATE_BUTTON);
    DWORD code = 1;
    ASSERT_TRUE(second.WaitForExit(EXIT_TIMEOUT_MS, &code));
    EXPECT_EQ(code, 0u);
}

// While the game holds its executable open (here this test's process, shared with nobody),
// the program finds nothing it may write and says that the game is in the way.
TEST_F(ProgramRun, GameHeldOpenIsNamedInUse) {
    folder_.Write("vlmr3.exe", FixtureImage());
    HANDLE held = CreateFileA(folder_.PathOf("vlmr3.exe").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Start();

    ClickApplyAndWaitForResult();
    EXPECT_EQ(result_, "No Velmora 2345 files\r\nMaybe file is busy\r\nvlmr3.exe: in use\r\n"
                       "Close the game, then try again.");
    ExitWithButtonAndExpectCodeZero();

    CloseHandle(held);
    EXPECT_EQ(folder_.Files(), std::vector<std::string>{"vlmr3.exe"});
    EXPECT_SAME_FILE(folder_, "vlmr3.exe", FixtureImage());
}

// A backup that cannot be replaced stops the run before the game is touched, and the
// result screen says so instead of reporting success.
TEST_F(ProgramRun, ReadOnlyBackupShowsTheFailure) {
    const Bytes oldBackup = {'o', 'l', 'd', ' ', 'b', 'a', 'c', 'k', 'u', 'p'};
    folder_.Write("vlmr4.exe", FixtureImage());
    folder_.Write("vlmr4.exe.bak", oldBackup);
    ASSERT_TRUE(SetFileAttributesA(folder_.PathOf("vlmr4.exe.bak").c_str(),
                                   FILE_ATTRIBUTE_READONLY));
    Start();

    ClickApplyAndWaitForResult();
    EXPECT_EQ(result_,
              "Nothing was changed!\r\n\r\nThe backup vlmr4.exe.bak\r\ncould not be written.");
    EXPECT_EQ(result_.find("Done"), std::string::npos);
    EXPECT_SCREEN(window_, ResultScreenFace() + PlateButtonLook(false));
    ExitWithButtonAndExpectCodeZero();

    EXPECT_SAME_FILE(folder_, "vlmr4.exe", FixtureImage());
    EXPECT_SAME_FILE(folder_, "vlmr4.exe.bak", oldBackup);
}

// The disk fills up while the game is written back, after its backup went through: the
// player reads that writing failed and where the previous contents are, never "Done", and
// the .bak holds the game as it was.
TEST_F(ProgramRun, WriteBackOnAFullDiskNeedsNoRoomForTheGameAgain) {
    SmallVolume volume;
    if (!volume.Ready()) GTEST_SKIP() << volume.Why();
    GameFolder folder(volume.Path());
    // The game: the fixture's patterns, then zeros that the disk keeps as a hole until they
    // are written. Reading it takes no room and its backup takes its whole size; a write-back
    // of the whole file would fill the hole and need nearly as much again.
    const uint64_t gameSize = 256 * 1024;
    ASSERT_TRUE(WriteSparseFile(folder.PathOf("vlmr3.exe"), FixtureImage(), gameSize));
    // The copy of the original that a first run keeps lies beside it already, so that this
    // run writes only the backup before it writes the game.
    ASSERT_TRUE(WriteSparseFile(folder.PathOf("vlmr3.exe.orig"), FixtureImage(), gameSize));
    // Room for the backup and for half of the hole: the changed bytes alone go back.
    std::string why;
    ASSERT_TRUE(volume.LeaveFree(gameSize + gameSize / 2, &why)) << why;
    StartIn(folder);

    ClickApplyAndWaitForResult();
    EXPECT_EQ(result_.rfind("Done vlmr3.exe!", 0), 0u) << result_;
    EXPECT_SCREEN(window_, ResultScreenFace() + PlateButtonLook(false));
    Bytes game = FixtureImage();
    game.resize(gameSize, 0x00);
    EXPECT_SAME_FILE(folder, "vlmr3.exe.bak", game);
    EXPECT_NE(folder.Read("vlmr3.exe"), game) << "the game was not patched";
    ExitWithButtonAndExpectCodeZero();
}

// --- input that the program refuses ---------------------------------------------------------

struct BadInput {
    const char* name;
    const Box* toggle;  // the feature to switch on first, if it starts off
    const Box* box;
    const char* typed;
    const char* message;
    const char* corrected;
    Bytes (*patched)();  // the game after Apply with the corrected value
    const char* cameraLine;
    const char* fovLine;
};

void PrintTo(const BadInput& input, std::ostream* out) { *out << input.name; }

class RefusedInput : public ProgramRun, public ::testing::WithParamInterface<BadInput> {};

const BadInput BAD_INPUTS[] = {
    {"WidthZero", nullptr, &EDIT_WIDTH, "0",
     "Display width must be a whole number from 1 upwards.", "16", PatchedWithDefaults,
     CAMERA_NOT_USED, FOV_NOT_USED},
    {"HeightWithLetters", nullptr, &EDIT_HEIGHT, "9x",
     "Display height must be a whole number from 1 upwards.", " 9 ", PatchedWithDefaults,
     CAMERA_NOT_USED, FOV_NOT_USED},
    {"CameraTooFar", &TOGGLE_CAMERA, &EDIT_CAMERA, "70000",
     "Camera distance must be a whole number from 1 to 65535.", "2048",
     PatchedWithDefaultsAndCamera2048, CAMERA_OK, FOV_NOT_USED},
    {"FovWord", &TOGGLE_FOV, &EDIT_FOV, "wide",
     "FOV must be \"undef\" or a whole number from 1 to 16777215.", "1920",
     PatchedWithDefaultsAndFov1920, CAMERA_NOT_USED, FOV_OK},
};

// Refused: a message box owned by the window, the input screen stays, no file is touched;
// corrected, Apply works.
TEST_P(RefusedInput, IsReportedAndCanBeCorrected) {
    const BadInput& input = GetParam();
    folder_.Write("vlmr3.exe", FixtureImage());
    Start();

    if (input.toggle != nullptr) ClickBox(window_, *input.toggle);
    EXPECT_EQ(TypeInto(window_, *input.box, input.typed), input.typed);
    ClickBox(window_, PLATE_BUTTON);

    MessageBoxSeen seen = {};
    ASSERT_TRUE(WaitForMessageBox(program_.ProcessId(), &seen)) << "no message box";
    EXPECT_EQ(seen.text, input.message);
    EXPECT_EQ(seen.owner, window_);
    ASSERT_TRUE(DismissWithOk(seen));

    EXPECT_TRUE(IsWindowEnabled(window_));
    EXPECT_EQ(GetDlgItem(window_, IDC_RESULT_TEXT), nullptr);
    EXPECT_SCREEN(window_, InputScreenFace() + PlateButtonLook(false));
    EXPECT_EQ(TextIn(window_, *input.box), input.typed);
    EXPECT_EQ(folder_.Files(), std::vector<std::string>{"vlmr3.exe"});
    EXPECT_SAME_FILE(folder_, "vlmr3.exe", FixtureImage());

    TypeInto(window_, *input.box, input.corrected);
    ClickApplyAndWaitForResult();
    EXPECT_EQ(result_, DoneText("vlmr3.exe", WIDESCREEN_OK, input.cameraLine, input.fovLine,
                                FPS_NOT_USED));
    EXPECT_SAME_FILE(folder_, "vlmr3.exe", input.patched());
    EXPECT_SAME_FILE(folder_, "vlmr3.exe.bak", FixtureImage());
    ExitWithButtonAndExpectCodeZero();
}

INSTANTIATE_TEST_SUITE_P(EveryField, RefusedInput, ::testing::ValuesIn(BAD_INPUTS),
                         [](const ::testing::TestParamInfo<BadInput>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
