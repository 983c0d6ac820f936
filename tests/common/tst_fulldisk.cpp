#include "texts/texts.h"
#include "common/savefile.h"
#include "resize/resizejob.h"
#include "../testfiles.h"
#include "../testphoto.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tovalin;

// Runs with the full-disk shim preloaded: every file written below the
// "full" folder stops at 1000 bytes with ENOSPC.
class TestFullDisk : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_full;
    const QByteArray m_old = QByteArray(3000, 'o');

private slots:
    void init()
    {
        m_full = m_dir.filePath("full");
        QDir(m_full).removeRecursively();
        QDir().mkpath(m_full);
        QFile old(m_full + "/cat.jpg");
        QVERIFY(old.open(QIODevice::WriteOnly));
        QCOMPARE(old.write(m_old), m_old.size());
        old.close();
        qputenv("TOVALIN_FULL_AFTER", "1000");
        qputenv("TOVALIN_FULL_DIR", QFile::encodeName(m_full));
    }
    void cleanup()
    {
        qunsetenv("TOVALIN_FULL_DIR");
        qunsetenv("TOVALIN_FULL_BUDGET");
        // The old file is whole and no temporary file is left behind.
        QCOMPARE(fileContents(m_full + "/cat.jpg"), m_old);
        QCOMPARE(QDir(m_full).entryList(QDir::Files | QDir::Hidden), QStringList{"cat.jpg"});
    }

    void shimIsLoaded()
    {
        QFile probe(m_full + "/probe");
        QVERIFY(probe.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        QCOMPARE(probe.write(QByteArray(2000, 'p')), qint64(1000));
        probe.close();
        QFile::remove(probe.fileName());
    }

    void saveStopsPartWay_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::newRow("twice the room") << 2000;
        QTest::newRow("far more than the room") << 200000;
    }
    void saveStopsPartWay()
    {
        QFETCH(int, bytes);
        QCOMPARE(writeFileReplacing(m_full + "/cat.jpg", QByteArray(bytes, 'n')), SaveError::DiskFull);
    }

    // Through the resize job: the failure, its cause, and the user's words.
    void jobReportsTheFullDisk()
    {
        ResizeRequest r;
        r.source = testPhoto(400, 250);
        r.settings.width = 400;
        r.settings.height = 250;
        r.settings.targetBytes = 20000;
        r.outputPath = m_full + "/cat.jpg";
        r.workFolder = m_full;
        const ResizeResult result = runResizeJob(r);
        QCOMPARE(result.failure, JobFailure::SaveFailed);
        QCOMPARE(result.saveError, SaveError::DiskFull);
        QVERIFY(!result.workFilesSaved);
        QCOMPARE(text::jobProblem(result), QStringLiteral("ディスクの空きが足りません。"));
    }

    // Room for the user's file and a little more, not for the work files
    // too: the user's file is written, whole, and the work files give way.
    void workFilesGiveWayToTheUsersFile()
    {
        ResizeRequest r;
        r.source = testPhoto(400, 250);
        r.settings.width = 400;
        r.settings.height = 250;
        r.settings.targetBytes = 20000;
        r.outputPath = m_dir.filePath("roomy.jpg");
        r.workFolder = m_dir.path();
        const ResizeResult roomy = runResizeJob(r);
        QCOMPARE(roomy.failure, JobFailure::None);
        QVERIFY(roomy.workFilesSaved);

        qputenv("TOVALIN_FULL_BUDGET", QByteArray::number(roomy.bytesWritten + 500));
        r.outputPath = m_full + "/out.jpg";
        r.workFolder = m_full;
        const ResizeResult tight = runResizeJob(r);
        QCOMPARE(tight.failure, JobFailure::None);
        QVERIFY(!tight.workFilesSaved);
        QCOMPARE(fileContents(r.outputPath), fileContents(m_dir.filePath("roomy.jpg")));
        QVERIFY(QFile::remove(r.outputPath));
    }
};

QTEST_GUILESS_MAIN(TestFullDisk)
#include "tst_fulldisk.moc"
