#pragma once
#include <QFile>

// A file's bytes, or "<missing>" when it cannot be read.
inline QByteArray fileContents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
