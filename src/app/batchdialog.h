#pragma once
#include "batch/batchjob.h"
#include "batch/collect.h"
#include "common/backgroundtask.h"

#include <QDialog>
#include <QList>
#include <QStringList>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace tovalin {

class BatchRunner;

// What the window hands a batch: its mode and value and its folder.
struct BatchDefaults {
    JobMode mode = JobMode::TargetSize;
    QString factor;
    QString targetKb;
    QString folder;
    int percent = 100;
};

// Many pictures at once from the window: the files, their size as a
// percentage or a long edge, the mode and value, the window's folder, each
// file's result as it ends. Closing it during a batch stops the batch.
class BatchDialog : public QDialog {
    Q_OBJECT
public:
    BatchDialog(const QStringList &paths, const BatchDefaults &defaults, QWidget *parent = nullptr);
    ~BatchDialog() override;

    // Answered by the window's message boxes; replaceable by tests.
    std::function<void(const QString &)> showOk;
    std::function<bool(const QString &)> askYesNo;

    bool isRunning() const { return m_runner != nullptr; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void onStart();
    void onCancel();
    void onFileDone(int index, const BatchOutcome &outcome);
    void onFinished(bool stopped);
    void stopAndWait();
    std::optional<BatchOptions> readOptions();

    Collected m_collected;
    QList<PlannedFile> m_planned;
    BatchDefaults m_defaults;
    std::unique_ptr<BatchRunner> m_runner;
    BackgroundTask<bool> m_task; // the run; its result: stopped
    int m_done = 0;

    QTreeWidget *m_files;
    QRadioButton *m_byPercent, *m_byEdge, *m_byFactor, *m_bySize;
    QLineEdit *m_percent, *m_edge, *m_factor, *m_targetKb;
    QCheckBox *m_shrink;
    QLabel *m_folder, *m_summary;
    QProgressBar *m_progress;
    QPushButton *m_start, *m_cancel, *m_close;
};

} // namespace tovalin
