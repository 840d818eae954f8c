// Every text the window shows is drawn whole: laid out as its control lays it out, in the
// font the control really uses (the embedded one), it needs no more room than the control
// has. A line that does not fit is cut off by the control, and with it a word of a label or
// the result of one feature.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "patch_worker.h"
#include "result_text.h"
#include "target_file.h"

#include "ui_globals.h"
#include "ui_harness.h"

namespace {

namespace fs = std::filesystem;

// A small game holding all four rules' patterns, so that every rule reports "OK".
const std::string GAME_WITH_EVERY_PATTERN = {
    '\x55', '\xAB', '\xAA', '\xAA', '\x3F', '\xC7', '\x05', 1, 2, 3, 4, '\x00', '\x06', '\x00', '\x00',
    '\xA1', 1, 2, 3, '\x00', '\x99', '\x8B', '\xF8', '\x83', '\xFF', '\x02', '\xC3'};

void Put(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary);
    out << bytes;
}

// Faults that the job's texts are made from, aimed at one file of the run.
const NativeFile UNSAFE_FOLDER = 0x7FF0;  // no handle of the system's: the commit hook's own mark

struct Faults {
    static std::string target;
    static int opens, moves, commits;
    static unsigned long openError;  // of the second open of the target; 0: none
    static int failMove;             // the move that fails; 0: none
    static bool failCommit, failTell, hugeSize, failAllocate, shortRead, originalIsTarget;
    // The folder held by another run, the game with other hard links, a folder that cannot be
    // forced to the disk, a stop after the move `stopAtMove` (0: before the first step), a
    // game replaced before its open.
    static bool folderBusy, hardLinks, unsafeFolder, replaced;
    static int stopAtMove;

    static void Install(const std::string& name) {
        target = name;
        opens = moves = commits = 0;
        openError = 0;
        failMove = 0;
        failCommit = failTell = hugeSize = failAllocate = shortRead = originalIsTarget = false;
        folderBusy = hardLinks = unsafeFolder = replaced = false;
        stopAtMove = -1;
        g_fileOps = DEFAULT_FILE_OPS;
        g_fileOps.holdFolder = [](NativeFile* hold) {
            if (stopAtMove == 0) RequestStop(2);
            return folderBusy ? FOLDER_BUSY : DEFAULT_FILE_OPS.holdFolder(hold);
        };
        g_fileOps.pause = [](unsigned) {};
        g_fileOps.openFolderOf = [](const char* name) {
            return unsafeFolder ? UNSAFE_FOLDER : DEFAULT_FILE_OPS.openFolderOf(name);
        };
        g_fileOps.commitFolder = [](NativeFile folder) { return folder == UNSAFE_FOLDER ? -1 : DEFAULT_FILE_OPS.commitFolder(folder); };
        g_fileOps.closeNative = [](NativeFile file) {
            if (file != UNSAFE_FOLDER) DEFAULT_FILE_OPS.closeNative(file);
        };
        g_fileOps.identifyOpen = [](FILE* file) {
            FileIdentity identity = DEFAULT_FILE_OPS.identifyOpen(file);
            if (replaced) ++identity.index;
            return identity;
        };
        g_fileOps.openNative = [](const char* file, OpenDisposition disposition, unsigned long* error) {
            if (target == file && ++opens == 2 && openError != 0) {
                *error = openError;
                return NO_NATIVE_FILE;
            }
            return DEFAULT_FILE_OPS.openNative(file, disposition, error);
        };
        g_fileOps.move = [](const char* from, const char* to, bool replace) {
            const bool moved = ++moves != failMove && DEFAULT_FILE_OPS.move(from, to, replace);
            if (moves == stopAtMove) RequestStop(2);
            return moved;
        };
        g_fileOps.commit = [](FILE* file) { return failCommit && ++commits == 3 ? -1 : DEFAULT_FILE_OPS.commit(file); };
        g_fileOps.tellSize = [](FILE* file, uint64_t* size) {
            if (failTell) return false;
            if (hugeSize) {
                *size = 0x100000000ull;
                return true;
            }
            return DEFAULT_FILE_OPS.tellSize(file, size);
        };
        g_fileOps.allocate = [](size_t size) { return failAllocate ? nullptr : DEFAULT_FILE_OPS.allocate(size); };
        g_fileOps.read = [](void* buffer, size_t size, FILE* file) {
            return DEFAULT_FILE_OPS.read(buffer, shortRead && size > 0 ? size - 1 : size, file);
        };
        g_fileOps.identify = [](const char* file) {
            if (originalIsTarget && target + ".orig" == file) return DEFAULT_FILE_OPS.identify(target.c_str());
            FileIdentity identity = DEFAULT_FILE_OPS.identify(file);
            if (hardLinks && target == file) identity.links = 1000;
            return identity;
        };
    }
};
std::string Faults::target;
int Faults::opens, Faults::moves, Faults::commits, Faults::failMove;
unsigned long Faults::openError;
bool Faults::failCommit, Faults::failTell, Faults::hugeSize, Faults::failAllocate, Faults::shortRead,
    Faults::originalIsTarget, Faults::folderBusy, Faults::hardLinks, Faults::unsafeFolder, Faults::replaced;
