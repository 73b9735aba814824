// The program on a real X server, as a user meets it: photos and a folder
// dragged onto the window from a file manager (XDND), a photo dragged to
// another place in the row, the show saved and opened again through its
// dialogs, and Go, whose job files must list the photos in the new order.
#include "app/job/app_define.h"
#include "platform/win32/files.h"
#include "platform/win32/tempfolder.h"

#include "media_support.h"
#include "pictures.h"
#include "testsupport.h"
#include "x11drive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace x11drive;
using testsupport::ReadFile;

namespace {

// Places in the window, from its top-left corner (the window's design).
constexpr Point kDropPlace{200, 250};
constexpr Point kOutputTab{175 + 56, 31 + 25};
constexpr Point kGo{446 + 85, 421 + 18};
constexpr Point kPreview{446 + 85, 375 + 14};

// The middle of thumbnail i of the row, or `dx` from its left edge.
Point Thumbnail(int i, int dx = 50)
{
    return {24 + 8 + 5 + i * 115 + dx, 100 + 8 + 20 + 37};
}

class Desktop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (screen.Name().empty())
            GTEST_SKIP() << "no Xvfb on this machine";
        x = std::make_unique<Connection>(screen.Name());
        ASSERT_TRUE(x->Open());
        testsupport::MakeFolder(dir.file("home"));
        testsupport::MakeFolder(dir.file("card"));
        for (int i = 1; i <= 3; ++i)
            testsupport::WriteJpeg(dir.file("card/img" + std::to_string(i) + ".jpg"), 320, 240,
                                   testsupport::Gradient(i));
        testsupport::WriteJpeg(dir.file("loose.jpg"), 320, 240, testsupport::Gradient(9));
    }

    // Starts the program with `args` and waits for its window.
    void Launch(const std::vector<std::string> &args = {})
    {
        program = std::make_unique<Program>(QUILLON_PROGRAM, args,
                                            std::vector<std::string>{"DISPLAY=" + screen.Name(),
                                                                     "QT_QPA_PLATFORM=xcb",
                                                                     "HOME=" + dir.file("home")},
                                            dir.file("quillon.log"));
        window = x->FindWindow("Tessary");
        ASSERT_NE(window, 0u) << ReadFile(dir.file("quillon.log"));
        origin = x->Origin(window);
    }

    // Go, on the Output view, until it is taken (it waits its turn while photos
    // come in); then the job's photo list.
    std::string JobListAfterGo()
    {
        const std::string jobList = quillon::GetTempDirectory() + "pelloryfilelist.txt";
        EXPECT_TRUE(WaitFor(
            [&] {
                x->Click(At(kOutputTab));
                x->Click(At(kGo));
                return WaitFor([&] { return testsupport::Exists(jobList); }, 1000);
            },
            15000))
            << ReadFile(dir.file("quillon.log"));
        return testsupport::Exists(jobList) ? ReadFile(jobList) : std::string();
    }

    Point At(Point p) const { return {origin.x + p.x, origin.y + p.y}; }

    // Ctrl+S or Ctrl+O over the window, then the file's path typed into the
    // dialog called `title`. A command that is refused while photos are still
    // coming in opens no dialog: it is asked again.
    void ThroughDialog(const std::string &key, const std::string &title, const std::string &path)
    {
        XWindow dialog = 0;
        ASSERT_TRUE(WaitFor(
            [&] {
                x->Focus(window);
                x->Key(key, true);
                dialog = x->FindWindow(title, 1000);
                return dialog != 0;
            },
            15000))
            << title << " did not open";
        x->Focus(dialog);
        x->Type(path);
        x->Key("Return");
        ASSERT_TRUE(WaitFor([&] { return x->FindWindow(title, 0) == 0; }, 5000));
    }

    std::string SavedShow(const std::string &name)
    {
        const std::string path = dir.file(name);
        ThroughDialog("s", "Save Show", path);
        EXPECT_TRUE(WaitFor([&] { return testsupport::Exists(path); }, 5000));
        return ReadFile(path);
    }

    testsupport::TempDir dir;
    VirtualScreen screen;
    std::unique_ptr<Connection> x;
    std::unique_ptr<Program> program;
    XWindow window = 0;
    Point origin;
};

} // namespace

