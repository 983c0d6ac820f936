#include "imaging/image.h"
#include "imaging/jpeg/jpeg.h"
#include "imaging/jpeg/jpegtrials.h"
#include "resize/resizejob.h"
#include "resize/searchencodings.h"
#include "resize/sizesearch.h"
#include "../testfiles.h"
#include "../testphoto.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace tovalin;

Q_DECLARE_METATYPE(tovalin::FieldProblem)
Q_DECLARE_METATYPE(tovalin::JobFailure)
Q_DECLARE_METATYPE(tovalin::SaveError)
Q_DECLARE_METATYPE(tovalin::ShrinkMode)
Q_DECLARE_METATYPE(tovalin::Encoder)

namespace {

QImage resized(const QImage &source, int width, int height)
{
    ImageHolder h;
    h.setImage(source);
    h.resize(width, height);
    return h.image();
}

} // namespace

class TestResizeJob : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;
    QString m_out, m_work;
    const QImage m_source = testPhoto(1200, 750);

    ResizeRequest request(int width, int height) const
    {
        ResizeRequest r;
        r.source = m_source;
        r.settings.width = width;
        r.settings.height = height;
        r.outputPath = m_out + "/cat.jpg";
        r.workFolder = m_work;
        return r;
    }
    ResizeRequest sizeRequest(int width, int height, std::int32_t target) const
    {
        ResizeRequest r = request(width, height);
        r.settings.mode = JobMode::TargetSize;
        r.settings.targetBytes = target;
        return r;
    }

