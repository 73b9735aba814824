#include "app/photos/PhotoThumbPanel.h"

#include "pictures.h"
#include "qtwidgets.h"
#include "testsupport.h"

#include "platform/forms/errors.h"

#include "platform/win32/bitmap_masks.h"

#include <gtest/gtest.h>

#include <QPalette>
#include <QPointer>
#include <QTest>

#include <memory>
#include <tuple>
#include <vector>

using namespace quillon;

namespace {

using Change = std::tuple<int, int>; // old index, new index

// The main window's panel: at (8, 8), 370 × 260, cells 110 × 90, gaps 5 and 20,
// on a window large enough for it to grow into.
class Panel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->resize(1300, 700);
        panel = new TPhotoThumbPanel(window.get());
        panel->setGeometry(8, 8, 370, 260);
        panel->SetCellWidth(110);
        panel->SetCellHeight(90);
        panel->OnIndexChanged = [this](QObject *sender, int oldIndex, int newIndex) {
            EXPECT_EQ(sender, panel);
            changes.emplace_back(oldIndex, newIndex);
        };
    }

    void AddEntries(int n)
    {
        for (int i = 0; i < n; ++i)
            panel->ThumbItems()->Add();
    }

    TThumbItem *Entry(int i) { return panel->ThumbItems()->Items(i); }

    std::unique_ptr<QWidget> window;
    TPhotoThumbPanel *panel = nullptr;
    std::vector<Change> changes;
};

} // namespace

TEST_F(Panel, StartsEmptyWithTheDesignDefaults)
{
    TPhotoThumbPanel fresh;
    EXPECT_EQ(fresh.HorizontalGap(), 5);
    EXPECT_EQ(fresh.VerticalGap(), 20);
    EXPECT_EQ(fresh.BackColor(), forms::clBlack);
    EXPECT_EQ(fresh.CellWidth(), 40);
    EXPECT_EQ(fresh.CellHeight(), 30);
    EXPECT_EQ(fresh.ThumbWidth(), 0);
    EXPECT_EQ(fresh.ThumbHeight(), 0);
    EXPECT_FALSE(fresh.Wrap());
    EXPECT_EQ(fresh.CellCount(), 0);
    EXPECT_EQ(fresh.SelectedIndex(), -1);
    EXPECT_EQ(fresh.ThumbItems()->Count(), 0);
    EXPECT_EQ(fresh.BevelOuter(), forms::TBevelCut::bvNone);
    EXPECT_EQ(fresh.focusPolicy(), Qt::NoFocus);
}

TEST_F(Panel, ANewEntryWaitsOffThePanelForTheFirstLayoutPass)
{
    TThumbItem *item = panel->ThumbItems()->Add();
    EXPECT_EQ(item->Image()->parentWidget(), nullptr);
    EXPECT_EQ(item->CaptionLabel()->parentWidget(), nullptr);
    EXPECT_EQ(item->CaptionLabel()->Caption(), "1");
    EXPECT_TRUE(item->CaptionLabel()->Transparent());
    EXPECT_EQ(item->CaptionLabel()->FontColor(), forms::clWhite);
    EXPECT_TRUE(item->Comment().empty());
    panel->ArrangeThumbs();
    EXPECT_EQ(item->Image()->parentWidget(), panel);
    EXPECT_TRUE(item->Image()->isVisibleTo(panel));
    EXPECT_EQ(item->CaptionLabel()->parentWidget(), nullptr); // single row: no captions
    EXPECT_TRUE(changes.empty());
}

