// The movie job that the Go command and the headless tool share: the job files
// in the temporary folder, the durations, the job record and the preparation of
// a run.
#pragma once

#include "platform/win32/tempfolder.h"

#include "app/job/movie_options.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// The job record: filled by the user-interface thread before the worker starts,
// only read by the worker afterwards.
class TWorkThreadInfo
{
public:
    std::string OutputFolder;
    int CompressorIndex = -1;
    std::int64_t DurationSeconds = 0;
    std::string SoundFile;
    // The movie's further choices, copied from the settings by every run.
    MovieOptions Movie;
    // Why the output folder could not be made, when it could not.
    std::string OutputFolderProblem;
};

// Everything the run takes from the settings, as the controls hold it.
struct JobSettings
{
    std::vector<std::string> photos;
    int standard = 0;         // 0 NTSC, anything else PAL
    int resolution = 0;       // 0 High, 1 Medium, 2 Low
    std::string intervalText; // the interval box's text
    std::string outputFolder; // the output folder box's text
    int compressorIndex = -1; // position in the video compressor category
    std::string soundFile;    // the sound file box's text, "" for none
    MovieOptions movie;       // the choices beyond the output view's original ones
};

// The interval box's value: its text as a decimal number, or its minimum 1
// when the text is not a whole number.
int IntervalValue(const std::string &intervalText);

// Seconds of the movie: n × (V + 1) − 1, in 64 bits so that no list overflows.
std::int64_t TotalSeconds(std::int64_t photoCount, int interval);
// Seconds that the photos are held: V × n.
std::int64_t DurationSeconds(std::int64_t photoCount, int interval);

// What frame `Frame` of a show shows: the photo held there, or the two photos
// that a cross-fade mixes (`second` = `first` + 1); -1 where there is none. A
// photo is held for Interval × Fps frames, a cross-fade lasts Fps frames.
struct FramePhotos
{
    std::int64_t first = -1;
    std::int64_t second = -1;
};
FramePhotos PhotosAtFrame(std::int64_t Frame, std::int64_t PhotoCount, int Interval, int Fps);
// The first frame at which the photo is held.
std::int64_t FirstFrameOfPhoto(std::int64_t Photo, int Interval, int Fps);

// The script of a job, the text that the run writes to the script file.
std::string ScriptText(const JobSettings &settings);

// "pelloryfilelist.txt": one path a line, CRLF after each. Raises
// forms::EFCreateError when it cannot be written.
void WritePhotoList(const std::string &tempFolder, const std::vector<std::string> &photos);

// "param.ini", section Temp: OutputWidth, OutputHeight, Interval, in that order,
// and AutoRotate, which tells the frame server to show JPEG photos as stored
// rather than upright: written as 0 when `autoRotate` is off, removed when it
// is on, so that a default job's file holds the three keys alone. Raises
// forms::EIniFileException ("Unable to write to %s") on failure.
void WriteParamIni(const std::string &tempFolder, int width, int height, int interval,
                   bool autoRotate = true);

// A run holds the lock of its job folder from writing the job files until the
// renderer is done with them, so that no other run of this user's (another
// program, a quillon-render) writes its own job over them in between. Takes
// it without waiting: false when another run holds it. Raises forms::Exception
// naming the folder when the folder is refused or cannot be locked.
bool TryLockJobFolder(win32::FolderLock &lock);

// What the program says when Go finds another process's run under way, and
// what quillon-render says while it waits for one.
inline constexpr const char *JobFolderBusyText
    = "Another movie of this user is being made at the moment. Press Go again once it is "
      "finished.";
inline constexpr const char *WaitingForJobFolderText
    = "Waiting for another movie of this user to finish ...";

// Steps of a run between its checks and its worker thread: writes the photo
// list, "param.ini" and the script, fills the job record and creates the output
// folder with its parents. Returns TotalSeconds. The three files are replaced
// together: when one of them cannot be written, none of them changes, and the
// error is the one WritePhotoList, WriteParamIni or WriteScript raises for it.
// An interval the script cannot take (forms::EConvertError) still has the
// photo list and "param.ini" written, the script left as it was. A frame size
// or rate in `movie` that is not on offer is refused before anything is written.
std::int64_t PrepareConversion(const JobSettings &settings, TWorkThreadInfo &job);

// What the worker's constructor does to the record: a '/' at the end of the
// output folder, then its short form ("" when the folder does not exist).
void NormaliseOutputFolder(TWorkThreadInfo &job);

// The texts of a run: its status while it renders and its two outcomes.
inline constexpr const char *ConvertingText = "Converting photo to video stream ... ";
inline constexpr const char *ConversionFailedText
    = "An error occured when convert photo to video stream.";
inline constexpr const char *ConversionCompletedText = "Video File Generation Compeleted.";
// What a run stopped on request says instead.
inline constexpr const char *ConversionStoppedText = "The movie was not made: stopped.";

// What a run says instead of rendering when its output folder could not be
// made (the movie would otherwise land in whatever folder the program runs in),
// with the reason when one is known.
std::string MissingOutputFolderMessage(const std::string &folder, const std::string &reason);

// The movie file of a record: the output folder followed by "photo_video." and
// the container's extension ("photo_video.avi" by default).
std::string MoviePath(const TWorkThreadInfo &job);

} // namespace quillon
