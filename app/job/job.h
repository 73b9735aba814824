// The movie job that the Go command and the headless tool share: the job files
// in the temporary folder, the durations, the job record and the preparation of
// a run.
#pragma once

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
};

// The interval box's value: its text as a decimal number, or its minimum 1
// when the text is not a whole number.
int IntervalValue(const std::string &intervalText);

// Seconds of the movie: n × (V + 1) − 1, in 64 bits so that no list overflows.
std::int64_t TotalSeconds(std::int64_t photoCount, int interval);
// Seconds that the photos are held: V × n.
std::int64_t DurationSeconds(std::int64_t photoCount, int interval);

// "pelloryfilelist.txt": one path a line, CRLF after each. Raises
// forms::EFCreateError when it cannot be written.
void WritePhotoList(const std::string &tempFolder, const std::vector<std::string> &photos);

// "param.ini", section Temp: OutputWidth, OutputHeight, Interval, in that order.
// Raises forms::EIniFileException ("Unable to write to %s") on failure.
void WriteParamIni(const std::string &tempFolder, int width, int height, int interval);

// Steps of a run between its checks and its worker thread: writes the photo
// list, "param.ini" and the script, fills the job record and creates the output
// folder with its parents. Returns TotalSeconds. An error ends the preparation
// where it happens; what was written before stays.
std::int64_t PrepareConversion(const JobSettings &settings, TWorkThreadInfo &job);

// What the worker's constructor does to the record: a '/' at the end of the
// output folder, then its short form ("" when the folder does not exist).
void NormaliseOutputFolder(TWorkThreadInfo &job);

// The message for an output folder that could not be made: without one, a run
// renders nothing (the renderer would get the bare file name and write the movie
// wherever the program happens to run).
std::string MissingOutputFolderMessage(const std::string &folder);

// The movie file of a record: the output folder followed by "photo_video.avi".
std::string MoviePath(const TWorkThreadInfo &job);

} // namespace quillon
