// The main window's logic against a fake window system and real files: start state, file
// selection, the Split command's checks, and what happens during a run.
#include "window/frm_splitter.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "files/interruption.h"
#include "test_support.h"
#include "window_test_support.h"

namespace splitter {
namespace {

using test::TempDir;
using testing::FakeWindowSystem;
using Box = FakeWindowSystem::Box;

class FrmSplitterTest : public ::testing::Test {
protected:
    FrmSplitterTest() { form.Form_Load(); }

    const FakeWindowSystem::ControlState& state(Control c) { return ui.controls[c]; }

    // Browse, choosing `path` in the dialog.
    void Browse(const std::string& path) {
        ui.Choose(path);
        form.cmdSelectFile_Click();
    }

    // Types `parts` and presses Split, as a user would (the focus is on the button).
    void PressSplit(const std::string& parts) {
        ui.controls[Control::txtNoOfParts].text = parts;
        ui.focus = Control::cmdSplit;
        form.cmdSplit_Click();
    }

    TempDir dir;
    FakeWindowSystem ui;
    frmSplitter form{ui};
};

// --- start and exit ---------------------------------------------------------------------------

TEST_F(FrmSplitterTest, StartState) {
    EXPECT_FALSE(state(Control::lblFileSize).visible);
    EXPECT_FALSE(state(Control::lblbytes).visible);
    EXPECT_FALSE(state(Control::cmdSplit).enabled);
    EXPECT_TRUE(state(Control::cmdSelectFile).enabled);
    EXPECT_TRUE(state(Control::cmdExit).enabled);
    EXPECT_EQ(state(Control::lblStatus).caption, "Ready...");
    EXPECT_EQ(state(Control::lblbytes).caption, "-------------");
    EXPECT_EQ(state(Control::txtSelectedFile).text, "");
    EXPECT_EQ(state(Control::txtNoOfParts).text, "");
    EXPECT_EQ(ui.focus, Control::cmdSelectFile);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_TRUE(ui.dialogs.empty());
}

TEST_F(FrmSplitterTest, ExitAndClosingEndTheProgram) {
    form.Click(Control::cmdExit);
    EXPECT_EQ(ui.ends, 1);
    form.Closing();
    EXPECT_EQ(ui.ends, 2);
    EXPECT_TRUE(ui.boxes.empty());
}

// --- file selection ---------------------------------------------------------------------------

TEST_F(FrmSplitterTest, BrowseShowsPathAndSizeAndEnablesSplit) {
    const std::string path = dir.MakeFile("report.pdf", 2048);
    form.Click(Control::cmdSelectFile);

    ASSERT_EQ(ui.dialogs.size(), 1u);  // cancelled: nothing chosen yet
    ui.Choose(path);
    form.Click(Control::cmdSelectFile);

    ASSERT_EQ(ui.dialogs.size(), 2u);
    const OpenFileRequest expected{"/opt/splitter", 0x1004, "All Files (*.*)|*.*"};
    EXPECT_EQ(ui.dialogs[1], expected);
    EXPECT_EQ(state(Control::txtSelectedFile).text, path);
    EXPECT_TRUE(state(Control::lblFileSize).visible);
    EXPECT_EQ(state(Control::lblbytes).caption, "2048 Bytes.");
    EXPECT_TRUE(state(Control::lblbytes).visible);
    EXPECT_TRUE(state(Control::cmdSplit).enabled);
    // The next Browse opens in the chosen file's folder.
    form.Click(Control::cmdSelectFile);
    EXPECT_EQ(ui.dialogs.at(2).initialFolder, dir.path().string());
}

TEST_F(FrmSplitterTest, CancelThenYesAsksAgainWithTheSameSettings) {
    const std::string path = dir.MakeFile("a.bin", 10);
    ui.choices.push_back({});  // cancelled
    ui.Choose(path);
    ui.answers.push_back(kMsgYes);
    form.cmdSelectFile_Click();

    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0], (Box{"You must any file...\r\nDo you want to continue?", 4, "Error!"}));
    ASSERT_EQ(ui.dialogs.size(), 2u);
    EXPECT_EQ(ui.dialogs[0], ui.dialogs[1]);
    EXPECT_EQ(ui.dialogs[1].initialFolder, "/opt/splitter");
    EXPECT_EQ(state(Control::lblbytes).caption, "10 Bytes.");
    EXPECT_TRUE(state(Control::cmdSplit).enabled);
}

