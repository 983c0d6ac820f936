#include "batch/batchjob.h"
#include "batch/batchrunner.h"
#include "batch/memorybudget.h"
#include "common/memorypolicy.h"
#include "common/samefile.h"
#include "batch/collect.h"
#include "batch/naming.h"
#include "batch/sizerule.h"
#include "common/nativepath.h"
#include "../testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <QImage>
#include <QProcess>
#include <QSet>

#include <atomic>
#include <fcntl.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tovalin;

Q_DECLARE_METATYPE(tovalin::SizeRule)
Q_DECLARE_METATYPE(tovalin::BatchProblem)

namespace {

void touch(const QString &path, const QByteArray &bytes = QByteArray("\xFF\xD8\xFF", 3))
{
    QDir().mkpath(folderOf(path));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

SizeRule rule(SizeRule::Kind kind, int a = 0, int b = 0, bool noEnlarge = false)
{
    SizeRule r;
    r.kind = kind;
    r.width = a;
    r.height = b;
    r.percent = a;
    r.edge = a;
    r.noEnlarge = noEnlarge;
    return r;
}

// "path reason" of every entry left out, relative to `root`.
QStringList passedList(const Collected &c, const QString &root)
{
    const auto word = [](Passed why) {
        switch (why) {
        case Passed::Hidden: return "hidden";
        case Passed::Temporary: return "temporary";
        case Passed::OwnOutput: return "own output";
        case Passed::NotPicture: return "not a picture";
        case Passed::SubfolderNotWalked: return "subfolder";
        case Passed::FolderLink: return "folder link";
        case Passed::OutputFolder: return "output folder";
        case Passed::Duplicate: return "duplicate";
        case Passed::Unreadable: return "unreadable";
        }
        return "";
    };
    QStringList out;
    for (const PassedEntry &e : c.passed)
        out << e.path.mid(root.size() + 1) + " " + word(e.why);
    return out;
}

} // namespace

class TestBatch : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    // Names that are not UTF-8 are past QDir: the folder goes whole.
    void cleanupTestCase() { QProcess::execute("rm", {"-rf", m_dir.path()}); }

