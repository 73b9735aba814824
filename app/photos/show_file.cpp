#include "app/photos/show_file.h"

#include "app/job/text_file.h"
#include "app/photos/listed_message.h"
#include "platform/forms/sysutils.h"
#include "platform/win32/files.h"
#include "platform/win32/ini.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

namespace quillon {

namespace {

constexpr const char *kShowSection = "Show";
constexpr const char *kPhotosSection = "Photos";
constexpr int kVersion = 1;

constexpr const char *kStandards[] = {"NTSC", "PAL"};
constexpr const char *kResolutions[] = {"High", "Medium", "Low"};

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string Lowered(std::string_view name)
{
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), LowerAscii);
    return lower;
}

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

// The file's bytes, as the stand-in reads input files: a FIFO or a device named
// like a show is refused, never waited for, and so is a file far larger than
// any show (one of a hundred thousand photos is a few megabytes).
std::optional<std::string> ReadWhole(const std::string &path, std::string &reason)
{
    std::optional<std::string> text = win32::ReadInputFile(path, &reason);
    if (!text && errno == EFBIG)
        reason = "it is too large to be a show";
    return text;
}

// Far more lines than a show of a hundred thousand photos has. Each section
// and key costs a hundred bytes and more as it is read and kept, so a file of
// millions of short lines would take gigabytes, many times its size.
constexpr std::size_t kMostLines = 1'000'000;

// How many lines of `text` hold a section or a key: lines neither blank nor a
// comment, the line breaks as the profile reader counts them.
std::size_t ContentLines(std::string_view text)
{
    std::size_t count = 0;
    bool lineStart = true; // nothing but blanks yet on this line
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            lineStart = true;
        } else if (lineStart && c != ' ' && c != '\t') {
            lineStart = false;
            count += c != ';';
        }
    }
    return count;
}

std::string FolderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

// `path` with every link resolved; nullopt when it cannot be.
std::optional<std::string> RealPathOf(const std::string &path)
{
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                           std::free);
    if (!real)
        return std::nullopt;
    return std::string(real.get());
}

