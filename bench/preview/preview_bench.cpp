// The preview of the real main window over a folder of photos (interval 3, NTSC
// High, 720 × 480), under an X server:
//
//   start    from the Preview command until the first frame is on the screen,
//            against the floor: the script opened and its first frame made on a
//            fresh engine (the first photo's decode and resize), in the same run;
//   play     SECONDS of playing: the frames that reached the screen and those
//            whose time passed unseen (dropped);
//   seek     the frame source alone, cold (a fresh engine each time), to the
//            middle of a hold and of a cross-fade of photos chosen at random:
//            the program's way (two threads, each photo of a cross-fade warmed
//            on its own) against one thread and against two without warming,
//            and against one photo's decode (the floor of any seek).
//
//   preview_bench FOLDER [--seconds N] [--seeks N]
//
// Prints one line per measurement, in milliseconds.
#include "app/job/job.h"
#include "app/ui/drop.h"
#include "app/ui/mainunit.h"
#include "app/ui/photo_row.h"
#include "app/ui/preview.h"
#include "app/ui/preview_frames.h"
#include "app/ui/startup.h"
#include "platform/forms/application.h"
#include "platform/win32/messagebox.h"

#include <QDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

avs::PClip OpenShow(const std::string &script)
{
    return avs::OpenScriptText(script, "preview.avs");
}

// Milliseconds until frame `n` of a fresh engine comes out of the frame source.
double ColdSeek(const std::string &script, std::int64_t n, const std::vector<std::int64_t> &warm,
                int workers)
{
    avs::PClip clip = OpenShow(script);
    const auto start = Clock::now();
    quillon::TPreviewFrames frames(clip, workers);
    frames.Seek(n, warm);
    while (!frames.Take(n))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return MsSince(start);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: preview_bench FOLDER [--seconds N] [--seeks N]\n");
        return 2;
    }
    const std::string folder = argv[1];
    int seconds = 60;
    int seeks = 9;
    for (int i = 2; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--seeks") == 0)
            seeks = std::atoi(argv[++i]);
    }
    forms::TApplication app(argc, argv);
    quillon::SetUpApplication(app);
    win32::SetMessageBoxHandler([](HWND, const std::string &text, const std::string &, UINT) {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return 1;
    });

    quillon::TMainForm form;
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    std::vector<std::string> photos;
    for (const QString &name : QDir(QString::fromStdString(folder))
                                   .entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name))
        photos.push_back(folder + "/" + name.toStdString());
    form.Drops().Take(photos);
    while (form.Adding() || form.PhotoThumbPanel1->ThumbItems()->Count() == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    form.edtInterval->SetValue(3);
    form.tabOutputClick(nullptr);
    QTest::qWait(300);

    const quillon::JobSettings settings = form.CurrentJobSettings();
    const std::string script = quillon::ScriptText(settings);

    // The floor of starting: the first frame of a freshly opened script.
    std::vector<double> floors;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        avs::PClip clip = OpenShow(script);
        clip->GetFrame(0)->data();
        floors.push_back(MsSince(start));
    }

    std::vector<double> starts;
    quillon::TPreviewForm *preview = nullptr;
    for (int i = 0; i < 3; ++i) {
        if (preview)
            preview->close();
        QTest::qWait(200);
        const auto start = Clock::now();
        form.Preview().PreviewClick(nullptr);
        preview = form.Preview().Form();
        while (preview->Stats().startMs < 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        starts.push_back(MsSince(start));
    }
    std::printf("start-ms %.1f floor-ms %.1f ratio %.2f\n", Median(starts), Median(floors),
                Median(starts) / Median(floors));
    std::fflush(stdout);

    const auto playStart = Clock::now();
    while (MsSince(playStart) < seconds * 1000.0 && preview->Playing())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const quillon::TPreviewForm::TStats stats = preview->Stats();
    std::printf("play-seconds %.1f painted %lld dropped %lld\n", MsSince(playStart) / 1000,
                static_cast<long long>(stats.painted), static_cast<long long>(stats.dropped));
    std::fflush(stdout);
    preview->close();
    QTest::qWait(100);

    // Cold seeks to random photos, each way in turn on the same targets.
    const int interval = 3, fps = 25;
    const auto count = static_cast<std::int64_t>(settings.photos.size());
    std::mt19937 random(7);
    std::uniform_int_distribution<std::int64_t> pick(1, count - 2);
    std::vector<double> decode, holdOurs, fadeOurs, fadeOne, fadeCold;
    for (int i = 0; i < seeks; ++i) {
        const std::int64_t photo = pick(random);
        const std::int64_t hold
            = quillon::FirstFrameOfPhoto(photo, interval, fps) + interval * fps / 2;
        const std::int64_t fade
            = quillon::FirstFrameOfPhoto(photo, interval, fps) + interval * fps + fps / 2;
        const std::vector<std::int64_t> warm
            = {quillon::FirstFrameOfPhoto(photo, interval, fps),
               quillon::FirstFrameOfPhoto(photo + 1, interval, fps)};
        {
            avs::PClip clip = OpenShow(script);
            const auto start = Clock::now();
            clip->GetFrame(hold)->data();
            decode.push_back(MsSince(start));
        }
        holdOurs.push_back(ColdSeek(script, hold, {}, 2));
        fadeOurs.push_back(ColdSeek(script, fade, warm, 2));
        fadeOne.push_back(ColdSeek(script, fade, {}, 1));
        fadeCold.push_back(ColdSeek(script, fade, {}, 2));
    }
    const double floor = Median(decode);
    std::printf("seek-decode-ms %.1f hold-ms %.1f (%.2f) fade-ms %.1f (%.2f) fade-one-thread-ms "
                "%.1f (%.2f) fade-unwarmed-ms %.1f (%.2f)\n",
                floor, Median(holdOurs), Median(holdOurs) / floor, Median(fadeOurs),
                Median(fadeOurs) / floor, Median(fadeOne), Median(fadeOne) / floor,
                Median(fadeCold), Median(fadeCold) / floor);
    return 0;
}
