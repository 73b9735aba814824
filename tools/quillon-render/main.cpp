// quillon-render: makes the movie that the program's Go command makes, without a
// display. The render runs on a worker thread while the main thread owns the
// window handle that receives the renderer's progress messages, as in the
// program.
#include "app/job/app_define.h"
#include "app/job/job.h"
#include "app/job/render.h"
#include "app/photos/folder_scan.h"
#include "app/photos/photo_check.h"
#include "app/photos/show_file.h"
#include "platform/forms/errors.h"
#include "platform/forms/sysutils.h"
#include "platform/media/compressors.h"
#include "platform/win32/files.h"
#include "platform/win32/messagebox.h"
#include "platform/win32/window.h"

#include "renderer/mureline.h"
#include "tools/standard_output.h"
#include "tools/stop_signals.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int WithStandardOutput(int status)
{
    return toolsoutput::WithStandardOutput("quillon-render", status);
}

constexpr const char *kUsage
    = "usage: quillon-render [options] PHOTO_OR_FOLDER...\n"
      "       quillon-render --show SHOW.qshow [options] [PHOTO_OR_FOLDER...]\n"
      "  --show FILE                     the photos and settings of a show file; the\n"
      "                                  options and photos given here take the place\n"
      "                                  of its own\n"
      "  --interval N                    slide interval in whole seconds, 1..65536\n"
      "                                  (default 2)\n"
      "  --standard ntsc|pal             (default ntsc)\n"
      "  --resolution high|medium|low    (default high)\n"
      "  --size WIDTHxHEIGHT|720p|1080p|2160p\n"
      "                                  frame size, even sides of 16 to 8192, instead\n"
      "                                  of the standard's and resolution's (default:\n"
      "                                  theirs)\n"
      "  --fps 24|25|30|50|60            frames a second (default 25)\n"
      "  --fit stretch|letterbox|crop|blur\n"
      "                                  how a photo fills the frame (default stretch)\n"
      "  --no-auto-rotate                show JPEG photos as stored, not turned\n"
      "                                  upright as their orientation tag says\n"
      "  --compressor INDEX|TEXT         position in the video compressor category, or\n"
      "                                  the first entry whose name contains TEXT\n"
      "                                  (default: the entry containing \"DivX? 5\" for\n"
      "                                  AVI, \"H.264\" for MP4 and Matroska, \"VP9\" for\n"
      "                                  WebM, else the first the container takes)\n"
      "  --container avi|mp4|mkv|webm    the movie's file type, photo_video.avi etc.\n"
      "                                  (default avi)\n"
      "  --sound FILE                    sound track: any sound file FFmpeg plays\n"
      "                                  (MP3, AAC, FLAC, Ogg, Opus, WAV...); again\n"
      "                                  for more, played one after another (default\n"
      "                                  none)\n"
      "  --sound-end cut|keep|loop       cut the sound where the pictures end, fading\n"
      "                                  out over the last 2 s (default); keep it\n"
      "                                  whole, however long; or play it again until\n"
      "                                  the pictures end, then cut\n"
      "  --output-folder DIR             (default \"$HOME/My Movie\"; created when\n"
      "                                  missing)\n"
      "  --encode-every-frame            code every frame as a picture, also one that\n"
      "                                  repeats the one before (for players that\n"
      "                                  cannot take empty frames), whatever the\n"
      "                                  compressor's settings say\n"
      "  --job-folder DIR                where the job files go, a folder of this\n"
      "                                  user's that nobody else may enter (default\n"
      "                                  $TMPDIR/quillon-UID, else /tmp/quillon-UID);\n"
      "                                  runs in other job folders do not wait for\n"
      "                                  this one\n"
      "  --list-compressors              print the category, one \"INDEX<TAB>NAME\" a\n"
      "                                  line, and exit\n"
      "  --version                       print the version and exit\n"
      "  --                              what follows is photos and folders, also\n"
      "                                  names that begin with \"--\"\n";

struct UsageError
{
    std::string reason;
};

