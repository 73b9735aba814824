// The filters the graph and the builders make.
#pragma once

#include "platform/avs/avs.h"
#include "platform/media/compressors.h"
#include "platform/media/detail/filter.h"

#include <string>

namespace media::detail {

// The source that fits the file: the script engine for ".avs", else an audio
// source when libavformat finds an audio stream in it.
HRESULT OpenSourceFilter(const std::string &path, ComPtr<BaseFilter> *filter, std::string *reason);

// The source of an open clip (what a ".avs" file becomes): one video output
// pin, 24-bit RGB at the clip's size and rate.
ComPtr<BaseFilter> MakeClipSource(avs::PClip clip);

// Converts pictures between formats; pin 0 is its input, pin 1 its output.
ComPtr<BaseFilter> MakeColourConverter();

// The multiplexer of a kind of movie file: pin 0 is its output, then its inputs.
ComPtr<BaseFilter> MakeMux(Container container);

// The sound track (ISoundTrack): one output pin of decoded sound.
ComPtr<BaseFilter> MakeSoundTrack();

// Codes decoded sound in `codec`; pin 0 is its input, pin 1 its output. Null
// when this FFmpeg has no encoder for it.
ComPtr<BaseFilter> MakeAudioEncoder(AVCodecID codec);

// Writes what the multiplexer makes to `path` (UTF-16); implements
// IFileSinkFilter. Pin 0 is its input.
ComPtr<BaseFilter> MakeFileWriter(const std::u16string &path);

// The compressor of a category entry, with the entry's settings as they are now.
ComPtr<BaseFilter> MakeCompressor(const CompressorEntry &entry);

} // namespace media::detail
