#include "app/ui/stop_command.h"

#include "app/ui/mainunit.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QProgressBar>
#include <QToolButton>

namespace quillon {

TStopCommand::TStopCommand(TMainForm &Form)
    : FForm(Form)
{
    btnStop = new QToolButton(&FForm);
    btnStop->setText(QStringLiteral("Stop"));
    btnStop->setFont(UiFont());
    btnStop->setToolTip(QStringLiteral("Stop making the movie (Esc)"));
    btnStop->setAccessibleName(QStringLiteral("Stop"));
    btnStop->setFocusPolicy(Qt::TabFocus);
    // Left of the bar, where the short time texts of a run leave room.
    const QRect bar = FForm.ProgressConvert->geometry();
    btnStop->setGeometry(bar.left() - 50, bar.center().y() - 10, 44, 20);
    btnStop->hide();
    connect(btnStop, &QToolButton::clicked, this, [this] { StopClick(); });
    // It comes and goes with the bar.
    FForm.ProgressConvert->installEventFilter(this);

    // Escape anywhere in the window, whichever control has the focus.
    qApp->installEventFilter(this);
}

TStopCommand::~TStopCommand()
{
    qApp->removeEventFilter(this);
}

void TStopCommand::Arm()
{
    FRequest.store(0);
    btnStop->setEnabled(true);
}

void TStopCommand::StopClick()
{
    if (!FForm.Converting())
        return;
    FRequest.store(1);
    // Once asked, the run only has to end.
    btnStop->setEnabled(false);
}

bool TStopCommand::eventFilter(QObject *watched, QEvent *event)
{
    // Only while a run is under way: Escape means nothing else to the window then.
    if (event->type() == QEvent::KeyPress && FForm.Converting()
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && widget->window() == &FForm) {
            StopClick();
            return true;
        }
    }
    if (watched == FForm.ProgressConvert) {
        if (event->type() == QEvent::ShowToParent) {
            btnStop->show();
            btnStop->raise();
        } else if (event->type() == QEvent::HideToParent) {
            btnStop->hide();
        }
    }
    return false;
}

} // namespace quillon
