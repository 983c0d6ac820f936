#pragma once
#include <QString>

class QFileDialog;
class QWidget;

namespace tovalin {

// Modal boxes titled Tovalin, without icon, with Japanese buttons.
void showOkMessage(QWidget *parent, const QString &text);
// Return answers はい unless `yesIsDefault` is false.
bool askYesNoQuestion(QWidget *parent, const QString &text, bool yesIsDefault = true);

// The file dialog for a picture, showing the formats Tovalin reads in any
// case of their extension; empty when cancelled.
QString choosePictureFile(QWidget *parent);
void preparePictureDialog(QFileDialog &dialog);
// The folder dialog for a batch's destination; empty when cancelled.
QString chooseFolderFrom(QWidget *parent, const QString &start);

} // namespace tovalin
