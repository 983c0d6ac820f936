#include "app/batchchoices.h"
#include "app/batchdialog.h"
#include "imaging/jpeg/jpeg.h"
#include "texts/texts.h"
#include "../testfiles.h"
#include "../testphoto.h"
#include "screenshot.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>

using namespace tovalin;

// Drives the batch dialog as a user does: fields typed, buttons clicked,
// questions answered by the test and recorded.
class TestBatchDialog : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;
    QString m_in, m_out, m_choices;
    QStringList m_messages, m_questions, m_opened;
    bool m_answer = true;
    QString m_browsed; // what the folder browser returns

    std::unique_ptr<BatchDialog> dialog(const QStringList &paths, const QString &targetKb = QStringLiteral("40"))
    {
        BatchDefaults d;
        d.firstUse.folder = m_out; // the window's folder
        d.firstUse.targetKb = targetKb;
        d.choicesPath = m_choices;
        auto dialog = std::make_unique<BatchDialog>(paths, d);
        dialog->showOk = [this](const QString &t) { m_messages << t; };
        dialog->askYesNo = [this](const QString &t) {
            m_questions << t;
            return m_answer;
        };
        dialog->chooseFolder = [this](const QString &) { return m_browsed; };
        dialog->openFolder = [this](const QString &f) { m_opened << f; };
        return dialog;
    }

    template <typename T>
    static T *child(BatchDialog &d, const char *name)
    {
        T *w = d.findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }

    static void click(BatchDialog &d, const char *name) { QTest::mouseClick(child<QPushButton>(d, name), Qt::LeftButton); }

    static void type(BatchDialog &d, const char *name, const QString &text)
    {
        auto *field = child<QLineEdit>(d, name);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
    }

    // Starts the batch and waits for its end line.
    static void run(BatchDialog &d)
    {
        click(d, "start");
        QTRY_VERIFY_WITH_TIMEOUT(!d.isRunning() && !child<QLabel>(d, "summary")->text().isEmpty(), 30000);
    }

    static QTreeWidgetItem *row(BatchDialog &d, const QString &fileName)
    {
        auto *files = child<QTreeWidget>(d, "files");
        for (int i = 0; i < files->topLevelItemCount(); ++i)
            if (QFileInfo(files->topLevelItem(i)->text(0)).fileName() == fileName)
                return files->topLevelItem(i);
        qFatal("no row for %s", qPrintable(fileName));
    }

    void brokenJpeg(const QString &path)
    {
        QFile broken(path);
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(encodeJpeg(testPhoto(300, 200), 30).bytes.left(500));
    }