// A relative name that cannot be made absolute: the current folder was removed.
// Kept as given, it would be taken against the job folder by the script engine.
struct NoCurrentFolder
{
    std::string message;
};

using Container = quillon::MovieOptions::Container;
static_assert(static_cast<int>(Container::WebM) == static_cast<int>(media::Container::WebM));

struct Options
{
    int interval = 2;
    int standard = 0;
    int resolution = 0;
    quillon::MovieOptions movie;
    std::optional<std::string> compressor;
    std::vector<std::string> sounds;
    std::string outputFolder;
    std::string jobFolder;
    bool listCompressors = false;
    bool encodeEveryFrame = false;
    std::vector<std::string> inputs;
    std::string show;
    std::set<std::string> given; // the options named on the command line
    // The show's settings that the movie's container and compressor were taken
    // from, as "Key=value"; none when the command line chose them.
    std::vector<std::string> showCarriage;
};

std::string absolute(const std::string &path)
{
    if (path.empty() || path.front() == '/')
        return path;
    std::string cwd(256, '\0');
    while (!::getcwd(cwd.data(), cwd.size())) {
        if (const int error = errno; error != ERANGE)
            throw NoCurrentFolder{"Cannot use \"" + path
                                  + "\": the current folder cannot be found: "
                                  + std::strerror(error)};
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    return cwd + (cwd.back() == '/' ? "" : "/") + path;
}

Options parse(int argc, char **argv)
{
    Options options;
    options.outputFolder = quillon::DefaultOutputFolder();
    auto value = [&](int &i, const std::string &name) -> std::string {
        if (i + 1 >= argc)
            throw UsageError{name + " needs a value"};
        return argv[++i];
    };
    // An empty path would be the current folder for some and the root for
    // others (an unset variable in "--output-folder $OUT" put the movie in /).
    auto path = [&](int &i, const std::string &name) {
        std::string given = value(i, name);
        if (given.empty())
            throw UsageError{name + " needs a path, not an empty one"};
        return given; // made absolute once all are read (--help first)
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        options.given.insert(arg);
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(WithStandardOutput(0));
        } else if (arg == "--version") {
            std::printf("quillon-render %s\n", QUILLON_VERSION);
            std::exit(WithStandardOutput(0));
        } else if (arg == "--interval") {
            const std::string text = value(i, arg);
            auto n = forms::TryStrToInt(text);
            if (!n || *n < 1 || *n > 65536)
                throw UsageError{"--interval must be a whole number from 1 to 65536, not '" + text
                                 + "'"};
            options.interval = *n;
        } else if (arg == "--standard") {
            const std::string text = value(i, arg);
            if (text != "ntsc" && text != "pal")
                throw UsageError{"--standard must be ntsc or pal, not '" + text + "'"};
            options.standard = text == "pal" ? 1 : 0;
        } else if (arg == "--resolution") {
            const std::string text = value(i, arg);
            if (text == "high")
                options.resolution = 0;
            else if (text == "medium")
                options.resolution = 1;
            else if (text == "low")
                options.resolution = 2;
            else
                throw UsageError{"--resolution must be high, medium or low, not '" + text + "'"};
        } else if (arg == "--size") {
            const std::string text = value(i, arg);
            const auto size = quillon::FrameSizeFromText(text);
            if (!size)
                throw UsageError{"--size must be WIDTHxHEIGHT with even sides of 16 to 8192, or "
                                 "720p, 1080p or 2160p, not '"
                                 + text + "'"};
            options.movie.width = size->width;
            options.movie.height = size->height;
        } else if (arg == "--fps") {
            const std::string text = value(i, arg);
            const auto fps = forms::TryStrToInt(text);
            if (!fps || !quillon::IsOfferedFrameRate(*fps))
                throw UsageError{"--fps must be 24, 25, 30, 50 or 60, not '" + text + "'"};
            options.movie.framesPerSecond = *fps;
        } else if (arg == "--fit") {
            const std::string text = value(i, arg);
            const auto fit = quillon::FitFromWord(text);
            if (!fit)
                throw UsageError{"--fit must be stretch, letterbox, crop or blur, not '" + text
                                 + "'"};
            options.movie.fit = *fit;
        } else if (arg == "--no-auto-rotate") {
            options.movie.autoRotate = false;
        } else if (arg == "--compressor") {
            // Every name holds the empty text: "--compressor $C" with C unset
            // would quietly take the first compressor.
            options.compressor = value(i, arg);
            if (options.compressor->empty())
                throw UsageError{"--compressor needs a position or a name, not an empty one"};
        } else if (arg == "--sound") {
            options.sounds.push_back(path(i, arg));
        } else if (arg == "--container") {
            const std::string text = value(i, arg);
            const auto container = quillon::ContainerFromWord(text);
            if (!container)
                throw UsageError{"--container must be avi, mp4, mkv or webm, not '" + text + "'"};
            options.movie.container = *container;
        } else if (arg == "--sound-end") {
            const std::string text = value(i, arg);
            const auto end = quillon::SoundEndFromWord(text);
            if (!end)
                throw UsageError{"--sound-end must be cut, keep or loop, not '" + text + "'"};
            options.movie.soundEnd = *end;
        } else if (arg == "--output-folder") {
            options.outputFolder = path(i, arg);
        } else if (arg == "--job-folder") {
            options.jobFolder = path(i, arg);
        } else if (arg == "--list-compressors") {
            options.listCompressors = true;
        } else if (arg == "--encode-every-frame") {
            options.encodeEveryFrame = true;
        } else if (arg == "--show") {
            options.show = path(i, arg);
        } else if (arg == "--") {
            options.inputs.insert(options.inputs.end(), argv + i + 1, argv + argc);
            break;
        } else if (arg.starts_with("--")) {
            throw UsageError{"unknown option " + arg};
        } else {
            options.inputs.push_back(arg);
        }
    }
    // As for the paths of the options: "$PHOTOS" with PHOTOS unset names nothing.
    if (std::find(options.inputs.begin(), options.inputs.end(), "") != options.inputs.end())
        throw UsageError{"a photo or folder needs a name, not an empty one"};
    for (std::string *given : {&options.outputFolder, &options.jobFolder, &options.show})
        if (!given->empty())
            *given = absolute(*given);
    for (std::string &sound : options.sounds)
        sound = absolute(sound);
    return options;
}

