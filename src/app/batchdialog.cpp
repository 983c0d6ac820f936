#include "app/batchdialog.h"

#include "batch/batchrunner.h"
#include "batch/collect.h"
#include "batch/sizerule.h"
#include "common/numbers.h"
#include "imaging/jpeg/jpeg.h"
#include "resize/jobfields.h"
#include "resize/sizesearch.h"
#include "texts/texts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tovalin {

BatchDialog::BatchDialog(const QStringList &paths, const BatchDefaults &defaults, QWidget *parent)
    : QDialog(parent), m_defaults(defaults), m_task(this, [this](bool stopped) { onFinished(stopped); })
{
    setObjectName(QStringLiteral("BatchDialog"));
    setWindowTitle(text::kBatchTitle);
    // The destination is never walked; a second batch into a dropped folder
    // leaves its earlier outputs out.
    m_collected = collectInputs(paths, {true, defaults.folder, QString()});

    m_files = new QTreeWidget(this);
    m_files->setObjectName(QStringLiteral("files"));
    m_files->setHeaderLabels({text::kBatchFile, text::kBatchResult});
    m_files->setRootIsDecorated(false);
    for (const BatchInput &input : m_collected.inputs)
        new QTreeWidgetItem(m_files, {input.path, QString()});
    // What is left out is listed too, with its reason, after the pictures.
    for (const PassedEntry &e : m_collected.passed)
        new QTreeWidgetItem(m_files, {e.path, text::passedReason(e.why, true)});
    m_files->header()->setSectionResizeMode(0, QHeaderView::Stretch);

    m_byPercent = new QRadioButton(text::kBatchByPercent, this);
    m_byEdge = new QRadioButton(text::kBatchByEdge, this);
    m_percent = new QLineEdit(QString::number(defaults.percent), this);
    m_edge = new QLineEdit(QStringLiteral("1600"), this);
    m_byFactor = new QRadioButton(text::kByFactor, this);
    m_bySize = new QRadioButton(text::kBySize, this);
    m_factor = new QLineEdit(defaults.factor, this);
    m_targetKb = new QLineEdit(defaults.targetKb, this);
    // Two choices: how large, and how compressed.
    auto *sizeGroup = new QButtonGroup(this);
    sizeGroup->addButton(m_byPercent);
    sizeGroup->addButton(m_byEdge);
    auto *modeGroup = new QButtonGroup(this);
    modeGroup->addButton(m_byFactor);
    modeGroup->addButton(m_bySize);
    m_byPercent->setChecked(true);
    (defaults.mode == JobMode::Factor ? m_byFactor : m_bySize)->setChecked(true);
    m_shrink = new QCheckBox(text::kBatchShrink, this);
    m_folder = new QLabel(text::kBatchFolder.arg(defaults.folder), this);
    m_folder->setWordWrap(true);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, int(m_collected.inputs.size()));
    m_progress->setValue(0);
    m_summary = new QLabel(this);
    m_start = new QPushButton(text::kBatchStart, this);
    m_cancel = new QPushButton(text::kBatchCancel, this);
    m_close = new QPushButton(text::kBatchClose, this);
    m_cancel->setEnabled(false);
    for (auto [w, name] : {std::pair<QWidget *, const char *>{m_byPercent, "byPercent"}, {m_byEdge, "byEdge"}, {m_percent, "percent"},
                           {m_edge, "edge"}, {m_byFactor, "byFactor"}, {m_bySize, "bySize"}, {m_factor, "factor"},
                           {m_targetKb, "targetKb"}, {m_shrink, "shrink"}, {m_progress, "progress"}, {m_summary, "summary"},
                           {m_start, "start"}, {m_cancel, "cancel"}, {m_close, "close"}})
        w->setObjectName(QLatin1String(name));

    auto *options = new QGridLayout;
    options->addWidget(m_byPercent, 0, 0);
    options->addWidget(m_percent, 0, 1);
    options->addWidget(m_byEdge, 1, 0);
    options->addWidget(m_edge, 1, 1);
    options->addWidget(m_byFactor, 0, 2);
    options->addWidget(m_factor, 0, 3);
    options->addWidget(m_bySize, 1, 2);
    options->addWidget(m_targetKb, 1, 3);
    options->addWidget(m_shrink, 2, 2, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_start);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_files);
    layout->addLayout(options);
    layout->addWidget(m_folder);
    layout->addWidget(m_progress);
    layout->addWidget(m_summary);
    layout->addLayout(buttons);
    resize(640, 480);

    connect(m_start, &QPushButton::clicked, this, &BatchDialog::onStart);
    connect(m_cancel, &QPushButton::clicked, this, &BatchDialog::onCancel);
    connect(m_close, &QPushButton::clicked, this, &BatchDialog::close);
    m_start->setDefault(true);
    m_start->setEnabled(!m_collected.inputs.isEmpty());
}

BatchDialog::~BatchDialog()
{
    stopAndWait();
}

std::optional<BatchOptions> BatchDialog::readOptions()
{
    BatchOptions o;
    o.outputFolder = m_defaults.folder;
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
    return o;
}

void BatchDialog::onStart()
{
    std::optional<BatchOptions> options = readOptions();
    if (!options)
        return;
    m_planned = planOutputs(m_collected.inputs, *options);
    // One question for every output already there: replace them all, or
    // skip them. No input is among them: an output that is another input
    // is never replaced, and a source's own output gets another name.
    if (const int existing = existingOutputs(m_planned); existing > 0)
        options->overwrite = askYesNo(text::kBatchReplaceAll.arg(existing));
    m_done = 0;
    m_progress->setValue(0);
    m_summary->clear();
    for (int i = 0; i < m_planned.size(); ++i)
        m_files->topLevelItem(i)->setText(1, QString());
    m_start->setEnabled(false);
    m_cancel->setEnabled(true);
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
    if (outcome.status == BatchStatus::Written)
        item->setText(1, text::kBatchWritten.arg(kilobyteFigure(outcome.job.bytesWritten)).arg(outcome.job.factor)
                             .arg(outcome.job.width).arg(outcome.job.height));
    else
        item->setText(1, text::batchProblem(outcome, m_planned[index].output));
    item->setToolTip(1, item->text(1));
    m_progress->setValue(++m_done);
}

void BatchDialog::onFinished(bool stopped)
{
    m_task.wait();
    m_runner.reset();
    m_start->setEnabled(true);
    m_cancel->setEnabled(false);
    m_summary->setText(stopped ? text::kBatchStopped : text::kBatchDone);
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
