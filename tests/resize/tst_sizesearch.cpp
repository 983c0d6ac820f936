#include "resize/jobfields.h"
#include "resize/sizesearch.h"

#include <QLocale>
#include <QTest>

#include <algorithm>
#include <map>
#include <random>

using namespace tovalin;

namespace {

// A scripted encoder: sizes fall as the factor rises, with set values at
// chosen factors; it records every factor asked for.
struct Script {
    std::int64_t atTwo;
    std::int64_t fallPerStep;
    std::map<int, std::int64_t> fixed;
    std::vector<int> asked;

    std::optional<std::int64_t> operator()(int f)
    {
        asked.push_back(f);
        const auto it = fixed.find(f);
        if (it != fixed.end())
            return it->second;
        return std::max<std::int64_t>(100, atTwo - fallPerStep * (f - 2));
    }
};

using SizeList = QList<QPair<int, qint64>>;

// Sizes that never grow with the factor: falling from `atTwo` with
// plateaus, some exactly at the target, and a stretch inside the window.
std::vector<std::int64_t> fallingSizes(std::mt19937 &random, std::int64_t atTwo, std::int64_t target)
{
    std::vector<std::int64_t> size(256, 0);
    std::int64_t bytes = atTwo;
    for (int f = kBestFactor; f <= kStrongestFactor; ++f) {
        size[std::size_t(f)] = bytes;
        const int kind = int(random() % 10);
        if (kind == 0 && bytes > target)
            bytes = target; // a file of exactly the target
        else if (kind == 1 && bytes > target - 5)
            bytes = target - 5; // inside the window
        else if (kind > 3)
            bytes = std::max<std::int64_t>(1, bytes - std::int64_t(random() % 3000));
    }
    return size;
}


} // namespace

