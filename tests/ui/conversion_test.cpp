// The Go command and the run it starts, with the real renderer: the refusals,
// the download question, the job files, the progress in the status line and
// the bar, the outcome, and what a second run leaves.
#include "window_support.h"

#include "app/job/app_define.h"
#include "app/job/outcome.h"
#include "app/job/render.h"
#include "app/job/script_writer.h"
#include "app/ui/startup.h"
#include "app/ui/stop_command.h"
#include "app/ui/stop_signals.h"
#include "platform/forms/application.h"
#include "platform/win32/files.h"

#include "media_support.h"
#include "qtwidgets.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <csignal>
#include <filesystem>
#include <optional>
#include <sys/stat.h>

using namespace quillon;
using namespace windowtest;
using testsupport::Click;
using testsupport::Exists;
using testsupport::ReadFile;

namespace {

// What the status line and the progress bar show, one entry each time either
// changes, seen between the events of the GUI thread.
class StateRecorder : public QObject
{
public:
    explicit StateRecorder(const TMainForm &form)
        : form_(form)
    {
        qApp->installEventFilter(this);
    }
    ~StateRecorder() override { qApp->removeEventFilter(this); }

    struct State
    {
        std::string status;
        bool bar;
        bool operator==(const State &) const = default;
    };
    std::vector<State> states;

    bool eventFilter(QObject *, QEvent *) override
    {
        const State now{form_.sb_status->Caption(), form_.ProgressConvert->isVisible()};
        if (states.empty() || !(states.back() == now))
            states.push_back(now);
        return false;
    }

private:
    const TMainForm &form_;
};

// Runs `what` on the GUI thread as `target` receives an event of `type`, before
// the event is handled.
class EventHook : public QObject
{
public:
    EventHook(QObject *target, QEvent::Type type, std::function<void()> what)
        : target_(target)
        , type_(type)
        , what_(std::move(what))
    {
        target_->installEventFilter(this);
    }
    ~EventHook() override { target_->removeEventFilter(this); }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == type_)
            what_();
        return false;
    }

private:
    QObject *target_;
    QEvent::Type type_;
    std::function<void()> what_;
};

class Conversion : public MainFormTest
{
protected:
    void SetUp() override
    {
        MainFormTest::SetUp();
        form->edtOutputPath->setText(QString::fromStdString(dir.file("out")));
        Click(form->tabOutput, {20, 20});
    }

    void Go() { Click(form->pnl3_btnGo, {20, 15}); }
    bool WaitForRun()
    {
        return WaitUntil([&] { return !form->RunActive(); });
    }

    // A compressor position that the renderer cannot bind, so that a run fails
    // at once, after the Go command has done all its work.
    void ListWithoutABindableCompressor()
    {
        std::vector<std::string> names(40, "Codec");
        names.back() = "DivX? 5 far away";
        SendCompressorList(form->Handle(), names);
    }

    std::string Temp(const std::string &name) const { return GetTempDirectory() + name; }
    static int CategorySize() { return static_cast<int>(VideoCompressorNames().size()); }
};

} // namespace

TEST_F(Conversion, RefusalsWriteNothing)
{
    Go();
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Please add some photos first."}));
    EXPECT_EQ(boxes.boxes()[0].caption, forms::Application()->Title());
    EXPECT_FALSE(Exists(Temp("pelloryfilelist.txt")));
    EXPECT_FALSE(Exists(Temp("param.ini")));
    EXPECT_FALSE(Exists(Temp("temp.avs")));
    EXPECT_FALSE(form->RunActive());

    // A photo whose name the job files cannot carry is named and refused.
    testsupport::MakeFolder(dir.file("odd"));
    Jpeg("odd/say \"cheese\".jpg");
    AddFolder(dir.file("odd"));
    const std::string quoted = dir.file("odd//say \"cheese\".jpg");
    boxes.clear();
    Go();
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_EQ(boxes.texts()[0], UnusablePhotoMessage(quoted));
    EXPECT_FALSE(Exists(Temp("pelloryfilelist.txt")));
    EXPECT_FALSE(Exists(Temp("temp.avs")));
    EXPECT_FALSE(form->Converting());
    EXPECT_FALSE(form->RunActive());
}

