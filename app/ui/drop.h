// Files and folders dropped on the main window from a file manager are added as
// the add commands add them: pictures as Add Photos would take them from its
// dialog, folders scanned as Add Folder scans them. A show file dropped alone
// is opened. The empty list's picture invites the drop, and a click on it opens
// Add Photos.
#pragma once

#include <QByteArray>
#include <QObject>

#include <string>
#include <vector>

namespace quillon {

class TMainForm;

// The local files that a "text/uri-list" names, as bytes, in its order:
// "file:" addresses on this machine, percent-decoded; other addresses and
// comment lines are skipped.
std::vector<std::string> LocalPathsOfUriList(const QByteArray &list);

// True for the names that Add Photos offers in its dialog: ".jpg", ".jpeg" and
// ".bmp", in any case.
bool IsPhotoName(const std::string &path);

// What dropping `paths` adds, in order: folders scanned as Add Folder scans
// them (handed over with a closing '/', as the folder chooser hands them),
// photos by name, anything else left out. Touches the file system: run it on a
// worker thread. The folders that could not be read go to `unreadable`.
std::vector<std::string> DroppedPhotos(const std::vector<std::string> &paths,
                                       std::vector<std::string> *unreadable = nullptr);

class TDropTarget : public QObject
{
public:
    explicit TDropTarget(TMainForm &Form);

    // Adds what the paths name, as a drop of them does (anything else is passed
    // over); a lone show file is opened instead.
    void Take(const std::vector<std::string> &Paths);
    // The program's command line: photos and folders as Take adds them. A show
    // named among them is opened first and they are added after its photos;
    // further shows, and names that are neither a photo, a folder nor a show,
    // are named in an error message and left out.
    void TakeNamed(const std::vector<std::string> &Paths);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TMainForm &FForm;
};

} // namespace quillon
