#pragma once
#include <QLabel>
#include <QPoint>

class QMimeData;

namespace tovalin {

// A file as the file manager hands it over: its URL, and the GNOME copy
// list that file managers paste from.
QMimeData *fileMimeData(const QString &path);

// The result line, which also holds the file written: dragged, the file
// goes onto a browser's upload field or into a file manager.
class FileLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // The file the line reports, or empty when it reports none.
    void setFile(const QString &path);
    QString file() const { return m_file; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QString m_file;
    QPoint m_pressedAt;
};

} // namespace tovalin
