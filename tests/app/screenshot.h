#pragma once
#include <QDir>
#include <QTest>
#include <QWidget>

// With TOVALIN_SCREENSHOTS set to a folder, the widget as shown is saved
// there under `name` (docs/make_screenshots.sh); otherwise nothing.
inline void saveScreenshot(QWidget *widget, const char *name)
{
    const QString folder = qEnvironmentVariable("TOVALIN_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    widget->show();
    widget->raise();
    QTest::qWait(200);
    QVERIFY(widget->grab().save(QDir(folder).filePath(QLatin1String(name))));
}