class TestSizeSearch : public QObject {
    Q_OBJECT
private slots:
    void targetBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bytes"); // -1: refused as not a target, -2: as too large
        QTest::newRow("default 40") << "40" << 40960;
        QTest::newRow("half a kilobyte") << "0.5" << 512;
        QTest::newRow("halves to even, down") << "0.00048828125" << 0; // 0.5 byte -> 0 -> refused below
        QTest::newRow("1.5 bytes to 2") << "0.00146484375" << 2;
        QTest::newRow("zero") << "0" << -1;
        QTest::newRow("negative") << "-40" << -1;
        QTest::newRow("not a number") << "abc" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("largest") << "2097151.999" << 2147483647;
        QTest::newRow("beyond 32 bits") << "2097152" << -2;
    }
    void targetBytes()
    {
        QFETCH(QString, text);
        QFETCH(int, bytes);
        QLocale::setDefault(QLocale::c());
        const TargetReading t = targetFromText(text);
        const FieldProblem problem = bytes == -2 ? FieldProblem::TargetTooLarge : bytes <= 0 ? FieldProblem::BadTarget : FieldProblem::None;
        QCOMPARE(t.problem, problem);
        QCOMPARE(t.bytes, std::max(bytes, 0));
    }

    void search_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<qint64>("atTwo");
        QTest::addColumn<qint64>("fall");
        QTest::addColumn<SizeList>("fixed");
        QTest::addColumn<QList<int>>("trials");
        QTest::addColumn<int>("finalFactor");
        QTest::addColumn<int>("lastLo");
        QTest::addColumn<int>("lastHi");

        // 128 gives 30000 (fits), 65 gives 45000 (too large), then 96; 112
        // lands inside (T - 10, T) and stops the loop; factor 96 is above T,
        // so the final save repeats the middle factor.
        QTest::newRow("worked example") << 40960 << qint64(60000) << qint64(200)
            << SizeList{{128, 30000}, {65, 45000}, {96, 41500}, {112, 40955}}
            << QList<int>{128, 65, 96, 112} << 112 << 96 << 128;
        // A trial of exactly T does not stop the loop and counts as fitting.
        QTest::newRow("trial of exactly T") << 40960 << qint64(60000) << qint64(200)
            << SizeList{{128, 40960}, {65, 45000}, {96, 40960}, {80, 40960}, {72, 40960},
                                         {68, 40960}, {66, 45000}, {67, 40960}}
            << QList<int>{128, 65, 96, 80, 72, 68, 66, 67, 66} << 67 << 66 << 67;
        QTest::newRow("fits at factor 2") << 100000 << qint64(50000) << qint64(100)
            << SizeList{}
            << QList<int>{128, 65, 34, 18, 10, 6, 4, 3, 2} << 2 << 2 << 3;
        QTest::newRow("unreachable") << 500 << qint64(90000) << qint64(100)
            << SizeList{{255, 60000}}
            << QList<int>{128, 192, 224, 240, 248, 252, 254, 254, 254} << 255 << 254 << 255;
        // The lower bound's file of exactly T is not under the target: the
        // final factor is the upper bound.
        QTest::newRow("lower bound's file exactly T") << 40960 << qint64(60000) << qint64(200)
            << SizeList{{128, 40955}, {2, 40960}}
            << QList<int>{128} << 128 << 2 << 255;
        // Window edge: T - 10 itself does not stop the loop, T - 9 does.
        QTest::newRow("T - 10 does not stop") << 40960 << qint64(60000) << qint64(200)
            << SizeList{{128, 40950}, {96, 40951}}
            << QList<int>{128, 65, 96} << 96 << 65 << 128;
    }
    void search()
    {
        QFETCH(int, target);
        QFETCH(qint64, atTwo);
        QFETCH(qint64, fall);
        QFETCH(SizeList, fixed);
        QFETCH(QList<int>, trials);
        QFETCH(int, finalFactor);
        QFETCH(int, lastLo);
        QFETCH(int, lastHi);
        Script script{atTwo, fall, {}, {}};
        for (const auto &[f, size] : fixed)
            script.fixed[f] = size;
        const SearchOutcome out = searchFactor([&](int f) { return sideOf(*script(f), target); });
        QVERIFY(!out.encodeFailed);
        QCOMPARE(QList<int>(out.trials.begin(), out.trials.end()), trials);
        QCOMPARE(out.finalFactor, finalFactor);
        QCOMPARE(out.lastLo, lastLo);
        QCOMPARE(out.lastHi, lastHi);
        QVERIFY(out.iterations <= 9);
        // Each iteration measures its middle; then the lower bound the last
        // iteration began with is measured once for the final choice.
        std::vector<int> asked = out.trials;
        asked.push_back(lastLo);
        QCOMPARE(QList<int>(script.asked.begin(), script.asked.end()), QList<int>(asked.begin(), asked.end()));
    }

    // What a few files' sizes tell of the others, where sizes never grow
    // with the factor; and where they may, nothing.
    void knownSides_data()
    {
        QTest::addColumn<bool>("neverGrows");
        QTest::addColumn<SizeList>("exact");
        QTest::addColumn<SizeList>("atMost");
        QTest::addColumn<QList<int>>("over");
        QTest::addColumn<QList<int>>("factors");
        // Per factor: O over, A at, W window, U under, ? unknown; the target is 1000.
        QTest::addColumn<QString>("sides");
        QTest::addColumn<int>("coarsestOver");
        QTest::addColumn<int>("finestFitting");
        QTest::newRow("nothing known") << true << SizeList{} << SizeList{} << QList<int>{} << QList<int>{2, 128, 255} << "???" << 1 << 256;
        QTest::newRow("under puts the coarser under") << true << SizeList{} << SizeList{{40, 990}} << QList<int>{}
                                                      << QList<int>{39, 40, 41, 255} << "?UUU" << 1 << 40;
        QTest::newRow("over puts the finer over") << true << SizeList{} << SizeList{} << QList<int>{40}
                                                  << QList<int>{2, 40, 41} << "OO?" << 40 << 256;
        QTest::newRow("at most inside the window: only fits") << true << SizeList{} << SizeList{{40, 991}} << QList<int>{}
                                                              << QList<int>{40, 41} << "??" << 1 << 40;
        QTest::newRow("exact in the window: itself only") << true << SizeList{{40, 995}} << SizeList{} << QList<int>{}
                                                          << QList<int>{39, 40, 41} << "?W?" << 1 << 40;
        QTest::newRow("exactly the target fits") << true << SizeList{{40, 1000}} << SizeList{} << QList<int>{}
                                                 << QList<int>{40, 41} << "A?" << 1 << 40;
        QTest::newRow("exact over the target") << true << SizeList{{40, 1001}} << SizeList{} << QList<int>{}
                                               << QList<int>{39, 40, 41} << "OO?" << 40 << 256;
        QTest::newRow("boundary pinned") << true << SizeList{} << SizeList{{9, 700}} << QList<int>{8}
                                         << QList<int>{2, 8, 9, 255} << "OOUU" << 8 << 9;
        QTest::newRow("contradiction: measure") << true << SizeList{} << SizeList{{9, 700}} << QList<int>{12}
                                                << QList<int>{8, 9, 12, 13} << "O??U" << 12 << 9;
        QTest::newRow("exact wins over what follows") << true << SizeList{{10, 1005}} << SizeList{{9, 700}} << QList<int>{}
                                                      << QList<int>{10, 11} << "OU" << 10 << 9;
        QTest::newRow("sizes may grow: nothing follows") << false << SizeList{{20, 995}} << SizeList{{40, 500}} << QList<int>{10}
                                                         << QList<int>{9, 10, 20, 41} << "??W?" << 10 << 20;
    }
    void knownSides()
    {
        QFETCH(bool, neverGrows);
        QFETCH(SizeList, exact);
        QFETCH(SizeList, atMost);
        QFETCH(QList<int>, over);
        QFETCH(QList<int>, factors);
        QFETCH(QString, sides);
        QFETCH(int, coarsestOver);
        QFETCH(int, finestFitting);
        KnownSides known(1000, neverGrows);
        for (const auto &[f, bytes] : exact)
            known.exact(f, bytes);
        for (const auto &[f, bytes] : atMost)
            known.atMost(f, bytes);
        for (const int f : over)
            known.over(f);
        QString got;
        for (const int f : factors) {
            const std::optional<Side> side = known.side(f);
            got += !side ? '?' : *side == Side::Over ? 'O' : *side == Side::At ? 'A' : *side == Side::Window ? 'W' : 'U';
        }
        QCOMPARE(got, sides);
        QCOMPARE(known.coarsestOver(), coarsestOver);
        QCOMPARE(known.finestFitting(), finestFitting);
    }

    // Sides taken from what is known, and measured only where nothing is,
    // lead the search to the same trials and factor as measuring each.
    void knownSidesKeepTheSearch()
    {
        std::mt19937 random(7);
        int measured = 0, asked = 0;
        for (int round = 0; round < 400; ++round) {
            const std::int64_t target = 20000 + std::int64_t(random() % 200000);
            const std::vector<std::int64_t> size = fallingSizes(random, target * (1 + round % 3), target);
            const SearchOutcome plain = searchFactor([&](int f) { return sideOf(size[std::size_t(f)], target); });
            KnownSides known(target, true);
            // What a few encodings, most near where the search ends, would have told.
            for (int k = int(random() % 5); k > 0; --k) {
                const int f = random() % 4 ? std::clamp(plain.finalFactor + int(random() % 7) - 3, kBestFactor, kStrongestFactor)
                                           : kBestFactor + int(random() % 254);
                const std::int64_t bytes = size[std::size_t(f)];
                if (bytes > target)
                    known.over(f);
                else if (random() % 2)
                    known.exact(f, bytes);
                else
                    known.atMost(f, bytes + std::int64_t(random() % 20)); // the encoding alone may be longer
            }
            const SearchOutcome found = searchFactor([&](int f) {
                ++asked;
                if (const std::optional<Side> side = known.side(f))
                    return *side;
                ++measured;
                known.exact(f, size[std::size_t(f)]);
                return sideOf(size[std::size_t(f)], target);
            });
            const QString where = QStringLiteral("round %1").arg(round);
            QVERIFY2(found.trials == plain.trials, qPrintable(where));
            QCOMPARE(found.finalFactor, plain.finalFactor);
            QCOMPARE(found.lastLo, plain.lastLo);
            QCOMPARE(found.lastHi, plain.lastHi);
        }
        QVERIFY(measured < asked); // some sides followed from others
    }

    void midFactor_data()
    {
        QTest::addColumn<int>("lo");
        QTest::addColumn<int>("hi");
        QTest::addColumn<int>("mid");
        QTest::newRow("whole range") << 2 << 255 << 128;
        QTest::newRow("96.5 to even") << 65 << 128 << 96;
        QTest::newRow("33.5 to even") << 2 << 65 << 34;
        QTest::newRow("2.5 to even") << 2 << 3 << 2;
    }
    void midFactor()
    {
        QFETCH(int, lo);
        QFETCH(int, hi);
        QFETCH(int, mid);
        QCOMPARE(tovalin::midFactor(lo, hi), mid);
    }

    void encodeFailureStops()
    {
        int calls = 0;
        const SearchOutcome out = searchFactor([&calls](int) -> std::optional<Side> {
            ++calls;
            return std::nullopt;
        });
        QVERIFY(out.encodeFailed);
        QCOMPARE(calls, 1);
    }
};

QTEST_GUILESS_MAIN(TestSizeSearch)
#include "tst_sizesearch.moc"