private slots:
    void init()
    {
        QDir root(m_root.path());
        root.removeRecursively();
        root.mkpath("out");
        root.mkpath("work");
        m_out = root.filePath("out");
        m_work = root.filePath("work");
        QLocale::setDefault(QLocale::c());
    }

    // The fields a run reads, checked before anything is written.
    void fields_data()
    {
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("height");
        QTest::addColumn<bool>("factorMode");
        QTest::addColumn<QString>("value"); // factor or target
        QTest::addColumn<FieldProblem>("problem");
        QTest::addColumn<int>("number"); // the factor or target read
        using P = FieldProblem;
        QTest::newRow("factor 30") << "800" << "600" << true << "30" << P::None << 30;
        QTest::newRow("factor 2.5 halves to even") << "800" << "600" << true << "2.5" << P::None << 2;
        QTest::newRow("factor 3.5 halves to even") << "800" << "600" << true << "3.5" << P::None << 4;
        QTest::newRow("factor 1.4 rounds to 1") << "800" << "600" << true << "1.4" << P::BadFactor << 0;
        QTest::newRow("factor 256") << "800" << "600" << true << "256" << P::BadFactor << 0;
        QTest::newRow("target 40") << "800" << "600" << false << "40" << P::None << 40960;
        QTest::newRow("target 0.5") << "800" << "600" << false << "0.5" << P::None << 512;
        QTest::newRow("target 0") << "800" << "600" << false << "0" << P::BadTarget << 0;
        QTest::newRow("target text") << "800" << "600" << false << "40KB" << P::BadTarget << 0;
        QTest::newRow("target 1e9 KB") << "800" << "600" << false << "1e9" << P::TargetTooLarge << 0;
        QTest::newRow("width empty") << "" << "600" << true << "30" << P::BadWidth << 0;
        QTest::newRow("width fraction") << "320.5" << "600" << true << "30" << P::BadWidth << 0;
        QTest::newRow("width 65501, beyond JPEG") << "65501" << "1" << true << "30" << P::BadWidth << 0;
        QTest::newRow("width 65500") << "65500" << "1" << true << "30" << P::None << 30;
        QTest::newRow("width beyond any integer (found by fuzzing)") << "8044444444444444444444441" << "1" << true << "30" << P::BadWidth << 0;
        QTest::newRow("20000x20000") << "20000" << "20000" << false << "40" << P::TooLarge << 0;
        QTest::newRow("height zero") << "800" << "0" << true << "30" << P::BadHeight << 0;
        QTest::newRow("full-width digits") << QStringLiteral("８００") << "600" << true << "30" << P::FullWidthDigits << 0;
        QTest::newRow("beyond the memory budget") << "65500" << "65500" << true << "30" << P::TooLarge << 0;
    }
    void fields()
    {
        QFETCH(QString, width);
        QFETCH(QString, height);
        QFETCH(bool, factorMode);
        QFETCH(QString, value);
        QFETCH(FieldProblem, problem);
        QFETCH(int, number);
        const JobFields f = readJobFields({width, height, factorMode ? JobMode::Factor : JobMode::TargetSize, value, value});
        QCOMPARE(f.problem, problem);
        if (problem == FieldProblem::None) {
            QCOMPARE(f.settings.width, width.toInt());
            QCOMPARE(f.settings.height, height.toInt());
            QCOMPARE(factorMode ? f.settings.factor : f.settings.targetBytes, number);
        }
    }

    // The file is the resized picture encoded at the factor asked for.
    void factorMode()
    {
        ResizeRequest r = request(800, 500);
        r.settings.mode = JobMode::Factor;
        r.settings.factor = 30;
        const ResizeResult result = runResizeJob(r);
        QCOMPARE(result.failure, JobFailure::None);
        QCOMPARE(result.factor, 30);
        const QByteArray written = fileContents(r.outputPath);
        QCOMPARE(written, encodeWithTrials(resized(m_source, 800, 500), 30, Encoder::Tovalin).bytes);
        QCOMPARE(result.bytesWritten, written.size());
        QVERIFY(QDir(m_work).isEmpty());
    }

    // The file lands just under the target, encoded at the factor reported;
    // the work files hold the encodings at the last iteration's bounds.
    // Each encoder's trials are the files it writes on its own.
    void sizeMode_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<Encoder>("encoder");
        for (const auto &[name, encoder] : {std::pair{"ours", Encoder::Tovalin}, std::pair{"ours, baseline", Encoder::TovalinBaseline},
                                            std::pair{"libjpeg", Encoder::Libjpeg}}) {
            QTest::addRow("40 KB at 800x500, %s", name) << 40960 << QSize(800, 500) << encoder;
            QTest::addRow("12.5 KB at 400x250, %s", name) << 12800 << QSize(400, 250) << encoder;
            QTest::addRow("100 KB at full size, %s", name) << 102400 << QSize(1200, 750) << encoder;
            QTest::addRow("enlarged to 1500x900, %s", name) << 150000 << QSize(1500, 900) << encoder;
        }
    }
    void sizeMode()
    {
        QFETCH(int, target);
        QFETCH(QSize, size);
        QFETCH(Encoder, encoder);
        ResizeRequest r = sizeRequest(size.width(), size.height(), target);
        r.settings.encoder = encoder;
        const ResizeResult result = runResizeJob(r);
        QCOMPARE(result.failure, JobFailure::None);
        const QImage picture = resized(m_source, size.width(), size.height());
        const auto encoded = [&](int factor) {
            return encoder == Encoder::Libjpeg ? encodeJpeg(picture, factor).bytes : encodeWithTrials(picture, factor, encoder).bytes;
        };
        const QByteArray written = fileContents(r.outputPath);
        QCOMPARE(written, encoded(result.factor));
        QCOMPARE(result.bytesWritten, written.size());
        // Under factor 30 our flatter tables' steps are small whole numbers,
        // so one factor step moves the size by up to 7 % there.
        const int least = encoder == Encoder::Libjpeg || result.factor >= 30 ? 95 : 92;
        QVERIFY2(written.size() < target && written.size() > target * least / 100,
                 qPrintable(QStringLiteral("%1 bytes at factor %2; %3 at %4").arg(written.size()).arg(result.factor)
                                .arg(encoded(result.factor - 1).size()).arg(result.factor - 1)));
        QVERIFY(!result.overTarget);
        QVERIFY(result.workFilesSaved);
        QCOMPARE(fileContents(m_work + "/work_min.jpg"), encoded(result.lastLo));
        QCOMPARE(fileContents(m_work + "/work_max.jpg"), encoded(result.lastHi));
        QVERIFY(result.lastLo < result.lastHi);
        QVERIFY(result.trials >= 1 && result.trials <= 9);
        // The same trials as a search that measures every trial's file,
        // though most of its sides follow from a few encodings.
        const SearchOutcome plain = searchFactor([&](int f) { return sideOf(encoded(f).size(), target); });
        QCOMPARE(result.factor, plain.finalFactor);
        QCOMPARE(result.lastLo, plain.lastLo);
        QCOMPARE(result.lastHi, plain.lastHi);
        QCOMPARE(result.trials, plain.iterations);
    }

    // Shrink to fit: the largest size meeting the target at or under the
    // floor, never a side under 16 pixels. Applied, a size that cannot be
    // found writes nothing; suggested, the file is kept and the lack said.
    void shrinkToFit_data()
    {
        QTest::addColumn<ShrinkMode>("mode");
        QTest::addColumn<int>("targetAt"); // the target: a 4:3 picture this wide encoded at the floor, plus 8 bytes
        QTest::addColumn<bool>("fits");
        QTest::newRow("applied, a size fits") << ShrinkMode::Apply << 120 << true;
        QTest::newRow("applied, only under 16 pixels") << ShrinkMode::Apply << 12 << false;
        QTest::newRow("suggested, a size fits") << ShrinkMode::Suggest << 120 << true;
        QTest::newRow("suggested, only under 16 pixels") << ShrinkMode::Suggest << 12 << false;
    }
    void shrinkToFit()
    {
        QFETCH(ShrinkMode, mode);
        QFETCH(int, targetAt);
        QFETCH(bool, fits);
        const QImage noisy = testPhoto(800, 600);
        const int target = int(encodeWithTrials(resized(noisy, targetAt, targetAt * 3 / 4), 100, Encoder::Tovalin).bytes.size()) + 8;
        ResizeRequest r = sizeRequest(800, 600, target);
        r.source = noisy;
        r.shrink = mode;
        r.shrinkFloor = 100;
        const ResizeResult result = runResizeJob(r);
        if (mode == ShrinkMode::Apply) {
            QCOMPARE(result.failure, fits ? JobFailure::None : JobFailure::NoSizeFits);
            QCOMPARE(QFile::exists(r.outputPath), fits);
            if (fits) {
                QVERIFY(result.width >= targetAt && result.width < 800 && result.height >= 16);
                QVERIFY(result.bytesWritten <= target && result.factor <= 100);
            }
        } else {
            QCOMPARE(result.failure, JobFailure::None);
            QCOMPARE(QSize(result.width, result.height), QSize(800, 600)); // saved as asked
            QCOMPARE(result.shrinkFailed, !fits);
            QCOMPARE(result.suggestedSize.isValid(), fits);
            if (fits)
                QVERIFY(result.suggestedSize.width() >= targetAt && result.suggestedSize.height() >= 16);
        }
    }

    void sizeModeEnds_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<int>("factor");
        QTest::addColumn<bool>("overTarget");
        QTest::newRow("fits at factor 2") << 5000000 << 2 << false;
        QTest::newRow("unreachable") << 300 << 255 << true;
    }
    void sizeModeEnds()
    {
        QFETCH(int, target);
        QFETCH(int, factor);
        QFETCH(bool, overTarget);
        const ResizeRequest r = sizeRequest(200, 125, target);
        const ResizeResult result = runResizeJob(r);
        QCOMPARE(result.failure, JobFailure::None);
        QCOMPARE(result.factor, factor);
        QCOMPARE(result.overTarget, overTarget);
        QCOMPARE(fileContents(r.outputPath), encodeWithTrials(resized(m_source, 200, 125), factor, Encoder::Tovalin).bytes);
    }

    // At its own size the picture is written as it is, as Pillow's resize
    // returns it, and a run never changes its source.
    void sameSizeIsThePicture()
    {
        const QImage before = m_source.copy();
        ResizeRequest r = request(1200, 750);
        r.settings.mode = JobMode::Factor;
        r.settings.factor = 60;
        QCOMPARE(runResizeJob(r).failure, JobFailure::None);
        QCOMPARE(fileContents(r.outputPath), encodeWithTrials(m_source, 60, Encoder::Tovalin).bytes);
        QCOMPARE(resized(m_source, 1200, 750), m_source);
        QCOMPARE(m_source, before);
    }

    // The user's file may be named like a work file in the work folder: it
    // then holds the result, not a bound's encoding.
    void outputNamedLikeAWorkFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("work_min.jpg") << "work_min.jpg";
        QTest::newRow("work_max.jpg") << "work_max.jpg";
        QTest::newRow("through a dot folder") << "./work_max.jpg";
    }
    void outputNamedLikeAWorkFile()
    {
        QFETCH(QString, name);
        ResizeRequest r = sizeRequest(400, 250, 12800);
        r.outputPath = m_work + "/" + name;
        const ResizeResult result = runResizeJob(r);
        QCOMPARE(result.failure, JobFailure::None);
        QCOMPARE(fileContents(r.outputPath), encodeWithTrials(resized(m_source, 400, 250), result.factor, Encoder::Tovalin).bytes);
    }

    void twoRunsGiveOneFile()
    {
        const ResizeRequest r = sizeRequest(640, 400, 30000);
        QCOMPARE(runResizeJob(r).failure, JobFailure::None);
        const QByteArray first = fileContents(r.outputPath);
        QCOMPARE(runResizeJob(r).failure, JobFailure::None);
        QCOMPARE(fileContents(r.outputPath), first);
    }

    // Work files are a convenience: a work folder that cannot take them
    // (here a file stands where the folder should be, which stops root too)
    // never stops the user's file.
    void unusableWorkFolder()
    {
        QFile blocker(m_work + "/blocked");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        ResizeRequest r = sizeRequest(400, 250, 12800);
        r.workFolder = m_work + "/blocked";
        const ResizeResult result = runResizeJob(r);
        QCOMPARE(result.failure, JobFailure::None);
        QVERIFY(!result.workFilesSaved);
        QVERIFY(result.bytesWritten > 0 && result.bytesWritten < 12800);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<JobFailure>("failure");
        QTest::addColumn<SaveError>("saveError");
        QTest::newRow("no such folder") << "gone/cat.jpg" << false << JobFailure::SaveFailed << SaveError::NoFolder;
        QTest::newRow("name is a folder") << "sub" << false << JobFailure::SaveFailed << SaveError::IsFolder;
        QTest::newRow("cancelled") << "cat.jpg" << true << JobFailure::Cancelled << SaveError::None;
    }
    void failures()
    {
        QFETCH(QString, output);
        QFETCH(bool, cancel);
        QFETCH(JobFailure, failure);
        QFETCH(SaveError, saveError);
        QDir(m_out).mkdir("sub");
        ResizeRequest r = sizeRequest(400, 250, 12800);
        r.outputPath = m_out + "/" + output;
        JobControl control;
        control.cancel = cancel;
        const ResizeResult result = runResizeJob(r, &control);
        QCOMPARE(result.failure, failure);
        QCOMPARE(result.saveError, saveError);
        QCOMPARE(QDir(m_out).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }

    // A few encodings near the target tell the sides of the factors the
    // search ends between and of those far off, each as the file's own.
    void pinnedBoundary_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("target");
        QTest::newRow("40 KB at 600x375") << QSize(600, 375) << 40960;
        QTest::newRow("10 KB at 600x375") << QSize(600, 375) << 10240;
        QTest::newRow("120 KB at 600x375") << QSize(600, 375) << 122880;
        QTest::newRow("fits at factor 2") << QSize(200, 125) << 204800;
        QTest::newRow("fits at no factor") << QSize(600, 375) << 2000;
    }
    void pinnedBoundary()
    {
        QFETCH(QSize, size);
        QFETCH(int, target);
        const QImage picture = resized(m_source, size.width(), size.height());
        const JpegTrials files(picture);
        std::vector<Side> plain(256);
        for (int f = kBestFactor; f <= kStrongestFactor; ++f)
            plain[std::size_t(f)] = sideOf(files.encode(f).size(), target);
        const int first = int(std::find_if(plain.begin() + kBestFactor, plain.end(), [](Side s) { return s != Side::Over; })
                              - plain.begin()); // 256: none fits

        const JpegTrials trials(picture);
        SearchEncodings encodings(trials, target);
        encodings.pinBoundary([] { return false; });
        for (const int f : {kBestFactor, first - 1, first, kStrongestFactor}) {
            if (f < kBestFactor || f > kStrongestFactor)
                continue;
            const std::optional<Side> known = encodings.known(f);
            QVERIFY2(known.has_value(), qPrintable(QStringLiteral("factor %1 unknown").arg(f)));
            const Side expected = plain[std::size_t(f)];
            // Under the window and inside it are told apart only where it matters.
            QVERIFY2(*known == expected || (*known == Side::Under && expected == Side::Window && f > first),
                     qPrintable(QStringLiteral("factor %1").arg(f)));
        }
        for (int f = kBestFactor; f <= kStrongestFactor; ++f)
            if (const std::optional<Side> known = encodings.known(f))
                QVERIFY2((*known == Side::Over) == (plain[std::size_t(f)] == Side::Over), qPrintable(QStringLiteral("factor %1").arg(f)));
    }

    void progressCountsTrials()
    {
        JobControl control;
        const ResizeResult result = runResizeJob(sizeRequest(400, 250, 12800), &control);
        QCOMPARE(result.failure, JobFailure::None);
        QCOMPARE(control.trials.load(), result.trials);
    }
};

QTEST_GUILESS_MAIN(TestResizeJob)
#include "tst_resizejob.moc"
