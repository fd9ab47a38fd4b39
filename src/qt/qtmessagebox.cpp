#include "qt/qtmessagebox.h"

#include <QDebug>
#include <QMessageBox>
#include <QString>

void QtMessageBox::show(Icon icon, const std::string &title, const std::string &text)
{
    if (icon == Icon::Information)
        qInfo().noquote() << QString::fromStdString(title + ": " + text);
    else
        qWarning().noquote() << QString::fromStdString(title + ": " + text);
    QMessageBox box(m_parent);
    switch (icon) {
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    box.setWindowTitle(QString::fromStdString(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}
