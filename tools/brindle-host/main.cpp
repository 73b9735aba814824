// brindle-host: a host for Brindle. Loads libbrindle.so by name, serves the
// slide show of the last movie job frame by frame into a memory device context
// of the job's size and writes the frames as a YUV4MPEG2 stream.

#include "frameserver/brindle.h"
#include "platform/win32/dc.h"
#include "platform/win32/errors.h"
#include "platform/win32/files.h"
#include "platform/win32/ini.h"
#include "tools/standard_output.h"
#include "tools/stop_signals.h"
#include "y4m.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <exception>
#include <fcntl.h>
#include <limits>
#include <new>
#include <png.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// A stop asked for by a signal: the frame being written is the last, the
// output's new file is removed, and the host then ends by that signal.
using toolsignals::stopSignal;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoLibrary = 3;

constexpr const char *kUsage
    = "Usage: brindle-host [OUTPUT] [--png DIR [--every K]] [--job-folder DIR]\n"
      "Serves the slide show of the last movie job through libbrindle.so and writes it\n"
      "as a YUV4MPEG2 stream at 30 frames per second to OUTPUT, a file, or standard\n"
      "output when OUTPUT is - or missing:  brindle-host | ffplay -\n"
      "  --png DIR         also save frames as PNG stills DIR/frame-NNNNNN.png\n"
      "  --every K         save every K-th frame only (frames 0, K, 2K, ...;\n"
      "                    default 1)\n"
      "  --job-folder DIR  the job of quillon-render --job-folder DIR (default: the\n"
      "                    user's job folder, $TMPDIR/quillon-UID or /tmp/quillon-UID)\n"
      "Exit status: 0 done, 1 failure, 2 wrong arguments, 3 libbrindle.so or one of\n"
      "its exports not found.\n";

struct Options
{
    std::string output = "-";
    std::string pngFolder;
    std::string jobFolder;
    long long every = 1;
    bool help = false;
};

bool ParseCount(std::string_view text, long long &value)
{
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= 1;
}

// An empty message means the arguments are fine.
std::string ParseArguments(int argc, char **argv, Options &options)
{
    bool haveOutput = false;
    bool haveEvery = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--png" || arg == "--every" || arg == "--job-folder") {
            if (i + 1 >= argc)
                return std::string(arg) + " needs a value";
            const std::string_view value = argv[++i];
            if (arg == "--job-folder") {
                if (value.empty())
                    return "--job-folder needs a folder";
                options.jobFolder = value;
            } else if (arg == "--png") {
                if (value.empty())
                    return "--png needs a folder";
                options.pngFolder = value;
            } else {
                if (!ParseCount(value, options.every))
                    return "--every needs a whole number of at least 1, not \"" + std::string(value)
                           + "\"";
                haveEvery = true;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + std::string(arg);
        } else if (haveOutput) {
            return "only one OUTPUT may be given";
        } else if (arg.empty()) {
            return "OUTPUT needs a file name, or - for standard output";
        } else {
            options.output = arg;
            haveOutput = true;
        }
    }
    if (haveEvery && options.pngFolder.empty())
        return "--every goes with --png";
    return {};
}

struct Exports
{
    brindle::InitEffectManagerProc init = nullptr;
    brindle::GetEffectBitmapProc getBitmap = nullptr;
    brindle::FreeEffectManagerProc free = nullptr;
};

template <typename Proc>
bool Bind(void *library, const char *name, Proc &proc)
{
    proc = reinterpret_cast<Proc>(dlsym(library, name));
    if (!proc)
        std::fprintf(stderr, "brindle-host: %s has no export %s\n", brindle::kLibraryName, name);
    return proc != nullptr;
}

// A file the host writes. A new file is written under a temporary name beside
// its own and takes the name only once it is complete, as the movie does, so a
// run that fails leaves the file before it whole and whatever stood at the name
// (a link someone else made, say) is replaced as a name, never written through.
// A FIFO or a device that the user named as OUTPUT is written to as it is: its
// reader is the point. A link named as OUTPUT is refused rather than followed.
class OutputFile
{
public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile()
    {
        if (stream_)
            std::fclose(stream_);
    }

