#include "imaging/decode/decode.h"
#include "imaging/image.h"
#include "imaging/jpeg/jpeg.h"
#include "imaging/jpeg/jpegtrials.h"
#include "imaging/jpeg/trials_dering.h"
#include "imaging/jpeg/trials_monotone.h"
#include "imaging/jpeg/trials_quant.h"
#include "common/cpufeatures.h"
#include "../../testphoto.h"

#include <QDir>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <map>
#include <random>

using namespace tovalin;
using namespace tovalin::detail;

Q_DECLARE_METATYPE(tovalin::Encoder)

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

// The AVIF photograph at 700 x 438, where factor 33's encoding on its own
// is a byte longer than factor 32's.
QImage growingStepPhoto()
{
    const DecodeResult d = decodeImageFile(QStringLiteral(TOVALIN_TEST_DATA "/data/photo.avif"));
    ImageHolder h;
    h.setImage(d.image);
    h.resize(700, 438);
    return h.image();
}

// A screenshot's kind of picture: a light flat background, panels of
// other flat colours, and short dark strokes in lines, as text is. Flat
// colours are where a coarser DC step can make levels alternate.
QImage screenshot(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(QColor(246, 245, 244));
    std::uint32_t seed = 7;
    const auto next = [&seed](int n) {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 16) % std::uint32_t(n));
    };
    for (int panel = 0; panel < 6; ++panel) {
        const QColor colour(200 + next(50), 200 + next(50), 200 + next(50));
        const int x = next(width - 100), y = next(height - 80);
        for (int py = y; py < y + 60 + next(100) && py < height; ++py)
            for (int px = x; px < x + 80 + next(200) && px < width; ++px)
                image.setPixelColor(px, py, colour);
    }
    for (int line = 12; line + 10 < height; line += 18)
        for (int x = 8 + next(20); x + 12 < width; x += 4 + next(9)) {
            const int shade = 30 + next(90), tall = 3 + next(8);
            for (int dy = 0; dy < tall; ++dy)
                for (int dx = 0; dx < 1 + next(3); ++dx)
                    image.setPixelColor(x + dx, line + 10 - dy, QColor(shade, shade, shade + next(40)));
        }
    return image;
}

// Blocks of grey 228 and 229 in turn: at some DC steps both round to one
// level, at the next they split and every difference is coded.
QImage twoGreys()
{
    QImage image(256, 256, QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 228 + ((x / 8 + y / 8) & 1);
            image.setPixelColor(x, y, QColor(grey, grey, grey));
        }
    return image;
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

// Each scan's section of a progressive file: its Huffman table markers,
// its header and its data, in bytes.
QList<int> scanSections(const QByteArray &jpeg)
{
    QList<int> sections;
    int pos = 2, start = -1;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        const uchar marker = uchar(jpeg[pos + 1]);
        if (marker == 0xD9)
            break;
        if (marker == 0xC4 && start < 0)
            start = pos;
        pos += 2 + (uchar(jpeg[pos + 2]) << 8 | uchar(jpeg[pos + 3]));
        if (marker != 0xDA)
            continue;
        while (pos + 1 < jpeg.size() && !(uchar(jpeg[pos]) == 0xFF && uchar(jpeg[pos + 1]) != 0))
            ++pos;
        sections << pos - start;
        start = -1;
    }
    return sections;
}

// The zero bytes stuffed after each 0xFF in a file's scan data.
int stuffedBytes(const QByteArray &jpeg)
{
    int stuffed = 0;
    int pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF && uchar(jpeg[pos + 1]) != 0xD9) {
        const bool scan = uchar(jpeg[pos + 1]) == 0xDA;
        pos += 2 + (uchar(jpeg[pos + 2]) << 8 | uchar(jpeg[pos + 3]));
        for (; scan && pos + 1 < jpeg.size() && !(uchar(jpeg[pos]) == 0xFF && uchar(jpeg[pos + 1]) != 0); ++pos)
            if (uchar(jpeg[pos]) == 0xFF)
                ++stuffed;
    }
    return stuffed;
}

