// Opening a photo or a sound file with FFmpeg's demuxers, so that the file is
// read alone.
#pragma once

struct AVFormatContext;

namespace avs {

// avformat_open_input with every demuxer FFmpeg has but those that open other
// files or the network on the say of what they read: playlists, concatenation
// scripts, manifests and session descriptions. A file that is one of those
// (a "song" that is a playlist naming some other file of the user's, say) is
// refused, not followed. `url` "" with the context's own reader set, as
// avformat_open_input takes it. FFmpeg's result; on failure the context is
// freed.
int OpenInputAlone(AVFormatContext **context, const char *url);

} // namespace avs
