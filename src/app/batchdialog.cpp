#include "app/batchdialog.h"

#include "batch/batchrunner.h"
#include "batch/collect.h"
#include "batch/naming.h"
#include "batch/sizerule.h"
#include "common/nativepath.h"
#include "common/numbers.h"
#include "common/savefile.h"
#include "imaging/jpeg/jpeg.h"
#include "resize/jobfields.h"
#include "resize/sizesearch.h"
#include "texts/texts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tovalin {

namespace {

// Rows that need a look carry this flag, for 「問題のある行だけ表示」.
constexpr int kProblemRole = Qt::UserRole;

CollectRules collectRules(const BatchOptions &o)
{
    // The destination is never walked; a second batch into a dropped folder
    // leaves its earlier outputs out, as does one beside each picture.
    return {true, o.outputFolder, o.suffix};
}

} // namespace

BatchDialog::BatchDialog(const QStringList &paths, const BatchDefaults &defaults, QWidget *parent)
    : QDialog(parent), m_paths(paths), m_choicesPath(defaults.choicesPath),
      m_task(this, [this](bool stopped) { onFinished(stopped); })
{
    setObjectName(QStringLiteral("BatchDialog"));
    setWindowTitle(text::kBatchTitle);
    const BatchChoices c = readChoices(m_choicesPath, defaults.firstUse).value_or(defaults.firstUse);
    buildControls(c);
    wireSignals();
    BatchOptions initial;
    if (!c.besideEach)
        initial.outputFolder = c.folder;
    else
        initial.suffix = c.suffix;
    m_collected = collectInputs(m_paths, collectRules(initial));
    fillRows();
    showDestination();
    m_targetBytes->setText(text::kilobytesInBytes(m_targetKb->text()));
}