// The two quantisation tables a file carries (natural order).
std::array<std::array<std::uint8_t, kBlock>, 2> stepsOf(const QByteArray &jpeg)
{
    std::array<std::array<std::uint8_t, kBlock>, 2> steps{};
    int pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF && uchar(jpeg[pos + 1]) != 0xDA) {
        const int length = uchar(jpeg[pos + 2]) << 8 | uchar(jpeg[pos + 3]);
        if (uchar(jpeg[pos + 1]) == 0xDB && length == 67 && uchar(jpeg[pos + 4]) < 2)
            for (int k = 0; k < kBlock; ++k)
                steps[uchar(jpeg[pos + 4])][kNatural[k]] = uchar(jpeg[pos + 5 + k]);
        pos += 2 + length;
    }
    return steps;
}

// Each component's quantised blocks as libjpeg reads them back (natural
// order); empty when it warns of corrupt data.
QList<QList<QList<short>>> levelsOf(const QByteArray &jpeg)
{
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(jpeg.constData()), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(&cinfo);
    QList<QList<QList<short>>> all;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info &comp = cinfo.comp_info[c];
        QList<QList<short>> blocks;
        for (JDIMENSION by = 0; by < comp.height_in_blocks; ++by) {
            JBLOCKARRAY row = cinfo.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&cinfo), arrays[c], by, 1, FALSE);
            for (JDIMENSION bx = 0; bx < comp.width_in_blocks; ++bx)
                blocks.append(QList<short>(row[0][bx], row[0][bx] + DCTSIZE2));
        }
        all.append(blocks);
    }
    jpeg_finish_decompress(&cinfo);
    const bool warned = err.num_warnings > 0;
    jpeg_destroy_decompress(&cinfo);
    return warned ? QList<QList<QList<short>>>() : all;
}

