// Feeds arbitrary bytes to the show reader as a show file, and holds it to its
// rules: it never fails on what it reads, and what it read survives a save and
// an open unchanged (after the one save that puts paths into their stored form:
// a path inside the show's folder is kept relative to it).
#include "fuzz_support.h"
#include <algorithm>

#include "app/photos/show_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool same(const quillon::TShow &a, const quillon::TShow &b)
{
    if (a.Photos != b.Photos || a.Standard != b.Standard || a.Resolution != b.Resolution
        || a.Interval != b.Interval || a.OutputFolder != b.OutputFolder
        || a.SoundFile != b.SoundFile || a.Compressor != b.Compressor
        || a.Kept.size() != b.Kept.size())
        return false;
    for (std::size_t i = 0; i < a.Kept.size(); ++i)
        if (a.Kept[i].Section != b.Kept[i].Section || a.Kept[i].Key != b.Kept[i].Key
            || a.Kept[i].Value != b.Kept[i].Value)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = fuzzsupport::WriteScratchFile("fuzz.qshow", data, size);
    const quillon::TShowReading first = quillon::ReadShow(path);
    if (!first.Failure.empty())
        return 0;
    if (first.Show.Interval)
        FUZZ_CHECK(*first.Show.Interval >= 1 && *first.Show.Interval <= 65536);

    const std::string again = fuzzsupport::ScratchFolder() + "again.qshow";
    const quillon::TShowUnsaved unsaved = quillon::WriteShow(again, first.Show);
    FUZZ_CHECK(unsaved.Photos.empty() && unsaved.Settings.empty()); // a line holds what was read
    const quillon::TShowReading second = quillon::ReadShow(again);
    FUZZ_CHECK(second.Failure.empty());
    // Only what the first reading left out is left out again: a line it could
    // not take (a photo number too large) is kept in the file, not lost.
    for (const std::string &line : second.LeftOut)
        FUZZ_CHECK(std::find(first.LeftOut.begin(), first.LeftOut.end(), line)
                   != first.LeftOut.end());
    quillon::WriteShow(again, second.Show);
    const quillon::TShowReading third = quillon::ReadShow(again);
    FUZZ_CHECK(same(second.Show, third.Show));
    FUZZ_CHECK(second.Show.Photos.size() == first.Show.Photos.size());
    return 0;
}
