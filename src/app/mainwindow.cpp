#include "app/mainwindow.h"

#include "app/messagebox.h"
#include "app/settingsfile.h"
#include "common/numbers.h"
#include "texts/texts.h"
#include "common/memorypolicy.h"
#include "common/savefile.h"
#include "intake/intake.h"
#include "common/samefile.h"
#include "preview/previewpage.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QProcess>
#include <QResizeEvent>
#include <QShortcut>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QUrl>

// Resources of a static library are linked in only when asked for by name.
static void initIconResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace tovalin {

namespace {

constexpr int kTwipsPerPixel = 15;

const QSize kDesignSize(6555 / kTwipsPerPixel, 7335 / kTwipsPerPixel);

// The icon's pictures, the same files that are installed for the desktop.
QIcon tovalinIcon()
{
    initIconResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/tovalin-%1.png").arg(size));
    return icon;
}

} // namespace

template <typename W>
W *FrmJpgResize::place(W *widget, const char *name, int left, int top, int width, int height)
{
    widget->setObjectName(QLatin1String(name));
    const QRect design(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel);
    widget->setGeometry(design);
    m_design.insert(widget, design);
    return widget;
}

FrmJpgResize::FrmJpgResize(const AppFolders &folders, const QStringList &openFiles, QWidget *parent) : QMainWindow(parent)
{
    showOk = [this](const QString &text) { showOkMessage(this, text); };
    askYesNoBox = [this](const QString &text) { return askYesNoQuestion(this, text); };
    askYesNoDefaultNo = [this](const QString &text) { return askYesNoQuestion(this, text, false); };
    chooseFile = [this] { return choosePictureFile(this); };
    chooseFolder = [this](const QString &start) { return chooseFolderFrom(this, start); };
    showBatch = [](BatchDialog &dialog) { dialog.exec(); };
    openInBrowser = [this](const QUrl &url) {
        openWithDesktop(url.toLocalFile());
        return true;
    };
    buildControls();
    wireSignals();
    startUp(folders, openFiles);
}

void FrmJpgResize::buildControls()
{
    setObjectName(QStringLiteral("FrmJpgResize"));
    setWindowTitle(text::kTitle);
    setWindowIcon(tovalinIcon());
    setFont(QFont(QStringLiteral("IPAGothic"), 9));
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    // The designed size is the smallest; growing gives the viewer and the
    // folder list more room (see layOut).
    setMinimumSize(kDesignSize);
    resize(kDesignSize);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Frame3 = place(new QGroupBox(text::kSizeFrame, client), "Frame3", 120, 0, 3015, 1815);
    vsElastic1 = place(new QWidget(Frame3), "vsElastic1", 120, 240, 2775, 1455);
    Opt_pixcel = place(new QRadioButton(text::kByPixels, vsElastic1), "Opt_pixcel", 90, 90, 2055, 270);
    Opt_pixcel->setChecked(true);
    (new QButtonGroup(this))->addButton(Opt_pixcel); // alone in its group
    Label1 = place(new QLabel(text::kWidth, vsElastic1), "Label1", 90, 420, 195, 270);
    TextYoko = place(new QLineEdit(vsElastic1), "TextYoko", 345, 420, 480, 270);
    Label2 = place(new QLabel(text::kHeight, vsElastic1), "Label2", 1140, 420, 210, 270);
    Texttate = place(new QLineEdit(vsElastic1), "Texttate", 1410, 420, 465, 270);
    Textritu = place(new QLineEdit(vsElastic1), "Textritu", 1935, 750, 480, 270);
    Label3 = place(new QLabel(QStringLiteral("%"), vsElastic1), "Label3", 2475, 750, 210, 270);
    HScroll1 = place(new QScrollBar(Qt::Horizontal, vsElastic1), "HScroll1", 90, 1080, 2595, 285);
    HScroll1->setRange(10, 200); // from 10 %: the slider alone never makes a zero size
    HScroll1->setValue(100);
    HScroll1->setSingleStep(1);
    HScroll1->setPageStep(1);
    HScroll1->setFocusPolicy(Qt::StrongFocus); // the arrow keys move it
    HScroll1->setInvertedControls(false);      // Left and Page Down make it smaller
    TextYoko->setEnabled(false);
    Texttate->setEnabled(false);
    HScroll1->setEnabled(false);

    Frame4 = place(new QGroupBox(text::kFileSizeFrame, client), "Frame4", 120, 1920, 3015, 1815);
    vsElastic2 = place(new QWidget(Frame4), "vsElastic2", 120, 240, 2535, 1455);
    OpRfakuta = place(new QRadioButton(text::kByFactor, vsElastic2), "OpRfakuta", 90, 90, 2355, 270);
    TextQfakuta = place(new QLineEdit(QStringLiteral("30"), vsElastic2), "TextQfakuta", 570, 420, 660, 270);
    Label4 = place(new QLabel(text::kFactor, vsElastic2), "Label4", 1290, 420, 660, 270);
    Opyouryou = place(new QRadioButton(text::kBySize, vsElastic2), "Opyouryou", 90, 750, 2355, 270);
    Textyouryou = place(new QLineEdit(QStringLiteral("40"), vsElastic2), "Textyouryou", 570, 1080, 660, 285);
    Label5 = place(new QLabel(QStringLiteral("Kb"), vsElastic2), "Label5", 1290, 1080, 420, 285);
    m_modeGroup = new QButtonGroup(this);
    m_modeGroup->addButton(OpRfakuta);
    m_modeGroup->addButton(Opyouryou);
    Opyouryou->setChecked(true);

    Frame1 = place(new QGroupBox(text::kFolderFrame, client), "Frame1", 3240, 0, 3255, 3735);
    Drive1 = place(new DriveSelector(Frame1), "Drive1", 120, 240, 3015, 300);
    Dir1 = place(new FolderList(Frame1), "Dir1", 120, 600, 3015, 2610);
    Text1 = place(new QLineEdit(text::kDefaultOutputName, Frame1), "Text1", 120, 3360, 3015, 270);

    vsElastic4 = place(new QWidget(client), "vsElastic4", 0, 3840, 6495, 3495);
    vsElastic4->setAccessibleName(text::kDropPanel);
    LEAD1 = place(new ImageViewer(&m_source, vsElastic4), "LEAD1", 90, 90, 3120, 2880);
    Label7 = place(new QLabel(text::kDropHere, vsElastic4), "Label7", 3270, 90, 3135, 360);
    Label_result = place(new FileLabel(vsElastic4), "Label_result", 3270, 510, 3135, 360);
    Label_Q = place(new QLabel(vsElastic4), "Label_Q", 3270, 930, 3135, 360);
    vsE_brouza = place(new QPushButton(text::kPreviewButton, vsElastic4), "vsE_brouza", 3270, 1350, 1530, 1200);
    vsE_Run = place(new QPushButton(text::kRunButton, vsElastic4), "vsE_Run", 4860, 1350, 1545, 1200);
    vs_crip = place(new QPushButton(text::kPasteButton, vsElastic4), "vs_crip", 3270, 2610, 1530, 360);
    vsE_END = place(new QPushButton(text::kExitButton, vsElastic4), "vsE_END", 4860, 2610, 1545, 360);
    Labelgenzaiti = place(new InfoLabel(vsElastic4), "Labelgenzaiti", 90, 3030, 6315, 375);

    for (QLabel *label : std::initializer_list<QLabel *>{Label7, Label_result, Label_Q})
        label->setWordWrap(true); // long Japanese captions take a second line
    // Return or Enter on a focused button presses it, as Space does.
    for (QPushButton *button : {vsE_brouza, vsE_Run, vs_crip, vsE_END})
        button->setAutoDefault(true);
    TextYoko->setAccessibleName(text::kWidth);
    Texttate->setAccessibleName(text::kHeight);
    Textritu->setAccessibleName(QStringLiteral("%"));
    TextQfakuta->setAccessibleName(text::kFactor);
    Textyouryou->setAccessibleName(QStringLiteral("Kb"));
    Text1->setAccessibleName(text::kOutputName);
    HScroll1->setAccessibleName(text::kSizeFrame);
    Drive1->setAccessibleName(text::kDrive);
    Dir1->setAccessibleName(text::kFolderFrame);
    Label_result->setAccessibleDescription(text::kResultLine);
    Label_Q->setAccessibleDescription(text::kFactorLine);
    Labelgenzaiti->setAccessibleDescription(text::kSourceLine);

    const QList<QWidget *> tabOrder{LEAD1, vsE_Run, vsE_END, Drive1, Dir1, Opt_pixcel, TextYoko, Texttate,
                                    Textyouryou, Opyouryou, TextQfakuta, OpRfakuta, vsE_brouza, HScroll1,
                                    Textritu, Text1, vs_crip};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    vsE_Run->setFocus(); // the first control of the tab order that takes the focus

    // The process's current volume and folder, before any handler is wired,
    // so the title stays "Tovalin" until the folder first changes.
    Drive1->selectVolumeOf(QDir::currentPath());
    Dir1->setPath(QDir::currentPath());
    m_lastStorableFolder = Dir1->path().contains(QLatin1Char('"')) ? QDir::homePath() : Dir1->path();
}

void FrmJpgResize::wireSignals()
{
    connect(LEAD1, &ImageViewer::pictureDropped, &m_source, &SourcePicture::loadFile);
    connect(LEAD1, &ImageViewer::batchDropped, this, &FrmJpgResize::onBatch);
    connect(&m_source, &SourcePicture::fileLoaded, this, &FrmJpgResize::onFileDropped);
    connect(&m_source, &SourcePicture::imageChanged, LEAD1, &ImageViewer::pictureChanged);
    connect(&m_source, &SourcePicture::imageChanged, this, &FrmJpgResize::onImageChanged);
    connect(&m_source, &SourcePicture::loadFailed, this, &FrmJpgResize::onLoadFailed);
    connect(&m_source, &SourcePicture::pasteFailed, this, &FrmJpgResize::onPasteFailed);
    connect(&m_source, &SourcePicture::loadingChanged, this, &FrmJpgResize::onLoadingChanged);
    connect(&m_progress, &QTimer::timeout, this, &FrmJpgResize::onJobProgress);
    connect(vs_crip, &QPushButton::clicked, this, &FrmJpgResize::onPaste);
    // A KB is 1024 bytes: the field says how many bytes its figure means.
    const auto showBytes = [this] { Textyouryou->setToolTip(text::kilobytesInBytes(Textyouryou->text())); };
    connect(Textyouryou, &QLineEdit::textChanged, this, showBytes);
    showBytes();
    connect(HScroll1, &QScrollBar::valueChanged, this, &FrmJpgResize::onSliderChanged);
    connect(Drive1, &QComboBox::currentIndexChanged, this, &FrmJpgResize::onDriveChanged);
    connect(Dir1, &FolderList::pathChanged, this, &FrmJpgResize::onFolderChanged);
    connect(vsE_Run, &QPushButton::clicked, this, &FrmJpgResize::onResize);
    connect(vsE_brouza, &QPushButton::clicked, this, &FrmJpgResize::onPreview);
    connect(vsE_END, &QPushButton::clicked, this, &FrmJpgResize::close);
    // Ctrl+V pastes as 「貼り付け」 does; a focused text field takes it first.
    connect(new QShortcut(QKeySequence::Paste, this), &QShortcut::activated, this, &FrmJpgResize::onPaste);
    // Ctrl+C copies the file written; a focused text field takes it first.
    connect(new QShortcut(QKeySequence::Copy, this), &QShortcut::activated, this, &FrmJpgResize::onCopyFile);
    connect(new QShortcut(QKeySequence::Open, this), &QShortcut::activated, this, &FrmJpgResize::onOpen);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &FrmJpgResize::onEscape);
}