// What the window shows is what Split splits: the file chosen before, or none.
TEST_F(FrmSplitterTest, CancelThenNoKeepsTheEarlierChoice) {
    for (const bool chosenBefore : {false, true}) {
        SCOPED_TRACE(chosenBefore ? "after an earlier choice" : "from the start");
        const std::string earlier = chosenBefore ? dir.MakeFile("earlier.txt", 5) : "";
        if (chosenBefore) Browse(earlier);
        const auto before = ui.controls;
        ui.answers.push_back(kMsgNo);
        form.cmdSelectFile_Click();  // cancelled, then No

        EXPECT_EQ(ui.boxes.back().style, kMsgYesNo);
        for (const Control c : {Control::txtSelectedFile, Control::lblFileSize, Control::lblbytes,
                                Control::cmdSplit}) {
            EXPECT_EQ(ui.controls[c].text, before.at(c).text);
            EXPECT_EQ(ui.controls[c].caption, before.at(c).caption);
            EXPECT_EQ(ui.controls[c].visible, before.at(c).visible);
            EXPECT_EQ(ui.controls[c].enabled, before.at(c).enabled);
        }
    }
    PressSplit("2");
    EXPECT_EQ(state(Control::lblStatus).caption, "Done !");
}

TEST_F(FrmSplitterTest, EmptyFileIsChosenButCannotBeSplit) {
    Browse(dir.MakeFile("empty", 0));
    EXPECT_EQ(state(Control::lblbytes).caption, "0 Bytes.");
    EXPECT_TRUE(state(Control::cmdSplit).enabled);

    PressSplit("2");
    EXPECT_EQ(state(Control::lblStatus).caption, "Unable to split...");
    EXPECT_EQ(ui.focus, Control::txtNoOfParts);
    EXPECT_FALSE(state(Control::cmdSplit).enabled);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"empty"});
}

TEST_F(FrmSplitterTest, BrowseAgainAfterSplitEnablesSplit) {
    const std::string path = dir.MakeFile("data", 100);
    Browse(path);
    PressSplit("4");
    ASSERT_EQ(state(Control::lblStatus).caption, "Done !");
    ASSERT_FALSE(state(Control::cmdSplit).enabled);

    Browse(path);
    EXPECT_TRUE(state(Control::cmdSplit).enabled);
    EXPECT_EQ(state(Control::lblStatus).caption, "Done !");  // never reset to "Ready..."
}

// Spaces around the dialog's answer go, unless they are part of the chosen file's name.
TEST_F(FrmSplitterTest, DialogAnswerTrimming) {
    const std::string plain = dir.MakeFile("plain.txt", 3);
    const std::string spaced = dir.MakeFile(" spaced ", 4);
    struct Case {
        OpenFileResult answer;
        std::string path, title;
    };
    const Case cases[] = {
        {{plain, "plain.txt"}, plain, "plain.txt"},
        {{"  " + plain + " ", " plain.txt "}, plain, "plain.txt"},
        {{spaced, " spaced "}, spaced, " spaced "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE('"' + c.answer.path + '"');
        ui.choices.push_back(c.answer);
        form.cmdSelectFile_Click();
        EXPECT_EQ(state(Control::txtSelectedFile).text, c.path);
        EXPECT_TRUE(state(Control::cmdSplit).enabled);
    }
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(FrmSplitterTest, FileGoneBeforeItsSizeIsTakenIsReported) {
    // The file, or its whole folder, went away between the dialog and here.
    for (const auto& [name, message] : {std::pair{"never-there", "Error 53: File not found"},
                                        std::pair{"gone/never-there", "Error 76: Path not found"},
                                        std::pair{" gone/spaced ", "Error 76: Path not found"}}) {
        ui.boxes.clear();
        ui.Choose(dir / name);
        form.cmdSelectFile_Click();
        ASSERT_EQ(ui.boxes.size(), 1u) << name;
        EXPECT_EQ(ui.boxes[0].prompt.rfind(message, 0), 0u) << ui.boxes[0].prompt;
        EXPECT_EQ(ui.boxes[0].style, kMsgOkOnly);
        EXPECT_FALSE(state(Control::cmdSplit).enabled);
        EXPECT_FALSE(state(Control::lblbytes).visible);
    }
}

// A file the dialog chose but that cannot be looked at (a folder on the way refuses access).
TEST_F(FrmSplitterTest, FileThatCannotBeLookedAtIsReported) {
    class Refusing final : public FileSystemWrapper {
    public:
        using FileSystemWrapper::FileSystemWrapper;
        std::optional<FileStatus> Status(const std::string& path) override {
            throw Failure::Of(kPermissionDenied, FileTitleOf(path));
        }
    } refusing(FileSystem::Default());
    frmSplitter refused(ui, refusing);
    refused.Form_Load();
    ui.Choose(dir.MakeFile("locked.bin", 10));
    refused.cmdSelectFile_Click();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0], (Box{"Error 70: Permission denied (locked.bin)", kMsgOkOnly, ""}));
    EXPECT_FALSE(state(Control::cmdSplit).enabled);
    EXPECT_FALSE(state(Control::lblbytes).visible);
}