    // Opens the file for writing; "" when done, else why not.
    std::string open(const std::string &path, bool namedByUser)
    {
        struct stat st
        {};
        const bool exists = ::lstat(path.c_str(), &st) == 0;
        if (exists && namedByUser && S_ISLNK(st.st_mode))
            return "it is a symbolic link; name the file itself, or - for standard output";
        // Another user's link in a folder on the way would choose where the
        // stream goes, and which of this user's files it replaces.
        if (namedByUser)
            if (const auto link = win32::ForeignLinkOnTheWay(path))
                return win32::ForeignLinkReason(*link);
        // Found out now, not once the whole show has been written beside it.
        if (exists && namedByUser && S_ISDIR(st.st_mode))
            return std::strerror(EISDIR);
        if (exists && namedByUser && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)))
            return streamTo(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
        // Every still too: its folder may have been swapped for a link since
        // the stream began.
        if (!file_.Create(path, 0666, win32::FileBeside::Links::OnlyTrusted))
            return file_.ForeignLink().empty() ? std::strerror(errno)
                                               : win32::ForeignLinkReason(file_.ForeignLink());
        // The stream has a descriptor of its own; the file's keeps the lock.
        return streamTo(::fcntl(file_.Descriptor(), F_DUPFD_CLOEXEC, 0));
    }

    std::FILE *stream() const { return stream_; }

    // Closes the file and gives it its name; false with errno set when the
    // data did not all reach it or the name cannot be given.
    bool finish()
    {
        if (std::fclose(std::exchange(stream_, nullptr)) != 0)
            return false;
        return file_.NewPath().empty() || file_.Commit();
    }

private:
    // Writes through a stream on the descriptor from now on; "" when done.
    std::string streamTo(int fd)
    {
        if (fd >= 0 && (stream_ = ::fdopen(fd, "wb")))
            return {};
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return std::strerror(error);
    }

    win32::FileBeside file_; // a new file, unless a FIFO or a device was named
    std::FILE *stream_ = nullptr;
};

bool WritePng(const std::string &path, const win32::DCBits &frame)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(frame.width);
    image.height = static_cast<png_uint_32>(frame.height);
    image.format = PNG_FORMAT_BGR;
    png_alloc_size_t size = 0;
    std::string bytes;
    if (png_image_write_get_memory_size(image, size, 0, frame.bits, frame.stride, nullptr)) {
        bytes.resize(size);
        if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, frame.bits, frame.stride,
                                       nullptr))
            bytes.clear();
    }
    if (bytes.empty()) {
        std::fprintf(stderr, "brindle-host: cannot make %s: %s\n", path.c_str(), image.message);
        png_image_free(&image);
        return false;
    }
    bytes.resize(size);
    OutputFile file;
    std::string problem = file.open(path, false);
    if (problem.empty()
        && (std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) != bytes.size()
            || !file.finish()))
        problem = std::strerror(errno);
    if (problem.empty())
        return true;
    std::fprintf(stderr, "brindle-host: cannot write %s: %s\n", path.c_str(), problem.c_str());
    return false;
}

std::string PngName(const std::string &folder, long long frame)
{
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06lld.png", frame);
    return folder + name;
}

