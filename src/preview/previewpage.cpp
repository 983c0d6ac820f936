#include "preview/previewpage.h"

#include <QStringList>
#include <QUrl>

namespace tovalin {

QString previewPagePath(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + kPreviewFileName : folder + QLatin1Char('/') + kPreviewFileName;
}

QByteArray previewPageBytes(const QString &outputPath)
{
    const QString p = outputPath.toHtmlEscaped();
    // The picture's address is the path as it is, which a browser resolves
    // against the page's own file address. Only a name holding #, ? or %,
    // which an address would read as a fragment, a query or an escape,
    // needs the file URL.
    const bool needsUrl = outputPath.contains(QLatin1Char('#')) || outputPath.contains(QLatin1Char('?'))
                          || outputPath.contains(QLatin1Char('%'));
    const QString src = needsUrl ? QString::fromLatin1(QUrl::fromLocalFile(outputPath).toEncoded()).toHtmlEscaped() : p;
    const QString w = kPublisherAddress;
    const QStringList lines{
        QStringLiteral("<HTML>"),
        QStringLiteral("<HEAD><TITLE>Tovalin</TITLE></HEAD>"),
        QStringLiteral("<BODY>"),
        QStringLiteral("<H2>") + p + QStringLiteral("</H2><HR>"),
        QStringLiteral("<img src=\"") + src + QStringLiteral("\"ALIGN=LEFT ><BR>"),
        QStringLiteral("Tovalinは、バイキュービック法で補間処理を行っています。<BR>画像を拡大した場合にはっきりと違いがわかります。<BR CLEAR=ALL><HR><BR>"),
        QStringLiteral("最新バージョンは<A HREF=\"") + w + QStringLiteral("\">") + w + QStringLiteral("</A>で掲載しています。"),
        QStringLiteral("</BODY></HTML>"),
    };
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLocal8Bit() + "\r\n";
    return bytes;
}

} // namespace tovalin
