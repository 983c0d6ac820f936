#include "imaging/savefile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace tovalin {

SaveResult writeFileReplacing(const QString &path, const QByteArray &bytes)
{
    const QFileInfo target(path);
    if (target.fileName().isEmpty() || target.isDir())
        return {false, QStringLiteral("同じ名前のフォルダがあるか、ファイル名がありません。")};
    if (!target.dir().exists())
        return {false, QStringLiteral("保存先のフォルダがありません。")};

    QSaveFile file(path);
    // Keep the rename atomic even where the folder is not writable for a
    // temporary file: then fail rather than write the target in place.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return {false, QStringLiteral("保存先のフォルダに書き込めません（書き込み権限がありません）。")};
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return {false, QStringLiteral("書き込みに失敗しました（ディスクの空きが足りない可能性があります）。")};
    }
    if (!file.commit())
        return {false, QStringLiteral("書き込みを完了できませんでした（ディスクの空きが足りないか、ファイルを置き換えられません）。")};
    return {true, {}};
}

} // namespace tovalin
