#include "app/messagebox.h"

#include "texts/texts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace tovalin {

void showOkMessage(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, text::kTitle, text, QMessageBox::NoButton, parent);
    box.addButton(text::kOk, QMessageBox::AcceptRole);
    box.exec();
}

bool askYesNoQuestion(QWidget *parent, const QString &text, bool yesIsDefault)
{
    QMessageBox box(QMessageBox::NoIcon, text::kTitle, text, QMessageBox::NoButton, parent);
    QPushButton *yes = box.addButton(text::kYes, QMessageBox::YesRole);
    QPushButton *no = box.addButton(text::kNo, QMessageBox::NoRole);
    box.setDefaultButton(yesIsDefault ? yes : no);
    box.exec();
    return box.clickedButton() == yes;
}

QString choosePictureFile(QWidget *parent)
{
    // Each letter both ways ("*.[jJ][pP][gG]"): the dialog's patterns are
    // case-sensitive here, and cameras write JPG.
    QStringList patterns;
    for (const QString &extension : text::kPictureExtensions) {
        QString pattern = QStringLiteral("*.");
        for (const QChar c : extension)
            pattern += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        patterns << pattern;
    }
    return QFileDialog::getOpenFileName(parent, text::kOpenTitle, QString(),
                                        text::kPictureFilter.arg(patterns.join(QLatin1Char(' '))));
}

QString chooseFolderFrom(QWidget *parent, const QString &start)
{
    return QFileDialog::getExistingDirectory(parent, text::kBatchChooseFolder, start);
}

} // namespace tovalin