// Serves every frame of one pass of the show that InitEffectManager started.
// A reader that closes the pipe early (the player was shut) ends the show
// quietly; any other write failure is an error, and so is a frame the library
// had no memory to draw. A stop signal ends it too, even within a frame that a
// stalled reader does not take. A job with no frame to serve is an empty
// stream, and said so.
int Serve(const Exports &brindle, HDC dc, int out, const std::string &outputName,
          const Options &options, const std::string &jobFolder, int interval)
{
    win32::DCBits frame;
    win32::GetDCBits(dc, &frame);
    brindlehost::Y4mWriter stream(out, frame.width, frame.height, brindle::kFramesPerSecond);
    auto failed = [&] {
        if (stopSignal)
            return 128 + static_cast<int>(stopSignal);
        if (errno == EPIPE)
            return 0;
        std::fprintf(stderr, "brindle-host: cannot write %s: %s\n", outputName.c_str(),
                     std::strerror(errno));
        return kExitFailure;
    };
    if (!stream.writeHeader())
        return failed();
    bool empty = true;
    for (long long n = 0; brindle.getBitmap(dc) != 0; ++n) {
        empty = false;
        if (win32::GetLastError() == win32::ERROR_NOT_ENOUGH_MEMORY) {
            std::fprintf(stderr, "brindle-host: %s ran out of memory drawing frame %lld\n",
                         brindle::kLibraryName, n);
            return kExitFailure;
        }
        if (win32::GetLastError() == win32::ERROR_TOO_MANY_OPEN_FILES) {
            std::fprintf(stderr, "brindle-host: %s could not open the photo of frame %lld: %s\n",
                         brindle::kLibraryName, n, std::strerror(EMFILE));
            return kExitFailure;
        }
        if (stopSignal)
            return 128 + static_cast<int>(stopSignal);
        if (!stream.writeFrame(frame.bits, frame.stride))
            return failed();
        if (!options.pngFolder.empty() && n % options.every == 0
            && !WritePng(PngName(options.pngFolder, n), frame))
            return kExitFailure;
    }
    if (empty && interval <= 0)
        std::fprintf(stderr,
                     "brindle-host: the job in %s shows each photo for %d seconds (Interval in "
                     "param.ini), so it has no frame to show\n",
                     jobFolder.c_str(), interval);
    else if (empty)
        std::fprintf(stderr,
                     "brindle-host: the job in %s has no photos to show; make a movie first\n",
                     jobFolder.c_str());
    return 0;
}

// By name, through the normal search path, in which this program's RUNPATH
// names the library folder (the build's in the build tree, the installed one
// once installed). dlmopen into the base namespace is
// dlopen, but for one thing: a sanitizer runtime wraps dlopen, and the loader
// would then search the wrapper's RUNPATH instead of this program's.
void *LoadByName(const char *name)
{
    return dlmopen(LM_ID_BASE, name, RTLD_NOW | RTLD_LOCAL);
}

