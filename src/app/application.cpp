#include "app/application.h"

#include "imaging/decode.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tovalin {

void setUpApplication(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("Tovalin"));
    // Context menus and standard buttons speak Japanese, as the window does.
    auto *translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    setReaderLimits();
}

} // namespace tovalin
