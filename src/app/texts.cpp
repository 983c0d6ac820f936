#include "app/texts.h"

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
        return QStringLiteral("使い方: tovalin [ファイル]\n"
                              "画像をJPEGに縮小・拡大するウィンドウを開きます。ファイルを指定すると、\n"
                              "ドロップしたときと同じように読み込みます。\n\n"
                              "  -h, --help     この説明を表示して終了します。\n"
                              "  -v, --version  版を表示して終了します。\n");
    return QStringLiteral("Usage: tovalin [FILE]\n"
                          "Opens the window that resizes a picture into a JPEG. A FILE given is\n"
                          "loaded as if it had been dropped onto the window.\n\n"
                          "  -h, --help     Show this help and exit.\n"
                          "  -v, --version  Show the version and exit.\n");
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

QString decodeProblem(DecodeError error, QSize size)
{
    switch (error) {
    case DecodeError::None: return {};
    case DecodeError::NotFound: return QStringLiteral("ファイルが見つかりません。");
    case DecodeError::IsFolder: return QStringLiteral("フォルダは画像として読み込めません。");
    case DecodeError::CannotOpen: return QStringLiteral("ファイルを開けません（読み取りの権限がないか、通常のファイルではありません）。");
    case DecodeError::UnknownFormat: return QStringLiteral("画像ファイルとして読み込めない形式です。");
    case DecodeError::Truncated: return QStringLiteral("画像ファイルが途中で切れています。");
    case DecodeError::Damaged: return QStringLiteral("画像ファイルが壊れています。");
    case DecodeError::NoPixels: return QStringLiteral("画像の幅か高さが0ピクセルです。");
    case DecodeError::TooLarge:
        return QStringLiteral("%1×%2ピクセルの画像は大きすぎて扱えません（%3メガピクセルまで）。")
            .arg(size.width()).arg(size.height()).arg(maxPixels() / 1000000);
    case DecodeError::OutOfMemory: return QStringLiteral("画像が大きすぎて、メモリに収まりません。");
    }
    return {};
}

QString saveProblem(SaveError error)
{
    switch (error) {
    case SaveError::None: return {};
    case SaveError::NoFileName: return QStringLiteral("ファイル名がありません。");
    case SaveError::IsFolder: return QStringLiteral("同じ名前のフォルダがあります。");
    case SaveError::NoFolder: return QStringLiteral("保存先のフォルダがありません。");
    case SaveError::NameTooLong: return QStringLiteral("ファイル名が長すぎます。");
    case SaveError::FolderNotWritable: return QStringLiteral("保存先のフォルダに書き込めません（書き込み権限がありません）。");
    case SaveError::FileReadOnly: return QStringLiteral("既存のファイルが読み取り専用のため、置き換えられません。");
    case SaveError::LinkNotReplaceable:
        return QStringLiteral("同じ名前の、他のユーザーのシンボリックリンクがあるため、置き換えられません。");
    case SaveError::DiskFull: return QStringLiteral("ディスクの空きが足りません。");
    case SaveError::WriteFailed: return QStringLiteral("書き込みに失敗しました。");
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

QString jobProblem(const ResizeResult &result)
{
    switch (result.failure) {
    case JobFailure::OutOfMemory: return QStringLiteral("縮小・拡大した画像がメモリに収まりません。横と縦を小さくして下さい。");
    case JobFailure::EncodeFailed: return QStringLiteral("JPEGの作成に失敗しました。");
    case JobFailure::SaveFailed: return saveProblem(result.saveError);
    default: return {};
    }
}

} // namespace tovalin::text