TEST_F(FrmSplitterTest, NameWithSpacesIsSplitAsItself) {
    const std::string spaced = dir.MakeFile("notes ", 6);
    ui.choices.push_back({spaced, "notes "});
    form.cmdSelectFile_Click();
    PressSplit("3");
    EXPECT_EQ(state(Control::lblStatus).caption, "Done !");
#ifdef _WIN32
    const std::string stored = "notes";  // Windows drops a trailing space from a file's name
#else
    const std::string stored = "notes ";
#endif
    EXPECT_EQ(dir.Names(),
              (std::vector<std::string>{stored, "notes .0", "notes .1", "notes .2", "notes .bat"}));
}

TEST_F(FrmSplitterTest, AnswerOfOnlySpacesCountsAsNothingChosen) {
    ui.choices.push_back({"   ", "  "});
    form.cmdSelectFile_Click();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].style, kMsgYesNo);
    EXPECT_FALSE(state(Control::cmdSplit).enabled);
}

// A join script given to the window is offered for joining: Yes joins it (or shows why not, in
// one box, writing nothing), No chooses it to split; a .bat that is no script is not asked of.
TEST_F(FrmSplitterTest, ScriptGivenIsOfferedForJoining) {
    struct Case {
        const char* what;
        int answer;       // 0: no question
        bool partsGone;   // parts 1 and 2 gone before the join
        std::string box;  // the error box after the question
        bool sourceKept = false;
    };
    const Case cases[] = {
        {"Yes joins", kMsgYes, false, ""},
        {"No chooses it", kMsgNo, false, ""},
        {"parts missing", kMsgYes, true,
         "Missing part: v.bin.1\r\nMissing part: v.bin.2\r\nNothing was written."},
        {"destination there", kMsgYes, false,
         "The destination exists: v.bin\r\nNothing was written.", true},
        {"no script", 0, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir folder;
        const std::string source = folder.MakeFile("v.bin", 3000);
        const std::string original = test::ReadBytes(source);
        FakeWindowSystem fake;
        frmSplitter window(fake);
        window.Form_Load();
        window.FileGiven(source);
        fake.controls[Control::txtNoOfParts].text = "3";
        window.cmdSplit_Click();
        if (!c.sourceKept) std::filesystem::remove(source);
        for (const char* part : {"v.bin.1", "v.bin.2"})
            if (c.partsGone) std::filesystem::remove(folder / part);
        if (c.answer == 0) test::WriteBytes(folder / "v.bin.bat", "echo not a join");
        if (c.answer != 0) fake.answers.push_back(c.answer);
        fake.statuses.clear();
        window.FileGiven(folder / "v.bin.bat");

        std::vector<Box> boxes;
        if (c.answer != 0)
            boxes.push_back(
                {"v.bin.bat joins 3 parts into v.bin.\r\nJoin them now?", kMsgYesNo, ""});
        if (!c.box.empty()) boxes.push_back({c.box, kMsgOkOnly, ""});
        EXPECT_EQ(fake.boxes, boxes);
        const bool joined = c.answer == kMsgYes && c.box.empty();
        EXPECT_EQ(std::filesystem::exists(source), joined || c.sourceKept);
        EXPECT_EQ(joined ? test::ReadBytes(source) : original, original);
        // A refused join ends on its first reason, never on a join under way.
        const std::string status = joined ? "Done !" : c.box.substr(0, c.box.find('\r'));
        EXPECT_EQ(fake.statuses.empty() ? "" : fake.statuses.back(), status);
        EXPECT_EQ(fake.controls[Control::txtSelectedFile].text,
                  joined || !c.box.empty() ? source : folder / "v.bin.bat");
    }
}

// What the repair of a join rebuilt stays in view after "Done !", in a box of its own.
TEST_F(FrmSplitterTest, JoinShowsWhatItRebuilt) {
    const std::string source = dir.MakeFile("v.bin", 3000);
    test::RecordingHost split;
    ASSERT_EQ(SplitFile(source, "v.bin", SplitPlan::Count(3), split, {false, 100}),
              SplitResult::kDone);
    for (const char* gone : {"v.bin", "v.bin.1"}) std::filesystem::remove(dir.path() / gone);
    ui.answers.push_back(kMsgYes);
    form.FileGiven(dir / "v.bin.bat");
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[1].prompt.rfind("Rebuilt v.bin.1 from the recovery volumes", 0), 0u);
    EXPECT_EQ(state(Control::lblStatus).caption, "Done !");
}

