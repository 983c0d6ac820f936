#pragma once
#include <QString>

namespace tovalin::text {

inline const QString kNoImage = QStringLiteral("画像がドロップされていません。画像をドロップして表示させて下さい。");
inline const QString kOverwrite = QStringLiteral("同じファイル名のファイルが存在します。上書きしていいですか？");
inline const QString kBadWidth = QStringLiteral("横のピクセル数には、1から65535までの整数を入力して下さい。");
inline const QString kBadHeight = QStringLiteral("縦のピクセル数には、1から65535までの整数を入力して下さい。");
inline const QString kBadFactor = QStringLiteral("Qファクタには、2から255までの数値を入力して下さい。");
inline const QString kBadTarget = QStringLiteral("ファイル容量には、0より大きいKb単位の数値を入力して下さい。");
inline const QString kTooLarge = QStringLiteral("%1×%2ピクセルの画像はメモリに収まりません。横と縦を小さくして下さい。");
inline const QString kSaveFailed = QStringLiteral("ファイル「%1」を保存できませんでした。\n%2");
inline const QString kUnreachable = QStringLiteral(
    "最も強い圧縮でも、指定したファイル容量（%1Byte）以下にできませんでした。\n保存したファイルは%2Byteです。");

// "<figure>kb <bytes>Byteにリサイズしました。"
QString resultText(qint64 bytes);
// "Qファクタは、<factor>でした。"
QString factorText(int factor);

} // namespace tovalin::text
