#include "imaging/decode/decode.h"
#include "imaging/decode/decode_internal.h"
#include "imaging/decode/heif_boxes.h"
#include "imaging/decode/hevc_rgb.h"
#include "imaging/jpeg/jpeg.h"
#include "imaging/resample/resample.h"
#include "../../testfiles.h"
#include "../../testphoto.h"
#include "common/cpufeatures.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>
#include <sys/stat.h>

using namespace tovalin;
using Error = DecodeError;

Q_DECLARE_METATYPE(tovalin::DecodeError)

namespace {

QString data(const QString &name) { return QStringLiteral(TOVALIN_TEST_DATA "/data/") + name; }

QByteArray encoded(const QImage &image, const char *format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(image) ? bytes : QByteArray();
}

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray be32(quint32 v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

QByteArray pngChunk(const QByteArray &type, const QByteArray &body)
{
    return be32(quint32(body.size())) + type + body + be32(crc32(type + body));
}

// A JPEG whose frame header claims another size.
QByteArray withClaimedSize(QByteArray jpeg, int width, int height)
{
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width);
    return jpeg;
}

// A HEIF file whose every ispe box declares another size.
QByteArray withIspe(QByteArray heif, quint32 width, quint32 height)
{
    for (qsizetype at = heif.indexOf("ispe"); at >= 0; at = heif.indexOf("ispe", at + 4))
        heif.replace(at + 8, 8, be32(width) + be32(height));
    return heif;
}

// A BMP header claiming a size, with no pixels after it.
QByteArray bmpHeaderOnly(qint32 width, qint32 height)
{
    QByteArray h("BM", 2);
    const auto le32 = [](quint32 v) {
        const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        return QByteArray(b, 4);
    };
    h += le32(54 + 4) + le32(0) + le32(54);
    h += le32(40) + le32(quint32(width)) + le32(quint32(height)) + QByteArray("\x01\x00\x18\x00", 4) + le32(0) + le32(4);
    return h + QByteArray(16, '\0') + QByteArray(4, '\0');
}

// Largest difference of any channel of any pixel; -1 for different sizes.
int maxDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return -1;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

QImage overWhite(const QImage &image)
{
    QImage flat(image.size(), QImage::Format_RGB888);
    flat.fill(Qt::white);
    QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = rgba.pixel(x, y);
            const int a = qAlpha(p);
            auto over = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
            flat.setPixel(x, y, qRgb(over(qRed(p)), over(qGreen(p)), over(qBlue(p))));
        }
    return flat;
}

} // namespace

class TestDecode : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    void write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    // Asked to be resized as it is decoded, a bad file is refused for the
    // same reason.
    static void refusedAlsoWhenResizedAtOnce(const QByteArray &bytes, DecodeError expected)
    {
        const DecodeResult r = decodeImageData(bytes, [](QSize size) { return size / 2; });
        QVERIFY(r.image.isNull());
        QCOMPARE(r.error, expected);
    }