// A file named on the command line or dropped: chosen as Browse chooses, with no dialog.
TEST_F(FrmSplitterTest, FileGivenIsChosenAsBrowseChoosesIt) {
    const std::string file = dir.MakeFile("movie.mkv", 3000);
    const std::string earlier = dir.MakeFile("kept.bin", 10);
    for (const char* folder : {"folder", "other/folder"})
        std::filesystem::create_directories(dir.path() / folder);
    struct Case {
        std::string given;
        std::string box;      // the error box; empty: the file is chosen
        std::string earlier;  // chosen before, kept by a refusal
    };
    const Case cases[] = {
        {file, "", ""},
        {dir / "missing.bin", "Error 53: File not found (missing.bin)", ""},
        {dir / "folder", "Error 75: Path/File access error (folder)", ""},
        {dir / "other/gone.bin", "Error 53: File not found (gone.bin)", earlier},
        {dir / "other/folder", "Error 75: Path/File access error (folder)", earlier},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        FakeWindowSystem fake;
        frmSplitter window(fake);
        window.Form_Load();
        if (!c.earlier.empty()) window.FileGiven(c.earlier);
        window.FileGiven(c.given);

        EXPECT_TRUE(fake.dialogs.empty());
        const bool chosen = c.box.empty();
        if (chosen) {
            EXPECT_TRUE(fake.boxes.empty());
        } else {
            EXPECT_EQ(fake.boxes, (std::vector<Box>{{c.box, kMsgOkOnly, ""}}));
        }
        const std::string shown = chosen ? file : c.earlier;
        EXPECT_EQ(fake.controls[Control::txtSelectedFile].text, shown);
        EXPECT_EQ(fake.controls[Control::lblbytes].caption, chosen          ? "3000 Bytes."
                                                            : shown.empty() ? "-------------"
                                                                            : "10 Bytes.");
        EXPECT_EQ(fake.controls[Control::lblbytes].visible, !shown.empty());
        EXPECT_EQ(fake.controls[Control::lblFileSize].visible, !shown.empty());
        EXPECT_EQ(fake.controls[Control::cmdSplit].enabled, !shown.empty());
        EXPECT_EQ(fake.focus, Control::cmdSelectFile);
        window.cmdSelectFile_Click();  // starts where the file shown is
        EXPECT_EQ(fake.dialogs.back().initialFolder,
                  shown.empty() ? fake.appPath : dir.path().string());
    }

    // Nothing named changes nothing; a file given after a split enables Split again, and the
    // split cuts that file.
    Browse(dir.MakeFile("first.bin", 10));
    form.FileGiven("  ");
    PressSplit("2");
    ASSERT_TRUE(std::filesystem::exists(dir.path() / "first.bin.1"));
    ASSERT_FALSE(state(Control::cmdSplit).enabled);
    form.FileGiven(file);
    EXPECT_TRUE(state(Control::cmdSplit).enabled);
    PressSplit("3");
    EXPECT_EQ(state(Control::lblStatus).caption, "Done !");
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "movie.mkv.2"));
    EXPECT_TRUE(ui.boxes.empty());
    // Several files dropped: none is taken, and a box says why.
    form.FilesDropped({file, file});
    EXPECT_EQ(ui.boxes, (std::vector<Box>{{"2 files were dropped. Drop one file at a time: the "
                                           "window splits one file.",
                                           kMsgOkOnly, ""}}));
}

