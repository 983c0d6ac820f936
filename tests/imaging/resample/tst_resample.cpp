#include "imaging/image.h"
#include "common/cpufeatures.h"
#include "imaging/resample/resample.h"

#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTest>

#include <cstring>
#include <utility>

using namespace tovalin;

namespace {

const QString kGolden = QStringLiteral(TOVALIN_TEST_DATA "/imaging/resample/golden/");

QImage loadRgb(const QString &path)
{
    QImage img(path);
    return img.convertToFormat(QImage::Format_RGB888);
}

QImage resampled(const QImage &src, int w, int h, ResampleKernel kernel, int threads)
{
    QImage out(w, h, QImage::Format_RGB888);
    out.fill(Qt::magenta);
    const RgbView s{const_cast<uchar *>(src.constBits()), src.width(), src.height(), src.bytesPerLine()};
    const RgbView d{out.bits(), w, h, out.bytesPerLine()};
    if (!resampleBicubic(s, d, kernel, threads))
        return {};
    return out;
}

QImage noise(int w, int h, quint32 seed)
{
    QImage img(w, h, QImage::Format_RGB888);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y) {
        uchar *row = img.scanLine(y);
        for (int x = 0; x < w * 3; ++x)
            row[x] = static_cast<uchar>(rng.bounded(256));
    }
    return img;
}

// First differing pixel, for a readable failure.
QString firstDifference(const QImage &a, const QImage &b)
{
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return QStringLiteral("(%1,%2): %3 vs %4").arg(x).arg(y).arg(a.pixel(x, y), 0, 16).arg(b.pixel(x, y), 0, 16);
    return {};
}

} // namespace

