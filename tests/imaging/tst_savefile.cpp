#include "imaging/savefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace tovalin;

namespace {

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestSaveFile : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void createsAndReplaces()
    {
        const QString target = m_dir.filePath("out.jpg");
        QVERIFY(writeFileReplacing(target, "first").ok);
        QCOMPARE(contents(target), QByteArray("first"));
        QVERIFY(writeFileReplacing(target, "second, longer").ok);
        QCOMPARE(contents(target), QByteArray("second, longer"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.jpg"});
    }

    void hiddenFileReplaced()
    {
        const QString target = m_dir.filePath(".hidden.jpg");
        QVERIFY(writeFileReplacing(target, "old").ok);
        QVERIFY(writeFileReplacing(target, "new").ok);
        QCOMPARE(contents(target), QByteArray("new"));
    }

    // A failing save reports why and leaves what was there.
    void failuresKeepTheOldFile_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("no such folder") << "missing/out.jpg";
        QTest::newRow("name is a folder") << "folder";
        QTest::newRow("empty name") << "folder/";
    }
    void failuresKeepTheOldFile()
    {
        QFETCH(QString, target);
        QDir(m_dir.path()).mkpath("folder");
        QVERIFY(writeFileReplacing(m_dir.filePath("folder/keep.jpg"), "keep").ok);
        const SaveResult r = writeFileReplacing(m_dir.filePath(target), "new");
        QVERIFY(!r.ok);
        QVERIFY(!r.reason.isEmpty());
        QCOMPARE(contents(m_dir.filePath("folder/keep.jpg")), QByteArray("keep"));
    }

    void readOnlyFolder()
    {
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QDir(m_dir.path()).mkpath("locked");
        const QString target = m_dir.filePath("locked/out.jpg");
        QVERIFY(writeFileReplacing(target, "old").ok);
        QFile::setPermissions(m_dir.filePath("locked"), QFile::ReadOwner | QFile::ExeOwner);
        const SaveResult r = writeFileReplacing(target, "new");
        QFile::setPermissions(m_dir.filePath("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!r.ok);
        QCOMPARE(contents(target), QByteArray("old"));
    }
};

QTEST_GUILESS_MAIN(TestSaveFile)
#include "tst_savefile.moc"
