#include "app/ui/photo_row.h"

#include "app/ui/mainunit.h"
#include "app/ui/preview.h"
#include "platform/forms/application.h"

#include <QApplication>
#include <QChildEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>

namespace quillon {

namespace {

constexpr int kAutoScrollEdge = 24; // pixels from the view's edge where a drag scrolls
constexpr int kAutoScrollStep = 16;
const QColor kMarkerColour(0x2F, 0x80, 0xED);

} // namespace

TPhotoRow::TPhotoRow(TMainForm &Form)
    : FForm(Form)
    , FAdder(*Form.PhotoThumbPanel1)
{
    TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
    FDesignWidth = panel->width();
    FAdder.OnProgress = [this](int Done, int Total) { Progress(Done, Total); };

    // The row takes the focus from a click or Tab; its keys work while it has it.
    FForm.pnl1_ScrollBox->setFocusPolicy(Qt::StrongFocus);
    FForm.pnl1_ScrollBox->installEventFilter(this);
    FForm.pnl1_ScrollBox->viewport()->installEventFilter(this);
    panel->installEventFilter(this);
    for (QObject *child : panel->children())
        if (auto *image = dynamic_cast<forms::TImage *>(child))
            image->installEventFilter(this);

    FMarker = new QWidget(panel);
    FMarker->setAttribute(Qt::WA_TransparentForMouseEvents);
    FMarker->setAutoFillBackground(true);
    QPalette palette = FMarker->palette();
    palette.setColor(QPalette::Window, kMarkerColour);
    FMarker->setPalette(palette);
    FMarker->hide();

    FScrollTimer = new QTimer(this);
    FScrollTimer->setInterval(30);
    connect(FScrollTimer, &QTimer::timeout, this, [this] { AutoScroll(); });
}

TPhotoRow::~TPhotoRow()
{
    if (FCursorSet)
        QApplication::restoreOverrideCursor();
}

bool TPhotoRow::RefuseWhileAdding() const
{
    if (!Adding())
        return false;
    QApplication::beep();
    return true;
}

bool TPhotoRow::Append(std::function<std::vector<std::string>()> Source, std::function<void()> Then)
{
    return StartAdd(std::move(Source), TPhotoAdder::TFailureRule::StopThere,
                    [Then = std::move(Then)](const TPhotoAdder::TOutcome &) { Then(); });
}

bool TPhotoRow::AppendLeavingOut(std::function<std::vector<std::string>()> Source,
                                 std::function<void(const TPhotoAdder::TOutcome &)> Then)
{
    return StartAdd(std::move(Source), TPhotoAdder::TFailureRule::LeaveOut, std::move(Then));
}

bool TPhotoRow::StartAdd(std::function<std::vector<std::string>()> Source,
                         TPhotoAdder::TFailureRule Rule,
                         std::function<void(const TPhotoAdder::TOutcome &)> Finished)
{
    if (RefuseWhileAdding())
        return false;
    FStatusBefore = FForm.sb_status->Caption();
    auto finished = [this, Finished = std::move(Finished)](const TPhotoAdder::TOutcome &Outcome) {
        if (FCursorSet) {
            QApplication::restoreOverrideCursor();
            FCursorSet = false;
        }
        if (Outcome.Added > 0)
            RevealRow();
        // The command's own steps set the status line; a failure leaves it as
        // it was before the add.
        FForm.sb_status->SetCaption(FStatusBefore);
        if (!Outcome.Error)
            Finished(Outcome);
        if (Outcome.Added > 0)
            ScrollTo(Outcome.FirstNew);
        if (Outcome.Error)
            forms::HandleException(Outcome.Error);
    };
    QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    FCursorSet = true;
    try {
        FAdder.Start(std::move(Source), Rule, std::move(finished));
    } catch (...) {
        QApplication::restoreOverrideCursor();
        FCursorSet = false;
        throw;
    }
    return true;
}

void TPhotoRow::Progress(int Done, int Total)
{
    FForm.sb_status->SetCaption(Total < 0 ? std::string("Adding photos ...")
                                          : "Adding photos " + std::to_string(Done) + " of "
                                                + std::to_string(Total) + " ...");
    if (Done > 0)
        RevealRow();
}

void TPhotoRow::RevealRow()
{
    // The photos show as they come in, in the photo view.
    if (FForm.ActiveView() == PhotoView && !FForm.pnl1_ScrollBox->isVisible()) {
        FForm.pnl1_imgBack->hide();
        FForm.pnl1_ScrollBox->show();
    }
    KeepInView();
}

void TPhotoRow::KeepInView()
{
    TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
    const long long count = panel->ThumbItems()->Count();
    const long long content
        = count * (panel->CellWidth() + panel->HorizontalGap()) + panel->HorizontalGap();
    const int width = static_cast<int>(
        std::min<long long>(panel->width(), std::max<long long>(content, FDesignWidth)));
    FForm.pnl1_ScrollBox->widget()->resize(panel->x() + width, panel->y() + panel->height());
}

void TPhotoRow::ScrollTo(int Index)
{
    TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
    KeepInView();
    FForm.pnl1_ScrollBox->horizontalScrollBar()->setValue(
        Index * (panel->CellWidth() + panel->HorizontalGap()));
}

void TPhotoRow::ShowPhoto(int Index)
{
    TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
    if (Index < 0 || Index >= panel->ThumbItems()->Count())
        return;
    const int cell = panel->CellWidth();
    const int gap = panel->HorizontalGap();
    const int x = panel->x() + gap + Index * (cell + gap) + cell / 2;
    const int y = panel->y() + panel->VerticalGap() + panel->CellHeight() / 2;
    FForm.pnl1_ScrollBox->ensureVisible(x, y, cell / 2 + gap + panel->x(), 0);
}

void TPhotoRow::MovePhoto(int From, int To)
{
    TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
    TThumbItem *item = panel->ThumbItems()->Items(From);
    if (!item)
        return;
    To = std::clamp(To, 0, panel->ThumbItems()->Count() - 1);
    item->SetIndex(To);
    panel->SetSelectedIndex(To);
    ShowPhoto(To);
}

bool TPhotoRow::eventFilter(QObject *watched, QEvent *event)
{
    TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
    if (watched == panel) {
        // Thumbnails reach the panel at their first layout pass.
        if (event->type() == QEvent::ChildAdded)
            if (auto *image
                = dynamic_cast<forms::TImage *>(static_cast<QChildEvent *>(event)->child()))
                image->installEventFilter(this);
        if (event->type() == QEvent::Resize)
            KeepInView();
        return false;
    }
    if (watched == FForm.pnl1_ScrollBox && event->type() == QEvent::KeyPress)
        return KeyPressed(static_cast<QKeyEvent *>(event));
    if (watched == FForm.pnl1_ScrollBox->viewport() && event->type() == QEvent::Wheel)
        return Wheel(static_cast<QWheelEvent *>(event));
    if (auto *image = dynamic_cast<forms::TImage *>(watched);
        image && image->parentWidget() == panel)
        return ThumbnailMouse(image, event);
    return false;
}

bool TPhotoRow::KeyPressed(QKeyEvent *event)
{
    TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
    if (FDragging) {
        if (event->key() == Qt::Key_Escape)
            EndDrag(false);
        return true;
    }
    const int count = panel->ThumbItems()->Count();
    const int selected = panel->SelectedIndex();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool onPhoto = selected >= 0 && selected < count;
    auto select = [&](int index) {
        if (count == 0)
            return;
        index = std::clamp(index, 0, count - 1);
        panel->SetSelectedIndex(index);
        ShowPhoto(index);
    };
    auto move = [&](int to) {
        if (!onPhoto || RefuseWhileAdding())
            return;
        MovePhoto(selected, to);
    };
    switch (event->key()) {
    case Qt::Key_Left:
        ctrl ? move(selected - 1) : select(onPhoto ? selected - 1 : 0);
        return true;
    case Qt::Key_Right:
        ctrl ? move(selected + 1) : select(onPhoto ? selected + 1 : 0);
        return true;
    case Qt::Key_Home:
        ctrl ? move(0) : select(0);
        return true;
    case Qt::Key_End:
        ctrl ? move(count - 1) : select(count - 1);
        return true;
    case Qt::Key_Delete:
        FForm.pnl1_btnDeleteClick(nullptr);
        ShowPhoto(panel->SelectedIndex());
        return true;
    case Qt::Key_Space:
        FForm.Preview().PreviewFrom(onPhoto ? selected : 0);
        return true;
    default:
        return false;
    }
}

bool TPhotoRow::Wheel(QWheelEvent *event)
{
    // The row only scrolls sideways: an ordinary wheel turns it too.
    const QPoint pixels = event->pixelDelta();
    const QPoint degrees = event->angleDelta();
    const int along = degrees.x() != 0 ? degrees.x() : degrees.y();
    if (along == 0 && pixels.isNull())
        return false;
    QScrollBar *bar = FForm.pnl1_ScrollBox->horizontalScrollBar();
    TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
    const int step = panel->CellWidth() + panel->HorizontalGap(); // one photo a notch
    if (!pixels.isNull())
        bar->setValue(bar->value() - (pixels.x() != 0 ? pixels.x() : pixels.y()));
    else
        bar->setValue(bar->value() - along * step / 120);
    event->accept();
    return true;
}

int TPhotoRow::IndexOfImage(const QObject *image) const
{
    const TThumbItems *items = FForm.PhotoThumbPanel1->ThumbItems();
    for (int i = 0; i < items->Count(); ++i)
        if (items->Items(i)->Image() == image)
            return i;
    return -1;
}

bool TPhotoRow::ThumbnailMouse(forms::TImage *image, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        FForm.pnl1_ScrollBox->setFocus(Qt::MouseFocusReason);
        FPressed = image;
        FPressGlobal = mouse->globalPosition().toPoint();
        return false;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (!FPressed || FPressed != image || !(mouse->buttons() & Qt::LeftButton))
            return false;
        const QPoint global = mouse->globalPosition().toPoint();
        if (!FDragging) {
            if ((global - FPressGlobal).manhattanLength() < QApplication::startDragDistance()
                || Adding())
                return false;
            FDragging = true;
            image->setCursor(Qt::ClosedHandCursor);
            FScrollTimer->start();
        }
        DragTo(global);
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || FPressed != image)
            return false;
        if (!FDragging) {
            FPressed = nullptr;
            return false;
        }
        DragTo(mouse->globalPosition().toPoint());
        EndDrag(true);
        return true;
    }
    default:
        return false;
    }
}

