#include "app/imageviewer.h"

#include "texts/texts.h"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>

namespace tovalin {

namespace {

const QColor kViewerBackground(255, 255, 128);
// Large enough for the viewer on any screen scale, small enough to rescale
// on the window's thread when the viewer changes size.
constexpr int kPreviewSide = 2048;

QStringList localFiles(const QMimeData *mime)
{
    QStringList files;
    if (mime && mime->hasUrls())
        for (const QUrl &url : mime->urls())
            if (url.isLocalFile())
                files << url.toLocalFile();
    return files;
}

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
    setAccessibleName(text::kViewer);
    connect(&m_loader, &QFutureWatcher<Loaded>::finished, this, &ImageViewer::onLoaded);
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

void ImageViewer::paste(PasteMode mode)
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

void ImageViewer::loadFile(const QString &path)
{
    if (path.isEmpty() || isLoading())
        return;
    start(path, {}, {}, Reporting);
}

ImageViewer::Loaded ImageViewer::load(const QString &path, const QByteArray &bytes, const QImage &pasted)
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
        l.preview = image.width() <= kPreviewSide && image.height() <= kPreviewSide
                        ? image
                        : image.scaled(kPreviewSide, kPreviewSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return l;
}

void ImageViewer::start(const QString &path, const QByteArray &bytes, const QImage &pasted, PasteMode mode)
{
    m_loading = true;
    m_quiet = mode == Quietly;
    m_loadingPath = path;
    emit loadingChanged(true);
    m_loader.setFuture(QtConcurrent::run(&ImageViewer::load, path, bytes, pasted));
}

void ImageViewer::onLoaded()
{
    const Loaded loaded = m_loader.result();
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
    m_fitted = QPixmap();
    update();
    if (!m_loadingPath.isEmpty())
        emit fileDropped(m_loadingPath);
    emit imageChanged();
}

void ImageViewer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), kViewerBackground);
    if (!m_holder.hasImage())
        return;
    // Scale the picture once per picture, size or screen scale, not on
    // every paint. A picture that fits is shown a pixel to a point; a larger
    // one is fitted at the screen's own resolution, so it stays sharp at 2x.
    const qreal ratio = devicePixelRatioF();
    const QSize device = (QSizeF(size()) * ratio).toSize();
    if (m_fitted.isNull() || m_fittedFor != device) {
        const QImage &image = m_preview;
        if (image.width() <= width() && image.height() <= height()) {
            m_fitted = QPixmap::fromImage(image);
        } else {
            m_fitted = QPixmap::fromImage(image.scaled(device, Qt::KeepAspectRatio, Qt::SmoothTransformation));
            m_fitted.setDevicePixelRatio(ratio);
        }
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
    const QStringList files = localFiles(event->mimeData());
    if (files.isEmpty() || isLoading())
        return;
    event->acceptProposedAction();
    // Several pictures, or a folder, make a batch; one picture is loaded.
    if (files.size() > 1 || QFileInfo(files.front()).isDir())
        emit batchDropped(files);
    else
        loadFile(files.front());
}

} // namespace tovalin