TEST_F(Conversion, GoWhileAnotherProcessRunsInTheJobFolderStartsNothing)
{
    AddFiles({Jpeg("a.jpg")});
    // What another process's run holds: the lock of the job folder.
    win32::FolderLock other;
    ASSERT_EQ(other.TryLock(GetTempDirectory()), win32::FolderLock::Result::Taken);
    Go();
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{JobFolderBusyText});
    EXPECT_FALSE(Exists(Temp("pelloryfilelist.txt")));
    EXPECT_FALSE(form->RunActive());

    other.Release();
    boxes.clear();
    Go();
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{ConversionCompletedText});
    // The run held the lock until the renderer was done, and let it go.
    EXPECT_EQ(other.TryLock(GetTempDirectory()), win32::FolderLock::Result::Taken);
    other.Release();

    // A failed render's box may stay open for long: the job folder is free
    // while it does, so another run (a script's) need not wait for a reader.
    const std::string movie = form->JobInfo().OutputFolder + "photo_video.avi";
    ASSERT_EQ(::chmod(movie.c_str(), 0444), 0);
    std::vector<win32::FolderLock::Result> whileShown;
    boxes.onBox = [&](const testsupport::RecordedBox &box) {
        if (box.text.find("is read-only") == std::string::npos)
            return;
        win32::FolderLock probe;
        whileShown.push_back(probe.TryLock(GetTempDirectory()));
    };
    boxes.clear();
    Go();
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(whileShown, std::vector<win32::FolderLock::Result>{win32::FolderLock::Result::Taken});
    ::chmod(movie.c_str(), 0644);
}

TEST_F(Conversion, GoWithAJobFolderOthersMayEnterWritesNothing)
{
    AddFiles({Jpeg("a.jpg")});
    const std::string jobs = GetTempDirectory();
    ASSERT_EQ(::chmod(jobs.c_str(), 0755), 0);
    Go();
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"The job folder \"" + jobs
                                                      + "\" cannot be used: others may enter it "
                                                        "(mode 0755)."});
    EXPECT_EQ(win32::ListFolder(jobs)->size(), 0u);
    EXPECT_FALSE(form->RunActive());
}

