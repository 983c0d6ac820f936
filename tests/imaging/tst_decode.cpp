#include "imaging/decode.h"
#include "imaging/jpeg.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>

using namespace tovalin;

class TestDecode : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    QByteArray photoJpeg() const
    {
        QFile f(QStringLiteral(TOVALIN_PHOTO_DIR "/Garden.jpg"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void writeBytes(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private slots:
    void orientationIsApplied()
    {
        QImage wide(40, 20, QImage::Format_RGB32);
        wide.fill(Qt::white);
        QImageWriter writer(path("rotated.jpg"));
        writer.setTransformation(QImageIOHandler::TransformationRotate90);
        QVERIFY(writer.write(wide));
        const DecodeResult d = decodeImageFile(path("rotated.jpg"));
        QVERIFY(d.error.isEmpty());
        QCOMPARE(d.image.size(), QSize(20, 40));
        QCOMPARE(d.image.format(), QImage::Format_RGB888);
    }

    void otherProfileBecomesSrgb()
    {
        QImage p3(4, 4, QImage::Format_RGB32);
        p3.fill(QColor(200, 60, 40));
        p3.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        QVERIFY(p3.save(path("p3.png")));
        QImage expected = p3.convertedToColorSpace(QColorSpace(QColorSpace::SRgb)).convertToFormat(QImage::Format_RGB888);
        const DecodeResult d = decodeImageFile(path("p3.png"));
        QVERIFY(d.error.isEmpty());
        QCOMPARE(d.image.pixel(1, 1), expected.pixel(1, 1));
        QVERIFY(d.image.pixel(1, 1) != qRgb(200, 60, 40));
    }

    void transparencyLandsOnWhite_data()
    {
        QTest::addColumn<QColor>("pixel");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("clear") << QColor(0, 0, 0, 0) << QColor(255, 255, 255);
        QTest::newRow("opaque") << QColor(10, 20, 30, 255) << QColor(10, 20, 30);
        QTest::newRow("half red") << QColor(255, 0, 0, 128) << QColor(255, 127, 127);
    }
    void transparencyLandsOnWhite()
    {
        QFETCH(QColor, pixel);
        QFETCH(QColor, expected);
        QImage img(3, 3, QImage::Format_ARGB32);
        img.fill(pixel);
        QVERIFY(img.save(path("alpha.png")));
        const DecodeResult d = decodeImageFile(path("alpha.png"));
        QVERIFY(d.error.isEmpty());
        QCOMPARE(QColor(d.image.pixel(1, 1)), expected);
    }

    // Qt's readers stop at 256 MB unless told otherwise: a 100-megapixel
    // photograph needs 400 MB as it is read.
    void hundredMegapixelsLoad()
    {
        QImage big(10000, 10000, QImage::Format_RGB888);
        big.fill(QColor(90, 120, 30));
        const EncodeResult jpeg = encodeJpeg(big, 200);
        QVERIFY(jpeg.error.isEmpty());
        big = QImage();
        writeBytes("big.jpg", jpeg.bytes);
        const DecodeResult d = decodeImageFile(path("big.jpg"));
        QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
        QCOMPARE(d.image.size(), QSize(10000, 10000));
    }

    // Each gives a reason and no image, never a crash.
    void badFilesFail_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray jpeg = photoJpeg();
        QImage small(64, 64, QImage::Format_RGB32);
        small.fill(Qt::red);
        QByteArray png;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            small.save(&buffer, "PNG");
        }
        QTest::newRow("text file") << "notes.jpg" << QByteArray("not a picture\n");
        QTest::newRow("empty file") << "empty.png" << QByteArray();
        QTest::newRow("truncated JPEG") << "cut.jpg" << jpeg.left(jpeg.size() / 2);
        QTest::newRow("JPEG header only") << "header.jpg" << jpeg.left(600);
        QTest::newRow("truncated PNG") << "cut.png" << png.left(png.size() / 2);
        QTest::newRow("random bytes") << "noise.bmp" << QByteArray(5000, '\x9c');
    }
    void badFilesFail()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        writeBytes(name, bytes);
        const DecodeResult d = decodeImageFile(path(name));
        QVERIFY(d.image.isNull());
        QVERIFY(!d.error.isEmpty());
    }

    void missingAndFolderFail()
    {
        QVERIFY(!decodeImageFile(path("nothing-here.png")).error.isEmpty());
        QVERIFY(!decodeImageFile(m_dir.path()).error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDecode)
#include "tst_decode.moc"