void FrmJpgResize::startUp(const AppFolders &folders, const QStringList &openFiles)
{
    // At "/" the folder becomes empty, so joined names keep a single separator.
    const auto withoutSlash = [](QString folder) { return folder.endsWith(QLatin1Char('/')) ? folder.chopped(1) : folder; };
    m_state.appFolder = withoutSlash(folders.work);
    m_state.settingsPath = withoutSlash(folders.settings) + QLatin1Char('/') + kSettingsFileName;
    LEAD1->setDropOptions(true);
    vsE_brouza->setEnabled(false);
    if (openFiles.isEmpty()) {
        // Silent about a clipboard Tovalin cannot read: the user has not
        // asked for anything yet.
        pasteSequence(SourcePicture::Quietly);
    } else if (openFiles.size() == 1 && !QFileInfo(openFiles.front()).isDir()) {
        m_source.loadFile(QFileInfo(openFiles.front()).absoluteFilePath());
    }
    restoreSettings();
    // Several files: the batch opens once the window is up.
    if (openFiles.size() > 1 || (openFiles.size() == 1 && QFileInfo(openFiles.front()).isDir())) {
        QStringList absolute;
        for (const QString &f : openFiles)
            absolute << QFileInfo(f).absoluteFilePath();
        QTimer::singleShot(0, this, [this, absolute] { onBatch(absolute); });
    }
}

