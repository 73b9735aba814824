// What a file manager drops on the window, what the keyboard reaches, and the
// movie's length on the Output view.
#include "window_support.h"

#include "app/photos/photo_commands.h"
#include "app/ui/drop.h"
#include "app/ui/keyboard.h"
#include "app/ui/movie_length.h"
#include "app/ui/photo_row.h"
#include "app/ui/preview.h"
#include "app/ui/show_commands.h"
#include "app/ui/stop_command.h"

#include "qtwidgets.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>

#include <condition_variable>
#include <mutex>

using namespace quillon;
using namespace windowtest;
using testsupport::MakeFolder;
using testsupport::WriteFile;

namespace {

class Drops : public MainFormTest
{
protected:
    // A drag of `uriList` entering the window; true when the window takes it.
    bool Enter(const QByteArray &uriList)
    {
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), uriList);
        QDragEnterEvent enter(QPoint(200, 200), Qt::CopyAction | Qt::MoveAction, &data,
                              Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &enter);
        return enter.isAccepted();
    }
    // As a file manager drops: the drag enters first.
    void Drop(const QByteArray &uriList)
    {
        EXPECT_TRUE(Enter(uriList));
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), uriList);
        QDropEvent drop(QPointF(200, 200), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(form.get(), &drop);
        WaitForAdd();
    }
    static QByteArray Uri(const std::string &path) { return QByteArray("file://") + path.c_str(); }
};

using Keys = Drops;

} // namespace

TEST(UriList, OnlyLocalFilesDecodedToTheirBytes)
{
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const QByteArray list = QByteArray("# a comment\r\n"
                                       "file:///home/ann/a%20b.jpg\r\n"
                                       "file://localhost/x/%C3%A4%FF.jpg\r\n"
                                       "FILE:///upper\r\n"
                                       "file://")
                            + host
                            + "/mine\r\n"
                              "file://faraway/theirs.jpg\r\n"
                              "https://example.org/c.jpg\r\n"
                              "file:relative\r\n"
                              "file:///nul%00byte\r\n"
                              "file:/one/slash%2\n";
    EXPECT_EQ(LocalPathsOfUriList(list),
              (std::vector<std::string>{"/home/ann/a b.jpg", "/x/\xC3\xA4\xFF.jpg", "/upper",
                                        "/mine", "/one/slash%2"}));
}

TEST_F(Drops, FilesAndFoldersComeInAsTheAddCommandsWouldTakeThem)
{
    MakeFolder(dir.file("album/sub"));
    Jpeg("album/b.jpg");
    Jpeg("album/sub/c.jpg");
    Jpeg("album/a.JPG");                          // Add Folder takes only the exact extensions
    const std::string loose = Jpeg("loose.JPEG"); // Add Photos' dialog offers it
    WriteFile(dir.file("notes.txt"), "x");
    form->tabOutputClick(nullptr);

    const QByteArray list = Uri(dir.file("album")) + "\r\n" + Uri(loose) + "\r\n"
                            + Uri(dir.file("notes.txt")) + "\r\n";
    EXPECT_FALSE(Enter("https://example.org/a.jpg\r\n"));
    Drop(list);
    EXPECT_EQ(List(), (std::vector<std::string>{dir.file("album//b.jpg"),
                                                dir.file("album//sub/c.jpg"), loose}));
    EXPECT_EQ(form->ActiveView(), PhotoView);
    EXPECT_EQ(form->PhotoThumbPanel1->SelectedIndex(), 0);
    EXPECT_EQ(form->sb_status->Caption(), "3 photo(s) total.");

    // Photos alone: the status line of Add Photos.
    Drop(Uri(loose));
    EXPECT_EQ(List().size(), 4u);
    EXPECT_EQ(form->sb_status->Caption(), "Add or delete your photos. ");
}

