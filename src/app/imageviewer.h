#pragma once
#include "imaging/image.h"

#include <QPixmap>
#include <QWidget>

namespace tovalin {

// The viewer: a light-yellow area showing its image fitted inside, a drop
// target for image files, and the holder of the source image.
class ImageViewer : public QWidget {
    Q_OBJECT
public:
    explicit ImageViewer(QWidget *parent = nullptr);

    const ImageHolder &holder() const { return m_holder; }
    void setDropOptions(bool on);
    bool canPaste() const;
    // Replaces the image by the clipboard's; raises imageChanged.
    void paste();

signals:
    void fileDropped(const QString &path);
    void imageChanged();
    void loadFailed(const QString &path, const QString &reason);

protected:
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void loadFile(const QString &path);

    ImageHolder m_holder;
    QPixmap m_fitted; // the image as shown, for the viewer's current size
    QSize m_fittedFor;
};

} // namespace tovalin
