#include "app/ui/keyboard.h"

#include "app/ui/mainunit.h"
#include "app/ui/preview.h"
#include "app/ui/show_commands.h"
#include "app/ui/stop_command.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QToolButton>

namespace quillon {

namespace {

const QColor kRingColour(0x2F, 0x80, 0xED);
constexpr int kRingMargin = 2;

class FocusRingWidget : public QWidget
{
public:
    explicit FocusRingWidget(QWidget *parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(kRingColour, 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
    }
};

} // namespace

TKeyboard::TKeyboard(TMainForm &Form, TShowCommands &Shows)
    : FForm(Form)
{
    TMainForm &f = FForm;
    // The picture controls: reached by Tab (a click still does not take the
    // focus, as before), and Space or Enter clicks them.
    const std::vector<std::pair<QWidget *, std::function<void()>>> pictures = {
        {f.tabAddPhotos, [&f] { f.tabAddPhotosClick(f.tabAddPhotos); }},
        {f.tabOutput, [&f] { f.tabOutputClick(f.tabOutput); }},
        {f.pnl1_btnAdd, [&f] { f.pnl1_btnAddClick(f.pnl1_btnAdd); }},
        {f.pnl1_btnAddFolder, [&f] { f.pnl1_btnAddFolderClick(f.pnl1_btnAddFolder); }},
        {f.pnl1_btnDelete, [&f] { f.pnl1_btnDeleteClick(f.pnl1_btnDelete); }},
        {f.pnl1_btnDelAll, [&f] { f.pnl1_btnDelAllClick(f.pnl1_btnDelAll); }},
        {f.Preview().pnl3_btnPreview,
         [&f] { f.Preview().PreviewClick(f.Preview().pnl3_btnPreview); }},
        {f.pnl3_btnGo, [&f] { f.pnl3_btnGoClick(f.pnl3_btnGo); }},
        {Shows.lblOpenShow, [&Shows] { Shows.OpenShowClick(Shows.lblOpenShow); }},
        {Shows.lblSaveShow, [&Shows] { Shows.SaveShowClick(Shows.lblSaveShow); }},
        {f.lblAbout, [&f] { f.lblAboutClick(f.lblAbout); }},
        {f.Image1, [&f] { f.Image1Click(f.Image1); }},
        {f.Image2, [&f] { f.Image2Click(f.Image2); }},
    };
    for (const auto &[widget, action] : pictures) {
        widget->setFocusPolicy(Qt::TabFocus);
        widget->installEventFilter(this);
        FActions[widget] = action;
    }
    // The plain buttons take Space themselves; Enter, and the ring, as the
    // picture controls.
    for (QAbstractButton *button : std::initializer_list<QAbstractButton *>{
             f.btnSelectMusic, f.SpeedButton3, f.butBrowse, f.Button3, f.pnl3_grpMovie->btnSettings,
             f.Stop().btnStop}) {
        button->installEventFilter(this);
        FActions[button] = [button] { button->click(); };
    }

    // What a screen reader says for the controls whose look carries no text of
    // their own (pictures) or whose caption is a label beside them.
    const std::vector<std::pair<QWidget *, const char *>> names = {
        {f.tabAddPhotos, "Photos"},
        {f.tabOutput, "Output"},
        {f.pnl1_ScrollBox, "Photos of the show"},
        {f.pnl1_btnAdd, "Add Photos"},
        {f.pnl1_btnAddFolder, "Add Folder"},
        {f.pnl1_btnDelete, "Remove"},
        {f.pnl1_btnDelAll, "Remove All"},
        {f.edtInterval, "Slide Interval"},
        {f.edtOutputPath, "Output Folder"},
        {f.pnl3_btnGo, "Go"},
        {f.Image1, "Minimise"},
        {f.Image2, "Close"},
    };
    for (const auto &[widget, name] : names)
        if (widget->accessibleName().isEmpty())
            widget->setAccessibleName(QString::fromLatin1(name));

    FOrder
        = {f.tabAddPhotos, f.tabOutput,
           // the photo view
           f.pnl1_ScrollBox, f.pnl1_btnAdd, f.pnl1_btnAddFolder, f.pnl1_btnDelete, f.pnl1_btnDelAll,
           // the output view, top to bottom
           f.edtSoundFile, f.btnSelectMusic};
    for (int i = 0; i < f.pnl3_grpStandard->ItemCount(); ++i)
        FOrder.push_back(f.pnl3_grpStandard->Button(i));
    for (int i = 0; i < f.pnl3_grpResolution->ItemCount(); ++i)
        FOrder.push_back(f.pnl3_grpResolution->Button(i));
    for (QWidget *w : std::initializer_list<QWidget *>{
             f.edtInterval, f.edtOutputPath, f.SpeedButton3, f.butBrowse, f.cmbCompressorList,
             f.Button3, f.pnl3_grpMovie->btnSettings, f.Preview().pnl3_btnPreview, f.Stop().btnStop,
             f.pnl3_btnGo,
             // the window's edge
             Shows.lblOpenShow, Shows.lblSaveShow, f.lblAbout, f.Image1, f.Image2})
        FOrder.push_back(w);
    for (std::size_t i = 1; i < FOrder.size(); ++i)
        QWidget::setTabOrder(FOrder[i - 1], FOrder[i]);
    // The small buttons of the output view can be reached too.
    for (QWidget *w :
         {static_cast<QWidget *>(f.btnSelectMusic), static_cast<QWidget *>(f.SpeedButton3)})
        w->setFocusPolicy(Qt::StrongFocus);

    FRing = new FocusRingWidget(&FForm);
    FForm.pnl1_ScrollBox->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget *, QWidget *now) { FocusChanged(now); });
}

void TKeyboard::FocusChanged(QWidget *now)
{
    const bool ringed = now && (FActions.count(now) || now == FForm.pnl1_ScrollBox);
    FRinged = ringed ? now : nullptr;
    PlaceRing();
}

void TKeyboard::PlaceRing()
{
    if (!FRinged || !FRinged->isVisible()) {
        FRing->hide();
        return;
    }
    const QRect area(FRinged->mapTo(&FForm, QPoint(0, 0)), FRinged->size());
    FRing->setGeometry(
        area.adjusted(-kRingMargin - 1, -kRingMargin - 1, kRingMargin + 1, kRingMargin + 1));
    FRing->raise();
    FRing->show();
}

bool TKeyboard::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto action = FActions.find(watched);
        if (action == FActions.end())
            return false;
        const auto *press = static_cast<QKeyEvent *>(event);
        const int key = press->key();
        if (key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        // A key held down presses once, as a button's own Space does.
        if (!press->isAutoRepeat())
            action->second();
        return true;
    }
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        if (watched == FRinged)
            PlaceRing();
        return false;
    default:
        return false;
    }
}

} // namespace quillon