TEST_F(Panel, TenEntriesInOneRowGrowThePanelTo1155AndAreAllPlacedInOnePass)
{
    AddEntries(10);
    panel->SetSelectedIndex(0);
    EXPECT_EQ(panel->width(), 1155);
    EXPECT_EQ(panel->height(), 260);
    EXPECT_EQ(panel->ColumnCount(), 10);
    for (int i = 0; i < 10; ++i) {
        forms::TImage *image = Entry(i)->Image();
        EXPECT_EQ(image->parentWidget(), panel);
        EXPECT_EQ(image->geometry(), QRect(5 + 115 * i, 20, 110, 90)) << "entry " << i;
    }
    EXPECT_EQ(changes, (std::vector<Change>{{-1, 0}}));

    // Fewer entries later never shrink it.
    panel->ThumbItems()->Clear();
    panel->ArrangeThumbs();
    EXPECT_EQ(panel->width(), 1155);
}

TEST_F(Panel, ThreeCellsFitTheDesignWidth)
{
    AddEntries(3);
    panel->ArrangeThumbs();
    EXPECT_EQ(panel->width(), 370);
    EXPECT_EQ(panel->ColumnCount(), 3);
    EXPECT_EQ(Entry(2)->Image()->geometry(), QRect(235, 20, 110, 90));
    AddEntries(1);
    panel->ArrangeThumbs();
    EXPECT_EQ(panel->width(), 465);
}

TEST_F(Panel, TheSelectionWriteRaisesItsEventOnEveryWrite)
{
    // On an empty panel the pass turns the selection into -1, but the event
    // reports the value written.
    panel->SetSelectedIndex(0);
    EXPECT_EQ(panel->SelectedIndex(), -1);
    AddEntries(4);
    panel->SetSelectedIndex(2);
    panel->SetSelectedIndex(2);
    panel->SetSelectedIndex(9); // no range check
    EXPECT_EQ(panel->SelectedIndex(), 9);
    panel->SetSelectedIndex(-7);
    EXPECT_EQ(panel->SelectedIndex(), -7);
    EXPECT_EQ(changes, (std::vector<Change>{{-1, 0}, {-1, 2}, {2, 2}, {2, 9}, {9, -7}}));
}

TEST_F(Panel, DeletingMovesTheSelectionBackByOneWhicheverEntryGoes)
{
    AddEntries(5);
    panel->SetSelectedIndex(3);
    changes.clear();
    panel->ThumbItems()->Delete(0);
    EXPECT_EQ(panel->SelectedIndex(), 2);
    EXPECT_EQ(changes, (std::vector<Change>{{3, 2}}));
    EXPECT_EQ(panel->ThumbItems()->Count(), 4);

    // The selected entry 0: the selection stays 0, now on the next entry.
    panel->SetSelectedIndex(0);
    TThumbItem *next = Entry(1);
    changes.clear();
    panel->ThumbItems()->Delete(0);
    EXPECT_EQ(panel->SelectedIndex(), 0);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(Entry(0), next);
}

TEST_F(Panel, TheDeletedEntryStillStandsInTheListWhileTheSelectionMoves)
{
    AddEntries(3);
    panel->SetSelectedIndex(2);
    int countSeen = 0;
    panel->OnIndexChanged = [&](QObject *, int, int) { countSeen = panel->ThumbItems()->Count(); };
    QPointer<forms::TImage> image = Entry(1)->Image();
    panel->ThumbItems()->Delete(1);
    EXPECT_EQ(countSeen, 3);
    EXPECT_TRUE(image.isNull()); // its controls left the panel with it
}

TEST_F(Panel, ClearThenArrangeLeavesNoSelectionWithoutAnEvent)
{
    AddEntries(3);
    panel->SetSelectedIndex(1);
    changes.clear();
    panel->ThumbItems()->Clear();
    EXPECT_EQ(panel->SelectedIndex(), 1); // clearing sends no deleting notification
    panel->ArrangeThumbs();
    EXPECT_EQ(panel->SelectedIndex(), -1);
    EXPECT_TRUE(changes.empty());
}

