#include "app/ui/about.h"

#include "app/job/app_define.h"
#include "platform/win32/shell.h"

#include <QKeyEvent>
#include <QPushButton>

namespace quillon {

namespace {

forms::TLabel *WhiteLabel(QWidget *parent, int x, int y, const std::string &caption)
{
    auto *label = new forms::TLabel(parent);
    label->SetTransparent(true);
    label->SetFontColor(forms::clWhite);
    label->SetCaption(caption);
    label->move(x, y);
    return label;
}

} // namespace

TAboutForm::TAboutForm(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                         | Qt::MSWindowsFixedSizeDialogHint)
{
    setWindowTitle(QStringLiteral("About"));
    if (owner)
        setFont(owner->font());
    setFixedSize(300, 266);
    setModal(true);

    Image1 = new forms::TImage(this);
    Image1->setGeometry(0, 0, 300, 266);
    {
        const QImage image(QStringLiteral(":/artwork/about.jpg"));
        forms::TPicture picture;
        if (!image.isNull()) {
            const forms::TBitmap bitmap(image);
            picture.SetGraphic(&bitmap);
        }
        Image1->SetPicture(&picture);
    }

    Bevel1 = new TBevel(this);
    Bevel1->setGeometry(0, 201, 297, 9);

    lbl1 = WhiteLabel(this, 112, 65, "Version 2.00 ");
    lbl2 = WhiteLabel(this, 32, 153, SupportContact);
    lblUrl = WhiteLabel(this, 32, 177, "SDFm");
    lblUrl->setCursor(Qt::PointingHandCursor);
    lblUrl->OnClick = [this](QObject *s) { lblUrlClick(s); };

    btnContinue = new QPushButton(QStringLiteral("Continue"), this);
    btnContinue->setGeometry(208, 225, 73, 25);
    btnContinue->setFlat(true);
    QPalette palette = btnContinue->palette();
    palette.setColor(QPalette::ButtonText, QColor(0x00, 0x80, 0x00));
    btnContinue->setPalette(palette);
    btnContinue->setDefault(true);
    connect(btnContinue, &QPushButton::clicked, this, &QDialog::accept);

    // The address is reached by Tab after Continue, which keeps the focus the
    // box opens with.
    lblUrl->setFocusPolicy(Qt::TabFocus);
    lblUrl->installEventFilter(this);
    QWidget::setTabOrder(btnContinue, lblUrl);
    btnContinue->setFocus();

    if (owner)
        move(owner->geometry().center() - rect().center());
}

void TAboutForm::FormShow(QObject *)
{
    const std::string &homepage = ApplicationInfo().Homepage;
    if (!homepage.empty())
        lblUrl->SetCaption(homepage);
}

void TAboutForm::lblUrlClick(QObject *)
{
    win32::ShellExecuteA(forms::HandleOf(this), nullptr, ApplicationInfo().Homepage.c_str(),
                         nullptr, nullptr, win32::SW_SHOWNORMAL);
}

bool TAboutForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != lblUrl)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut: {
        QFont font = lblUrl->font();
        font.setUnderline(event->type() == QEvent::FocusIn);
        lblUrl->setFont(font);
        return false;
    }
    case QEvent::KeyPress: {
        const auto *press = static_cast<QKeyEvent *>(event);
        const int key = press->key();
        if (key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        if (!press->isAutoRepeat())
            lblUrlClick(lblUrl);
        return true;
    }
    default:
        return false;
    }
}

void TAboutForm::showEvent(QShowEvent *event)
{
    FormShow(this);
    QDialog::showEvent(event);
}

} // namespace quillon
