#pragma once

#include "core/panel/messagebox.h"

class QWidget;

class QtMessageBox : public MessageBox {
public:
    void setParent(QWidget *parent) { m_parent = parent; }
    void show(Icon icon, const std::string &title, const std::string &text) override;

private:
    QWidget *m_parent = nullptr;
};
