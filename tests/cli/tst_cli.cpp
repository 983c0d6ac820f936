#include "imaging/decode/decode.h"
#include "imaging/image.h"
#include "imaging/jpeg/jpeg.h"
#include "imaging/jpeg/jpegtrials.h"
#include "resize/sizesearch.h"
#include "../testfiles.h"
#include "../testphoto.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <libexif/exif-data.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace tovalin;

namespace {

QString data(const QString &name) { return QStringLiteral(TOVALIN_TEST_DATA "/data/") + name; }

struct Run {
    int exit = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

// Runs the real tovalin-cli in a folder of pictures, as a script would.
class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;
    QString m_dir;

    Run cli(const QStringList &args, const QByteArray &input = {}, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
            const QString &stdoutFile = QString())
    {
        QProcess p;
        p.setWorkingDirectory(m_dir);
        p.setProcessEnvironment(env);
        if (!stdoutFile.isEmpty())
            p.setStandardOutputFile(stdoutFile);
        p.start(QStringLiteral(TOVALIN_CLI), args);
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(60000))
            return {};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : 128 + p.exitCode(), p.readAllStandardOutput(),
                p.readAllStandardError()};
    }

    // Every file below the folder, relative to it, sorted.
    QStringList files(const QString &below = QString()) const
    {
        QStringList found;
        QDirIterator it(m_dir + "/" + below, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next().mid(m_dir.size() + 1);
        found.sort();
        return found;
    }

    void write(const QString &name, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(m_dir + "/" + name).absolutePath());
        QFile f(m_dir + "/" + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private slots:
    // Names that are not UTF-8 are past QDir: the folder goes whole.
    void cleanupTestCase() { QProcess::execute("rm", {"-rf", m_root.path()}); }

    void init()
    {
        static int runs = 0;
        m_dir = m_root.filePath(QString::number(++runs));
        QDir(m_dir).removeRecursively();
        QDir().mkpath(m_dir);
        write("in/a.jpg", encodeJpeg(testPhoto(400, 300), 20).bytes);
        testPhoto(320, 240).save(m_dir + "/in/b.png");
        write("in/sub/c.gif", fileContents(data("photo.gif")));
        write("in/notes.txt", "not a picture\n");
        const QByteArray a = fileContents(m_dir + "/in/a.jpg");
        write("bad/broken.jpg", a.left(a.size() / 2));
    }

    // Command lines: what is written, and the exit status.
    void commandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QStringList>("written"); // files added below the folder
        QTest::newRow("beside each input, a JPEG beside itself gets _resized")
            << QStringList{"in/a.jpg", "in/b.png", "--factor", "40"} << 0 << QStringList{"in/a_resized.jpg", "in/b.jpg"};
        QTest::newRow("a folder walked, subfolders mirrored, text skipped")
            << QStringList{"-r", "in", "-o", "out", "--long-edge", "100"} << 0 << QStringList{"out/a.jpg", "out/b.jpg", "out/sub/c.jpg"};
        QTest::newRow("a folder without -r: its own files") << QStringList{"in", "-o", "out"} << 0 << QStringList{"out/a.jpg", "out/b.jpg"};
        QTest::newRow("the output folder is never walked")
            << QStringList{"-r", "in", "-o", "in/out", "--suffix", "_s"} << 0
            << QStringList{"in/out/a_s.jpg", "in/out/b_s.jpg", "in/out/sub/c_s.jpg"};
        QTest::newRow("a named file that is no picture fails") << QStringList{"in/notes.txt", "-o", "out"} << 1 << QStringList{};
        QTest::newRow("a broken picture fails, the rest go on")
            << QStringList{"bad/broken.jpg", "in/a.jpg", "-o", "out"} << 1 << QStringList{"out/a.jpg"};
        QTest::newRow("a missing file fails") << QStringList{"in/none.jpg"} << 1 << QStringList{};
        QTest::newRow("two inputs, one output: the second fails")
            << QStringList{"in/b.png", "in/sub/c.gif", "--suffix", "x", "-o", "out"} << 0 << QStringList{"out/bx.jpg", "out/cx.jpg"};
        QTest::newRow("in place") << QStringList{"in/a.jpg", "--in-place", "--scale", "50"} << 0 << QStringList{};
        QTest::newRow("-o equal to the folder: walked, its outputs beside")
            << QStringList{"in", "-o", "in", "--suffix", "_s"} << 0 << QStringList{"in/a_s.jpg", "in/b_s.jpg"};
        QTest::newRow("the same file twice is made once")
            << QStringList{"in/a.jpg", "in/../in/a.jpg", "-o", "out"} << 0 << QStringList{"out/a.jpg"};
        for (const QStringList &usage : {QStringList{}, QStringList{"--json", "-o", "-", "in/a.jpg"}, QStringList{"--size", "0x5", "in/a.jpg"},
                                         QStringList{"--factor", "300", "in/a.jpg"}, QStringList{"--kb", "40", "--factor", "30", "in/a.jpg"},
                                         QStringList{"--scale", "50", "--fit", "10x10", "in/a.jpg"}, QStringList{"--bogus", "in/a.jpg"},
                                         QStringList{"-o", "-", "in"}, QStringList{"--shrink-to-fit", "in/a.jpg"},
                                         QStringList{"-o", "", "in/a.jpg"}, QStringList{"--suffix", "/../../x", "-o", "out", "in/a.jpg"},
                                         QStringList{"--suffix", "a/b", "in/a.jpg"}, QStringList{"-"},
                                         QStringList{"--encoder", "mozjpeg", "in/a.jpg"}})
            QTest::newRow(qPrintable("usage: " + usage.join(' '))) << usage << 2 << QStringList{};
    }
    void commandLines()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exit);
        QFETCH(QStringList, written);
        const QStringList before = files();
        const QByteArray original = fileContents(m_dir + "/in/a.jpg");
        const Run r = cli(args);
        QVERIFY2(r.exit == exit, r.err.constData());
        QStringList added;
        for (const QString &f : files())
            if (!before.contains(f))
                added << f;
        QCOMPARE(added, written);
        for (const QString &f : written)
            QCOMPARE(decodeImageFile(m_dir + "/" + f).error, DecodeError::None);
        if (args.contains("--in-place"))
            QCOMPARE(decodeImageFile(m_dir + "/in/a.jpg").image.size(), QSize(200, 150));
        else
            QCOMPARE(fileContents(m_dir + "/in/a.jpg"), original); // an input is never replaced
    }

    // An existing output is skipped and reported so, unless --overwrite.
    void existingOutputs()
    {
        write("out/a.jpg", "mine");
        Run r = cli({"in/a.jpg", "-o", "out", "--json"});
        QCOMPARE(r.exit, 0);
        QCOMPARE(QJsonDocument::fromJson(r.out).object().value("status").toString(), QStringLiteral("skipped"));
        QCOMPARE(fileContents(m_dir + "/out/a.jpg"), QByteArray("mine"));
        r = cli({"in/a.jpg", "-o", "out", "--overwrite"});
        QCOMPARE(r.exit, 0);
        QCOMPARE(decodeImageFile(m_dir + "/out/a.jpg").image.size(), QSize(400, 300));
    }

    // One JSON object a file, with fixed keys, its figures those of the file.
    void jsonLines()
    {
        const Run r = cli({"in/a.jpg", "bad/broken.jpg", "-o", "out", "--kb", "10", "--json", "--jobs", "1"});
        QCOMPARE(r.exit, 1);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        const QStringList keys{"input", "output", "status", "width", "height", "bytes", "factor", "trials", "over_target", "ms", "error_code", "error"};
        for (const QByteArray &line : lines) {
            QStringList seen;
            for (const QByteArray &part : line.mid(1).split(','))
                if (part.startsWith('"') && part.contains("\":"))
                    seen << QString::fromUtf8(part.mid(1, part.indexOf("\":") - 1));
            QCOMPARE(seen, keys);
        }
        const QJsonObject ok = QJsonDocument::fromJson(lines[0]).object();
        QCOMPARE(ok.value("status").toString(), QStringLiteral("written"));
        QCOMPARE(ok.value("bytes").toInteger(), QFileInfo(m_dir + "/out/a.jpg").size());
        QVERIFY(ok.value("bytes").toInteger() <= 10240);
        QVERIFY(ok.value("trials").toInt() >= 1 && ok.value("trials").toInt() <= 9);
        QCOMPARE(ok.value("width").toInt(), 400);
        QVERIFY(ok.value("error_code").isNull());
        const QJsonObject bad = QJsonDocument::fromJson(lines[1]).object();
        QCOMPARE(bad.value("status").toString(), QStringLiteral("failed"));
        QCOMPARE(bad.value("error_code").toString(), QStringLiteral("truncated"));
        QCOMPARE(bad.value("error").toString(), QStringLiteral("The picture file is cut short."));
        QVERIFY(bad.value("bytes").isNull());
    }

    // A name that is not UTF-8: found, written under its own bytes, and
    // kept exact in the JSON as a surrogate escape.
    void namesThatAreNotUtf8()
    {
        const QByteArray raw = QFile::encodeName(m_dir) + "/in/caf\xe9.jpg";
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
        const QByteArray jpeg = fileContents(m_dir + "/in/a.jpg");
        QCOMPARE(::write(fd, jpeg.constData(), size_t(jpeg.size())), ssize_t(jpeg.size()));
        ::close(fd);
        const Run r = cli({"in", "-o", "out", "--json"});
        QCOMPARE(r.exit, 0);
        QVERIFY(r.out.contains("\"input\":\"in/caf\\udce9.jpg\""));
        QVERIFY(::access((QFile::encodeName(m_dir) + "/out/caf\xe9.jpg").constData(), F_OK) == 0);
    }

    // Failures and misses are never reported as success: a full standard
    // output, a JSON stream that cannot be written, a missed target (exit
    // 3), shrink to fit that finds no size (nothing written).
    void honestResults_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("toFull");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("said"); // on standard output or error
        QTest::addColumn<QStringList>("written");
        QTest::newRow("the picture into a full standard output") << QStringList{"in/a.jpg", "-o", "-"} << true << 1 << "disk is full" << QStringList{};
        QTest::newRow("JSON into a full standard output: nothing more is started")
            << QStringList{"in/a.jpg", "in/b.png", "-o", "out", "--json", "--jobs", "1"} << true << 1 << "cannot be written"
            << QStringList{"out/a.jpg"};
        QTest::newRow("a missed target") << QStringList{"in/a.jpg", "-o", "out", "--kb", "0.5"} << false << 3 << "OVER TARGET"
                                         << QStringList{"out/a.jpg"};
        QTest::newRow("a missed target, counted") << QStringList{"in/a.jpg", "in/b.png", "-o", "out", "--kb", "0.5"} << false << 3
                                                  << "2 over target" << QStringList{"out/a.jpg", "out/b.jpg"};
        QTest::newRow("a missed target, quiet") << QStringList{"in/a.jpg", "-o", "out", "--kb", "0.5", "-q"} << false << 3
                                                << "OVER TARGET" << QStringList{"out/a.jpg"};
        QTest::newRow("a failure outranks a miss") << QStringList{"in/a.jpg", "bad/broken.jpg", "-o", "out", "--kb", "0.5"} << false << 1
                                                   << "OVER TARGET" << QStringList{"out/a.jpg"};
        QTest::newRow("shrink to fit finds no size") << QStringList{"in/a.jpg", "-o", "out", "--kb", "0.2", "--shrink-to-fit", "--json"}
                                                     << false << 1 << "\"error_code\":\"no_size_fits\"" << QStringList{};
    }
    void honestResults()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, toFull);
        QFETCH(int, exit);
        QFETCH(QString, said);
        QFETCH(QStringList, written);
        const Run r = cli(args, {}, QProcessEnvironment::systemEnvironment(), toFull ? QStringLiteral("/dev/full") : QString());
        QVERIFY2(r.exit == exit, r.err.constData());
        QVERIFY2(QString::fromUtf8(r.out + r.err).contains(said), (r.out + r.err).constData());
        QCOMPARE(files("out"), written);
    }

    // Every entry of a walked folder that is not made is said, with its
    // reason; unreadable ones fail the run.
    void entriesLeftOutAreSaid()
    {
        write("in/.hidden.jpg", fileContents(m_dir + "/in/a.jpg"));
        write("in/.a.jpg.x1y2.tmp", "half");
        write("only/sub/d.jpg", fileContents(m_dir + "/in/a.jpg"));
        Run r = cli({"in", "-o", "out"});
        QCOMPARE(r.exit, 0);
        QVERIFY2(r.err.contains("2 written, 4 skipped, 0 failed (1 hidden, 1 temporary files, 1 not pictures, 1 subfolders not walked: use -r)"),
                 r.err.constData());
        r = cli({"only", "-o", "out", "--json"});
        QCOMPARE(r.exit, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(o.value("status").toString(), QStringLiteral("skipped"));
        QCOMPARE(o.value("error_code").toString(), QStringLiteral("subfolder_not_walked"));
        QCOMPARE(o.keys(), (QStringList{"bytes", "error", "error_code", "factor", "height", "input", "ms", "output", "over_target",
                                        "status", "trials", "width"})); // a file's keys, every one
        QVERIFY(o.value("output").isNull() && o.value("bytes").isNull());
        r = cli({"only", "-o", "out", "-q"});
        QCOMPARE(r.exit, 0);
        QVERIFY(r.err.isEmpty());
        // A path past the system's limit cannot be read, even by root.
        QVERIFY(makeTooDeepPicture(m_dir + "/deep"));
        r = cli({"deep", "-r", "-o", "out", "-q"});
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.err.contains("Cannot be read."), r.err.constData());
        QProcess::execute("rm", {"-rf", m_dir + "/deep"});
    }

    // A second run beside the inputs leaves the first run's outputs alone
    // and suggests nothing that would replace an original.
    void secondRun_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("JPEGs beside themselves") << QStringList{"-r", "jpegs"};
        QTest::newRow("with a suffix") << QStringList{"-r", "in", "--suffix", "_s"};
    }
    void secondRun()
    {
        QFETCH(QStringList, args);
        write("jpegs/a.jpg", fileContents(m_dir + "/in/a.jpg"));
        write("jpegs/sub/d.jpg", fileContents(m_dir + "/in/a.jpg"));
        QCOMPARE(cli(args).exit, 0);
        const QStringList first = files();
        const Run r = cli(args);
        QCOMPARE(r.exit, 0);
        QCOMPARE(files(), first);
        QVERIFY(!r.err.contains("--in-place") && !r.out.contains("--in-place"));
        QVERIFY2(r.err.contains("outputs of a run"), r.err.constData());
    }

    // In place, a file is replaced by its own output only: a camera
    // card's IMG_1.JPG never lands on IMG_1.jpg.
    void inPlaceReplacesOnlyItself()
    {
        write("card/IMG_1.JPG", encodeJpeg(testPhoto(400, 300), 20).bytes);
        write("card/IMG_1.jpg", encodeJpeg(testPhoto(320, 240), 20).bytes);
        const QByteArray upper = fileContents(m_dir + "/card/IMG_1.JPG");
        const Run r = cli({"card", "--in-place", "--overwrite", "--scale", "50", "--json"});
        QCOMPARE(r.exit, 1);
        QVERIFY(r.out.contains("\"error_code\":\"output_is_input\""));
        QCOMPARE(fileContents(m_dir + "/card/IMG_1.JPG"), upper);
        QCOMPARE(decodeImageFile(m_dir + "/card/IMG_1.jpg").image.size(), QSize(160, 120));
    }

    // Nothing is written through a link planted below -o.
    void linkBelowTheOutput()
    {
        QDir().mkpath(m_dir + "/elsewhere");
        QDir().mkpath(m_dir + "/out");
        QVERIFY(QFile::link(m_dir + "/elsewhere", m_dir + "/out/sub"));
        const Run r = cli({"-r", "in", "-o", "out", "--json"});
        QCOMPARE(r.exit, 1);
        QVERIFY(r.out.contains("\"error_code\":\"link_in_output\""));
        QVERIFY(QDir(m_dir + "/elsewhere").isEmpty());
        // -o itself may be a link.
        QVERIFY(QFile::link(m_dir + "/elsewhere", m_dir + "/linked"));
        QCOMPARE(cli({"-r", "in", "-o", "linked"}).exit, 0);
        QCOMPARE(files("elsewhere"), (QStringList{"elsewhere/a.jpg", "elsewhere/b.jpg", "elsewhere/sub/c.jpg"}));
    }

    // Names reach a terminal with their control bytes shown, not obeyed;
    // the JSON keeps them exact.
    void namesAreShownSafely()
    {
        write(QStringLiteral("in/red\x1b[31m\nfake.jpg"), fileContents(m_dir + "/in/a.jpg"));
        Run r = cli({"in/red\x1b[31m\nfake.jpg", "-o", "out"});
        QCOMPARE(r.exit, 0);
        QVERIFY2(r.out.contains("in/red\\x1B[31m\\x0Afake.jpg"), r.out.constData());
        QVERIFY(!r.out.contains('\x1b'));
        r = cli({"in/red\x1b[31m\nfake.jpg", "-o", "json", "--json"});
        QVERIFY(r.out.contains("red\\u001b[31m\\u000afake.jpg"));
    }

    // A picture larger than the header read ahead of its claim is read
    // whole.
    void largePictureReadWhole()
    {
        write("large.jpg", encodeJpeg(testPhoto(1600, 1200), 2).bytes);
        QVERIFY(QFileInfo(m_dir + "/large.jpg").size() > 256 * 1024);
        QCOMPARE(cli({"large.jpg", "-o", "out", "--scale", "10"}).exit, 0);
        QCOMPARE(decodeImageFile(m_dir + "/out/large.jpg").image.size(), QSize(160, 120));
    }

    // A file that appears at the output's name while the picture is made
    // is kept (the save itself refuses to replace it), and so reported.
    void fileAppearingMeanwhileIsKept()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", QStringLiteral(TOVALIN_KEEP_SHIM));
        env.insert("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
        env.insert("TOVALIN_APPEAR", m_dir + "/out/a.jpg");
        env.insert("TOVALIN_APPEAR_AT", "place");
        Run r = cli({"in/a.jpg", "-o", "out", "--json"}, {}, env);
        QCOMPARE(r.exit, 0);
        QCOMPARE(QJsonDocument::fromJson(r.out).object().value("status").toString(), QStringLiteral("skipped"));
        QCOMPARE(fileContents(m_dir + "/out/a.jpg"), QByteArray("theirs"));
        QCOMPARE(files("out"), QStringList{"out/a.jpg"});
        QVERIFY(QFile::remove(m_dir + "/out/a.jpg"));
        r = cli({"in/a.jpg", "-o", "out", "--overwrite"}, {}, env); // asked to replace: replaced
        QCOMPARE(r.exit, 0);
        QCOMPARE(decodeImageFile(m_dir + "/out/a.jpg").image.size(), QSize(400, 300));
    }

    // A reader that goes away fails the file: no death by SIGPIPE.
    void brokenPipeFails()
    {
        QProcess p;
        p.setWorkingDirectory(m_dir);
        p.start("bash", {"-c", "\"$0\" in/a.jpg -o - --factor 2 | true; echo ${PIPESTATUS[0]}", QStringLiteral(TOVALIN_CLI)});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.readAllStandardOutput().trimmed(), QByteArray("1"));
    }

    // One large file under a memory limit is refused unread; the batch
    // goes on.
    void largeFileUnderAMemoryLimit()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer reserves more than any address-space limit");
