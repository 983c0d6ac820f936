#pragma once
#include <QString>

class QWidget;

namespace tovalin {

// Modal boxes titled Tovalin, without icon, with Japanese buttons.
void showOkMessage(QWidget *parent, const QString &text);
bool askYesNoQuestion(QWidget *parent, const QString &text);

} // namespace tovalin
