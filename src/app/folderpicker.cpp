#include "app/folderpicker.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace tovalin {

DriveSelector::DriveSelector(QWidget *parent) : QComboBox(parent)
{
    for (const QString &root : volumes())
        addItem(root, root);
}

QStringList DriveSelector::volumes()
{
    QStringList roots{QStringLiteral("/")};
    for (const QStorageInfo &v : QStorageInfo::mountedVolumes()) {
        const QString root = v.rootPath();
        if (!v.isValid() || !v.isReady() || roots.contains(root))
            continue;
        bool system = false;
        for (const char *prefix : {"/proc", "/sys", "/dev", "/run"})
            system = system || root == QLatin1String(prefix) || root.startsWith(QLatin1String(prefix) + QLatin1Char('/'));
        if (!system)
            roots << root;
    }
    return roots;
}

void DriveSelector::selectVolumeOf(const QString &path)
{
    int best = 0;
    for (int i = 1; i < count(); ++i) {
        const QString root = itemData(i).toString();
        if ((path == root || path.startsWith(root + QLatin1Char('/'))) && root.size() > itemData(best).toString().size())
            best = i;
    }
    setCurrentIndex(best);
}

FolderList::FolderList(QWidget *parent) : QListWidget(parent)
{
    connect(this, &QListWidget::itemActivated, this, &FolderList::open);
}

bool FolderList::setPath(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isDir())
        return false;
    m_path = QDir::cleanPath(info.absoluteFilePath());
    clear();
    // The chain from the root down, then the subfolders, indented by depth.
    QStringList chain;
    for (QDir d(m_path);; ) {
        chain.prepend(d.absolutePath());
        if (d.isRoot() || !d.cdUp())
            break;
    }
    int depth = 0;
    for (const QString &p : chain) {
        const QString name = p == QLatin1String("/") ? p : QFileInfo(p).fileName();
        auto *item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(Qt::UserRole, p);
        ++depth;
    }
    setCurrentRow(count() - 1);
    const QStringList subfolders = QDir(m_path).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString &name : subfolders) {
        auto *item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(Qt::UserRole, QDir(m_path).filePath(name));
    }
    emit pathChanged(m_path);
    return true;
}

void FolderList::open(QListWidgetItem *item)
{
    setPath(item->data(Qt::UserRole).toString());
}

} // namespace tovalin