TEST_F(Panel, TheSingleRowSelectionMarkIsDrawnAroundTheCellAndWipedFromTheOld)
{
    AddEntries(3);
    testsupport::ShowWindow(window.get());
    panel->SetSelectedIndex(1);
    const QColor caption = forms::ColorToQColor(forms::clActiveCaption);
    const QColor black(Qt::black);
    QImage shot = testsupport::Grab(panel);
    // Cell 1 stands at (120, 20), 110 × 90: a 2-pixel frame just outside it.
    EXPECT_EQ(QColor(shot.pixel(118, 18)), caption);
    EXPECT_EQ(QColor(shot.pixel(119, 19)), caption);
    EXPECT_EQ(QColor(shot.pixel(231, 111)), caption);
    EXPECT_EQ(QColor(shot.pixel(175, 110)), caption);
    EXPECT_EQ(QColor(shot.pixel(117, 17)), black);
    EXPECT_EQ(QColor(shot.pixel(3, 18)), black); // cell 0 is not marked

    panel->SetSelectedIndex(0);
    panel->repaint(); // a repaint keeps the mark
    shot = testsupport::Grab(panel);
    EXPECT_EQ(QColor(shot.pixel(118, 18)), black);
    EXPECT_EQ(QColor(shot.pixel(3, 18)), caption);
    EXPECT_EQ(QColor(shot.pixel(116, 60)), caption);

    panel->SetSelectedIndex(3); // beyond the entries: no mark at all
    shot = testsupport::Grab(panel);
    EXPECT_EQ(QColor(shot.pixel(3, 18)), black);
}

TEST_F(Panel, ThePanelTakesItsBackColorAtTheNextPass)
{
    AddEntries(1);
    panel->SetBackColor(0x000080); // dark red
    EXPECT_NE(panel->Color(), 0x000080u);
    panel->ArrangeThumbs();
    EXPECT_EQ(panel->Color(), 0x000080u);
    EXPECT_EQ(QColor(testsupport::Grab(panel).pixel(300, 200)), QColor(128, 0, 0));
}

TEST_F(Panel, GridCellsCaptionsAndTheSelectionShape)
{
    panel->SetWrap(true);
    AddEntries(5);
    panel->SetSelectedIndex(4);
    EXPECT_EQ(panel->ColumnCount(), 3);
    const std::vector<QPoint> cells = {{5, 10}, {120, 10}, {235, 10}, {5, 120}, {120, 120}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Entry(i)->Image()->geometry(), QRect(cells[i], QSize(110, 90))) << i;
        EXPECT_EQ(Entry(i)->Image()->Tag, i);
        forms::TLabel *label = Entry(i)->CaptionLabel();
        EXPECT_EQ(label->parentWidget(), panel);
        EXPECT_EQ(label->pos(), cells[i] + QPoint(5, 92));
        EXPECT_EQ(label->width(), 62);
        EXPECT_FALSE(label->AutoSize());
        EXPECT_EQ(Entry(i)->Comment(), "Photo " + std::to_string(i + 1));
        EXPECT_EQ(label->Caption(), Entry(i)->Comment());
    }
    forms::TShape *shape = panel->SelectionShape();
    EXPECT_EQ(shape->parentWidget(), panel);
    EXPECT_EQ(shape->geometry(), QRect(117, 117, 116, 110));
    EXPECT_EQ(shape->BrushColor(), forms::clBlack);
    EXPECT_EQ(shape->PenColor(), 0x1C1711u);
    EXPECT_EQ(panel->children().indexOf(shape), 0); // behind every other control

    panel->SetSelectedIndex(-1);
    EXPECT_EQ(shape->x(), -500);
    EXPECT_EQ(panel->height(), 260); // 5 entries fit 4 rows' worth

    AddEntries(5);
    panel->ArrangeThumbs();
    EXPECT_EQ(panel->height(), 4 * 110 + 20);
    EXPECT_EQ(Entry(9)->Image()->pos(), QPoint(5, 4 * 20 - 10 + 3 * 90));
}