void BatchDialog::buildControls(const BatchChoices &c)
{
    m_files = new QTreeWidget(this);
    m_files->setHeaderLabels({text::kBatchFile, text::kBatchResult});
    m_files->setRootIsDecorated(false);
    m_files->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_problemsOnly = new QCheckBox(text::kBatchProblemsOnly, this);

    m_byPercent = new QRadioButton(text::kBatchByPercent, this);
    m_byEdge = new QRadioButton(text::kBatchByEdge, this);
    m_percent = new QLineEdit(c.percent, this);
    m_edge = new QLineEdit(c.edge, this);
    m_noEnlarge = new QCheckBox(text::kBatchNoEnlarge, this);
    m_byFactor = new QRadioButton(text::kByFactor, this);
    m_bySize = new QRadioButton(text::kBySize, this);
    m_factor = new QLineEdit(c.factor, this);
    m_targetKb = new QLineEdit(c.targetKb, this);
    m_targetBytes = new QLabel(this);
    m_shrink = new QCheckBox(text::kBatchShrink, this);
    m_safeMetadata = new QCheckBox(text::kBatchSafeMetadata, this);
    m_keepDate = new QCheckBox(text::kBatchKeepDate, this);
    // Two choices: how large, and how compressed.
    auto *sizeGroup = new QButtonGroup(this);
    sizeGroup->addButton(m_byPercent);
    sizeGroup->addButton(m_byEdge);
    auto *modeGroup = new QButtonGroup(this);
    modeGroup->addButton(m_byFactor);
    modeGroup->addButton(m_bySize);
    (c.byEdge ? m_byEdge : m_byPercent)->setChecked(true);
    (c.mode == JobMode::Factor ? m_byFactor : m_bySize)->setChecked(true);
    m_noEnlarge->setChecked(c.noEnlarge);
    m_shrink->setChecked(c.shrink);
    m_safeMetadata->setChecked(c.safeMetadata);
    m_keepDate->setChecked(c.keepDate);

    m_toFolder = new QRadioButton(text::kBatchToFolder, this);
    m_folder = new QLineEdit(c.folder, this);
    m_browse = new QPushButton(text::kBatchBrowse, this);
    m_besideEach = new QRadioButton(text::kBatchBesideEach, this);
    m_suffix = new QLineEdit(c.suffix, this);
    auto *destinationGroup = new QButtonGroup(this);
    destinationGroup->addButton(m_toFolder);
    destinationGroup->addButton(m_besideEach);
    (c.besideEach ? m_besideEach : m_toFolder)->setChecked(true);
    m_mirrored = new QLabel(text::kBatchMirrored, this);
    m_mirrored->setWordWrap(true);

    m_progress = new QProgressBar(this);
    m_progress->setValue(0);
    m_summary = new QLabel(this);
    m_summary->setWordWrap(true);
    m_start = new QPushButton(text::kBatchStart, this);
    m_cancel = new QPushButton(text::kBatchCancel, this);
    m_openFolder = new QPushButton(text::kBatchOpenFolder, this);
    m_close = new QPushButton(text::kBatchClose, this);
    m_cancel->setEnabled(false);
    m_openFolder->setEnabled(false);
    m_start->setDefault(true);
    for (auto [w, name] : {std::pair<QWidget *, const char *>{m_files, "files"}, {m_problemsOnly, "problemsOnly"},
                           {m_byPercent, "byPercent"}, {m_byEdge, "byEdge"}, {m_percent, "percent"}, {m_edge, "edge"},
                           {m_noEnlarge, "noEnlarge"}, {m_byFactor, "byFactor"}, {m_bySize, "bySize"}, {m_factor, "factor"},
                           {m_targetKb, "targetKb"}, {m_targetBytes, "targetBytes"}, {m_shrink, "shrink"},
                           {m_safeMetadata, "safeMetadata"}, {m_keepDate, "keepDate"}, {m_toFolder, "toFolder"},
                           {m_folder, "folder"}, {m_browse, "browse"}, {m_besideEach, "besideEach"}, {m_suffix, "suffix"},
                           {m_mirrored, "mirrored"}, {m_progress, "progress"}, {m_summary, "summary"}, {m_start, "start"},
                           {m_cancel, "cancel"}, {m_openFolder, "openFolder"}, {m_close, "close"}})
        w->setObjectName(QLatin1String(name));

    auto *options = new QGridLayout;
    options->addWidget(m_byPercent, 0, 0);
    options->addWidget(m_percent, 0, 1);
    options->addWidget(m_byEdge, 1, 0);
    options->addWidget(m_edge, 1, 1);
    options->addWidget(m_noEnlarge, 2, 0, 1, 2);
    options->addWidget(m_byFactor, 0, 2);
    options->addWidget(m_factor, 0, 3);
    options->addWidget(m_bySize, 1, 2);
    options->addWidget(m_targetKb, 1, 3);
    options->addWidget(m_targetBytes, 1, 4);
    options->addWidget(m_shrink, 2, 2, 1, 3);
    options->addWidget(m_safeMetadata, 3, 0, 1, 5);
    options->addWidget(m_keepDate, 4, 0, 1, 5);
    auto *destination = new QGroupBox(text::kBatchDestination, this);
    auto *where = new QGridLayout(destination);
    where->addWidget(m_toFolder, 0, 0);
    where->addWidget(m_folder, 0, 1);
    where->addWidget(m_browse, 0, 2);
    where->addWidget(m_besideEach, 1, 0);
    where->addWidget(m_suffix, 1, 1);
    where->addWidget(m_mirrored, 2, 0, 1, 3);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_openFolder);
    buttons->addStretch();
    buttons->addWidget(m_start);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_files);
    layout->addWidget(m_problemsOnly);
    layout->addLayout(options);
    layout->addWidget(destination);
    layout->addWidget(m_progress);
    layout->addWidget(m_summary);
    layout->addLayout(buttons);
    resize(720, 600);
}

