#include "batch/collect.h"

#include "batch/naming.h"
#include "common/nativepath.h"
#include "common/samefile.h"
#include "imaging/decode/decode.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovalin {

namespace {

enum class Content { Picture, Other, Unreadable };

Content contentOf(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Content::Unreadable;
    char head[64];
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    if (n < 0)
        return Content::Unreadable;
    return n > 0 && looksLikePicture(QByteArray(head, int(n))) ? Content::Picture : Content::Other;
}

// The folder's entries on their own bytes, in byte order; false when it
// cannot be listed.
bool entriesOf(const QByteArray &folder, QList<QByteArray> &names)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return false;
    while (const dirent *e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.push_back(QByteArray(e->d_name));
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return true;
}

QByteArray realPath(const QByteArray &native)
{
    char *real = native.isEmpty() ? nullptr : ::realpath(native.constData(), nullptr);
    const QByteArray r = real ? QByteArray(real) : QByteArray();
    std::free(real);
    return r;
}

class Walker {
public:
    Walker(const CollectRules &rules, Collected &out)
        : m_rules(rules), m_out(out),
          m_output(rules.outputFolder.isEmpty() || rules.outputFolder == QLatin1String("-") ? QByteArray()
                                                                                            : realPath(nativePath(rules.outputFolder)))
    {
    }

    void walk(const QByteArray &folder, const QString &subfolder)
    {
        QList<QByteArray> names;
        if (!entriesOf(folder, names)) {
            pass(folder, Passed::Unreadable);
            return;
        }
        for (const QByteArray &name : names) {
            const QByteArray path = folder + '/' + name;
            const QString below = subfolder.isEmpty() ? pathFromNative(name) : subfolder + QLatin1Char('/') + pathFromNative(name);
            struct stat st {};
            if (::lstat(path.constData(), &st) != 0) {
                pass(path, Passed::Unreadable);
                continue;
            }
            if (name.startsWith('.')) {
                pass(path, isSaveTemporary(pathFromNative(name)) ? Passed::Temporary : Passed::Hidden);
                continue;
            }
            if (S_ISLNK(st.st_mode)) {
                struct stat target {};
                if (::stat(path.constData(), &target) != 0) {
                    pass(path, Passed::NotPicture); // a dangling link
                    continue;
                }
                if (S_ISDIR(target.st_mode)) {
                    pass(path, Passed::FolderLink);
                    continue;
                }
                st = target;
            }
            if (S_ISDIR(st.st_mode)) {
                if (!m_rules.recursive)
                    pass(path, Passed::SubfolderNotWalked);
                else if (!m_output.isEmpty() && realPath(path) == m_output)
                    pass(path, Passed::OutputFolder);
                else
                    walk(path, below);
                continue;
            }
            const Content content = S_ISREG(st.st_mode) ? contentOf(path) : Content::Other;
            if (content == Content::Unreadable)
                pass(path, Passed::Unreadable);
            else if (content == Content::Other)
                pass(path, Passed::NotPicture);
            else
                m_out.inputs.push_back({pathFromNative(path), subfolder, false});
        }
    }

    void pass(const QByteArray &path, Passed why) { m_out.passed.push_back({pathFromNative(path), why}); }

private:
    const CollectRules &m_rules;
    Collected &m_out;
    const QByteArray m_output;
};

// Names a run beside its inputs writes: a walked picture so named beside
// the input it comes from is an earlier run's output, not an input.
void leaveOutOwnOutputs(Collected &out, const QString &suffix)
{
    QHash<QString, QSet<QString>> outputsIn; // folder -> names this run's outputs take there
    for (const BatchInput &input : out.inputs) {
        if (input.path == QLatin1String("-"))
            continue;
        QSet<QString> &names = outputsIn[folderOf(absolutePath(input.path))];
        for (const QString &name : runOutputNames(fileNameOf(input.path), suffix))
            names.insert(name);
    }
    QList<BatchInput> kept;
    for (const BatchInput &input : out.inputs) {
        const bool own = !input.named && outputsIn.value(folderOf(absolutePath(input.path))).contains(fileNameOf(input.path));
        if (own)
            out.passed.push_back({input.path, Passed::OwnOutput});
        else
            kept.push_back(input);
    }
    out.inputs = kept;
}

// A file reached twice (named twice, through a link or a second path) is
// taken the first time only.
void leaveOutDuplicates(Collected &out)
{
    QSet<FileId> seen;
    QList<BatchInput> kept;
    for (const BatchInput &input : out.inputs) {
        const std::optional<FileId> id = input.path == QLatin1String("-") ? std::nullopt : fileId(input.path);
        if (id && seen.contains(*id)) {
            out.passed.push_back({input.path, Passed::Duplicate});
            continue;
        }
        if (id)
            seen.insert(*id);
        kept.push_back(input);
    }
    out.inputs = kept;
}

} // namespace

bool isSaveTemporary(const QString &name)
{
    static const QRegularExpression form(QStringLiteral("^\\..+\\.[0-9a-z]+\\.tmp$"));
    return form.match(name).hasMatch();
}

Collected collectInputs(const QStringList &names, const CollectRules &rules)
{
    Collected out;
    Walker walker(rules, out);
    for (const QString &name : names) {
        struct stat st {};
        const QByteArray native = nativePath(name);
        const bool isFolder = name != QLatin1String("-") && ::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode);
        if (!isFolder) {
            out.inputs.push_back({name, QString(), true});
            continue;
        }
        // A folder named is walked even when it is the output folder: only
        // the names this run writes are left out there.
        walker.walk(native.endsWith('/') && native.size() > 1 ? native.chopped(1) : native, QString());
    }
    leaveOutOwnOutputs(out, rules.suffix);
    leaveOutDuplicates(out);
    return out;
}

} // namespace tovalin