TEST_F(Panel, GridCaptionsAreKeptWhenEarlierEntriesGo)
{
    panel->SetWrap(true);
    AddEntries(3);
    Entry(0)->SetComment("Holiday");
    panel->ArrangeThumbs();
    EXPECT_EQ(Entry(0)->Comment(), "Holiday");
    EXPECT_EQ(Entry(2)->Comment(), "Photo 3");
    TThumbItem *third = Entry(2);
    panel->ThumbItems()->Delete(0);
    panel->ArrangeThumbs();
    EXPECT_EQ(Entry(1), third);
    EXPECT_EQ(third->Comment(), "Photo 3");
    EXPECT_EQ(third->CaptionLabel()->Caption(), "Photo 3");
    EXPECT_EQ(third->Image()->pos(), QPoint(120, 10));
}

TEST_F(Panel, AGridNarrowerThanOneCellLaysOutOneColumn)
{
    panel->SetWrap(true);
    panel->resize(60, 100);
    AddEntries(3);
    panel->ArrangeThumbs();
    EXPECT_EQ(panel->ColumnCount(), 1);
    EXPECT_EQ(panel->height(), 3 * 110 + 20);
    EXPECT_EQ(Entry(2)->Image()->pos(), QPoint(5, 3 * 20 - 10 + 2 * 90));
}

TEST_F(Panel, AClickOnAGridThumbnailSelectsIt)
{
    panel->SetWrap(true);
    AddEntries(4);
    panel->ArrangeThumbs();
    testsupport::ShowWindow(window.get());
    testsupport::Click(Entry(3)->Image(), {50, 40});
    EXPECT_EQ(panel->SelectedIndex(), 3);
    EXPECT_EQ(changes, (std::vector<Change>{{-1, 3}}));
}

TEST_F(Panel, AClickOnASingleRowThumbnailDoesNothing)
{
    AddEntries(3);
    panel->ArrangeThumbs();
    testsupport::ShowWindow(window.get());
    testsupport::Click(Entry(1)->Image(), {50, 40});
    EXPECT_EQ(panel->SelectedIndex(), -1);
    EXPECT_TRUE(changes.empty());
}

TEST_F(Panel, ThumbClickWantsAPictureControlAndSkipsTagMinusOne)
{
    AddEntries(2);
    forms::TLabel label;
    EXPECT_THROW(panel->ThumbClick(&label), forms::EInvalidCast);
    forms::TImage image;
    image.Tag = -1;
    panel->ThumbClick(&image);
    EXPECT_TRUE(changes.empty());
    image.Tag = 1;
    panel->ThumbClick(&image);
    EXPECT_EQ(panel->SelectedIndex(), 1);
}

TEST_F(Panel, TheDoubleClickHandlerReachesTheThumbnailsAtTheNextPass)
{
    panel->SetWrap(true);
    AddEntries(2);
    panel->ArrangeThumbs();
    std::vector<QObject *> senders;
    panel->OnDblClick = [&](QObject *sender) { senders.push_back(sender); };
    EXPECT_FALSE(Entry(1)->Image()->OnDblClick); // copied at a pass, not before

    // The first click of the double click selects the entry, and that pass hands
    // the handler on in time for the second press.
    testsupport::ShowWindow(window.get());
    testsupport::DoubleClick(Entry(1)->Image(), {10, 10});
    EXPECT_EQ(panel->SelectedIndex(), 1);
    EXPECT_EQ(senders, std::vector<QObject *>{Entry(1)->Image()});
}

TEST_F(Panel, KeyReleasesChangeNothingAndRaiseNoEvent)
{
    AddEntries(3);
    panel->SetSelectedIndex(1);
    changes.clear();
    int keyUps = 0;
    panel->OnKeyUp = [&](QObject *, forms::WORD &, forms::TShiftState) { ++keyUps; };
    QTest::keyRelease(panel, Qt::Key_Right);
    QTest::keyRelease(panel, Qt::Key_Delete);
    forms::WORD key = 0x2E;
    panel->KeyUp(key, 0);
    EXPECT_EQ(keyUps, 0);
    EXPECT_EQ(panel->SelectedIndex(), 1);
    EXPECT_EQ(panel->ThumbItems()->Count(), 3);
    EXPECT_TRUE(changes.empty());
}

