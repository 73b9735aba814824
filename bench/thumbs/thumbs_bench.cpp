// The add-folder command of the real main window over a folder of photos: the
// folder scan and one thumbnail per photo, timed from the click until the last
// photo is in. With --probe, under an X server (Xvfb), a second connection
// keeps covering part of the window and uncovering it again, and times how
// long the window takes to paint the uncovered part: the window's repaint
// delay while the photos come in.
//
//   thumbs_bench FOLDER [--sync] [--threads N] [--nice N] [--probe]
//
// --sync adds the photos the way the command was first built: every thumbnail
// made on the GUI thread in turn (the baseline of the window's freeze).
// Prints one line: "photos N seconds S repaints K median-ms M max-ms X".
#include "app/photos/folder_scan.h"
#include "app/photos/photo_commands.h"
#include "app/ui/mainunit.h"
#include "app/ui/photo_row.h"
#include "platform/forms/application.h"
#include "platform/win32/messagebox.h"
#include "platform/win32/shell.h"

#include "x11drive.h"

#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kCover = 0xFF00FF;

// Covers a part of the window again and again and keeps how long each
// uncovering took to be painted over.
class RepaintProbe
{
public:
    RepaintProbe(const std::string &display, x11drive::Point at)
        : connection_(display)
        , at_(at)
        , thread_([this] { Run(); })
    {}

    ~RepaintProbe() { Delays(); }

    std::vector<double> Delays()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return delays_;
    }

private:
    void Run()
    {
        const x11drive::Point middle{at_.x + 40, at_.y + 20};
        while (!stop_) {
            const x11drive::XWindow cover = connection_.Cover(at_, 80, 40, kCover);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (connection_.Pixel(middle) != kCover) {
                connection_.Uncover(cover);
                continue; // not drawn yet: no measurement
            }
            connection_.Uncover(cover);
            const auto uncovered = Clock::now();
            while (connection_.Pixel(middle) == kCover && !stop_)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            delays_.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - uncovered).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    }

    x11drive::Connection connection_;
    x11drive::Point at_;
    std::atomic<bool> stop_{false};
    std::vector<double> delays_;
    std::thread thread_;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: thumbs_bench FOLDER [--sync] [--threads N] [--nice N] [--probe]\n");
        return 2;
    }
    const std::string folder = argv[1];
    bool sync = false, probe = false;
    unsigned threads = 0;
    int niceness = -1; // the program's own choice
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sync") == 0)
            sync = true;
        else if (std::strcmp(argv[i], "--probe") == 0)
            probe = true;
        else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc)
            threads = static_cast<unsigned>(std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--nice") == 0 && i + 1 < argc)
            niceness = std::atoi(argv[++i]);
    }
    const char *display = std::getenv("DISPLAY");
    if (probe && !(display && *display)) {
        std::fprintf(stderr, "thumbs_bench: --probe needs an X server (DISPLAY)\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", probe ? "xcb" : "offscreen", 1);
    forms::TApplication app(argc, argv);
    win32::SetMessageBoxHandler([](HWND, const std::string &text, const std::string &, UINT) {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return 1;
    });
    win32::SetFolderChooser([&](const win32::BROWSEINFOA &) -> std::optional<std::string> {
        return folder.back() == '/' ? folder : folder + "/";
    });

    quillon::TMainForm form;
    form.PhotoRow().Adder().WorkerThreads = threads;
    if (niceness >= 0)
        form.PhotoRow().Adder().WorkerNiceness = niceness;
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    QTest::qWait(300);

    std::unique_ptr<RepaintProbe> prober;
    if (probe) {
        x11drive::Connection x(display);
        const x11drive::XWindow window = x.FindWindow("Tessary");
        const x11drive::Point origin = x.Origin(window);
        // Over the photo row, where the thumbnails come in.
        prober = std::make_unique<RepaintProbe>(display,
                                                x11drive::Point{origin.x + 150, origin.y + 260});
        QTest::qWait(200);
    }

    const auto start = Clock::now();
    if (sync) {
        std::vector<std::string> list;
        quillon::ScanPictureFolder(list, folder.back() == '/' ? folder : folder + "/");
        quillon::AppendPhotos(*form.PhotoThumbPanel1, list);
        form.ApplyView();
    } else {
        form.pnl1_btnAddFolderClick(nullptr);
        // As the program's own loop: asleep until the workers post their results.
        while (form.Adding())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> delays;
    if (prober) {
        // The last uncovering waits for the GUI thread, which is free again now.
        QTest::qWait(100);
        delays = prober->Delays();
    }
    std::sort(delays.begin(), delays.end());
    const double median = delays.empty() ? 0 : delays[delays.size() / 2];
    const double worst = delays.empty() ? 0 : delays.back();
    std::printf("photos %d seconds %.3f repaints %zu median-ms %.1f max-ms %.1f\n",
                form.PhotoThumbPanel1->ThumbItems()->Count(), seconds, delays.size(), median,
                worst);
    return 0;
}
