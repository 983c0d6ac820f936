#pragma once
#include "app/batchchoices.h"
#include "batch/batchjob.h"
#include "batch/collect.h"
#include "common/backgroundtask.h"
#include "texts/texts.h"

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
class QTreeWidgetItem;

namespace tovalin {

class BatchRunner;

// What the window hands a batch: the choices of a first use (its folder,
// mode and values) and where the dialog remembers its own.
struct BatchDefaults {
    BatchChoices firstUse;
    QString choicesPath;
};

// Many pictures at once from the window: the files, their size as a
// percentage or a long edge, the mode and value, the upload-safe options,
// where the files go, and each file's result as it ends, rows that need a
// look marked. Closing it during a batch stops the batch.
class BatchDialog : public QDialog {
    Q_OBJECT
public:
    BatchDialog(const QStringList &paths, const BatchDefaults &defaults, QWidget *parent = nullptr);
    ~BatchDialog() override;

    // Answered by the window's message boxes, file dialog and file
    // manager; replaceable by tests.
    std::function<void(const QString &)> showOk;
    std::function<bool(const QString &)> askYesNo;
    std::function<QString(const QString &start)> chooseFolder;
    std::function<void(const QString &folder)> openFolder;

    bool isRunning() const { return m_runner != nullptr; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:

    void buildControls(const BatchChoices &c);
    void wireSignals();
    void onStart();
    void onCancel();
    void onBrowse();
    void onOpenFolder();
    void onFileDone(int index, const BatchOutcome &outcome);
    void onFinished(bool stopped);
    void stopAndWait();
    void fillRows();
    void markRow(QTreeWidgetItem *item, const QString &mark, const QString &result);
    void showProblemsOnly();
    void showDestination();
    BatchChoices choices() const;
    bool readDestination(BatchOptions &o);
    std::optional<BatchOptions> readOptions();

    const QStringList m_paths;
    const QString m_choicesPath;
    Collected m_collected;
    QList<PlannedFile> m_planned;
    QString m_writtenInto; // the folder to open after a run
    std::int32_t m_target = 0; // size mode: the target in bytes
    std::unique_ptr<BatchRunner> m_runner;
    BackgroundTask<bool> m_task; // the run; its result: stopped
    int m_ended = 0;             // files the bar counts: those that ended on their own
    text::BatchCounts m_counts; // the run's, for its end line

    QTreeWidget *m_files;
    QCheckBox *m_problemsOnly;
    QRadioButton *m_byPercent, *m_byEdge, *m_byFactor, *m_bySize;
    QLineEdit *m_percent, *m_edge, *m_factor, *m_targetKb;
    QLabel *m_targetBytes;
    QCheckBox *m_shrink, *m_noEnlarge, *m_safeMetadata, *m_keepDate;
    QRadioButton *m_toFolder, *m_besideEach;
    QLineEdit *m_folder, *m_suffix;
    QPushButton *m_browse;
    QLabel *m_mirrored, *m_summary;
    QProgressBar *m_progress;
    QPushButton *m_start, *m_cancel, *m_openFolder, *m_close;
};

} // namespace tovalin
