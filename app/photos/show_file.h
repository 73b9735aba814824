// Shows kept in a file: the photo list and every setting of the Output view, in
// one plain text file (".qshow") that the program opens again and the headless
// tool renders. It is an INI file with the rules of the program's own profile
// files, readable and editable by hand:
//
//   [Show]
//   Version=1
//   Standard=PAL                        NTSC or PAL
//   Resolution=High                     High, Medium or Low
//   Interval=3                          whole seconds, 1 to 65536
//   OutputFolder=Movies                 where photo_video.avi goes
//   SoundFile=/home/ann/Music/tune.wav  empty for none
//   Compressor=DivX? 5 compatible MPEG-4 Codec
//   SoundFile2=/home/ann/Music/more.mp3 further tracks after the first, in order
//   FrameSize=standard                  standard (the standard's and resolution's),
//                                       WIDTHxHEIGHT, 720p, 1080p or 2160p
//   FrameRate=25                        24, 25, 30, 50 or 60
//   Fit=stretch                         stretch, letterbox, crop or blur
//   AutoRotate=1                        1: JPEG photos upright as their tag says
//   Container=avi                       avi, mp4, mkv or webm
//   SoundEnd=cut                        cut, keep or loop
//   [Photos]
//   Photo1=holiday/img001.jpg           in the order of their numbers
//
// Paths are stored as they are, relative to the file's folder when they lie
// inside it. A value that begins or ends with a blank or a quote is written
// between double quotes, which reading takes off again. A [Show] or [Photos]
// section that comes again continues the first. Keys and sections that
// this version does not know are kept and written back, so a show made by a
// later version keeps its other settings through an open and a save here.
#pragma once

#include "app/job/movie_options.h"

#include <optional>
#include <string>
#include <vector>

namespace quillon {

struct TShow
{
    std::vector<std::string> Photos;
    // Each setting as the file gives it; nullopt when it does not.
    std::optional<int> Standard;   // 0 NTSC, 1 PAL
    std::optional<int> Resolution; // 0 High, 1 Medium, 2 Low
    std::optional<int> Interval;
    std::optional<std::string> OutputFolder;
    std::optional<std::string> SoundFile;  // "" for none
    std::optional<std::string> Compressor; // the compressor's name
    // The tracks after SoundFile's; only read or written along with SoundFile.
    std::vector<std::string> MoreSoundFiles;
    std::optional<FrameSize> Size; // 0 x 0: the standard's and resolution's
    std::optional<int> FrameRate;
    std::optional<MovieOptions::Fit> Fit;
    std::optional<bool> AutoRotate;
    std::optional<MovieOptions::Container> Container;
    std::optional<MovieOptions::SoundEnd> SoundEnd;

    struct TKept
    {
        std::string Section;
        std::string Key;
        std::string Value;
        bool operator==(const TKept &) const = default;
    };
    std::vector<TKept> Kept; // what this version does not know, in the file's order

    bool operator==(const TShow &) const = default;
};

struct TShowReading
{
    TShow Show;
    // The lines whose value is not the setting's, as "Key=value".
    std::vector<std::string> LeftOut;
    // Why the file could not be read at all; empty when it was.
    std::string Failure;
};

// Reads the show at `path` as far as it can be read. A path in it that does not
// begin with '/' is taken relative to the file's folder: that of the file a
// link leads to when `path` is a link. Such a path is left out when the file
// has no folder that can be named (a deleted file read through /dev/stdin).
TShowReading ReadShow(const std::string &path);

// What a write left out because a line of text cannot hold it (a line break in
// the name or value).
struct TShowUnsaved
{
    std::vector<std::string> Photos;   // their paths
    std::vector<std::string> Settings; // as "Key=value", the value as the show has it
};

// Writes the show to `path` (a new file beside it takes the name only when it
// is complete), without what no line can hold, which it returns. Raises
// forms::EFCreateError when the file cannot be written.
TShowUnsaved WriteShow(const std::string &path, const TShow &Show);

// Why a photo of a show cannot be taken as it stands, before it is read: "it
// is gone", "it is a folder", "it is not a plain file" (a device, a FIFO), "it
// cannot be read: REASON" (a file this user may not open, or in a folder it may
// not enter); "" for a plain file that opens. `gone`, when given, says whether
// it is gone or cannot be opened: both may come back (a disk mounted, a
// permission given), so a show keeps them.
std::string ShowPhotoProblem(const std::string &photo, bool *gone = nullptr);

// "The show "NAME" was opened without:" and what was left out, one a line (at
// most a dozen, then how many more).
std::string ShowLeftOutMessage(const std::string &Path, const std::vector<std::string> &LeftOut);

// "Cannot open the show "NAME": REASON".
std::string ShowFailureMessage(const std::string &Path, const std::string &Failure);

// The movie's choices that the show gives, over `movie`.
MovieOptions ShowMovieOptions(const TShow &Show, MovieOptions movie);
// Every movie choice of `movie` into the show.
void SetShowMovieOptions(TShow &Show, const MovieOptions &movie);

// The setting names of the file, as written.
const char *StandardName(int Standard);
const char *ResolutionName(int Resolution);

} // namespace quillon