void BatchDialog::wireSignals()
{
    connect(m_start, &QPushButton::clicked, this, &BatchDialog::onStart);
    connect(m_cancel, &QPushButton::clicked, this, &BatchDialog::onCancel);
    connect(m_close, &QPushButton::clicked, this, &BatchDialog::close);
    connect(m_browse, &QPushButton::clicked, this, &BatchDialog::onBrowse);
    connect(m_openFolder, &QPushButton::clicked, this, &BatchDialog::onOpenFolder);
    connect(m_problemsOnly, &QCheckBox::toggled, this, &BatchDialog::showProblemsOnly);
    connect(m_toFolder, &QRadioButton::toggled, this, &BatchDialog::showDestination);
    connect(m_targetKb, &QLineEdit::textChanged, m_targetBytes,
            [this](const QString &typed) { m_targetBytes->setText(text::kilobytesInBytes(typed)); });
}

BatchDialog::~BatchDialog()
{
    stopAndWait();
}

// Each picture in the order it will be made, then what is left out, with
// its reason; an unreadable entry is a failure of the batch.
void BatchDialog::fillRows()
{
    m_files->clear();
    for (const BatchInput &input : m_collected.inputs)
        new QTreeWidgetItem(m_files, {input.path, QString()});
    for (const PassedEntry &e : m_collected.passed) {
        auto *item = new QTreeWidgetItem(m_files, {e.path, QString()});
        if (e.why == Passed::Unreadable)
            markRow(item, text::kMarkFailed, text::passedReason(e.why, true));
        else
            item->setText(1, text::passedReason(e.why, true));
    }
    m_progress->setRange(0, std::max<int>(1, int(m_collected.inputs.size())));
    m_progress->setValue(0);
    m_start->setEnabled(!m_collected.inputs.isEmpty() && !isRunning());
    showProblemsOnly();
}

// A row that needs a look says so in a word and an icon, never in colour alone.
void BatchDialog::markRow(QTreeWidgetItem *item, const QString &mark, const QString &result)
{
    const bool failed = mark == text::kMarkFailed;
    const QStyle::StandardPixmap icon = failed                              ? QStyle::SP_MessageBoxCritical
                                        : mark == text::kMarkOverTarget     ? QStyle::SP_MessageBoxWarning
                                                                            : QStyle::SP_MessageBoxInformation;
    item->setText(1, QStringLiteral("【%1】%2").arg(mark, result));
    item->setIcon(1, style()->standardIcon(icon));
    item->setData(0, kProblemRole, true);
}

void BatchDialog::showProblemsOnly()
{
    const bool only = m_problemsOnly->isChecked();
    for (int i = 0; i < m_files->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = m_files->topLevelItem(i);
        item->setHidden(only && !item->data(0, kProblemRole).toBool());
    }
}

void BatchDialog::showDestination()
{
    const bool toFolder = m_toFolder->isChecked();
    m_folder->setEnabled(toFolder);
    m_browse->setEnabled(toFolder);
    m_suffix->setEnabled(!toFolder);
    const bool nested = std::any_of(m_collected.inputs.cbegin(), m_collected.inputs.cend(),
                                    [](const BatchInput &i) { return !i.subfolder.isEmpty(); });
    m_mirrored->setVisible(toFolder && nested);
}

void BatchDialog::onBrowse()
{
    const QString chosen = chooseFolder(m_folder->text());
    if (!chosen.isEmpty())
        m_folder->setText(chosen);
}

void BatchDialog::onOpenFolder()
{
    openFolder(m_writtenInto);
}

BatchChoices BatchDialog::choices() const
{
    BatchChoices c;
    c.besideEach = m_besideEach->isChecked();
    c.folder = m_folder->text();
    c.suffix = m_suffix->text();
    c.byEdge = m_byEdge->isChecked();
    c.percent = m_percent->text();
    c.edge = m_edge->text();
    c.mode = m_byFactor->isChecked() ? JobMode::Factor : JobMode::TargetSize;
    c.factor = m_factor->text();
    c.targetKb = m_targetKb->text();
    c.shrink = m_shrink->isChecked();
    c.noEnlarge = m_noEnlarge->isChecked();
    c.safeMetadata = m_safeMetadata->isChecked();
    c.keepDate = m_keepDate->isChecked();
    return c;
}

