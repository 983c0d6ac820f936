#pragma once
#include "app/sourcepicture.h"

#include <QPixmap>
#include <QWidget>

namespace tovalin {

// The viewer: a light-yellow area showing the source picture fitted inside,
// and a drop target for picture files and folders.
class ImageViewer : public QWidget {
    Q_OBJECT
public:
    ImageViewer(const SourcePicture *source, QWidget *parent = nullptr);

    void setDropOptions(bool on);
    // The picture changed: drawn anew on the next paint.
    void pictureChanged();

signals:
    void pictureDropped(const QString &path);
    void batchDropped(const QStringList &paths); // several files, or a folder

protected:
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    const SourcePicture *m_source;
    QPixmap m_fitted; // the picture as shown, for the viewer's current size and scale
    QSize m_fittedFor;
};

} // namespace tovalin
