#include "app/ui/startup.h"

#include "app/ui/mainunit.h"

#include "platform/forms/application.h"
#include "platform/forms/controls.h"
#include "platform/win32/shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QStyleFactory>
#include <QUrl>

namespace quillon {

QUrl DesktopUrl(const std::string &file)
{
    // A path's bytes go into the address as they are, percent-encoded: a name
    // that is not UTF-8 would not survive a QString.
    if (!file.empty() && file.front() == '/')
        return QUrl::fromEncoded("file://" + QByteArray::fromStdString(file).toPercentEncoding("/"),
                                 QUrl::StrictMode);
    const QString text = QString::fromStdString(file);
    const QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty())
        return url;
    return QUrl::fromUserInput(text);
}

namespace {

constexpr std::intptr_t kOpened = 42;
constexpr std::intptr_t kNotFound = 2; // ERROR_FILE_NOT_FOUND

std::intptr_t OpenWithDesktop(const win32::ShellRequest &request)
{
    if (request.file.empty())
        return kNotFound;
    bool opened = false;
    forms::RunOnGuiThread([&] { opened = QDesktopServices::openUrl(DesktopUrl(request.file)); });
    return opened ? kOpened : kNotFound;
}

std::optional<std::string> ChooseFolder(const win32::BROWSEINFOA &info)
{
    std::optional<std::string> chosen;
    forms::RunOnGuiThread([&] {
        const QString folder = QFileDialog::getExistingDirectory(
            forms::FindControl(info.hwndOwner), QString::fromStdString(info.lpszTitle),
            QDir::homePath(), QFileDialog::ShowDirsOnly);
        if (!folder.isEmpty())
            chosen = folder.toStdString();
    });
    return chosen;
}

} // namespace

void SetUpApplication(forms::TApplication &app)
{
    app.SetTitle(ApplicationTitle);
    // No display name: the X platform would add it to every dialog's title.
    // One look on every desktop, whatever the platform theme would pick.
    if (QStyle *style = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(style);
    QApplication::setFont(UiFont());
    InstallDesktopServices();
}

void InstallDesktopServices()
{
    win32::SetShellHandler(OpenWithDesktop);
    win32::SetFolderChooser(ChooseFolder);
}

} // namespace quillon
