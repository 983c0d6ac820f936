#pragma once
#include "common/backgroundtask.h"
#include "imaging/decode/decode.h"
#include "imaging/image.h"

#include <QObject>

namespace tovalin {

// The source picture: loads a dropped, opened or pasted picture off the
// window's thread (a large photo never freezes it), holds it with a
// smaller copy for the screen, and announces what happened.
class SourcePicture : public QObject {
    Q_OBJECT
public:
    explicit SourcePicture(QObject *parent = nullptr);

    const ImageHolder &holder() const { return m_holder; }
    // The picture, at most kPreviewSide on its longer side.
    const QImage &preview() const { return m_preview; }
    bool isLoading() const { return m_loading; }
    // Whether the clipboard holds a picture or a local file's location.
    bool canPaste() const;
    // Replaces the picture by the clipboard's (raises imageChanged), or
    // loads the copied file as loadFile does. Quietly: a clipboard that
    // turns out to hold no picture Tovalin reads raises nothing.
    enum PasteMode { Reporting, Quietly };
    void paste(PasteMode mode = Reporting);
    // Loads a picture file: fileLoaded, then imageChanged; or loadFailed.
    void loadFile(const QString &path);

    static constexpr int kPreviewSide = 2048;

signals:
    void fileLoaded(const QString &path);
    void imageChanged();
    void loadFailed(const QString &path, tovalin::DecodeError error, QSize size);
    void pasteFailed(tovalin::DecodeError error, QSize size);
    void loadingChanged(bool loading);

private:
    // A picture read off the window's thread, with its smaller copy.
    struct Loaded {
        DecodeResult decoded;
        QImage preview;
    };
    static Loaded load(const QString &path, const QByteArray &bytes, const QImage &pasted);

    void start(const QString &path, const QByteArray &bytes, const QImage &pasted, PasteMode mode);
    void onLoaded(const Loaded &loaded);

    ImageHolder m_holder;
    QImage m_preview;
    bool m_loading = false;
    bool m_quiet = false;  // the load under way reports no failure
    QString m_loadingPath; // empty for a paste
    BackgroundTask<Loaded> m_loader; // last: waited for before the rest goes
};

} // namespace tovalin
