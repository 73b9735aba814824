// Shows that can be kept: "Save Show" writes the photo list and every setting
// of the Output view into a show file, "Open Show" brings them back (Ctrl+S and
// Ctrl+O do the same). Both links sit beside "About " at the foot of the window.
#pragma once

#include "app/photos/show_file.h"

#include <QObject>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace forms {
class TLabel;
}

namespace quillon {

class TMainForm;
class TThumbItems;

class TShowCommands : public QObject
{
public:
    explicit TShowCommands(TMainForm &Form);

    forms::TLabel *lblOpenShow;
    forms::TLabel *lblSaveShow;

    // Asks for a show file and opens it.
    void OpenShowClick(QObject *Sender);
    // Asks where to keep the show and writes it.
    void SaveShowClick(QObject *Sender);

    // Replaces the photo list and the settings with those of the show file, as
    // far as it can be read; a message lists what was left out: settings that
    // are not valid here, photos that are gone or cannot be read, the whole
    // file when it cannot be read (nothing changes then). What would be lost
    // is offered for saving first (see MayLeave). `Then` runs once the show's
    // photos are in, or once the user has been told that it cannot be read; not
    // when the open is refused or cancelled.
    void Open(const std::string &Path, std::function<void()> Then = {});
    // Writes the photo list and the settings as they stand to `Path`, which
    // becomes the current show. Over the current show's file when another
    // program has changed or replaced it since this window opened or saved it,
    // asks first; false when the user keeps it (nothing is written then).
    // Raises forms::EFCreateError when it cannot write.
    bool Save(const std::string &Path);

    // Whether the window may close: when the current show has changed, asks
    // whether to save the changes first. False when the user cancels or the
    // save fails.
    bool MayClose() { return MayLeave({}); }

    // The show file the list and settings were last opened from or saved to;
    // empty when none was.
    const std::string &CurrentShow() const { return FCurrent; }
    // True when the list or a setting differs from the current show as it was
    // opened or saved.
    bool Changed() const { return !FCurrent.empty() && !(Collect() == FAsKept); }

    // The show as the window holds it now. Its photos are the list's, and those
    // that were gone when the show was opened (a disk not mounted, say): the
    // window cannot show them, nor can the user remove them, so they stay
    // where they were among the others.
    TShow Collect() const;
    // Remove All takes the photos that were gone at the open with the others.
    void ForgetGonePhotos() { FRead.clear(); }

private:
    // A photo of the show as it was opened, and whether it was gone then.
    struct TReadPhoto
    {
        std::string Path;
        int Item = -1; // the ID of the list's item that holds it; -1 when it was gone
        bool Gone() const { return Item < 0; }
    };
    // What tells whether a file is still the one this window read or wrote.
    struct TFileStamp
    {
        unsigned long long Device = 0, Inode = 0;
        long long Size = 0, Seconds = 0, Nanoseconds = 0;
        friend bool operator==(const TFileStamp &, const TFileStamp &) = default;
    };
    // The plain file at `Path` (links followed); nullopt when there is none.
    static std::optional<TFileStamp> StampOf(const std::string &Path);
    // Whether `Path` may be written: true unless it is the current show's file
    // and another program changed it meanwhile and the user says to keep that.
    bool MayOverwrite(const std::string &Path);

    // `List` with the photos that were gone in `Read` put back: each after the
    // photo it followed there, or after the nearest one before that which the
    // list still holds, or first.
    static std::vector<std::string> WithGonePhotos(const TThumbItems &Items,
                                                   const std::vector<TReadPhoto> &Read);
    void Apply(const TShow &Show, std::vector<std::string> &LeftOut);
    // Before the list and settings are left for the show `Opening` (empty: the
    // window closes): asks whether to save what would be lost, a changed current
    // show or, when opening, a list that is kept in no show. Saves when told to.
    // False when they are to stay.
    bool MayLeave(const std::string &Opening);
    enum class TSaved {
        No,     // nothing was written: no file chosen, or the user kept the file
        Whole,  // the show is in the file
        Partly, // written without what no line holds, and the user told so
    };
    // Save's steps, saying how much of the show the file holds.
    TSaved Write(const std::string &Path);
    // Asks where to keep the show and writes it.
    TSaved ChooseAndSave();

    TMainForm &FForm;
    std::vector<TShow::TKept> FKept; // what the last show opened held beyond this version
    // The photos of the show last opened when some were gone; else empty.
    std::vector<TReadPhoto> FRead;
    std::string FFolder;  // where the dialogs start
    std::string FCurrent; // the current show's file
    TShow FAsKept;        // the window's show as FCurrent was opened or saved
    // FCurrent's file as this window opened or last saved it.
    std::optional<TFileStamp> FStamp;
};

} // namespace quillon