TEST_F(Conversion, GoDuringARunAndClosingAreRefusedUntilItHasEnded)
{
    ListWithoutABindableCompressor();
    AddFiles({Jpeg("a.jpg")});
    // Called straight, so that no event of the run is served in between: its
    // end-of-run step cannot have come yet.
    form->pnl3_btnGoClick(nullptr);
    ASSERT_TRUE(form->Converting());
    std::filesystem::remove(Temp("pelloryfilelist.txt"));
    form->pnl3_btnGoClick(nullptr);
    const std::string wait = "The application is converting photos to DVD, just wait.";
    auto texts = boxes.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), wait), 1);
    EXPECT_FALSE(Exists(Temp("pelloryfilelist.txt")));

    form->close();
    EXPECT_TRUE(form->isVisible());
    texts = boxes.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), wait), 2);

    ASSERT_TRUE(WaitForRun());
    EXPECT_FALSE(form->Converting());
    EXPECT_EQ(boxes.texts().back(), "An error occured when convert photo to video stream.");
    form->close();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(Conversion, WholeRunFromGoToACorrectMovie)
{
    const std::string a = Jpeg("a.jpg", 96, 64, 1), b = Bmp("b.bmp", 40, 30, 2),
                      c = Jpeg("c.jpg", 64, 96, 3);
    AddFiles({a, b, c});
    const std::string tune = dir.file("tune.wav");
    mediatest::WriteWav(tune, 11025, 1, 2.0);
    form->edtSoundFile->setText(QString::fromStdString(tune));
    form->edtOutputPath->setText(QString::fromStdString(dir.file("out/movies")));
    form->edtInterval->SetText("1");
    Click(form->pnl3_grpResolution->Button(2), {5, 8});

    StateRecorder recorder(*form);
    struct AtOutcome
    {
        std::string status;
        bool bar = true;
        bool converting = true;
    } atOutcome;
    boxes.onBox = [&](const testsupport::RecordedBox &box) {
        if (box.text == "Video File Generation Compeleted." && forms::IsGuiThread())
            atOutcome = {form->sb_status->Caption(), form->ProgressConvert->isVisible(),
                         form->Converting()};
    };
    Go();
    EXPECT_TRUE(form->Converting());
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Video File Generation Compeleted."}));
    EXPECT_EQ(boxes.boxes()[0].caption, forms::Application()->Title());
    EXPECT_EQ(atOutcome.status, "Video File Generation Compeleted.");
    EXPECT_FALSE(atOutcome.bar);
    EXPECT_FALSE(atOutcome.converting);

    // The status line went from the start text to the time texts, the bar
    // appearing with the first of them (the text is set first, then the bar is
    // shown), and ended with the outcome, the bar hidden.
    const auto &states = recorder.states;
    auto converting
        = std::find(states.begin(), states.end(),
                    StateRecorder::State{"Converting photo to video stream ... ", false});
    ASSERT_NE(converting, states.end());
    EXPECT_TRUE(std::none_of(states.begin(), converting, [](const auto &s) { return s.bar; }));
    auto outcome = std::find_if(converting, states.end(), [](const auto &s) {
        return !s.status.starts_with("Time: ") && !s.status.starts_with("Converting");
    });
    ASSERT_NE(outcome, states.end());
    EXPECT_EQ(*outcome, (StateRecorder::State{"Video File Generation Compeleted.", false}));
    EXPECT_EQ(outcome + 1, states.end());
    ASSERT_GT(outcome - converting, 1);
    EXPECT_TRUE(std::any_of(converting, outcome, [](const auto &s) { return s.bar; }));
    // The last progress message carries the end of the movie.
    EXPECT_EQ((outcome - 1)->status, "Time: 5.00s/5s ");

    // The job files and the script, byte for byte.
    EXPECT_EQ(ReadFile(Temp("pelloryfilelist.txt")), a + "\r\n" + b + "\r\n" + c + "\r\n");
    EXPECT_EQ(ReadFile(Temp("param.ini")),
              "[Temp]\r\nOutputWidth=352\r\nOutputHeight=240\r\nInterval=1\r\n");
    EXPECT_EQ(ReadFile(Temp("temp.avs")), BuildScript({a, b, c}, 0, 2, "1"));

    // The record and the numbers of the run.
    EXPECT_EQ(form->TotalSeconds(), 5);
    EXPECT_EQ(form->JobInfo().DurationSeconds, 3);
    EXPECT_EQ(form->JobInfo().OutputFolder, dir.file("out/movies/"));
    EXPECT_EQ(form->JobInfo().CompressorIndex, form->cmbCompressorList->currentIndex());
    EXPECT_EQ(form->JobInfo().SoundFile, tune);

    // The movie: the chosen size, 25 frames a second for 5 seconds, and sound.
    const auto info = mediatest::ProbeAvi(dir.file("out/movies/photo_video.avi"));
    ASSERT_NE(info.video(), nullptr);
    EXPECT_EQ(info.video()->tag, "DX50");
    EXPECT_EQ(info.video()->width, 352);
    EXPECT_EQ(info.video()->height, 240);
    EXPECT_EQ(info.video()->frames, 125);
    ASSERT_NE(info.audio(), nullptr);
    EXPECT_EQ(info.audio()->sampleRate, 11025);
}

