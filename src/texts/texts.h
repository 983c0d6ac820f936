#pragma once
#include "batch/batchjob.h"
#include "batch/collect.h"
#include "common/savefile.h"
#include "imaging/decode/decode.h"
#include "resize/jobfields.h"
#include "resize/resizejob.h"

#include <QMap>
#include <QString>
#include <QStringList>

// Every text the user sees, in one place.
namespace tovalin::text {

inline const QString kTitle = QStringLiteral("Tovalin");
inline const QString kNoImage = QStringLiteral("画像がドロップされていません。画像をドロップして表示させて下さい。");
inline const QString kOverwrite = QStringLiteral("同じファイル名のファイルが存在します。上書きしていいですか？");
inline const QString kReplaceSource = QStringLiteral(
    "出力ファイル「%1」は、読み込んだ元の画像そのものです。\n元の画像を変換後の画像で置き換えますか？");
inline const QString kOpenTitle = QStringLiteral("画像を開く");
inline const QString kPictureFilter = QStringLiteral("画像ファイル (%1)");
inline const QStringList kPictureExtensions = {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("jpe"),
                                               QStringLiteral("heic"), QStringLiteral("heif"), QStringLiteral("avif"),
                                               QStringLiteral("png"), QStringLiteral("webp"), QStringLiteral("tif"),
                                               QStringLiteral("tiff"), QStringLiteral("gif"), QStringLiteral("bmp")};
inline const QString kNoConversion = QStringLiteral("変換が行われていません。");
inline const QString kNoOutputName = QStringLiteral("出力ファイル名を入力して下さい。");
inline const QString kOutputIsFolder = QStringLiteral("「%1」はフォルダです。別の出力ファイル名を入力して下さい。");
inline const QString kUnreachable = QStringLiteral(
    "最も強い圧縮でも、指定したファイル容量（%1Byte）以下にできませんでした。\n保存したファイルは%2Byteです。");
inline const QString kSaveFailed = QStringLiteral("ファイル「%1」を保存できませんでした。\n%2");
inline const QString kSettingsSaveFailed = QStringLiteral("設定ファイル「%1」を保存できませんでした。\n%2");
inline const QString kPageSaveFailed = QStringLiteral("確認用のページ「%1」を保存できませんでした。\n%2");
inline const QString kBrowserFailed = QStringLiteral("ブラウザを開けませんでした。次のページを開いて下さい。\n%1");
inline const QString kLoadFailed = QStringLiteral("「%1」を読み込めませんでした。\n%2");
inline const QString kPasteFailed = QStringLiteral("クリップボードの画像を貼り付けられませんでした。\n%1");
inline const QString kWorking = QStringLiteral("変換中…");
inline const QString kTrying = QStringLiteral("変換中…（%1回目の試行）");
inline const QString kRunStopped = QStringLiteral("変換を中止しました。");
// Beside the result when the file written is over the size target.
inline const QString kOverTargetBy = QStringLiteral("（指定容量を%1Byte超えています）");

// The batch dialog.
inline const QString kBatchTitle = QStringLiteral("Tovalin - まとめて変換");
inline const QString kBatchFile = QStringLiteral("ファイル");
inline const QString kBatchResult = QStringLiteral("結果");
inline const QString kBatchByPercent = QStringLiteral("割合（%）で指定");
inline const QString kBatchByEdge = QStringLiteral("長い辺（ピクセル）で指定");
inline const QString kBatchShrink = QStringLiteral("容量に収まらないときは、収まる大きさに縮小する");
inline const QString kBatchNoEnlarge = QStringLiteral("元より大きくしない");
inline const QString kBatchSafeMetadata = QStringLiteral("撮影日時とカメラの情報は残し、撮影場所などは消す");
inline const QString kBatchKeepDate = QStringLiteral("ファイルの日付を元の画像と同じにする");
inline const QString kBatchDestination = QStringLiteral("格納先");
inline const QString kBatchToFolder = QStringLiteral("このフォルダ：");
inline const QString kBatchBrowse = QStringLiteral("参照...");
inline const QString kBatchChooseFolder = QStringLiteral("格納先のフォルダを選ぶ");
inline const QString kBatchBesideEach = QStringLiteral("元の画像と同じフォルダ。名前の後ろに付ける文字：");
inline const QString kBatchMirrored = QStringLiteral("サブフォルダの中の画像は、格納先に同じ名前のサブフォルダを作って格納します。");
inline const QString kBatchProblemsOnly = QStringLiteral("問題のある行だけ表示");
inline const QString kBatchStart = QStringLiteral("開始");
inline const QString kBatchCancel = QStringLiteral("中止");
inline const QString kBatchOpenFolder = QStringLiteral("フォルダを開く");
inline const QString kBatchClose = QStringLiteral("閉じる");
inline const QString kBatchBadPercent = QStringLiteral("割合には、1から10000までの整数を入力して下さい。");
inline const QString kBatchBadEdge = QStringLiteral("長い辺には、1から65500までの整数を入力して下さい。");
inline const QString kBatchNoFolder = QStringLiteral("格納先のフォルダを入力して下さい。");
inline const QString kBatchRelativeFolder = QStringLiteral("格納先には、/ で始まるフォルダを入力して下さい。");
inline const QString kBatchNotAFolder = QStringLiteral("格納先「%1」はフォルダではありません。");
inline const QString kBatchMakeFolder = QStringLiteral("格納先のフォルダ「%1」はありません。作りますか？");
inline const QString kBatchMakeFolderFailed = QStringLiteral("格納先のフォルダ「%1」を作れませんでした。");
inline const QString kBatchNoSuffix = QStringLiteral("元の画像を上書きしないよう、名前の後ろに付ける文字を入力して下さい。");
inline const QString kBatchBadSuffix = QStringLiteral("名前の後ろに付ける文字には、/ を使えません。");
inline const QString kBatchChoicesSaveFailed = QStringLiteral("まとめて変換の設定を「%1」に保存できませんでした。%2");
inline const QString kBatchReplaceAll = QStringLiteral(
    "格納先に、同じ名前のファイルが%1個あります。すべて置き換えますか？\n（いいえ：それらはとばします）");
inline const QString kBatchWritten = QStringLiteral("%1kb、Qファクタ %2（%3×%4）");
inline const QString kBatchOverTarget = QStringLiteral("%1kb（%2Byte、指定容量を%3Byte超えています）、Qファクタ %4（%5×%6）");
// The words that mark a row that needs a look, before its result.
inline const QString kMarkOverTarget = QStringLiteral("容量超過");
inline const QString kMarkFailed = QStringLiteral("失敗");
inline const QString kMarkSkipped = QStringLiteral("とばした");
inline const QString kMarkStopped = QStringLiteral("中止");
inline const QString kBatchStopped = QStringLiteral("中止しました。");
// "200 KB = 204800 バイト": what a KB target means, where it is typed.
QString kilobytesInBytes(const QString &typed);

// After a size-mode run that missed the target, or met it only with a
// factor past the quality floor.
inline const QString kShrinkOffer = QStringLiteral(
    "指定したファイル容量に、画質を保って（Qファクタ%1以下で）収めるには、大きさを%2×%3ピクセルにする必要があります。\n"
    "この大きさで変換し直しますか？");
// Before the smaller-size question: why it is asked.
inline const QString kMissedBy = QStringLiteral("保存したファイルは、指定したファイル容量（%1Byte）を%2Byte超えています。\n");
inline const QString kMetPastFloor = QStringLiteral("指定したファイル容量に収めるのに、Qファクタ%1が必要でした。\n");
inline const QString kShrinkNone = QStringLiteral(
    "どの大きさでも、Qファクタ%1以下では指定したファイル容量（%2Byte）に収まりません。");
inline const QString kSearchingSize = QStringLiteral("収まる大きさを探しています…（%1回目）");

// Captions and names of the window's controls, in screen order.
inline const QString kSizeFrame = QStringLiteral("画像のサイズ");
inline const QString kByPixels = QStringLiteral("ピクセルで指定");
inline const QString kWidth = QStringLiteral("横");
inline const QString kHeight = QStringLiteral("縦");
inline const QString kFileSizeFrame = QStringLiteral("ファイル容量");
inline const QString kByFactor = QStringLiteral("Qファクタで指定（2-255）");
inline const QString kFactor = QStringLiteral("ファクタ");
inline const QString kBySize = QStringLiteral("ファイル容量（KB)で指定");
inline const QString kFolderFrame = QStringLiteral("変換後格納先フォルダ");
inline const QString kDefaultOutputName = QStringLiteral("出力ファイル名.jpg");
inline const QString kOutputName = QStringLiteral("出力ファイル名");
inline const QString kDrive = QStringLiteral("ドライブ");
inline const QString kDropPanel = QStringLiteral("青いところに画像をドロップして下さい。");
inline const QString kDropHere = QStringLiteral("黄色のところに画像をドロップして下さい。");
inline const QString kViewer = QStringLiteral("画像");
inline const QString kPreviewButton = QStringLiteral("ブラウザで確認");
inline const QString kRunButton = QStringLiteral("リサイズ実行");
inline const QString kPasteButton = QStringLiteral("貼り付け");
inline const QString kExitButton = QStringLiteral("終了");
inline const QString kResultLine = QStringLiteral("変換結果");
inline const QString kDragResult = QStringLiteral("%1\nここをドラッグすると、保存したファイルをブラウザやファイルマネージャに渡せます（Ctrl+C でコピー）。");
inline const QString kFactorLine = QStringLiteral("Qファクタ結果");
inline const QString kSourceLine = QStringLiteral("元画像情報");
inline const QString kOk = QStringLiteral("OK");
inline const QString kYes = QStringLiteral("はい");
inline const QString kNo = QStringLiteral("いいえ");

// Texts of the command line, in Japanese under a Japanese locale and in
// English otherwise.
struct Bilingual {
    QString japanese;
    QString english;
    QString in(bool japaneseLocale) const { return japaneseLocale ? japanese : english; }
};
bool prefersJapanese();
inline const Bilingual kOptionHelp{QStringLiteral("この説明を表示して終了します。"), QStringLiteral("Show this help and exit.")};
inline const Bilingual kOptionVersion{QStringLiteral("版を表示して終了します。"), QStringLiteral("Show the version and exit.")};
inline const Bilingual kTryHelp{QStringLiteral("使い方は --help で表示できます。\n"), QStringLiteral("Try --help for the usage.\n")};
QString windowHelp(bool japanese);

// The command-line program's texts.
QString cliHelp(bool japanese);
inline const Bilingual kNoInputs{QStringLiteral("画像ファイルかフォルダを指定して下さい。"), QStringLiteral("Name a picture file or a folder.")};
inline const Bilingual kBadOptionValue{QStringLiteral("%1 の値「%2」が正しくありません。"), QStringLiteral("%1: invalid value \"%2\".")};
inline const Bilingual kOneSizeOption{QStringLiteral("--size、--scale、--long-edge、--fit はどれか一つだけ指定できます。"),
                                      QStringLiteral("Give at most one of --size, --scale, --long-edge and --fit.")};
inline const Bilingual kFactorOrKb{QStringLiteral("--factor と --kb は同時に指定できません。"), QStringLiteral("Give --factor or --kb, not both.")};
inline const Bilingual kStdoutOneInput{QStringLiteral("-o - は画像一つだけに使えます。"), QStringLiteral("-o - takes exactly one picture.")};
inline const Bilingual kJsonWithStdout{QStringLiteral("--json と -o - は同時に指定できません。"), QStringLiteral("--json cannot go with -o -.")};
inline const Bilingual kOneStdin{QStringLiteral("標準入力（-）は一度だけ指定できます。"), QStringLiteral("Standard input (-) can be named once.")};
inline const Bilingual kShrinkNeedsKb{QStringLiteral("--shrink-to-fit は --kb と一緒に指定して下さい。"), QStringLiteral("--shrink-to-fit goes with --kb.")};
inline const Bilingual kInPlaceNeedsBeside{QStringLiteral("--in-place は -o と同時に指定できません。"), QStringLiteral("--in-place cannot go with -o.")};
inline const Bilingual kInterrupted{QStringLiteral("中断しました。"), QStringLiteral("Interrupted.")};
inline const Bilingual kEmptyOutput{QStringLiteral("-o には保存先のフォルダ（標準出力なら -）を指定して下さい。"),
                                   QStringLiteral("-o needs a folder (or - for standard output).")};
inline const Bilingual kSuffixWithSlash{QStringLiteral("--suffix に / は使えません。"), QStringLiteral("--suffix cannot contain /.")};
inline const Bilingual kStdinNeedsOutput{QStringLiteral("標準入力（-）を読むときは、-o -（標準出力）か -o フォルダ を指定して下さい。"),
                                         QStringLiteral("Reading standard input (-) needs -o - (standard output) or -o DIR.")};
inline const Bilingual kJobsLowered{QStringLiteral("メモリに収まるよう、同時に処理する数を%1にします。"),
                                    QStringLiteral("Running %1 files at once, to stay within memory.")};
inline const Bilingual kOutputUnwritable{QStringLiteral("出力を書き込めません。"), QStringLiteral("The output cannot be written.")};
// "<input> → <output>（<w>×<h>、<bytes>バイト、Qファクタ <factor>）", marked when over the target
QString writtenLine(const QString &input, const QString &output, int width, int height, qint64 bytes, int factor, bool overTarget,
                    bool japanese);
QString skippedLine(const QString &input, const QString &output, bool japanese);
QString failedLine(const QString &input, const QString &reason);
// Why an entry of a walked folder was not processed.
QString passedReason(Passed why, bool japanese);
struct BatchCounts {
    int written = 0;
    int skipped = 0;
    int failed = 0;
    int overTarget = 0;
    int notDone = 0;          // left by a stop: not started, or abandoned while made
    QMap<Passed, int> passed; // entries not processed, by reason
};
QString summaryLine(const BatchCounts &counts, bool japanese);
// The batch dialog's end line: "保存 60（うち容量超過 1）、とばした 1、失敗 1",
// and what a stop left.
QString batchCounts(const BatchCounts &counts);
// Why a batch's file was skipped or failed; only the command line's texts
// name its options.
QString batchProblem(const BatchOutcome &outcome, const QString &output, bool japanese = true, bool commandLine = false);

// "Tovalin(格納先：<folder>)"
QString titleWithFolder(const QString &folder);
// "<figure>kb <bytes>Byteにリサイズしました。"
QString resultText(qint64 bytes);
// "Qファクタは、<factor>でした。"
QString factorText(int factor);

// The reasons below are Japanese unless `japanese` is false (the command
// line under another locale).
QString decodeProblem(DecodeError error, QSize size, bool japanese = true);
QString saveProblem(SaveError error, bool japanese = true);
QString fieldProblem(const JobFields &fields);
QString jobProblem(const ResizeResult &result, bool japanese = true);

} // namespace tovalin::text
