#include "app/imageviewer.h"

#include "texts/texts.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QPainter>

namespace tovalin {

namespace {

const QColor kViewerBackground(255, 255, 128);

QStringList localFiles(const QMimeData *mime)
{
    QStringList files;
    if (mime && mime->hasUrls())
        for (const QUrl &url : mime->urls())
            if (url.isLocalFile())
                files << url.toLocalFile();
    return files;
}

} // namespace

ImageViewer::ImageViewer(const SourcePicture *source, QWidget *parent) : QWidget(parent), m_source(source)
{
    setAccessibleName(text::kViewer);
}

void ImageViewer::setDropOptions(bool on)
{
    setAcceptDrops(on);
}

void ImageViewer::pictureChanged()
{
    m_fitted = QPixmap();
    update();
}

void ImageViewer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), kViewerBackground);
    const QImage &image = m_source->preview();
    if (image.isNull())
        return;
    // Scale the picture once per picture, size or screen scale, not on
    // every paint. A picture that fits is shown a pixel to a point; a larger
    // one is fitted at the screen's own resolution, so it stays sharp at 2x.
    const qreal ratio = devicePixelRatioF();
    const QSize device = (QSizeF(size()) * ratio).toSize();
    if (m_fitted.isNull() || m_fittedFor != device) {
        if (image.width() <= width() && image.height() <= height()) {
            m_fitted = QPixmap::fromImage(image);
        } else {
            m_fitted = QPixmap::fromImage(fittedInside(image, device));
            m_fitted.setDevicePixelRatio(ratio);
        }
        m_fittedFor = device;
    }
    painter.drawPixmap(0, 0, m_fitted);
}

void ImageViewer::dragEnterEvent(QDragEnterEvent *event)
{
    if (!m_source->isLoading() && !localFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void ImageViewer::dragMoveEvent(QDragMoveEvent *event)
{
    if (!m_source->isLoading() && !localFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void ImageViewer::dropEvent(QDropEvent *event)
{
    const QStringList files = localFiles(event->mimeData());
    if (files.isEmpty() || m_source->isLoading())
        return;
    event->acceptProposedAction();
    // Several pictures, or a folder, make a batch; one picture is loaded.
    if (files.size() > 1 || QFileInfo(files.front()).isDir())
        emit batchDropped(files);
    else
        emit pictureDropped(files.front());
}

} // namespace tovalin
