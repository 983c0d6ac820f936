#include "common/numbers.h"

#include <QLocale>
#include <QTest>

using namespace tovalin;

class TestNumbers : public QObject {
    Q_OBJECT
private slots:
    void kilobyteFigure_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<qint64>("figure");
        QTest::newRow("empty") << qint64(0) << qint64(1);
        QTest::newRow("900 bytes") << qint64(900) << qint64(1);
        QTest::newRow("1000 bytes") << qint64(1000) << qint64(1);
        QTest::newRow("1023 bytes") << qint64(1023) << qint64(1);
        QTest::newRow("exactly 1 KB is not a ceiling") << qint64(1024) << qint64(2);
        QTest::newRow("exactly 2 KB") << qint64(2048) << qint64(3);
        QTest::newRow("40959 bytes") << qint64(40959) << qint64(40);
        QTest::newRow("5 GB") << qint64(5LL << 30) << qint64((5LL << 20) + 1);
    }
    void kilobyteFigure()
    {
        QFETCH(qint64, bytes);
        QFETCH(qint64, figure);
        QCOMPARE(tovalin::kilobyteFigure(bytes), figure);
    }

    void scaledDimension_data()
    {
        QTest::addColumn<float>("size");
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("scaled");
        QTest::newRow("100 px at 29 % (division first)") << 100.0f << 29 << 28;
        QTest::newRow("100 px at 57 %") << 100.0f << 57 << 56;
        QTest::newRow("1000 px at 29 %") << 1000.0f << 29 << 290;
        QTest::newRow("640 at 100 %") << 640.0f << 100 << 640;
        QTest::newRow("640 at 50 %") << 640.0f << 50 << 320;
        QTest::newRow("480 at 50 %") << 480.0f << 50 << 240;
        QTest::newRow("640 at 200 %") << 640.0f << 200 << 1280;
        QTest::newRow("480 at 200 %") << 480.0f << 200 << 960;
        QTest::newRow("3 px at 10 % truncates to 0") << 3.0f << 10 << 0;
        QTest::newRow("65535 at 200 %") << 65535.0f << 200 << 131070;
    }
    void scaledDimension()
    {
        QFETCH(float, size);
        QFETCH(int, percent);
        QFETCH(int, scaled);
        QCOMPARE(tovalin::scaledDimension(size, percent), scaled);
    }

    void roundHalfEven_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("rounded");
        QTest::newRow("0.5 down to 0") << 0.5 << 0.0;
        QTest::newRow("1.5 up to 2") << 1.5 << 2.0;
        QTest::newRow("2.5 down to 2") << 2.5 << 2.0;
        QTest::newRow("128.5 to 128") << 128.5 << 128.0;
        QTest::newRow("254.5 to 254") << 254.5 << 254.0;
        QTest::newRow("-1.5 to -2") << -1.5 << -2.0;
        QTest::newRow("2.4999 to 2") << 2.4999 << 2.0;
        QTest::newRow("2.5001 to 3") << 2.5001 << 3.0;
    }
    void roundHalfEven()
    {
        QFETCH(double, value);
        QFETCH(double, rounded);
        QCOMPARE(tovalin::roundHalfEven(value), rounded);
    }

    void readNumber_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << "ja_JP" << "40" << true << 40.0;
        QTest::newRow("blanks around") << "ja_JP" << " 40 " << true << 40.0;
        QTest::newRow("decimal point") << "ja_JP" << "0.5" << true << 0.5;
        QTest::newRow("comma locale, comma") << "de_DE" << "0,5" << true << 0.5;
        QTest::newRow("comma locale, point still read") << "de_DE" << "0.5" << true << 0.5;
        QTest::newRow("no grouping") << "en_US" << "1,024" << false << 0.0;
        QTest::newRow("empty") << "ja_JP" << "" << false << 0.0;
        QTest::newRow("letters") << "ja_JP" << "abc" << false << 0.0;
        QTest::newRow("trailing letters") << "ja_JP" << "40kb" << false << 0.0;
        QTest::newRow("infinity") << "ja_JP" << "inf" << false << 0.0;
        QTest::newRow("negative") << "ja_JP" << "-3" << true << -3.0;
    }
    void readNumber()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(double, value);
        const QLocale saved;
        QLocale::setDefault(QLocale(locale));
        const std::optional<double> got = tovalin::readNumber(text);
        QLocale::setDefault(saved);
        QCOMPARE(got.has_value(), ok);
        if (ok)
            QCOMPARE(*got, value);
    }
};

QTEST_GUILESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
