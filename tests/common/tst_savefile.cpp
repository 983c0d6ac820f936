#include "common/savefile.h"
#include "../testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tovalin;

Q_DECLARE_METATYPE(tovalin::SaveError)

namespace {

// Runs a save as an unprivileged user (root writes anywhere), in a child
// process; returns the save's outcome.
SaveError saveAsNobody(const QString &path, const QByteArray &bytes)
{
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(100);
        _exit(int(writeFileReplacing(path, bytes)));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? SaveError(WEXITSTATUS(status)) : SaveError::WriteFailed;
}

} // namespace

class TestSaveFile : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void createsAndReplaces_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "out.jpg";
        QTest::newRow("hidden") << ".out.jpg";
    }
    void createsAndReplaces()
    {
        QFETCH(QString, name);
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        const QString target = m_dir.filePath(name);
        QCOMPARE(writeFileReplacing(target, "first"), SaveError::None);
        QCOMPARE(fileContents(target), QByteArray("first"));
        QCOMPARE(writeFileReplacing(target, "second, longer"), SaveError::None);
        QCOMPARE(fileContents(target), QByteArray("second, longer"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    }

    // A failing save names its cause and leaves what was there.
    void failuresKeepTheOldFile_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<SaveError>("expected");
        QTest::newRow("no such folder") << "missing/out.jpg" << SaveError::NoFolder;
        QTest::newRow("name is a folder") << "folder" << SaveError::IsFolder;
        QTest::newRow("empty name") << "folder/" << SaveError::NoFileName;
        QTest::newRow("name too long") << QString(300, QLatin1Char('n')) + ".jpg" << SaveError::NameTooLong;
    }
    void failuresKeepTheOldFile()
    {
        QFETCH(QString, target);
        QFETCH(SaveError, expected);
        QDir(m_dir.path()).mkpath("folder");
        QCOMPARE(writeFileReplacing(m_dir.filePath("folder/keep.jpg"), "keep"), SaveError::None);
        QCOMPARE(writeFileReplacing(m_dir.filePath(target), "new"), expected);
        QCOMPARE(fileContents(m_dir.filePath("folder/keep.jpg")), QByteArray("keep"));
    }

    // Without the right to create a file in the folder, the old file stays
    // whole, even when the file itself could be written in place; a file
    // that may not be replaced says so. Run as an unprivileged user.
    void permissions_data()
    {
        QTest::addColumn<bool>("folderWritable");
        QTest::addColumn<bool>("fileWritable");
        QTest::addColumn<SaveError>("expected");
        QTest::newRow("read-only folder, writable file") << false << true << SaveError::FolderNotWritable;
        QTest::newRow("read-only file in a writable folder") << true << false << SaveError::FileReadOnly;
    }
    void permissions()
    {
        QFETCH(bool, folderWritable);
        QFETCH(bool, fileWritable);
        QFETCH(SaveError, expected);
        const QString folder = m_dir.filePath("locked");
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        const QString target = folder + "/out.jpg";
        QCOMPARE(writeFileReplacing(target, "old"), SaveError::None);
        const auto all = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        const auto anyoneWrites = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
        QFile::setPermissions(m_dir.path(), all | QFile::WriteOwner);
        QFile::setPermissions(folder, folderWritable ? all | anyoneWrites : all);
        QFile::setPermissions(target, fileWritable ? QFile::ReadOwner | QFile::ReadOther | anyoneWrites
                                                   : QFile::ReadOwner | QFile::ReadOther);
        QCOMPARE(saveAsNobody(target, "new"), expected);
        QCOMPARE(fileContents(target), QByteArray("old"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"out.jpg"});
        QFile::setPermissions(folder, all | QFile::WriteOwner);
    }

    // A link at the name is replaced itself: what it points to is never
    // written, and a dangling link creates nothing.
    void linksAreReplacedNotFollowed_data()
    {
        QTest::addColumn<bool>("dangling");
        QTest::newRow("link to a file") << false;
        QTest::newRow("dangling link") << true;
    }
    void linksAreReplacedNotFollowed()
    {
        QFETCH(bool, dangling);
        const QString victim = m_dir.filePath("victim.txt");
        const QString link = m_dir.filePath("Tovalin_w.htm");
        QFile::remove(victim);
        QFile::remove(link);
        if (!dangling)
            QCOMPARE(writeFileReplacing(victim, "precious"), SaveError::None);
        QVERIFY(QFile::link(victim, link));
        QCOMPARE(writeFileReplacing(link, "page"), SaveError::None);
        QCOMPARE(fileContents(victim), dangling ? QByteArray("<missing>") : QByteArray("precious"));
        QVERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(fileContents(link), QByteArray("page"));
    }

    // In a shared folder (sticky, as /tmp) a user cannot replace another
    // user's link: the save says so, and the link's target stays as it was.
    void anotherUsersLinkInASharedFolder()
    {
        if (geteuid() != 0)
            QSKIP("making another user's link needs root");
        const QString folder = m_dir.filePath("shared");
        QDir().mkpath(folder);
        QVERIFY(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 01777) == 0);
        const QString victim = folder + "/victim.txt";
        const QString link = folder + "/out.jpg";
        QCOMPARE(writeFileReplacing(victim, "precious"), SaveError::None);
        QVERIFY(::chmod(QFile::encodeName(victim).constData(), 0666) == 0);
        QVERIFY(QFile::link(victim, link));
        QVERIFY(::lchown(QFile::encodeName(link).constData(), 65533, 65533) == 0);
        QCOMPARE(saveAsNobody(link, "new"), SaveError::LinkNotReplaceable);
        QCOMPARE(fileContents(victim), QByteArray("precious"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), (QStringList{"out.jpg", "victim.txt"}));
    }
};

QTEST_GUILESS_MAIN(TestSaveFile)
#include "tst_savefile.moc"
