#include "app/settingsfile.h"
#include "intake/intake.h"
#include "preview/previewpage.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tovalin;

class TestIntake : public QObject {
    Q_OBJECT
private slots:
    void outputName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("bmp") << "/photos/cat.bmp" << "/cat.jpg";
        QTest::newRow("upper-case JPG") << "/photos/cat.JPG" << "/cat.jpg";
        QTest::newRow("four-letter jpeg") << "/photos/pic.jpeg" << "/pic.jjpg";
        QTest::newRow("four-letter tiff") << "/photos/scan.tiff" << "/scan.tjpg";
        QTest::newRow("no dot") << "/photos/README" << "/REAjpg";
        QTest::newRow("two characters: the separator is overwritten") << "/photos/ab" << "jpg";
        QTest::newRow("one character") << "/photos/a" << "/a.jpg";
        QTest::newRow("no separator") << "x" << "/x.jpg";
        QTest::newRow("Japanese name") << "/写真/猫.png" << "/猫.jpg";
    }
    void outputName()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QCOMPARE(derivedOutputName(path), name);
    }

    void sourceInfo_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("900 bytes") << 900 << " 1Kb (900Byte)";
        QTest::newRow("2 KB exactly") << 2048 << " 3Kb (2048Byte)";
        QTest::newRow("empty") << 0 << " 1Kb (0Byte)";
    }
    void sourceInfo()
    {
        QFETCH(int, bytes);
        QFETCH(QString, suffix);
        QTemporaryDir dir;
        const QString path = dir.filePath("cat.bmp");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(bytes, 'x'));
        f.close();
        QCOMPARE(sourceInfoLine(path), path + suffix);
        QCOMPARE(sourceInfoLine(dir.filePath("vanished.bmp")), dir.filePath("vanished.bmp"));
    }

    void previewPath_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("page");
        QTest::newRow("folder") << "/photos/out" << "/photos/out/Tovalin_w.htm";
        QTest::newRow("root") << "/" << "/Tovalin_w.htm";
    }
    void previewPath()
    {
        QFETCH(QString, folder);
        QFETCH(QString, page);
        QCOMPARE(previewPagePath(folder), page);
    }

    void previewBytes_data()
    {
        QTest::addColumn<QString>("outputPath");
        QTest::addColumn<QString>("p");   // the heading: the path as the user sees it
        QTest::addColumn<QString>("src"); // the picture's address
        QTest::newRow("plain") << "/photos/out/cat.jpg" << "/photos/out/cat.jpg" << "/photos/out/cat.jpg";
        QTest::newRow("root") << "/cat.jpg" << "/cat.jpg" << "/cat.jpg";
        QTest::newRow("markup escaped") << "/a/<b>&\"x\".jpg" << "/a/&lt;b&gt;&amp;&quot;x&quot;.jpg"
                                        << "/a/&lt;b&gt;&amp;&quot;x&quot;.jpg";
        QTest::newRow("space and Japanese") << QStringLiteral("/写真/猫 1.jpg") << QStringLiteral("/写真/猫 1.jpg")
                                            << QStringLiteral("/写真/猫 1.jpg");
        // Read by a browser as a fragment, a query or an escape: a file URL.
        QTest::newRow("hash") << "/a/#1.jpg" << "/a/#1.jpg" << "file:///a/%231.jpg";
        QTest::newRow("question mark") << "/a/1?.jpg" << "/a/1?.jpg" << "file:///a/1%3F.jpg";
        QTest::newRow("percent") << "/a/%41 & b.jpg" << "/a/%41 &amp; b.jpg" << "file:///a/%2541%20&amp;%20b.jpg";
    }
    void previewBytes()
    {
        QFETCH(QString, outputPath);
        QFETCH(QString, p);
        QFETCH(QString, src);
        const QByteArray expected =
            "<HTML>\r\n"
            "<HEAD><TITLE>Tovalin</TITLE></HEAD>\r\n"
            "<BODY>\r\n"
            "<H2>" + p.toUtf8() + "</H2><HR>\r\n"
            "<img src=\"" + src.toUtf8() + "\"ALIGN=LEFT ><BR>\r\n"
            + QStringLiteral("Tovalinは、バイキュービック法で補間処理を行っています。<BR>画像を拡大した場合にはっきりと違いがわかります。<BR CLEAR=ALL><HR><BR>").toUtf8() + "\r\n"
            + QStringLiteral("最新バージョンは<A HREF=\"").toUtf8() + kPublisherAddress.toUtf8() + "\">"
            + kPublisherAddress.toUtf8() + QStringLiteral("</A>で掲載しています。").toUtf8() + "\r\n"
            "</BODY></HTML>\r\n";
        QCOMPARE(previewPageBytes(outputPath), expected);
    }

    void settingsFormat()
    {
        QCOMPARE(formatSettings({"/photos/out", "40"}), QByteArray("\"/photos/out\",\"40\"\r\n"));
        QCOMPARE(formatSettings({"/", "12.5"}), QByteArray("\"/\",\"12.5\"\r\n"));
    }

    void settingsParse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("size");
        QTest::newRow("as written") << QByteArray("\"/photos/out\",\"40\"\r\n") << true << "/photos/out" << "40";
        QTest::newRow("blanks before a field") << QByteArray("  \"/a\",  \"7\"\r\n") << true << "/a" << "7";
        QTest::newRow("unquoted fields") << QByteArray("/a,12\n") << true << "/a" << "12";
        QTest::newRow("Japanese folder") << QStringLiteral("\"/写真\",\"40\"\r\n").toUtf8() << true << "/写真" << "40";
        QTest::newRow("tabs before a field") << QByteArray("\t\"/a\",\t\"7\"\r\n") << true << "/a" << "7";
        QTest::newRow("empty second field at the line end") << QByteArray("\"/a\",\r\n") << true << "/a" << "";
        QTest::newRow("empty second field at the file end") << QByteArray("\"/a\",") << true << "/a" << "";
        QTest::newRow("one field") << QByteArray("\"/photos/out\"\r\n") << false << "" << "";
        QTest::newRow("empty") << QByteArray() << false << "" << "";
        QTest::newRow("binary") << QByteArray("\"/a\",\"4\0\"\r\n", 12) << false << "" << "";
        QTest::newRow("huge") << QByteArray(200000, 'a') << false << "" << "";
        QTest::newRow("unclosed quote") << QByteArray("\"/a,40\r\n") << false << "" << "";
    }
    void settingsParse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, ok);
        QFETCH(QString, folder);
        QFETCH(QString, size);
        const std::optional<SavedSettings> s = parseSettings(bytes);
        QCOMPARE(s.has_value(), ok);
        if (ok) {
            QCOMPARE(s->folder, folder);
            QCOMPARE(s->targetSize, size);
        }
    }
};

QTEST_GUILESS_MAIN(TestIntake)
#include "tst_intake.moc"
