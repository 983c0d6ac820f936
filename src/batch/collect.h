#pragma once
#include <QList>
#include <QString>
#include <QStringList>

namespace tovalin {

// One picture of a batch, and where it was found.
struct BatchInput {
    QString path;
    QString subfolder; // below the folder walked ("" for files named or found at its top)
    bool named = false; // named itself, not found in a folder
};

// Why an entry met in a walked folder (or a name given) is not processed.
// Unreadable fails the run; the others are skipped.
enum class Passed {
    Hidden,             // a hidden file or folder
    Temporary,          // a temporary file an interrupted save left
    OwnOutput,          // a name this run's outputs take (a second run)
    NotPicture,         // no picture Tovalin reads: other content, empty, special files, dangling links
    SubfolderNotWalked, // a subfolder, without recursion
    FolderLink,         // a link to a folder: never followed
    OutputFolder,       // the output folder, below a walked folder
    Duplicate,          // a file already taken under another name or link
    Unreadable,         // cannot be looked up, opened or listed
};

struct PassedEntry {
    QString path;
    Passed why;
};

struct Collected {
    QList<BatchInput> inputs;
    QList<PassedEntry> passed; // every entry not taken, with its reason
};

// What a collection needs of the batch.
struct CollectRules {
    bool recursive = false;
    QString outputFolder; // its subfolders of walked folders are not walked; "" or "-" for none
    QString suffix;       // outputs' names, to leave a run's own outputs out
};

// The files a batch takes from the names given: files named, whatever they
// hold, and the files of folders named (of their subfolders too when
// recursive) whose content is a picture Tovalin reads. Folders are walked
// in name order; links to folders, hidden entries, interrupted saves'
// temporary files and the outputs a run beside its inputs makes (an
// input's base name with the suffix, or "_resized", and ".jpg") are left
// out, each with its reason. A file reached twice is taken once.
Collected collectInputs(const QStringList &names, const CollectRules &rules);

// Whether a file name is that of a temporary file of our saves
// (".NAME.RANDOM.tmp").
bool isSaveTemporary(const QString &name);

} // namespace tovalin