TEST_F(Drops, NothingIsTakenWhileAddingAndALoneShowIsOpened)
{
    std::mutex mutex;
    std::condition_variable cv;
    bool go = false;
    form->PhotoRow().Append(
        [&] {
            std::unique_lock lock(mutex);
            cv.wait(lock, [&] { return go; });
            return std::vector<std::string>();
        },
        [] {});
    const std::string photo = Jpeg("a.jpg");
    EXPECT_FALSE(Enter(Uri(photo)));
    {
        std::lock_guard lock(mutex);
        go = true;
    }
    cv.notify_all();
    WaitForAdd();
    EXPECT_TRUE(List().empty());

    WriteFile(dir.file("trip.QSHOW"), "[Photos]\nPhoto1=a.jpg\n");
    Drop(Uri(dir.file("trip.QSHOW")));
    // The show opens once the drop has ended.
    EXPECT_TRUE(WaitUntil([&] { return !form->Adding() && List().size() == 1; }));
    EXPECT_EQ(List(), std::vector<std::string>{photo});
}

TEST_F(Drops, TheCommandLineOpensAShowBeforeItsPhotosAndNamesWhatItLeavesOut)
{
    const std::string a = Jpeg("a.jpg");
    const std::string b = Jpeg("b.jpg");
    WriteFile(dir.file("trip.qshow"), "[Photos]\nPhoto1=a.jpg\n");
    WriteFile(dir.file("other.qshow"), "[Photos]\nPhoto1=b.jpg\n");
    WriteFile(dir.file("notes.txt"), "x");
    form->Drops().TakeNamed({dir.file("trip.qshow"), b, dir.file("notes.txt"),
                             dir.file("other.qshow"), dir.file("gone")});
    EXPECT_TRUE(WaitUntil([&] { return !form->Adding() && List().size() == 2; }));
    EXPECT_EQ(List(), (std::vector<std::string>{a, b}));
    EXPECT_EQ(form->Shows().CurrentShow(), dir.file("trip.qshow"));
    EXPECT_EQ(boxes.texts(),
              std::vector<std::string>{
                  "Cannot open \"" + dir.file("notes.txt")
                  + "\": it is not a photo, a folder or a show\nCannot open \""
                  + dir.file("other.qshow") + "\": only one show can be opened at a time\nCannot "
                  + "open \"" + dir.file("gone") + "\": No such file or directory"});
}

TEST_F(Drops, TheEmptyListsPictureOpensAddPhotos)
{
    const std::string photo = Jpeg("a.jpg");
    ASSERT_TRUE(form->pnl1_imgBack->isVisible());
    WhenDialogOpens<QFileDialog>([&](QFileDialog *dialog) { ChooseFiles(dialog, {photo}); });
    testsupport::Click(form->pnl1_imgBack, {200, 150});
    WaitForAdd();
    EXPECT_EQ(List(), std::vector<std::string>{photo});
}

TEST_F(Keys, TabReachesEveryControlInReadingOrder)
{
    AddFiles({Jpeg("a.jpg")});
    QApplication::setActiveWindow(form.get());
    auto round = [&](QWidget *start) {
        start->setFocus(Qt::TabFocusReason);
        std::vector<QWidget *> seen{QApplication::focusWidget()};
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() == seen.front())
                break;
            seen.push_back(QApplication::focusWidget());
        }
        return seen;
    };
    const TShowCommands &shows = form->Shows();
    const std::vector<QWidget *> edge
        = {shows.lblOpenShow, shows.lblSaveShow, form->lblAbout, form->Image1, form->Image2};
    std::vector<QWidget *> photoView
        = {form->tabAddPhotos,      form->tabOutput,      form->pnl1_ScrollBox, form->pnl1_btnAdd,
           form->pnl1_btnAddFolder, form->pnl1_btnDelete, form->pnl1_btnDelAll};
    photoView.insert(photoView.end(), edge.begin(), edge.end());
    EXPECT_EQ(round(form->tabAddPhotos), photoView);

    form->tabOutputClick(nullptr);
    std::vector<QWidget *> outputView = {form->tabAddPhotos,
                                         form->tabOutput,
                                         form->edtSoundFile,
                                         form->btnSelectMusic,
                                         form->pnl3_grpStandard->Button(0),
                                         form->pnl3_grpResolution->Button(0),
                                         form->edtInterval,
                                         form->edtOutputPath,
                                         form->SpeedButton3,
                                         form->butBrowse,
                                         form->cmbCompressorList,
                                         form->Button3,
                                         form->pnl3_grpMovie->btnSettings,
                                         form->Preview().pnl3_btnPreview,
                                         form->pnl3_btnGo};
    outputView.insert(outputView.end(), edge.begin(), edge.end());
    EXPECT_EQ(round(form->tabAddPhotos), outputView);
}