int Faults::stopAtMove;

// Each way a job on the game `name` can end, laid out in an empty folder.
const struct Ending {
    const char* what;
    void (*lay)(const std::string& name);
} ENDINGS[] = {
    {"done, every rule OK", [](const std::string& name) { Put(name, GAME_WITH_EVERY_PATTERN); }},
    {"done, no rule used", [](const std::string& name) { Put(name, ""); }},
    {"size unknown", [](const std::string& name) { Put(name, "x"); Faults::failTell = true; }},
    {"4 GiB", [](const std::string& name) { Put(name, "x"); Faults::hugeSize = true; }},
    {"no memory", [](const std::string& name) { Put(name, "x"); Faults::failAllocate = true; }},
    {"short read", [](const std::string& name) { Put(name, "xy"); Faults::shortRead = true; }},
    {"reopened: in use", [](const std::string& name) { Put(name, "x"); Faults::openError = ERROR_SHARING_VIOLATION; }},
    {"reopened: access denied", [](const std::string& name) { Put(name, "x"); Faults::openError = ERROR_ACCESS_DENIED; }},
    {"reopened: other", [](const std::string& name) { Put(name, "x"); Faults::openError = ERROR_INVALID_PARAMETER; }},
    {"backup refused", [](const std::string& name) { Put(name, "x"); fs::create_directory(name + ".bak"); }},
    {"backup failed after an empty original was replaced",
     [](const std::string& name) {
         Put(name, GAME_WITH_EVERY_PATTERN);
         Put(name + ".orig", "");
         Faults::failMove = 2;
     }},
    // A game whose patterns are there is known unpatched: its original is kept first, and the
    // rules have bytes to write back.
    {"original failed", [](const std::string& name) { Put(name, GAME_WITH_EVERY_PATTERN); Faults::failMove = 1; }},
    {"original not a file", [](const std::string& name) { Put(name, "x"); fs::create_directory(name + ".orig"); }},
    {"original the same file", [](const std::string& name) { Put(name, "x"); Faults::originalIsTarget = true; }},
    {"write-back failed", [](const std::string& name) { Put(name, GAME_WITH_EVERY_PATTERN); Faults::failCommit = true; }},
    {"another run holds the folder", [](const std::string& name) { Put(name, "x"); Faults::folderBusy = true; }},
    {"hard links", [](const std::string& name) { Put(name, "x"); Faults::hardLinks = true; }},
    {"replaced before its open", [](const std::string& name) { Put(name, "x"); Faults::replaced = true; }},
    {"original not yet safe", [](const std::string& name) { Put(name, "x"); Faults::unsafeFolder = true; }},
    {"stopped before the copies", [](const std::string& name) { Put(name, "x"); Faults::stopAtMove = 0; }},
    {"stopped after the original", [](const std::string& name) { Put(name, "x"); Faults::stopAtMove = 1; }},
};