TEST_F(Conversion, ProgressMessagesAndARendererFailure)
{
    ListWithoutABindableCompressor();
    AddFiles({Jpeg("a.jpg"), Jpeg("b.jpg"), Jpeg("c.jpg")});
    form->edtInterval->SetText("3");
    Go();
    ASSERT_TRUE(WaitForRun());
    // The renderer's own message, with its reason, first, then the outcome.
    EXPECT_EQ(boxes.texts(),
              (std::vector<std::string>{"Could not connect photo source to compressor.\r\n\r\n"
                                        "There is no video compressor at position 39: the "
                                        "positions go from 0 to "
                                            + std::to_string(CategorySize() - 1) + ".",
                                        "An error occured when convert photo to video stream."}));
    EXPECT_EQ(form->sb_status->Caption(), "An error occured when convert photo to video stream.");
    EXPECT_FALSE(form->ProgressConvert->isVisible());
    EXPECT_EQ(form->TotalSeconds(), 11);
    EXPECT_EQ(form->JobInfo().DurationSeconds, 9);
    EXPECT_EQ(form->JobInfo().CompressorIndex, 39);

    const UINT message = form->ProgressMessage();
    win32::SendMessageA(form->Handle(), message, 1500, 0);
    EXPECT_EQ(form->sb_status->Caption(), "Time: 1.50s/11s ");
    EXPECT_TRUE(form->ProgressConvert->isVisible());
    EXPECT_EQ(form->ProgressConvert->maximum(), 11);
    EXPECT_EQ(form->ProgressConvert->minimum(), 0);
    EXPECT_EQ(form->ProgressConvert->value(), 1);

    // Not a progress message without lParam 0.
    win32::SendMessageA(form->Handle(), message, 7000, 1);
    EXPECT_EQ(form->sb_status->Caption(), "Time: 1.50s/11s ");
    EXPECT_EQ(form->ProgressConvert->value(), 1);

    // A position beyond the movie's end fills the bar.
    win32::SendMessageA(form->Handle(), message, 12999, 0);
    EXPECT_EQ(form->sb_status->Caption(), "Time: 13.00s/11s ");
    EXPECT_EQ(form->ProgressConvert->value(), 11);

    // The user's decimal separator.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    win32::SendMessageA(form->Handle(), message, 1500, 0);
    QLocale::setDefault(previous);
    EXPECT_EQ(form->sb_status->Caption(), "Time: 1,50s/11s ");
}

TEST_F(Conversion, DownloadQuestionWhenNoCompressorIsTheOneThatIsPreferred)
{
    SendCompressorList(form->Handle(), {});
    AddFiles({Jpeg("a.jpg")});
    boxes.answer = [](const testsupport::RecordedBox &box) {
        return box.caption == "Confirm" ? win32::IDNO : win32::IDOK;
    };
    // The question holds no run of another process up.
    std::vector<win32::FolderLock::Result> whileAsked;
    boxes.onBox = [&](const testsupport::RecordedBox &box) {
        if (box.caption != "Confirm")
            return;
        win32::FolderLock probe;
        whileAsked.push_back(probe.TryLock(GetTempDirectory()));
    };
    Go();
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(whileAsked, std::vector<win32::FolderLock::Result>{win32::FolderLock::Result::Taken});
    boxes.onBox = {};
    auto all = boxes.boxes();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].caption, "Confirm");
    EXPECT_EQ(all[0].text,
              "DivX 5.0 codec isn' t detected in your computer, download and install it now?");
    EXPECT_EQ(all[0].type & 0xF, win32::MB_YESNO);
    // No means no page; the run goes on all the same, with no compressor.
    EXPECT_TRUE(shell.requests().empty());
    EXPECT_EQ(form->JobInfo().CompressorIndex, -1);
    EXPECT_EQ(all[2].text, "An error occured when convert photo to video stream.");

    boxes.clear();
    boxes.answer = {};
    Go();
    ASSERT_TRUE(WaitForRun());
    ASSERT_EQ(shell.requests().size(), 1u);
    const win32::ShellRequest page = shell.requests()[0];
    EXPECT_EQ(page.verb, "open");
    EXPECT_EQ(page.file, DivXDownloadPage);
    EXPECT_EQ(page.show, win32::SW_SHOWMAXIMIZED);
    EXPECT_EQ(page.owner, form->Handle());
    EXPECT_EQ(boxes.texts().size(), 3u);

    // A run that another process starts while the question is open keeps
    // the folder: this one then starts nothing.
    win32::FolderLock other;
    boxes.clear();
    boxes.answer = [](const testsupport::RecordedBox &) { return win32::IDNO; };
    boxes.onBox = [&](const testsupport::RecordedBox &box) {
        if (box.caption == "Confirm")
            other.TryLock(GetTempDirectory());
    };
    ::unlink(Temp("pelloryfilelist.txt").c_str());
    Go();
    EXPECT_EQ(boxes.texts().back(), JobFolderBusyText);
    EXPECT_FALSE(form->RunActive());
    EXPECT_FALSE(Exists(Temp("pelloryfilelist.txt")));
}

