#pragma once
#include "resize/jobfields.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace tovalin {

// What the batch dialog remembers between sessions, as typed: where the
// files go, how large, how compressed, and the upload-safe options.
struct BatchChoices {
    bool besideEach = false;             // beside each picture, named with `suffix`
    QString folder;                      // otherwise into this folder
    QString suffix = QStringLiteral("_resized");
    bool byEdge = false;                 // a long edge instead of a percentage
    QString percent = QStringLiteral("100");
    QString edge = QStringLiteral("1600");
    JobMode mode = JobMode::TargetSize;
    QString factor = QStringLiteral("30");
    QString targetKb = QStringLiteral("40");
    bool shrink = false;
    bool noEnlarge = true;               // small pictures keep their size
    bool safeMetadata = false;           // keep the date taken and the camera, drop the place
    bool keepDate = false;               // the output gets the picture's modification time
};

// The dialog's own file, beside the settings file.
inline const QString kBatchChoicesFileName = QStringLiteral("batch_choices.json");

QByteArray formatChoices(const BatchChoices &c);
// A JSON object; a member missing or of another type keeps the value of
// `fallback`. Empty for anything else, or a file too large to be ours.
std::optional<BatchChoices> parseChoices(const QByteArray &bytes, const BatchChoices &fallback);

// The remembered choices at `path`; empty when there are none to read.
std::optional<BatchChoices> readChoices(const QString &path, const BatchChoices &fallback);

} // namespace tovalin
