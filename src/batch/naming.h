#pragma once
#include <QString>
#include <QStringList>

namespace tovalin {

// A batch's output name for an input file name: the name with its last
// suffix replaced by ".jpg" and `suffix` put before it (trip.day1.heic ->
// trip.day1.jpg; with "_small", trip.day1_small.jpg). The window's
// single-picture rule is another (intake).
QString batchOutputName(const QString &inputName, const QString &suffix);

// The names a run beside an input writes for it, as a later run meets
// them: the base name with "_resized", or with a non-empty `suffix`, and
// ".jpg".
QStringList runOutputNames(const QString &inputName, const QString &suffix);

// Whether a suffix names a file beside the output's base name: no folder
// separator, so no output leaves its folder.
bool suffixUsable(const QString &suffix);

// The output's full path in `folder`; where it would be the input itself
// (photo.jpg beside photo.jpg) and the input may not be replaced,
// "_resized" is added before ".jpg".
QString batchOutputPath(const QString &inputPath, const QString &folder, const QString &suffix, bool inPlace);

} // namespace tovalin
