#include "app/ui/show_commands.h"

#include "app/job/app_define.h"
#include "app/job/job.h"
#include "app/photos/PhotoThumbPanel.h"
#include "app/photos/photo_commands.h"
#include "app/ui/mainunit.h"
#include "app/ui/photo_row.h"
#include "app/ui/stdctrls.h"
#include "platform/forms/application.h"
#include "platform/win32/files.h"
#include "platform/win32/messagebox.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QLineEdit>
#include <QShortcut>

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace quillon {

namespace {

// The colours of the "About " label beside them: sky blue, red under the pointer.
constexpr forms::TColor LinkColour = 15780518;
constexpr forms::TColor LinkHoverColour = 255;

const char *const kShowFilter = "Quillon shows (*.qshow)";

forms::TLabel *Link(QWidget *parent, int x, const char *caption, forms::TNotifyEvent click)
{
    auto *link = new forms::TLabel(parent);
    link->SetTransparent(true);
    link->SetFontColor(LinkColour);
    link->SetCaption(caption);
    link->move(x, 477);
    link->setCursor(Qt::PointingHandCursor);
    link->OnClick = std::move(click);
    link->OnMouseMove
        = [link](QObject *, forms::TShiftState, int, int) { link->SetFontColor(LinkHoverColour); };
    link->OnMouseLeave = [link](QObject *) { link->SetFontColor(LinkColour); };
    link->show();
    return link;
}

// Where a file dialog starts for `folder`. The dialogs hold names as text: a
// folder whose name is not UTF-8 would come back as another name, and the last
// part of one that is not found is offered as the file's name. So the nearest
// folder above it with a text name, else the home folder.
QString DialogFolder(std::string folder)
{
    while (!folder.empty()) {
        const QString text = QString::fromStdString(folder);
        if (text.toStdString() == folder && QFileInfo(text).isDir())
            return text;
        const std::size_t slash = folder.rfind('/');
        if (slash == std::string::npos || folder == "/")
            break;
        folder.erase(slash == 0 ? 1 : slash);
    }
    return QDir::homePath();
}

std::string FileNameOf(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

void Warn(HWND owner, const std::string &text)
{
    const forms::TApplication *app = forms::Application();
    win32::MessageBoxA(owner, text.c_str(), app ? app->Title().c_str() : ApplicationTitle,
                       win32::MB_OK | win32::MB_ICONWARNING);
}

} // namespace

TShowCommands::TShowCommands(TMainForm &Form)
    : FForm(Form)
{
    lblOpenShow = Link(&FForm, 95, "Open Show", [this](QObject *s) { OpenShowClick(s); });
    lblOpenShow->setToolTip(QStringLiteral("Open a show: its photos and settings (Ctrl+O)"));
    lblSaveShow = Link(&FForm, 170, "Save Show", [this](QObject *s) { SaveShowClick(s); });
    lblSaveShow->setToolTip(QStringLiteral("Keep the photos and settings as a show (Ctrl+S)"));
    auto *open = new QShortcut(QKeySequence::Open, &FForm);
    connect(open, &QShortcut::activated, this, [this] { OpenShowClick(lblOpenShow); });
    auto *save = new QShortcut(QKeySequence::Save, &FForm);
    connect(save, &QShortcut::activated, this, [this] { SaveShowClick(lblSaveShow); });
}

void TShowCommands::OpenShowClick(QObject *)
{
    if (FForm.PhotoRow().RefuseWhileAdding())
        return;
    TOpenDialog dialog(&FForm);
    dialog.Title = "Open Show";
    dialog.Filter = "Quillon shows|*.qshow";
    if (!dialog.Execute())
        return;
    Open(dialog.FileName());
}

void TShowCommands::SaveShowClick(QObject *)
{
    if (FForm.PhotoRow().RefuseWhileAdding())
        return;
    ChooseAndSave();
}

TShowCommands::TSaved TShowCommands::ChooseAndSave()
{
    QFileDialog dialog(&FForm, QStringLiteral("Save Show"), DialogFolder(FFolder));
    dialog.setObjectName(QStringLiteral("SaveShowDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QString::fromLatin1(kShowFilter));
    dialog.setDefaultSuffix(QStringLiteral("qshow"));
    SizeFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return TSaved::No;
    const QString chosen = QFileInfo(dialog.selectedFiles().front()).absoluteFilePath();
    FFolder = QFileInfo(chosen).absolutePath().toStdString();
    return Write(QDir::cleanPath(chosen).toStdString());
}

bool TShowCommands::MayLeave(const std::string &Opening)
{
    const bool current = !FCurrent.empty();
    if (current ? !Changed()
                : Opening.empty() || FForm.PhotoThumbPanel1->ThumbItems()->Count() == 0)
        return true;
    // The list is not whole while photos come in: it is neither kept nor left then.
    if (FForm.PhotoRow().RefuseWhileAdding())
        return false;
    const forms::TApplication *app = forms::Application();
    win32::TASKDIALOGCONFIG question;
    question.hwndParent = FForm.Handle();
    question.pszWindowTitle = app ? app->Title() : ApplicationTitle;
    question.pszMainInstruction
        = current ? "Save the changes to the show \"" + FileNameOf(FCurrent) + "\"?"
                  : "Save the photos and settings as a show before opening \"" + FileNameOf(Opening)
                        + "\"?";
    question.dwCommonButtons = win32::TDCBF_CANCEL_BUTTON;
    question.pButtons = {{win32::IDYES, "Save"}, {win32::IDNO, "Don't Save"}};
    question.nDefaultButton = win32::IDYES;
    int pressed = win32::IDCANCEL;
    win32::TaskDialogIndirect(question, &pressed);
    if (pressed == win32::IDNO)
        return true;
    if (pressed != win32::IDYES)
        return false;
    // A show that cannot be written keeps the window as it is; the error says
    // why. So does one written without some of it: the user has just been told
    // what, and may still keep it another way.
    try {
        return (current ? Write(FCurrent) : ChooseAndSave()) == TSaved::Whole;
    } catch (...) {
        forms::HandleException(std::current_exception());
        return false;
    }
}

// The gone photos go back after the photos they followed, which are known by
// their items wherever the user moved them. A gone photo that the list holds
// again was added back by the user, and stands where it was put: each copy in
// the list stands for one of the gone ones.
std::vector<std::string> TShowCommands::WithGonePhotos(const TThumbItems &Items,
                                                       const std::vector<TReadPhoto> &Read)
{
    std::vector<std::string> list;
    std::unordered_set<int> items;
    list.reserve(static_cast<std::size_t>(Items.Count()));
    for (int i = 0; i < Items.Count(); ++i) {
        list.push_back(Items.Items(i)->FileName());
        items.insert(Items.Items(i)->ID());
    }
    if (Read.empty())
        return list;
    std::unordered_map<std::string, std::size_t> addedBack;
    for (const TReadPhoto &read : Read)
        if (read.Gone())
            addedBack.emplace(read.Path, 0);
    for (const std::string &photo : list)
        if (const auto at = addedBack.find(photo); at != addedBack.end())
            ++at->second;
    std::unordered_map<int, std::vector<std::string>> after;
    std::vector<std::string> photos;
    std::optional<int> anchor;
    for (const TReadPhoto &read : Read) {
        if (!read.Gone()) {
            if (items.contains(read.Item))
                anchor = read.Item;
        } else if (std::size_t &copies = addedBack[read.Path]; copies > 0) {
            --copies;
        } else {
            (anchor ? after[*anchor] : photos).push_back(read.Path);
        }
    }
    photos.reserve(photos.size() + list.size());
    for (int i = 0; i < Items.Count(); ++i) {
        photos.push_back(list[static_cast<std::size_t>(i)]);
        if (const auto at = after.find(Items.Items(i)->ID()); at != after.end())
            photos.insert(photos.end(), at->second.begin(), at->second.end());
    }
    return photos;
}

TShow TShowCommands::Collect() const
{
    TShow show;
    show.Photos = WithGonePhotos(*FForm.PhotoThumbPanel1->ThumbItems(), FRead);
    show.Standard = FForm.pnl3_grpStandard->ItemIndex() != 0 ? 1 : 0;
    show.Resolution = std::clamp(FForm.pnl3_grpResolution->ItemIndex(), 0, 2);
    show.Interval = FForm.edtInterval->CheckValue(IntervalValue(FForm.edtInterval->Text()));
    show.OutputFolder = BoxPath(FForm.edtOutputPath);
    show.SoundFile = BoxPath(FForm.edtSoundFile);
    if (FForm.cmbCompressorList->currentIndex() >= 0)
        show.Compressor = FForm.cmbCompressorList->currentText().toStdString();
    SetShowMovieOptions(show, FForm.pnl3_grpMovie->Options());
    show.Kept = FKept;
    return show;
}

std::optional<TShowCommands::TFileStamp> TShowCommands::StampOf(const std::string &Path)
{
    struct stat st
    {};
    if (::stat(Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return TFileStamp{static_cast<unsigned long long>(st.st_dev),
                      static_cast<unsigned long long>(st.st_ino),
                      static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
                      static_cast<long long>(st.st_mtim.tv_nsec)};
}

bool TShowCommands::MayOverwrite(const std::string &Path)
{
    if (FCurrent.empty() || Path != FCurrent)
        return true;
    // A show that is gone is written again; something that is not a file fails
    // on writing and the error says why.
    const std::optional<TFileStamp> now = StampOf(Path);
    if (!now || now == FStamp)
        return true;
    const forms::TApplication *app = forms::Application();
    const std::string text = "The show \"" + FileNameOf(Path)
                             + "\" was changed by another program since it was opened or saved "
                               "here. Save over it?";
    return win32::MessageBoxA(FForm.Handle(), text.c_str(),
                              app ? app->Title().c_str() : ApplicationTitle,
                              win32::MB_YESNO | win32::MB_ICONWARNING | win32::MB_DEFBUTTON2)
           == win32::IDYES;
}

bool TShowCommands::Save(const std::string &Path)
{
    return Write(Path) != TSaved::No;
}

TShowCommands::TSaved TShowCommands::Write(const std::string &Path)
{
    if (!MayOverwrite(Path))
        return TSaved::No;
    TShow show = Collect();
    const TShowUnsaved leftOut = WriteShow(Path, show);
    // The write puts a new file in the old one's place: its stamp is taken now.
    FStamp = StampOf(Path);
    FCurrent = Path;
    FAsKept = std::move(show);
    FForm.sb_status->SetCaption("Saved " + FileNameOf(Path) + ".");
    if (leftOut.Photos.empty() && leftOut.Settings.empty())
        return TSaved::Whole;
    std::string text;
    auto list = [&text](const char *sentence, const std::vector<std::string> &items) {
        if (items.empty())
            return;
        text += (text.empty() ? "" : "\n\n") + std::string(sentence);
        for (const std::string &item : items)
            text += "\n" + item;
    };
    list("These photos have a line break in their names and were not saved:", leftOut.Photos);
    list("These settings have a line break in their values and were not saved:", leftOut.Settings);
    Warn(FForm.Handle(), text);
    return TSaved::Partly;
}

void TShowCommands::Apply(const TShow &Show, std::vector<std::string> &LeftOut)
{
    if (Show.Standard)
        FForm.pnl3_grpStandard->SetItemIndex(*Show.Standard);
    if (Show.Resolution)
        FForm.pnl3_grpResolution->SetItemIndex(*Show.Resolution);
    if (Show.Interval)
        FForm.edtInterval->SetValue(*Show.Interval);
    if (Show.OutputFolder)
        SetBoxPath(FForm.edtOutputPath, *Show.OutputFolder);
    if (Show.SoundFile)
        SetBoxPath(FForm.edtSoundFile, *Show.SoundFile);
    if (Show.Compressor) {
        const int index = FForm.cmbCompressorList->findText(
            QString::fromStdString(*Show.Compressor), Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            FForm.cmbCompressorList->setCurrentIndex(index);
        else
            LeftOut.push_back("Compressor=" + *Show.Compressor + " (not on this machine)");
    }
    // Movie choices the show does not name (one saved before they were
    // offered) are the defaults, as quillon-render takes them, not those of
    // the show open before; further sound tracks go with the sound file box.
    MovieOptions movie;
    if (!Show.SoundFile)
        movie.moreSoundFiles = FForm.pnl3_grpMovie->Options().moreSoundFiles;
    FForm.pnl3_grpMovie->SetOptions(ShowMovieOptions(Show, std::move(movie)));
    FKept = Show.Kept;
}

void TShowCommands::Open(const std::string &Path, std::function<void()> Then)
{
    if (FForm.PhotoRow().RefuseWhileAdding())
        return;
    // Taken before the read: a change while it reads shows as a change.
    const std::optional<TFileStamp> stamp = StampOf(Path);
    TShowReading reading = ReadShow(Path);
    if (!reading.Failure.empty()) {
        Warn(FForm.Handle(), ShowFailureMessage(Path, reading.Failure));
        if (Then)
            Then();
        return;
    }
    if (!MayLeave(Path))
        return;
    // Until its photos are in, the window holds no show.
    FCurrent.clear();
    FFolder = Path.substr(0, Path.rfind('/'));
    auto leftOut = std::make_shared<std::vector<std::string>>(std::move(reading.LeftOut));
    FRead.clear();
    Apply(reading.Show, *leftOut);
    // The settings as the show gave them, what the controls made of its values
    // included: one changed while the photos come in is a change.
    FAsKept = Collect();

    DeleteAllPhotos(*FForm.PhotoThumbPanel1);
    FForm.tabAddPhotosClick(nullptr);
    // Photos that are gone or may not be opened, folders and devices are left
    // out before any is read (the first two kept for the next save); those
    // that are not pictures it can read are left out as the add meets them.
    auto photos = std::make_shared<const std::vector<std::string>>(std::move(reading.Show.Photos));
    auto gone = std::make_shared<std::vector<std::string>>();
    auto goneAt = std::make_shared<std::vector<bool>>(photos->size());
    FForm.PhotoRow().AppendLeavingOut(
        [photos, gone, goneAt] {
            std::vector<std::string> there;
            for (std::size_t i = 0; i < photos->size(); ++i) {
                const std::string &photo = (*photos)[i];
                bool missing = false;
                if (const std::string problem = ShowPhotoProblem(photo, &missing);
                    !problem.empty()) {
                    gone->push_back(photo + ": " + problem);
                    (*goneAt)[i] = missing;
                } else
                    there.push_back(photo);
            }
            return there;
        },
        [this, Path, stamp, leftOut, photos, gone, goneAt,
         Then](const TPhotoAdder::TOutcome &Outcome) {
            TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
            if (panel->ThumbItems()->Count() >= 1)
                panel->SetSelectedIndex(0);
            FForm.ApplyView();
            FForm.sb_status->SetCaption(PhotoCountText(panel->ThumbItems()->Count()));
            // The photos as they came in, those that were gone at their
            // places: unchanged until the user changes something.
            FCurrent = Path;
            FStamp = stamp;
            const TThumbItems &items = *panel->ThumbItems();
            if (std::find(goneAt->begin(), goneAt->end(), true) != goneAt->end()) {
                // The list is the show's photos less those left out, in order.
                int next = 0;
                for (std::size_t i = 0; i < photos->size(); ++i) {
                    if ((*goneAt)[i]) {
                        FRead.push_back({(*photos)[i]});
                    } else if (next < items.Count()
                               && items.Items(next)->FileName() == (*photos)[i]) {
                        FRead.push_back({(*photos)[i], items.Items(next)->ID()});
                        ++next;
                    }
                }
            }
            FAsKept.Photos = WithGonePhotos(items, FRead);
            leftOut->insert(leftOut->end(), gone->begin(), gone->end());
            for (const TPhotoAdder::TLeftOut &photo : Outcome.LeftOut)
                leftOut->push_back(photo.Path + ": " + photo.Reason);
            if (!leftOut->empty())
                Warn(FForm.Handle(), ShowLeftOutMessage(Path, *leftOut));
            if (Then)
                Then();
        });
}

} // namespace quillon
