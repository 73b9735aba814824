#include "platform/avs/demuxers.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace avs {

namespace {

// The demuxers that open what the file names: HLS and DASH playlists, IMF
// compositions, concatenation scripts, session descriptions (which listen on
// the network), the streaming protocols' own, and numbered picture sequences.
constexpr std::array<std::string_view, 9> kFollowingDemuxers = {
    "concat", "dash", "hls", "imf", "sdp", "rtp", "rtsp", "sap", "image2",
};

const std::string &readAloneDemuxers()
{
    static const std::string list = [] {
        std::string names;
        void *state = nullptr;
        while (const AVInputFormat *format = av_demuxer_iterate(&state)) {
            const std::string_view name = format->name;
            if (std::find(kFollowingDemuxers.begin(), kFollowingDemuxers.end(), name)
                != kFollowingDemuxers.end())
                continue;
            if (!names.empty())
                names += ',';
            names += name; // "mov,mp4,m4a,..." stands as several names, as FFmpeg reads it
        }
        return names;
    }();
    return list;
}

} // namespace

int OpenInputAlone(AVFormatContext **context, const char *url)
{
    AVDictionary *options = nullptr;
    int ret = av_dict_set(&options, "format_whitelist", readAloneDemuxers().c_str(), 0);
    if (ret >= 0)
        ret = avformat_open_input(context, url, nullptr, &options);
    else
        avformat_close_input(context);
    av_dict_free(&options);
    return ret;
}

} // namespace avs