TEST_F(Conversion, IntervalOutOfBoundsIsBroughtWithinThemAndText)
{
    ListWithoutABindableCompressor();
    AddFiles({Jpeg("a.jpg")});
    for (const auto &[typed, used] : std::vector<std::pair<std::string, std::string>>{
             {"0", "1"}, {"-3", "1"}, {"70000", "65536"}}) {
        form->edtInterval->SetText(typed);
        Go();
        ASSERT_TRUE(WaitForRun());
        EXPECT_EQ(form->edtInterval->Text(), used);
        EXPECT_NE(ReadFile(Temp("param.ini")).find("Interval=" + used + "\r\n"), std::string::npos);
        EXPECT_NE(ReadFile(Temp("temp.avs"))
                      .find("p0=Loop(p0," + std::to_string(std::stoi(used) * 25) + ")\r\n"),
                  std::string::npos)
            << typed;
    }

    // A text that is no number ends the command at the script, after both job files.
    std::filesystem::remove(Temp("temp.avs"));
    std::filesystem::remove(Temp("param.ini"));
    boxes.clear();
    form->edtInterval->SetText("abc");
    Go();
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"'abc' is not a valid integer value"}));
    EXPECT_TRUE(Exists(Temp("pelloryfilelist.txt")));
    EXPECT_NE(ReadFile(Temp("param.ini")).find("Interval=1\r\n"), std::string::npos);
    EXPECT_FALSE(Exists(Temp("temp.avs")));
    EXPECT_FALSE(form->Converting());
    EXPECT_FALSE(form->RunActive());
}

TEST_F(Conversion, ASecondRunWritesOverEverything)
{
    const std::string tune = dir.file("tune.wav");
    mediatest::WriteWav(tune, 8000, 1, 1.0);
    form->edtSoundFile->setText(QString::fromStdString(tune));
    form->edtInterval->SetText("1");
    Click(form->pnl3_grpResolution->Button(2), {5, 8});
    AddFiles({Jpeg("a.jpg"), Jpeg("b.jpg", 64, 48, 5)});
    Go();
    ASSERT_TRUE(WaitForRun());
    ASSERT_EQ(boxes.texts(), (std::vector<std::string>{"Video File Generation Compeleted."}));
    const std::string movie = dir.file("out/photo_video.avi");
    EXPECT_EQ(mediatest::ProbeAvi(movie).video()->frames, 75);

    form->pnl1_btnDelAllClick(nullptr);
    const std::string c = Jpeg("c.jpg", 64, 48, 9);
    AddFiles({c});
    boxes.clear();
    Go();
    ASSERT_TRUE(WaitForRun());
    ASSERT_EQ(boxes.texts(), (std::vector<std::string>{"Video File Generation Compeleted."}));
    EXPECT_EQ(ReadFile(Temp("pelloryfilelist.txt")), c + "\r\n");
    EXPECT_EQ(ReadFile(Temp("temp.avs")), BuildScript({c}, 0, 2, "1"));
    EXPECT_EQ(mediatest::ProbeAvi(movie).video()->frames, 25);

    // The sound file is gone since: the record keeps its path and the renderer
    // cannot load it. The movie of the run before stays.
    const std::string earlier = ReadFile(movie);
    std::filesystem::remove(tune);
    boxes.clear();
    Go();
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(form->JobInfo().SoundFile, tune);
    EXPECT_EQ(boxes.texts(),
              (std::vector<std::string>{"Could not load Music Source filter for file\r\n\r\n"
                                        "Cannot open \""
                                            + tune + "\": No such file or directory",
                                        "An error occured when convert photo to video stream."}));
    EXPECT_EQ(ReadFile(movie), earlier);
}