// The result text of a job that ended so, as the engine formats it for the window.
std::string EngineResultText(const Ending& ending, const std::string& name) {
    const fs::path previous = fs::current_path();
    const fs::path folder = fs::temp_directory_path() / ("velmora-texts-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(folder);
    fs::create_directory(folder);
    fs::current_path(folder);
    Faults::Install(name);
    ending.lay(name);
    PatchJob job = {};
    for (RuleRequest& request : job.requests) request.on = true;
    job.requests[RULE_WIDESCREEN].value.ratio = 16.0f / 9.0f;
    job.requests[RULE_CAMERA].value.whole = 2048;
    job.requests[RULE_FOV].value.whole = 1920;
    RunPatchJob(&job);
    g_fileOps = DEFAULT_FILE_OPS;
    ClearStopRequest();
    fs::current_path(previous);
    fs::remove_all(folder);
    char text[PATCH_TEXT_SIZE];
    FormatResultText(job, text);
    return text;
}

// The texts of a folder in which no candidate opens, as the engine formats them: none named,
// and the most that can be named (three), in every choice of names, each time with the
// longest reason after the first and every reason with a hint first.
std::vector<std::string> NoTargetTexts() {
    std::vector<std::string> texts;
    OpenReason none[TARGET_CANDIDATE_COUNT] = {OPEN_MISSING, OPEN_MISSING, OPEN_MISSING,
                                               OPEN_MISSING, OPEN_MISSING, OPEN_MISSING};
    char text[PATCH_TEXT_SIZE];
    FormatNoTargetText(none, text);
    texts.push_back(text);
    for (int a = 0; a < TARGET_CANDIDATE_COUNT; ++a) {
        for (int b = a + 1; b < TARGET_CANDIDATE_COUNT; ++b) {
            for (int c = b + 1; c < TARGET_CANDIDATE_COUNT; ++c) {
                for (OpenReason first : {OPEN_IN_USE, OPEN_READ_ONLY, OPEN_ACCESS_DENIED, OPEN_FAILED}) {
                    OpenReason reasons[TARGET_CANDIDATE_COUNT] = {OPEN_MISSING, OPEN_MISSING, OPEN_MISSING,
                                                                  OPEN_MISSING, OPEN_MISSING, OPEN_MISSING};
                    reasons[a] = first;
                    reasons[b] = reasons[c] = OPEN_FAILED;  // "cannot be opened", the longest
                    FormatNoTargetText(reasons, text);
                    texts.push_back(text);
                }
            }
        }
    }
    return texts;
}

// The result box holds six lines; a text of more would need a taller box.
const int RESULT_LINES_MAX = 6;

int LineCount(const std::string& text) {
    int lines = 1;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++lines;
    return lines;
}

// Where a control draws its text: a static control the whole client area, an edit box its
// formatting rectangle (the client area less the margins that the font gives it).
RECT TextAreaOf(HWND control) {
    RECT area;
    GetClientRect(control, &area);
    if (ClassOf(control) == "Edit") SendMessageA(control, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
    return area;
}

struct Layout {
    int width, height;  // of the text as laid out
    int lineHeight;     // of the font
};

// Lays `text` out as a static control with SS_LEFT does, in the control's own font and at the
// width of its text area.
Layout Measure(HWND control, const std::string& text) {
    const RECT area = TextAreaOf(control);
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    RECT needed = {0, 0, area.right - area.left, 0};
    DrawTextA(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return {needed.right - needed.left, needed.bottom - needed.top, metrics.tmHeight};
}

// The text fits the control's text area; otherwise says by how many pixels it does not.
void ExpectFits(HWND control, const std::string& text, const char* what) {
    const RECT area = TextAreaOf(control);
    const int width = area.right - area.left, height = area.bottom - area.top;
    const Layout layout = Measure(control, text);
    EXPECT_LE(layout.height, height)
        << what << " \"" << text << "\": " << layout.height / layout.lineHeight << " lines of "
        << layout.lineHeight << " px, " << layout.height - height << " px too tall for " << width
        << " x " << height;
    EXPECT_LE(layout.width, width) << what << " \"" << text << "\": a word is "
                                   << layout.width - width << " px too wide for " << width;
}

using TextFit = MainWindowTest;

TEST_F(TextFit, EveryTextOfTheInputScreenIsWhole) {
    struct Control {
        HWND handle;
        const char* what;
    };
    const Control controls[] = {
        {g_hLabelCamera, "camera label"},       {g_hLabelFov, "field-of-view label"},
        {g_hLabelWidescreen, "widescreen label"}, {g_hLabelDisplay, "display label"},
        {g_hLabelFps, "60 FPS label"},          {g_hTitle, "title strip"},
        {g_hEditCamera, "camera field"},        {g_hEditFov, "field-of-view field"},
        {g_hEditDisplayWidth, "display width field"}, {g_hEditDisplayHeight, "display height field"},
    };
    for (const Control& c : controls) {
        ASSERT_NE(c.handle, nullptr) << c.what;
        const std::string text = TextOf(c.handle);
        EXPECT_FALSE(text.empty()) << c.what;
        ExpectFits(c.handle, text, c.what);
    }
}

TEST_F(TextFit, EveryResultTextIsWholeInTheResultBox) {
    // Apply in an empty folder: the result screen with the box, its size and its font.
    char temp[MAX_PATH], folder[MAX_PATH], previous[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    GetCurrentDirectoryA(MAX_PATH, previous);
    std::snprintf(folder, sizeof folder, "%svelmora-fit-%lu", temp, GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(folder, nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    const POINT apply = CentreOf(g_hApplyButton);
    ClickAt(window_, apply.x, apply.y);
    SetCurrentDirectoryA(previous);
    RemoveDirectoryA(folder);
    ASSERT_EQ(g_screenState, SCREEN_RESULT);
    ASSERT_NE(g_hResultText, nullptr);

    const RECT box = RectInParent(g_hResultText);
    EXPECT_EQ(box.right - box.left, 280);
    EXPECT_EQ(box.bottom - box.top, 120);
    const Layout oneLine = Measure(g_hResultText, "Done");
    EXPECT_LE(RESULT_LINES_MAX * oneLine.lineHeight, 120)
        << "six lines of " << oneLine.lineHeight << " px";

    for (const std::string& text : NoTargetTexts()) {
        EXPECT_LE(LineCount(text), RESULT_LINES_MAX) << text;
        ExpectFits(g_hResultText, text, "result text");
    }
    // Each ending with each name the engine looks for; the longest of them counts.
    std::map<std::string, std::set<std::string>> textsOfName;  // each ending its own text
    for (const Ending& ending : ENDINGS) {
        for (const char* name : TARGET_CANDIDATES) {
            const std::string text = EngineResultText(ending, name);
            textsOfName[name].insert(text);
            EXPECT_FALSE(text.empty()) << ending.what << ", " << name;
            // Only a run that waited in vain for the folder has chosen no game to name.
            if (!Faults::folderBusy) {
                EXPECT_NE(text.find(name), std::string::npos) << ending.what << ": " << text;
            }
            EXPECT_LE(LineCount(text), RESULT_LINES_MAX) << ending.what << ": " << text;
            ExpectFits(g_hResultText, text, ending.what);
        }
    }
    for (const auto& [name, texts] : textsOfName) {
        EXPECT_EQ(texts.size(), sizeof ENDINGS / sizeof ENDINGS[0]) << name << ": an ending was not reached";
    }
}

}  // namespace
