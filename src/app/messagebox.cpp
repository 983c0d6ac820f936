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

void preparePictureDialog(QFileDialog &dialog)
{
    // Qt's own dialog: its patterns match names in any letter case
    // (IMG_1.JPG), where the desktop's may not, so the filter can read
    // plainly.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    QStringList patterns;
    for (const QString &extension : text::kPictureExtensions)
        patterns << QStringLiteral("*.") + extension;
    dialog.setNameFilter(text::kPictureFilter.arg(patterns.join(QLatin1Char(' '))));
}

QString choosePictureFile(QWidget *parent)
{
    QFileDialog dialog(parent, text::kOpenTitle);
    preparePictureDialog(dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

QString chooseFolderFrom(QWidget *parent, const QString &start)
{
    return QFileDialog::getExistingDirectory(parent, text::kBatchChooseFolder, start);
}

} // namespace tovalin
