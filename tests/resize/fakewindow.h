#pragma once
#include "resize/resizecommand.h"

#include <QMap>
#include <QStringList>

// Stands in for the window: fields to read, answers to give, and a record
// of everything the command showed.
class FakeWindow : public tovalin::ResizeWindow {
public:
    QMap<Field, QString> fields;
    bool factorMode = true;
    bool answer = true;
    QStringList messages;
    QStringList questions;
    QString resultLabel = QStringLiteral("(unset)");
    QString factorLabel = QStringLiteral("(unset)");
    bool previewEnabled = false;
    int busyDepth = 0;
    bool wasBusy = false;

    void setBusy(bool busy) override
    {
        busyDepth += busy ? 1 : -1;
        wasBusy = wasBusy || busy;
    }
    void showMessage(const QString &text) override { messages << text; }
    bool askYesNo(const QString &text) override
    {
        questions << text;
        return answer;
    }
    QString fieldText(Field field) const override { return fields.value(field); }
    bool factorModeSelected() const override { return factorMode; }
    void setResultLabel(const QString &text) override { resultLabel = text; }
    void setFactorLabel(const QString &text) override { factorLabel = text; }
    void enablePreviewButton() override { previewEnabled = true; }
};