// A folder the user names (made, if asked), or beside each picture with a
// suffix that keeps every output off its neighbours' names.
bool BatchDialog::readDestination(BatchOptions &o)
{
    if (m_besideEach->isChecked()) {
        const QString suffix = m_suffix->text();
        if (suffix.isEmpty()) {
            showOk(text::kBatchNoSuffix);
            return false;
        }
        if (!suffixUsable(suffix)) {
            showOk(text::kBatchBadSuffix);
            return false;
        }
        o.outputFolder.clear();
        o.suffix = suffix;
        return true;
    }
    QString folder = m_folder->text().trimmed();
    if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/")))
        folder = QDir::homePath() + folder.mid(1);
    if (folder.isEmpty()) {
        showOk(text::kBatchNoFolder);
        return false;
    }
    if (QDir::isRelativePath(folder)) {
        showOk(text::kBatchRelativeFolder);
        return false;
    }
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        showOk(text::kBatchNotAFolder.arg(folder));
        return false;
    }
    if (!info.exists()) {
        if (!askYesNo(text::kBatchMakeFolder.arg(folder)))
            return false;
        if (!QDir().mkpath(folder)) {
            showOk(text::kBatchMakeFolderFailed.arg(folder));
            return false;
        }
    }
    o.outputFolder = folder;
    o.suffix.clear();
    return true;
}

std::optional<BatchOptions> BatchDialog::readOptions()
{
    BatchOptions o;
    if (m_byPercent->isChecked()) {
        const std::optional<int> percent = percentFromText(m_percent->text());
        if (!percent) {
            showOk(text::kBatchBadPercent);
            return std::nullopt;
        }
        o.size.kind = SizeRule::Scale;
        o.size.percent = *percent;
    } else {
        const std::optional<int> edge = edgeFromText(m_edge->text());
        if (!edge) {
            showOk(text::kBatchBadEdge);
            return std::nullopt;
        }
        o.size.kind = SizeRule::LongEdge;
        o.size.edge = *edge;
    }
    o.size.noEnlarge = m_noEnlarge->isChecked();
    if (m_byFactor->isChecked()) {
        const std::optional<int> q = factorFromText(m_factor->text());
        if (!q) {
            showOk(text::fieldProblem({FieldProblem::BadFactor, FieldProblem::BadFactor, {}}));
            return std::nullopt;
        }
        o.factor = *q;
    } else {
        const TargetReading t = targetFromText(m_targetKb->text());
        if (t.problem != FieldProblem::None) {
            showOk(text::fieldProblem({t.problem, FieldProblem::BadTarget, {}}));
            return std::nullopt;
        }
        o.mode = JobMode::TargetSize;
        o.targetBytes = t.bytes;
        o.shrink = m_shrink->isChecked() ? ShrinkMode::Apply : ShrinkMode::Off;
    }
    o.metadata = m_safeMetadata->isChecked() ? MetadataMode::Safe : MetadataMode::None;
    o.keepDate = m_keepDate->isChecked();
    if (!readDestination(o))
        return std::nullopt;
    return o;
}

