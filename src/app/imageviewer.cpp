#include "app/imageviewer.h"

#include "imaging/decode.h"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>

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

} // namespace

ImageViewer::ImageViewer(QWidget *parent) : QWidget(parent)
{
    setAccessibleName(QStringLiteral("画像"));
}

void ImageViewer::setDropOptions(bool on)
{
    setAcceptDrops(on);
}

bool ImageViewer::canPaste() const
{
    const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
    return mime && mime->hasImage();
}

void ImageViewer::paste()
{
    QImage image = normalizeForOutput(qvariant_cast<QImage>(QGuiApplication::clipboard()->mimeData()->imageData()));
    if (image.isNull())
        return;
    m_holder.setImage(image);
    m_fitted = QPixmap();
    update();
    emit imageChanged();
}

void ImageViewer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), kViewerBackground);
    if (!m_holder.hasImage())
        return;
    // Scale a large photograph down once per image or size, not on every paint.
    if (m_fitted.isNull() || m_fittedFor != size()) {
        const QImage &image = m_holder.image();
        const bool fits = image.width() <= width() && image.height() <= height();
        m_fitted = QPixmap::fromImage(fits ? image : image.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        m_fittedFor = size();
    }
    painter.drawPixmap(0, 0, m_fitted);
}

void ImageViewer::dragEnterEvent(QDragEnterEvent *event)
{
    if (!firstLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void ImageViewer::dragMoveEvent(QDragMoveEvent *event)
{
    if (!firstLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void ImageViewer::dropEvent(QDropEvent *event)
{
    const QString path = firstLocalFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    loadFile(path);
}

void ImageViewer::loadFile(const QString &path)
{
    const DecodeResult decoded = decodeImageFile(path);
    if (!decoded.error.isEmpty()) {
        emit loadFailed(path, decoded.error);
        return;
    }
    m_holder.setImage(decoded.image);
    m_fitted = QPixmap();
    update();
    emit fileDropped(path);
    emit imageChanged();
}

} // namespace tovalin
