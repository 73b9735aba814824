// Real pointer events for widget tests. They go through Qt's window-system
// layer into the widget's top-level window, so Qt itself works out enter and
// leave, double clicks and the mouse grab of a press, as it does for a user.
#pragma once

#include <QPoint>
#include <QWidget>

namespace testsupport {

// Shows the window and waits until it can take events.
void ShowWindow(QWidget *window);

// Positions are in `widget`'s own coordinates.
void MoveTo(QWidget *widget, QPoint pos);
void Press(QWidget *widget, QPoint pos, Qt::MouseButton button = Qt::LeftButton);
void Release(QWidget *widget, QPoint pos, Qt::MouseButton button = Qt::LeftButton);
void Click(QWidget *widget, QPoint pos, Qt::MouseButton button = Qt::LeftButton);
// Two presses and releases quick enough to make a double click.
void DoubleClick(QWidget *widget, QPoint pos);

// Events sent straight to the widget, not through its window: for pictures of
// the hover and pressed looks in programs that never show their windows.
void SendEnter(QWidget *widget, QPoint pos = {5, 5});
void SendPress(QWidget *widget, QPoint pos = {5, 5});

// The widget as it is drawn now, including its children.
QImage Grab(QWidget *widget);

} // namespace testsupport
