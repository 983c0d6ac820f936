#include "texts/texts.h"

#include "common/memorypolicy.h"
#include "common/numbers.h"

#include <QLocale>

namespace tovalin::text {

bool prefersJapanese()
{
    return QLocale::system().language() == QLocale::Japanese;
}

QString windowHelp(bool japanese)
{
    if (japanese)
        return QStringLiteral("使い方: tovalin [ファイル...]\n"
                              "画像をJPEGに縮小・拡大するウィンドウを開きます。ファイルを一つ指定すると、\n"
                              "ドロップしたときと同じように読み込みます。いくつも指定すると、まとめて変換します。\n\n"
                              "  -h, --help     この説明を表示して終了します。\n"
                              "  -v, --version  版を表示して終了します。\n");
    return QStringLiteral("Usage: tovalin [FILE...]\n"
                          "Opens the window that resizes a picture into a JPEG. One FILE given is\n"
                          "loaded as if it had been dropped onto the window; several make a batch.\n\n"
                          "  -h, --help     Show this help and exit.\n"
                          "  -v, --version  Show the version and exit.\n");
}

QString cliHelp(bool japanese)
{
    if (japanese)
        return QStringLiteral(
            "使い方: tovalin-cli [オプション] ファイル|フォルダ...\n"
            "画像をバイキュービック法で縮小・拡大し、JPEGで保存します。- は標準入力です。\n\n"
            "大きさ（既定は元の大きさ）:\n"
            "  --size 横x縦        その大きさちょうどに\n"
            "  --scale P           P%に（ウィンドウと同じ計算）\n"
            "  --long-edge N       長い辺をNピクセルに（縦横比を保つ）\n"
            "  --fit 横x縦         その中に収まる大きさに（縦横比を保つ）\n"
            "  --no-enlarge        元より大きくしない\n"
            "圧縮:\n"
            "  --factor Q          Qファクタ（2〜255、既定 30）\n"
            "  --kb N              ファイル容量（KB）を指定して、Qファクタを探す\n"
            "                      1 KB = 1024 バイト（200 KB = 204800 バイト）\n"
            "  --shrink-to-fit[=Q] 容量に収まらないか、QファクタがQを超えるときは、\n"
            "                      収まる最大の大きさに縮小する\n"
            "出力:\n"
            "  -o, --output DIR    保存先のフォルダ（- は標準出力）。既定は各画像の隣\n"
            "  -r, --recursive     フォルダの中のフォルダもたどる\n"
            "  --suffix S          出力ファイル名の .jpg の前に S を付ける\n"
            "  --overwrite         既存の出力ファイルを置き換える（既定はとばす）\n"
            "  --in-place          元の画像ファイルを、それ自身の出力で置き換える\n"
            "  --keep-date         出力に元の画像の更新日時を付ける\n"
            "  --metadata none|safe  safe: 撮影日時・カメラ・露出を残し、位置情報などは除く\n"
            "  --baseline          プログレッシブでない（ベースラインの）JPEGを書く（古い機器向け）\n"
            "  --encoder libjpeg   libjpeg と同じバイトを書く（既定は tovalin）\n"
            "その他:\n"
            "  -j, --jobs N        同時に処理する数（既定はコア数）\n"
            "  -q, --quiet         失敗だけを表示する\n"
            "  --json              一つのファイルごとに一行のJSONを出力する\n"
            "  -h, --help          この説明を表示して終了します。\n"
            "  -v, --version       版を表示して終了します。\n\n"
            "終了コード（複数あるときは左のものを返す）:\n"
            "  2 使い方の誤り、128+シグナル番号 中断、1 失敗あり、\n"
            "  3 失敗はないが指定容量を超えたファイルあり、0 すべて成功\n");
    return QStringLiteral(
        "Usage: tovalin-cli [options] FILE|FOLDER...\n"
        "Resizes pictures bicubically and saves them as JPEG. - is standard input.\n\n"
        "Size (default: the picture's own):\n"
        "  --size WxH          exactly that size\n"
        "  --scale P           P percent, as the window computes it\n"
        "  --long-edge N       the longer side N pixels, aspect ratio kept\n"
        "  --fit WxH           within WxH, aspect ratio kept\n"
        "  --no-enlarge        never larger than the picture\n"
        "Compression:\n"
        "  --factor Q          quality factor, 2 (finest) to 255 (default 30)\n"
        "  --kb N              a target file size in KB; the factor is searched\n"
        "                      1 KB = 1024 bytes (200 KB = 204800 bytes)\n"
        "  --shrink-to-fit[=Q] where the target is missed, or met only past factor Q,\n"
        "                      the largest smaller size that meets it\n"
        "Output:\n"
        "  -o, --output DIR    destination folder (- for standard output);\n"
        "                      default: beside each picture\n"
        "  -r, --recursive     walk the folders' subfolders too\n"
        "  --suffix S          put S before the output name's .jpg\n"
        "  --overwrite         replace existing outputs (default: skip them)\n"
        "  --in-place          replace each input file by its own output\n"
        "  --keep-date         give the output the input's modification time\n"
        "  --metadata none|safe  safe keeps date taken, camera and exposure, drops place\n"
        "  --baseline          write baseline (not progressive) JPEG, for old systems\n"
        "  --encoder libjpeg   write exactly libjpeg's bytes (default: tovalin)\n"
        "Other:\n"
        "  -j, --jobs N        files at once (default: the number of cores)\n"
        "  -q, --quiet         report failures only\n"
        "  --json              one JSON object per file on standard output\n"
        "  -h, --help          show this help and exit\n"
        "  -v, --version       show the version and exit\n\n"
        "Exit status (the first that applies, in this order):\n"
        "  2 usage error, 128+signal interrupted, 1 some file failed,\n"
        "  3 none failed but some file is over its --kb target, 0 all written\n");
}

QString writtenLine(const QString &input, const QString &output, int width, int height, qint64 bytes, int factor, bool overTarget,
                    bool japanese)
{
    if (japanese)
        return QStringLiteral("%1 → %2（%3×%4、%5バイト、Qファクタ %6）").arg(input, output).arg(width).arg(height).arg(bytes).arg(factor)
               + (overTarget ? QStringLiteral("　指定容量を超えています") : QString());
    return QStringLiteral("%1 -> %2 (%3x%4, %5 bytes, factor %6)").arg(input, output).arg(width).arg(height).arg(bytes).arg(factor)
           + (overTarget ? QStringLiteral(" OVER TARGET") : QString());
}

QString skippedLine(const QString &input, const QString &output, bool japanese)
{
    return japanese ? QStringLiteral("%1: 出力「%2」がすでにあるため、とばしました。").arg(input, output)
                    : QStringLiteral("%1: skipped, %2 exists").arg(input, output);
}

QString failedLine(const QString &input, const QString &reason)
{
    return QStringLiteral("%1: %2").arg(input, reason);
}

QString passedReason(Passed why, bool japanese)
{
    const auto t = [japanese](const char16_t *ja, const char *en) { return japanese ? QString::fromUtf16(ja) : QString::fromLatin1(en); };
    switch (why) {
    case Passed::Hidden: return t(u"隠しファイルです。", "A hidden entry.");
    case Passed::Temporary: return t(u"中断された保存の一時ファイルです。", "A temporary file of an interrupted save.");
    case Passed::OwnOutput: return t(u"この変換の出力ファイルの名前です。", "A name this run's outputs take.");
    case Passed::NotPicture: return t(u"画像ファイルではありません。", "Not a picture.");
    case Passed::SubfolderNotWalked: return t(u"サブフォルダです（-r でたどります）。", "A subfolder (use -r).");
    case Passed::FolderLink: return t(u"フォルダへのリンクはたどりません。", "A link to a folder is not followed.");
    case Passed::OutputFolder: return t(u"格納先のフォルダはたどりません。", "The output folder is not walked.");
    case Passed::Duplicate: return t(u"同じファイルをすでに取り上げています。", "The same file is already taken.");
    case Passed::Unreadable: return t(u"読み取れません。", "Cannot be read.");
    }
    return {};
}

QString batchCounts(const BatchCounts &c)
{
    QString line = QStringLiteral("保存 %1").arg(c.written);
    if (c.overTarget > 0)
        line += QStringLiteral("（うち容量超過 %1）").arg(c.overTarget);
    line += QStringLiteral("、とばした %1、失敗 %2").arg(c.skipped).arg(c.failed);
    if (c.notDone > 0)
        line += QStringLiteral("、中止で残した %1").arg(c.notDone);
    return line;
}

QString kilobytesInBytes(const QString &typed)
{
    const TargetReading t = targetFromText(typed);
    if (t.problem != FieldProblem::None)
        return QStringLiteral("1 KB = 1024 バイト");
    return QStringLiteral("%1 KB = %2 バイト").arg(typed.trimmed()).arg(t.bytes);
}

QString summaryLine(const BatchCounts &c, bool japanese)
{
    QString line = japanese ? QStringLiteral("保存 %1、とばした %2、失敗 %3").arg(c.written).arg(c.skipped).arg(c.failed)
                            : QStringLiteral("%1 written, %2 skipped, %3 failed").arg(c.written).arg(c.skipped).arg(c.failed);
    if (c.overTarget > 0)
        line += japanese ? QStringLiteral("、指定容量超え %1").arg(c.overTarget) : QStringLiteral(", %1 over target").arg(c.overTarget);
    struct Words {
        Passed why;
        const char16_t *japanese;
        const char *english;
    };
    static constexpr Words kWords[] = {
        {Passed::Unreadable, u"読み取れない %1", "%1 unreadable"},
        {Passed::Hidden, u"隠しファイル %1", "%1 hidden"},
        {Passed::Temporary, u"一時ファイル %1", "%1 temporary files"},
        {Passed::OwnOutput, u"出力ファイルの名前 %1", "%1 outputs of a run"},
        {Passed::NotPicture, u"画像でない %1", "%1 not pictures"},
        {Passed::SubfolderNotWalked, u"たどらないサブフォルダ %1（-r でたどります）", "%1 subfolders not walked: use -r"},
        {Passed::FolderLink, u"フォルダへのリンク %1", "%1 links to folders"},
        {Passed::OutputFolder, u"格納先のフォルダ %1", "%1 output folder"},
        {Passed::Duplicate, u"重複 %1", "%1 duplicates"},
    };
    QStringList reasons;
    for (const Words &w : kWords)
        if (const int n = c.passed.value(w.why))
            reasons << (japanese ? QString::fromUtf16(w.japanese) : QString::fromLatin1(w.english)).arg(n);
    if (!reasons.isEmpty())
        line += (japanese ? QStringLiteral("（") : QStringLiteral(" (")) + reasons.join(japanese ? QStringLiteral("、") : QStringLiteral(", "))
                + (japanese ? QStringLiteral("）") : QStringLiteral(")"));
    return line;
}

QString batchProblem(const BatchOutcome &o, const QString &output, bool japanese, bool commandLine)
{
    const auto t = [japanese](const QString &ja, const QString &en) { return japanese ? ja : en; };
    switch (o.problem) {
    case BatchProblem::None: return {};
    case BatchProblem::OutputExists:
        return t(QStringLiteral("出力「%1」がすでにあります。").arg(output), QStringLiteral("%1 exists.").arg(output));
    case BatchProblem::OutputIsInput:
        if (!commandLine)
            return QStringLiteral("出力「%1」は、この変換の別の画像ファイルなので、置き換えません。").arg(output);
        return t(QStringLiteral("出力「%1」は、この実行の別の入力ファイルです（--suffix か -o で別の名前にして下さい）。").arg(output),
                 QStringLiteral("The output %1 is another input of this run (name it otherwise with --suffix or -o).").arg(output));
    case BatchProblem::OutputTaken:
        return t(QStringLiteral("出力「%1」には、この実行の先のファイルが保存されます。").arg(output),
                 QStringLiteral("An earlier file of this run writes %1.").arg(output));
    case BatchProblem::NoOutputFolder:
        return t(QStringLiteral("格納先のフォルダを作れません。"), QStringLiteral("The destination folder cannot be made."));
    case BatchProblem::LinkInOutput:
        return t(QStringLiteral("保存先の中のフォルダがリンクのため、保存しません。"),
                 QStringLiteral("A folder below the destination is a link; nothing is written through it."));
    case BatchProblem::Decode: return decodeProblem(o.decodeError, o.claimedSize, japanese);
    case BatchProblem::Job: return jobProblem(o.job, japanese);
    case BatchProblem::NoShrinkFits:
        return t(QStringLiteral("どの大きさでも、指定したファイル容量に収まりません。保存しませんでした。"),
                 QStringLiteral("No size meets the target; nothing was written."));
    case BatchProblem::Interrupted: return t(QStringLiteral("中断しました。"), QStringLiteral("Interrupted."));
    case BatchProblem::NotStarted: return t(QStringLiteral("始める前に中止しました。"), QStringLiteral("Not started."));
    }
    return {};
}

QString resultText(qint64 bytes)
{
    return decimalText(kilobyteFigure(bytes)) + QStringLiteral("kb ") + decimalText(bytes)
           + QStringLiteral("Byteにリサイズしました。");
}

QString titleWithFolder(const QString &folder)
{
    return kTitle + QStringLiteral("(格納先：") + folder + QStringLiteral(")");
}

QString factorText(int factor)
{
    return QStringLiteral("Qファクタは、") + decimalText(factor) + QStringLiteral("でした。");
}

QString decodeProblem(DecodeError error, QSize size, bool japanese)
{
    const auto t = [japanese](const char16_t *ja, const char *en) { return japanese ? QString::fromUtf16(ja) : QString::fromLatin1(en); };
    switch (error) {
    case DecodeError::None: return {};
    case DecodeError::NotFound: return t(u"ファイルが見つかりません。", "No such file.");
    case DecodeError::IsFolder: return t(u"フォルダは画像として読み込めません。", "A folder is not a picture.");
    case DecodeError::CannotOpen:
        return t(u"ファイルを開けません（読み取りの権限がないか、通常のファイルではありません）。",
                 "The file cannot be opened (no permission to read it, or not a regular file).");
    case DecodeError::UnknownFormat: return t(u"画像ファイルとして読み込めない形式です。", "Not a picture format Tovalin reads.");
    case DecodeError::Truncated: return t(u"画像ファイルが途中で切れています。", "The picture file is cut short.");
    case DecodeError::Damaged: return t(u"画像ファイルが壊れています。", "The picture file is damaged.");
    case DecodeError::NoPixels: return t(u"画像の幅か高さが0ピクセルです。", "The picture is 0 pixels wide or high.");
    case DecodeError::TooLarge:
        if (size.isEmpty()) // refused from the file's length
            return (japanese ? QStringLiteral("ファイルが大きすぎて読み込めません（%1MBまで）。")
                             : QStringLiteral("The file is too large to read (at most %1 MB)."))
                .arg(maxFileBytes() >> 20);
        return (japanese ? QStringLiteral("%1×%2ピクセルの画像は大きすぎて扱えません（%3メガピクセルまで）。")
                         : QStringLiteral("A picture of %1x%2 pixels is too large (at most %3 megapixels)."))
            .arg(size.width()).arg(size.height()).arg(maxPixels() / 1000000);
    case DecodeError::OutOfMemory: return t(u"画像が大きすぎて、メモリに収まりません。", "The picture does not fit in memory.");
    }
    return {};
}

QString saveProblem(SaveError error, bool japanese)
{
    const auto t = [japanese](const char16_t *ja, const char *en) { return japanese ? QString::fromUtf16(ja) : QString::fromLatin1(en); };
    switch (error) {
    case SaveError::None: return {};
    case SaveError::NoFileName: return t(u"ファイル名がありません。", "The file name is empty.");
    case SaveError::IsFolder: return t(u"同じ名前のフォルダがあります。", "A folder of that name is in the way.");
    case SaveError::NoFolder: return t(u"保存先のフォルダがありません。", "The destination folder does not exist.");
    case SaveError::NameTooLong: return t(u"ファイル名が長すぎます。", "The file name is too long.");
    case SaveError::FolderNotWritable:
        return t(u"保存先のフォルダに書き込めません（書き込み権限がありません）。", "No permission to write in the destination folder.");
    case SaveError::FileReadOnly:
        return t(u"既存のファイルが読み取り専用のため、置き換えられません。", "The existing file is read-only and cannot be replaced.");
    case SaveError::LinkNotReplaceable:
        return t(u"同じ名前の、他のユーザーのシンボリックリンクがあるため、置き換えられません。",
                 "Another user's symbolic link of that name is in the way.");
    case SaveError::DiskFull: return t(u"ディスクの空きが足りません。", "The disk is full.");
    case SaveError::WriteFailed: return t(u"書き込みに失敗しました。", "Writing failed.");
    case SaveError::Exists: return t(u"同じ名前のファイルがあります。", "A file of that name is there.");
    }
    return {};
}

QString fieldProblem(const JobFields &fields)
{
    const QString width = QStringLiteral("横のピクセル数には、1から65500までの整数を入力して下さい。");
    const QString height = QStringLiteral("縦のピクセル数には、1から65500までの整数を入力して下さい。");
    const QString factor = QStringLiteral("Qファクタには、2から255までの数値を入力して下さい。");
    const QString target = QStringLiteral("ファイル容量には、0より大きいKb単位の数値を入力して下さい。");
    auto forField = [&](FieldProblem where) {
        switch (where) {
        case FieldProblem::BadWidth: return width;
        case FieldProblem::BadHeight: return height;
        case FieldProblem::BadFactor: return factor;
        default: return target;
        }
    };
    switch (fields.problem) {
    case FieldProblem::None: return {};
    case FieldProblem::TooLarge:
        return QStringLiteral("出力の大きさがメモリの上限（%1メガピクセル）を超えています。横と縦を小さくして下さい。")
            .arg(maxPixels() / 1000000);
    case FieldProblem::TargetTooLarge:
        return QStringLiteral("ファイル容量は2097151Kbまでにして下さい。");
    case FieldProblem::FullWidthDigits:
        return forField(fields.where) + QStringLiteral("\n数字は半角で入力して下さい。");
    default: return forField(fields.problem);
    }
}

QString jobProblem(const ResizeResult &result, bool japanese)
{
    switch (result.failure) {
    case JobFailure::OutOfMemory:
        return japanese ? QStringLiteral("縮小・拡大した画像がメモリに収まりません。横と縦を小さくして下さい。")
                        : QStringLiteral("The resized picture does not fit in memory; choose a smaller size.");
    case JobFailure::EncodeFailed: return japanese ? QStringLiteral("JPEGの作成に失敗しました。") : QStringLiteral("The JPEG could not be made.");
    case JobFailure::SaveFailed: return saveProblem(result.saveError, japanese);
    case JobFailure::Cancelled: return japanese ? QStringLiteral("中断しました。") : QStringLiteral("Stopped.");
    case JobFailure::NoSizeFits:
        return japanese ? QStringLiteral("どの大きさでも、指定したファイル容量に収まりません。") : QStringLiteral("No size meets the target.");
    default: return {};
    }
}

} // namespace tovalin::text