// The folder that relative paths in the show read from `path` start from: the
// folder of the file itself. A link to the show (on the desktop, or /dev/stdin
// of a shell's "<") is resolved to the file it leads to. nullopt when the file
// has no folder that can be named (a deleted file still open on standard
// input): its relative paths would otherwise start from /dev or /proc.
std::optional<std::string> ShowFolderOf(const std::string &path)
{
    struct stat st
    {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return FolderOf(path);
    const std::optional<std::string> real = RealPathOf(path);
    if (!real || ::stat(real->c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FolderOf(*real);
}

// The folder that relative paths in the show written to `path` are kept
// from, so that reading takes them from the same one (ShowFolderOf): for a
// link that writing follows, the folder of the file it leads to.
std::string WrittenFolderOf(const std::string &path)
{
    const std::optional<std::string> file = win32::WrittenFile(path);
    if (!file || *file == path)
        return FolderOf(path);
    const std::string folder = FolderOf(*file);
    return RealPathOf(folder.empty() ? "." : folder).value_or(folder);
}

// nullopt for a relative path when there is no folder to take it from.
std::optional<std::string> Resolved(const std::optional<std::string> &folder,
                                    const std::string &value)
{
    if (value.empty() || value.front() == '/')
        return value;
    if (!folder)
        return std::nullopt;
    if (folder->empty())
        return value;
    return folder->back() == '/' ? *folder + value : *folder + "/" + value;
}

std::string NoFolderText(const std::string &key, const std::string &value)
{
    return key + "=" + value + " (a relative path in a show that has no folder of its own)";
}

// Relative to `folder` when the path lies inside it, without a way back up.
std::string Stored(const std::string &folder, const std::string &path)
{
    if (folder.empty() || !path.starts_with(folder + "/"))
        return path;
    std::string_view rest(path);
    rest.remove_prefix(folder.size());
    while (rest.starts_with('/'))
        rest.remove_prefix(1);
    if (rest.empty())
        return path;
    for (std::size_t start = 0; start <= rest.size();) {
        const std::size_t end = std::min(rest.find('/', start), rest.size());
        if (rest.substr(start, end - start) == "..")
            return path;
        start = end + 1;
    }
    return std::string(rest);
}

// The value as a line of the file keeps it: quoted when reading would
// otherwise trim or unquote it; nullopt when a line cannot hold it.
std::optional<std::string> Encoded(const std::string &value)
{
    if (value.find_first_of("\r\n") != std::string::npos)
        return std::nullopt;
    auto special = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
    if (!value.empty() && (special(value.front()) || special(value.back())))
        return "\"" + value + "\"";
    return value;
}

std::optional<int> NameIndex(const std::string &value, const char *const *names, int count)
{
    for (int i = 0; i < count; ++i)
        if (SameName(value, names[i]))
            return i;
    return std::nullopt;
}

// The number of a "<prefix><n>" key, such as "Photo12"; nullopt for another
// key. `tooLarge`, when given, says whether the key is one but its number does
// not fit.
std::optional<unsigned long long> KeyNumber(std::string_view key, std::string_view prefix,
                                            bool *tooLarge = nullptr)
{
    if (tooLarge)
        *tooLarge = false;
    if (key.size() <= prefix.size() || !SameName(key.substr(0, prefix.size()), prefix))
        return std::nullopt;
    const std::string_view digits = key.substr(prefix.size());
    unsigned long long number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (end != digits.data() + digits.size())
        return std::nullopt;
    if (error == std::errc::result_out_of_range && tooLarge)
        *tooLarge = true;
    if (error != std::errc())
        return std::nullopt;
    return number;
}

std::string TooLargeText(const std::string &key, const std::string &value)
{
    return key + "=" + value + " (a number too large)";
}

// An interval as the file gives it, a whole number, brought within bounds as
// leaving the box does: also one too large (or too far below zero) for a
// number of the framework.
std::optional<int> IntervalFromText(const std::string &text)
{
    constexpr int kFewest = 1, kMost = 65536;
    if (const auto interval = forms::TryStrToInt(text))
        return std::clamp(*interval, kFewest, kMost);
    std::string_view digits(text);
    const bool below = digits.starts_with('-');
    if (below || digits.starts_with('+'))
        digits.remove_prefix(1);
    if (digits.empty()
        || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return below ? kFewest : kMost;
}

void ReadSettings(const win32::ProfileSection &section, const std::optional<std::string> &folder,
                  TShowReading &reading)
{
    TShow &show = reading.Show;
    std::set<std::string> seen;                           // in lower case, as SameName compares
    std::map<unsigned long long, std::string> moreSounds; // the first of each number counts
    for (const auto &entry : section.keys) {
        bool tooLarge = false; // a "SoundFile<n>" whose number does not fit
        const std::string &key = entry.first;
        const std::string &value = entry.second;
        // The first of duplicate keys counts, as in every profile file.
        if (!seen.insert(Lowered(key)).second)
            continue;
        auto leaveOut = [&] { reading.LeftOut.push_back(key + "=" + value); };
        if (SameName(key, "Version")) {
            continue;
        } else if (SameName(key, "Standard")) {
            if (auto index = NameIndex(value, kStandards, 2))
                show.Standard = *index;
            else
                leaveOut();
        } else if (SameName(key, "Resolution")) {
            if (auto index = NameIndex(value, kResolutions, 3))
                show.Resolution = *index;
            else
                leaveOut();
        } else if (SameName(key, "Interval")) {
            if (auto interval = IntervalFromText(value))
                show.Interval = *interval;
            else
                leaveOut();
        } else if (value.find('\0') != std::string::npos) {
            // No name holds a NUL byte: what comes before it would name another.
            reading.LeftOut.push_back(key + " (a name with a NUL byte)");
        } else if (SameName(key, "OutputFolder")) {
            if (value.empty())
                continue;
            if (auto path = Resolved(folder, value))
                show.OutputFolder = std::move(*path);
            else
                reading.LeftOut.push_back(NoFolderText(key, value));
        } else if (SameName(key, "SoundFile")) {
            if (auto path = Resolved(folder, value))
                show.SoundFile = std::move(*path);
            else
                reading.LeftOut.push_back(NoFolderText(key, value));
        } else if (SameName(key, "Compressor")) {
            if (!value.empty())
                show.Compressor = value;
        } else if (const auto number = KeyNumber(key, "SoundFile", &tooLarge);
                   number && *number >= 2) {
            if (value.empty())
                continue;
            if (moreSounds.contains(*number))
                // Said, or the next save would drop the track unseen.
                reading.LeftOut.push_back(key + "=" + value
                                          + " (another sound track has that number)");
            else if (auto path = Resolved(folder, value))
                moreSounds.emplace(*number, std::move(*path));
            else
                reading.LeftOut.push_back(NoFolderText(key, value));
        } else if (SameName(key, "FrameSize")) {
            if (SameName(value, "standard"))
                show.Size = FrameSize{};
            else if (const auto size = FrameSizeFromText(value))
                show.Size = *size;
            else
                leaveOut();
        } else if (SameName(key, "FrameRate")) {
            const auto rate = forms::TryStrToInt(value);
            if (rate && IsOfferedFrameRate(*rate))
                show.FrameRate = *rate;
            else
                leaveOut();
        } else if (SameName(key, "Fit")) {
            if (const auto fit = FitFromWord(Lowered(value)))
                show.Fit = *fit;
            else
                leaveOut();
        } else if (SameName(key, "AutoRotate")) {
            if (value == "0" || value == "1")
                show.AutoRotate = value == "1";
            else
                leaveOut();
        } else if (SameName(key, "Container")) {
            if (const auto container = ContainerFromWord(Lowered(value)))
                show.Container = *container;
            else
                leaveOut();
        } else if (SameName(key, "SoundEnd")) {
            if (const auto end = SoundEndFromWord(Lowered(value)))
                show.SoundEnd = *end;
            else
                leaveOut();
        } else {
            // Kept and written back all the same.
            if (tooLarge && !value.empty())
                reading.LeftOut.push_back(TooLargeText(key, value));
            show.Kept.push_back({section.name, key, value});
        }
    }
    for (auto &[number, path] : moreSounds)
        show.MoreSoundFiles.push_back(std::move(path));
    if (!show.SoundFile && !show.MoreSoundFiles.empty()) {
        // Further tracks without a first one: kept as the file gives them.
        for (const std::string &path : show.MoreSoundFiles)
            reading.LeftOut.push_back("SoundFile=" + path + " (no first sound track)");
        show.MoreSoundFiles.clear();
    }
}

void ReadPhotos(const win32::ProfileSection &section, const std::optional<std::string> &folder,
                TShowReading &reading)
{
    TShow &show = reading.Show;
    std::map<unsigned long long, std::string> photos; // the first of each number counts
    for (const auto &[key, value] : section.keys) {
        bool tooLarge = false;
        if (const auto number = KeyNumber(key, "Photo", &tooLarge)) {
            if (value.find('\0') != std::string::npos)
                reading.LeftOut.push_back(key + " (a name with a NUL byte)");
            else if (value.empty())
                continue;
            else if (photos.contains(*number))
                // Said, or the next save would drop the photo unseen.
                reading.LeftOut.push_back(key + "=" + value + " (another photo has that number)");
            else if (auto path = Resolved(folder, value))
                photos.emplace(*number, std::move(*path));
            else
                reading.LeftOut.push_back(NoFolderText(key, value));
        } else {
            // Kept and written back all the same.
            if (tooLarge && !value.empty())
                reading.LeftOut.push_back(TooLargeText(key, value));
            show.Kept.push_back({section.name, key, value});
        }
    }
    for (auto &[number, path] : photos)
        show.Photos.push_back(std::move(path));
}

} // namespace

std::string ShowPhotoProblem(const std::string &photo, bool *gone)
{
    struct stat st
    {};
    const bool missing = ::stat(photo.c_str(), &st) != 0;
    if (gone)
        *gone = missing;
    if (missing)
        // Only a name that leads nowhere is gone. A folder on the way that
        // this user may not enter, a name too long to open or a loop of links
        // hides the photo without its being gone.
        return errno == ENOENT || errno == ENOTDIR
                   ? "it is gone"
                   : std::string("it cannot be read: ") + std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "it is a folder";
    if (!S_ISREG(st.st_mode))
        return "it is not a plain file";
    const int fd = ::open(photo.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (gone)
            *gone = true;
        return std::string("it cannot be read: ") + std::strerror(error);
    }
    ::close(fd);
    return {};
}

std::string ShowLeftOutMessage(const std::string &Path, const std::vector<std::string> &LeftOut)
{
    return ListedMessage("The show \"" + NameOf(Path) + "\" was opened without:", LeftOut);
}

std::string ShowFailureMessage(const std::string &Path, const std::string &Failure)
{
    return "Cannot open the show \"" + NameOf(Path) + "\": " + Failure;
}

MovieOptions ShowMovieOptions(const TShow &Show, MovieOptions movie)
{
    if (Show.SoundFile)
        movie.moreSoundFiles = Show.MoreSoundFiles;
    if (Show.Size) {
        movie.width = Show.Size->width;
        movie.height = Show.Size->height;
    }
    if (Show.FrameRate)
        movie.framesPerSecond = *Show.FrameRate;
    if (Show.Fit)
        movie.fit = *Show.Fit;
    if (Show.AutoRotate)
        movie.autoRotate = *Show.AutoRotate;
    if (Show.Container)
        movie.container = *Show.Container;
    if (Show.SoundEnd)
        movie.soundEnd = *Show.SoundEnd;
    return movie;
}

void SetShowMovieOptions(TShow &Show, const MovieOptions &movie)
{
    Show.MoreSoundFiles = movie.moreSoundFiles;
    Show.Size = FrameSize{movie.width, movie.height};
    Show.FrameRate = movie.framesPerSecond;
    Show.Fit = movie.fit;
    Show.AutoRotate = movie.autoRotate;
    Show.Container = movie.container;
    Show.SoundEnd = movie.soundEnd;
}

const char *StandardName(int Standard)
{
    return kStandards[Standard == 0 ? 0 : 1];
}

const char *ResolutionName(int Resolution)
{
    return kResolutions[Resolution >= 0 && Resolution <= 2 ? Resolution : 0];
}

TShowReading ReadShow(const std::string &path)
{
    TShowReading reading;
    std::string reason;
    const std::optional<std::string> text = ReadWhole(path, reason);
    if (!text) {
        reading.Failure = reason;
        return reading;
    }
    if (ContentLines(*text) > kMostLines) {
        reading.Failure
            = "it has more than " + std::to_string(kMostLines) + " lines, too many for a show";
        return reading;
    }
    const std::vector<win32::ProfileSection> sections = win32::ParseProfile(*text);
    const auto isShow = [](const win32::ProfileSection &s) {
        return SameName(s.name, kShowSection) || SameName(s.name, kPhotosSection);
    };
    if (std::none_of(sections.begin(), sections.end(), isShow)) {
        reading.Failure = "it holds no [Show] and no [Photos] section";
        return reading;
    }
    const std::optional<std::string> folder = ShowFolderOf(path);
    // Unlike a profile file's later sections of the same name, a show's continue
    // the first: one added by hand at the end adds to the show, and a save
    // keeps it. The settings of all are read as one section (the first of
    // duplicate keys counts), where the first stands; the photos of each
    // follow those of the one before.
    std::vector<const win32::ProfileSection *> settings;
    for (const win32::ProfileSection &section : sections)
        if (SameName(section.name, kShowSection))
            settings.push_back(&section);
    for (const win32::ProfileSection &section : sections) {
        if (!settings.empty() && &section == settings.front()) {
            win32::ProfileSection all{section.name, {}};
            for (const win32::ProfileSection *more : settings)
                all.keys.insert(all.keys.end(), more->keys.begin(), more->keys.end());
            ReadSettings(all, folder, reading);
        } else if (SameName(section.name, kPhotosSection)) {
            ReadPhotos(section, folder, reading);
        } else if (!isShow(section)) {
            for (const auto &[key, value] : section.keys)
                reading.Show.Kept.push_back({section.name, key, value});
        }
    }
    return reading;
}

TShowUnsaved WriteShow(const std::string &path, const TShow &Show)
{
    const std::string folder = WrittenFolderOf(path);
    TShowUnsaved leftOut;
    std::string text = "; A Quillon show: its photos in slide order and the movie's settings.\r\n"
                       "; Paths not beginning with \"/\" are relative to this file's folder.\r\n";
    // `shown` is the value as the show holds it, for a path the whole path.
    auto line = [&](const std::string &key, const std::string &value,
                    const std::string *shown = nullptr) {
        if (const auto encoded = Encoded(value))
            text += key + "=" + *encoded + "\r\n";
        else
            leftOut.Settings.push_back(key + "=" + (shown ? *shown : value));
    };
    // The kept keys by section, the sections in the order they first come.
    std::vector<std::pair<std::string, std::vector<const TShow::TKept *>>> sections;
    std::map<std::string, std::size_t> sectionAt; // by the section's name in lower case
    for (const TShow::TKept &k : Show.Kept) {
        const auto [at, added] = sectionAt.emplace(Lowered(k.Section), sections.size());
        if (added)
            sections.push_back({k.Section, {}});
        sections[at->second].second.push_back(&k);
    }
    auto kept = [&](std::string_view section) {
        if (const auto at = sectionAt.find(Lowered(section)); at != sectionAt.end())
            for (const TShow::TKept *k : sections[at->second].second)
                line(k->Key, k->Value);
    };

    text += "[" + std::string(kShowSection) + "]\r\n";
    line("Version", std::to_string(kVersion));
    if (Show.Standard)
        line("Standard", StandardName(*Show.Standard));
    if (Show.Resolution)
        line("Resolution", ResolutionName(*Show.Resolution));
    if (Show.Interval)
        line("Interval", std::to_string(*Show.Interval));
    if (Show.OutputFolder)
        line("OutputFolder", Stored(folder, *Show.OutputFolder), &*Show.OutputFolder);
    if (Show.SoundFile)
        line("SoundFile", Stored(folder, *Show.SoundFile), &*Show.SoundFile);
    if (Show.Compressor)
        line("Compressor", *Show.Compressor);
    if (Show.SoundFile)
        for (std::size_t i = 0; i < Show.MoreSoundFiles.size(); ++i)
            line("SoundFile" + std::to_string(i + 2), Stored(folder, Show.MoreSoundFiles[i]),
                 &Show.MoreSoundFiles[i]);
    if (Show.Size)
        line("FrameSize", Show.Size->width > 0 ? FrameSizeText(*Show.Size) : "standard");
    if (Show.FrameRate)
        line("FrameRate", std::to_string(*Show.FrameRate));
    if (Show.Fit)
        line("Fit", FitWord(*Show.Fit));
    if (Show.AutoRotate)
        line("AutoRotate", *Show.AutoRotate ? "1" : "0");
    if (Show.Container)
        line("Container", ContainerExtension(*Show.Container));
    if (Show.SoundEnd)
        line("SoundEnd", SoundEndWord(*Show.SoundEnd));
    kept(kShowSection);

    text += "\r\n[" + std::string(kPhotosSection) + "]\r\n";
    std::size_t number = 0;
    for (const std::string &photo : Show.Photos) {
        if (!Encoded(photo)) {
            leftOut.Photos.push_back(photo);
            continue;
        }
        line("Photo" + std::to_string(++number), Stored(folder, photo));
    }
    kept(kPhotosSection);

    for (const auto &[section, keys] : sections) {
        if (SameName(section, kShowSection) || SameName(section, kPhotosSection))
            continue;
        text += "\r\n[" + section + "]\r\n";
        for (const TShow::TKept *k : keys)
            line(k->Key, k->Value);
    }
    // A show is a document like any other: a new one is made as the umask says.
    SaveTextFile(path, text, 0666);
    return leftOut;
}

} // namespace quillon
