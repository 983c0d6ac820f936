#pragma once
#include "app/appfolder.h"
#include "app/batchdialog.h"
#include "app/folderpicker.h"
#include "app/imageviewer.h"
#include "app/sourcepicture.h"
#include "app/infolabel.h"
#include "app/filelabel.h"
#include "app/formstate.h"
#include "common/backgroundtask.h"
#include "imaging/image.h"
#include "resize/resizejob.h"

#include <QTimer>
#include <memory>

#include <QHash>
#include <QMainWindow>
#include <QMap>
#include <functional>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QUrl;

namespace tovalin {

// The one window: every control, the form state, and the handlers.
class FrmJpgResize : public QMainWindow {
    Q_OBJECT
public:
    // `openFiles`: pictures named on the command line ("Open with"): one is
    // taken as if it had been dropped instead of the start-up paste;
    // several open a batch.
    explicit FrmJpgResize(const AppFolders &folders, const QStringList &openFiles = {}, QWidget *parent = nullptr);
    ~FrmJpgResize() override;

    const FormState &state() const { return m_state; }
    const ImageHolder &workImage() const { return m_work; }
    const SourcePicture &source() const { return m_source; }

    // Message boxes and the browser, replaceable so tests can answer them.
    std::function<void(const QString &)> showOk;
    std::function<bool(const QString &)> askYesNoBox;
    std::function<bool(const QUrl &)> openInBrowser;
    // The file dialog of Ctrl+O: the chosen picture, or empty.
    std::function<QString()> chooseFile;
    // The batch dialog's folder browser: the folder chosen, or empty.
    std::function<QString(const QString &start)> chooseFolder;
    // A question whose safe answer is いいえ: that is its default.
    std::function<bool(const QString &)> askYesNoDefaultNo;
    // Shows a batch dialog until it is closed.
    std::function<void(BatchDialog &)> showBatch;
    // Opens a file with the desktop's program for it (xdg-open); says so
    // when that fails.
    void openWithDesktop(const QString &path);

    bool isRunning() const { return m_control != nullptr; }
    bool isShutDown() const { return m_shutDown; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildControls();
    void wireSignals();
    void startUp(const AppFolders &folders, const QStringList &openFiles);
    void restoreSettings();
    void shutDown();
    void cancelRun();
    void layOut();
    template <typename W>
    W *place(W *widget, const char *name, int left, int top, int width, int height);

    void onFileDropped(const QString &path);
    void onImageChanged();
    void onLoadFailed(const QString &path, DecodeError error, QSize size);
    void onPasteFailed(DecodeError error, QSize size);
    void onLoadingChanged(bool loading);
    void onPaste();
    void onCopyFile();
    void pasteSequence(SourcePicture::PasteMode mode);
    void onOpen();
    void onBatch(const QStringList &paths);
    void onEscape();
    void onSliderChanged(int value);
    void onDriveChanged();
    void onFolderChanged(const QString &path);
    void onResize();
    void onJobProgress();
    void onJobFinished(const ResizeResult &result);
    void onPreview();

    void endRun();
    void showOfferedSize(QSize size);
    void setBusy(bool busy);
    void showMessage(const QString &text);

    FormState m_state;
    ImageHolder m_work; // LEAD2
    QMap<QString, QString> m_lastFolderOnVolume;
    QString m_lastStorableFolder; // the last destination the settings line can hold
    bool m_shutDown = false;
    std::shared_ptr<JobControl> m_control;
    ResizeRequest m_request; // the run under way
    bool m_rerunShrunk = false; // the run replaces the file just written, at the size offered
    QString m_resultBeforeRun;
    QString m_fileBeforeRun;
    QTimer m_progress;
    SourcePicture m_source;
    BackgroundTask<ResizeResult> m_job{this, [this](const ResizeResult &r) { onJobFinished(r); }};
    int m_busy = 0; // busy pointers shown and not yet restored
    QHash<QWidget *, QRect> m_design; // each control's place at the designed size

    QGroupBox *Frame3, *Frame4, *Frame1;
    QWidget *vsElastic1, *vsElastic2, *vsElastic4;
    QRadioButton *Opt_pixcel, *OpRfakuta, *Opyouryou;
    QButtonGroup *m_modeGroup;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label7, *Label_Q;
    FileLabel *Label_result;
    InfoLabel *Labelgenzaiti;
    QLineEdit *TextYoko, *Texttate, *Textritu, *TextQfakuta, *Textyouryou, *Text1;
    QScrollBar *HScroll1;
    DriveSelector *Drive1;
    FolderList *Dir1;
    ImageViewer *LEAD1;
    QPushButton *vsE_brouza, *vsE_Run, *vs_crip, *vsE_END;
};

} // namespace tovalin
