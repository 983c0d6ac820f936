#pragma once
#include <QByteArray>
#include <QString>

namespace tovalin {

// Where our project's pages live, shown and linked on the preview page.
inline const QString kPublisherAddress = QStringLiteral("https://tovalin.app/");
inline const QString kPreviewFileName = QStringLiteral("Tovalin_w.htm");

// folder + "/Tovalin_w.htm", without doubling the separator at "/".
QString previewPagePath(const QString &folder);

// The page's eight lines, CR LF, in the locale's narrow encoding. The heading
// shows the output path HTML-escaped (& < > "), so a crafted file name cannot
// add markup; the picture's address is the path's file URL.
QByteArray previewPageBytes(const QString &outputPath);

} // namespace tovalin
