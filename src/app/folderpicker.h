#pragma once
#include <QComboBox>
#include <QListWidget>

namespace tovalin {

// The volume selector: mounted volumes that hold ordinary files, "/" first.
class DriveSelector : public QComboBox {
    Q_OBJECT
public:
    explicit DriveSelector(QWidget *parent = nullptr);
    QString drive() const { return currentData().toString(); }
    // The volume holding `path` becomes the current one.
    void selectVolumeOf(const QString &path);
    static QStringList volumes();
};

// A classic folder list: the path from "/" down to the open folder, then the
// open folder's subfolders; double-click or Enter opens one.
class FolderList : public QListWidget {
    Q_OBJECT
public:
    explicit FolderList(QWidget *parent = nullptr);
    QString path() const { return m_path; }
    bool setPath(const QString &path);

signals:
    void pathChanged(const QString &path);

private:
    void open(QListWidgetItem *item);
    QString m_path;
};

} // namespace tovalin