// Gives up quietly at the first failure; what was applied before it stays.
void FrmJpgResize::restoreSettings()
{
    // Only a regular file, and only as much as a settings file can hold: a
    // pipe would wait forever, a device never end.
    QFile file(m_state.settingsPath);
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return;
    const std::optional<SavedSettings> saved = parseSettings(file.read(kMaxSettingsBytes + 1));
    file.close();
    if (!saved)
        return;
    Drive1->selectVolumeOf(saved->folder);
    if (!Dir1->setPath(saved->folder))
        return;
    Textyouryou->setText(saved->targetSize);
}

// A message box shown from inside the close event is dismissed at once, so
// the window first refuses the close, shuts down with its messages shown,
// and then closes for good. The close is never refused in the end.
void FrmJpgResize::closeEvent(QCloseEvent *event)
{
    if (m_shutDown) {
        event->accept();
        return;
    }
    event->ignore();
    QTimer::singleShot(0, this, [this] {
        shutDown();
        close();
    });
}

void FrmJpgResize::shutDown()
{
    m_shutDown = true;
    // A run under way stops between encodings, before it writes anything.
    if (isRunning()) {
        cancelRun();
        onJobFinished(m_job.result());
    }
    LEAD1->setDropOptions(false);
    // A folder with a double quote cannot be written in the settings line:
    // the last folder that can is written with the target size instead.
    const QString folder = Dir1->path().contains(QLatin1Char('"')) ? m_lastStorableFolder : Dir1->path();
    const SaveError saved = writeFileReplacing(m_state.settingsPath, formatSettings({folder, Textyouryou->text()}));
    if (saved != SaveError::None)
        showMessage(text::kSettingsSaveFailed.arg(m_state.settingsPath, text::saveProblem(saved)));
    if (!m_state.previewPath.isEmpty())
        QFile::remove(m_state.previewPath); // a page already gone is fine
}

