// Drives the real main window through its states and saves a screenshot of the
// whole screen at each: both views with the sample photos, a hovered button and
// the red "About " label, a run in progress, its outcome box, the refusal of a
// Go while another process's run holds the job folder, the movie settings
// dialog, the about box, the question of a close after a show has changed and
// the one before a save over a show that another program changed.
// Run under a real X server:
//   xvfb-run -s "-screen 0 1280x1024x24" window_gallery /tmp/shot-
// writes /tmp/shot-photos.png, /tmp/shot-output.png, ... and renders the movie
// into a temporary folder.
#include "app/job/app_define.h"
#include "app/job/compressor_list.h"
#include "app/ui/about.h"
#include "app/ui/mainunit.h"
#include "app/ui/preview.h"
#include "app/ui/show_commands.h"
#include "app/ui/startup.h"
#include "platform/forms/application.h"
#include "platform/win32/shell.h"
#include "platform/win32/tempfolder.h"

#include "qtwidgets.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <functional>

using namespace quillon;

namespace {

struct Step
{
    int delayMs;
    std::function<bool()> run; // false: try again after the delay
};

} // namespace

int main(int argc, char **argv)
{
    forms::TApplication app(argc, argv);
    SetUpApplication(app);
    const QString prefix = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("shot-");
    testsupport::TempDir temp;
    // Absolute, as the folder chooser hands folders over.
    const std::string samples = QDir(QString::fromStdString(testsupport::SourceDir() + "/samples"))
                                    .absolutePath()
                                    .toStdString()
                                + "/";
    const std::string movies = temp.file("Movies/");

    // The folder chooser answers for the user: the samples, then the movie folder.
    std::deque<std::string> folders = {samples, movies};
    win32::SetFolderChooser([&](const win32::BROWSEINFOA &) -> std::optional<std::string> {
        if (folders.empty())
            return std::nullopt;
        std::string next = folders.front();
        folders.pop_front();
        return next;
    });

    TMainForm form;
    form.show();

    auto shoot = [&](const char *name) {
        const QPixmap shot = form.screen()->grabWindow(0);
        const QString file = prefix + QString::fromLatin1(name) + QStringLiteral(".png");
        std::printf("%s %s\n", shot.save(file) ? "saved" : "could not save", qPrintable(file));
    };

    std::deque<Step> steps = {
        {400,
         [&] {
             shoot("empty");
             return true;
         }},
        {100,
         [&] {
             form.pnl1_btnAddFolderClick(nullptr);
             return true;
         }},
        {50,
         [&] {
             // The photos come in on worker threads.
             if (form.Adding())
                 return false;
             form.PhotoThumbPanel1->SetSelectedIndex(2);
             testsupport::SendEnter(form.pnl1_btnAddFolder);
             form.lblAboutMouseMove(nullptr, 0, 1, 1);
             return true;
         }},
        {400,
         [&] {
             shoot("photos");
             // The row from the keyboard: its focus ring (no window manager
             // makes the window active here).
             QApplication::setActiveWindow(&form);
             form.pnl1_ScrollBox->setFocus(Qt::TabFocusReason);
             return true;
         }},
        {300,
         [&] {
             shoot("keyboard");
             return true;
         }},
        {100,
         [&] {
             form.lblAboutMouseLeave(nullptr);
             form.tabOutputClick(nullptr);
             form.SpeedButton3Click(nullptr);
             form.pnl3_grpStandard->SetItemIndex(1);
             form.edtInterval->SetValue(3);
             form.edtSoundFile->setText(QString::fromStdString(samples + "tune.wav"));
             form.pnl3_btnGo->setFocus(Qt::TabFocusReason);
             return true;
         }},
        {400,
         [&] {
             shoot("output");
             form.Preview().PreviewClick(nullptr);
             return true;
         }},
        {1500,
         [&] {
             shoot("preview");
             if (TPreviewForm *preview = form.Preview().Form())
                 preview->close();
             return true;
         }},
        {100,
         [&] {
             // The movie's further choices, changed and taken over.
             QTimer::singleShot(400, &app, [&] {
                 auto *dialog
                     = dynamic_cast<TMovieSettingsDialog *>(QApplication::activeModalWidget());
                 if (!dialog)
                     return;
                 dialog->cmbFrameSize->setCurrentIndex(2);
                 dialog->cmbFit->setCurrentIndex(3);
                 // WebM: the compressor gives way to one it carries.
                 dialog->cmbContainer->setCurrentIndex(3);
                 dialog->lstSoundFiles->addItem(QString::fromStdString(samples + "tune.wav"));
                 QTimer::singleShot(200, &app, [&, dialog] {
                     shoot("movie-settings");
                     dialog->accept();
                 });
             });
             form.pnl3_grpMovie->btnSettingsClick();
             return true;
         }},
        {400,
         [&] {
             shoot("output-movie");
             // Back to the defaults, so that the run below makes the usual movie.
             form.pnl3_grpMovie->SetOptions(MovieOptions());
             form.cmbCompressorList->setCurrentIndex(form.cmbCompressorList->findText(
                 QString::fromLatin1(PreferredCompressorMark), Qt::MatchContains));
             return true;
         }},
        {100,
         [&] {
             // The compressor settings of Tamsik, over the window.
             QTimer::singleShot(400, &app, [&] {
                 shoot("config");
                 if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                     dialog->reject();
             });
             form.Button3Click(nullptr);
             return true;
         }},
        {100,
         [&] {
             form.pnl3_btnGoClick(nullptr);
             return true;
         }},
        {50,
         [&] {
             if (!form.ProgressConvert->isVisible() || form.ProgressConvert->value() < 2)
                 return false;
             shoot("running");
             return true;
         }},
        {100,
         [&] {
             auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
             if (!box)
                 return false;
             shoot("finished");
             box->accept();
             return true;
         }},
        {300,
         [&] {
             // Another process's run holds the job folder: Go says so and starts nothing.
             win32::FolderLock other;
             other.TryLock(GetTempDirectory());
             QTimer::singleShot(400, &app, [&] {
                 shoot("busy");
                 if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                     box->accept();
             });
             form.pnl3_btnGoClick(nullptr);
             return true;
         }},
        {300,
         [&] {
             auto *about = new TAboutForm(&form);
             about->setAttribute(Qt::WA_DeleteOnClose);
             about->open();
             return true;
         }},
        {400,
         [&] {
             shoot("about");
             if (QWidget *about = QApplication::activeModalWidget())
                 about->close();
             return true;
         }},
        {300,
         [&] {
             // A status line longer than its room stops short of Go.
             form.Shows().Save(
                 temp.file("Summer holiday in the mountains with the whole family, 2026.qshow"));
             return true;
         }},
        {300,
         [&] {
             shoot("long-status");
             return true;
         }},
        {300,
         [&] {
             // A show changed since it was saved: a close asks first; Cancel stays.
             form.Shows().Save(temp.file("trip.qshow"));
             const int interval = form.edtInterval->Value();
             form.edtInterval->SetValue(interval + 1);
             QTimer::singleShot(400, &app, [&] {
                 shoot("save-changes");
                 // Without a window manager the question need not be the active window.
                 for (QWidget *top : QApplication::topLevelWidgets())
                     if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible())
                         if (QAbstractButton *cancel = box->button(QMessageBox::Cancel))
                             cancel->click();
             });
             form.close();
             // Undone, the change no longer stops the quit at the end.
             form.edtInterval->SetValue(interval);
             return true;
         }},
        {300,
         [&] {
             // Another program saved the show meanwhile: saving over it asks; No stays.
             const std::string show = temp.file("trip.qshow");
             testsupport::WriteFile(show, testsupport::ReadFile(show) + "; elsewhere\r\n");
             const int interval = form.edtInterval->Value();
             form.edtInterval->SetValue(interval + 1);
             auto press = [](QMessageBox::StandardButton standard, const QString &text) {
                 for (QWidget *top : QApplication::topLevelWidgets())
                     if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible())
                         for (QAbstractButton *button : box->buttons())
                             if (text.isEmpty() ? box->standardButton(button) == standard
                                                : button->text() == text)
                                 button->click();
             };
             QTimer::singleShot(400, &app, [&, press] {
                 press(QMessageBox::NoButton, QStringLiteral("Save"));
                 QTimer::singleShot(400, &app, [&, press] {
                     shoot("save-over");
                     press(QMessageBox::No, {});
                 });
             });
             form.close();
             form.edtInterval->SetValue(interval);
             return true;
         }},
    };

    std::function<void()> next = [&] {
        if (steps.empty()) {
            app.quit();
            return;
        }
        QTimer::singleShot(steps.front().delayMs, &app, [&] {
            if (steps.front().run())
                steps.pop_front();
            next();
        });
    };
    next();
    return app.exec();
}
