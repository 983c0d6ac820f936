#include "imaging/decode/decode.h"
#include "imaging/image.h"
#include "imaging/jpeg/jpeg.h"
#include "imaging/jpeg/jpegtrials.h"
#include "../../testphoto.h"

#include <QDir>
#include <QTest>

#include <cstdio>
#include <jpeglib.h>

using namespace tovalin;

namespace {

// The luminance and chrominance tables libjpeg builds for a scaling.
QList<quint16> quantTables(int scale)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    jpeg_set_linear_quality(&cinfo, scale, TRUE);
    QList<quint16> all;
    for (int t = 0; t < 2; ++t)
        for (int i = 0; i < DCTSIZE2; ++i)
            all << cinfo.quant_tbl_ptrs[t]->quantval[i];
    jpeg_destroy_compress(&cinfo);
    return all;
}

// The synthetic photo, or the photograph fixture enlarged with our resampler.
QImage photo(const QString &name, int width)
{
    if (name.isEmpty())
        return testPhoto(width, width * 5 / 8);
    const DecodeResult d = decodeImageFile(QStringLiteral(TOVALIN_TEST_DATA "/data/") + name);
    ImageHolder h;
    h.setImage(d.image);
    h.resize(width, width * d.image.height() / d.image.width());
    return h.image();
}

// Offset of the first marker `code` among the header segments, or -1.
int markerAt(const QByteArray &jpeg, uchar code)
{
    int pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        if (uchar(jpeg[pos + 1]) == code)
            return pos;
        pos += 2 + (uchar(jpeg[pos + 2]) << 8 | uchar(jpeg[pos + 3]));
    }
    return -1;
}

} // namespace

class TestJpeg : public QObject {
    Q_OBJECT
private slots:
    void mappingEnds_data()
    {
        QTest::addColumn<int>("factor");
        QTest::addColumn<int>("scale");
        QTest::newRow("2 is the finest") << 2 << 0;
        QTest::newRow("30 is about quality 85") << 30 << 30;
        QTest::newRow("255 is quality 1") << 255 << 5000;
        QTest::newRow("below the range clamps") << 1 << 0;
        QTest::newRow("above the range clamps") << 300 << 5000;
    }
    void mappingEnds()
    {
        QFETCH(int, factor);
        QFETCH(int, scale);
        QCOMPARE(quantScaleForFactor(factor), scale);
    }

    // Every factor step below 255 changes the tables, and the tables never get
    // finer as the factor grows; 254 and 255 share libjpeg's coarsest table.
    void neighbouringFactorsDiffer()
    {
        QList<quint16> previous = quantTables(quantScaleForFactor(2));
        for (int f = 3; f <= 255; ++f) {
            const QList<quint16> current = quantTables(quantScaleForFactor(f));
            for (int i = 0; i < current.size(); ++i)
                QVERIFY2(current[i] >= previous[i], qPrintable(QString::number(f)));
            if (f < 255)
                QVERIFY2(current != previous, qPrintable(QStringLiteral("factor %1 repeats %2").arg(f).arg(f - 1)));
            previous = current;
        }
        QCOMPARE(quantTables(quantScaleForFactor(255)), QList<quint16>(128, 255));
    }

