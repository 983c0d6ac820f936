#include "app/messagebox.h"

#include "app/texts.h"

#include <QMessageBox>
#include <QPushButton>

namespace tovalin {

void showOkMessage(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, text::kTitle, text, QMessageBox::NoButton, parent);
    box.addButton(text::kOk, QMessageBox::AcceptRole);
    box.exec();
}

bool askYesNoQuestion(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, text::kTitle, text, QMessageBox::NoButton, parent);
    QPushButton *yes = box.addButton(text::kYes, QMessageBox::YesRole);
    box.addButton(text::kNo, QMessageBox::NoRole);
    box.exec();
    return box.clickedButton() == yes;
}

} // namespace tovalin