    void outputNames_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("name");
        QTest::newRow("last suffix only") << "trip.day1.heic" << "" << "trip.day1.jpg";
        QTest::newRow("suffix before .jpg") << "trip.day1.heic" << "_small" << "trip.day1_small.jpg";
        QTest::newRow("no suffix at all") << "README" << "" << "README.jpg";
        QTest::newRow("a dot name keeps its name") << ".hidden" << "" << ".hidden.jpg";
        QTest::newRow("upper case") << "DSC_0001.JPG" << "" << "DSC_0001.jpg";
    }
    void outputNames()
    {
        QFETCH(QString, input);
        QFETCH(QString, suffix);
        QFETCH(QString, name);
        QCOMPARE(batchOutputName(input, suffix), name);
    }

    // Beside itself, a JPEG would be its own output: "_resized" is added,
    // unless it may be replaced.
    void neverItsOwnInput_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<QString>("output");
        QTest::newRow("photo.jpg beside itself") << "photo.jpg" << "" << false << "photo_resized.jpg";
        QTest::newRow("with a suffix it is another file") << "photo.jpg" << "_s" << false << "photo_s.jpg";
        QTest::newRow("in place") << "photo.jpg" << "" << true << "photo.jpg";
        QTest::newRow("another format") << "photo.png" << "" << false << "photo.jpg";
    }
    void neverItsOwnInput()
    {
        QFETCH(QString, input);
        QFETCH(QString, suffix);
        QFETCH(bool, inPlace);
        QFETCH(QString, output);
        touch(m_dir.filePath(input));
        QCOMPARE(batchOutputPath(m_dir.filePath(input), m_dir.path(), suffix, inPlace), m_dir.filePath(output));
    }

    // The size rules, against sizes worked out by hand.
    void sizeRules_data()
    {
        QTest::addColumn<SizeRule>("rule");
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("full size") << rule(SizeRule::Full) << QSize(640, 480) << QSize(640, 480);
        QTest::newRow("exact") << rule(SizeRule::Exact, 800, 100) << QSize(640, 480) << QSize(800, 100);
        QTest::newRow("exact, no enlarging") << rule(SizeRule::Exact, 800, 100, true) << QSize(640, 480) << QSize(640, 480);
        QTest::newRow("the window's percentage rule") << rule(SizeRule::Scale, 29) << QSize(100, 1000) << QSize(28, 290);
        QTest::newRow("scale above 100, no enlarging") << rule(SizeRule::Scale, 150, 0, true) << QSize(100, 50) << QSize(100, 50);
        QTest::newRow("long edge, landscape") << rule(SizeRule::LongEdge, 1600) << QSize(4000, 3000) << QSize(1600, 1200);
        QTest::newRow("long edge, portrait") << rule(SizeRule::LongEdge, 1600) << QSize(3000, 4000) << QSize(1200, 1600);
        QTest::newRow("long edge, rounding") << rule(SizeRule::LongEdge, 1000) << QSize(3000, 2001) << QSize(1000, 667);
        QTest::newRow("long edge enlarges") << rule(SizeRule::LongEdge, 200) << QSize(100, 50) << QSize(200, 100);
        QTest::newRow("long edge, no enlarging") << rule(SizeRule::LongEdge, 200, 0, true) << QSize(100, 50) << QSize(100, 50);
        QTest::newRow("long edge, a thin strip keeps a pixel") << rule(SizeRule::LongEdge, 100) << QSize(10000, 10) << QSize(100, 1);
        QTest::newRow("fit, width decides") << rule(SizeRule::Fit, 800, 800) << QSize(4000, 3000) << QSize(800, 600);
        QTest::newRow("fit, height decides") << rule(SizeRule::Fit, 800, 300) << QSize(4000, 3000) << QSize(400, 300);
        QTest::newRow("fit, no enlarging") << rule(SizeRule::Fit, 800, 800, true) << QSize(400, 300) << QSize(400, 300);
    }
    void sizeRules()
    {
        QFETCH(SizeRule, rule);
        QFETCH(QSize, source);
        QFETCH(QSize, expected);
        QCOMPARE(targetSize(rule, source), expected);
    }

    // A walk takes pictures by their content and says why it leaves out
    // every other entry; it never walks the output folder below it, never
    // follows a link to a folder; named files are taken whatever they hold.
    void folderWalk()
    {
        const QString root = m_dir.filePath("walk");
        touch(root + "/b.jpg");
        touch(root + "/a.heic.renamed", QByteArray("\0\0\0\x18" "ftypheic\0\0\0\0" "mif1heic", 24));
        touch(root + "/notes.txt", "notes");
        touch(root + "/empty.jpg", "");
        touch(root + "/.hidden.jpg");
        touch(root + "/.b.jpg.k3j2.tmp");
        touch(root + "/sub/c.png", "\x89PNG\r\n\x1a\n");
        touch(root + "/out/old.jpg");
        QVERIFY(QFile::link(root + "/sub", root + "/loop"));
        QVERIFY(QFile::link(root + "/b.jpg", root + "/same.jpg"));
        touch(m_dir.filePath("named.txt"), "named");
        const Collected flat = collectInputs({root}, {false, QString(), QString()});
        QCOMPARE(flat.inputs.size(), 2);
        QCOMPARE(passedList(flat, m_dir.path()),
                 (QStringList{"walk/.b.jpg.k3j2.tmp temporary", "walk/.hidden.jpg hidden", "walk/empty.jpg not a picture",
                              "walk/loop folder link", "walk/notes.txt not a picture", "walk/out subfolder",
                              "walk/sub subfolder", "walk/same.jpg duplicate"}));
        const Collected deep = collectInputs({root, m_dir.filePath("named.txt")}, {true, root + "/out", QString()});
        QStringList found;
        for (const BatchInput &i : deep.inputs)
            found << i.path.mid(m_dir.path().size() + 1) + " [" + i.subfolder + "]";
        QCOMPARE(found, (QStringList{"walk/a.heic.renamed []", "walk/b.jpg []", "walk/sub/c.png [sub]", "named.txt []"}));
        QVERIFY(passedList(deep, m_dir.path()).contains("walk/out output folder"));
    }

    // A path longer than the system takes cannot be looked up: it is
    // reported, even to root.
    void unreadableEntriesAreReported()
    {
        QVERIFY(makeTooDeepPicture(m_dir.filePath("deep")));
        const Collected c = collectInputs({m_dir.filePath("deep")}, {true, QString(), QString()});
        QVERIFY(c.inputs.isEmpty());
        QCOMPARE(c.passed.size(), 1);
        QCOMPARE(c.passed.front().why, Passed::Unreadable);
        QProcess::execute("rm", {"-rf", m_dir.filePath("deep")}); // QDir cannot remove what it cannot name
    }

    // Names that are not UTF-8 survive the walk and the way back to bytes.
    void namesAreBytes()
    {
        const QByteArray raw = nativePath(m_dir.filePath("bytes")) + "/caf\xe9.jpg";
        QDir().mkpath(m_dir.filePath("bytes"));
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "\xFF\xD8\xFF", 3), ssize_t(3));
        ::close(fd);
        const Collected c = collectInputs({m_dir.filePath("bytes")}, {false, QString(), QString()});
        QCOMPARE(c.inputs.size(), 1);
        QCOMPARE(nativePath(c.inputs.front().path), raw);
        QCOMPARE(nativePath(batchOutputPath(c.inputs.front().path, m_dir.filePath("bytes"), "_s", false)),
                 nativePath(m_dir.filePath("bytes")) + "/caf\xe9_s.jpg");
    }

    // Plans worked out by hand: which file goes where, which is refused
    // and which is left out. Files are named relative to the case's folder;
    // "-o" is relative to it too ("" beside the inputs).
    void plans_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<QStringList>("expected");
        const QStringList none;
        QTest::newRow("a camera card's IMG_1.JPG and IMG_1.jpg, in place")
            << QStringList{"IMG_1.JPG", "IMG_1.jpg"} << "" << "" << true
            << QStringList{"IMG_1.JPG -> IMG_1.jpg output_is_input", "IMG_1.jpg -> IMG_1.jpg"};
        QTest::newRow("photo.png and photo.jpg, in place")
            << QStringList{"photo.jpg", "photo.png"} << "" << "" << true
            << QStringList{"photo.jpg -> photo.jpg", "photo.png -> photo.jpg output_is_input"};
        QTest::newRow("IMG_1.heic beside IMG_1.jpg: the jpg stays an input")
            << QStringList{"IMG_1.heic", "IMG_1.jpg"} << "" << "" << false
            << QStringList{"IMG_1.heic -> IMG_1.jpg output_is_input", "IMG_1.jpg -> IMG_1_resized.jpg"};
        QTest::newRow("a second run leaves the first run's outputs out")
            << QStringList{"a.jpg", "a_resized.jpg", "b.png", "b.jpg"} << "" << "" << false
            << QStringList{"a.jpg -> a_resized.jpg", "b.jpg -> b_resized.jpg", "b.png -> b.jpg output_is_input",
                           "a_resized.jpg: own output"};
        QTest::newRow("a second run with a suffix")
            << QStringList{"a.png", "a_s.jpg", "b.jpg", "b_s.jpg"} << "" << "_s" << false
            << QStringList{"a.png -> a_s.jpg", "b.jpg -> b_s.jpg", "a_s.jpg: own output", "b_s.jpg: own output"};
        QTest::newRow("-o equal to the folder walked")
            << QStringList{"a.png", "a_s.jpg", "sub/c.gif", "sub/c_s.jpg"} << "." << "_s" << false
            << QStringList{"a.png -> a_s.jpg", "sub/c.gif -> sub/c_s.jpg", "a_s.jpg: own output", "sub/c_s.jpg: own output"};
        QTest::newRow("-o inside the folder walked")
            << QStringList{"a.png", "out/old.jpg", "out/sub/x.jpg"} << "out" << "" << false
            << QStringList{"a.png -> out/a.jpg", "out: output folder"};
        QTest::newRow("two inputs, one output")
            << QStringList{"cat.gif", "cat.png"} << "out" << "" << false
            << QStringList{"cat.gif -> out/cat.jpg", "cat.png -> out/cat.jpg output_taken"};
        QTest::newRow("hidden and temporary files")
            << QStringList{".x.jpg", ".a.jpg.1k9z.tmp", "a.png"} << "" << "" << false
            << QStringList{"a.png -> a.jpg", ".a.jpg.1k9z.tmp: temporary", ".x.jpg: hidden"};
    }
    void plans()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, output);
        QFETCH(QString, suffix);
        QFETCH(bool, inPlace);
        QFETCH(QStringList, expected);
        static int cases = 0;
        const QString root = m_dir.filePath(QStringLiteral("plan%1").arg(++cases));
        for (const QString &f : files)
            touch(root + "/" + f);
        BatchOptions options;
        options.outputFolder = output.isEmpty() ? QString() : output == "." ? root : root + "/" + output;
        options.suffix = suffix;
        options.inPlace = inPlace;
        const Collected c = collectInputs({root}, {true, options.outputFolder, suffix});
        QStringList seen;
        for (const PlannedFile &p : planOutputs(c.inputs, options))
            seen << p.input.path.mid(root.size() + 1) + " -> " + p.output.mid(root.size() + 1)
                        + (p.conflict == BatchProblem::OutputIsInput ? " output_is_input"
                           : p.conflict == BatchProblem::OutputTaken ? " output_taken" : "");
        for (const QString &passed : passedList(c, root))
            seen << QString(passed).replace(passed.indexOf(' '), 1, ": ");
        QCOMPARE(seen, expected);
    }

    // Random folders of likely names and links: no output is another input
    // (unless its own, in place), no two outputs meet, none leaves -o.
    void randomTrees()
    {
        std::mt19937 random(20261207);
        const QStringList stems{"a", "IMG_1", "a_resized", "a_s", "b"};
        const QStringList endings{".jpg", ".JPG", ".png", ".heic"};
        for (int round = 0; round < 150; ++round) {
            const QString root = m_dir.filePath(QStringLiteral("random%1").arg(round));
            const QStringList folders{"", "sub/", "out/"};
            QStringList made;
            for (int i = 0; i < 8; ++i) {
                const QString name = folders[random() % 3] + stems[random() % stems.size()] + endings[random() % endings.size()];
                touch(root + "/" + name);
                made << name;
            }
            QFile::link(root + "/" + made[0], root + "/link_" + QString(made[1]).replace('/', '_'));
            BatchOptions options;
            options.suffix = random() % 2 ? QString() : QStringLiteral("_s");
            const int where = random() % 3;
            options.outputFolder = where == 0 ? QString() : where == 1 ? root + "/out" : root;
            options.inPlace = where == 0 && random() % 2;
            const QList<PlannedFile> planned = planOutputs(collectInputs({root}, {true, options.outputFolder, options.suffix}).inputs, options);
            QSet<QString> outputs;
            QSet<FileId> inputIds;
            for (const PlannedFile &p : planned)
                inputIds.insert(*fileId(p.input.path));
            for (const PlannedFile &p : planned) {
                if (p.conflict != BatchProblem::None)
                    continue;
                QVERIFY2(!outputs.contains(p.output), qPrintable(p.output));
                outputs.insert(p.output);
                const std::optional<FileId> out = fileId(p.output);
                QVERIFY2(!out || !inputIds.contains(*out) || (options.inPlace && sameFile(p.output, p.input.path)),
                         qPrintable(p.input.path + " -> " + p.output));
                if (!options.outputFolder.isEmpty())
                    QVERIFY(p.output.startsWith(options.outputFolder + "/"));
            }
        }
    }

    // Outputs already there are counted by what stands at the name: a
    // dangling link counts, a refused output does not.
    void existingOutputsCounted()
    {
        const QString f = m_dir.filePath("existing");
        touch(f + "/a.png");
        touch(f + "/b.png");
        touch(f + "/c.png");
        touch(f + "/c.jpg");
        touch(f + "/out/a.jpg");
        touch(f + "/out/c.jpg"); // c.png's, and c.jpg's too, which is refused as taken
        QVERIFY(QFile::link(f + "/nowhere", f + "/out/b.jpg"));
        BatchOptions options;
        options.outputFolder = f + "/out";
        QCOMPARE(existingOutputs(planOutputs(collectInputs({f}, {false, options.outputFolder, QString()}).inputs, options)), 3);
    }

    // One set of limits for the command line and the dialog.
    void batchLimits_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("percent"); // 0: refused
        QTest::addColumn<int>("edge");
        QTest::newRow("blanks around") << " 50 " << 50 << 50;
        QTest::newRow("the largest percentage") << "10000" << 10000 << 10000;
        QTest::newRow("past it") << "10001" << 0 << 10001;
        QTest::newRow("the largest side") << "65500" << 0 << 65500;
        QTest::newRow("past it") << "65501" << 0 << 0;
        QTest::newRow("zero") << "0" << 0 << 0;
        QTest::newRow("a fraction") << "1.5" << 0 << 0;
    }
    void batchLimits()
    {
        QFETCH(QString, text);
        QFETCH(int, percent);
        QFETCH(int, edge);
        QCOMPARE(percentFromText(text).value_or(0), percent);
        QCOMPARE(edgeFromText(text).value_or(0), edge);
    }

    // Fewer jobs where the budget cannot keep each one's reserve.
    void jobsWithinTheBudget()
    {
        QCOMPARE(jobsWithin(8, 3 * kJobReserveBytes + 5), 3);
        QCOMPARE(jobsWithin(8, 10), 1);
        QCOMPARE(jobsWithin(2, std::int64_t(1) << 40), 2);
    }

    // A claim waits while others hold too much and wakes when they let go;
    // a claim larger than the whole budget runs alone.
    void memoryBudget()
    {
        MemoryBudget budget(100);
        budget.acquire(80);
        std::atomic<int> stage{0};
        std::thread second([&] {
            budget.acquire(50);
            stage = 1;
            budget.release(50);
        });
        QTest::qWait(100);
        QCOMPARE(stage.load(), 0);
        budget.release(80);
        second.join();
        QCOMPARE(stage.load(), 1);
        budget.acquire(500); // alone: more than the budget
        std::thread small([&] {
            budget.acquire(1);
            stage = 2;
            budget.release(1);
        });
        QTest::qWait(100);
        QCOMPARE(stage.load(), 1);
        budget.release(500);
        small.join();
        QCOMPARE(stage.load(), 2);
    }

    // An allocation that fails fails that one file; the next is written.
    void allocationFailureFailsOneFile()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer reserves more than any address-space limit");
