// The photo list commands through the real window: the file dialog, the folder
// chooser with the real folder scan, the removals and what each leaves in the
// selection, the view and the status line.
#include "window_support.h"

#include "app/photos/photo_commands.h"

#include "qtwidgets.h"

#include <QFileDialog>
#include <QScrollArea>

#include <filesystem>
#include <unistd.h>

using namespace quillon;
using namespace windowtest;
using testsupport::Click;
using testsupport::MakeFolder;
using testsupport::WriteFile;

namespace {

class PhotoCommands : public MainFormTest
{
protected:
    bool Shown(const QWidget *w) const { return w->isVisibleTo(form.get()); }
};

} // namespace

TEST_F(PhotoCommands, FolderAddsOnlyExactJpgAndBmpExtensions)
{
    const std::string folder = dir.file("album");
    MakeFolder(folder);
    for (const char *name : {"a.jpg", "b.JPG", "c.jpeg"})
        Jpeg(std::string("album/") + name);
    Bmp("album/d.bmp");
    WriteFile(folder + "/e.png", "png");

    // The chooser hands the folder over with its closing separator.
    AddFolder(folder + "/");
    std::vector<std::string> list = List();
    std::sort(list.begin(), list.end());
    EXPECT_EQ(list, (std::vector<std::string>{folder + "//a.jpg", folder + "//d.bmp"}));
    EXPECT_EQ(Status(), "2 photo(s) total.");
    EXPECT_EQ(Selected(), 0);
    EXPECT_TRUE(Shown(form->pnl1_ScrollBox));
    EXPECT_FALSE(Shown(form->pnl1_imgBack));
    EXPECT_EQ(folders.requests().back().lpszTitle, "Please specify a directory");
}

