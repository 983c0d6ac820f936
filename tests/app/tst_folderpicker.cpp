#include "app/folderpicker.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tovalin;

// The window's folder list, against lists written out by hand: the chain
// from "/" down to the open folder, then its subfolders, each line
// indented two spaces a level and opening the folder it names.
class TestFolderList : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;
    QString m_top;

    // Each line as the user sees it, with the folder it opens.
    static QStringList shown(const FolderList &list)
    {
        QStringList lines;
        for (int i = 0; i < list.count(); ++i)
            lines << list.item(i)->text() + QStringLiteral(" -> ") + list.item(i)->data(Qt::UserRole).toString();
        return lines;
    }

    // The chain's lines for an absolute path, from its text alone.
    static QStringList chainOf(const QString &path)
    {
        QStringList lines{QStringLiteral("/ -> /")};
        QString so_far;
        int depth = 1;
        for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            so_far += QLatin1Char('/') + part;
            lines << QString(depth * 2, QLatin1Char(' ')) + part + QStringLiteral(" -> ") + so_far;
            ++depth;
        }
        return lines;
    }

private slots:
    void initTestCase()
    {
        m_top = m_root.path() + QStringLiteral("/top");
        QDir top(m_root.path());
        QVERIFY(top.mkpath(QStringLiteral("top")));
        QVERIFY(top.cd(QStringLiteral("top")));
        for (const QString &d : {QStringLiteral("beta"), QStringLiteral("Alpha"), QStringLiteral("Delta"), QStringLiteral("gamma"), QStringLiteral(".hidden"),
                                 QStringLiteral("日本語")})
            QVERIFY(top.mkdir(d));
        QFile file(top.filePath(QStringLiteral("file.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(top.filePath(QStringLiteral("Alpha")), top.filePath(QStringLiteral("zlink"))));
        QVERIFY(QFile::link(top.filePath(QStringLiteral("file.txt")), top.filePath(QStringLiteral("filelink"))));
        QVERIFY(QFile::link(top.filePath(QStringLiteral("gone")), top.filePath(QStringLiteral("dangling"))));
    }

    // Hidden folders, files, links to files and broken links are left out;
    // a link to a folder is a folder; the order ignores case.
    void chainThenSubfolders()
    {
        FolderList list;
        QSignalSpy changed(&list, &FolderList::pathChanged);
        QVERIFY(list.setPath(m_top + QStringLiteral("/beta/..")));
        QCOMPARE(list.path(), m_top);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.front().front().toString(), m_top);
        QStringList expected = chainOf(m_top);
        const QString indent(int(expected.size()) * 2, QLatin1Char(' '));
        for (const QString &name : {QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("Delta"), QStringLiteral("gamma"), QStringLiteral("zlink"),
                                    QStringLiteral("日本語")})
            expected << indent + name + QStringLiteral(" -> ") + m_top + QLatin1Char('/') + name;
        QCOMPARE(shown(list), expected);
        // The open folder is the current line.
        QCOMPARE(list.currentRow(), int(chainOf(m_top).size()) - 1);
    }

    void activatingALineOpensIt_data()
    {
        QTest::addColumn<QString>("line"); // the line's text, without its indentation
        QTest::addColumn<QString>("opened"); // relative to the top folder; "/" for the root
        QTest::newRow("a subfolder") << "gamma" << "gamma";
        QTest::newRow("a link to a folder") << "zlink" << "zlink";
        QTest::newRow("a Japanese name") << "日本語" << "日本語";
        QTest::newRow("the root") << "/" << "/";
        QTest::newRow("the folder itself") << "top" << "";
    }
    void activatingALineOpensIt()
    {
        QFETCH(QString, line);
        QFETCH(QString, opened);
        FolderList list;
        QVERIFY(list.setPath(m_top));
        QListWidgetItem *item = nullptr;
        for (int i = 0; i < list.count(); ++i)
            if (list.item(i)->text().trimmed() == line)
                item = list.item(i);
        QVERIFY(item);
        QSignalSpy changed(&list, &FolderList::pathChanged);
        emit list.itemActivated(item);
        const QString expected = opened == QLatin1String("/") ? opened : opened.isEmpty() ? m_top : m_top + QLatin1Char('/') + opened;
        QCOMPARE(list.path(), expected);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(shown(list).mid(0, chainOf(expected).size()), expected == QLatin1String("/") ? QStringList{"/ -> /"} : chainOf(expected));
    }

    // What is not a folder leaves the list as it was.
    void notAFolderChangesNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("a file") << "file.txt";
        QTest::newRow("a link to a file") << "filelink";
        QTest::newRow("a broken link") << "dangling";
        QTest::newRow("missing") << "nothing-here";
        QTest::newRow("empty") << "";
    }
    void notAFolderChangesNothing()
    {
        QFETCH(QString, path);
        FolderList list;
        QVERIFY(list.setPath(m_top));
        const QStringList before = shown(list);
        QSignalSpy changed(&list, &FolderList::pathChanged);
        QVERIFY(!list.setPath(path.isEmpty() ? path : m_top + QLatin1Char('/') + path));
        QCOMPARE(list.path(), m_top);
        QCOMPARE(shown(list), before);
        QCOMPARE(changed.count(), 0);
    }
};

QTEST_MAIN(TestFolderList)
#include "tst_folderpicker.moc"