class TestResample : public QObject {
    Q_OBJECT
private:
    void addKernelRows(const QString &name, const QStringList &fields)
    {
        QTest::newRow(qPrintable(name + " portable")) << fields << int(ResampleKernel::Portable) << 1;
        QTest::newRow(qPrintable(name + " portable 2 threads")) << fields << int(ResampleKernel::Portable) << 2;
        if (cpuHasAvx2()) {
            QTest::newRow(qPrintable(name + " avx2")) << fields << int(ResampleKernel::Avx2) << 1;
            QTest::newRow(qPrintable(name + " avx2 2 threads")) << fields << int(ResampleKernel::Avx2) << 2;
        }
    }

private slots:
    // Bit-identical to Pillow's BICUBIC resize, for reductions, enlargements,
    // one axis only, single pixels and sources narrower than the kernel.
    void matchesPillow_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<int>("kernel");
        QTest::addColumn<int>("threads");
        QFile cases(kGolden + "cases.txt");
        QVERIFY(cases.open(QIODevice::ReadOnly | QIODevice::Text));
        while (!cases.atEnd()) {
            const QStringList fields = QString::fromUtf8(cases.readLine()).simplified().split(' ');
            if (fields.size() == 4)
                addKernelRows(fields[3], fields);
        }
    }
    void matchesPillow()
    {
        QFETCH(QStringList, fields);
        QFETCH(int, kernel);
        QFETCH(int, threads);
        const QImage src = loadRgb(kGolden + fields[0]);
        const QImage expected = loadRgb(kGolden + fields[3]);
        QVERIFY(!src.isNull() && !expected.isNull());
        const QImage got = resampled(src, fields[1].toInt(), fields[2].toInt(), ResampleKernel(kernel), threads);
        QCOMPARE(got.size(), expected.size());
        QVERIFY2(got == expected, qPrintable(firstDifference(got, expected)));
    }

    // The vectorised and threaded paths give the portable bytes on sizes
    // large enough to be split, with odd widths and row tails.
    void kernelsAgree_data()
    {
        QTest::addColumn<QSize>("from");
        QTest::addColumn<QSize>("to");
        QTest::newRow("reduce 5x") << QSize(1001, 777) << QSize(200, 155);
        QTest::newRow("reduce a little") << QSize(1001, 777) << QSize(997, 701);
        QTest::newRow("enlarge") << QSize(123, 77) << QSize(1001, 650);
        QTest::newRow("width only") << QSize(640, 480) << QSize(333, 480);
        QTest::newRow("height only") << QSize(640, 480) << QSize(640, 97);
        QTest::newRow("huge reduction") << QSize(3000, 40) << QSize(3, 39);
    }
    void kernelsAgree()
    {
        if (!cpuHasAvx2())
            QSKIP("this processor has no AVX2");
        QFETCH(QSize, from);
        QFETCH(QSize, to);
        const QImage src = noise(from.width(), from.height(), 7);
        const QImage portable = resampled(src, to.width(), to.height(), ResampleKernel::Portable, 1);
        const QImage avx2 = resampled(src, to.width(), to.height(), ResampleKernel::Avx2, 2);
        QVERIFY2(portable == avx2, qPrintable(firstDifference(portable, avx2)));
    }

    // Rows given a few at a time, as a decoder gives them, and the output
    // shared between two streams as the decoder's two parts share it: the
    // bytes of the whole picture's resampling.
    void streamMatchesWhole_data()
    {
        QTest::addColumn<QSize>("from");
        QTest::addColumn<QSize>("to");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("kernel");
        const struct {
            const char *name;
            QSize from, to;
        } sizes[] = {{"reduce", {1001, 777}, {200, 155}},    {"enlarge", {123, 77}, {301, 650}},
                     {"width only", {640, 480}, {333, 480}}, {"height only", {640, 480}, {640, 97}},
                     {"same size", {64, 48}, {64, 48}},      {"narrower than the kernel", {3000, 40}, {3, 39}}};
        for (const auto &s : sizes)
            for (int chunk : {1, 2, 5, 16})
                for (const ResampleKernel kernel : {ResampleKernel::Portable, ResampleKernel::Avx2}) {
                    if (kernel == ResampleKernel::Avx2 && !cpuHasAvx2())
                        continue;
                    QTest::addRow("%s, %d rows, %s", s.name, chunk, kernel == ResampleKernel::Avx2 ? "avx2" : "portable")
                        << s.from << s.to << chunk << int(kernel);
                }
    }
    void streamMatchesWhole()
    {
        QFETCH(QSize, from);
        QFETCH(QSize, to);
        QFETCH(int, chunk);
        QFETCH(int, kernel);
        const QImage src = noise(from.width(), from.height(), 11);
        const QImage whole = resampled(src, to.width(), to.height(), ResampleKernel(kernel), 1);
        QImage streamed(to, QImage::Format_RGB888);
        streamed.fill(Qt::magenta);
        const RgbView dst{streamed.bits(), to.width(), to.height(), streamed.bytesPerLine()};
        const int split = to.height() * 16 / 25;
        for (const auto &[begin, end] : {std::pair{0, split}, std::pair{split, to.height()}}) {
            if (begin == end)
                continue;
            RowResampler stream(from.width(), from.height(), dst, begin, end, ResampleKernel(kernel));
            QVERIFY(stream.ok());
            // Each source row is copied out and spoilt after its push: the stream keeps its own.
            QImage rows(from.width(), chunk, QImage::Format_RGB888);
            for (int y = stream.firstRow(); y < from.height(); y += chunk) {
                const int n = std::min(chunk, from.height() - y);
                for (int r = 0; r < n; ++r)
                    std::memcpy(rows.scanLine(r), src.constScanLine(y + r), std::size_t(from.width()) * 3);
                stream.push(rows.constBits(), n, rows.bytesPerLine());
                rows.fill(Qt::cyan);
            }
        }
        QVERIFY2(streamed == whole, qPrintable(firstDifference(streamed, whole)));
    }

    void sameSizeIsACopy()
    {
        const QImage src = noise(31, 17, 3);
        QCOMPARE(resampled(src, 31, 17, ResampleKernel::Auto, 2), src);
    }

    // Writing one holder into another gives an own copy.
    void holderCopySemantics()
    {
        ImageHolder viewer;
        ImageHolder work;
        QVERIFY(!work.hasImage());
        viewer.setImage(noise(40, 30, 5));
        work.assignFrom(viewer);
        QVERIFY(work.hasImage());
        QCOMPARE(work.resize(20, 10), ResizeOutcome::Done);
        QCOMPARE(work.width(), 20.0f);
        QCOMPARE(work.height(), 10.0f);
        QCOMPARE(viewer.width(), 40.0f);
        QCOMPARE(viewer.image(), noise(40, 30, 5));
    }
};

QTEST_GUILESS_MAIN(TestResample)
#include "tst_resample.moc"
