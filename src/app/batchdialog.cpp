#include "app/batchdialog.h"

#include "batch/batchrunner.h"
#include "batch/collect.h"
#include "common/numbers.h"
#include "imaging/jpeg/jpeg.h"
#include "resize/jobfields.h"
#include "resize/sizesearch.h"
#include "texts/texts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
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
    : QDialog(parent), m_defaults(defaults)
{
    setObjectName(QStringLiteral("BatchDialog"));
    setWindowTitle(text::kBatchTitle);
    m_inputs = collectInputs(paths, true, QString()).inputs;

    m_files = new QTreeWidget(this);
    m_files->setObjectName(QStringLiteral("files"));
    m_files->setHeaderLabels({text::kBatchFile, text::kBatchResult});
    m_files->setRootIsDecorated(false);
    for (const BatchInput &input : m_inputs)
        new QTreeWidgetItem(m_files, {input.path, QString()});
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
    m_progress->setRange(0, int(m_inputs.size()));
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
    m_start->setEnabled(!m_inputs.isEmpty());
}

BatchDialog::~BatchDialog()
{
    stopAndWait();
}

std::optional<BatchOptions> BatchDialog::readOptions()
{
    BatchOptions o;
    o.outputFolder = m_defaults.folder;
    bool ok = false;
    if (m_byPercent->isChecked()) {
        o.size.kind = SizeRule::Scale;
        o.size.percent = m_percent->text().trimmed().toInt(&ok);
        if (!ok || o.size.percent < 1 || o.size.percent > 1000) {
            showOk(text::kBatchBadPercent);
            return std::nullopt;
        }
    } else {
        o.size.kind = SizeRule::LongEdge;
        o.size.edge = m_edge->text().trimmed().toInt(&ok);
        if (!ok || o.size.edge < 1 || o.size.edge > kMaxJpegSide) {
            showOk(text::kBatchBadEdge);
            return std::nullopt;
        }
    }
    if (m_byFactor->isChecked()) {
        const std::optional<int> q = factorFromText(m_factor->text());
        if (!q) {
            showOk(text::fieldProblem({FieldProblem::BadFactor}));
            return std::nullopt;
        }
        o.factor = *q;
    } else {
        const TargetReading t = targetFromText(m_targetKb->text());
        if (t.problem != FieldProblem::None) {
            showOk(text::fieldProblem({FieldProblem::BadTarget}));
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
    m_planned = planOutputs(m_inputs, *options);
    // One question for every output already there: replace them all, or
    // skip them. A source file is never among them (its output gets
    // another name).
    int existing = 0;
    for (const PlannedFile &p : m_planned)
        existing += p.conflict == BatchProblem::None && QFileInfo::exists(p.output);
    if (existing > 0)
        options->overwrite = askYesNo(text::kBatchReplaceAll.arg(existing));
    m_done = 0;
    m_progress->setValue(0);
    m_summary->clear();
    for (int i = 0; i < m_files->topLevelItemCount(); ++i)
        m_files->topLevelItem(i)->setText(1, QString());
    m_start->setEnabled(false);
    m_cancel->setEnabled(true);
    m_runner = std::make_unique<BatchRunner>(m_planned, *options, defaultJobs(), defaultBatchMemory(),
                                             [this](int index, const BatchOutcome &outcome) {
                                                 QMetaObject::invokeMethod(this, [this, index, outcome] { onFileDone(index, outcome); },
                                                                           Qt::QueuedConnection);
                                             });
    try {
        m_thread = std::thread([this] {
            m_runner->run();
            QMetaObject::invokeMethod(this, &BatchDialog::onFinished, Qt::QueuedConnection);
        });
    } catch (const std::system_error &) {
        m_runner->run(); // no thread to spare: the batch runs here
        onFinished();
    }
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

void BatchDialog::onFinished()
{
    if (m_thread.joinable())
        m_thread.join();
    const bool stopped = m_runner && m_runner->stopped();
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
    if (!m_thread.joinable())
        return;
    m_runner->stop();
    m_thread.join();
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
