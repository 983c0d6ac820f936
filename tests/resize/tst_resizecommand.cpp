#include "fakewindow.h"

#include "common/formstate.h"
#include "imaging/decode.h"
#include "imaging/image.h"
#include "resize/messages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace tovalin;
using Field = ResizeWindow::Field;

class TestResizeCommand : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;
    QString m_out;   // destination folder
    QString m_app;   // program folder, for the work files
    ImageHolder m_viewer;
    ImageHolder m_work;
    FormState m_state;
    FakeWindow m_window;

    QString target() const { return m_out + "/cat.jpg"; }

    void run() { runResizeCommand(m_window, m_viewer, m_work, m_state); }

private slots:
    void initTestCase()
    {
        const DecodeResult photo = decodeImageFile(QStringLiteral(TOVALIN_PHOTO_DIR "/Garden.jpg"));
        QVERIFY2(photo.error.isEmpty(), "photograph missing: install the package list");
        m_viewer.setImage(photo.image);
    }

    void init()
    {
        QDir root(m_root.path());
        root.removeRecursively();
        root.mkpath("out");
        root.mkpath("app");
        m_out = root.filePath("out");
        m_app = root.filePath("app");
        m_state = FormState{};
        m_state.appFolder = m_app;
        m_work.assignFrom(m_viewer);
        m_window = FakeWindow{};
        m_window.fields = {{Field::Folder, m_out}, {Field::OutputName, "cat.jpg"}, {Field::Width, "800"},
                           {Field::Height, "500"}, {Field::Factor, "30"}, {Field::TargetSize, "40"}};
    }

    void cleanup() { QCOMPARE(m_window.busyDepth, 0); }

    void noImage()
    {
        m_work.clear();
        run();
        QCOMPARE(m_window.messages, QStringList{text::kNoImage});
        QVERIFY(m_window.wasBusy);
        QVERIFY(!m_window.previewEnabled);
        QVERIFY(m_state.outputPath.isEmpty());
        QVERIFY(!QFile::exists(target()));
    }

    void factorMode()
    {
        m_window.factorLabel = QStringLiteral("Qファクタは、77でした。");
        run();
        QVERIFY(m_window.messages.isEmpty());
        QVERIFY(m_window.previewEnabled);
        QCOMPARE(m_state.outputPath, target());
        const qint64 size = QFileInfo(target()).size();
        QCOMPARE(m_window.resultLabel, text::resultText(size));
        QCOMPARE(m_window.factorLabel, QString());
        QCOMPARE(QImage(target()).size(), QSize(800, 500));
        QVERIFY(m_window.questions.isEmpty());
    }

    void resultText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("900") << qint64(900) << QStringLiteral("1kb 900Byteにリサイズしました。");
        QTest::newRow("2048") << qint64(2048) << QStringLiteral("3kb 2048Byteにリサイズしました。");
        QTest::newRow("1023") << qint64(1023) << QStringLiteral("1kb 1023Byteにリサイズしました。");
    }
    void resultText()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(text::resultText(bytes), text);
        QCOMPARE(text::factorText(96), QStringLiteral("Qファクタは、96でした。"));
    }

    // Bad fields: a message, and nothing written or changed.
    void badInput_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("factorMode");
        QTest::addColumn<QString>("message");
        const int w = int(Field::Width), h = int(Field::Height), q = int(Field::Factor), t = int(Field::TargetSize);
        QTest::newRow("width not a number") << w << "abc" << true << text::kBadWidth;
        QTest::newRow("width empty") << w << "" << true << text::kBadWidth;
        QTest::newRow("width zero") << w << "0" << true << text::kBadWidth;
        QTest::newRow("width fraction") << w << "320.5" << true << text::kBadWidth;
        QTest::newRow("width negative") << w << "-5" << true << text::kBadWidth;
        QTest::newRow("width too large") << w << "65536" << true << text::kBadWidth;
        QTest::newRow("height not a number") << h << "x1" << true << text::kBadHeight;
        QTest::newRow("height beyond 16 bits") << h << "100000" << true << text::kBadHeight;
        QTest::newRow("factor 1") << q << "1" << true << text::kBadFactor;
        QTest::newRow("factor 256") << q << "256" << true << text::kBadFactor;
        QTest::newRow("factor 1.4 rounds to 1") << q << "1.4" << true << text::kBadFactor;
        QTest::newRow("factor text") << q << "high" << true << text::kBadFactor;
        QTest::newRow("target zero") << t << "0" << false << text::kBadTarget;
        QTest::newRow("target negative") << t << "-1" << false << text::kBadTarget;
        QTest::newRow("target text") << t << "40KB" << false << text::kBadTarget;
        QTest::newRow("target too large") << t << "9999999" << false << text::kBadTarget;
    }
    void badInput()
    {
        QFETCH(int, field);
        QFETCH(QString, value);
        QFETCH(bool, factorMode);
        QFETCH(QString, message);
        m_window.fields[Field(field)] = value;
        m_window.factorMode = factorMode;
        run();
        QCOMPARE(m_window.messages, QStringList{message});
        QVERIFY(!m_window.previewEnabled);
        QCOMPARE(m_window.resultLabel, QStringLiteral("(unset)"));
        QVERIFY(QDir(m_out).isEmpty());
    }

    void tooLargeForMemory()
    {
        m_window.fields[Field::Width] = "65535";
        m_window.fields[Field::Height] = "65535";
        run();
        QCOMPARE(m_window.messages, QStringList{text::kTooLarge.arg(65535).arg(65535)});
        QVERIFY(QDir(m_out).isEmpty());
    }

    // Factor 2.5 rounds half to even: 2, a valid factor.
    void factorRoundsHalfToEven()
    {
        m_window.fields[Field::Factor] = "2.5";
        run();
        QVERIFY(m_window.messages.isEmpty());
        QVERIFY(QFile::exists(target()));
    }

    void overwriteQuestion_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("answer");
        QTest::newRow("refused") << "cat.jpg" << false;
        QTest::newRow("accepted") << "cat.jpg" << true;
        QTest::newRow("hidden file refused") << ".cat.jpg" << false;
        QTest::newRow("hidden file accepted") << ".cat.jpg" << true;
    }
    void overwriteQuestion()
    {
        QFETCH(QString, name);
        QFETCH(bool, answer);
        const QString path = m_out + "/" + name;
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("precious");
        old.close();
        m_window.fields[Field::OutputName] = name;
        m_window.answer = answer;
        run();
        QCOMPARE(m_window.questions, QStringList{text::kOverwrite});
        QVERIFY(m_window.previewEnabled);
        QCOMPARE(m_state.outputPath, path);
        QFile now(path);
        QVERIFY(now.open(QIODevice::ReadOnly));
        QCOMPARE(now.readAll() == "precious", !answer);
        QCOMPARE(m_window.resultLabel == QStringLiteral("(unset)"), !answer);
    }

    void failingSaveIsReported()
    {
        m_window.fields[Field::Folder] = m_out + "/gone";
        run();
        QCOMPARE(m_window.messages.size(), 1);
        QVERIFY(m_window.messages[0].contains(m_out + "/gone/cat.jpg"));
        QCOMPARE(m_window.resultLabel, QStringLiteral("(unset)"));
    }

    void outputNameIsAFolder()
    {
        QDir(m_out).mkdir("cat.jpg");
        m_window.answer = true;
        run();
        QCOMPARE(m_window.messages.size(), 1);
        QVERIFY(m_window.messages[0].startsWith(QStringLiteral("ファイル「")));
        QVERIFY(QFileInfo(target()).isDir());
    }

    // Real encodes: the file lands just under the target and the work files
    // hold the encodings at the bounds of the last iteration.
    void sizeMode_data()
    {
        QTest::addColumn<QString>("kb");
        QTest::addColumn<QSize>("size");
        QTest::newRow("40 KB at 800x500") << "40" << QSize(800, 500);
        QTest::newRow("100 KB at 1280x800") << "100" << QSize(1280, 800);
        QTest::newRow("12.5 KB at 400x250") << "12.5" << QSize(400, 250);
    }
    void sizeMode()
    {
        QFETCH(QString, kb);
        QFETCH(QSize, size);
        m_window.factorMode = false;
        m_window.fields[Field::TargetSize] = kb;
        m_window.fields[Field::Width] = QString::number(size.width());
        m_window.fields[Field::Height] = QString::number(size.height());
        run();
        QVERIFY(m_window.messages.isEmpty());
        const qint64 t = qRound64(kb.toDouble() * 1024);
        const qint64 written = QFileInfo(target()).size();
        QVERIFY2(written < t && written > t * 95 / 100, qPrintable(QString::number(written)));
        QCOMPARE(m_window.resultLabel, text::resultText(written));
        QVERIFY(m_window.factorLabel.startsWith(QStringLiteral("Qファクタは、")));
        const qint64 minSize = QFileInfo(m_app + "/work_min.jpg").size();
        const qint64 maxSize = QFileInfo(m_app + "/work_max.jpg").size();
        QVERIFY(minSize > 0 && maxSize > 0);
        QVERIFY(minSize >= written && written >= maxSize);
        QCOMPARE(QImage(target()).size(), size);
    }

    void sizeModeFitsAtFactorTwo()
    {
        m_window.factorMode = false;
        m_window.fields[Field::TargetSize] = "5000";
        m_window.fields[Field::Width] = "100";
        m_window.fields[Field::Height] = "60";
        run();
        QVERIFY(m_window.messages.isEmpty());
        QCOMPARE(m_window.factorLabel, QStringLiteral("Qファクタは、2でした。"));
    }

    void sizeModeUnreachable()
    {
        m_window.factorMode = false;
        m_window.fields[Field::TargetSize] = "1";
        run();
        QCOMPARE(m_window.factorLabel, QStringLiteral("Qファクタは、255でした。"));
        const qint64 written = QFileInfo(target()).size();
        QVERIFY(written > 1024);
        QCOMPARE(m_window.resultLabel, text::resultText(written));
        QCOMPARE(m_window.messages, QStringList{text::kUnreachable.arg(1024).arg(written)});
    }

    // The viewer's image is never changed by a run.
    void viewerUntouched()
    {
        const QImage before = m_viewer.image();
        run();
        QCOMPARE(m_viewer.image().size(), before.size());
        QCOMPARE(m_work.image().size(), QSize(800, 500));
    }
};

QTEST_GUILESS_MAIN(TestResizeCommand)
#include "tst_resizecommand.moc"
