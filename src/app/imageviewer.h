#pragma once
#include "imaging/decode/decode.h"
#include "imaging/image.h"

#include <QFutureWatcher>
#include <QPixmap>
#include <QWidget>

namespace tovalin {

// The viewer: a light-yellow area showing its image fitted inside, a drop
// target for image files, and the holder of the source image. Files are
// decoded off the window's thread, so a large photo never freezes it.
class ImageViewer : public QWidget {
    Q_OBJECT
public:
    explicit ImageViewer(QWidget *parent = nullptr);
    ~ImageViewer() override { m_loader.waitForFinished(); }

    const ImageHolder &holder() const { return m_holder; }
    void setDropOptions(bool on);
    bool isLoading() const { return m_loading; }
    // Whether the clipboard holds a picture or a local file's location.
    bool canPaste() const;
    // Replaces the image by the clipboard's picture (raises imageChanged), or
    // loads the copied file as if it had been dropped. Quietly: a clipboard
    // that turns out to hold no picture Tovalin reads raises nothing.
    enum PasteMode { Reporting, Quietly };
    void paste(PasteMode mode = Reporting);
    // Loads a file as a drop does: fileDropped, then imageChanged.
    void loadFile(const QString &path);

signals:
    void fileDropped(const QString &path);
    void batchDropped(const QStringList &paths); // several files, or a folder
    void imageChanged();
    void loadFailed(const QString &path, tovalin::DecodeError error, QSize size);
    void pasteFailed(tovalin::DecodeError error, QSize size);
    void loadingChanged(bool loading);

protected:
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // A picture read off the window's thread, with a smaller copy for the
    // screen, so neither decoding nor scaling a large photo stalls painting.
    struct Loaded {
        DecodeResult decoded;
        QImage preview;
    };
    static Loaded load(const QString &path, const QByteArray &bytes, const QImage &pasted);

    void start(const QString &path, const QByteArray &bytes, const QImage &pasted, PasteMode mode);
    void onLoaded();

    ImageHolder m_holder;
    QImage m_preview; // the picture, at most kPreviewSide on its longer side
    QFutureWatcher<Loaded> m_loader;
    bool m_loading = false;
    bool m_quiet = false;  // the load under way reports no failure
    QString m_loadingPath; // empty for a paste
    QPixmap m_fitted;      // the picture as shown, for the viewer's current size and scale
    QSize m_fittedFor;
};

} // namespace tovalin
