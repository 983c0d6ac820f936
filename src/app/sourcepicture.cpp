#include "app/sourcepicture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

namespace tovalin {

namespace {

QString firstLocalFile(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return {};
    for (const QUrl &url : mime->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}

// The clipboard's picture as the owner sent it (PNG, JPEG, ...), so our own
// decoder, limits and messages apply; null when it offers none.
QByteArray encodedPicture(const QMimeData *mime)
{
    for (const QString &format : mime->formats()) {
        if (!format.startsWith(QLatin1String("image/")))
            continue;
        const QByteArray bytes = mime->data(format);
        if (!bytes.isEmpty())
            return bytes;
    }
    return {};
}

} // namespace

SourcePicture::SourcePicture(QObject *parent)
    : QObject(parent), m_loader(this, [this](const Loaded &loaded) { onLoaded(loaded); })
{
}

bool SourcePicture::canPaste() const
{
    const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
    return mime && (mime->hasImage() || !firstLocalFile(mime).isEmpty());
}

void SourcePicture::paste(PasteMode mode)
{
    const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
    if (!mime || isLoading())
        return;
    if (!mime->hasImage()) {
        const QString path = firstLocalFile(mime);
        if (!path.isEmpty())
            start(path, {}, {}, mode);
        return;
    }
    // The clipboard is read here; the decoding happens off the window's thread.
    const QByteArray bytes = encodedPicture(mime);
    start({}, bytes, bytes.isEmpty() ? qvariant_cast<QImage>(mime->imageData()) : QImage(), mode);
}

void SourcePicture::loadFile(const QString &path)
{
    if (path.isEmpty() || isLoading())
        return;
    start(path, {}, {}, Reporting);
}

SourcePicture::Loaded SourcePicture::load(const QString &path, const QByteArray &bytes, const QImage &pasted)
{
    Loaded l;
    if (!path.isEmpty()) {
        l.decoded = decodeImageFile(path);
    } else if (!bytes.isEmpty()) {
        l.decoded = decodeImageData(bytes);
    } else {
        l.decoded.image = normalizeForOutput(pasted);
        if (l.decoded.image.isNull())
            l.decoded.error = DecodeError::OutOfMemory;
    }
    const QImage &image = l.decoded.image;
    if (!image.isNull())
        l.preview = fittedInside(image, QSize(kPreviewSide, kPreviewSide));
    return l;
}

void SourcePicture::start(const QString &path, const QByteArray &bytes, const QImage &pasted, PasteMode mode)
{
    m_loading = true;
    m_quiet = mode == Quietly;
    m_loadingPath = path;
    emit loadingChanged(true);
    m_loader.start([path, bytes, pasted] { return load(path, bytes, pasted); });
}

void SourcePicture::onLoaded(const Loaded &loaded)
{
    const DecodeResult &decoded = loaded.decoded;
    m_loading = false;
    emit loadingChanged(false);
    if (decoded.error != DecodeError::None) {
        if (m_quiet)
            return;
        if (m_loadingPath.isEmpty())
            emit pasteFailed(decoded.error, decoded.size);
        else
            emit loadFailed(m_loadingPath, decoded.error, decoded.size);
        return;
    }
    m_holder.setImage(decoded.image);
    m_preview = loaded.preview;
    if (!m_loadingPath.isEmpty())
        emit fileLoaded(m_loadingPath);
    emit imageChanged();
}

} // namespace tovalin
