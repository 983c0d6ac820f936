#include "app/filelabel.h"

#include "texts/texts.h"

#include <QApplication>
#include <QDrag>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

namespace tovalin {

QMimeData *fileMimeData(const QString &path)
{
    auto *mime = new QMimeData;
    const QUrl url = QUrl::fromLocalFile(path);
    mime->setUrls({url});
    mime->setData(QStringLiteral("x-special/gnome-copied-files"), "copy\n" + url.toEncoded());
    return mime;
}

void FileLabel::setFile(const QString &path)
{
    m_file = path;
    setCursor(path.isEmpty() ? Qt::ArrowCursor : Qt::OpenHandCursor);
    setToolTip(path.isEmpty() ? QString() : text::kDragResult.arg(path));
}

void FileLabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressedAt = event->position().toPoint();
    QLabel::mousePressEvent(event);
}

void FileLabel::mouseMoveEvent(QMouseEvent *event)
{
    const bool dragging = (event->buttons() & Qt::LeftButton)
                          && (event->position().toPoint() - m_pressedAt).manhattanLength() >= QApplication::startDragDistance();
    // A file removed since the run is not offered.
    if (!dragging || m_file.isEmpty() || !QFileInfo(m_file).isFile()) {
        QLabel::mouseMoveEvent(event);
        return;
    }
    auto *drag = new QDrag(this);
    drag->setMimeData(fileMimeData(m_file));
    drag->exec(Qt::CopyAction);
}

} // namespace tovalin