    // The size search relies on this. On photographs of ordinary detail the
    // size never grows with the factor; JPEG cannot promise it byte for byte
    // (the optimised Huffman tables and the DC rounding wobble), so on every
    // photograph a step up may cost at most 2 %.
    void sizeNeverGrowsWithFactor_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("strict");
        QTest::newRow("photograph") << QStringLiteral("photo.jpg") << false;
        QTest::newRow("synthetic") << QString() << false;
    }
    void sizeNeverGrowsWithFactor()
    {
        QFETCH(QString, name);
        QFETCH(bool, strict);
        const QImage image = photo(name, 800);
        QVERIFY(!image.isNull());
        qsizetype previous = encodeJpeg(image, 2).bytes.size();
        for (int f = 3; f <= 255; ++f) {
            const qsizetype size = encodeJpeg(image, f).bytes.size();
            const qsizetype allowed = strict ? previous : previous + previous / 50;
            QVERIFY2(size <= allowed, qPrintable(QStringLiteral("factor %1: %2 > %3").arg(f).arg(size).arg(previous)));
            previous = size;
        }
    }

    // Baseline JFIF, three components, luma 2x2 and chroma 1x1 (4:2:0).
    void layout()
    {
        QImage image(33, 17, QImage::Format_RGB888);
        image.fill(QColor(200, 30, 90));
        const QByteArray jpeg = encodeJpeg(image, 30).bytes;
        QVERIFY(jpeg.startsWith("\xFF\xD8\xFF\xE0"));
        QCOMPARE(jpeg.mid(6, 5), QByteArray("JFIF\0", 5));
        QVERIFY(jpeg.endsWith("\xFF\xD9"));
        const int sof = markerAt(jpeg, 0xC0);
        QVERIFY2(sof > 0, "no baseline frame header");
        QCOMPARE(uchar(jpeg[sof + 4]), uchar(8));                        // precision
        QCOMPARE((uchar(jpeg[sof + 5]) << 8) | uchar(jpeg[sof + 6]), 17); // height
        QCOMPARE((uchar(jpeg[sof + 7]) << 8) | uchar(jpeg[sof + 8]), 33); // width
        QCOMPARE(uchar(jpeg[sof + 9]), uchar(3));
        QCOMPARE(uchar(jpeg[sof + 11]), uchar(0x22));
        QCOMPARE(uchar(jpeg[sof + 14]), uchar(0x11));
        QCOMPARE(uchar(jpeg[sof + 17]), uchar(0x11));
        QVERIFY(markerAt(jpeg, 0xC2) < 0);
        QVERIFY(markerAt(jpeg, 0xC4) > 0);
    }

    void sameInputSameBytes()
    {
        const QImage image = photo(QString(), 200);
        QVERIFY(!image.isNull());
        QCOMPARE(encodeJpeg(image, 77).bytes, encodeJpeg(image, 77).bytes);
    }

    // The size search's encoder writes libjpeg's bytes exactly, for every
    // kind of edge: sizes that are and are not whole blocks and MCUs.
    void trialsMatchLibjpeg_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<int>>("factors");
        QTest::newRow("whole MCUs") << QSize(64, 48) << QList<int>{2, 30, 128, 255};
        QTest::newRow("odd sides") << QSize(33, 17) << QList<int>{2, 30, 97, 255};
        QTest::newRow("one pixel") << QSize(1, 1) << QList<int>{30};
        QTest::newRow("one row") << QSize(301, 1) << QList<int>{30, 200};
        QTest::newRow("one column") << QSize(1, 77) << QList<int>{30};
        QTest::newRow("luma blocks odd") << QSize(200, 125) << QList<int>{2, 50, 160};
        QTest::newRow("photo size") << QSize(800, 500) << QList<int>{3, 30, 64, 128, 254};
    }
    void trialsMatchLibjpeg()
    {
        QFETCH(QSize, size);
        QFETCH(QList<int>, factors);
        const QImage image = testPhoto(size.width(), size.height());
        const JpegTrials trials(image);
        QVERIFY(trials.ok());
        for (const int f : factors)
            QVERIFY2(trials.encode(f) == encodeJpeg(image, f).bytes, qPrintable(QString::number(f)));
    }

    // The search guesses its next step from a sample of the rows: the
    // guess must land near the real size, for any picture height.
    void estimateIsNearTheSize_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("factor");
        QTest::newRow("photo, middle factor") << "photo.jpg" << QSize(800, 600) << 128;
        QTest::newRow("photo, fine factor") << "photo.jpg" << QSize(800, 600) << 20;
        QTest::newRow("synthetic, tall") << "" << QSize(300, 1700) << 90;
        QTest::newRow("few rows") << "" << QSize(640, 40) << 60;
        QTest::newRow("one row") << "" << QSize(301, 1) << 30;
    }
    void estimateIsNearTheSize()
    {
        QFETCH(QString, source);
        QFETCH(QSize, size);
        QFETCH(int, factor);
        QImage image = photo(source, size.width());
        if (image.height() != size.height())
            image = testPhoto(size.width(), size.height());
        const JpegTrials trials(image);
        const double real = double(trials.encode(factor).size());
        const double estimate = double(trials.estimateSize(factor));
        QVERIFY2(std::abs(estimate - real) <= 0.1 * real, qPrintable(QStringLiteral("%1 for %2").arg(estimate).arg(real)));
    }

    void refusesWhatItCannotEncode()
    {
        QCOMPARE(encodeJpeg(QImage(), 30).error, EncodeError::NoImage);
        QCOMPARE(encodeJpeg(QImage(8, 8, QImage::Format_ARGB32), 30).error, EncodeError::NoImage);
        QImage tooWide(65501, 1, QImage::Format_RGB888);
        tooWide.fill(Qt::black);
        const EncodeResult r = encodeJpeg(tooWide, 30);
        QVERIFY(r.bytes.isEmpty());
        QCOMPARE(r.error, EncodeError::TooLargeForJpeg);
    }
};

QTEST_GUILESS_MAIN(TestJpeg)
#include "tst_jpeg.moc"
