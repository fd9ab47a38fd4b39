#pragma once

#include "core/panel/messagebox.h"

class QWidget;

// A real message box, whose text also goes to Qt's log (standard error, and so the journal for
// a panel started from the menu or by systemd), so that it leaves a trace where nobody saw it.
class QtMessageBox : public MessageBox {
public:
    void setParent(QWidget *parent) { m_parent = parent; }
    void show(Icon icon, const std::string &title, const std::string &text) override;

private:
    QWidget *m_parent = nullptr;
};
