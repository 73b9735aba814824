// The row of thumbnails as people use it: adding while the window goes on
// working, the keyboard, the wheel, dragging a photo to another place, and a
// row that always shows what it holds.
#include "window_support.h"

#include "app/job/app_define.h"
#include "app/photos/photo_commands.h"
#include "app/ui/photo_row.h"

#include "qtwidgets.h"

#include <QApplication>
#include <QCursor>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <regex>
#include <unistd.h>

using namespace quillon;
using namespace windowtest;
using testsupport::Click;

namespace {

class PhotoRow : public MainFormTest
{
protected:
    QScrollBar *Bar() const { return form->pnl1_ScrollBox->horizontalScrollBar(); }
    forms::TImage *Thumb(int i) const
    {
        return form->PhotoThumbPanel1->ThumbItems()->Items(i)->Image();
    }
    std::vector<std::string> Photos(int n)
    {
        std::vector<std::string> photos;
        for (int i = 0; i < n; ++i)
            photos.push_back(Jpeg("p" + std::to_string(10 + i) + ".jpg", 32, 24, i));
        return photos;
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(form->pnl1_ScrollBox, static_cast<Qt::Key>(key), modifiers);
    }
};

// A photo source that waits until the test lets it go.
class Gate
{
public:
    std::function<std::vector<std::string>()> source(std::vector<std::string> paths)
    {
        return [this, paths] {
            std::unique_lock lock(mutex_);
            opened_.wait(lock, [this] { return open_; });
            return paths;
        };
    }
    void open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    ~Gate() { open(); }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

} // namespace

TEST_F(PhotoRow, WhileAddingTheWindowWorksAndNothingActsOnTheList)
{
    const std::vector<std::string> first = Photos(2);
    AddFiles(first);
    const std::vector<std::string> more = {Jpeg("m1.jpg"), Jpeg("m2.jpg"), Jpeg("m3.jpg")};
    form->sb_status->SetCaption("before");

    Gate gate;
    std::vector<std::string> texts;
    TPhotoAdder &adder = form->PhotoRow().Adder();
    const auto progress = adder.OnProgress;
    adder.OnProgress = [&](int done, int total) {
        progress(done, total);
        texts.push_back(Status());
    };
    bool finished = false;
    ASSERT_TRUE(form->PhotoRow().Append(gate.source(more), [&] { finished = true; }));
    EXPECT_TRUE(form->Adding());
    EXPECT_EQ(Status(), "Adding photos ...");
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);

    // The window goes on: the views switch.
    Click(form->tabOutput, {20, 20});
    EXPECT_EQ(form->ActiveView(), OutputView);
    Click(form->tabAddPhotos, {20, 20});
    // No command touches the list meanwhile, nor starts a movie or another add.
    form->PhotoThumbPanel1->SetSelectedIndex(1);
    Click(form->pnl1_btnDelete, {10, 10});
    Click(form->pnl1_btnDelAll, {10, 10});
    Key(Qt::Key_Delete);
    Key(Qt::Key_Left, Qt::ControlModifier);
    folders.add(dir.path());
    form->pnl1_btnAddFolderClick(nullptr);
    EXPECT_TRUE(folders.requests().empty());
    form->pnl3_btnGoClick(nullptr);
    EXPECT_FALSE(form->PhotoRow().Append([] { return std::vector<std::string>(); }, [] {}));
    EXPECT_EQ(List(), first);
    EXPECT_FALSE(testsupport::Exists(quillon::GetTempDirectory() + "pelloryfilelist.txt"));
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_FALSE(finished);

    gate.open();
    WaitForAdd();
    EXPECT_TRUE(finished);
    std::vector<std::string> all = first;
    all.insert(all.end(), more.begin(), more.end());
    EXPECT_EQ(List(), all);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(Status(), "before");
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "Adding photos ...");
    for (const std::string &text : texts)
        EXPECT_TRUE(std::regex_match(text, std::regex(R"(Adding photos( [0-3] of 3)? \.\.\.)")))
            << text;
    adder.OnProgress = progress;
}

