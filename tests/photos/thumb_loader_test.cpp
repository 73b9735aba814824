// The thumbnails made on worker threads: the same pictures and the same errors
// as writing FileName on the GUI thread, handed out in the list's order.
#include "app/photos/PhotoThumbPanel.h"
#include "app/photos/thumb_loader.h"
#include "platform/forms/errors.h"

#include "pictures.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <thread>

using namespace quillon;

namespace {

// Takes every result, waiting for the loader's wake-ups.
std::vector<ThumbLoader::Result> TakeAll(std::function<std::vector<std::string>()> source,
                                         unsigned threads)
{
    std::mutex mutex;
    std::condition_variable woken;
    int wakes = 0;
    ThumbLoader loader(
        std::move(source),
        [&] {
            std::lock_guard lock(mutex);
            ++wakes;
            woken.notify_all();
        },
        threads);
    std::vector<ThumbLoader::Result> results;
    while (!loader.Done()) {
        while (auto next = loader.TakeNext())
            results.push_back(std::move(*next));
        std::unique_lock lock(mutex);
        woken.wait_for(lock, std::chrono::milliseconds(50), [&] { return wakes > 0; });
        wakes = 0;
    }
    return results;
}

} // namespace

TEST(ThumbLoader, SamePicturesAndErrorsAsWritingFileNameInListOrder)
{
    testsupport::TempDir dir;
    using testsupport::Gradient;
    // The big one first, so that the small ones after it are made before it.
    testsupport::WriteJpeg(dir.file("big.jpg"), 2000, 1500, Gradient(1));
    testsupport::WriteBmp24(dir.file("b.Bmp"), 300, 201, Gradient(2));
    testsupport::WriteJpeg(dir.file("small.JPG"), 64, 48, Gradient(3));
    testsupport::WriteJpeg(dir.file("e.jpeg"), 640, 480, Gradient(4));
    testsupport::WriteFile(dir.file("broken.jpg"), "no JPEG");
    testsupport::WriteFile(dir.file("broken.bmp"), "BM no bitmap");
    // Neither may wait for a writer that never comes.
    ASSERT_EQ(::mkfifo(dir.file("pipe.jpg").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir.file("pipe.bmp").c_str(), 0600), 0);
    std::vector<std::string> paths;
    for (const char *name : {"big.jpg", "b.Bmp", "small.JPG", "e.jpeg", "broken.jpg", "gone.jpg",
                             "broken.bmp", "pipe.jpg", "pipe.bmp", "small.JPG"})
        paths.push_back(dir.file(name));

    const std::vector<ThumbLoader::Result> results = TakeAll([paths] { return paths; }, 4);
    ASSERT_EQ(results.size(), paths.size());
    TThumbItems items(forms::ItemClassOf<TThumbItem>());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const ThumbLoader::Result &result = results[i];
        EXPECT_EQ(result.Path, paths[i]);
        TThumbItem *item = items.Add();
        try {
            item->SetFileName(paths[i]);
            ASSERT_FALSE(result.Error) << forms::MessageOf(result.Error);
            EXPECT_TRUE(result.Thumbnail.Bitmap == *item->Image()->Picture()->Graphic())
                << paths[i];
        } catch (const forms::EInvalidGraphic &e) {
            ASSERT_TRUE(result.Error) << paths[i];
            EXPECT_EQ(forms::MessageOf(result.Error), e.what());
        }
    }
    EXPECT_EQ(results[0].Thumbnail.PictureWidth, 2000);
    EXPECT_EQ(results[0].Thumbnail.PictureHeight, 1500);
    EXPECT_EQ(results[1].Thumbnail.PictureWidth, 300);
    EXPECT_EQ(results[3].Thumbnail.PictureWidth, 0); // .jpeg is not read
    EXPECT_EQ(results[2].FileBytes,
              static_cast<std::int64_t>(testsupport::ReadFile(dir.file("small.JPG")).size()));
    EXPECT_EQ(results[5].FileBytes, -1);
    EXPECT_NE(forms::MessageOf(results[7].Error).find("Not a regular file"), std::string::npos);
    EXPECT_NE(forms::MessageOf(results[8].Error).find("Not a regular file"), std::string::npos);
}

TEST(ThumbLoader, ASourceThatFailsOrListsNothingEndsAtOnce)
{
    auto failing
        = TakeAll([]() -> std::vector<std::string> { throw std::runtime_error("gone"); }, 2);
    EXPECT_TRUE(failing.empty());
    EXPECT_TRUE(TakeAll([] { return std::vector<std::string>(); }, 0).empty());

    ThumbLoader loader([]() -> std::vector<std::string> { throw std::runtime_error("gone"); },
                       [] {}, 1);
    while (!loader.Total())
        std::this_thread::yield();
    EXPECT_EQ(*loader.Total(), 0u);
    ASSERT_TRUE(loader.SourceError());
    EXPECT_EQ(forms::MessageOf(loader.SourceError()), "gone");
}