// Stops the run under way between two encodings, before it writes anything.
void FrmJpgResize::cancelRun()
{
    m_control->cancel = true;
    m_job.wait();
}

void FrmJpgResize::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    layOut();
}

// Extra width goes to the folder frame and the viewer; extra height half to
// the folder list and half to the viewer. Everything else keeps its place
// relative to them.
void FrmJpgResize::layOut()
{
    const QSize client = centralWidget()->size();
    const int dx = std::max(0, client.width() - kDesignSize.width());
    const int dy = std::max(0, client.height() - kDesignSize.height());
    const int dyTop = dy / 2, dyBottom = dy - dyTop;
    auto set = [this](QWidget *w, int moveX, int moveY, int growX, int growY) {
        const QRect d = m_design.value(w);
        w->setGeometry(d.x() + moveX, d.y() + moveY, d.width() + growX, d.height() + growY);
    };
    set(Frame1, 0, 0, dx, dyTop);
    set(Drive1, 0, 0, dx, 0);
    set(Dir1, 0, 0, dx, dyTop);
    set(Text1, 0, dyTop, dx, 0);
    set(vsElastic4, 0, dyTop, dx, dyBottom);
    set(LEAD1, 0, 0, dx, dyBottom);
    for (QWidget *w : std::initializer_list<QWidget *>{Label7, Label_result, Label_Q, vsE_brouza, vsE_Run, vs_crip, vsE_END})
        set(w, dx, 0, 0, 0);
    set(Labelgenzaiti, 0, dyBottom, dx, 0);
}