TEST_F(PhotoRow, TheKeyboardSelectsMovesAndRemoves)
{
    const std::vector<std::string> p = Photos(5);
    AddFiles(p);
    form->pnl1_ScrollBox->setFocus();
    Key(Qt::Key_End);
    EXPECT_EQ(Selected(), 4);
    Key(Qt::Key_Left);
    EXPECT_EQ(Selected(), 3);
    Key(Qt::Key_Home);
    Key(Qt::Key_Left); // stays at the first photo
    EXPECT_EQ(Selected(), 0);
    Key(Qt::Key_Right);
    EXPECT_EQ(Selected(), 1);

    Key(Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(List(), (std::vector<std::string>{p[0], p[2], p[1], p[3], p[4]}));
    EXPECT_EQ(Selected(), 2);
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(List(), (std::vector<std::string>{p[0], p[2], p[3], p[4], p[1]}));
    EXPECT_EQ(Selected(), 4);
    Key(Qt::Key_Right, Qt::ControlModifier); // already last
    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(List(), (std::vector<std::string>{p[1], p[0], p[2], p[3], p[4]}));
    EXPECT_EQ(Selected(), 0);

    // Delete is the remove command: the photo that followed is selected.
    Key(Qt::Key_Delete);
    EXPECT_EQ(List(), (std::vector<std::string>{p[0], p[2], p[3], p[4]}));
    EXPECT_EQ(Selected(), 0);
}

TEST_F(PhotoRow, TheWheelScrollsTheRowAPhotoANotch)
{
    AddFiles(Photos(10));
    QWidget *viewport = form->pnl1_ScrollBox->viewport();
    auto turn = [&](int degrees) {
        QWheelEvent wheel(QPointF(50, 50), viewport->mapToGlobal(QPointF(50, 50)), QPoint(),
                          QPoint(0, degrees), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(viewport, &wheel);
    };
    ASSERT_EQ(Bar()->value(), 0);
    turn(-120);
    EXPECT_EQ(Bar()->value(), 115);
    turn(-240);
    EXPECT_EQ(Bar()->value(), 345);
    turn(120);
    EXPECT_EQ(Bar()->value(), 230);
}

TEST_F(PhotoRow, DraggingAThumbnailPutsItsPhotoWhereItIsDropped)
{
    const std::vector<std::string> p = Photos(4);
    AddFiles(p);
    // Onto the right half of the third photo: after it.
    testsupport::Press(Thumb(0), {20, 20});
    testsupport::MoveTo(Thumb(0), {40, 22});
    testsupport::MoveTo(Thumb(2), {80, 30});
    testsupport::Release(Thumb(2), {80, 30});
    EXPECT_EQ(List(), (std::vector<std::string>{p[1], p[2], p[0], p[3]}));
    EXPECT_EQ(Selected(), 2);

    // Back onto the left half of the first photo: before it.
    testsupport::Press(Thumb(2), {20, 20});
    testsupport::MoveTo(Thumb(1), {50, 20});
    testsupport::MoveTo(Thumb(0), {10, 30});
    testsupport::Release(Thumb(0), {10, 30});
    EXPECT_EQ(List(), p);
    EXPECT_EQ(Selected(), 0);

    // Let go below the row, the photo stays where it was; past its end,
    // level with it, it goes last.
    testsupport::Press(Thumb(0), {20, 20});
    testsupport::MoveTo(Thumb(2), {80, 30});
    testsupport::Release(Thumb(2), {80, 600});
    EXPECT_EQ(List(), p);
    testsupport::Press(Thumb(0), {20, 20});
    testsupport::MoveTo(Thumb(2), {80, 30});
    testsupport::Release(Thumb(2), {4000, 30});
    EXPECT_EQ(List(), (std::vector<std::string>{p[1], p[2], p[3], p[0]}));
    testsupport::Press(Thumb(3), {20, 20});
    testsupport::MoveTo(Thumb(1), {80, 30});
    testsupport::Release(Thumb(0), {-4000, 30});
    EXPECT_EQ(List(), p);

    // A click without a move selects and moves nothing.
    Click(Thumb(3), {20, 20});
    EXPECT_EQ(List(), p);
    EXPECT_EQ(Selected(), 3);
}

// Held past the row's end, a dragged photo scrolls the row the faster the
// further past: at the edge it took minutes to carry a photo along a long row.
TEST_F(PhotoRow, ADragHeldPastTheRowsEndScrollsTheFasterTheFurtherPast)
{
    AddFiles(Photos(40));
    Bar()->setValue(0);
    QWidget *viewport = form->pnl1_ScrollBox->viewport();
    const QPoint past(viewport->width() + 300, viewport->height() / 2);
    testsupport::Press(Thumb(0), {20, 20});
    testsupport::MoveTo(Thumb(0), {40, 22});
    QCursor::setPos(viewport->mapToGlobal(past));
    testsupport::MoveTo(viewport, past);
    // The first steps: a few of the 16 pixels taken at the edge would be less.
    QTRY_VERIFY(Bar()->value() > 0);
    EXPECT_GE(Bar()->value(), 300);
    testsupport::Release(viewport, past);
}

TEST_F(PhotoRow, TheRowShowsWhatItHolds)
{
    AddFiles(Photos(12));
    // A later add scrolls to its first photo.
    AddFiles({Jpeg("late.jpg")});
    EXPECT_EQ(Bar()->value(), std::min(Bar()->maximum(), 12 * 115));
    Bar()->setValue(Bar()->maximum());

    // Removing everything leaves no row to scroll along, and the next photo is in view.
    Click(form->pnl1_btnDelAll, {10, 10});
    EXPECT_EQ(Bar()->maximum(), 0);
    EXPECT_EQ(Bar()->value(), 0);
    AddFiles({Bmp("one.bmp", 8, 6)});
    EXPECT_EQ(Bar()->value(), 0);
    EXPECT_TRUE(Thumb(0)->isVisible());
    EXPECT_TRUE(form->pnl1_ScrollBox->viewport()->rect().contains(
        Thumb(0)->mapTo(form->pnl1_ScrollBox->viewport(), QPoint(50, 40))));

    // The tooltip tells the photo's file name and size.
    EXPECT_EQ(Thumb(0)->toolTip().toStdString(), "one.bmp\n8 \u00d7 6 pixels, 198 bytes");
}

#ifndef QUILLON_TEST_SANITIZED
// The thumbnails are made on other threads, whose heaps the C library keeps
// when they are freed: Remove All gives their memory back to the system.
TEST_F(PhotoRow, RemoveAllGivesTheThumbnailsMemoryBack)
{
    const auto resident = [] {
        long pages = 0, rss = 0;
        std::FILE *statm = std::fopen("/proc/self/statm", "r");
        EXPECT_NE(statm, nullptr);
        if (statm) {
            EXPECT_EQ(std::fscanf(statm, "%ld %ld", &pages, &rss), 2);
            std::fclose(statm);
        }
        return rss * ::sysconf(_SC_PAGESIZE);
    };
    constexpr int kPhotos = 2000;
    const std::vector<std::string> photos(kPhotos, Jpeg("photo.jpg", 400, 300, 1));
    ASSERT_TRUE(form->PhotoRow().Append([&] { return photos; }, [] {}));
    WaitForAdd();
    ASSERT_EQ(form->PhotoThumbPanel1->ThumbItems()->Count(), kPhotos);
    const long listed = resident();
    form->pnl1_btnDelAllClick(nullptr);
    constexpr long kThumbnailBytes = 100L * 75 * 3 * kPhotos;
    EXPECT_GT(listed - resident(), kThumbnailBytes / 2)
        << "listed " << listed << " bytes, now " << resident();
}
#endif
