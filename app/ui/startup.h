// What the program sets up before its main window: the application's title, its
// look and font, and the desktop behind the platform's shell services (opening
// files, folders and addresses with the desktop's default handler, and the
// folder chooser).
#pragma once

#include <QUrl>

#include <string>

namespace forms {
class TApplication;
}

namespace quillon {

// Title "Tessary", the Fusion style, the window font and the desktop services.
void SetUpApplication(forms::TApplication &app);

// Installs the shell and folder-chooser handlers for the whole program.
void InstallDesktopServices();

// The address the desktop is asked to open for a file or folder (an absolute
// path, its bytes whatever they are) or for an address given as text.
QUrl DesktopUrl(const std::string &file);

} // namespace quillon