void BatchDialog::onStart()
{
    std::optional<BatchOptions> options = readOptions();
    if (!options)
        return;
    // What was chosen is what the next batch starts with.
    if (!m_choicesPath.isEmpty()) {
        const SaveError saved = writeFileReplacing(m_choicesPath, formatChoices(choices()));
        if (saved != SaveError::None)
            showOk(text::kBatchChoicesSaveFailed.arg(m_choicesPath, text::saveProblem(saved)));
    }
    // The files are taken anew: the destination decides which are left out.
    m_collected = collectInputs(m_paths, collectRules(*options));
    fillRows();
    showDestination();
    m_counts = {};
    for (const PassedEntry &e : m_collected.passed)
        m_counts.failed += e.why == Passed::Unreadable;
    m_planned = planOutputs(m_collected.inputs, *options);
    m_writtenInto = options->outputFolder.isEmpty() && !m_planned.isEmpty() ? folderOf(m_planned.front().output)
                                                                            : options->outputFolder;
    // One question for every output already there: replace them all, or
    // skip them. No input is among them: an output that is another input
    // is never replaced, and a source's own output gets another name.
    if (const int existing = existingOutputs(m_planned); existing > 0)
        options->overwrite = askYesNo(text::kBatchReplaceAll.arg(existing));
    m_target = options->mode == JobMode::TargetSize ? options->targetBytes : 0;
    m_ended = 0;
    m_summary->clear();
    m_start->setEnabled(false);
    m_cancel->setEnabled(true);
    m_openFolder->setEnabled(false);
    const std::int64_t budget = defaultBatchMemory();
    m_runner = std::make_unique<BatchRunner>(m_planned, *options, jobsWithin(defaultJobs(), budget), budget,
                                             [this](int index, const BatchOutcome &outcome) {
                                                 QMetaObject::invokeMethod(this, [this, index, outcome] { onFileDone(index, outcome); },
                                                                           Qt::QueuedConnection);
                                             });
    m_task.start([runner = m_runner.get()] {
        runner->run();
        return runner->stopped();
    });
}

void BatchDialog::onFileDone(int index, const BatchOutcome &outcome)
{
    QTreeWidgetItem *item = m_files->topLevelItem(index);
    const ResizeResult &job = outcome.job;
    const bool stopped = outcome.problem == BatchProblem::NotStarted || outcome.problem == BatchProblem::Interrupted;
    if (outcome.status == BatchStatus::Written && job.overTarget) {
        ++m_counts.overTarget;
        markRow(item, text::kMarkOverTarget,
                text::kBatchOverTarget.arg(kilobyteFigure(job.bytesWritten)).arg(job.bytesWritten)
                    .arg(job.bytesWritten - m_target).arg(job.factor).arg(job.width).arg(job.height));
    } else if (outcome.status == BatchStatus::Written) {
        item->setText(1, text::kBatchWritten.arg(kilobyteFigure(job.bytesWritten)).arg(job.factor).arg(job.width).arg(job.height));
    } else {
        const QString reason = text::batchProblem(outcome, m_planned[index].output);
        markRow(item, stopped ? text::kMarkStopped : outcome.status == BatchStatus::Skipped ? text::kMarkSkipped : text::kMarkFailed,
                reason);
    }
    m_counts.written += outcome.status == BatchStatus::Written;
    m_counts.skipped += outcome.status == BatchStatus::Skipped;
    m_counts.failed += outcome.status == BatchStatus::Failed && !stopped;
    m_counts.notDone += stopped;
    item->setToolTip(1, item->text(1));
    item->setHidden(m_problemsOnly->isChecked() && !item->data(0, kProblemRole).toBool());
    // The bar counts the files that ended; a stop leaves it where it was.
    if (!stopped)
        m_progress->setValue(++m_ended);
}

void BatchDialog::onFinished(bool stopped)
{
    m_task.wait();
    m_runner.reset();
    m_start->setEnabled(true);
    m_cancel->setEnabled(false);
    m_openFolder->setEnabled(m_counts.written > 0 || QFileInfo(m_writtenInto).isDir());
    const QString counts = text::batchCounts(m_counts);
    m_summary->setText(stopped ? text::kBatchStopped + counts : counts);
}

void BatchDialog::onCancel()
{
    if (m_runner)
        m_runner->stop();
}

void BatchDialog::stopAndWait()
{
    if (!m_runner)
        return;
    m_runner->stop();
    m_task.wait();
}

void BatchDialog::closeEvent(QCloseEvent *event)
{
    stopAndWait();
    QDialog::closeEvent(event);
}

void BatchDialog::reject()
{
    stopAndWait();
    QDialog::reject();
}

} // namespace tovalin
