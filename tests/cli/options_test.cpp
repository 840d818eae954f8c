// The command line: what is refused before anything is touched, the value forms the window
// accepts, and every exit code with its text and JSON reports agreeing.

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "expected.h"
#include "json_value.h"
#include "report_agreement.h"

namespace {

#ifdef _WIN32
const char READ_ONLY_RESULT[] = "No Velmora 2345 files\nMaybe file is busy\nvlmr3.exe: read-only\nClear its read-only attribute.";
#else
const char READ_ONLY_RESULT[] = "No Velmora 2345 files\nMaybe file is busy\nvlmr3.exe: read-only\nMake it writable: chmod u+w '";
#endif

// The two runs of a case are made in two folders; where a text names its folder, both name
// the same one here.
CliRun InFolderOfItsOwn(CliRun run, const GameFolder& folder) {
    const std::string path = folder.path().string();
    for (std::string* text : {&run.out, &run.err}) {
        for (size_t at = text->find(path); at != std::string::npos; at = text->find(path, at)) {
            text->replace(at, path.size(), "<folder>");
        }
    }
    return run;
}

// Each refusal names the option and the value, touches nothing, and with --json is the one
// object on stdout.
void ExpectRefused(const std::vector<std::string>& args, const std::string& complaint) {
    std::string label;
    for (const std::string& arg : args) label += (label.empty() ? "" : " ") + arg;
    SCOPED_TRACE(label);
    for (const bool json : {false, true}) {
        GameFolder folder;
        folder.Write("vlmr3.exe", FixtureImage());
        const FolderState before = Snapshot(folder.path());
        std::vector<std::string> line = args;
        if (json) line.insert(line.begin(), "--json");
        const CliRun run = folder.Run(line);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(Lines(run.err).at(0), "velmora-patch: " + InShellQuotes(complaint)) << run.err;
        // One line, then where to read more, whether the line or a value was refused.
        EXPECT_EQ(Lines(run.err).size(), 2u) << run.err;
        EXPECT_EQ(Lines(run.err).back(), "Try '" + g_programPath + " --help'.") << run.err;
        EXPECT_FALSE(Contains(run.err, "  or:  velmora-patch")) << run.err;
        EXPECT_EQ(Snapshot(folder.path()), before);
        if (!json) {
            EXPECT_EQ(run.out, "");
            continue;
        }
        JsonValue value;
        std::string error;
        ASSERT_TRUE(ParseJson(run.out, &value, &error)) << error << "\n" << run.out;
        ASSERT_EQ(value.kind, JsonValue::OBJECT);
        EXPECT_EQ(value["schema"].number, 2);
        EXPECT_EQ(value["error"]["text"].text, InShellQuotes(complaint));
        EXPECT_EQ(value["error"]["code"].kind, JsonValue::STRING) << run.out;
        EXPECT_EQ(value["target"].kind, JsonValue::NUL) << run.out;
        EXPECT_EQ(value["exit_code"].number, 2);
    }
}

TEST(CliUsage, RefusedCommandLinesTouchNothing) {
    const struct {
        std::vector<std::string> args;
        std::string complaint;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x"}, "unknown option '-x'"},
        // Short options are not bundled: -hx is no -h.
        {{"-hx"}, "unknown option '-hx'"},
        {{"-hV"}, "unknown option '-hV'"},
        {{"--bo\x1B[2Jgus"}, "unknown option '--bo'$'\\x1B''[2Jgus'"},
        {{"vlmr3.exe"}, "unexpected argument 'vlmr3.exe'"},
        {{"--", "--fps"}, "unexpected argument '--fps'"},
        // After "--" even --json is an argument: the refusal is text.
        {{"--", "--json"}, "unexpected argument '--json'"},
        {{"--camera"}, "--camera needs a value: a whole number from 1 to 65535"},
        {{"--dir"}, "--dir needs a value: a folder"},
        // An option where the value should be: the value was forgotten.
        {{"--camera", "--fps"}, "--camera needs a value: a whole number from 1 to 65535"},
        {{"--camera", "--dry-run"}, "--camera needs a value: a whole number from 1 to 65535"},
        {{"--dir", "--fps"}, "--dir needs a value: a folder"},
        {{"--fov", "--fps", "1920"}, "--fov needs a value: undef or a whole number from 1 to 16777215"},
        {{"--dir="}, "--dir: '' is not a folder"},
        {{"--find="}, "--find: '' is not a folder"},
        {{"--camera", ""}, "--camera: '' is not a whole number from 1 to 65535"},
        {{"--fov", ""}, "--fov: '' is not undef or a whole number from 1 to 16777215"},
        {{"--fov= "}, "--fov: ' ' is not undef or a whole number from 1 to 16777215"},
        {{"--aspect", "16:"}, "--aspect: '16:' is not W:H or WxH, two whole numbers from 1 up"},
        {{"--aspect", ":9"}, "--aspect: ':9' is not W:H or WxH, two whole numbers from 1 up"},
        {{"--aspect", "16x\t"}, "--aspect: '16x'$'\\t''' is not W:H or WxH, two whole numbers from 1 up"},
        {{"--aspect", "16-9"}, "--aspect: '16-9' is not W:H or WxH, two whole numbers from 1 up"},
        {{"--aspect", "16:9:1"}, "--aspect: '16:9:1' is not W:H or WxH, two whole numbers from 1 up"},
        {{"--dri", "X"}, "unknown option '--dri'; did you mean --dir?"},
        {{"--fsp"}, "unknown option '--fsp'; did you mean --fps?"},
        {{"--zzzzzz"}, "unknown option '--zzzzzz'"},
        {{"--f"}, "option '--f' is ambiguous: it could be --fov, --fps, --force, --find"},
        {{"--no-widescreen"}, "nothing to do: switch on at least one feature"},
        {{"--fps=1"}, "--fps takes no value"},
        {{"--force"}, "--force goes only with --restore"},
        {{"--restore", "--camera", "2000"}, "--camera does not go with --restore"},
        {{"--restore", "--dry-run"}, "--dry-run does not go with --restore"},
        {{"--restore", "--no-widescreen"}, "--no-widescreen does not go with --restore"},
        {{"--aspect", "16:9", "--no-widescreen"}, "--aspect and --no-widescreen exclude each other"},
    };
    for (const auto& c : cases) ExpectRefused(c.args, c.complaint);
}

TEST(CliUsage, AFolderThatCannotBeEnteredIsAUsageErrorWithItsNameQuoted) {
    GameFolder folder;
#ifdef _WIN32
    // No control character is part of a Windows name at all: such a folder is "an invalid name".
    const std::string name = "no such folder";
    const std::string shown = InShellQuotes("no such folder'");
#else
    const std::string name = "no such\nfolder";
    const std::string shown = "no such'$'\\n''folder'";
#endif
    const CliRun run = folder.Run({"--dir", folder.PathOf(name)});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    ASSERT_EQ(Lines(run.err).size(), 2u) << run.err;
    EXPECT_TRUE(Contains(run.err, InShellQuotes("velmora-patch: no such folder '"))) << run.err;
    EXPECT_TRUE(Contains(run.err, shown)) << run.err;
    const CliRun json = folder.Run({"--json", "--dir", folder.PathOf(name)});
    EXPECT_EQ(json.exitCode, 2);
    JsonValue value;
    std::string error;
    ASSERT_TRUE(ParseJson(json.out, &value, &error)) << error << "\n" << json.out;
    EXPECT_EQ(value["exit_code"].number, 2);
    EXPECT_EQ(value["error"]["code"].text, "no_such_folder") << json.out;
    EXPECT_TRUE(Contains(value["error"]["text"].text, "no such folder")) << json.out;
    // Named by --find, the same refusal and the same code.
    const CliRun find = folder.Run({"--find", folder.PathOf(name)});
    EXPECT_EQ(find.exitCode, 2);
    EXPECT_EQ(find.out, "");
    EXPECT_TRUE(Contains(find.err, InShellQuotes("velmora-patch: no such folder '"))) << find.err;
}

// The values go through the window's own input checks; a refusal names the option and the
// value as they were given.
TEST(CliUsage, RefusedValuesNameTheOptionAndTheValue) {
    const std::string CAMERA = "' is not a whole number from 1 to 65535";
    const std::string FOV = "' is not undef or a whole number from 1 to 16777215";
    const std::string ASPECT = "' is not W:H or WxH, two whole numbers from 1 up";
    const struct {
        std::vector<std::string> args;
        std::string complaint;
    } cases[] = {
        {{"--camera", "0"}, "--camera: '0" + CAMERA},
        {{"--camera", "65536"}, "--camera: '65536" + CAMERA},
        {{"--camera", "-5"}, "--camera: '-5" + CAMERA},
        {{"--camera", "12ab"}, "--camera: '12ab" + CAMERA},
        {{"--fov", "0"}, "--fov: '0" + FOV},
        {{"--fov", "16777216"}, "--fov: '16777216" + FOV},
        {{"--fov", "-1280"}, "--fov: '-1280" + FOV},
        {{"--fov", "undefined"}, "--fov: 'undefined" + FOV},
        {{"--aspect", "0:9"}, "--aspect: '0:9" + ASPECT},
        {{"--aspect", "a:9"}, "--aspect: 'a:9" + ASPECT},
        {{"--aspect", "16:-9"}, "--aspect: '16:-9" + ASPECT},
        {{"--aspect=16:9.5"}, "--aspect: '16:9.5" + ASPECT},
    };
    for (const auto& c : cases) ExpectRefused(c.args, c.complaint);
}

TEST(CliUsage, ValueFormsTheWindowAccepts) {
    const struct {
        std::vector<std::string> args;
        size_t offset;
        Bytes written;
    } cases[] = {
        {{"--aspect", "16:10"}, ASPECT_AT, {0xCD, 0xCC, 0xCC, 0x3F}},
        {{"--aspect", "16x10"}, ASPECT_AT, {0xCD, 0xCC, 0xCC, 0x3F}},
        {{"--aspect=16X10"}, ASPECT_AT, {0xCD, 0xCC, 0xCC, 0x3F}},
        {{"--aspect", " 21 : 9 "}, ASPECT_AT, {0x55, 0x55, 0x15, 0x40}},
        {{"--camera", "65535"}, CAMERA_AT + 6, {0xFF, 0xFF}},
        {{"--camera=1"}, CAMERA_AT + 6, {0x01, 0x00}},
        {{"--fov", "1366"}, FOV_AT, {0xB8, 0x00, 0x04, 0x00}},
        {{"--fov", "16777215"}, FOV_AT, {0xB8, 0xFF, 0xFF, 0xBF}},
    };
    for (const auto& c : cases) {
        GameFolder folder;
        folder.Write("vlmr3.exe", FixtureImage());
        const CliRun run = folder.Run(c.args);
        EXPECT_EQ(run.exitCode, 0) << c.args[0] << "\n" << run.out << run.err;
        EXPECT_EQ(Slice(folder.Read("vlmr3.exe"), c.offset, c.written.size()), c.written) << c.args[0];
    }
}

// Every exit code of the table, each case run twice in fresh folders: as text and as JSON,
// which must parse and tell the same.
TEST(CliExitCodes, EachCodeAsTheTableSaysInTextAndJson) {
    const Bytes noAspect = With(With(FixtureImage(), ASPECT_AT, {0, 0, 0, 0}), ASPECT_AGAIN_AT, {0, 0, 0, 0});
    const struct {
        const char* label;
        std::function<void(const GameFolder&)> setUp;
        std::vector<std::string> args;
        int exitCode;
        std::string resultStart;
    } cases[] = {
        {"defaults", [](const GameFolder& f) { f.Write("vlmr3.exe", FixtureImage()); }, {}, 0, "Done vlmr3.exe!"},
        {"all four", [](const GameFolder& f) { f.Write("vlmr3.exe", FixtureImage()); },
         {"--fov", "1920", "--camera", "2000", "--fps"}, 0, FULL_RUN_RESULT},
        {"camera only", [](const GameFolder& f) { f.Write("vlmr3.exe", FixtureImage()); },
         {"--no-widescreen", "--camera", "2000"}, 0,
         "Done vlmr3.exe!\n\nWidescreen correction not used\nCamera dist correction OK"},
        {"pattern not found", [&](const GameFolder& f) { f.Write("vlmr3.exe", noAspect); }, {}, 1,
         "Done vlmr3.exe!\n\nWidescreen correction not used"},
        {"not for this game", [](const GameFolder& f) { f.Write("vlmr4.exe", FixtureImage()); }, {"--fps"}, 1,
         "Done vlmr4.exe!\n\nWidescreen correction OK\nCamera dist correction not used\nFOV correction not "
         "used\nUnlock 60 FPS not used"},
        // As the window does, undef leaves the field of view alone: asked for, and done.
        {"fov undef", [](const GameFolder& f) { f.Write("vlmr3.exe", FixtureImage()); }, {"--fov", "undef"}, 0,
         "Done vlmr3.exe!\n\nWidescreen correction OK\nCamera dist correction not used\nFOV correction not used"},
        {"refused value", [](const GameFolder& f) { f.Write("vlmr3.exe", FixtureImage()); }, {"--camera", "0"}, 2,
         ""},
        // None of the names there: no guess at a busy file.
        {"empty folder", [](const GameFolder&) {}, {}, 3, "No Velmora 2345 files\n\nSearched "},
        {"a folder of the name", [](const GameFolder& f) { std::filesystem::create_directory(f.PathOf("vlmr3.exe")); },
         {}, 3, "No Velmora 2345 files\nMaybe file is busy"},
        {"read-only",
         [](const GameFolder& f) {
             f.Write("vlmr3.exe", FixtureImage());
             chmod(f.PathOf("vlmr3.exe").c_str(), 0444);
         },
         {}, 3, READ_ONLY_RESULT},
        {"backup cannot be written",
         [](const GameFolder& f) {
             f.Write("vlmr3.exe", FixtureImage());
             std::filesystem::create_directory(f.PathOf("vlmr3.exe.bak"));
         },
         {}, 4, "Nothing was changed!"},
    };
    for (const auto& c : cases) {
        GameFolder textFolder, jsonFolder;
        c.setUp(textFolder);
        c.setUp(jsonFolder);
        const Bytes target = textFolder.Read("vlmr3.exe");
        const CliRun text = textFolder.Run(c.args);
        std::vector<std::string> jsonArgs = c.args;
        jsonArgs.push_back("--json");
        const CliRun json = jsonFolder.Run(jsonArgs);
        EXPECT_EQ(text.exitCode, c.exitCode) << c.label << "\n" << text.out << text.err;
        EXPECT_EQ(json.exitCode, c.exitCode) << c.label;
        if (c.exitCode == 2) {
            JsonValue value;
            std::string error;
            EXPECT_TRUE(ParseJson(json.out, &value, &error)) << c.label << ": " << error << "\n" << json.out;
            EXPECT_EQ(value["exit_code"].number, 2) << c.label;
            continue;
        }
        // Without a game the report is a message, on stderr.
        const std::string& told = c.exitCode == 3 ? text.err : text.out;
        EXPECT_EQ(told.compare(0, c.resultStart.size(), c.resultStart), 0) << c.label << "\n" << told;
        ExpectReportsAgree(InFolderOfItsOwn(text, textFolder), InFolderOfItsOwn(json, jsonFolder), c.label);
        // Errors go to stderr; a run that did its job has nothing to say there.
        EXPECT_EQ(text.err.empty(), c.exitCode <= 1) << c.label << ": " << text.err;
        if (c.exitCode >= 3) {
            EXPECT_EQ(textFolder.Read("vlmr3.exe"), target) << c.label;
        }
    }
}

#ifndef _WIN32
// As root, an immutable file refuses write access whatever its permission bits say.
TEST(CliExitCodes, AnImmutableTargetIsNamedSo) {
    GameFolder folder;
    folder.Write("vlmr3.exe", FixtureImage());
    const std::string command = "chattr +i '" + folder.PathOf("vlmr3.exe") + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "chattr +i is not possible here";
    const CliRun run = folder.Run({});
    std::system(("chattr -i '" + folder.PathOf("vlmr3.exe") + "'").c_str());
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(WindowPart(run.err), "No Velmora 2345 files\nMaybe file is busy\nvlmr3.exe: immutable\nClear it: sudo chattr -i -a '" +
                           folder.PathOf("vlmr3.exe") + "'\n");
}
#endif

}  // namespace
