// Shows that can be kept: "Save Show" writes the photo list and every setting
// of the Output view into a show file, "Open Show" brings them back (Ctrl+S and
// Ctrl+O do the same). Both links sit beside "About " at the foot of the window.
#pragma once

#include "app/photos/show_file.h"

#include <QObject>

#include <string>
#include <vector>

namespace forms {
class TLabel;
}

namespace quillon {

class TMainForm;

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
    // file when it cannot be read (nothing changes then).
    void Open(const std::string &Path);
    // Writes the photo list and the settings as they stand to `Path`.
    void Save(const std::string &Path);

    // The show as the window holds it now.
    TShow Collect() const;

private:
    void Apply(const TShow &Show, std::vector<std::string> &LeftOut);

    TMainForm &FForm;
    std::vector<TShow::TKept> FKept; // what the last show opened held beyond this version
    std::string FFolder;             // where the dialogs start
};

} // namespace quillon