// The compressor position: a number as it stands, else the first name holding
// the text; by default the container's usual entry, else the first it takes.
int chooseCompressor(const std::optional<std::string> &wanted,
                     const std::vector<std::string> &names, Container container)
{
    if (wanted) {
        if (auto index = forms::TryStrToInt(*wanted)) {
            if (*index < 0 || static_cast<std::size_t>(*index) >= names.size())
                throw UsageError{"there is no video compressor at position " + *wanted
                                 + (names.empty() ? std::string(" (the list is empty)")
                                                  : " (0 to " + std::to_string(names.size() - 1)
                                                        + ", see --list-compressors)")};
            return *index;
        }
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i].find(*wanted) != std::string::npos)
                return static_cast<int>(i);
        throw UsageError{"no video compressor's name contains '" + *wanted + "'"};
    }
    if (const int usual
        = media::UsualCompressorIndex(static_cast<media::Container>(container), names);
        usual >= 0)
        return usual;
    return names.empty() ? -1 : 0;
}

using toolsignals::stopRequest;

[[noreturn]] void endByStopSignal()
{
    // The program's status line says the same; an earlier movie stays as it was.
    std::fprintf(stderr, "%s\n", quillon::ConversionStoppedText);
    std::fflush(stderr);
    toolsignals::EndByStopSignal(SIGTERM);
}