TEST_F(Conversion, AnOutputFolderThatCannotBeMadeEndsTheRunWithoutAMovieElsewhere)
{
    testsupport::WriteFile(dir.file("plain"), "a file, not a folder");
    const std::string folder = dir.file("plain/movies");
    form->edtOutputPath->setText(QString::fromStdString(folder));
    AddFiles({Jpeg("a.jpg")});
    const std::string strayMovie = std::filesystem::current_path() / "photo_video.avi";
    const bool strayBefore = Exists(strayMovie);
    // Nothing renders: the box does not hold the job folder either.
    std::vector<win32::FolderLock::Result> whileShown;
    boxes.onBox = [&](const testsupport::RecordedBox &box) {
        if (box.text.find("Cannot create") != 0)
            return;
        win32::FolderLock probe;
        whileShown.push_back(probe.TryLock(GetTempDirectory()));
    };
    Go();
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(whileShown, std::vector<win32::FolderLock::Result>{win32::FolderLock::Result::Taken});
    EXPECT_EQ(form->JobInfo().OutputFolder, "");
    EXPECT_EQ(boxes.texts(),
              (std::vector<std::string>{"Cannot create the output folder \"" + folder
                                            + "\". Not a directory",
                                        "An error occured when convert photo to video stream."}));
    EXPECT_EQ(form->sb_status->Caption(), "An error occured when convert photo to video stream.");
    EXPECT_EQ(Exists(strayMovie), strayBefore);
}

TEST_F(Conversion, DestroyingTheWindowWaitsForTheRunsWorker)
{
    AddFiles({Jpeg("a.jpg")});
    form->edtInterval->SetText("1");
    Click(form->pnl3_grpResolution->Button(2), {5, 8});
    form->pnl3_btnGoClick(nullptr);
    ASSERT_TRUE(form->RunActive());
    form.reset();
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Video File Generation Compeleted."}));
    EXPECT_EQ(mediatest::ProbeAvi(dir.file("out/photo_video.avi")).video()->frames, 25);
}