int Run(const Options &options)
{
    void *library = LoadByName(brindle::kLibraryName);
    if (!library) {
        std::fprintf(stderr, "brindle-host: cannot load %s: %s\n", brindle::kLibraryName,
                     dlerror());
        return kExitNoLibrary;
    }
    Exports brindle;
    if (!Bind(library, "InitEffectManager", brindle.init)
        || !Bind(library, "GetEffectBitmap", brindle.getBitmap)
        || !Bind(library, "FreeEffectManager", brindle.free)) {
        dlclose(library);
        return kExitNoLibrary;
    }

    // The library shares this process's job folder.
    if (!options.jobFolder.empty()) {
        // A job folder named here is read, never made: a mistyped name would
        // otherwise be an empty show.
        struct stat st
        {};
        if (::lstat(options.jobFolder.c_str(), &st) != 0) {
            std::fprintf(stderr, "brindle-host: cannot read the job folder %s: %s\n",
                         options.jobFolder.c_str(), std::strerror(errno));
            dlclose(library);
            return kExitFailure;
        }
        win32::SetTempFolder(options.jobFolder);
    }
    const std::string folder = win32::GetTempPathA();
    if (folder.empty()) {
        std::fprintf(stderr, "brindle-host: %s\n", win32::TempFolderProblem().c_str());
        dlclose(library);
        return kExitFailure;
    }
    // The library reads param.ini again: pinned to this one read, it serves
    // frames of the size announced here, whatever a new job writes meanwhile.
    // Like the library, the host reads a param.ini that changed while the
    // library read the photo list again, with the list.
    const std::string ini = folder + "param.ini";
    win32::Profile params;
    for (int read = 1;; ++read) {
        win32::PinProfile(ini, std::nullopt);
        params = win32::Profile::Read(ini);
        win32::PinProfile(ini, params);
        brindle.init();
        if (read == 3 || !params.Changed()
            || win32::GetLastError() == win32::ERROR_NOT_ENOUGH_MEMORY)
            break;
    }
    HDC dc = nullptr;
    auto end = [&](int status) {
        brindle.free();
        win32::DeleteDC(dc);
        dlclose(library);
        return status;
    };
    if (win32::GetLastError() == win32::ERROR_NOT_ENOUGH_MEMORY) {
        std::fprintf(stderr,
                     "brindle-host: %s ran out of memory starting the show of the job in %s\n",
                     brindle::kLibraryName, folder.c_str());
        return end(kExitFailure);
    }
    const int width = brindle::FrameSide(
        params.GetInt("Temp", "OutputWidth", brindle::kDefaultWidth), brindle::kDefaultWidth);
    const int height = brindle::FrameSide(
        params.GetInt("Temp", "OutputHeight", brindle::kDefaultHeight), brindle::kDefaultHeight);
    // CreateMemoryDC works the row size out in int; wider ones could not be
    // made anyway (2 GB at most).
    const bool possible
        = width > 0 && height > 0 && width <= (std::numeric_limits<int>::max() - 3) / 3;
    dc = possible ? win32::CreateMemoryDC(width, height) : nullptr;
    if (!dc) {
        std::fprintf(stderr,
                     "brindle-host: frames of %d x %d pixels (OutputWidth and OutputHeight in "
                     "%s) cannot be shown\n",
                     width, height, ini.c_str());
        return end(kExitFailure);
    }

    Options resolved = options;
    if (!resolved.pngFolder.empty()) {
        if (resolved.pngFolder.back() != '/')
            resolved.pngFolder += '/';
        if (const auto link = win32::ForeignLinkOnTheWay(resolved.pngFolder)) {
            std::fprintf(stderr, "brindle-host: cannot use the folder %s: %s\n",
                         resolved.pngFolder.c_str(), win32::ForeignLinkReason(*link).c_str());
            return end(kExitFailure);
        }
        std::string problem;
        if (!win32::ForceDirectories(resolved.pngFolder, &problem)) {
            std::fprintf(stderr, "brindle-host: cannot create the folder %s: %s\n",
                         resolved.pngFolder.c_str(), problem.c_str());
            return end(kExitFailure);
        }
    }

    const bool toStdout = options.output == "-";
    const std::string outputName = toStdout ? "standard output" : options.output;
    OutputFile file;
    const std::string problem = toStdout ? std::string() : file.open(options.output, true);
    int status = kExitFailure;
    if (!problem.empty() && stopSignal) {
        // A FIFO's open that waited for a reader, ended by the stop.
        status = 128 + static_cast<int>(stopSignal);
    } else if (!problem.empty()) {
        std::fprintf(stderr, "brindle-host: cannot create %s: %s\n", outputName.c_str(),
                     problem.c_str());
    } else {
        // The stream is written to the descriptor itself, past stdio's buffer.
        const int out = toStdout ? STDOUT_FILENO : ::fileno(file.stream());
        status = Serve(brindle, dc, out, outputName, resolved, folder,
                       params.GetInt("Temp", "Interval", brindle::kDefaultInterval));
        const bool closed = toStdout || status != 0 || file.finish();
        if (!closed && status == 0 && errno != EPIPE) {
            std::fprintf(stderr, "brindle-host: cannot write %s: %s\n", outputName.c_str(),
                         std::strerror(errno));
            status = kExitFailure;
        }
    }
    return end(status);
}

} // namespace

int main(int argc, char **argv)
{
    // The stream's file must never take the number of a closed standard stream.
    win32::KeepStandardStreamsOpen();
    Options options;
    if (const std::string error = ParseArguments(argc, argv, options); !error.empty()) {
        std::fprintf(stderr, "brindle-host: %s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return toolsoutput::WithStandardOutput("brindle-host", 0);
    }
    // A closed pipe shows up as EPIPE from the write, and a file larger than
    // the user's limit as EFBIG, instead of killing the host before it could
    // free the library's state and remove its new files.
    toolsignals::CatchStopSignals();
    int status = kExitFailure;
    try {
        status = Run(options);
    } catch (const std::bad_alloc &) {
        // Its own buffers (the frame, a still) larger than the memory left:
        // said as such, not by the exception's name.
        std::fprintf(stderr, "brindle-host: out of memory\n");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "brindle-host: %s\n", e.what());
    }
    if (stopSignal)
        toolsignals::EndByStopSignal(SIGTERM);
    return status;
}
