#include "batch/batchjob.h"
#include "batch/collect.h"
#include "batch/naming.h"
#include "batch/sizerule.h"
#include "common/nativepath.h"
#include "../testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
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

} // namespace

class TestBatch : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
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

    // A walk takes pictures by their content, counts other files as
    // skipped, never walks the output folder, never follows a link to a
    // folder; named files are taken whatever they hold.
    void folderWalk()
    {
        const QString root = m_dir.filePath("walk");
        touch(root + "/b.jpg");
        touch(root + "/a.heic.renamed", QByteArray("\0\0\0\x18" "ftypheic\0\0\0\0" "mif1heic", 24));
        touch(root + "/notes.txt", "notes");
        touch(root + "/sub/c.png", "\x89PNG\r\n\x1a\n");
        touch(root + "/out/old.jpg");
        QVERIFY(QFile::link(root + "/sub", root + "/loop"));
        touch(m_dir.filePath("named.txt"), "named");
        const Collected flat = collectInputs({root}, false, QString());
        QCOMPARE(flat.inputs.size(), 2);
        const Collected deep = collectInputs({root, m_dir.filePath("named.txt")}, true, root + "/out");
        QStringList found;
        for (const BatchInput &i : deep.inputs)
            found << i.path.mid(m_dir.path().size() + 1) + " [" + i.subfolder + "]";
        QCOMPARE(found, (QStringList{"walk/a.heic.renamed []", "walk/b.jpg []", "walk/sub/c.png [sub]", "named.txt []"}));
        QCOMPARE(deep.skipped, 1);
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
        const Collected c = collectInputs({m_dir.filePath("bytes")}, false, QString());
        QCOMPARE(c.inputs.size(), 1);
        QCOMPARE(nativePath(c.inputs.front().path), raw);
        QCOMPARE(nativePath(batchOutputPath(c.inputs.front().path, m_dir.filePath("bytes"), "_s", false)),
                 nativePath(m_dir.filePath("bytes")) + "/caf\xe9_s.jpg");
    }

    // Two files of one run never write one output; an output that is
    // another input is refused unless inputs may be replaced.
    void conflicts_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<QList<BatchProblem>>("problems");
        QTest::newRow("plain") << false << QList<BatchProblem>{BatchProblem::OutputIsInput, BatchProblem::None, BatchProblem::OutputTaken};
        QTest::newRow("in place") << true << QList<BatchProblem>{BatchProblem::None, BatchProblem::OutputTaken, BatchProblem::OutputTaken};
    }
    void conflicts()
    {
        QFETCH(bool, inPlace);
        QFETCH(QList<BatchProblem>, problems);
        const QString f = m_dir.filePath("conflicts");
        touch(f + "/cat.gif");
        touch(f + "/cat.jpg");
        touch(f + "/cat.png");
        BatchOptions options;
        options.inPlace = inPlace;
        const QList<PlannedFile> planned = planOutputs(collectInputs({f}, false, QString()).inputs, options);
        QList<BatchProblem> seen;
        for (const PlannedFile &p : planned)
            seen << p.conflict;
        QCOMPARE(seen, problems);
        QCOMPARE(planned[1].output, inPlace ? f + "/cat.jpg" : f + "/cat_resized.jpg");
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