void FrmJpgResize::openWithDesktop(const QString &path)
{
    auto *process = new QProcess(this);
    auto failed = [this, process, path] {
        showMessage(text::kBrowserFailed.arg(path));
        process->deleteLater();
    };
    connect(process, &QProcess::errorOccurred, this, [failed](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            failed();
    });
    connect(process, &QProcess::finished, this, [process, failed](int code, QProcess::ExitStatus status) {
        if (code != 0 || status != QProcess::NormalExit)
            failed();
        else
            process->deleteLater();
    });
    process->start(QStringLiteral("xdg-open"), {path});
}

void FrmJpgResize::onFileDropped(const QString &path)
{
    m_state.sourcePath = path;
    m_state.outputName = derivedOutputName(path);
    Text1->setText(m_state.outputName.mid(1));
    // Every dropped file gets its information line; only pastes skip it.
    m_state.skipSourceInfo = 0;
}

void FrmJpgResize::onImageChanged()
{
    if (m_state.skipSourceInfo == 0)
        Labelgenzaiti->setText(sourceInfoLine(m_state.sourcePath));
    m_work.assignFrom(m_source.holder());
    TextYoko->setEnabled(true);
    Texttate->setEnabled(true);
    HScroll1->setEnabled(true);
    TextYoko->setText(decimalText(scaledDimension(m_source.holder().width(), HScroll1->value())));
    Texttate->setText(decimalText(scaledDimension(m_source.holder().height(), HScroll1->value())));
    Textritu->setText(decimalText(HScroll1->value()));
}

void FrmJpgResize::onLoadFailed(const QString &path, DecodeError error, QSize size)
{
    showMessage(text::kLoadFailed.arg(path, text::decodeProblem(error, size)));
}

void FrmJpgResize::onPasteFailed(DecodeError error, QSize size)
{
    showMessage(text::kPasteFailed.arg(text::decodeProblem(error, size)));
}

void FrmJpgResize::onLoadingChanged(bool loading)
{
    setBusy(loading);
}

void FrmJpgResize::onPaste()
{
    pasteSequence(SourcePicture::Reporting);
}

// The file written, for a file manager or a browser's upload field.
void FrmJpgResize::onCopyFile()
{
    const QString path = Label_result->file();
    if (!path.isEmpty() && QFileInfo(path).isFile())
        QApplication::clipboard()->setMimeData(fileMimeData(path));
}

void FrmJpgResize::pasteSequence(SourcePicture::PasteMode mode)
{
    m_state.skipSourceInfo = 0;
    if (!m_source.canPaste())
        return;
    m_state.skipSourceInfo = 1;
    m_source.paste(mode);
}

void FrmJpgResize::onSliderChanged(int value)
{
    TextYoko->setText(decimalText(scaledDimension(m_source.holder().width(), value)));
    Texttate->setText(decimalText(scaledDimension(m_source.holder().height(), value)));
    Textritu->setText(decimalText(value));
}

void FrmJpgResize::onDriveChanged()
{
    const QString drive = Drive1->drive();
    if (!Dir1->setPath(m_lastFolderOnVolume.value(drive, drive)))
        Dir1->setPath(drive);
}

void FrmJpgResize::onFolderChanged(const QString &path)
{
    m_lastFolderOnVolume[Drive1->drive()] = path;
    if (!path.contains(QLatin1Char('"')))
        m_lastStorableFolder = path;
    setWindowTitle(text::titleWithFolder(path));
}

// folder + "/" + name, with one separator at the root folder.
static QString joinedPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