TEST_F(Conversion, StopAndEscapeEndARunAndKeepTheMovieBefore)
{
    AddFiles({Jpeg("a.jpg"), Jpeg("b.jpg", 64, 48, 5)});
    form->edtInterval->SetText("1");
    Click(form->pnl3_grpResolution->Button(2), {5, 8});
    Go();
    ASSERT_TRUE(WaitForRun());
    const std::string movie = dir.file("out/photo_video.avi");
    const std::string earlier = ReadFile(movie);
    ASSERT_FALSE(earlier.empty());
    EXPECT_FALSE(form->Stop().btnStop->isVisible());

    // Long enough to be stopped half way, whichever way is taken.
    form->edtInterval->SetText("65536");
    for (const bool byKey : {false, true}) {
        boxes.clear();
        Go();
        ASSERT_TRUE(WaitUntil([&] { return form->ProgressConvert->isVisible(); }));
        EXPECT_TRUE(form->Stop().btnStop->isVisible());
        if (byKey)
            QTest::keyClick(form.get(), Qt::Key_Escape);
        else
            Click(form->Stop().btnStop, {10, 10});
        ASSERT_TRUE(WaitForRun()) << (byKey ? "Escape" : "Stop") << " did not stop the run";
        EXPECT_EQ(form->sb_status->Caption(), "The movie was not made: stopped.");
        EXPECT_FALSE(form->Stop().btnStop->isVisible());
        // The status line is answer enough: no box, no failure.
        EXPECT_EQ(boxes.texts(), std::vector<std::string>{});
        EXPECT_TRUE(ReadFile(movie) == earlier);
        EXPECT_EQ(win32::ListFolder(dir.file("out"))->size(), 1u);
    }

    // Escape outside a run stops nothing that comes after it.
    form->edtInterval->SetText("1");
    QTest::keyClick(form.get(), Qt::Key_Escape);
    Go();
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{ConversionCompletedText});

    // TERM (a logout) stops a run as Stop does; then no box is left for
    // anybody to answer, and Go starts nothing more.
    form->edtInterval->SetText("65536");
    boxes.clear();
    Go();
    ASSERT_TRUE(WaitUntil([&] { return form->ProgressConvert->isVisible(); }));
    const win32::TaskDialogHandler taskDialogs = win32::SetTaskDialogHandler({});
    win32::SetTaskDialogHandler(taskDialogs);
    bool ended = false;
    {
        const TStopSignals stopSignals(*form, [&] { ended = true; });
        std::raise(SIGTERM);
        ASSERT_TRUE(WaitForRun()) << "TERM did not stop the run";
        EXPECT_TRUE(ended);
        EXPECT_EQ(stopSignals.Signal(), SIGTERM);
    }
    EXPECT_EQ(form->sb_status->Caption(), "The movie was not made: stopped.");
    EXPECT_EQ(win32::ListFolder(dir.file("out"))->size(), 1u);
    EXPECT_EQ(win32::MessageBoxA(nullptr, "Download it now?", "", win32::MB_YESNO), win32::IDNO);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{});
    form->pnl3_btnGoClick(nullptr);
    EXPECT_FALSE(form->RunActive());
    win32::SetTaskDialogHandler(taskDialogs);
}