#endif
        const QString f = m_dir.filePath("alloc");
        QDir().mkpath(f);
        QFile big(f + "/big.jpg");
        QVERIFY(big.open(QIODevice::WriteOnly));
        big.write("\xFF\xD8\xFF", 3);
        QVERIFY(big.resize(std::int64_t(400) << 20)); // sparse
        big.close();
        const QImage small = QImage(64, 48, QImage::Format_RGB888);
        QVERIFY(QImage(small).save(f + "/small.png"));
        machineMemory(); // taken before the limit below, as a budget that was wrong would be
        const pid_t child = fork();
        if (child == 0) {
            rlimit limit{};
            QFile statm("/proc/self/statm");
            statm.open(QIODevice::ReadOnly);
            const rlim_t mapped = rlim_t(statm.readAll().split(' ').value(0).toLongLong() * sysconf(_SC_PAGE_SIZE));
            limit.rlim_cur = limit.rlim_max = mapped + (rlim_t(200) << 20);
            setrlimit(RLIMIT_AS, &limit);
            BatchOptions options;
            options.outputFolder = f + "/out";
            const QList<PlannedFile> planned = planOutputs(collectInputs({f}, {false, options.outputFolder, QString()}).inputs, options);
            QList<BatchOutcome> outcomes;
            BatchRunner runner(planned, options, 1, std::int64_t(1) << 40, [&](int, const BatchOutcome &o) { outcomes << o; });
            runner.run();
            const bool ok = outcomes.size() == 2 && outcomes[0].decodeError == DecodeError::OutOfMemory
                            && outcomes[1].status == BatchStatus::Written;
            _exit(ok ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    // The memory a process may count on: a container's limit less its use,
    // in either cgroup layout.
    void cgroupLimits_data()
    {
        QTest::addColumn<QByteArray>("self");
        QTest::addColumn<QStringList>("files"); // path=value below the cgroup root
        QTest::addColumn<qint64>("room");
        QTest::newRow("v2, own group") << QByteArray("0::/box\n") << QStringList{"box/memory.max=1000", "box/memory.current=300"}
                                       << qint64(700);
        QTest::newRow("v2, no limit") << QByteArray("0::/box\n") << QStringList{"box/memory.max=max", "box/memory.current=300"}
                                      << qint64(-1);
        QTest::newRow("v2, namespaced at the root") << QByteArray("0::/box\n") << QStringList{"memory.max=2000", "memory.current=500"}
                                                    << qint64(1500);
        QTest::newRow("v1 beside an empty v2")
            << QByteArray("4:memory:/c1\n0::/\n") << QStringList{"memory/c1/memory.limit_in_bytes=4096", "memory/c1/memory.usage_in_bytes=96"}
            << qint64(4000);
        QTest::newRow("use above the limit") << QByteArray("0::/box\n") << QStringList{"box/memory.max=100", "box/memory.current=300"}
                                             << qint64(0);
    }
    void cgroupLimits()
    {
        QFETCH(QByteArray, self);
        QFETCH(QStringList, files);
        QFETCH(qint64, room);
        QTemporaryDir root;
        for (const QString &f : files)
            touch(root.filePath(f.section('=', 0, 0)), f.section('=', 1).toLatin1());
        QCOMPARE(qint64(cgroupRoom(self, root.path())), room);
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
