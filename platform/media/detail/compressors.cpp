#include "platform/media/compressors.h"

#include "platform/media/detail/recipes.h"
#include "platform/win32/files.h"
#include "platform/win32/ini.h"
#include "platform/win32/shell.h"
#include "platform/win32/tempfolder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace media {

namespace detail {

namespace {

constexpr std::uint32_t Fourcc(const char (&text)[5])
{
    return std::uint32_t(std::uint8_t(text[0])) | std::uint32_t(std::uint8_t(text[1])) << 8
           | std::uint32_t(std::uint8_t(text[2])) << 16
           | std::uint32_t(std::uint8_t(text[3])) << 24;
}

// The category in its fixed order; entries are only ever appended, so that a
// position keeps naming the same compressor. The MPEG-4 entry's name carries
// "DivX? 5", the text by which the program recognises the compressor it
// prefers. MP4 and WebM take what browsers and players expect there; Matroska
// what it names as its own, not what it keeps as an AVI stream, whose pictures
// lose their times in GStreamer (a held picture would end early there).
constexpr unsigned kMpeg4Family = kInAvi | kInMp4 | kInMatroska;
constexpr unsigned kModern = kInMp4 | kInMatroska;
const Recipe kRecipes[] = {
    {"DivX? 5 compatible MPEG-4 Codec", "mpeg4", Fourcc("DX50"), AV_PIX_FMT_YUV420P,
     QualityScale::Quantiser, KeyFrames::GopSize, KeyFrameForcing::PictureType, 95, 250,
     kMpeg4Family},
    {"Xvid MPEG-4 Codec", "libxvid", Fourcc("XVID"), AV_PIX_FMT_YUV420P, QualityScale::Quantiser,
     KeyFrames::GopSize, KeyFrameForcing::PictureType, 95, 250, kMpeg4Family},
    {"H.264 Codec (x264)", "libx264", Fourcc("H264"), AV_PIX_FMT_YUV420P, QualityScale::RateFactor,
     KeyFrames::GopSize, KeyFrameForcing::PictureType, 61, 250, kMpeg4Family},
    {"Motion JPEG Codec", "mjpeg", Fourcc("MJPG"), AV_PIX_FMT_YUVJ420P, QualityScale::Quantiser,
     KeyFrames::None, KeyFrameForcing::PictureType, 95, 1, kInAvi | kInMatroska},
    {"Huffyuv Lossless Codec", "huffyuv", Fourcc("HFYU"), AV_PIX_FMT_YUV422P, QualityScale::None,
     KeyFrames::None, KeyFrameForcing::PictureType, 100, 1, kInAvi},
    {"FFV1 Lossless Codec", "ffv1", Fourcc("FFV1"), AV_PIX_FMT_YUV420P, QualityScale::None,
     KeyFrames::GopSize, KeyFrameForcing::FreshEncoder, 100, 250, kInAvi},
    {"Microsoft Video 1 compatible Codec", "msvideo1", Fourcc("MSVC"), AV_PIX_FMT_RGB555LE,
     QualityScale::None, KeyFrames::KeyIntMin, KeyFrameForcing::FreshEncoder, 100, 250, kInAvi},
    {"Cinepak compatible Codec", "cinepak", Fourcc("cvid"), AV_PIX_FMT_RGB24, QualityScale::None,
     KeyFrames::KeyIntMin, KeyFrameForcing::FreshEncoder, 100, 250, kInAvi},
    {"Uncompressed RGB (Full Frames)", "rawvideo", 0, AV_PIX_FMT_BGR24, QualityScale::None,
     KeyFrames::None, KeyFrameForcing::PictureType, 100, 1, kInAvi},
    // Rate factor 23, 31 and 35: about the quality of the H.264 entry's 20.
    {"H.265 Codec (x265)", "libx265", Fourcc("HEVC"), AV_PIX_FMT_YUV420P, QualityScale::RateFactor,
     KeyFrames::GopSize, KeyFrameForcing::PictureType, 55, 250, kModern},
    {"VP9 Codec (libvpx)", "libvpx-vp9", Fourcc("VP90"), AV_PIX_FMT_YUV420P,
     QualityScale::RateFactor63, KeyFrames::GopSize, KeyFrameForcing::PictureType, 51, 250,
     kModern | kInWebM},
    // This SVT-AV1 takes no key frame wish with a picture.
    {"AV1 Codec (SVT-AV1)", "libsvtav1", Fourcc("AV01"), AV_PIX_FMT_YUV420P,
     QualityScale::RateFactor63, KeyFrames::GopSize, KeyFrameForcing::FreshEncoder, 44, 250,
     kModern | kInWebM},
};

bool EncoderTakes(const AVCodec *codec, AVPixelFormat format)
{
    if (!codec)
        return false;
    if (!codec->pix_fmts)
        return true;
    for (const AVPixelFormat *f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == format)
            return true;
    return false;
}

} // namespace

const Recipe *RecipeFor(const CompressorEntry &entry)
{
    for (const Recipe &r : kRecipes)
        if (entry.key == r.encoder)
            return &r;
    return nullptr;
}

int QuantiserFor(int quality)
{
    quality = std::clamp(quality, 0, 100);
    return 1 + ((100 - quality) * 30 + 50) / 100;
}

int RateFactorFor(int quality)
{
    quality = std::clamp(quality, 0, 100);
    return ((100 - quality) * 51 + 50) / 100;
}

int RateFactor63For(int quality)
{
    quality = std::clamp(quality, 0, 100);
    return ((100 - quality) * 63 + 50) / 100;
}

} // namespace detail