TEST_F(Panel, WritingThumbItemsCopiesTheEntries)
{
    AddEntries(1);
    TThumbItems other(forms::ItemClassOf<TThumbItem>());
    other.Add()->SetComment("a");
    other.Add()->SetComment("b");
    panel->SetThumbItems(&other);
    ASSERT_EQ(panel->ThumbItems()->Count(), 2);
    EXPECT_EQ(Entry(1)->Comment(), "b");
    EXPECT_NE(Entry(1)->Image(), other.Items(1)->Image());
}

TEST_F(Panel, DestroyingThePanelTakesEveryEntryAndControlWithIt)
{
    AddEntries(2);
    panel->SetWrap(true);
    panel->SetSelectedIndex(0);
    QPointer<forms::TImage> image = Entry(0)->Image();
    QPointer<forms::TLabel> label = Entry(1)->CaptionLabel();
    QPointer<forms::TShape> shape = panel->SelectionShape();
    delete panel;
    EXPECT_TRUE(image.isNull());
    EXPECT_TRUE(label.isNull());
    EXPECT_TRUE(shape.isNull());
}

namespace {

class Entries : public ::testing::Test
{
protected:
    testsupport::TempDir dir;
    TThumbItems items{forms::ItemClassOf<TThumbItem>()};
};

} // namespace

TEST_F(Entries, ThePathsExtensionDecidesHowThePictureIsRead)
{
    testsupport::WriteJpeg(dir.file("a.JPG"), 640, 480, testsupport::Gradient(1));
    testsupport::WriteBmp24(dir.file("b.Bmp"), 200, 150, testsupport::Gradient(2));
    testsupport::WriteBmp24(dir.file("small.bmp"), 40, 30, testsupport::Gradient(3));
    testsupport::WriteJpeg(dir.file("c.jpeg"), 640, 480, testsupport::Gradient(4));
    testsupport::WriteJpeg(dir.file("d.JPEG"), 640, 480, testsupport::Gradient(4));
    testsupport::WriteFile(dir.file("e.png"), "whatever");
    testsupport::WriteJpeg(dir.file("noext"), 640, 480, testsupport::Gradient(4));

    auto thumbOf = [&](const std::string &name) -> const forms::TPicture & {
        TThumbItem *item = items.Add();
        item->SetFileName(dir.file(name));
        EXPECT_EQ(item->FileName(), dir.file(name));
        return *item->Image()->Picture();
    };
    EXPECT_EQ(thumbOf("a.JPG").Width(), 100);
    EXPECT_EQ(thumbOf("a.JPG").Height(), 75);
    EXPECT_EQ(thumbOf("b.Bmp").Width(), 100);
    EXPECT_EQ(thumbOf("small.bmp").Width(), 40);
    for (const char *empty : {"c.jpeg", "d.JPEG", "e.png", "noext"}) {
        EXPECT_EQ(thumbOf(empty).Width(), 0) << empty;
        EXPECT_EQ(thumbOf(empty).Height(), 0) << empty;
    }
    EXPECT_EQ(thumbOf("a.JPG").Graphic()->PixelFormat(), forms::TPixelFormat::pf24bit);
}

TEST_F(Entries, ABitmapThumbnailMatchesTheSameBitmapShrunk)
{
    testsupport::WriteBmp24(dir.file("b.bmp"), 300, 201, testsupport::Gradient(5));
    TThumbItem *item = items.Add();
    item->SetFileName(dir.file("b.bmp"));
    forms::TBitmap loaded;
    loaded.LoadFromFile(dir.file("b.bmp"));
    forms::TBitmap expected;
    MakeThumbnail(loaded, expected, 100, 75);
    EXPECT_TRUE(*item->Image()->Picture()->Graphic() == expected);
}

