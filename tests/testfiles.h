#pragma once
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A file's bytes, or "<missing>" when it cannot be read.
inline QByteArray fileContents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A JPEG's first bytes in a file whose path is longer than the system
// takes (`folder`/ddd.../x.jpg, about 4,400 bytes): no lookup of it
// succeeds, not even root's. False when it cannot be made.
inline bool makeTooDeepPicture(const QString &folder)
{
    const QByteArray part(200, 'd');
    if (::mkdir(QFile::encodeName(folder).constData(), 0755) != 0)
        return false;
    int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 22 && fd >= 0; ++i) {
        const int next = ::mkdirat(fd, part.constData(), 0755) == 0 ? ::openat(fd, part.constData(), O_RDONLY | O_DIRECTORY) : -1;
        ::close(fd);
        fd = next;
    }
    const int file = fd >= 0 ? ::openat(fd, "x.jpg", O_CREAT | O_WRONLY, 0644) : -1;
    const bool written = file >= 0 && ::write(file, "\xFF\xD8\xFF", 3) == 3;
    ::close(file);
    ::close(fd);
    return written;
}