TEST_F(Conversion, TheOutcomeNamesTheMovieAndPlaysItOrShowsItsFolder)
{
    AddFiles({Jpeg("a.jpg")});
    form->edtInterval->SetText("1");
    Click(form->pnl3_grpResolution->Button(2), {5, 8});
    const std::string movie = dir.file("out/photo_video.avi");
    struct Case
    {
        int button;
        std::string opened; // "" when nothing is asked of the desktop
    };
    for (const Case &c :
         {Case{IDPLAY, movie}, Case{IDSHOWINFOLDER, dir.file("out")}, Case{win32::IDOK, ""}}) {
        boxes.clear();
        const std::size_t asked = shell.requests().size();
        boxes.answer = [&](const testsupport::RecordedBox &box) {
            return box.text == ConversionCompletedText ? c.button : win32::IDOK;
        };
        Go();
        ASSERT_TRUE(WaitForRun());
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, ConversionCompletedText);
        EXPECT_EQ(boxes.boxes()[0].detail, movie);
        const auto requests = shell.requests();
        ASSERT_EQ(requests.size(), asked + (c.opened.empty() ? 0 : 1));
        if (!c.opened.empty()) {
            EXPECT_EQ(requests.back().verb, "open");
            EXPECT_EQ(requests.back().file, c.opened);
        }
    }

    // A desktop without a program for movies says so instead of doing nothing.
    shell.result = 2; // SE_ERR_FNF
    boxes.clear();
    boxes.answer = [&](const testsupport::RecordedBox &box) {
        return box.text == ConversionCompletedText ? IDPLAY : win32::IDOK;
    };
    Go();
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(boxes.texts(),
              (std::vector<std::string>{ConversionCompletedText, NothingToOpenMessage(movie)}));

    // A movie of another container is offered alike, named once, below the text.
    shell.result = 42;
    MovieOptions options;
    options.container = MovieOptions::Container::Matroska;
    form->pnl3_grpMovie->SetOptions(options);
    const std::string mkv = dir.file("out/photo_video.mkv");
    boxes.clear();
    boxes.answer = [&](const testsupport::RecordedBox &box) {
        return box.detail == mkv ? IDPLAY : win32::IDOK;
    };
    Go();
    ASSERT_TRUE(WaitForRun());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, ConversionCompletedText);
    EXPECT_EQ(boxes.boxes()[0].detail, mkv);
    ASSERT_FALSE(shell.requests().empty());
    EXPECT_EQ(shell.requests().back().file, mkv);

    // Once the window hears that a run is over, a new Go may fill in the job
    // record again (here while the bar hides, before the run's outcome is
    // shown): the first run's box still names its own movie.
    const std::string second = dir.file("second/photo_video.mkv");
    testsupport::MakeFolder(dir.file("second"));
    bool again = false;
    EventHook hook(form->ProgressConvert, QEvent::Hide, [&] {
        if (std::exchange(again, true))
            return;
        form->edtOutputPath->setText(QString::fromStdString(dir.file("second")));
        Go();
    });
    boxes.clear();
    boxes.answer = nullptr;
    Go();
    ASSERT_TRUE(WaitUntil([&] { return again && boxes.boxes().size() == 2; }));
    ASSERT_TRUE(WaitForRun());
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].detail, mkv);
    EXPECT_EQ(boxes.boxes()[1].detail, second);
}

// The desktop is handed a path's bytes, whatever they are, as its address.
TEST(DesktopUrl, APathKeepsItsBytes)
{
    EXPECT_EQ(DesktopUrl("/srv/out\xff\xfe dir/photo_video.avi").toEncoded(),
              "file:///srv/out%FF%FE%20dir/photo_video.avi");
    EXPECT_EQ(DesktopUrl("/m/\xc3\xa9t\xc3\xa9 #1?.avi").toEncoded(),
              "file:///m/%C3%A9t%C3%A9%20%231%3F.avi");
    EXPECT_EQ(DesktopUrl("https://example.org/get").toEncoded(), "https://example.org/get");
}

TEST_F(Conversion, TheJustWaitBoxOfACloseDuringARunClosesWhenTheRunEnds)
{
    AddFiles({Jpeg("a.jpg"), Jpeg("b.jpg", 64, 48, 5)});
    form->edtInterval->SetText("65536");
    Click(form->pnl3_grpResolution->Button(2), {5, 8});
    Go();
    ASSERT_TRUE(WaitUntil([&] { return form->ProgressConvert->isVisible(); }));

    // The real box this time, modal; the run is stopped while it is open.
    const win32::MessageBoxHandler script = win32::SetMessageBoxHandler(forms::ShowMessageBox);
    bool seen = false, leftOpen = false;
    QTimer::singleShot(200, [&] {
        seen = !form->findChildren<QMessageBox *>().empty();
        form->Stop().StopClick();
    });
    // Should the box stay, this ends the test instead of hanging it.
    QTimer::singleShot(15000, [&] {
        for (QMessageBox *box : form->findChildren<QMessageBox *>())
            if (box->isVisible()) {
                leftOpen = true;
                box->reject();
            }
    });
    form->close();
    win32::SetMessageBoxHandler(script);
    EXPECT_TRUE(seen);
    EXPECT_FALSE(leftOpen);
    EXPECT_TRUE(form->isVisible());
    ASSERT_TRUE(WaitForRun());
    EXPECT_EQ(form->sb_status->Caption(), "The movie was not made: stopped.");
}