void FrmJpgResize::onResize()
{
    if (isRunning())
        return;
    setBusy(true);
    if (!m_work.hasImage()) {
        showMessage(text::kNoImage);
        setBusy(false);
        return;
    }
    const JobFields fields = readJobFields({TextYoko->text(), Texttate->text(),
                                            OpRfakuta->isChecked() ? JobMode::Factor : JobMode::TargetSize,
                                            TextQfakuta->text(), Textyouryou->text()});
    if (fields.problem != FieldProblem::None) {
        showMessage(text::fieldProblem(fields));
        setBusy(false);
        return;
    }
    vsE_brouza->setEnabled(true);
    m_state.outputPath = joinedPath(Dir1->path(), Text1->text());
    const QFileInfo existing(m_state.outputPath);
    if (Text1->text().isEmpty() || existing.isDir()) {
        showMessage(Text1->text().isEmpty() ? text::kNoOutputName : text::kOutputIsFolder.arg(m_state.outputPath));
        setBusy(false);
        return;
    }
    // The very file the picture came from (also through a link, or by a
    // name differing only in case on a camera card) is asked about first.
    // A run again at the size offered replaces the file just written.
    if (!m_rerunShrunk && sameFile(m_state.outputPath, m_state.sourcePath) && !askYesNoDefaultNo(text::kReplaceSource.arg(m_state.outputPath))) {
        setBusy(false);
        vsE_Run->setFocus();
        return;
    }
    // Any existing entry of that name counts, hidden files included.
    if (!m_rerunShrunk && (existing.exists() || existing.isSymLink()) && !askYesNoBox(text::kOverwrite)) {
        setBusy(false);
        vsE_Run->setFocus();
        return;
    }
    m_work.assignFrom(m_source.holder());
    m_request = ResizeRequest();
    m_request.source = m_work.image();
    m_request.settings = fields.settings;
    m_request.outputPath = m_state.outputPath;
    m_request.workFolder = m_state.appFolder;
    // In size mode a smaller size is offered where the target is missed or
    // met only past the quality floor; a run at the size offered is final.
    m_request.shrink = m_rerunShrunk ? ShrinkMode::Off : ShrinkMode::Suggest;
    m_rerunShrunk = false;
    m_control = std::make_shared<JobControl>();
    m_resultBeforeRun = Label_result->text();
    m_fileBeforeRun = Label_result->file();
    Label_result->setText(text::kWorking);
    Label_result->setFile(QString());
    // The disabled button would hand its focus on to 「終了」: the panel
    // holds it during the run, and the window takes no input but Escape
    // and its close box until the run ends.
    vsElastic4->setFocus();
    vsE_Run->setEnabled(false);
    qApp->installEventFilter(this);
    m_progress.start(100);
    m_job.start([request = m_request, control = m_control] { return runResizeJob(request, control.get()); });
}

void FrmJpgResize::onJobProgress()
{
    const int trials = m_control ? m_control->trials.load() : 0;
    const int sizes = m_control ? m_control->shrinkSteps.load() : 0;
    Label_result->setText(sizes > 0 ? text::kSearchingSize.arg(sizes) : trials > 0 ? text::kTrying.arg(trials) : text::kWorking);
}

void FrmJpgResize::onJobFinished(const ResizeResult &result)
{
    if (!m_control) // already handled when the run was stopped
        return;
    endRun();
    if (result.failure == JobFailure::Cancelled) {
        Label_result->setText(text::kRunStopped);
        return;
    }
    if (result.failure != JobFailure::None) {
        Label_result->setText(m_resultBeforeRun);
        Label_result->setFile(m_fileBeforeRun);
        const QString problem = text::jobProblem(result);
        showMessage(result.failure == JobFailure::SaveFailed ? text::kSaveFailed.arg(m_state.outputPath, problem) : problem);
        return;
    }
    // A size-mode file over its target says so beside the result, so that
    // a declined smaller size never reads as success.
    const qint64 over = m_request.settings.mode == JobMode::TargetSize ? result.bytesWritten - m_request.settings.targetBytes : 0;
    Label_result->setText(text::resultText(result.bytesWritten) + (over > 0 ? text::kOverTargetBy.arg(over) : QString()));
    Label_result->setFile(m_state.outputPath);
    Label_Q->setText(m_request.settings.mode == JobMode::Factor ? QString() : text::factorText(result.factor));
    if (result.suggestedSize.isValid()) {
        // A smaller size meets the target without visible blocks: offered,
        // and run at once on はい, over the file just written.
        const QString why = over > 0 ? text::kMissedBy.arg(m_request.settings.targetBytes).arg(over)
                                     : text::kMetPastFloor.arg(result.factor);
        const bool take = askYesNoDefaultNo(why + text::kShrinkOffer.arg(m_request.shrinkFloor)
                                                      .arg(result.suggestedSize.width())
                                                      .arg(result.suggestedSize.height()));
        vsE_Run->setFocus();
        if (!take)
            return;
        showOfferedSize(result.suggestedSize);
        m_rerunShrunk = true;
        onResize();
        return;
    }
    if (result.shrinkFailed)
        showMessage(text::kShrinkNone.arg(m_request.shrinkFloor).arg(m_request.settings.targetBytes));
    else if (result.overTarget)
        showMessage(text::kUnreachable.arg(m_request.settings.targetBytes).arg(result.bytesWritten));
}

