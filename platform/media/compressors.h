// The video compressor category: FFmpeg encoders in one fixed order, each listed
// only when the FFmpeg on this machine has it. The
// system device enumerator (CLSID_VideoCompressorCategory) lists exactly these,
// so a position means the same compressor for the renderer and for the
// compressor list.
//
// Each entry's settings live in a per-user file, read when the compressor's
// moniker is bound: $XDG_CONFIG_HOME (else ~/.config), then
// quillon/compressors.ini, one section per entry named by its `key`, with the
// keys "Quality" (0..100, 100 best), "KeyFrameInterval" (frames) and
// "EncodeEveryFrame" (0 or 1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace media {

struct CompressorEntry
{
    std::string friendlyName; // unique, at most 254 bytes
    std::string key;          // the FFmpeg encoder's name; the settings section
    std::uint32_t fourcc = 0; // as stored in the AVI stream header; 0 for plain RGB
    bool hasQuality = false;  // lossless entries have none
    bool hasKeyFrames = false;
    int defaultQuality = 0;
    int defaultKeyFrameInterval = 0;
};

struct CompressorSettings
{
    int quality = 0;          // 0..100
    int keyFrameInterval = 0; // 1..kMaxKeyFrameInterval frames; 1: every frame is a key frame
    // A frame that shows the same picture as the one before is normally stored as
    // an empty chunk that players take as "show the last picture again"; this
    // makes the compressor code it as a picture of its own, for players that
    // cannot take empty chunks.
    bool encodeEveryFrame = false;
};

inline constexpr int kMaxKeyFrameInterval = 600;

// The kinds of movie file the multiplexer writes.
enum class Container { Avi, Mp4, Matroska, WebM };

// "AVI", "MP4", "Matroska" or "WebM".
const char *ContainerName(Container container);

// Whether a movie of that kind carries the entry's pictures so that common
// players show them.
bool ContainerCarries(Container container, const CompressorEntry &entry);

// Why a movie of that kind cannot carry the entry's pictures, for the user,
// naming both and the compressors that it takes; "" when it can.
std::string ContainerRefusal(Container container, const CompressorEntry &entry);

// The entry a movie of that kind gets when no compressor is named, by its
// position in `names` (the category's names, as the compressor list gives
// them): the first whose name contains "DivX? 5" for AVI, "H.264" for MP4 and
// Matroska or "VP9" for WebM and that the container carries; else the first it
// carries; -1 when it carries none.
int UsualCompressorIndex(Container container, const std::vector<std::string> &names);

// The entries available on this machine, in the category's order.
const std::vector<CompressorEntry> &VideoCompressorCategory();

// The per-user settings file (the folder may not exist yet).
std::string CompressorSettingsPath();

// The entry's settings from the file, each missing or unusable value replaced by
// the entry's default and each value brought into its range.
CompressorSettings ReadCompressorSettings(const CompressorEntry &entry);

// For the rest of this process (or until called with false) every compressor
// encodes every frame, whatever the settings file says; the file itself is left
// alone. The settings file's path is taken as it is now.
void SetEncodeEveryFrameForAll(bool on);

// Writes the entry's settings, creating the folder and the file when missing;
// with `before` (what a dialog showed), only those that differ from it, so that
// what another program saved meanwhile stays. False when they cannot be
// written (errno tells why).
bool WriteCompressorSettings(const CompressorEntry &entry, const CompressorSettings &settings,
                             const CompressorSettings *before = nullptr);

// A FourCC as its four characters ("DX50"); "" for 0.
std::string FourccText(std::uint32_t fourcc);

} // namespace media
