#include "common/savefile.h"
#include "../testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace tovalin;

Q_DECLARE_METATYPE(tovalin::SaveError)

// A save told to keep an existing file keeps one that appears after any
// check, on each of its three ways of putting the file in place (run with
// keep_shim preloaded).
class TestKeepExisting : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void keepsWhatAppeared_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::addColumn<bool>("noRenameat2");
        QTest::addColumn<bool>("noLink");
        QTest::addColumn<QString>("appearAt");
        QTest::addColumn<SaveError>("error");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("renameat2, a file appears at the last step") << true << false << false << "place" << SaveError::Exists << QByteArray("theirs");
        QTest::newRow("hard link, a file appears at the last step") << true << true << false << "place" << SaveError::Exists << QByteArray("theirs");
        QTest::newRow("check and rename, a file appears while writing") << true << true << true << "write" << SaveError::Exists << QByteArray("theirs");
        QTest::newRow("renameat2, nothing there") << true << false << false << "" << SaveError::None << QByteArray("ours");
        QTest::newRow("hard link, nothing there") << true << true << false << "" << SaveError::None << QByteArray("ours");
        QTest::newRow("check and rename, nothing there") << true << true << true << "" << SaveError::None << QByteArray("ours");
        QTest::newRow("replacing: what appeared is replaced") << false << false << false << "place" << SaveError::None << QByteArray("ours");
    }
    void keepsWhatAppeared()
    {
        QFETCH(bool, keep);
        QFETCH(bool, noRenameat2);
        QFETCH(bool, noLink);
        QFETCH(QString, appearAt);
        QFETCH(SaveError, error);
        QFETCH(QByteArray, content);
        const QString folder = m_dir.filePath(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(folder));
        const QString target = folder + "/out.jpg";
        qputenv("TOVALIN_APPEAR", QFile::encodeName(target));
        qputenv("TOVALIN_APPEAR_AT", appearAt.toLatin1());
        noRenameat2 ? qputenv("TOVALIN_NO_RENAMEAT2", "1") : qunsetenv("TOVALIN_NO_RENAMEAT2");
        noLink ? qputenv("TOVALIN_NO_LINK", "1") : qunsetenv("TOVALIN_NO_LINK");
        const SaveError got = writeFileReplacing(target, "ours", false, keep ? Existing::Keep : Existing::Replace);
        qunsetenv("TOVALIN_APPEAR_AT");
        QCOMPARE(got, error);
        QCOMPARE(fileContents(target), content);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"out.jpg"}); // no temporary file left
    }
};

QTEST_GUILESS_MAIN(TestKeepExisting)
#include "tst_keepexisting.moc"