int TPhotoRow::SlotAt(QPoint global) const
{
    TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
    const int step = panel->CellWidth() + panel->HorizontalGap();
    const int x = panel->mapFromGlobal(global).x() - panel->HorizontalGap();
    // Before the photo whose left half the pointer is over, after it over the right half.
    const int slot = (x + step / 2) / std::max(step, 1) - (x + step / 2 < 0 ? 1 : 0);
    return std::clamp(slot, 0, panel->ThumbItems()->Count());
}

bool TPhotoRow::LevelWithRow(QPoint global) const
{
    const QWidget *viewport = FForm.pnl1_ScrollBox->viewport();
    const int y = viewport->mapFromGlobal(global).y();
    return y >= 0 && y < viewport->height();
}

void TPhotoRow::DragTo(QPoint global)
{
    // Above or below the row there is no place to land: let go there, and the
    // photo stays where it was. Beyond either end, level with it, is its end.
    if (!LevelWithRow(global)) {
        FSlot = -1;
        FMarker->hide();
        return;
    }
    TPhotoThumbPanel *panel = FForm.PhotoThumbPanel1;
    FSlot = SlotAt(global);
    const int step = panel->CellWidth() + panel->HorizontalGap();
    FMarker->setGeometry(FSlot * step + (panel->HorizontalGap() - 3) / 2, panel->VerticalGap() - 6,
                         3, panel->CellHeight() + 12);
    FMarker->raise();
    FMarker->show();
}