TEST_F(Keys, SpaceAndEnterClickThePictureButtonsAndARingShowsTheFocus)
{
    QApplication::setActiveWindow(form.get());
    form->tabOutput->setFocus(Qt::TabFocusReason);
    QWidget *ring = form->Keyboard().FocusRing();
    ASSERT_TRUE(ring->isVisible());
    EXPECT_TRUE(ring->geometry().contains(form->tabOutput->geometry()));
    QTest::keyClick(form->tabOutput, Qt::Key_Space);
    EXPECT_EQ(form->ActiveView(), OutputView);
    EXPECT_TRUE(form->tabOutput->DownState());

    QTest::keyClick(form->pnl3_btnGo, Qt::Key_Return);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Please add some photos first."});

    form->edtInterval->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(ring->isVisible()); // the edit box shows its own focus

    // The plain buttons too: Enter presses them once, as Space does, and the
    // ring shows them.
    form->edtOutputPath->setText(QString::fromStdString(dir.path()));
    form->butBrowse->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(ring->isVisible());
    const std::size_t asked = shell.requests().size();
    QTest::keyClick(form->butBrowse, Qt::Key_Return);
    QTest::keyClick(form->butBrowse, Qt::Key_Space);
    ASSERT_EQ(shell.requests().size(), asked + 2);
    EXPECT_EQ(shell.requests().back().file, dir.path());
    // Held down, the key presses once.
    for (const int key : {Qt::Key_Space, Qt::Key_Return}) {
        QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(form->butBrowse, &repeat);
    }
    EXPECT_EQ(shell.requests().size(), asked + 2);
}

TEST_F(Keys, TheOutputViewShowsTheMoviesLength)
{
    EXPECT_EQ(MovieLengthText(0), "Movie length: 0 min 00 s");
    EXPECT_EQ(MovieLengthText(65), "Movie length: 1 min 05 s");
    EXPECT_EQ(MovieLengthText(65536LL * 1000 + 999), "Movie length: 1092283 min 19 s");
    auto shown = [&] { return form->MovieLength().lblMovieLength->Caption(); };
    EXPECT_EQ(shown(), "Movie length: 0 min 00 s");
    AddFiles({Jpeg("a.jpg"), Jpeg("b.jpg"), Jpeg("c.jpg")});
    QTest::qWait(0);
    EXPECT_EQ(shown(), "Movie length: 0 min 08 s"); // 3 x (2 + 1) - 1
    form->edtInterval->SetText("20");
    EXPECT_EQ(shown(), "Movie length: 1 min 02 s");
    form->edtInterval->SetText("x"); // read as the box's minimum, 1
    EXPECT_EQ(shown(), "Movie length: 0 min 05 s");
    form->pnl1_btnDelAllClick(nullptr);
    QTest::qWait(0);
    EXPECT_EQ(shown(), "Movie length: 0 min 00 s");
}

// A screen reader can name every control that Tab reaches, whichever view shows
// it, and the controls of a run and of the preview.
TEST_F(Keys, EveryControlHasAnAccessibleName)
{
    AddFiles({Jpeg("a.jpg")});
    std::vector<QWidget *> controls = form->Keyboard().TabOrder();
    controls.push_back(form->Stop().btnStop);
    form->tabOutputClick(nullptr);
    form->Preview().PreviewClick(nullptr);
    ASSERT_NE(form->Preview().Form(), nullptr);
    TPreviewForm *preview = form->Preview().Form();
    for (QWidget *w : std::initializer_list<QWidget *>{preview->btnPlay, preview->sldPosition,
                                                       preview->lblTime, preview->View})
        controls.push_back(w);
    for (QWidget *w : controls) {
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(face, nullptr);
        EXPECT_FALSE(face->text(QAccessible::Name).trimmed().isEmpty())
            << w->metaObject()->className() << " " << w->objectName().toStdString() << " at "
            << w->x() << "," << w->y();
    }
    preview->close();
}
