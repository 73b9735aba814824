#include "app/ui/drop.h"

#include "app/photos/folder_scan.h"
#include "app/photos/listed_message.h"
#include "app/photos/photo_commands.h"
#include "app/ui/mainunit.h"
#include "app/ui/photo_row.h"
#include "app/ui/show_commands.h"
#include "platform/forms/application.h"
#include "platform/forms/errors.h"
#include "platform/win32/files.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>

namespace quillon {

namespace {

const char *const kUriList = "text/uri-list";

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            bytes += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

bool IsThisMachine(std::string_view host)
{
    if (host.empty() || host == "localhost")
        return true;
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 && host == name;
}

std::string LowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

bool IsShowName(const std::string &path)
{
    return LowerCase(path).ends_with(".qshow");
}

std::string NotTakenText(const std::string &path, const std::string &reason)
{
    return "Cannot open \"" + path + "\": " + reason;
}

} // namespace

std::vector<std::string> LocalPathsOfUriList(const QByteArray &list)
{
    std::vector<std::string> paths;
    const std::string_view text(list.constData(), static_cast<std::size_t>(list.size()));
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        // "file:" is matched in any case, as schemes are.
        if (line.size() < 5 || LowerCase(std::string(line.substr(0, 5))) != "file:")
            continue;
        std::string_view rest = line.substr(5);
        if (rest.starts_with("//")) {
            rest.remove_prefix(2);
            const std::size_t slash = rest.find('/');
            if (slash == std::string_view::npos || !IsThisMachine(rest.substr(0, slash)))
                continue;
            rest.remove_prefix(slash);
        }
        if (!rest.starts_with('/'))
            continue;
        std::string path = PercentDecoded(rest);
        // A name holding a NUL byte cannot be a path.
        if (path.find('\0') == std::string::npos)
            paths.push_back(std::move(path));
    }
    return paths;
}

bool IsPhotoName(const std::string &path)
{
    const std::string lower = LowerCase(path.substr(path.find_last_of('/') + 1));
    return lower.ends_with(".jpg") || lower.ends_with(".jpeg") || lower.ends_with(".bmp");
}

std::vector<std::string> DroppedPhotos(const std::vector<std::string> &paths,
                                       std::vector<std::string> *unreadable)
{
    std::vector<std::string> photos;
    for (const std::string &path : paths) {
        if (win32::DirectoryExists(path)) {
            const std::vector<std::string> folders
                = ScanPictureFolder(photos, path.back() == '/' ? path : path + "/");
            if (unreadable)
                unreadable->insert(unreadable->end(), folders.begin(), folders.end());
        } else if (IsPhotoName(path))
            photos.push_back(path);
    }
    return photos;
}

TDropTarget::TDropTarget(TMainForm &Form)
    : FForm(Form)
{
    FForm.setAcceptDrops(true);
    FForm.installEventFilter(this);
    FForm.pnl1_imgBack->setCursor(Qt::PointingHandCursor);
    FForm.pnl1_imgBack->setToolTip(
        QStringLiteral("Drop photos or folders here, or click to add photos"));
    FForm.pnl1_imgBack->OnClick = [this](QObject *) { FForm.pnl1_btnAddClick(nullptr); };
}

void TDropTarget::Take(const std::vector<std::string> &Paths)
{
    if (Paths.size() == 1 && IsShowName(Paths.front()) && !win32::DirectoryExists(Paths.front())) {
        FForm.Shows().Open(Paths.front());
        return;
    }
    if (Paths.empty() || FForm.PhotoRow().RefuseWhileAdding())
        return;
    const bool folders = std::any_of(Paths.begin(), Paths.end(), win32::DirectoryExists);
    // The photos are shown as they come in.
    FForm.tabAddPhotosClick(nullptr);
    auto unreadable = std::make_shared<std::vector<std::string>>();
    FForm.PhotoRow().Append([Paths, unreadable] { return DroppedPhotos(Paths, unreadable.get()); },
                            [this, folders, unreadable] {
                                TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
                                if (panel->ThumbItems()->Count() >= 1)
                                    panel->SetSelectedIndex(0);
                                FForm.ApplyView();
                                if (folders)
                                    FForm.sb_status->SetCaption(
                                        PhotoCountText(panel->ThumbItems()->Count()));
                                FForm.WarnUnreadableFolders(*unreadable);
                            });
}

void TDropTarget::TakeNamed(const std::vector<std::string> &Paths)
{
    std::vector<std::string> shows;
    std::vector<std::string> added;
    std::vector<std::string> refused;
    for (const std::string &path : Paths) {
        if (win32::DirectoryExists(path) || IsPhotoName(path)) {
            added.push_back(path);
        } else if (IsShowName(path)) {
            if (shows.empty())
                shows.push_back(path);
            else
                refused.push_back(NotTakenText(path, "only one show can be opened at a time"));
        } else {
            struct stat st
            {};
            refused.push_back(NotTakenText(path, ::stat(path.c_str(), &st) != 0
                                                     ? std::strerror(errno)
                                                     : "it is not a photo, a folder or a show"));
        }
    }
    // Told as a photo that cannot be read is told.
    if (!refused.empty())
        forms::HandleException(
            std::make_exception_ptr(forms::Exception(ListedMessage("", refused))));
    if (shows.empty())
        Take(added);
    else if (added.empty())
        Take(shows);
    else
        FForm.Shows().Open(shows.front(), [this, added] { Take(added); });
}

bool TDropTarget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != &FForm)
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        // Nothing is taken while photos are being added: the pointer says so.
        const QMimeData *data = drag->mimeData();
        if (!FForm.Adding() && data && data->hasFormat(QString::fromLatin1(kUriList))
            && !LocalPathsOfUriList(data->data(QString::fromLatin1(kUriList))).empty()) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QMimeData *data = drop->mimeData();
        if (!data) {
            drop->ignore();
            return true;
        }
        const std::vector<std::string> paths
            = LocalPathsOfUriList(data->data(QString::fromLatin1(kUriList)));
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // A show may ask first whether to save the one it replaces: not while
        // the drag source still waits for the drop to end.
        if (paths.size() == 1 && IsShowName(paths.front()))
            QTimer::singleShot(0, this, [this, paths] { Take(paths); });
        else
            Take(paths);
        return true;
    }
    default:
        return false;
    }
}

} // namespace quillon