TEST_F(Entries, AnUnreadablePictureRaisesAClearErrorAndKeepsThePathAndTheOldThumbnail)
{
    testsupport::WriteJpeg(dir.file("good.jpg"), 640, 480, testsupport::Gradient(1));
    const std::string bytes = testsupport::ReadFile(dir.file("good.jpg"));
    testsupport::WriteFile(dir.file("broken.jpg"), bytes.substr(0, 600));
    testsupport::WriteFile(dir.file("broken.bmp"), "BM not really");
    using namespace std::string_literals;
    // A 2 x 1 bitmap of 16 bits whose masks run blue, green, red.
    std::string masked = "BM"s + std::string(52, '\0') + "\x1F\0\0\0\xE0\x07\0\0\0\xF8\0\0"s
                         + std::string(4, '\x55');
    const auto put = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            masked[at + i] = static_cast<char>(value >> (8 * i));
    };
    put(2, 70), put(10, 66), put(14, 40), put(18, 2), put(22, 1), put(26, 1 | 16 << 16), put(30, 3);
    testsupport::WriteFile(dir.file("masks.bmp"), masked);

    TThumbItem *item = items.Add();
    item->SetFileName(dir.file("good.jpg"));
    const forms::TBitmap before = *item->Image()->Picture()->Graphic();

    struct Case
    {
        std::string name;
        std::string reason;
    };
    for (const Case &c : {Case{"broken.jpg", ""}, Case{"broken.bmp", "Bitmap image is not valid"},
                          Case{"masks.bmp", win32::kBitmapMasksUnreadable},
                          Case{"gone.jpg", "No such file or directory"},
                          Case{"gone.bmp", "No such file or directory"}}) {
        const std::string path = dir.file(c.name);
        try {
            item->SetFileName(path);
            ADD_FAILURE() << c.name << " was accepted";
        } catch (const forms::EInvalidGraphic &e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("Cannot read the picture \"" + path + "\": ", 0), 0u) << text;
            EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        }
        EXPECT_EQ(item->FileName(), path);
        EXPECT_TRUE(*item->Image()->Picture()->Graphic() == before);
    }

    // A new entry whose picture fails has no thumbnail at all.
    TThumbItem *fresh = items.Add();
    EXPECT_THROW(fresh->SetFileName(dir.file("broken.jpg")), forms::EInvalidGraphic);
    EXPECT_FALSE(fresh->Image()->Picture()->HasGraphic());
}

TEST_F(Entries, TurningTheUprightSettingOffRemakesTheThumbnailsOfTurnedPhotosOnly)
{
    // A 60 × 40 photo stored on its side fits the box: its thumbnail is the
    // picture itself, 60 wide upright and 40 wide as stored.
    testsupport::WriteOrientedJpeg(dir.file("side.jpg"), 60, 40, testsupport::Gradient(1), 6);
    testsupport::WriteJpeg(dir.file("plain.jpg"), 50, 30, testsupport::Gradient(2));
    TThumbItem *side = items.Add();
    side->SetFileName(dir.file("side.jpg"));
    TThumbItem *plain = items.Add();
    plain->SetFileName(dir.file("plain.jpg"));
    EXPECT_EQ(side->Image()->Picture()->Width(), 60);
    // Were the untagged photo made again, its thumbnail would now be 20 wide.
    testsupport::WriteJpeg(dir.file("plain.jpg"), 20, 10, testsupport::Gradient(2));

    items.SetAutoRotate(false);
    EXPECT_EQ(side->Image()->Picture()->Width(), 40);
    EXPECT_EQ(side->Image()->Picture()->Height(), 60);
    EXPECT_EQ(plain->Image()->Picture()->Width(), 50);
    // A photo added now follows the setting.
    TThumbItem *later = items.Add();
    later->SetFileName(dir.file("side.jpg"));
    EXPECT_EQ(later->Image()->Picture()->Width(), 40);

    // A photo gone since keeps its thumbnail.
    std::remove(dir.file("side.jpg").c_str());
    items.SetAutoRotate(true);
    EXPECT_EQ(side->Image()->Picture()->Width(), 40);
}