#endif
        QFile big(m_dir + "/in/big.jpg");
        QVERIFY(big.open(QIODevice::WriteOnly));
        big.write("\xFF\xD8\xFF", 3);
        QVERIFY(big.resize(std::int64_t(3) << 30)); // sparse
        big.close();
        QProcess p;
        p.setWorkingDirectory(m_dir);
        p.start("sh", {"-c", "ulimit -v 2500000 && exec \"$0\" in -o out --json --jobs 1", QStringLiteral(TOVALIN_CLI)});
        QVERIFY(p.waitForFinished(60000));
        const QByteArray out = p.readAllStandardOutput();
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(out.contains("\"input\":\"in/big.jpg\",\"output\":\"" ) && out.contains("\"error_code\":\"too_large\""), out.constData());
        QCOMPARE(files("out"), (QStringList{"out/a.jpg", "out/b.jpg"}));
    }

    // Our encoder writes progressive files, --baseline baseline ones, and
    // --encoder libjpeg exactly libjpeg's bytes, in factor and size mode.
    void encoders_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("frame"); // the frame marker: 0xC2 progressive, 0xC0 baseline
        QTest::addColumn<bool>("libjpegBytes");
        for (const QStringList &mode : {QStringList{"--factor", "40"}, QStringList{"--kb", "6"}}) {
            const QString m = mode.join(' ');
            QTest::addRow("ours, %s", qPrintable(m)) << mode << 0xC2 << false;
            QTest::addRow("ours, baseline, %s", qPrintable(m)) << (mode + QStringList{"--baseline"}) << 0xC0 << false;
            QTest::addRow("libjpeg, %s", qPrintable(m)) << (mode + QStringList{"--encoder", "libjpeg"}) << 0xC0 << true;
            QTest::addRow("libjpeg, --baseline too, %s", qPrintable(m))
                << (mode + QStringList{"--encoder", "libjpeg", "--baseline"}) << 0xC0 << true;
        }
    }
    void encoders()
    {
        QFETCH(QStringList, args);
        QFETCH(int, frame);
        QFETCH(bool, libjpegBytes);
        const Run r = cli(QStringList{"in/b.png", "-o", "out", "--size", "200x150", "--json"} + args);
        QVERIFY2(r.exit == 0, r.err.constData());
        const int factor = QJsonDocument::fromJson(r.out).object().value("factor").toInt();
        const QByteArray written = fileContents(m_dir + "/out/b.jpg");
        int at = 2; // the frame marker among the header segments
        while (at + 4 <= written.size() && uchar(written[at + 1]) != 0xC0 && uchar(written[at + 1]) != 0xC2)
            at += 2 + (uchar(written[at + 2]) << 8 | uchar(written[at + 3]));
        QCOMPARE(int(uchar(written[at + 1])), frame);
        ImageHolder h;
        h.setImage(decodeImageFile(m_dir + "/in/b.png").image);
        QCOMPARE(h.resize(200, 150), ResizeOutcome::Done);
        const Encoder ours = args.contains("--baseline") ? Encoder::TovalinBaseline : Encoder::Tovalin;
        QCOMPARE(written, libjpegBytes ? encodeJpeg(h.image(), factor).bytes : encodeWithTrials(h.image(), factor, ours).bytes);
    }

    // One picture through standard input and output: the same bytes as a file.
    void standardInputAndOutput()
    {
        const Run piped = cli({"-", "-o", "-", "--kb", "8"}, fileContents(m_dir + "/in/a.jpg"));
        QCOMPARE(piped.exit, 0);
        QCOMPARE(cli({"in/a.jpg", "-o", "out", "--kb", "8"}).exit, 0);
        QCOMPARE(piped.out, fileContents(m_dir + "/out/a.jpg"));
        QCOMPARE(cli({"-", "-o", "fromstdin"}, fileContents(m_dir + "/in/a.jpg")).exit, 0);
        QCOMPARE(files("fromstdin"), QStringList{"fromstdin/stdin.jpg"});
    }

    // The same picture, size and target give the benchmark's bytes (which
    // are the window's: the external test holds that), also for a JPEG or
    // HEIC the command line resizes as it decodes and the window decodes whole.
    void sameBytesAsTheBenchmark_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("rule");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("kb");
        QTest::newRow("PNG") << "b.png" << QStringList{"--size", "200x100"} << "200x100" << "6";
        QTest::newRow("JPEG reduced") << "a.jpg" << QStringList{"--size", "150x110"} << "150x110" << "5";
        QTest::newRow("JPEG enlarged") << "a.jpg" << QStringList{"--size", "500x301"} << "500x301" << "20";
        QTest::newRow("JPEG at half scale") << "a.jpg" << QStringList{"--scale", "50"} << "200x150" << "5";
        QTest::newRow("HEIC reduced") << data("photo.heic") << QStringList{"--scale", "50"} << "96x60" << "3";
    }
    void sameBytesAsTheBenchmark()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, rule);
        QFETCH(QString, size);
        QFETCH(QString, kb);
        const QString path = QFileInfo(input).isAbsolute() ? input : m_dir + "/in/" + input;
        QProcess::execute("rm", {"-rf", m_dir + "/same"});
        QCOMPARE(cli(QStringList{path, "-o", "same", "--kb", kb} + rule).exit, 0);
        QProcess bench;
        bench.start(QStringLiteral(TOVALIN_BENCH), {path, size, kb, "--out", m_dir + "/bench.jpg"});
        QVERIFY(bench.waitForFinished(60000) && bench.exitCode() == 0);
        const QByteArray written = fileContents(m_dir + "/same/" + QFileInfo(input).completeBaseName() + ".jpg");
        QVERIFY(!written.isEmpty());
        QCOMPARE(written, fileContents(m_dir + "/bench.jpg"));
    }

    // No display and no Widgets: it runs in an SSH session or a container.
    void noDisplayNoWidgets()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(v);
        QCOMPARE(cli({"in/a.jpg", "-o", "out"}, {}, env).exit, 0);
        QProcess readelf;
        readelf.start("readelf", {"-d", QStringLiteral(TOVALIN_CLI)});
        QVERIFY(readelf.waitForFinished());
        const QByteArray needed = readelf.readAllStandardOutput();
        QVERIFY(needed.contains("libQt6Core"));
        QVERIFY(!needed.contains("libQt6Widgets"));
    }

    // Messages in Japanese under a Japanese locale.
    void japaneseUnderAJapaneseLocale()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LANG", "ja_JP.UTF-8");
        env.insert("LC_ALL", "ja_JP.UTF-8");
        const Run r = cli({"bad/broken.jpg"}, {}, env);
        QCOMPARE(r.exit, 1);
        QVERIFY(QString::fromUtf8(r.err).contains(QStringLiteral("画像ファイルが途中で切れています。")));
    }

    // A signal in the middle of a write: that file is finished whole, the
    // others are not started, no temporary file is left, and the exit
    // status says which signal.
    void signalMidWrite_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void signalMidWrite()
    {
        QFETCH(int, signal);
        for (int i = 0; i < 5; ++i)
            write(QStringLiteral("many/p%1.jpg").arg(i), fileContents(m_dir + "/in/a.jpg"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", QStringLiteral(TOVALIN_SIGNAL_SHIM));
        env.insert("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
        env.insert("TOVALIN_SIGNAL_DIR", m_dir + "/out");
        env.insert("TOVALIN_SIGNAL", QString::number(signal));
        const Run r = cli({"many", "-o", "out", "--jobs", "1", "--kb", "10"}, {}, env);
        QCOMPARE(r.exit, 128 + signal);
        const QStringList left = files("out");
        QCOMPARE(left.size(), 1);
        QVERIFY(!left.front().contains("/."));
        QCOMPARE(decodeImageFile(m_dir + "/" + left.front()).error, DecodeError::None);
    }

    // Shrink to fit: where even the strongest factor misses the target,
    // the largest smaller size that meets it at or under the floor.
    void shrinkToFit()
    {
        write("noisy.jpg", encodeJpeg(testPhoto(800, 600), 2).bytes);
        Run r = cli({"noisy.jpg", "-o", "plain", "--kb", "6", "--json"});
        QJsonObject o = QJsonDocument::fromJson(r.out).object();
        QVERIFY(o.value("over_target").toBool() || o.value("factor").toInt() > kDefaultShrinkFloor);
        r = cli({"noisy.jpg", "-o", "shrunk", "--kb", "6", "--json", "--shrink-to-fit=120"});
        QCOMPARE(r.exit, 0);
        o = QJsonDocument::fromJson(r.out).object();
        QVERIFY(o.value("bytes").toInteger() <= 6144);
        QVERIFY(o.value("factor").toInt() <= 120);
        QVERIFY(!o.value("over_target").toBool());
        const int w = o.value("width").toInt(), h = o.value("height").toInt();
        QVERIFY(w < 800 && w > 100);
        QCOMPARE(h, int(std::lround(600.0 * w / 800)));
    }

    // --metadata safe keeps date, camera and exposure; drops place, serial
    // and owner; the orientation is normal since the pixels are turned.
    void safeMetadata()
    {
        const Run r = cli({data("exif.jpg"), "-o", "out", "--metadata", "safe", "--kb", "20", "--json"});
        QCOMPARE(r.exit, 0);
        const QByteArray out = fileContents(m_dir + "/out/exif.jpg");
        QVERIFY(out.size() <= 20480);
        ExifData *exif = exif_data_new_from_data(reinterpret_cast<const unsigned char *>(out.constData()), unsigned(out.size()));
        QVERIFY(exif);
        const auto has = [exif](ExifIfd ifd, int tag) { return exif_content_get_entry(exif->ifd[ifd], ExifTag(tag)) != nullptr; };
        QVERIFY(has(EXIF_IFD_0, EXIF_TAG_MAKE));
        QVERIFY(has(EXIF_IFD_0, EXIF_TAG_MODEL));
        QVERIFY(has(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL));
        QVERIFY(has(EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME));
        QVERIFY(!has(EXIF_IFD_GPS, 1) && !has(EXIF_IFD_GPS, 2));
        QVERIFY(!has(EXIF_IFD_EXIF, 0xA431)); // serial number
        QVERIFY(!has(EXIF_IFD_EXIF, 0xA430)); // owner
        const ExifEntry *orientation = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
        QVERIFY(orientation);
        QCOMPARE(exif_get_short(orientation->data, exif_data_get_byte_order(exif)), ExifShort(1));
        exif_data_unref(exif);
        QCOMPARE(decodeImageFile(m_dir + "/out/exif.jpg").image.size(), QSize(200, 300)); // turned
        QVERIFY(!fileContents(m_dir + "/out/exif.jpg").contains("Exif") == false);
        QVERIFY(cli({data("exif.jpg"), "-o", "none"}).exit == 0);
        QVERIFY(!fileContents(m_dir + "/none/exif.jpg").contains("Exif"));
    }

    void keepDate()
    {
        QFile a(m_dir + "/in/a.jpg");
        QVERIFY(a.open(QIODevice::ReadWrite));
        QVERIFY(a.setFileTime(QDateTime(QDate(2020, 5, 17), QTime(8, 30)), QFileDevice::FileModificationTime));
        a.close();
        QCOMPARE(cli({"in/a.jpg", "-o", "out", "--keep-date"}).exit, 0);
        QCOMPARE(QFileInfo(m_dir + "/out/a.jpg").lastModified(), QDateTime(QDate(2020, 5, 17), QTime(8, 30)));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