// Takes the job folder's lock, waiting while another run of this user's holds
// it. False when the wait was stopped.
bool lockJobFolder(win32::FolderLock &lock)
{
    bool said = false;
    while (!quillon::TryLockJobFolder(lock)) {
        if (!said)
            std::fprintf(stderr, "%s\n", quillon::WaitingForJobFolderText);
        said = true;
        if (stopRequest.load())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return !stopRequest.load();
}

// Draws "Time: 1.50s/11s [#####-----]" on one line of stderr.
class ProgressLine
{
public:
    explicit ProgressLine(std::int64_t totalSeconds)
        : total_(totalSeconds)
    {}

    void show(std::int32_t milliseconds)
    {
        std::lock_guard lock(mutex_);
        const double seconds = milliseconds / 1000.0;
        constexpr int kWidth = 30;
        const double share = total_ > 0 ? std::clamp(seconds / total_, 0.0, 1.0) : 0.0;
        const int filled = static_cast<int>(share * kWidth);
        std::string bar(filled, '#');
        bar.append(kWidth - filled, '-');
        std::fprintf(stderr, "\rTime: %.2fs/%llds [%s]", seconds, static_cast<long long>(total_),
                     bar.c_str());
        std::fflush(stderr);
        open_ = true;
    }

    // Ends the bar's line so that other text starts on a line of its own.
    void breakLine()
    {
        std::lock_guard lock(mutex_);
        if (open_)
            std::fputc('\n', stderr);
        open_ = false;
    }

private:
    std::mutex mutex_;
    std::int64_t total_;
    bool open_ = false;
};

// Fills in what the command line left open from the show file; its photos
// that are gone are left out, and so is a compressor this machine lacks. False
// when the file cannot be read at all.
bool takeShow(Options &options, const std::vector<std::string> &compressors)
{
    const quillon::TShowReading reading = quillon::ReadShow(options.show);
    if (!reading.Failure.empty()) {
        std::fprintf(stderr, "%s\n",
                     quillon::ShowFailureMessage(options.show, reading.Failure).c_str());
        return false;
    }
    const quillon::TShow &show = reading.Show;
    std::vector<std::string> leftOut = reading.LeftOut;
    auto open = [&](const char *option) { return options.given.count(option) == 0; };
    if (open("--interval") && show.Interval)
        options.interval = *show.Interval;
    if (open("--standard") && show.Standard)
        options.standard = *show.Standard;
    if (open("--resolution") && show.Resolution)
        options.resolution = *show.Resolution;
    if (open("--sound") && show.SoundFile) {
        options.sounds = {*show.SoundFile};
        options.sounds.insert(options.sounds.end(), show.MoreSoundFiles.begin(),
                              show.MoreSoundFiles.end());
    }
    if (open("--size") && show.Size) {
        options.movie.width = show.Size->width;
        options.movie.height = show.Size->height;
    }
    if (open("--fps") && show.FrameRate)
        options.movie.framesPerSecond = *show.FrameRate;
    if (open("--fit") && show.Fit)
        options.movie.fit = *show.Fit;
    if (open("--no-auto-rotate") && show.AutoRotate)
        options.movie.autoRotate = *show.AutoRotate;
    const bool carriageOpen = open("--container") && open("--compressor");
    if (open("--container") && show.Container) {
        options.movie.container = *show.Container;
        if (carriageOpen)
            options.showCarriage.push_back(std::string("Container=")
                                           + quillon::ContainerExtension(*show.Container));
    }
    if (open("--sound-end") && show.SoundEnd)
        options.movie.soundEnd = *show.SoundEnd;
    if (open("--output-folder") && show.OutputFolder)
        options.outputFolder = *show.OutputFolder;
    if (open("--compressor") && show.Compressor) {
        const auto named = std::find(compressors.begin(), compressors.end(), *show.Compressor);
        if (named != compressors.end()) {
            options.compressor = std::to_string(named - compressors.begin());
            if (carriageOpen)
                options.showCarriage.push_back("Compressor=" + *show.Compressor);
        } else
            leftOut.push_back("Compressor=" + *show.Compressor + " (not on this machine)");
    }
    if (options.inputs.empty()) {
        // Left out as the window leaves them out of the list, and named in the
        // same order: first those that are gone, folders or devices, then
        // those that the list cannot read (a damaged JPEG, a PNG named .jpg).
        std::vector<std::string> there;
        for (const std::string &photo : show.Photos) {
            if (const std::string problem = quillon::ShowPhotoProblem(photo); problem.empty())
                there.push_back(photo);
            else
                leftOut.push_back(photo + ": " + problem);
        }
        const std::vector<std::string> refusals
            = quillon::PhotoListRefusals(there, options.movie.autoRotate);
        for (std::size_t i = 0; i < there.size(); ++i) {
            if (refusals[i].empty())
                options.inputs.push_back(there[i]);
            else
                leftOut.push_back(there[i] + ": " + refusals[i]);
        }
    }
    if (!leftOut.empty())
        std::fprintf(stderr, "%s\n", quillon::ShowLeftOutMessage(options.show, leftOut).c_str());
    return true;
}

int run(int argc, char **argv)
{
    // A movie must never take the number of a closed standard stream.
    win32::KeepStandardStreamsOpen();
    // The AV1 encoder's own report on the terminal, unless asked for.
    setenv("SVT_LOG", "1", 0);
    Options options;
    try {
        options = parse(argc, argv);
    } catch (const UsageError &e) {
        std::fprintf(stderr, "quillon-render: %s\n", e.reason.c_str());
        return 2;
    }

    const std::vector<std::string> compressors = quillon::VideoCompressorNames();
    if (options.listCompressors) {
        for (std::size_t i = 0; i < compressors.size(); ++i)
            std::printf("%zu\t%s\n", i, compressors[i].c_str());
        return WithStandardOutput(0);
    }

    if (!options.show.empty() && !takeShow(options, compressors))
        return 1;

    quillon::JobSettings settings;
    try {
        settings.compressorIndex
            = chooseCompressor(options.compressor, compressors, options.movie.container);
        const auto &category = media::VideoCompressorCategory();
        if (settings.compressorIndex >= 0
            && static_cast<std::size_t>(settings.compressorIndex) < category.size())
            if (std::string refusal
                = media::ContainerRefusal(static_cast<media::Container>(options.movie.container),
                                          category[settings.compressorIndex]);
                !refusal.empty()) {
                if (!options.showCarriage.empty()) {
                    // The show's own values, not a mistake on the command line.
                    std::string values;
                    for (const std::string &value : options.showCarriage)
                        values += (values.empty() ? "" : ", ") + value;
                    std::fprintf(stderr, "The show \"%s\" cannot be rendered: %s: %s\n",
                                 options.show.substr(options.show.rfind('/') + 1).c_str(),
                                 values.c_str(), refusal.c_str());
                    return 1;
                }
                throw UsageError{refusal};
            }
    } catch (const UsageError &e) {
        std::fprintf(stderr, "quillon-render: %s\n", e.reason.c_str());
        return 2;
    }
    for (const std::string &input : options.inputs) {
        const std::string path = absolute(input);
        if (win32::DirectoryExists(path)) {
            // As the folder chooser hands it over: ending in '/'.
            for (const std::string &folder : quillon::ScanPictureFolder(
                     settings.photos, path.back() == '/' ? path : path + "/"))
                std::fprintf(stderr,
                             "Cannot read the folder \"%s\": its photos are left out of the "
                             "movie.\n",
                             folder.c_str());
        } else
            settings.photos.push_back(path);
    }
    if (settings.photos.empty()) {
        std::fprintf(stderr, "Please add some photos first.\n");
        return 1;
    }
    // The window passes over a sound file that is gone; a name given here is
    // what the user asked for, so one that cannot be read ends the run before
    // anything is rendered.
    // Why a sound file cannot be read; "" when it can.
    auto unreadable = [](const std::string &sound) {
        std::string why;
        if (const int fd = win32::OpenInputFile(sound, &why); fd >= 0)
            ::close(fd);
        return why;
    };
    if (options.given.count("--sound")) {
        for (const std::string &sound : options.sounds)
            if (const std::string why = unreadable(sound); !why.empty()) {
                std::fprintf(stderr, "Cannot read the sound file \"%s\": %s\n", sound.c_str(),
                             why.c_str());
                return 1;
            }
    } else {
        // A sound file a show names is passed over when it is gone, as the
        // window passes it over: the show's photos are the work. Not silently.
        for (const std::string &sound : options.sounds)
            if (!sound.empty() && !win32::FileExists(sound))
                std::fprintf(stderr,
                             "Cannot read the sound file \"%s\": %s; the movie is made without "
                             "it.\n",
                             sound.c_str(), unreadable(sound).c_str());
    }
    settings.standard = options.standard;
    settings.resolution = options.resolution;
    settings.intervalText = std::to_string(options.interval);
    settings.outputFolder = options.outputFolder;
    settings.movie = options.movie;
    if (!options.sounds.empty()) {
        settings.soundFile = options.sounds.front();
        settings.movie.moreSoundFiles.assign(options.sounds.begin() + 1, options.sounds.end());
    }

    if (!options.jobFolder.empty())
        win32::SetTempFolder(options.jobFolder);
    toolsignals::CatchStopSignals();

    quillon::TWorkThreadInfo job;
    win32::FolderLock jobFolderLock;
    std::int64_t totalSeconds = 0;
    try {
        if (!lockJobFolder(jobFolderLock))
            endByStopSignal();
        totalSeconds = quillon::PrepareConversion(settings, job);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    quillon::NormaliseOutputFolder(job);
    if (job.OutputFolder.empty()) {
        // As the program's run: the status first, then the refusal; no render
        // into whatever folder this happens to run in.
        std::fprintf(
            stderr, "%s\n%s\n%s\n", quillon::ConvertingText,
            quillon::MissingOutputFolderMessage(settings.outputFolder, job.OutputFolderProblem)
                .c_str(),
            quillon::ConversionFailedText);
        return 1;
    }

    if (options.encodeEveryFrame)
        media::SetEncodeEveryFrameForAll(true);

    ProgressLine progress(totalSeconds);
    win32::SetMessageBoxHandler([&](HWND, const std::string &text, const std::string &, UINT type) {
        progress.breakLine();
        std::fprintf(stderr, "%s\n", text.c_str());
        return win32::DefaultButton(type);
    });

    const UINT progressMessage = win32::RegisterWindowMessageA("WM_COMPRESS_POSITION");
    HWND window
        = win32::CreateWindowHandle([&](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
              if (msg == progressMessage && lParam == 0)
                  progress.show(static_cast<std::int32_t>(wParam));
              return 0;
          });

    std::fprintf(stderr, "%s\n", quillon::ConvertingText);
    std::atomic<bool> done{false};
    int result = -1;
    std::thread worker;
    try {
        worker = std::thread([&] {
            result = quillon::RenderMovie(window, job, &stopRequest);
            done = true;
            win32::PostMessageA(window, 0, 0, 0); // wakes the loop at once
        });
    } catch (const std::system_error &error) {
        // At the user's limit of processes, say.
        win32::DestroyWindowHandle(window);
        std::fprintf(stderr, "Cannot start the render: %s\n%s\n", error.code().message().c_str(),
                     quillon::ConversionFailedText);
        return 1;
    }
    win32::CurrentThreadQueue()->runUntil([&] { return done.load(); });
    worker.join();
    win32::DestroyWindowHandle(window);
    progress.breakLine();
    jobFolderLock.Release();

    // A signal that came after the movie was complete changes nothing.
    if (result == MURELINE_STOPPED)
        endByStopSignal();
    if (result < 0) {
        std::fprintf(stderr, "%s\n", quillon::ConversionFailedText);
        return 1;
    }
    std::fprintf(stderr, "%s\n", quillon::ConversionCompletedText);
    std::printf("%s\n", quillon::MoviePath(job).c_str());
    return WithStandardOutput(0);
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const NoCurrentFolder &e) {
        std::fprintf(stderr, "%s\n", e.message.c_str());
        return 1;
    }
}
