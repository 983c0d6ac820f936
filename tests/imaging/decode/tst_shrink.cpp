#include "imaging/decode/decode.h"
#include "imaging/jpeg/jpeg.h"
#include "../../testphoto.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace tovalin;

// Runs with the shrinking-file shim preloaded: the picture's file is cut
// to a part of its length just as Tovalin starts to read it.
class TestShrink : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void shimIsLoaded()
    {
        const QString path = m_dir.filePath("probe");
        QFile probe(path);
        QVERIFY(probe.open(QIODevice::WriteOnly));
        probe.write(QByteArray(1000, 'p'));
        probe.close();
        qputenv("TOVALIN_SHRINK_FILE", QFile::encodeName(path));
        qputenv("TOVALIN_SHRINK_TO", "10");
        QVERIFY(probe.open(QIODevice::ReadOnly));
        QCOMPARE(probe.readAll().size(), 10);
    }

    // A file cut while it is read is refused as cut short; the program
    // does not die of it.
    void fileCutWhileRead_data()
    {
        QTest::addColumn<int>("keep");
        QTest::newRow("a third") << 3;
        QTest::newRow("nothing") << 0;
    }
    void fileCutWhileRead()
    {
        QFETCH(int, keep);
        const QByteArray jpeg = encodeJpeg(testPhoto(1200, 900), 20).bytes;
        const QString path = m_dir.filePath(QStringLiteral("photo%1.jpg").arg(keep));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(jpeg), jpeg.size());
        file.close();
        qputenv("TOVALIN_SHRINK_FILE", QFile::encodeName(path));
        qputenv("TOVALIN_SHRINK_TO", QByteArray::number(jpeg.size() * keep / 10));
        const DecodeResult r = decodeImageFile(path);
        QCOMPARE(int(r.error), int(DecodeError::Truncated));
        QVERIFY(r.image.isNull());
    }
};

QTEST_GUILESS_MAIN(TestShrink)
#include "tst_shrink.moc"
