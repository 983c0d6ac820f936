#include "app/application.h"

#include "app/appfolder.h"
#include "app/mainwindow.h"
#include "texts/texts.h"
#include "imaging/decode/decode.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

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

int runTovalin(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const bool japanese = text::prefersJapanese();
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, text::kOptionHelp.in(japanese));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, text::kOptionVersion.in(japanese));
    parser.addOption(help);
    parser.addOption(version);
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "tovalin: %s\n%s", qPrintable(parser.errorText()), qPrintable(text::kTryHelp.in(japanese)));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(text::windowHelp(japanese)), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("tovalin %s\n", TOVALIN_VERSION);
        return 0;
    }
    const QStringList files = parser.positionalArguments();

    QApplication app(argc, argv);
    setUpApplication(app);
    FrmJpgResize window(chooseAppFolders(QApplication::applicationDirPath()), files);
    window.show();
    return app.exec();
}

} // namespace tovalin