TEST_F(Desktop, DropReorderSaveOpenAndGo)
{
    Launch();
    ASSERT_TRUE(x->DropUris(At(kDropPlace),
                            {"file://" + dir.file("card"), "file://" + dir.file("loose.jpg")}));
    // A dropped folder's photos carry the folder chooser's doubled separator.
    std::string show = SavedShow("first.qshow");
    EXPECT_NE(show.find("[Photos]\r\nPhoto1=card//img1.jpg\r\nPhoto2=card//img2.jpg\r\n"
                        "Photo3=card//img3.jpg\r\nPhoto4=loose.jpg\r\n"),
              std::string::npos)
        << show;

    // The first photo dragged onto the right half of the third.
    x->Drag(At(Thumbnail(0)), At(Thumbnail(2, 80)));
    show = SavedShow("second.qshow");
    EXPECT_NE(show.find("[Photos]\r\nPhoto1=card//img2.jpg\r\nPhoto2=card//img3.jpg\r\n"
                        "Photo3=card//img1.jpg\r\nPhoto4=loose.jpg\r\n"),
              std::string::npos)
        << show;

    ThroughDialog("o", "Open Show", dir.file("second.qshow"));
    EXPECT_EQ(JobListAfterGo(), dir.file("card//img2.jpg") + "\r\n" + dir.file("card//img3.jpg")
                                    + "\r\n" + dir.file("card//img1.jpg") + "\r\n"
                                    + dir.file("loose.jpg") + "\r\n");
}

TEST_F(Desktop, PhotosAndFoldersNamedOnTheCommandLineComeIn)
{
    // "--" ends the options and names nothing.
    Launch({"--", dir.file("loose.jpg"), dir.file("card")});
    EXPECT_EQ(JobListAfterGo(), dir.file("loose.jpg") + "\r\n" + dir.file("card//img1.jpg") + "\r\n"
                                    + dir.file("card//img2.jpg") + "\r\n"
                                    + dir.file("card//img3.jpg") + "\r\n");
}

TEST_F(Desktop, AShowNamedOnTheCommandLineOpens)
{
    testsupport::WriteFile(dir.file("trip.qshow"),
                           "[Show]\r\nInterval=1\r\n[Photos]\r\nPhoto1=card/img3.jpg\r\n"
                           "Photo2=loose.jpg\r\n");
    Launch({dir.file("trip.qshow")});
    EXPECT_EQ(JobListAfterGo(),
              dir.file("card/img3.jpg") + "\r\n" + dir.file("loose.jpg") + "\r\n");
    // The program writes the settings key by key after the list: wait for the last.
    const std::string params = quillon::GetTempDirectory() + "param.ini";
    const std::string expected = "[Temp]\r\nOutputWidth=720\r\nOutputHeight=480\r\nInterval=1\r\n";
    WaitFor([&] { return testsupport::Exists(params) && ReadFile(params) == expected; }, 5000);
    EXPECT_EQ(ReadFile(params), expected);
}

