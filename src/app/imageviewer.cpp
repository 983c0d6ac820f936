#include "app/imageviewer.h"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>

namespace tovalin {

namespace {

const QColor kViewerBackground(255, 255, 128);

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

ImageViewer::ImageViewer(QWidget *parent) : QWidget(parent)
{
    setAccessibleName(QStringLiteral("画像"));
    connect(&m_loader, &QFutureWatcher<DecodeResult>::finished, this, &ImageViewer::onLoaded);
}

void ImageViewer::setDropOptions(bool on)
{
    setAcceptDrops(on);
}

bool ImageViewer::canPaste() const
{
    const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
    return mime && (mime->hasImage() || !firstLocalFile(mime).isEmpty());
}

void ImageViewer::paste()
{
    const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
    if (!mime)
        return;
    if (!mime->hasImage()) {
        loadFile(firstLocalFile(mime));
        return;
    }
    const QByteArray bytes = encodedPicture(mime);
    DecodeResult decoded;
    if (!bytes.isEmpty()) {
        decoded = decodeImageData(bytes);
    } else {
        decoded.image = normalizeForOutput(qvariant_cast<QImage>(mime->imageData()));
        if (decoded.image.isNull())
            decoded.error = DecodeError::OutOfMemory;
    }
    if (decoded.error != DecodeError::None) {
        emit pasteFailed(decoded.error, decoded.size);
        return;
    }
    show(decoded.image);
    emit imageChanged();
}

void ImageViewer::loadFile(const QString &path)
{
    if (path.isEmpty() || isLoading())
        return;
    m_loadingPath = path;
    emit loadingChanged(true);
    m_loader.setFuture(QtConcurrent::run(decodeImageFile, path));
}

void ImageViewer::onLoaded()
{
    const DecodeResult decoded = m_loader.result();
    emit loadingChanged(false);
    if (decoded.error != DecodeError::None) {
        emit loadFailed(m_loadingPath, decoded.error, decoded.size);
        return;
    }
    show(decoded.image);
    emit fileDropped(m_loadingPath);
    emit imageChanged();
}

void ImageViewer::show(const QImage &image)
{
    m_holder.setImage(image);
    m_fitted = QPixmap();
    update();
}

void ImageViewer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), kViewerBackground);
    if (!m_holder.hasImage())
        return;
    // Scale a large photograph down once per image, size or screen scale,
    // not on every paint; drawn at the screen's own resolution.
    const qreal ratio = devicePixelRatioF();
    const QSize device = (QSizeF(size()) * ratio).toSize();
    if (m_fitted.isNull() || m_fittedFor != device) {
        const QImage &image = m_holder.image();
        const bool fits = image.width() <= device.width() && image.height() <= device.height();
        m_fitted = QPixmap::fromImage(fits ? image : image.scaled(device, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        m_fitted.setDevicePixelRatio(ratio);
        m_fittedFor = device;
    }
    painter.drawPixmap(0, 0, m_fitted);
}

void ImageViewer::dragEnterEvent(QDragEnterEvent *event)
{
    if (!isLoading() && !firstLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void ImageViewer::dragMoveEvent(QDragMoveEvent *event)
{
    if (!isLoading() && !firstLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void ImageViewer::dropEvent(QDropEvent *event)
{
    const QString path = firstLocalFile(event->mimeData());
    if (path.isEmpty() || isLoading())
        return;
    event->acceptProposedAction();
    loadFile(path);
}

} // namespace tovalin
