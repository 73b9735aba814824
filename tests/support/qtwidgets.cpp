#include "qtwidgets.h"

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <QWindow>

namespace testsupport {

namespace {

QWindow *windowOf(QWidget *widget, QPoint &pos)
{
    QWidget *top = widget->window();
    pos = widget->mapTo(top, pos);
    return top->windowHandle();
}

} // namespace

void ShowWindow(QWidget *window)
{
    window->show();
    (void)QTest::qWaitForWindowExposed(window);
}

void MoveTo(QWidget *widget, QPoint pos)
{
    QWindow *window = windowOf(widget, pos);
    QTest::mouseMove(window, pos);
}

void Press(QWidget *widget, QPoint pos, Qt::MouseButton button)
{
    QWindow *window = windowOf(widget, pos);
    QTest::mousePress(window, button, {}, pos);
}

void Release(QWidget *widget, QPoint pos, Qt::MouseButton button)
{
    QWindow *window = windowOf(widget, pos);
    QTest::mouseRelease(window, button, {}, pos);
}

void Click(QWidget *widget, QPoint pos, Qt::MouseButton button)
{
    QWindow *window = windowOf(widget, pos);
    QTest::mouseClick(window, button, {}, pos);
}

void DoubleClick(QWidget *widget, QPoint pos)
{
    QWindow *window = windowOf(widget, pos);
    QTest::mouseDClick(window, Qt::LeftButton, {}, pos);
}

void SendEnter(QWidget *widget, QPoint pos)
{
    QEnterEvent enter(pos, pos, widget->mapToGlobal(QPointF(pos)));
    QApplication::sendEvent(widget, &enter);
}

void SendPress(QWidget *widget, QPoint pos)
{
    QMouseEvent press(QEvent::MouseButtonPress, pos, widget->mapToGlobal(QPointF(pos)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
}

QImage Grab(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace testsupport