// The levels the encoder means for the top left 8x8 block of a plane:
// DCT and quantiser run here on their own, outside the trials. Luma's
// clipped runs are reshaped first.
QList<short> meantLevels(const std::uint8_t *samples, int stride, const QuantTables &q, int table)
{
    alignas(32) std::int16_t coefs[kBlock], levels[kBlock];
    std::int32_t shifted[kBlock];
    if (table == 0 && deringBlock(samples, stride, shifted))
        forwardDctShifted(shifted, coefs);
    else
        trialKernels().forwardDct(samples, stride, coefs);
    quantizeBlock(coefs, q, table, levels);
    QList<short> natural(kBlock);
    for (int k = 0; k < kBlock; ++k)
        natural[kNatural[k]] = levels[k];
    return natural;
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

    // Ours too: every step changes a table and none gets finer; factor 2
    // is every step 1, 255 ends at 80 for DC and 255 at the top.
    void ourTablesGrowWithFactor()
    {
        QuantTables previous = quantTablesFor(2, Encoder::Tovalin);
        for (const auto &table : previous.natural)
            QVERIFY(std::all_of(table.begin(), table.end(), [](std::uint8_t step) { return step == 1; }));
        for (int f = 3; f <= 255; ++f) {
            const QuantTables current = quantTablesFor(f, Encoder::Tovalin);
            for (int n = 0; n < 2; ++n)
                for (int i = 0; i < kBlock; ++i)
                    QVERIFY2(current.natural[n][i] >= previous.natural[n][i], qPrintable(QString::number(f)));
            QVERIFY2(current.natural != previous.natural, qPrintable(QStringLiteral("factor %1 repeats %2").arg(f).arg(f - 1)));
            previous = current;
        }
        QCOMPARE(int(previous.natural[0][0]), 80);
        QCOMPARE(int(previous.natural[1][63]), 255);
    }

    // The size search relies on this. Our encoder's file never grows with
    // the factor, not by a byte: its DC step is the one with the shortest
    // DC scan up to the table's, and its AC steps round each at its own
    // point, so every factor step coarsens a share of them. libjpeg's, and
    // our levels in one baseline scan, wobble with the optimised Huffman
    // tables and the DC rounding: there a step up may cost at most 2 %.
    void sizeNeverGrowsWithFactor_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Encoder>("encoder");
        QTest::addColumn<bool>("strict");
        for (const auto &[kind, encoder] : {std::pair{"libjpeg", Encoder::Libjpeg}, std::pair{"ours", Encoder::Tovalin},
                                            std::pair{"ours, baseline", Encoder::TovalinBaseline}}) {
            const bool strict = encoder != Encoder::Libjpeg;
            QTest::addRow("photograph, %s", kind) << QStringLiteral("photo.jpg") << encoder << strict;
            QTest::addRow("synthetic, %s", kind) << QString() << encoder << strict;
            QTest::addRow("screenshot, %s", kind) << QStringLiteral("screenshot") << encoder << strict;
            if (encoder == Encoder::Libjpeg)
                continue;
            // libjpeg's own DC rounding grows here, by a fifth.
            QTest::addRow("two greys, %s", kind) << QStringLiteral("two greys") << encoder << strict;
            // Small pictures, where a byte of Huffman table outweighs a step.
            QTest::addRow("small PNG, %s", kind) << QStringLiteral("png/rgb8.png") << encoder << strict;
            QTest::addRow("small BMP, %s", kind) << QStringLiteral("rle_skipped.bmp") << encoder << strict;
            QTest::addRow("photograph from AVIF, %s", kind) << QStringLiteral("growing step") << encoder << strict;
        }
    }
    void sizeNeverGrowsWithFactor()
    {
        QFETCH(QString, name);
        QFETCH(Encoder, encoder);
        QFETCH(bool, strict);
        const QImage image = name == QLatin1String("screenshot") ? screenshot(800, 600)
                             : name == QLatin1String("two greys") ? twoGreys()
                             : name == QLatin1String("growing step") ? growingStepPhoto()
                             : name.startsWith(QLatin1String("photo")) || name.isEmpty()
                                 ? photo(name, 800)
                                 : decodeImageFile(QStringLiteral(TOVALIN_TEST_DATA "/data/") + name).image;
        QVERIFY(!image.isNull());
        const JpegTrials trials(image, encoder);
        qsizetype previous = trials.encode(2).size();
        for (int f = 3; f <= 255; ++f) {
            const qsizetype size = trials.encode(f).size();
            const qsizetype allowed = strict ? previous : previous + previous / 50;
            QVERIFY2(size <= allowed, qPrintable(QStringLiteral("factor %1: %2 > %3").arg(f).arg(size).arg(previous)));
            previous = size;
        }
    }

    // Past factor 30 every factor step coarsens an eighth of the AC steps
    // or more, and none gets finer: each step rounds up at a point of its
    // own, so the steps do not bunch at a few factors (rounded at one
    // point, some factor steps coarsen only 8 of the 126).
    void everyFactorStepCoarsens()
    {
        for (int f = 31; f < kStrongestFactor; ++f) {
            const QuantTables a = quantTablesFor(f, Encoder::Tovalin), b = quantTablesFor(f + 1, Encoder::Tovalin);
            int coarser = 0;
            for (int n = 0; n < 2; ++n)
                for (int i = 1; i < kBlock; ++i) {
                    QVERIFY2(b.natural[n][i] >= a.natural[n][i], qPrintable(QString::number(f)));
                    coarser += b.natural[n][i] > a.natural[n][i];
                }
            QVERIFY2(coarser >= 16, qPrintable(QStringLiteral("factor %1 to %2: %3").arg(f).arg(f + 1).arg(coarser)));
        }
    }

    // The file at a factor is the shortest encoding at it or finer: on a
    // large picture looked for down to a finer one over the shortest by the
    // margin, on a small one down to the finest. A finer factor is encoded
    // only where its bound (here 10 bytes under) could win. Sizes by factor
    // are made up.
    void shortestFinerChoice_data()
    {
        QTest::addColumn<qint64>("mcus");
        QTest::addColumn<QList<int>>("sizes"); // factors 2, 3, ...
        QTest::addColumn<int>("factor");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("encoded"); // none twice
        const qint64 large = ShortestFiner::kMaxMcusForEvery + 1;
        const qint64 small = ShortestFiner::kMaxMcusForEvery;
        QTest::newRow("growing step: the finer one") << large << QList<int>{9000, 5000, 4000, 4002} << 5 << 4 << 2;
        QTest::newRow("shorter, past a larger one within the margin")
            << large << QList<int>{9000, 4000, 4060, 4050} << 5 << 3 << 3;
        QTest::newRow("finest of equals") << large << QList<int>{9000, 4000, 4000, 4000} << 5 << 3 << 3;
        QTest::newRow("bound over the shortest: not encoded") << large << QList<int>{9000, 4000, 4011, 4000} << 5 << 3 << 2;
        QTest::newRow("past the margin: no further") << large << QList<int>{100, 9000, 4079, 4000} << 5 << 5 << 1;
        QTest::newRow("small picture: every finer one") << small << QList<int>{100, 9000, 4079, 4000} << 5 << 2 << 2;
        QTest::newRow("the finest factor") << large << QList<int>{4000} << 2 << 2 << 1;
    }
    void shortestFinerChoice()
    {
        QFETCH(qint64, mcus);
        QFETCH(QList<int>, sizes);
        QFETCH(int, factor);
        QFETCH(int, expected);
        QFETCH(int, encoded);
        ShortestFiner finer(mcus);
        int made = 0;
        const ShortestFiner::Measures measures{[&](int f) {
                                                   ++made;
                                                   return std::int64_t(sizes.value(f - kBestFactor));
                                               },
                                               [&](int f) { return std::int64_t(sizes.value(f - kBestFactor)) - 10; }};
        QCOMPARE(finer.factorFor(factor, measures), expected);
        QCOMPARE(made, encoded);
        QCOMPARE(finer.factorFor(factor, measures), expected);
        QCOMPARE(made, encoded);
    }

    // A search's trial lies on the same side of its limit as the file at
    // that factor, and is that file where the search can settle (under the
    // limit, with the next finer file over it); finer factors are measured
    // only near the limit. The limits sit at factor 33's step that grows
    // on its own, and around two ordinary ones.
    void searchTrialSidesWithTheFile()
    {
        const QImage image = growingStepPhoto();
        QVERIFY(!image.isNull());
        const JpegTrials files(image);
        std::vector<qsizetype> file(256);
        for (int f = kBestFactor; f <= kStrongestFactor; ++f)
            file[std::size_t(f)] = files.encode(f).size();
        for (const std::int64_t limit : {file[32], file[60] - 1, file[60], file[150] + 1}) {
            const JpegTrials trials(image);
            for (int f = kBestFactor; f <= kStrongestFactor; ++f) {
                const QByteArray trial = trials.encodeWithin(f, limit);
                const QString where = QStringLiteral("factor %1 under %2").arg(f).arg(limit);
                QVERIFY2((trial.size() <= limit) == (file[std::size_t(f)] <= limit), qPrintable(where));
                if (file[std::size_t(f)] <= limit && (f == kBestFactor || file[std::size_t(f) - 1] > limit))
                    QVERIFY2(trial == files.encode(f), qPrintable(where));
            }
        }
    }

    // The DC scan's length is counted as the file writes it, 0xFF bytes
    // and their stuffing too, at every step: the choice of DC step rests on it.
    void dcScanMeasured()
    {
        constexpr int across = 40, down = 30, blocks = across * down * kBlocksPerMcu;
        std::vector<std::int16_t> coefs(std::size_t(blocks) * kBlock, 0);
        std::mt19937 random(3);
        std::uniform_int_distribution<int> dc(-8000, 8000);
        for (int b = 0; b < blocks; ++b)
            coefs[std::size_t(b) * kBlock] = std::int16_t(b % 7 == 0 ? dc(random) : dc(random) / 64);
        const Coefficients picture{across * 16, down * 16, across, down, coefs.data()};
        DcSteps steps(picture);
        int stuffed = 0;
        for (int step = 1; step <= 255; step += step < 40 ? 1 : 9) {
            const QByteArray file = progressiveFile(picture, withDcStep(quantTablesFor(60, Encoder::Tovalin), step));
            const QList<int> sections = scanSections(file);
            QVERIFY(!sections.isEmpty());
            QCOMPARE(steps.scanBytes(step) + 4 + 10, sections[0]); // the scan header is not the step's
            stuffed += file.count(QByteArray("\xFF\x00", 2));
        }
        QVERIFY(stuffed > 0);
    }

    // The bound a finer factor is first judged by is the file's size less
    // its stuffed bytes, exactly: headers, tables, each scan's padding.
    void bytesBeforeStuffing_data()
    {
        QTest::addColumn<int>("factor");
        QTest::addColumn<int>("sparse"); // one coefficient in this many is not zero
        QTest::newRow("fine, busy") << 10 << 2;
        QTest::newRow("middle") << 60 << 6;
        QTest::newRow("coarse, sparse") << 200 << 20;
    }
    void bytesBeforeStuffing()
    {
        QFETCH(int, factor);
        QFETCH(int, sparse);
        constexpr int across = 30, down = 20, blocks = across * down * kBlocksPerMcu;
        std::vector<std::int16_t> coefs(std::size_t(blocks) * kBlock, 0);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> value(-3000, 3000);
        for (std::size_t i = 0; i < coefs.size(); ++i)
            if (i % kBlock == 0 || random() % sparse == 0)
                coefs[i] = std::int16_t(value(random) / (i % kBlock == 0 ? 1 : 1 + int(i % kBlock)));
        const Coefficients picture{across * 16 - 5, down * 16 - 3, across, down, coefs.data()};
        const QuantTables q = quantTablesFor(factor, Encoder::Tovalin);
        const QByteArray file = progressiveFile(picture, q);
        QVERIFY(stuffedBytes(file) > 0);
        QCOMPARE(progressiveBytesBeforeStuffing(picture, q), file.size() - stuffedBytes(file));
    }

    // The DC step taken is the one whose scan is shortest (the largest of
    // equals), as counting every step exactly finds it, though only some
    // are counted exactly: on small pictures, where steps' lengths differ
    // by a stuffed byte or two.
    void dcStepIsTheShortest()
    {
        std::mt19937 random(11);
        for (int picture = 0; picture < 300; ++picture) {
            constexpr int across = 2, down = 1, blocks = across * down * kBlocksPerMcu;
            std::vector<std::int16_t> coefs(std::size_t(blocks) * kBlock, 0);
            std::uniform_int_distribution<int> dc(-2040, 2040);
            for (int b = 0; b < blocks; ++b)
                coefs[std::size_t(b) * kBlock] = std::int16_t(dc(random));
            const Coefficients p{across * 16, down * 16, across, down, coefs.data()};
            DcSteps steps(p);
            std::vector<std::int64_t> exact(65);
            for (int step = 1; step <= 64; ++step)
                exact[step] = steps.scanBytes(step);
            int expected = 1;
            for (int n = 1; n <= 64; ++n) {
                if (exact[n] <= exact[expected])
                    expected = n;
                QCOMPARE(steps.best(n), expected);
            }
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
        const JpegTrials trials(image, Encoder::Libjpeg);
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

    // Our quantiser on hand-made blocks of factor 60's luma steps: the dead
    // zone and the trimmed tail zero coefficients plain rounding keeps.
    void ourQuantiser_data()
    {
        QTest::addColumn<QList<int>>("coefs");  // zigzag position, then twentieths of that position's step
        QTest::addColumn<QList<int>>("levels"); // zigzag position, then level: every other level is zero
        QTest::newRow("0.55 of a step is in the dead zone") << QList<int>{1, 11, 2, 15} << QList<int>{2, 1};
        QTest::newRow("a lone 1 after 38 zeros goes") << QList<int>{1, 60, 40, 21} << QList<int>{1, 3};
        QTest::newRow("negative too") << QList<int>{1, -60, 40, -21} << QList<int>{1, -3};
        QTest::newRow("a 1 right after another stays") << QList<int>{1, 60, 2, 21} << QList<int>{1, 3, 2, 1};
        QTest::newRow("trimming walks back") << QList<int>{1, 60, 30, 21, 50, 21} << QList<int>{1, 3};
        QTest::newRow("a 2 stops it") << QList<int>{30, 40, 50, 21} << QList<int>{30, 2};
        QTest::newRow("at 63 it saves an end of block") << QList<int>{1, 60, 63, 20} << QList<int>{1, 3, 63, 1};
        QTest::newRow("at 62 it does not") << QList<int>{1, 60, 62, 20} << QList<int>{1, 3};
    }
    void ourQuantiser()
    {
        QFETCH(QList<int>, coefs);
        QFETCH(QList<int>, levels);
        const QuantTables q = quantTablesFor(60, Encoder::Tovalin);
        alignas(32) std::int16_t in[kBlock] = {}, out[kBlock];
        for (int i = 0; i < coefs.size(); i += 2) {
            const int step = q.natural[0][kNatural[coefs[i]]] * 8;
            in[coefs[i]] = static_cast<std::int16_t>(coefs[i + 1] * step / 20);
            QVERIFY(std::lround(double(in[coefs[i]]) / step) != 0); // plain rounding keeps every one
        }
        const std::uint64_t nonzero = quantizeBlock(in, q, 0, out);
        std::map<int, int> expected;
        for (int i = 0; i < levels.size(); i += 2)
            expected[levels[i]] = levels[i + 1];
        for (int k = 1; k < kBlock; ++k) {
            const int want = expected.count(k) ? expected[k] : 0;
            QVERIFY2(out[k] == want, qPrintable(QStringLiteral("position %1: %2, meant %3").arg(k).arg(out[k]).arg(want)));
            QCOMPARE(bool(nonzero >> k & 1), want != 0);
        }
    }

    // The AVX2 quantiser gives the portable one's levels, dead zone and all.
    void quantiserKernelsAgree()
    {
        if (!cpuHasAvx2())
            QSKIP("no AVX2 here");
        std::mt19937 random(7);
        std::uniform_int_distribution<int> value(-8100, 8100), spread(0, 3);
        for (const Encoder encoder : {Encoder::Tovalin, Encoder::Libjpeg})
            for (const int factor : {2, 30, 100, 200, 255})
                for (int table = 0; table < 2; ++table) {
                    const QuantTables q = quantTablesFor(factor, encoder);
                    for (int n = 0; n < 2000; ++n) {
                        alignas(32) std::int16_t in[kBlock], a[kBlock], b[kBlock];
                        for (int k = 0; k < kBlock; ++k)
                            in[k] = static_cast<std::int16_t>(value(random) >> (spread(random) * 4));
                        const std::uint64_t ma = portableTrialKernels().quantize(in, q.zigzag[table], a);
                        const std::uint64_t mb = avx2TrialKernels().quantize(in, q.zigzag[table], b);
                        QCOMPARE(ma, mb);
                        QVERIFY(std::equal(a, a + kBlock, b));
                    }
                }
    }

    // What libjpeg reads back is what the encoder meant: the progressive
    // file holds the baseline file's levels in every block, and the top
    // left blocks hold the levels of a DCT and quantiser run here.
    void decodesToTheLevelsMeant_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("factor");
        QTest::newRow("whole MCUs") << QSize(64, 48) << 30;
        QTest::newRow("odd sides") << QSize(33, 17) << 90;
        QTest::newRow("luma blocks odd") << QSize(200, 125) << 2;
        QTest::newRow("more empty blocks than one run holds") << QSize(2048, 1040) << 255;
        QTest::newRow("photo size") << QSize(800, 500) << 60;
        QTest::newRow("black text on white") << QSize(96, 40) << 60;
    }
    void decodesToTheLevelsMeant()
    {
        QFETCH(QSize, size);
        QFETCH(int, factor);
        QImage image = testPhoto(size.width(), size.height());
        if (size.height() == 1040) // flat: 33280 luma blocks with nothing past their DC
            image.fill(QColor(240, 240, 235));
        if (size.height() == 40) {
            image.fill(Qt::white);
            for (int y = 3; y < 37; ++y)
                for (int x = 2 + y % 5; x < 94; x += 7)
                    std::memset(image.scanLine(y) + 3 * x, 0, 6); // strokes two pixels wide
        }
        const QByteArray progressive = JpegTrials(image, Encoder::Tovalin).encode(factor);
        const QByteArray baseline = JpegTrials(image, Encoder::TovalinBaseline).encode(factor);
        QVERIFY(markerAt(progressive, 0xC2) > 0);
        QVERIFY(markerAt(baseline, 0xC0) > 0);
        const auto levels = levelsOf(progressive);
        QCOMPARE(levels.size(), 3);
        // A small picture's file may be another factor's, each encoder's own.
        const auto steps = stepsOf(progressive);
        if (size.width() * size.height() > 256 * 256)
            QCOMPARE(steps, stepsOf(baseline));
        if (steps == stepsOf(baseline))
            QCOMPARE(levels, levelsOf(baseline));

        const QuantTables q = ourTablesWithSteps(steps);
        std::uint8_t y[16][16], cb[16][16], cr[16][16], cbHalf[8][8], crHalf[8][8];
        for (int row = 0; row < 16; ++row)
            trialKernels().rgbRowToYcc(image.constScanLine(std::min(row, image.height() - 1)), 16, y[row], cb[row], cr[row]);
        for (int row = 0; row < 8; ++row) {
            trialKernels().downsampleRow(cb[2 * row], cb[2 * row + 1], 8, cbHalf[row]);
            trialKernels().downsampleRow(cr[2 * row], cr[2 * row + 1], 8, crHalf[row]);
        }
        QCOMPARE(levels[0][0], meantLevels(&y[0][0], 16, q, 0));
        QCOMPARE(levels[1][0], meantLevels(&cbHalf[0][0], 8, q, 1));
        QCOMPARE(levels[2][0], meantLevels(&crHalf[0][0], 8, q, 1));
    }

    // Clipped runs become bumps past the clip, within 31 and the block's
    // mean; every other sample stays; blocks without such runs are left.
    void deringing_data()
    {
        QTest::addColumn<int>("left");  // the block's left half
        QTest::addColumn<int>("right"); // and right half
        QTest::addColumn<bool>("reshaped");
        QTest::newRow("white beside grey") << 255 << 100 << true;
        QTest::newRow("black beside grey") << 0 << 160 << true;
        QTest::newRow("black beside white") << 0 << 255 << true;
        QTest::newRow("all white") << 255 << 255 << false;
        QTest::newRow("all black") << 0 << 0 << false;
        QTest::newRow("nothing clipped") << 254 << 1 << false;
    }
    void deringing()
    {
        QFETCH(int, left);
        QFETCH(int, right);
        QFETCH(bool, reshaped);
        std::uint8_t samples[8][8];
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                samples[y][x] = std::uint8_t(x < 4 ? left : right);
        std::int32_t shifted[kBlock];
        QCOMPARE(deringBlock(&samples[0][0], 8, shifted), reshaped);
        if (!reshaped)
            return;
        int sum = 0, lifted = 0;
        for (int k = 0; k < kBlock; ++k) {
            const int was = samples[k / 8][k % 8], now = shifted[k] + 128;
            sum += now;
            if (was == 255)
                QVERIFY2(now >= 255 && now <= 255 + 31, qPrintable(QString::number(now)));
            else if (was == 0)
                QVERIFY2(now <= 0 && now >= -31, qPrintable(QString::number(now)));
            else
                QCOMPARE(now, was);
            lifted += now != was;
        }
        QVERIFY(lifted > 0);
        QVERIFY(sum >= 0 && sum <= 255 * kBlock);
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
