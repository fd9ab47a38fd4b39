#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QString>
#include <QWidget>

// A key pressed as the operator presses it: to the widget with the focus, or to the window when
// nothing has it, so that Form1's key preview sees it before any control does.
inline void sendKey(QWidget *window, Qt::Key key, Qt::KeyboardModifiers modifiers,
                    bool autoRepeat = false)
{
    QWidget *focus = QApplication::focusWidget();
    QKeyEvent press(QEvent::KeyPress, key, modifiers, QString(), autoRepeat);
    QApplication::sendEvent(focus ? focus : window, &press);
}

// Ctrl+H, which opens the full view.
inline void pressCtrlH(QWidget *window)
{
    sendKey(window, Qt::Key_H, Qt::ControlModifier);
}