void TPhotoRow::AutoScroll()
{
    if (!FDragging)
        return;
    QWidget *viewport = FForm.pnl1_ScrollBox->viewport();
    const QPoint global = QCursor::pos();
    // Only a pointer level with the row scrolls it.
    if (!LevelWithRow(global))
        return;
    const int x = viewport->mapFromGlobal(global).x();
    // Within the edge a step at a time; the further past it the pointer goes,
    // the faster, up to the view's width a step, so that a photo goes from the
    // end of a long row to its start in seconds.
    const auto step = [&](int beyond) {
        return std::min(kAutoScrollStep + std::max(beyond, 0) * kAutoScrollStep / 8,
                        std::max(viewport->width(), kAutoScrollStep));
    };
    QScrollBar *bar = FForm.pnl1_ScrollBox->horizontalScrollBar();
    if (x < kAutoScrollEdge)
        bar->setValue(bar->value() - step(-x));
    else if (x > viewport->width() - kAutoScrollEdge)
        bar->setValue(bar->value() + step(x - viewport->width()));
    else
        return;
    DragTo(global);
}

void TPhotoRow::EndDrag(bool drop)
{
    FScrollTimer->stop();
    FMarker->hide();
    forms::TImage *image = FPressed;
    FPressed = nullptr;
    FDragging = false;
    if (!image)
        return;
    image->unsetCursor();
    const int from = IndexOfImage(image);
    if (!drop || from < 0 || FSlot < 0)
        return;
    // The slot counts the gaps before the photos; the photo's own leaves with it.
    const int to = FSlot > from ? FSlot - 1 : FSlot;
    if (to != from)
        MovePhoto(from, to);
}

} // namespace quillon
