#include "app/job/job.h"

#include "app/job/app_define.h"
#include "app/job/script_writer.h"
#include "app/job/text_file.h"
#include "platform/forms/errors.h"
#include "platform/forms/sysutils.h"
#include "platform/win32/files.h"
#include "platform/win32/ini.h"

#include <cerrno>
#include <cstring>
#include <optional>

namespace quillon {

int IntervalValue(const std::string &intervalText)
{
    return forms::StrToIntDef(intervalText, 1);
}

std::int64_t TotalSeconds(std::int64_t photoCount, int interval)
{
    return photoCount * (static_cast<std::int64_t>(interval) + 1) - 1;
}

std::int64_t DurationSeconds(std::int64_t photoCount, int interval)
{
    return static_cast<std::int64_t>(interval) * photoCount;
}

FramePhotos PhotosAtFrame(std::int64_t Frame, std::int64_t PhotoCount, int Interval, int Fps)
{
    const std::int64_t hold = static_cast<std::int64_t>(Interval) * Fps;
    const std::int64_t slide = hold + Fps;
    if (Frame < 0 || PhotoCount <= 0 || hold <= 0)
        return {};
    const std::int64_t photo = Frame / slide;
    if (photo >= PhotoCount)
        return {};
    if (Frame % slide < hold)
        return {photo, -1};
    if (photo + 1 >= PhotoCount)
        return {};
    return {photo, photo + 1};
}

std::int64_t FirstFrameOfPhoto(std::int64_t Photo, int Interval, int Fps)
{
    return Photo * (static_cast<std::int64_t>(Interval) * Fps + Fps);
}

std::string ScriptText(const JobSettings &settings)
{
    return BuildScript(settings.photos, settings.standard, settings.resolution,
                       settings.intervalText, settings.movie);
}

namespace {

std::string PhotoListText(const std::vector<std::string> &photos)
{
    std::string text;
    for (const std::string &photo : photos) {
        text += photo;
        text += "\r\n";
    }
    return text;
}

std::vector<win32::ProfileKey> ParamIniKeys(int width, int height, int interval, bool autoRotate)
{
    return {{"OutputWidth", std::to_string(width)},
            {"OutputHeight", std::to_string(height)},
            {"Interval", std::to_string(interval)},
            {"AutoRotate", autoRotate ? std::nullopt : std::optional<std::string>("0")}};
}

} // namespace

void WritePhotoList(const std::string &tempFolder, const std::vector<std::string> &photos)
{
    SaveTextFile(tempFolder + "pelloryfilelist.txt", PhotoListText(photos));
}

void WriteParamIni(const std::string &tempFolder, int width, int height, int interval,
                   bool autoRotate)
{
    // One write: a frame server reading the folder meanwhile sees the last
    // job's values or this one's, never a mixture.
    const std::string file = tempFolder + "param.ini";
    if (!win32::WritePrivateProfileKeysA("Temp", ParamIniKeys(width, height, interval, autoRotate),
                                         file))
        throw forms::EIniFileException::forFile(file);
}

bool TryLockJobFolder(win32::FolderLock &lock)
{
    const std::string folder = GetTempDirectory();
    switch (lock.TryLock(folder)) {
    case win32::FolderLock::Result::Taken:
        return true;
    case win32::FolderLock::Result::Busy:
        return false;
    case win32::FolderLock::Result::Failed:
        break;
    }
    throw forms::Exception("The job folder \"" + folder
                           + "\" cannot be used: " + std::strerror(errno) + ".");
}

std::int64_t PrepareConversion(const JobSettings &settings, TWorkThreadInfo &job)
{
    // The script and the encoders take nothing else; the program and the tool
    // offer nothing else, but settings may also come from a file.
    const MovieOptions &movie = settings.movie;
    const bool sized = movie.width != 0 || movie.height != 0;
    if (sized && !FrameSizeFromText(FrameSizeText({movie.width, movie.height})))
        throw forms::Exception("The frame size " + FrameSizeText({movie.width, movie.height})
                               + " cannot be used: both sides must be even, from "
                               + std::to_string(MinFrameSide) + " to "
                               + std::to_string(MaxFrameSide) + " pixels.");
    if (!IsOfferedFrameRate(movie.framesPerSecond))
        throw forms::Exception("The frame rate " + std::to_string(movie.framesPerSecond)
                               + " cannot be used: it must be 24, 25, 30, 50 or 60.");

    // The job files and the script carry one path a line and between quotes.
    for (const std::string &photo : settings.photos)
        if (!PathFitsScript(photo))
            throw forms::Exception(UnusablePhotoMessage(photo));

    // Another user's link on the way would let them choose where the movie
    // goes, and which earlier movie of this user's it replaces.
    if (const auto link = win32::ForeignLinkOnTheWay(settings.outputFolder))
        throw forms::Exception("The output folder \"" + settings.outputFolder
                               + "\" cannot be used: " + win32::ForeignLinkReason(*link) + ".");

    // The list, param.ini and the script are replaced together, in that order:
    // a frame server takes the list with the param.ini that did not change
    // while it read the list, so a new param.ini must find the new list there.
    // A write that fails leaves the last job's three files, never two jobs'.
    const std::string temp = GetTempDirectory();
    const std::vector<std::string> paths
        = {temp + "pelloryfilelist.txt", temp + "param.ini", win32::FixedScriptPath()};
    win32::FileReplacementGroup files;
    std::size_t failed = 0;
    std::string reason;
    auto raise = [&](std::size_t file) {
        if (file == 1)
            throw forms::EIniFileException::forFile(paths[1]);
        throw forms::EFCreateError::forFile(paths[file], reason);
    };
    if (!files.Add(paths[0], PhotoListText(settings.photos), &reason))
        raise(0);
    const OutputSize size = MovieFrameSize(settings.standard, settings.resolution, settings.movie);
    const int interval = IntervalValue(settings.intervalText);
    const std::optional<std::string> params = win32::PrivateProfileTextWithKeys(
        "Temp", ParamIniKeys(size.width, size.height, interval, settings.movie.autoRotate),
        paths[1]);
    if (!params || !files.Add(paths[1], *params))
        raise(1);
    const std::int64_t total
        = TotalSeconds(static_cast<std::int64_t>(settings.photos.size()), interval);
    std::string script;
    try {
        script = BuildScript(settings.photos, settings.standard, settings.resolution,
                             settings.intervalText, settings.movie);
    } catch (const forms::EConvertError &) {
        // An interval that the script cannot take still leaves both job files written.
        if (!files.Commit(&failed, &reason))
            raise(failed);
        throw;
    }
    if (paths[2].empty())
        throw forms::Exception(win32::TempFolderProblem());
    if (!files.Add(paths[2], script, &reason))
        raise(2);
    if (!files.Commit(&failed, &reason))
        raise(failed);

    job.OutputFolder = settings.outputFolder;
    job.CompressorIndex = settings.compressorIndex;
    job.DurationSeconds
        = DurationSeconds(static_cast<std::int64_t>(settings.photos.size()), interval);
    if (win32::FileExists(settings.soundFile))
        job.SoundFile = settings.soundFile;
    job.Movie = settings.movie;
    // A later track that is gone is passed over as the first one is.
    std::erase_if(job.Movie.moreSoundFiles,
                  [](const std::string &file) { return !win32::FileExists(file); });

    // A folder that cannot be created is not reported here: the record then
    // holds an empty folder and the renderer reports what it cannot write.
    job.OutputFolderProblem.clear();
    if (!win32::DirectoryExists(settings.outputFolder))
        win32::ForceDirectories(settings.outputFolder, &job.OutputFolderProblem);
    return total;
}

void NormaliseOutputFolder(TWorkThreadInfo &job)
{
    if (job.OutputFolder.empty() || job.OutputFolder.back() != '/')
        job.OutputFolder += '/';
    job.OutputFolder = win32::GetShortPathNameA(job.OutputFolder);
}

std::string MissingOutputFolderMessage(const std::string &folder, const std::string &reason)
{
    std::string text = "Cannot create the output folder \"" + folder + "\".";
    if (!reason.empty())
        text += " " + reason;
    return text;
}

std::string MoviePath(const TWorkThreadInfo &job)
{
    return job.OutputFolder + "photo_video." + ContainerExtension(job.Movie.container);
}

const char *ContainerExtension(MovieOptions::Container container)
{
    switch (container) {
    case MovieOptions::Container::Mp4:
        return "mp4";
    case MovieOptions::Container::Matroska:
        return "mkv";
    case MovieOptions::Container::WebM:
        return "webm";
    case MovieOptions::Container::Avi:
        break;
    }
    return "avi";
}

} // namespace quillon
