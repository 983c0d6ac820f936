#include "app/messagebox.h"

#include <QMessageBox>
#include <QPushButton>

namespace tovalin {

void showOkMessage(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tovalin"), text, QMessageBox::NoButton, parent);
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

bool askYesNoQuestion(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tovalin"), text, QMessageBox::NoButton, parent);
    QPushButton *yes = box.addButton(QStringLiteral("はい"), QMessageBox::YesRole);
    box.addButton(QStringLiteral("いいえ"), QMessageBox::NoRole);
    box.exec();
    return box.clickedButton() == yes;
}

} // namespace tovalin
