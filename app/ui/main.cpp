// Quillon: start-up. The application object with its title, look, font and
// desktop services; then the main window, shown, and the message loop until it
// is closed. A show file named on the command line is opened, photos and
// folders named there are added, as if they were dropped on the window.
#include "app/ui/drop.h"
#include "app/ui/mainunit.h"
#include "app/ui/startup.h"
#include "platform/forms/application.h"

#include <QTimer>

#include <cerrno>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string Absolute(const std::string &path)
{
    if (path.empty() || path.front() == '/')
        return path;
    std::vector<char> folder(4096);
    while (!::getcwd(folder.data(), folder.size())) {
        if (errno != ERANGE)
            return path;
        folder.resize(folder.size() * 2);
    }
    return std::string(folder.data()) + "/" + path;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication::setApplicationName(QStringLiteral("quillon"));
    forms::TApplication app(argc, argv);
    quillon::SetUpApplication(app);

    // Qt has taken its own options out of argv by now.
    std::vector<std::string> named;
    for (int i = 1; i < argc; ++i)
        named.push_back(Absolute(argv[i]));

    quillon::TMainForm form;
    form.show();
    if (!named.empty())
        QTimer::singleShot(0, &form, [&form, named] { form.Drops().Take(named); });
    return app.exec();
}
