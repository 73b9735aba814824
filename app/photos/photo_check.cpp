#include "app/photos/photo_check.h"

#include "platform/avs/avs.h"
#include "platform/avs/picture.h"
#include "platform/jpeg/jpeg.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

namespace quillon {

namespace {

// Takes every row and keeps none.
class NoSink : public avs::picture::Sink
{
public:
    void begin(int, int) override {}
    void row(int, const std::uint8_t *) override {}
};

std::string Refusal(const std::string &path, bool Upright)
{
    switch (PhotoKindOf(path)) {
    case TPhotoKind::Jpeg: {
        // What MakeJpegThumbnail meets: the header, the size the movie reads
        // (upright as the list asks), then every byte of the data, here decoded
        // as stored to the smallest scale.
        jpeg::Decoder decoder(path);
        decoder.setUpright(Upright);
        avs::picture::CheckSize(path, decoder.outputWidth(), decoder.outputHeight());
        decoder.setUpright(false);
        decoder.setMinimumOutputSize(1, 1);
        decoder.decode([](int, const std::uint8_t *) {});
        return {};
    }
    case TPhotoKind::Bitmap: {
        // The refusal says what is wrong; FFmpeg's own words on a damaged
        // bitmap would only clutter the terminal, and the movie's graph keeps
        // them quiet too. A host that chose a log level of its own keeps it.
        static std::once_flag quiet;
        std::call_once(quiet, [] {
            if (av_log_get_level() == AV_LOG_INFO)
                av_log_set_level(AV_LOG_QUIET);
        });
        // Read whole, as the list reads it: it waits for its share of the
        // budget that whole pictures share, so that several checks at once
        // hold no more than the list's thumbnail makers would.
        jpeg::WholePictureShare share;
        if (const long long pixels = avs::picture::CheckClaimedSize(path); pixels > 0)
            share.take(static_cast<std::size_t>(pixels) * 4);
        const avs::picture::Info info = avs::picture::ReadInfo(path, false);
        // The list's reader takes a bitmap and nothing else under that name.
        if (info.format != avs::picture::Format::Bmp)
            return "Cannot read the picture \"" + path + "\": Bitmap image is not valid";
        NoSink none;
        avs::picture::Decode(path, info, 0, 0, none);
        return {};
    }
    case TPhotoKind::Unread:
        break;
    }
    return {};
}

} // namespace

TPhotoKind PhotoKindOf(const std::string &path)
{
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.')
        return TPhotoKind::Unread;
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return extension == ".jpg"   ? TPhotoKind::Jpeg
           : extension == ".bmp" ? TPhotoKind::Bitmap
                                 : TPhotoKind::Unread;
}

std::string PhotoListRefusal(const std::string &path, bool Upright)
{
    try {
        return Refusal(path, Upright);
    } catch (const std::exception &e) {
        // As the list's add leaves out a photo whatever its read raised.
        return e.what();
    }
}

std::vector<std::string> PhotoListRefusals(const std::vector<std::string> &paths, bool Upright,
                                           unsigned threads)
{
    std::vector<std::string> refusals(paths.size());
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, paths.size()));
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < paths.size();)
            refusals[i] = PhotoListRefusal(paths[i], Upright);
    };
    std::vector<std::thread> workers;
    for (unsigned i = 1; i < threads; ++i) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error &) {
            break; // at the user's limit of processes: fewer do it
        }
    }
    work();
    for (std::thread &worker : workers)
        worker.join();
    return refusals;
}

} // namespace quillon
