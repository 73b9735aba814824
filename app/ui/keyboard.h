// The window from the keyboard: every control can be reached with Tab in the
// order a reader takes them in (tabs, the view's controls from top to bottom,
// its command buttons, then the links and glyphs at the window's edge); the
// picture buttons and links take Space and Enter as a click, and a ring marks
// whichever of them (or the row of thumbnails) has the focus.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <vector>

class QWidget;

namespace quillon {

class TMainForm;
class TShowCommands;

class TKeyboard : public QObject
{
public:
    TKeyboard(TMainForm &Form, TShowCommands &Shows);

    // The controls in their Tab order, whichever view shows them.
    const std::vector<QWidget *> &TabOrder() const { return FOrder; }
    // The ring drawn around the focused picture control; hidden otherwise.
    QWidget *FocusRing() const { return FRing; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FocusChanged(QWidget *now);
    void PlaceRing();

    TMainForm &FForm;
    std::vector<QWidget *> FOrder;
    std::map<QObject *, std::function<void()>> FActions;
    QWidget *FRing = nullptr;
    QPointer<QWidget> FRinged;
};

} // namespace quillon