// The size taken from the smaller-size question: the width and height as
// offered, the percentage they are of the source, and the slider at it
// (within its range) without its handler, which would rewrite the fields.
void FrmJpgResize::showOfferedSize(QSize size)
{
    TextYoko->setText(decimalText(size.width()));
    Texttate->setText(decimalText(size.height()));
    const int percent = int(std::lround(100.0 * size.width() / std::max<double>(1, m_source.holder().width())));
    Textritu->setText(decimalText(percent));
    const QSignalBlocker quiet(HScroll1);
    HScroll1->setValue(std::clamp(percent, HScroll1->minimum(), HScroll1->maximum()));
}

// While a run is going the window takes no input but Escape and its close
// box: keys (and the shortcuts they would start), clicks, wheel turns and
// drops on its widgets are dropped, so that a second Return cannot reach
// 「終了」, nor Ctrl+V replace the picture under the run.
bool FrmJpgResize::eventFilter(QObject *watched, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!isRunning() || !widget || widget->window() != this)
        return false;
    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            return false;
        event->accept(); // accepted, a shortcut override starts no shortcut
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

// Several pictures dropped, a folder, or several opened with Tovalin.
void FrmJpgResize::onBatch(const QStringList &paths)
{
    BatchDefaults defaults;
    BatchChoices &first = defaults.firstUse;
    first.mode = OpRfakuta->isChecked() ? JobMode::Factor : JobMode::TargetSize;
    first.factor = TextQfakuta->text();
    first.targetKb = Textyouryou->text();
    first.folder = Dir1->path();
    first.percent = QString::number(HScroll1->value());
    defaults.choicesPath = QFileInfo(m_state.settingsPath).absolutePath() + QLatin1Char('/') + kBatchChoicesFileName;
    BatchDialog dialog(paths, defaults, this);
    dialog.showOk = showOk;
    dialog.askYesNo = askYesNoBox;
    dialog.chooseFolder = chooseFolder;
    dialog.openFolder = [this](const QString &folder) { openInBrowser(QUrl::fromLocalFile(folder)); };
    showBatch(dialog);
}

void FrmJpgResize::endRun()
{
    qApp->removeEventFilter(this);
    m_control.reset();
    m_progress.stop();
    vsE_Run->setEnabled(true);
    if (!m_shutDown)
        vsE_Run->setFocus();
    setBusy(false);
    m_request.source = QImage();
    returnFreedMemory();
}

// Escape stops a run under way before it writes anything.
void FrmJpgResize::onEscape()
{
    if (!isRunning())
        return;
    cancelRun();
    onJobFinished(m_job.result());
}

// Ctrl+O: a picture chosen in a file dialog is loaded as a drop would be.
void FrmJpgResize::onOpen()
{
    const QString path = chooseFile();
    if (!path.isEmpty())
        m_source.loadFile(QFileInfo(path).absoluteFilePath());
}

void FrmJpgResize::onPreview()
{
    m_state.previewPath = previewPagePath(Dir1->path());
    if (m_state.outputPath.isEmpty()) {
        showMessage(text::kNoConversion);
        return;
    }
    const SaveError written = writeFileReplacing(m_state.previewPath, previewPageBytes(m_state.outputPath));
    if (written != SaveError::None) {
        showMessage(text::kPageSaveFailed.arg(m_state.previewPath, text::saveProblem(written)));
        return;
    }
    if (!openInBrowser(QUrl::fromLocalFile(m_state.previewPath)))
        showMessage(text::kBrowserFailed.arg(m_state.previewPath));
}

void FrmJpgResize::setBusy(bool busy)
{
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++m_busy;
    } else if (m_busy > 0) {
        QApplication::restoreOverrideCursor();
        --m_busy;
    }
}

FrmJpgResize::~FrmJpgResize()
{
    if (isRunning())
        cancelRun();
    while (m_busy > 0)
        setBusy(false);
}

void FrmJpgResize::showMessage(const QString &text)
{
    showOk(text);
}

} // namespace tovalin
