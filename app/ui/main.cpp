// Quillon: start-up. The application object with its title, look, font and
// desktop services; then the main window, shown, and the message loop until it
// is closed.
#include "app/ui/mainunit.h"
#include "app/ui/startup.h"
#include "platform/forms/application.h"

int main(int argc, char **argv)
{
    QApplication::setApplicationName(QStringLiteral("quillon"));
    forms::TApplication app(argc, argv);
    quillon::SetUpApplication(app);

    quillon::TMainForm form;
    form.show();
    return app.exec();
}