private slots:
    void init()
    {
        QDir root(m_root.path());
        root.removeRecursively();
        for (const char *d : {"in", "out", "app"})
            root.mkpath(QLatin1String(d));
        m_in = root.filePath("in");
        m_out = root.filePath("out");
        m_choices = root.filePath("app/") + kBatchChoicesFileName;
        m_messages.clear();
        m_questions.clear();
        m_opened.clear();
        m_answer = true;
        m_browsed.clear();
    }

    // A missed target and a broken file: both rows marked with a word and
    // an icon, counted at the end, and the only rows left when the others
    // are hidden; 「フォルダを開く」 opens the destination.
    void missesAndFailuresStandOut()
    {
        QVERIFY(testPhoto(640, 480).save(m_in + "/big.png"));
        QImage flat(32, 32, QImage::Format_RGB32);
        flat.fill(qRgb(120, 130, 140));
        QVERIFY(flat.save(m_in + "/flat.png"));
        brokenJpeg(m_in + "/broken.jpg");
        auto d = dialog({m_in + "/big.png", m_in + "/broken.jpg", m_in + "/flat.png"}, QStringLiteral("1"));
        run(*d);
        QCOMPARE(child<QLabel>(*d, "summary")->text(), QStringLiteral("保存 2（うち容量超過 1）、とばした 0、失敗 1"));
        QTreeWidgetItem *big = row(*d, "big.png"), *broken = row(*d, "broken.jpg"), *fits = row(*d, "flat.png");
        const qint64 bigBytes = QFileInfo(m_out + "/big.jpg").size();
        QVERIFY2(big->text(1).startsWith(QStringLiteral("【容量超過】")) && big->text(1).contains(QString::number(bigBytes - 1024)),
                 qPrintable(big->text(1)));
        QCOMPARE(broken->text(1), QStringLiteral("【失敗】画像ファイルが途中で切れています。"));
        QVERIFY(!big->icon(1).isNull() && !broken->icon(1).isNull());
        QVERIFY2(!fits->text(1).startsWith(QStringLiteral("【")) && fits->icon(1).isNull(), qPrintable(fits->text(1)));
        child<QCheckBox>(*d, "problemsOnly")->setChecked(true);
        QVERIFY(!big->isHidden() && !broken->isHidden() && fits->isHidden());
        child<QCheckBox>(*d, "problemsOnly")->setChecked(false);
        QVERIFY(!fits->isHidden());
        click(*d, "openFolder");
        QCOMPARE(m_opened, QStringList{m_out});
        saveScreenshot(d.get(), "batch-dialog-after-a-failure-and-a-miss.png");
    }

    // The destination is the dialog's: browsed to or typed (a missing folder
    // made after asking), remembered for the next batch, never the window's.
    void destinationChosenInTheDialog_data()
    {
        QTest::addColumn<bool>("browse");
        QTest::addColumn<bool>("make");
        QTest::newRow("browsed") << true << true;
        QTest::newRow("typed, made") << false << true;
        QTest::newRow("typed, not made") << false << false;
    }
    void destinationChosenInTheDialog()
    {
        QFETCH(bool, browse);
        QFETCH(bool, make);
        QVERIFY(testPhoto(200, 100).save(m_in + "/a.png"));
        const QString chosen = m_root.filePath("chosen");
        if (browse)
            QVERIFY(QDir().mkpath(chosen));
        m_answer = make;
        auto d = dialog({m_in + "/a.png"});
        QCOMPARE(child<QLineEdit>(*d, "folder")->text(), m_out);
        if (browse) {
            m_browsed = chosen;
            click(*d, "browse");
        } else {
            type(*d, "folder", chosen);
        }
        click(*d, "start");
        QTRY_VERIFY(!d->isRunning());
        QCOMPARE(m_questions.size(), browse ? 0 : 1);
        QCOMPARE(QFile::exists(chosen + "/a.jpg"), make);
        QVERIFY(QDir(m_out).isEmpty());
        auto next = dialog({m_in + "/a.png"});
        QCOMPARE(child<QLineEdit>(*next, "folder")->text(), make ? chosen : m_out);
    }

    // Beside each picture the suffix is never empty, and a.png's output
    // never replaces a neighbouring a.jpg or another input's output.
    void besideEachPicture()
    {
        QVERIFY(testPhoto(200, 100).save(m_in + "/a.png"));
        QVERIFY(testPhoto(200, 100).save(m_in + "/a.jpg"));
        const QByteArray jpeg = fileContents(m_in + "/a.jpg");
        auto d = dialog({m_in + "/a.png", m_in + "/a.jpg"});
        child<QRadioButton>(*d, "besideEach")->click();
        QVERIFY(!child<QLineEdit>(*d, "folder")->isEnabled());
        type(*d, "suffix", QString());
        click(*d, "start");
        QCOMPARE(m_messages, QStringList{text::kBatchNoSuffix});
        type(*d, "suffix", QStringLiteral("_s"));
        run(*d);
        QCOMPARE(QDir(m_in).entryList(QDir::Files), (QStringList{"a.jpg", "a.png", "a_s.jpg"}));
        QCOMPARE(fileContents(m_in + "/a.jpg"), jpeg);
        QVERIFY(row(*d, "a.jpg")->text(1).startsWith(QStringLiteral("【失敗】")));
        QVERIFY(QDir(m_out).isEmpty());
    }

    // Every choice comes back in the next dialog, from the dialog's own file.
    void choicesRemembered()
    {
        QVERIFY(testPhoto(200, 100).save(m_in + "/a.png"));
        auto d = dialog({m_in + "/a.png"});
        QVERIFY(child<QCheckBox>(*d, "noEnlarge")->isChecked());
        child<QRadioButton>(*d, "byEdge")->click();
        type(*d, "edge", QStringLiteral("150"));
        child<QRadioButton>(*d, "byFactor")->click();
        type(*d, "factor", QStringLiteral("50"));
        type(*d, "targetKb", QStringLiteral("200"));
        QCOMPARE(child<QLabel>(*d, "targetBytes")->text(), QStringLiteral("200 KB = 204800 バイト"));
        child<QCheckBox>(*d, "noEnlarge")->setChecked(false);
        child<QCheckBox>(*d, "safeMetadata")->setChecked(true);
        child<QCheckBox>(*d, "keepDate")->setChecked(true);
        child<QRadioButton>(*d, "besideEach")->click();
        type(*d, "suffix", QStringLiteral("_x"));
        run(*d);
        QVERIFY(row(*d, "a.png")->text(1).endsWith(QStringLiteral("（150×75）")));
        auto next = dialog({m_in + "/a.png"});
        QVERIFY(child<QRadioButton>(*next, "byEdge")->isChecked());
        QCOMPARE(child<QLineEdit>(*next, "edge")->text(), QStringLiteral("150"));
        QVERIFY(child<QRadioButton>(*next, "byFactor")->isChecked());
        QCOMPARE(child<QLineEdit>(*next, "factor")->text(), QStringLiteral("50"));
        QCOMPARE(child<QLineEdit>(*next, "targetKb")->text(), QStringLiteral("200"));
        QVERIFY(!child<QCheckBox>(*next, "noEnlarge")->isChecked());
        QVERIFY(child<QCheckBox>(*next, "safeMetadata")->isChecked());
        QVERIFY(child<QCheckBox>(*next, "keepDate")->isChecked());
        QVERIFY(child<QRadioButton>(*next, "besideEach")->isChecked());
        QCOMPARE(child<QLineEdit>(*next, "suffix")->text(), QStringLiteral("_x"));
        QCOMPARE(m_messages, QStringList{});
    }

    // What the dialog's file may hold: anything else starts as a first use.
    void choicesFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("read");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("not JSON") << QByteArray("\"/tmp\",\"40\"\r\n") << false << "_resized";
        QTest::newRow("an array") << QByteArray("[1,2]") << false << "_resized";
        QTest::newRow("a member of another type") << QByteArray("{\"suffix\": 5, \"edge\": \"900\"}") << true << "_resized";
        QTest::newRow("a member") << QByteArray("{\"suffix\": \"_k\"}") << true << "_k";
        QTest::newRow("too large") << QByteArray("{\"suffix\": \"_k\"}" + QByteArray(70000, ' ')) << false << "_resized";
    }
    void choicesFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, read);
        QFETCH(QString, suffix);
        const std::optional<BatchChoices> c = parseChoices(bytes, BatchChoices{});
        QCOMPARE(c.has_value(), read);
        if (c)
            QCOMPARE(c->suffix, suffix);
    }

    // Upload-safe by default: a small picture keeps its size at a long
    // edge larger than it, unless enlarging is asked for.
    void noEnlargement_data()
    {
        QTest::addColumn<bool>("noEnlarge");
        QTest::addColumn<QString>("size");
        QTest::newRow("by default") << true << "（100×50）";
        QTest::newRow("enlarging asked for") << false << "（1600×800）";
    }
    void noEnlargement()
    {
        QFETCH(bool, noEnlarge);
        QFETCH(QString, size);
        QVERIFY(testPhoto(100, 50).save(m_in + "/small.png"));
        auto d = dialog({m_in + "/small.png"});
        child<QRadioButton>(*d, "byEdge")->click();
        child<QCheckBox>(*d, "noEnlarge")->setChecked(noEnlarge);
        run(*d);
        QVERIFY2(row(*d, "small.png")->text(1).endsWith(size), qPrintable(row(*d, "small.png")->text(1)));
    }

    // 中止: the bar stays at the files that ended; files never started say
    // so, and the end line counts them.
    void stopLeavesTheRest()
    {
        QStringList paths;
        for (int i = 0; i < 12; ++i) {
            paths << m_in + QStringLiteral("/p%1.png").arg(i, 2, 10, QLatin1Char('0'));
            QVERIFY(testPhoto(800, 600).save(paths.back()));
        }
        auto d = dialog(paths);
        click(*d, "start");
        click(*d, "cancel");
        QTRY_VERIFY_WITH_TIMEOUT(!d->isRunning() && !child<QLabel>(*d, "summary")->text().isEmpty(), 30000);
        int ended = 0, notStarted = 0;
        for (const QString &p : paths) {
            const QString result = row(*d, QFileInfo(p).fileName())->text(1);
            notStarted += result == QStringLiteral("【中止】始める前に中止しました。");
            ended += !result.startsWith(QStringLiteral("【中止】"));
        }
        QVERIFY2(notStarted >= 8, qPrintable(QString::number(notStarted)));
        QCOMPARE(child<QProgressBar>(*d, "progress")->value(), ended);
        const QString summary = child<QLabel>(*d, "summary")->text();
        QVERIFY2(summary.startsWith(text::kBatchStopped) && summary.endsWith(QStringLiteral("、中止で残した %1").arg(paths.size() - ended)),
                 qPrintable(summary));
    }
};

QTEST_MAIN(TestBatchDialog)
#include "tst_batchdialog.moc"