TEST_F(PhotoCommands, FolderScanGoesEverywhereButNeverRoundALinkCycle)
{
    const std::string root = dir.file("tree");
    MakeFolder(root + "/.hidden/deeper");
    MakeFolder(root + "/x.jpg"); // a folder, whatever its name says
    MakeFolder(root + "/loop");
    Jpeg("tree/.hidden/deeper/one.jpg");
    Jpeg("tree/.two.jpg");
    Bmp("tree/x.jpg/three.bmp");
    ASSERT_EQ(::symlink(root.c_str(), (root + "/loop/back").c_str()), 0);
    // A folder the user cannot write is entered all the same.
    std::filesystem::permissions(root + "/x.jpg", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);

    AddFolder(root + "/");
    std::filesystem::permissions(root + "/x.jpg", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    std::vector<std::string> list = List();
    std::sort(list.begin(), list.end());
    EXPECT_EQ(list, (std::vector<std::string>{root + "//.hidden/deeper/one.jpg",
                                              root + "//.two.jpg", root + "//x.jpg/three.bmp"}));
    EXPECT_EQ(Status(), "3 photo(s) total.");
}

TEST_F(PhotoCommands, FolderCountIsTheWholeListAndACancelChangesNothing)
{
    Jpeg("first.jpg");
    AddFiles({dir.file("first.jpg")});
    MakeFolder(dir.file("empty"));
    AddFolder(dir.file("empty") + "/");
    EXPECT_EQ(Status(), "1 photo(s) total.");

    MakeFolder(dir.file("two"));
    Jpeg("two/a.jpg");
    Jpeg("two/b.jpg");
    AddFolder(dir.file("two") + "/");
    EXPECT_EQ(Status(), "3 photo(s) total.");
    EXPECT_EQ(List().front(), dir.file("first.jpg"));

    folders.add(std::nullopt);
    form->PhotoThumbPanel1->SetSelectedIndex(2);
    form->pnl1_btnAddFolderClick(nullptr);
    EXPECT_EQ(List().size(), 3u);
    EXPECT_EQ(Selected(), 2);
    EXPECT_EQ(Status(), "3 photo(s) total.");

    // Removing everything keeps the last count in the status line.
    Click(form->pnl1_btnDelAll, {10, 10});
    EXPECT_TRUE(List().empty());
    EXPECT_EQ(Selected(), -1);
    EXPECT_EQ(Status(), "3 photo(s) total.");
    EXPECT_TRUE(Shown(form->pnl1_ScrollBox));
}

TEST_F(PhotoCommands, FilesFromTheDialogInItsOrderSelectingPhotoZero)
{
    const std::string a = Jpeg("a.jpg"), b = Bmp("b.bmp"), c = Jpeg("c.jpeg");
    QStringList filters;
    WhenDialogOpens<QFileDialog>([&](QFileDialog *dialog) {
        filters = dialog->nameFilters();
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
        ChooseFiles(dialog, {b, a});
    });
    Click(form->pnl1_btnAdd, {10, 10});
    WaitForAdd();
    EXPECT_EQ(List(), (std::vector<std::string>{b, a}));
    ASSERT_EQ(filters.size(), 3);
    EXPECT_TRUE(filters[0].startsWith("Picture Files (JPEG) ("));
    EXPECT_TRUE(filters[1].startsWith("Picture Files (BMP) ("));
    EXPECT_TRUE(filters[2].startsWith("All Picture Files ("));

    form->PhotoThumbPanel1->SetSelectedIndex(1);
    form->sb_status->SetCaption("x");
    // A .jpeg photo goes in with an empty thumbnail; the same file twice is two slides.
    AddFiles({c});
    AddFiles({a});
    EXPECT_EQ(List(), (std::vector<std::string>{b, a, c, a}));
    EXPECT_EQ(Selected(), 0);
    EXPECT_EQ(Status(), "Add or delete your photos. ");
    EXPECT_EQ(form->PhotoThumbPanel1->ThumbItems()->Items(2)->Image()->Picture()->Width(), 0);
    EXPECT_EQ(form->PhotoThumbPanel1->ThumbItems()->Items(1)->Image()->Picture()->Width(), 64);

    // A cancelled dialog changes nothing.
    WhenDialogOpens<QFileDialog>([](QFileDialog *dialog) { ChooseFiles(dialog, {}); });
    Click(form->pnl1_btnAdd, {10, 10});
    EXPECT_FALSE(form->Adding());
    EXPECT_EQ(List().size(), 4u);
}

TEST_F(PhotoCommands, AnUnreadablePhotoEndsTheCommandThereWithoutAnEntry)
{
    const std::string good = Jpeg("1good.jpg");
    const std::string bad = dir.file("2bad.jpg");
    WriteFile(bad, "this is no JPEG");
    const std::string after = Jpeg("3after.jpg");
    form->sb_status->SetCaption("before");

    std::vector<std::string> listWhenShown;
    boxes.onBox = [&](const testsupport::RecordedBox &) { listWhenShown = List(); };
    WhenDialogOpens<QFileDialog>([&](QFileDialog *dialog) {
        ChooseFiles(dialog, {good, bad, after});
    });
    Click(form->pnl1_btnAdd, {10, 10});
    WaitForAdd();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_NE(boxes.texts()[0].find("2bad.jpg"), std::string::npos) << boxes.texts()[0];
    EXPECT_EQ(boxes.boxes()[0].type & 0xF, win32::MB_OK);
    // The photo that cannot be read is not in the list (already when the message
    // shows), nor the one after it; the command's own last steps did not run:
    // no selection, and the status line is what it was.
    EXPECT_EQ(listWhenShown, (std::vector<std::string>{good}));
    EXPECT_EQ(List(), (std::vector<std::string>{good}));
    EXPECT_EQ(Selected(), -1);
    EXPECT_EQ(Status(), "before");
    // The photo that did come in is in view.
    EXPECT_TRUE(Shown(form->pnl1_ScrollBox));
    EXPECT_FALSE(Shown(form->pnl1_imgBack));
}

TEST_F(PhotoCommands, RemovingTheSelectedPhoto)
{
    std::vector<std::string> photos;
    for (int i = 0; i < 5; ++i)
        photos.push_back(Jpeg("p" + std::to_string(i) + ".jpg", 32, 24, i));
    AddFiles(photos);

    // A click on a thumbnail selects its photo.
    Click(form->PhotoThumbPanel1->ThumbItems()->Items(3)->Image(), {10, 10});
    ASSERT_EQ(Selected(), 3);
    form->sb_status->SetCaption("kept");
    Click(form->pnl1_btnDelete, {10, 10});
    EXPECT_EQ(List(), (std::vector<std::string>{photos[0], photos[1], photos[2], photos[4]}));
    EXPECT_EQ(Selected(), 2);

    form->PhotoThumbPanel1->SetSelectedIndex(0);
    Click(form->pnl1_btnDelete, {10, 10});
    EXPECT_EQ(List(), (std::vector<std::string>{photos[1], photos[2], photos[4]}));
    EXPECT_EQ(Selected(), 0);

    form->PhotoThumbPanel1->SetSelectedIndex(-1);
    Click(form->pnl1_btnDelete, {10, 10});
    EXPECT_EQ(List().size(), 3u);
    EXPECT_EQ(Status(), "kept");

    form->PhotoThumbPanel1->SetSelectedIndex(2);
    Click(form->pnl1_btnDelete, {10, 10});
    Click(form->pnl1_btnDelete, {10, 10});
    Click(form->pnl1_btnDelete, {10, 10});
    EXPECT_TRUE(List().empty());
    EXPECT_EQ(Selected(), -1);
    // The view is not switched: the empty panel stays in view.
    EXPECT_TRUE(Shown(form->pnl1_ScrollBox));
    EXPECT_FALSE(Shown(form->pnl1_imgBack));

    // Remove all on an empty list still lays the panel out.
    form->PhotoThumbPanel1->SetSelectedIndex(4);
    Click(form->pnl1_btnDelAll, {10, 10});
    EXPECT_EQ(Selected(), -1);
}