const std::vector<CompressorEntry> &VideoCompressorCategory()
{
    static const std::vector<CompressorEntry> category = [] {
        std::vector<CompressorEntry> entries;
        for (const detail::Recipe &r : detail::kRecipes) {
            if (!detail::EncoderTakes(avcodec_find_encoder_by_name(r.encoder), r.pixelFormat))
                continue;
            CompressorEntry e;
            e.friendlyName = r.friendlyName;
            e.key = r.encoder;
            e.fourcc = r.fourcc;
            e.hasQuality = r.quality != detail::QualityScale::None;
            e.hasKeyFrames = r.keyFrames != detail::KeyFrames::None;
            e.defaultQuality = r.defaultQuality;
            e.defaultKeyFrameInterval = r.defaultKeyFrameInterval;
            entries.push_back(std::move(e));
        }
        return entries;
    }();
    return category;
}

std::string CompressorSettingsPath()
{
    std::string base;
    // The XDG rule: only an absolute path counts.
    if (const char *config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        base = config;
    else
        base = win32::GetHomeFolder() + "/.config";
    if (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/quillon/compressors.ini";
}

CompressorSettings ReadCompressorSettings(const CompressorEntry &entry)
{
    const std::string path = CompressorSettingsPath();
    CompressorSettings s;
    s.quality = entry.defaultQuality;
    s.keyFrameInterval = entry.defaultKeyFrameInterval;
    if (entry.hasQuality)
        s.quality = std::clamp(
            win32::GetPrivateProfileIntA(entry.key, "Quality", entry.defaultQuality, path), 0, 100);
    if (entry.hasKeyFrames)
        s.keyFrameInterval
            = std::clamp(win32::GetPrivateProfileIntA(entry.key, "KeyFrameInterval",
                                                      entry.defaultKeyFrameInterval, path),
                         1, kMaxKeyFrameInterval);
    s.encodeEveryFrame = win32::GetPrivateProfileIntA(entry.key, "EncodeEveryFrame", 0, path) != 0;
    return s;
}

void SetEncodeEveryFrameForAll(bool on)
{
    // Held by the shared Win32 layer, so that the renderer's copy of this
    // library reads what a tool's copy set.
    for (const CompressorEntry &entry : VideoCompressorCategory())
        win32::SetPrivateProfileOverride(entry.key, "EncodeEveryFrame",
                                         on ? std::optional<std::string>("1") : std::nullopt,
                                         CompressorSettingsPath());
}

bool WriteCompressorSettings(const CompressorEntry &entry, const CompressorSettings &settings,
                             const CompressorSettings *before)
{
    const std::string path = CompressorSettingsPath();
    const std::string folder = path.substr(0, path.rfind('/'));
    if (!win32::ForceDirectories(folder))
        return false;
    // Each write reads the file and writes it back whole: two programs saving
    // at once would lose one's change. They take turns under the folder's
    // lock; one held for seconds (a program stopped while it saves) is not
    // waited for without end.
    win32::FolderLock turn;
    for (int tries = 0; tries < 300 && turn.TryLock(folder) == win32::FolderLock::Result::Busy;
         ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto quality = [](const CompressorSettings &s) { return std::clamp(s.quality, 0, 100); };
    const auto interval = [](const CompressorSettings &s) {
        return std::clamp(s.keyFrameInterval, 1, kMaxKeyFrameInterval);
    };
    std::vector<win32::ProfileKey> keys;
    if (!before || quality(*before) != quality(settings))
        keys.push_back({"Quality", std::to_string(quality(settings))});
    if (!before || interval(*before) != interval(settings))
        keys.push_back({"KeyFrameInterval", std::to_string(interval(settings))});
    if (!before || before->encodeEveryFrame != settings.encodeEveryFrame)
        keys.push_back({"EncodeEveryFrame", settings.encodeEveryFrame ? "1" : "0"});
    // In one write, so that a failure leaves the old settings whole.
    return win32::WritePrivateProfileKeysA(entry.key, keys, path);
}

const char *ContainerName(Container container)
{
    switch (container) {
    case Container::Avi:
        return "AVI";
    case Container::Mp4:
        return "MP4";
    case Container::Matroska:
        return "Matroska";
    case Container::WebM:
        return "WebM";
    }
    return "AVI";
}

bool ContainerCarries(Container container, const CompressorEntry &entry)
{
    const detail::Recipe *recipe = detail::RecipeFor(entry);
    return recipe && (recipe->containers & (1u << static_cast<int>(container))) != 0;
}

std::string ContainerRefusal(Container container, const CompressorEntry &entry)
{
    if (ContainerCarries(container, entry))
        return {};
    std::vector<std::string> taken;
    for (const CompressorEntry &e : VideoCompressorCategory())
        if (ContainerCarries(container, e))
            taken.push_back(e.friendlyName);
    std::string list;
    for (std::size_t i = 0; i < taken.size(); ++i)
        list += (i == 0 ? "" : i + 1 == taken.size() ? " and " : ", ") + taken[i];
    return std::string(ContainerName(container)) + " movies cannot carry the video compressor \""
           + entry.friendlyName + "\"; they take "
           + (list.empty() ? std::string("none of this machine's") : list) + ".";
}

int UsualCompressorIndex(Container container, const std::vector<std::string> &names)
{
    const std::vector<CompressorEntry> &category = VideoCompressorCategory();
    auto carried = [&](std::size_t i) {
        return i < category.size() && ContainerCarries(container, category[i]);
    };
    const char *usual = container == Container::Avi    ? "DivX? 5"
                        : container == Container::WebM ? "VP9"
                                                       : "H.264";
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].find(usual) != std::string::npos && carried(i))
            return static_cast<int>(i);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (carried(i))
            return static_cast<int>(i);
    return -1;
}

std::string FourccText(std::uint32_t fourcc)
{
    if (!fourcc)
        return {};
    std::string text;
    for (int i = 0; i < 4; ++i)
        text.push_back(static_cast<char>((fourcc >> (8 * i)) & 0xFF));
    return text;
}

} // namespace media