// --- the Split command ------------------------------------------------------------------------

TEST_F(FrmSplitterTest, PartCountTable) {
    const Box enter{"Please Enter Number of Parts.", 16, "Tarvo's Splitter"};
    const Box invalid{"Please Enter valid number of Parts.", 16, "Tarvo's Splitter"};
    const Box overflow{"Error 6: Overflow", 0, ""};
    struct Case {
        std::string typed;
        std::vector<Box> boxes;
        int parts;  // parts on disk after the click; 0: no run
    };
    const Case cases[] = {
        {"", {enter}, 0},
        {"     ", {enter}, 0},
        {" 5", {invalid}, 0},
        {"5 ", {invalid}, 0},
        {"2.5", {invalid}, 0},
        {"-3", {invalid}, 0},
        {"+4", {invalid}, 0},
        {"1e3", {invalid}, 0},
        {"1", {invalid}, 0},
        {"1000", {invalid}, 0},
        {"32767", {invalid}, 0},
        {"\xd9\xa5", {invalid}, 0},      // ARABIC-INDIC DIGIT FIVE
        {"\xef\xbc\x95", {invalid}, 0},  // FULLWIDTH DIGIT FIVE
        {"40000", {overflow}, 0},
        {"32768", {overflow}, 0},
        {"1234567890123456789012345678901234567890", {overflow}, 0},
        {std::string(40000, 'x'), {overflow}, 0},  // too long to be walked at all
        {"2", {}, 2},
        {"999", {}, 999},
        {"007", {}, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE('"' + (c.typed.size() > 40 ? c.typed.substr(0, 40) + "..." : c.typed) + '"');
        TempDir runDir;
        FakeWindowSystem fake;
        frmSplitter window(fake);
        window.Form_Load();
        fake.Choose(runDir.MakeFile("src.bin", 1500));
        window.cmdSelectFile_Click();
        ASSERT_TRUE(fake.controls[Control::cmdSplit].enabled);

        fake.controls[Control::txtNoOfParts].text = c.typed;
        fake.focus = Control::cmdSplit;
        window.Click(Control::cmdSplit);

        EXPECT_EQ(fake.boxes, c.boxes);
        EXPECT_FALSE(fake.controls[Control::cmdSplit].enabled);
        EXPECT_EQ(fake.controls[Control::txtNoOfParts].text, c.typed);
        const bool validationBox = !c.boxes.empty() && c.boxes[0].style == kMsgCritical;
        EXPECT_EQ(fake.focus, validationBox ? Control::txtNoOfParts : Control::cmdSplit);
        const std::size_t files = c.parts == 0 ? 1 : static_cast<std::size_t>(c.parts) + 2;
        EXPECT_EQ(runDir.Names().size(), files);
        EXPECT_EQ(fake.controls[Control::lblStatus].caption, c.parts == 0 ? "Ready..." : "Done !");
        if (c.parts > 0) {
            EXPECT_TRUE(std::filesystem::exists(runDir.path() /
                                                ("src.bin." + std::to_string(c.parts - 1))));
        }
    }
}

TEST_F(FrmSplitterTest, RunShowsProgressAndYields) {
    const std::string path = dir.MakeFile("data.bin", 1000);
    Browse(path);
    PressSplit("4");

    ASSERT_FALSE(ui.statuses.empty());
    EXPECT_EQ(ui.statuses.front(), "Splitting... ");
    EXPECT_EQ(ui.statuses[1], "Splitting... [ 1 % Completed. ]");
    EXPECT_EQ(ui.statuses.back(), "Done !");
    EXPECT_EQ(ui.statuses[ui.statuses.size() - 2], "Splitting... [ 100 % Completed. ]");
    EXPECT_GE(ui.yields, 100);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"data.bin", "data.bin.0", "data.bin.1",
                                                     "data.bin.2", "data.bin.3", "data.bin.bat"}));
    EXPECT_TRUE(form.TakesDrops());
}