// The preview on a real screen: its picture in the middle of a hold and of a
// cross-fade against the same frames of the movie quillon-render makes of the
// same show, then Escape closes it. Solid photos, so that a pixel near the
// picture's corner tells the frame.
TEST_F(Desktop, ThePreviewShowsTheMoviesFramesAndEscapeClosesIt)
{
    const testsupport::Rgb colours[3] = {{230, 40, 40}, {40, 40, 230}, {40, 200, 40}};
    for (int i = 0; i < 3; ++i)
        testsupport::WriteJpeg(dir.file("solid" + std::to_string(i) + ".jpg"), 320, 240,
                               testsupport::Solid(colours[i]));
    // Low (352 × 240): two seconds a photo (frames 0-49), then the cross-fade (50-74).
    testsupport::WriteFile(dir.file("solid.qshow"),
                           "[Show]\r\nInterval=2\r\nResolution=Low\r\n[Photos]\r\n"
                           "Photo1=solid0.jpg\r\nPhoto2=solid1.jpg\r\nPhoto3=solid2.jpg\r\n");
    const testsupport::Outcome made = testsupport::RunProgram(
        QUILLON_RENDER, {"--show", dir.file("solid.qshow"), "--output-folder", dir.file("movie")},
        dir.path());
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string movie = dir.file("movie/photo_video.avi");

    Launch({dir.file("solid.qshow")});
    XWindow preview = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            x->Click(At(kOutputTab));
            x->Click(At(kPreview));
            preview = x->FindWindow("Preview", 1000);
            return preview != 0;
        },
        15000))
        << ReadFile(dir.file("quillon.log"));
    x->Focus(preview);
    const Point corner = x->Origin(preview);
    const Point probe{corner.x + 20, corner.y + 20};
    auto near = [](unsigned shown, const std::vector<std::uint8_t> &bgr, int width) {
        const std::uint8_t *p = &bgr[(20 * width + 20) * 3];
        const int rgb[3] = {p[2], p[1], p[0]};
        for (int c = 0; c < 3; ++c)
            if (std::abs(static_cast<int>((shown >> (16 - 8 * c)) & 0xFF) - rgb[c]) > 16)
                return false;
        return true;
    };
    auto step = [&](const char *key, int times) {
        for (int i = 0; i < times; ++i) {
            x->Key(key);
            x->Sync();
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    };
    // Paused, at its start; one second on is the middle of the first hold; two
    // more and thirteen frames back, twelve frames into the cross-fade. Each key
    // waits for the frame of the one before, as a user's would.
    step("space", 1);
    step("Home", 2);
    step("Right", 1);
    const auto hold = mediatest::DecodeFrame(movie, 25);
    EXPECT_TRUE(WaitFor([&] { return near(x->Pixel(probe), hold, 352); }, 5000))
        << std::hex << x->Pixel(probe);
    step("Right", 2);
    step("comma", 13);
    const auto fade = mediatest::DecodeFrame(movie, 62);
    EXPECT_TRUE(WaitFor([&] { return near(x->Pixel(probe), fade, 352); }, 5000))
        << std::hex << x->Pixel(probe) << " against " << std::dec
        << int(fade[(20 * 352 + 20) * 3 + 2]) << "," << int(fade[(20 * 352 + 20) * 3 + 1]) << ","
        << int(fade[(20 * 352 + 20) * 3]);
    EXPECT_FALSE(near(x->Pixel(probe), hold, 352));

    x->Key("Escape");
    EXPECT_TRUE(WaitFor([&] { return x->FindWindow("Preview", 0) == 0; }, 5000));
}

// Escape on the window stops a run half way: the job folder is let go at once
// and the movie of the run before stays as it was, alone in its folder.
TEST_F(Desktop, EscapeStopsARunAndTheMovieBeforeStays)
{
    testsupport::WriteJpeg(dir.file("a.jpg"), 320, 240, testsupport::Gradient(1));
    testsupport::WriteJpeg(dir.file("b.jpg"), 320, 240, testsupport::Gradient(2));
    // Long enough that only a stop ends it while the test lasts.
    testsupport::WriteFile(dir.file("long.qshow"),
                           "[Show]\r\nInterval=65536\r\nResolution=Low\r\n[Photos]\r\n"
                           "Photo1=a.jpg\r\nPhoto2=b.jpg\r\n");
    const std::string folder = dir.file("home/My Movie");
    testsupport::MakeFolder(folder);
    testsupport::WriteFile(folder + "/photo_video.avi", "the movie made before");

    Launch({dir.file("long.qshow")});
    const std::string jobs = quillon::GetTempDirectory();
    auto running = [&] {
        win32::FolderLock probe;
        return probe.TryLock(jobs) == win32::FolderLock::Result::Busy;
    };
    ASSERT_TRUE(WaitFor(
        [&] {
            x->Click(At(kOutputTab));
            x->Click(At(kGo));
            return WaitFor(running, 1000);
        },
        15000))
        << ReadFile(dir.file("quillon.log"));
    // Under way: its progress comes in.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(running());
    x->Focus(window);
    x->Key("Escape");
    EXPECT_TRUE(WaitFor([&] { return !running(); }, 5000));
    EXPECT_EQ(ReadFile(folder + "/photo_video.avi"), "the movie made before");
    EXPECT_EQ(win32::ListFolder(folder)->size(), 1u);
    EXPECT_TRUE(program->Running());
}