private slots:
    // The picture as seen: a red corner at the top left of a 40x20 picture
    // ends up where the EXIF orientation says.
    void orientationIsApplied_data()
    {
        QTest::addColumn<int>("transform");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("red");
        QTest::newRow("as stored") << int(QImageIOHandler::TransformationNone) << QSize(40, 20) << QPoint(2, 2);
        QTest::newRow("mirrored") << int(QImageIOHandler::TransformationMirror) << QSize(40, 20) << QPoint(37, 2);
        QTest::newRow("upside down") << int(QImageIOHandler::TransformationRotate180) << QSize(40, 20) << QPoint(37, 17);
        QTest::newRow("turned right") << int(QImageIOHandler::TransformationRotate90) << QSize(20, 40) << QPoint(17, 2);
        QTest::newRow("turned left") << int(QImageIOHandler::TransformationRotate270) << QSize(20, 40) << QPoint(2, 37);
        QTest::newRow("transposed") << int(QImageIOHandler::TransformationFlipAndRotate90) << QSize(20, 40) << QPoint(2, 2);
        QTest::newRow("transversed") << int(QImageIOHandler::TransformationMirrorAndRotate90) << QSize(20, 40) << QPoint(17, 37);
    }
    void orientationIsApplied()
    {
        QFETCH(int, transform);
        QFETCH(QSize, size);
        QFETCH(QPoint, red);
        QImage picture(40, 20, QImage::Format_RGB32);
        picture.fill(Qt::white);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x)
                picture.setPixel(x, y, qRgb(255, 0, 0));
        QImageWriter writer(path("turned.jpg"));
        writer.setQuality(95);
        writer.setTransformation(QImageIOHandler::Transformations(transform));
        QVERIFY(writer.write(picture));
        const DecodeResult d = decodeImageFile(path("turned.jpg"));
        QCOMPARE(d.error, Error::None);
        QCOMPARE(d.image.size(), size);
        QCOMPARE(d.image.format(), QImage::Format_RGB888);
        QVERIFY(qRed(d.image.pixel(red)) > 200 && qGreen(d.image.pixel(red)) < 60);
    }

    // A wide-gamut picture is converted, from a JPEG's or a PNG's profile.
    void otherProfileBecomesSrgb_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("png") << QByteArray("png");
        QTest::newRow("jpeg") << QByteArray("jpeg");
    }
    void otherProfileBecomesSrgb()
    {
        QFETCH(QByteArray, format);
        QImage p3(16, 16, QImage::Format_RGB32);
        p3.fill(QColor(200, 60, 40));
        p3.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        const DecodeResult plain = decodeImageData(encoded(p3, format));
        QCOMPARE(plain.error, Error::None);
        const QRgb stored = QImage::fromData(encoded(p3, format)).pixel(8, 8);
        QImage expected(1, 1, QImage::Format_RGB32);
        expected.setPixel(0, 0, stored);
        expected.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        expected.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
        QVERIFY(maxDifference(plain.image.copy(8, 8, 1, 1), expected.convertToFormat(QImage::Format_RGB888)) <= 1);
        QVERIFY(qRed(plain.image.pixel(8, 8)) > qRed(stored) + 10);
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
        const DecodeResult d = decodeImageData(encoded(img, "png"));
        QCOMPARE(d.error, Error::None);
        QCOMPARE(QColor(d.image.pixel(1, 1)), expected);
    }

    // A large baseline JPEG is decoded by two threads, each taking half the
    // rows: the picture is the same as one thread's, row for row.
    void twoPartsMatchOne_data()
    {
        QTest::addColumn<QByteArray>("jpeg");
        const QImage photo = testPhoto(700, 1201);
        QTest::newRow("baseline 4:2:0, odd height") << encodeJpeg(photo, 30).bytes;
        QTest::newRow("progressive") << encoded(testPhoto(640, 512), "jpeg", true);
        QTest::newRow("grey") << encoded(testPhoto(300, 300).convertToFormat(QImage::Format_Grayscale8), "jpeg");
    }
    void twoPartsMatchOne()
    {
        QFETCH(QByteArray, jpeg);
        const auto *p = reinterpret_cast<const std::uint8_t *>(jpeg.constData());
        const DecodeResult one = detail::decodeJpeg(p, std::size_t(jpeg.size()), 1);
        const DecodeResult two = detail::decodeJpeg(p, std::size_t(jpeg.size()), 2);
        QCOMPARE(one.error, Error::None);
        QCOMPARE(two.error, Error::None);
        QVERIFY(one.image == two.image);
        QVERIFY(one.image == QImage::fromData(jpeg).convertToFormat(QImage::Format_RGB888));
    }

    // A JPEG or HEIF picture resized as it is decoded gives the bytes of
    // resizing the whole decoded picture; a JPEG whether one core or two
    // share its rows.
    void resizedAtOnceMatchesWhole_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("to");
        const QByteArray tall = encodeJpeg(testPhoto(700, 1201), 30).bytes;
        QImage srgb = testPhoto(400, 300);
        srgb.setColorSpace(QColorSpace(QColorSpace::SRgb));
        QTest::newRow("baseline 4:2:0, odd height, reduced") << tall << QSize(333, 500);
        QTest::newRow("baseline, enlarged") << tall << QSize(900, 1500);
        QTest::newRow("baseline, width only") << tall << QSize(351, 1201);
        QTest::newRow("baseline, height only") << tall << QSize(700, 257);
        QTest::newRow("baseline, one row") << tall << QSize(333, 1);
        QTest::newRow("progressive") << encoded(testPhoto(640, 512), "jpeg", true) << QSize(320, 256);
        QTest::newRow("grey") << encoded(testPhoto(300, 300).convertToFormat(QImage::Format_Grayscale8), "jpeg") << QSize(100, 99);
        QTest::newRow("restart markers") << fileContents(data("restarts.jpg")) << QSize(50, 31);
        QTest::newRow("sRGB profile") << encoded(srgb, "jpeg") << QSize(200, 150);
        QTest::newRow("HEIC, reduced") << fileContents(data("photo.heic")) << QSize(97, 61);
        QTest::newRow("HEIC, enlarged, one row") << fileContents(data("photo.heic")) << QSize(500, 1);
        QTest::newRow("AVIF") << fileContents(data("photo.avif")) << QSize(100, 130);
        QTest::newRow("HEIC with alpha") << fileContents(data("alpha.heic")) << QSize(31, 17);
        QTest::newRow("10-bit HEIC") << fileContents(data("photo10.heic")) << QSize(64, 40);
        QTest::newRow("HEIC grid") << fileContents(data("grid.heic")) << QSize(50, 50);
    }
    void resizedAtOnceMatchesWhole()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, to);
        const DecodeResult whole = decodeImageData(bytes);
        QCOMPARE(whole.error, Error::None);
        QImage expected(to, QImage::Format_RGB888);
        QVERIFY(resampleBicubic({const_cast<uchar *>(whole.image.constBits()), whole.image.width(), whole.image.height(), whole.image.bytesPerLine()},
                                {expected.bits(), to.width(), to.height(), expected.bytesPerLine()}));
        const auto sizeFor = [&](QSize size) { return size == whole.image.size() ? to : QSize(); };
        const DecodeResult d = decodeImageData(bytes, sizeFor);
        QCOMPARE(d.error, Error::None);
        QVERIFY(d.resized);
        QVERIFY(d.image == expected);
        if (!bytes.startsWith("\xFF\xD8"))
            return;
        const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.constData());
        for (const int parts : {1, 2}) {
            const std::optional<DecodeResult> j = detail::decodeJpegResized(p, std::size_t(bytes.size()), sizeFor, parts);
            QVERIFY(j.has_value());
            QCOMPARE(j->error, Error::None);
            QVERIFY2(j->image == expected, qPrintable(QStringLiteral("%1 part(s)").arg(parts)));
        }
    }

    // Pictures whose rows cannot go straight into the resampler come whole:
    // turned or wide-gamut ones (the turn or conversion comes first), other
    // formats, and sizes not to be made this way.
    void resizedAtOnceDeclines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("to");
        QImage p3 = testPhoto(64, 48);
        p3.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        const QByteArray plain = encoded(testPhoto(64, 48), "jpeg");
        QTest::newRow("turned (EXIF orientation 6)") << fileContents(data("exif.jpg")) << QSize(100, 150);
        QTest::newRow("Display P3 profile") << encoded(p3, "jpeg") << QSize(32, 24);
        QTest::newRow("PNG") << encoded(testPhoto(64, 48), "png") << QSize(32, 24);
        QTest::newRow("same size") << plain << QSize(64, 48);
        QTest::newRow("no size") << plain << QSize();
        QTest::newRow("HEIC, same size") << fileContents(data("photo.heic")) << QSize(192, 120);
        QTest::newRow("HEIC, Display P3 profile") << fileContents(data("displayp3.heic")) << QSize(32, 20);
    }
    void resizedAtOnceDeclines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, to);
        const DecodeResult whole = decodeImageData(bytes);
        QCOMPARE(whole.error, Error::None);
        const DecodeResult d = decodeImageData(bytes, [&](QSize) { return to; });
        QCOMPARE(d.error, Error::None);
        QVERIFY(!d.resized);
        QVERIFY(d.image == whole.image);
    }

    // Each EXIF orientation, pixel by pixel, as the standard defines it
    // (out(x, y) taken from the stored picture's in(u, v)).
    void orientationPixelByPixel_data()
    {
        QTest::addColumn<int>("orientation");
        for (int o = 1; o <= 8; ++o)
            QTest::newRow(qPrintable(QString::number(o))) << o;
    }
    void orientationPixelByPixel()
    {
        QFETCH(int, orientation);
        constexpr int W = 3, H = 2;
        QImage in(W, H, QImage::Format_RGB888);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                in.setPixel(x, y, qRgb(10 * x, 100 + 10 * y, 0));
        const QImage out = detail::applyOrientation(in, orientation);
        const bool turned = orientation >= 5;
        QCOMPARE(out.size(), turned ? QSize(H, W) : QSize(W, H));
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x) {
                const QPoint from[] = {{x, y}, {W - 1 - x, y}, {W - 1 - x, H - 1 - y}, {x, H - 1 - y},
                                       {y, x}, {y, H - 1 - x}, {W - 1 - y, H - 1 - x}, {W - 1 - y, x}};
                QCOMPARE(out.pixel(x, y), in.pixel(from[orientation - 1]));
            }
    }

    // A picture converted band by band, or packed into its own memory, is
    // converted pixel for pixel: no row lost, doubled or cut at a band's
    // edge or a packed row's end, whatever the width.
    void bandsCoverEveryPixel_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("way"); // 0: bands, 1: packed from ARGB32, 2: packed from RGB32
        const QList<std::pair<const char *, QSize>> sizes{{"many bands, wide", QSize(1001, 613)}, {"one pixel wide", QSize(1, 300000)},
                                                          {"rows longer than a band", QSize(140000, 3)}, {"one band", QSize(17, 5)},
                                                          {"three pixels", QSize(3, 9)}};
        for (const auto &[name, size] : sizes) {
            QTest::addRow("%s, in bands", name) << size << 0;
            QTest::addRow("%s, packed ARGB32", name) << size << 1;
            QTest::addRow("%s, packed RGB32", name) << size << 2;
        }
    }
    void bandsCoverEveryPixel()
    {
        QFETCH(QSize, size);
        QFETCH(int, way);
        QImage argb(size, way == 2 ? QImage::Format_RGB32 : QImage::Format_ARGB32);
        for (int y = 0; y < size.height(); ++y) {
            QRgb *row = reinterpret_cast<QRgb *>(argb.scanLine(y));
            for (int x = 0; x < size.width(); ++x)
                row[x] = qRgba(x * 7 + y, y * 13 + x * 3, (x ^ y) & 255, 255);
        }
        const QImage rgb = way == 0 ? detail::convertedInBands(argb, QImage::Format_RGB888) : detail::packedAsRgb888(std::move(argb));
        QCOMPARE(rgb.format(), QImage::Format_RGB888);
        QCOMPARE(rgb.size(), size);
        QCOMPARE(rgb.bytesPerLine(), QImage(size, QImage::Format_RGB888).bytesPerLine());
        for (int y = 0; y < size.height(); ++y) {
            const uchar *out = rgb.constScanLine(y);
            for (int x = 0; x < size.width(); ++x, out += 3)
                if (out[0] != uchar(x * 7 + y) || out[1] != uchar(y * 13 + x * 3) || out[2] != uchar((x ^ y) & 255))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
    }

    // The picture made for output from the formats readers give, worked
    // out by hand: a palette with clear and half-clear colours, 16-bit
    // grey, 16-bit colour with alpha.
    void preparedForOutputByHand_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<QList<QRgb>>("expected"); // the first three pixels
        QImage indexed(3, 1, QImage::Format_Indexed8);
        indexed.setColorTable({qRgba(200, 10, 10, 255), qRgba(0, 0, 0, 0), qRgba(100, 50, 0, 128)});
        for (int x = 0; x < 3; ++x)
            indexed.setPixel(x, 0, uint(x));
        QImage grey16(3, 1, QImage::Format_Grayscale16);
        const quint16 greys[] = {0, 32896, 65535};
        std::memcpy(grey16.scanLine(0), greys, sizeof greys);
        QImage rgba64(3, 1, QImage::Format_RGBA64);
        const quint16 samples[] = {65535, 0, 257, 65535, /**/ 1000, 2000, 3000, 0, /**/ 51400, 25700, 0, 32896};
        std::memcpy(rgba64.scanLine(0), samples, sizeof samples);
        // (c * a + 255 * (255 - a) + 127) / 255 over white; 16 bits to 8 by / 257, rounded.
        QTest::newRow("palette with alpha") << indexed << QList<QRgb>{qRgb(200, 10, 10), qRgb(255, 255, 255), qRgb(177, 152, 127)};
        QTest::newRow("16-bit grey") << grey16 << QList<QRgb>{qRgb(0, 0, 0), qRgb(128, 128, 128), qRgb(255, 255, 255)};
        QTest::newRow("16-bit colour, alpha") << rgba64 << QList<QRgb>{qRgb(255, 0, 1), qRgb(255, 255, 255), qRgb(227, 177, 127)};
    }
    void preparedForOutputByHand()
    {
        QFETCH(QImage, picture);
        QFETCH(QList<QRgb>, expected);
        const QImage out = normalizeForOutput(picture);
        QCOMPARE(out.format(), QImage::Format_RGB888);
        for (int x = 0; x < 3; ++x)
            QCOMPARE(QColor(out.pixel(x, 0)), QColor(expected[x]));
    }

    // Every kind of PNG reads as Qt's reader read it before libspng: the
    // same format, colour space, colours and samples, so the picture made
    // for output is the same.
    void pngReadAsQtReadsIt_data()
    {
        QTest::addColumn<QString>("file");
        const QStringList files = QDir(data("png")).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
        QVERIFY(files.size() >= 30);
        for (const QString &f : files)
            if (f != QLatin1String("rgb16_trns.png")) // Qt's reader gets it wrong: below
                QTest::newRow(qPrintable(f)) << f;
    }
    void pngReadAsQtReadsIt()
    {
        QFETCH(QString, file);
        QFile in(data("png/" + file));
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QByteArray png = in.readAll();
        const DecodeResult ours = detail::decodePng(reinterpret_cast<const std::uint8_t *>(png.constData()), std::size_t(png.size()));
        QCOMPARE(ours.error, Error::None);
        const QImage qt = QImage::fromData(png, "png");
        QVERIFY(!qt.isNull());
        // A 1-bit picture at a byte a pixel; an opaque RGB one whose colours
        // stay as they are straight as RGB888, to which Qt's is narrowed.
        const bool narrowed = qt.format() == QImage::Format_RGB32
                              && (!qt.colorSpace().isValid() || qt.colorSpace() == QColorSpace(QColorSpace::SRgb));
        QCOMPARE(ours.image.format(), qt.format() == QImage::Format_Mono ? QImage::Format_Indexed8
                                      : narrowed                         ? QImage::Format_RGB888
                                                                         : qt.format());
        QCOMPARE(ours.image.colorSpace(), qt.colorSpace());
        QCOMPARE(ours.image.hasAlphaChannel(), qt.hasAlphaChannel());
        const QImage::Format wide = qt.hasAlphaChannel() ? QImage::Format_RGBA64 : QImage::Format_RGBX64;
        QCOMPARE(ours.image.convertToFormat(wide), qt.convertToFormat(wide));
        QCOMPARE(normalizeForOutput(ours.image), normalizeForOutput(qt));
    }

    // A transparent colour in a 16-bit RGB picture clears the pixels of that
    // colour. Qt's reader ignored it and laid the samples out 6 bytes a
    // pixel in 8-byte places: a shifted picture, its right quarter clear.
    void sixteenBitTransparentColourIsApplied()
    {
        const auto read = [](const QString &file) {
            QFile in(data("png/" + file));
            in.open(QIODevice::ReadOnly);
            const QByteArray png = in.readAll();
            return detail::decodePng(reinterpret_cast<const std::uint8_t *>(png.constData()), std::size_t(png.size()));
        };
        const DecodeResult clear = read("rgb16_trns.png");
        const DecodeResult plain = read("rgb16.png");
        QCOMPARE(clear.error, Error::None);
        QCOMPARE(clear.image.format(), QImage::Format_RGBA64);
        QImage expected = plain.image.convertToFormat(QImage::Format_RGBA64);
        QColor first = expected.pixelColor(0, 0);
        first.setAlpha(0);
        expected.setPixelColor(0, 0, first);
        QCOMPARE(clear.image, expected);
    }

    // 16-bit samples come out at the nearest 8-bit value (v / 257, rounded),
    // worked out here from the pattern tests/data/make_png_fixtures.py wrote.
    void sixteenBitsRoundToNearest_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("channels");
        QTest::newRow("grey") << "grey16.png" << 1;
        QTest::newRow("rgb") << "rgb16.png" << 3;
        QTest::newRow("rgb, interlaced") << "rgb16_interlaced.png" << 3;
    }
    void sixteenBitsRoundToNearest()
    {
        QFETCH(QString, file);
        QFETCH(int, channels);
        const DecodeResult d = decodeImageFile(data("png/" + file));
        QCOMPARE(d.error, Error::None);
        QCOMPARE(d.image.size(), QSize(37, 23));
        const auto sample = [](int x, int y, int c) { return (x * 7919 + y * 104729 + c * 31337 + x * y * 13) % 65536; };
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x) {
                const uchar *px = d.image.constScanLine(y) + 3 * x;
                for (int c = 0; c < 3; ++c) {
                    const int expected = int(std::lround(sample(x, y, channels == 1 ? 0 : c) / 257.0));
                    QVERIFY2(px[c] == expected, qPrintable(QStringLiteral("%1,%2 channel %3: %4, not %5").arg(x).arg(y).arg(c).arg(px[c]).arg(expected)));
                }
            }
    }

    // A phone's motion photo is the JPEG with a video after it: the picture
    // is the JPEG's, as if the video were not there.
    void motionPhotoIsItsStill()
    {
        const DecodeResult still = decodeImageFile(data("photo.jpg"));
        const DecodeResult motion = decodeImageFile(data("motion.jpg"));
        QCOMPARE(still.error, Error::None);
        QCOMPARE(motion.error, Error::None);
        QCOMPARE(motion.image, still.image);
    }

    // HEIC and AVIF give what libheif's own converter gives (the fixtures'
    // references), alpha blended over white, 10 bits brought to 8.
    void heifMatchesItsConverter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reference");
        QTest::addColumn<int>("tolerance");
        // Our plugin's own conversion of the 8-bit HEIC: libheif's, exactly.
        QTest::newRow("heic") << "photo.heic" << "photo_heic_ref.png" << 0;
        QTest::newRow("avif") << "photo.avif" << "photo_avif_ref.png" << 0;
        QTest::newRow("heic with alpha") << "alpha.heic" << "alpha_heic_ref.png" << 0;
        QTest::newRow("10-bit heic") << "photo10.heic" << "photo10_heic_ref.png" << 1;
    }
    void heifMatchesItsConverter()
    {
        QFETCH(QString, name);
        QFETCH(QString, reference);
        QFETCH(int, tolerance);
        const DecodeResult d = decodeImageFile(data(name));
        QCOMPARE(d.error, Error::None);
        QCOMPARE(d.image.format(), QImage::Format_RGB888);
        const QImage ref = overWhite(QImage(data(reference)));
        QCOMPARE(d.image.size(), ref.size());
        QVERIFY2(maxDifference(d.image, ref) <= tolerance, qPrintable(QString::number(maxDifference(d.image, ref))));
    }

    // The HEVC plugin's conversion: the vector kernel gives the portable
    // one's bytes, at every width (tails included) and at the clip edges;
    // only full-range BT.601 is taken from libheif.
    void hevcRowKernelsAgree()
    {
        if (!cpuHasAvx2())
            QSKIP("no AVX2 here");
        QVERIFY(!detail::yccToRgbFor(1, true) && !detail::yccToRgbFor(6, false) && !detail::yccToRgbFor(2, true));
        const detail::YccToRgb k = *detail::yccToRgbFor(6, true);
        std::mt19937 random(5);
        for (int width = 1; width <= 70; ++width) {
            std::vector<std::uint8_t> y(static_cast<std::size_t>(width));
            std::vector<std::uint8_t> cb(static_cast<std::size_t>(width + 1) / 2 + 4), cr(cb.size());
            for (auto *plane : {&y, &cb, &cr})
                for (auto &v : *plane)
                    v = std::uint8_t(random() % 5 == 0 ? (random() % 2) * 255 : random() % 256);
            std::vector<std::uint8_t> portable(std::size_t(width) * 3), avx2(portable.size());
            detail::yccRowToRgbPortable(y.data(), cb.data(), cr.data(), portable.data(), portable.data() + width,
                                        portable.data() + 2 * width, width, k);
            detail::yccRowToRgbAvx2(y.data(), cb.data(), cr.data(), avx2.data(), avx2.data() + width, avx2.data() + 2 * width,
                                    width, k);
            QVERIFY2(portable == avx2, qPrintable(QStringLiteral("width %1").arg(width)));
        }
    }

    // The decoder is chosen by what the file holds, not by its name.
    void contentNotExtension_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("name");
        QTest::newRow("heic named .jpg") << "photo.heic" << "holiday.jpg";
        QTest::newRow("jpeg named .png") << "photo.jpg" << "holiday.png";
        QTest::newRow("avif without extension") << "photo.avif" << "holiday";
        QTest::newRow("gif named .heic") << "photo.gif" << "holiday.heic";
    }
    void contentNotExtension()
    {
        QFETCH(QString, source);
        QFETCH(QString, name);
        write(name, fileContents(data(source)));
        const DecodeResult renamed = decodeImageFile(path(name));
        QCOMPARE(renamed.error, Error::None);
        QCOMPARE(renamed.image, decodeImageFile(data(source)).image);
    }

    // Cut short, corrupt or not a picture: refused with the reason, no image.
    void badFilesFail_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<DecodeError>("expected");
        const QByteArray jpeg = fileContents(data("photo.jpg"));
        const QImage picture = QImage(data("photo.jpg"));
        const QByteArray png = encoded(picture, "png");
        const QByteArray bmp = encoded(picture, "bmp");
        const QByteArray gif = fileContents(data("photo.gif"));
        const QByteArray heic = fileContents(data("photo.heic"));
        const QByteArray avif = fileContents(data("photo.avif"));
        const QByteArray tiff = encoded(picture, "tiff");
        const QByteArray webp = encoded(picture, "webp");
        QByteArray corrupt = jpeg;
        corrupt.replace(jpeg.size() / 2, 4, "\xFF\xD3\x00\x00");
        QTest::newRow("text file") << "notes.jpg" << QByteArray("not a picture\n") << Error::UnknownFormat;
        QTest::newRow("empty file") << "empty.png" << QByteArray() << Error::UnknownFormat;
        QTest::newRow("JPEG cut at 60 %") << "cut.jpg" << jpeg.left(jpeg.size() * 6 / 10) << Error::Truncated;
        QTest::newRow("JPEG header only") << "header.jpg" << jpeg.left(600) << Error::Truncated;
        // Large enough to be decoded by two threads.
        const QByteArray big = encodeJpeg(testPhoto(700, 1201), 30).bytes;
        QByteArray bigCorrupt = big;
        bigCorrupt.replace(big.size() / 4, 4, "\xFF\xD3\x00\x00");
        QTest::newRow("large JPEG cut at 60 %") << "bigcut.jpg" << big.left(big.size() * 6 / 10) << Error::Truncated;
        QTest::newRow("large JPEG corrupt in its upper half") << "bigcorrupt.jpg" << bigCorrupt << Error::Damaged;
        // Read scan by scan into memory mapped ahead on the second core.
        const QByteArray progressive = encoded(testPhoto(640, 512), "jpeg", true);
        QByteArray progressiveCorrupt = progressive;
        progressiveCorrupt.replace(progressive.size() / 3, 4, "\xFF\xD3\x00\x00");
        QTest::newRow("progressive JPEG cut at 60 %") << "pcut.jpg" << progressive.left(progressive.size() * 6 / 10) << Error::Truncated;
        QTest::newRow("progressive JPEG corrupt") << "pcorrupt.jpg" << progressiveCorrupt << Error::Damaged;
        QTest::newRow("JPEG without its end marker") << "noend.jpg" << jpeg.chopped(2) << Error::Truncated;
        QTest::newRow("JPEG with a marker in its data") << "corrupt.jpg" << corrupt << Error::Damaged;
        QTest::newRow("PNG cut in half") << "cut.png" << png.left(png.size() / 2) << Error::Damaged;
        QTest::newRow("BMP cut in half") << "cut.bmp" << bmp.left(bmp.size() / 2) << Error::Truncated;
        QTest::newRow("BMP missing its last byte") << "short.bmp" << bmp.chopped(1) << Error::Truncated;
        QTest::newRow("GIF cut in half") << "cut.gif" << gif.left(gif.size() / 2) << Error::Truncated;
        QTest::newRow("HEIC cut in half") << "cut.heic" << heic.left(heic.size() / 2) << Error::Truncated;
        QTest::newRow("AVIF cut in half") << "cut.avif" << avif.left(avif.size() / 2) << Error::Truncated;
        // Found by fuzzing: libde265 decoded past the damage, leaving parts
        // of the picture as its buffers held them, different each time.
        QTest::newRow("HEIC grid of damaged HEVC data") << "concealed.heic" << fileContents(data("concealed_grid.heic")) << Error::Damaged;
        QTest::newRow("TIFF cut in half") << "cut.tif" << tiff.left(tiff.size() / 2) << Error::Damaged;
        QTest::newRow("WebP cut in half") << "cut.webp" << webp.left(webp.size() / 2) << Error::Damaged;
        QTest::newRow("random bytes") << "noise.bmp" << QByteArray(5000, '\x9c') << Error::UnknownFormat;
        // Found by fuzzing: rows x row length beyond 64 bits; refused for
        // its size before its data is looked at.
        QTest::newRow("BMP of 1.5 billion rows") << "rows.bmp"
            << QByteArray::fromBase64("Qk1uBAEAAAAAOQAAAFzJzV/oAQBhIAAHHab///8AAAAAADgEAADEDgAAzy6NrVbUyU4QLRQQRjoOSjIfYEkgbtMugM8B39pegWw=")
            << Error::TooLarge;
    }
    void badFilesFail()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(DecodeError, expected);
        write(name, bytes);
        const DecodeResult d = decodeImageFile(path(name));
        QVERIFY(d.image.isNull());
        QCOMPARE(d.error, expected);
        refusedAlsoWhenResizedAtOnce(bytes, expected);
    }

    // What libjpeg reports as corrupt inside the picture's data is refused;
    // what cameras and phones write around it is not.
    void corruptJpegDataIsRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<DecodeError>("expected");
        const QByteArray sequential = fileContents(data("sequential.jpg"));
        QTest::newRow("decoder lost its place: many bytes before the end")
            << fileContents(data("flip_lost_place.jpg")) << Error::Damaged;
        QTest::newRow("stray bytes before a restart marker") << fileContents(data("flip_before_restart.jpg")) << Error::Damaged;
        QTest::newRow("stray bytes before a later scan") << fileContents(data("flip_before_scan.jpg")) << Error::Damaged;
        QTest::newRow("progressive header lying about its size")
            << fileContents(data("lying_progressive.jpg")) << Error::Truncated;
        QTest::newRow("sequential header lying about its size")
            << withClaimedSize(sequential, 16000, 16000) << Error::Truncated;
        const QByteArray junkAfterStart = sequential.left(2) + QByteArray(1, '\0') + sequential.mid(2);
        QTest::newRow("junk after the start marker, cut in half") << junkAfterStart.left(junkAfterStart.size() / 2)
                                                                   << Error::Truncated;
    }
    void corruptJpegDataIsRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(DecodeError, expected);
        const DecodeResult d = decodeImageData(bytes);
        QCOMPARE(d.error, expected);
        QVERIFY(d.image.isNull());
        refusedAlsoWhenResizedAtOnce(bytes, expected);
    }

    void cameraOdditiesAreAccepted_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("same");
        const QByteArray sequential = fileContents(data("sequential.jpg"));
        QTest::newRow("padding before the end marker")
            << sequential.chopped(2) + QByteArray(4, '\0') + sequential.right(2) << "sequential.jpg";
        QTest::newRow("junk after the start marker") << sequential.left(2) + QByteArray(1, '\0') + sequential.mid(2)
                                                      << "sequential.jpg";
        QTest::newRow("data after the end marker") << sequential + QByteArray(5000, 'v') << "sequential.jpg";
        QTest::newRow("restart markers") << fileContents(data("restarts.jpg")) << "restarts.jpg";
        QTest::newRow("progressive") << fileContents(data("progressive.jpg")) << "progressive.jpg";
    }
    void cameraOdditiesAreAccepted()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, same);
        const DecodeResult d = decodeImageData(bytes);
        QCOMPARE(d.error, Error::None);
        // Qt's reading of the clean file
        QImage reference(data(same));
        QCOMPARE(maxDifference(d.image, reference.convertToFormat(QImage::Format_RGB888)), 0);
    }

    // Pixels a reader leaves unwritten have one defined colour, never what
    // the memory held before: a picture of the same byte size is decoded
    // first, so its freed pixels are what the next one is given.
    void unwrittenPixelsAreOneColour_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("painted");
        const QByteArray crafted = fileContents(data("rle_skipped.bmp"));
        QTest::newRow("delta jump, then an early end") << crafted << 14;
        QByteArray none = crafted;
        none.replace(none.size() - 10, 10, QByteArray("\x00\x01", 2));
        QTest::newRow("no data at all") << none << 0;
    }
    void unwrittenPixelsAreOneColour()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, painted);
        QImage noise(200, 150, QImage::Format_Indexed8);
        noise.setColorCount(256);
        for (int i = 0; i < 256; ++i)
            noise.setColor(i, qRgb(i, 255 - i, i / 2));
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 200; ++x)
                noise.setPixel(x, y, uint((x * 7 + y * 13) % 251));
        QVERIFY(!decodeImageData(encoded(noise, "bmp")).image.isNull());

        const DecodeResult d = decodeImageData(bytes);
        QCOMPARE(d.error, Error::None);
        const QRgb unwritten = qRgb(10, 20, 30), paint = qRgb(200, 100, 50);
        int paintedSeen = 0;
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 200; ++x) {
                const bool isPaint = (y == 149 && x < 10) || (y == 146 && x >= 15 && x < 19);
                const QRgb want = isPaint && painted ? paint : unwritten;
                if (d.image.pixel(x, y) != want)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2: %3").arg(x).arg(y).arg(d.image.pixel(x, y), 8, 16)));
                paintedSeen += want == paint;
            }
        QCOMPARE(paintedSeen, painted);
    }

    // Pictures that claim more pixels than we hold are refused from their
    // header, before anything of that size is allocated.
    void bombsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("claimed");
        const QByteArray jpeg = fileContents(data("photo.jpg"));
        QTest::newRow("JPEG claiming 60000x60000") << withClaimedSize(jpeg, 60000, 60000) << QSize(60000, 60000);
        QTest::newRow("JPEG claiming 35000x35000") << withClaimedSize(jpeg, 35000, 35000) << QSize(35000, 35000);
        const QByteArray ihdr = be32(40000) + be32(40000) + QByteArray("\x01\x00\x00\x00\x00", 5); // 1 bit, grey
        const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n") + pngChunk("IHDR", ihdr)
                               + pngChunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + pngChunk("IEND", {});
        QTest::newRow("1-bit PNG of 40000x40000") << png << QSize(40000, 40000);
        QTest::newRow("BMP header of 40000x40000, no pixels") << bmpHeaderOnly(40000, 40000) << QSize(40000, 40000);
        QTest::newRow("HEIC declaring 60000x60000")
            << withIspe(fileContents(data("photo.heic")), 60000, 60000) << QSize(60000, 60000);
        // Its ispe says 512x512; the grid's own description makes the canvas.
        QTest::newRow("HEIC grid of a 20480x20480 canvas") << fileContents(data("lying_grid.heic")) << QSize(20480, 20480);
        // Found by fuzzing: a grid's tile that is itself an overlay's canvas.
        QTest::newRow("HEIC grid with a 30000x30000 overlay tile")
            << fileContents(data("nested_overlay.heic")) << QSize(30000, 30000);
        // Found by fuzzing, kept as found: a 2x2 grid whose fourth tile is an
        // overlay with no picture over it, its description read from the
        // HEVC data: 14160x60793 (libheif made a canvas of 2.5 GB).
        QTest::newRow("HEIC grid with an empty overlay tile")
            << fileContents(data("empty_overlay.heic")) << QSize(14160, 60793);
        // Found by fuzzing, kept as found: the grid's reference to its
        // 30000x30000 overlay tile sits in a box declaring 2 MB, past its
        // parent; libheif reads the reference regardless.
        QTest::newRow("HEIC grid whose reference box overstates its size")
            << fileContents(data("lying_iref.heic")) << QSize(30000, 30000);
    }

    // A picture without pixels is called that, not too large.
    void noPixels_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray gif = QByteArray("GIF89a\0\0\0\0\x80\0\0\0\0\0\xff\xff\xff", 19)
                               + QByteArray("\x2c\0\0\0\0\0\0\0\0\0\x02\x02\x44\x01\0\x3b", 16);
        QTest::newRow("GIF of 0x0") << gif;
        QTest::newRow("HEIC declaring 0x0") << withIspe(fileContents(data("photo.heic")), 0, 0);
    }
    void noPixels()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(decodeImageData(bytes).error, Error::NoPixels);
    }

    // libheif decodes a grid's tiles and a picture at their coded sizes,
    // whatever its ispe boxes declare.
    void heifAtItsRealSize()
    {
        const QImage tile = overWhite(QImage(data("photo_heic_ref.png")));
        QImage tiled(384, 240, QImage::Format_RGB888);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 384; ++x)
                tiled.setPixel(x, y, tile.pixel(x % 192, y % 120));
        const DecodeResult grid = decodeImageData(fileContents(data("grid.heic")));
        QCOMPARE(grid.error, Error::None);
        QVERIFY(maxDifference(grid.image, tiled) <= 1);

        const QByteArray small = withIspe(fileContents(data("photo.heic")), 8, 8);
        const detail::HeifSizes real = detail::readHeifSizes(reinterpret_cast<const std::uint8_t *>(small.constData()), std::size_t(small.size()));
        QCOMPARE(real.output, QSize(192, 120));
        QCOMPARE(real.largestCoded, QSize(192, 120));
        QCOMPARE(decodeImageData(small).image.size(), QSize(192, 120));
    }
    void bombsAreRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, claimed);
        const DecodeResult d = decodeImageData(bytes);
        QCOMPARE(d.error, Error::TooLarge);
        QCOMPARE(d.size, claimed);
    }

    // Qt's readers stop at 256 MB unless told otherwise: a 100-megapixel
    // photograph needs 400 MB as it is read.
    void hundredMegapixelsLoad()
    {
        QImage big(10000, 10000, QImage::Format_RGB888);
        big.fill(QColor(90, 120, 30));
        const EncodeResult jpeg = encodeJpeg(big, 200);
        QCOMPARE(jpeg.error, EncodeError::None);
        big = QImage();
        write("big.jpg", jpeg.bytes);
        const DecodeResult d = decodeImageFile(path("big.jpg"));
        QCOMPARE(d.error, Error::None);
        QCOMPARE(d.image.size(), QSize(10000, 10000));
    }

    void notAPictureFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<DecodeError>("expected");
        QTest::newRow("missing") << "nothing-here.png" << Error::NotFound;
        QTest::newRow("folder") << "folder.jpg" << Error::IsFolder;
        QTest::newRow("named pipe") << "pipe.jpg" << Error::CannotOpen;
    }
    void notAPictureFile()
    {
        QFETCH(QString, name);
        QFETCH(DecodeError, expected);
        QDir(m_dir.path()).mkdir("folder.jpg");
        ::mkfifo(QFile::encodeName(path("pipe.jpg")).constData(), 0600);
        QCOMPARE(decodeImageFile(path(name)).error, expected);
    }
};

QTEST_GUILESS_MAIN(TestDecode)
#include "tst_decode.moc"