TEST_F(FrmSplitterTest, FailedRunShowsTheErrorAndNeverDone) {
    const std::string path = dir.MakeFile("gone.bin", 100);
    Browse(path);
    std::filesystem::remove(path);
    PressSplit("4");

    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].prompt.rfind("Error 53: File not found", 0), 0u) << ui.boxes[0].prompt;
    EXPECT_EQ(ui.boxes[0].style, kMsgOkOnly);
    EXPECT_EQ(ui.boxes[0].title, "");
    EXPECT_EQ(state(Control::lblStatus).caption, "Splitting... ");
    EXPECT_FALSE(state(Control::cmdSplit).enabled);
    EXPECT_TRUE(form.TakesDrops());
}

#ifndef _WIN32
// A limit on file sizes (ulimit -f) is a failure in the error box, not a silent end of the
// window program by SIGXFSZ.
TEST_F(FrmSplitterTest, FileSizeLimitShowsInTheErrorBox) {
    const std::string path = dir.MakeFile("data.bin", 20000);
    Browse(path);
    interruption::CatchSignals();  // as the program does
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    PressSplit("2");
    ::setrlimit(RLIMIT_FSIZE, &before);

    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].prompt, "Error 61: File too large for the file system (data.bin.0)");
    EXPECT_NE(ui.statuses.back(), "Done !");
}

// A name that the code page of the user's cmd cannot spell: the run gets through, then a box
// says that cmd will not find the parts.
TEST_F(FrmSplitterTest, NameTheScriptsCodePageCannotSpellIsWarnedAbout) {
    Browse(dir.MakeFile("caf\xc3\xa9.txt", 100));
    const std::string before = std::getenv("LC_ALL") != nullptr ? std::getenv("LC_ALL") : "";
    ::setenv("LC_ALL", "ru_RU.UTF-8", 1);  // code page 866: Cyrillic, no "é"
    PressSplit("2");
    ::setenv("LC_ALL", before.c_str(), 1);
    EXPECT_EQ(ui.statuses.back(), "Done !");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].prompt.rfind("Warning: cmd on Windows reads join scripts in", 0), 0u);
}
#endif

TEST_F(FrmSplitterTest, BrowseAndDropDuringARunAreRefused) {
    const std::string first = dir.MakeFile("first.bin", 1000);
    const std::string second = dir.MakeFile("second.bin", 1000);
    Browse(first);
    int refused = 0;
    ui.onYield = [&] {
        ASSERT_FALSE(form.TakesDrops());
        ui.Choose(second);
        const std::size_t dialogs = ui.dialogs.size();
        form.Click(Control::cmdSelectFile);
        form.FilesDropped({second});
        if (ui.dialogs.size() == dialogs && state(Control::txtSelectedFile).text == first &&
            !form.TakesDrops())
            ++refused;
        ui.choices.clear();
        form.Click(Control::cmdSplit);  // disabled on screen; a stray click starts nothing
    };
    PressSplit("2");
    ui.onYield = nullptr;

    EXPECT_EQ(refused, ui.yields);
    EXPECT_EQ(state(Control::lblStatus).caption, "Done !");
    EXPECT_FALSE(state(Control::cmdSplit).enabled);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"first.bin", "first.bin.0", "first.bin.1",
                                                     "first.bin.bat", "second.bin"}));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(FrmSplitterTest, ExitDuringARunEnds) {
    Browse(dir.MakeFile("big.bin", 1000));
    dir.MakeFile("big.bin.bat", 10);
    bool scriptAtExit = true;  // an earlier script is gone by then: it lists other parts
    ui.onYield = [&] {
        if (ui.ends == 0) form.Click(Control::cmdExit);
        scriptAtExit = scriptAtExit && std::filesystem::exists(dir.path() / "big.bin.bat");
    };
    PressSplit("3");
    EXPECT_EQ(ui.ends, 1);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(scriptAtExit);
}

TEST_F(FrmSplitterTest, ClickOnANonButtonDoesNothing) {
    form.Click(Control::lblStatus);
    form.Click(Control::txtNoOfParts);
    EXPECT_TRUE(ui.dialogs.empty());
    EXPECT_EQ(ui.ends, 0);
}

}  // namespace
}  // namespace splitter
