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

struct Collected {
    QList<BatchInput> inputs;
    int skipped = 0; // files in walked folders whose content is no picture Tovalin reads
};

// The files a batch takes from the names given: files named, and the files
// of folders named (of their subfolders too when `recursive`) whose content
// is a picture Tovalin reads; `excluded` (the output folder) is never
// walked. Folders are walked in name order, links to folders not followed.
Collected collectInputs(const QStringList &names, bool recursive, const QString &excluded);

} // namespace tovalin
