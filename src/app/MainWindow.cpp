#include "MainWindow.h"

#include <algorithm>
#include <tuple>

#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenuBar>
#include <QLabel>
#include <QMessageBox>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include "ContentView.h"
#include "ControlsArea.h"
#include "ExaminationPdf.h"
#include "Explanations.h"
#include "ImagePanel.h"
#include "LocalFile.h"
#include "Palette.h"
#include "PacsReceiver.h"
#include "PictureView.h"
#include "LocalOperatingPoint.h"
#include "ReadingScreen.h"
#include "ReceiveDialog.h"
#include "ResultPanel.h"
#include "ValidationDialog.h"
#include "Worklist.h"
#include "orvix/DicomIdentity.h"
#include "orvix/Version.h"

namespace orvix::app {
namespace {

constexpr int kWorklistWidth = 580;

template <class T, class Fn>
std::function<void()> observe(State<T>& cell, Fn fn) {
    const std::size_t id = cell.observe([fn](const T&) { fn(); });
    return [cell, id]() mutable { cell.removeObserver(id); };
}

// "0.9912 (95 % CI 0.9871–0.9950)" or, for percentages (scale 100), "97.2 % (95 % CI 95.5–98.3 %)";
// "n/a" where the card has no figure (null).
QString interval(const QJsonArray& a, double scale, int decimals) {
    if (a.size() != 3) return QStringLiteral("n/a");
    const QString unit = scale == 100 ? QStringLiteral(" %") : QString();
    return QStringLiteral("%1%4 (95 % CI %2–%3%4)")
        .arg(a[0].toDouble() * scale, 0, 'f', decimals)
        .arg(a[1].toDouble() * scale, 0, 'f', decimals)
        .arg(a[2].toDouble() * scale, 0, 'f', decimals)
        .arg(unit);
}

// What a population key of the model card names, for the reader; a key without a known name is
// shown as it is, so that a population a retrained model adds appears with no change here.
QString populationName(const QString& key) {
    if (key == QLatin1String("paediatric")) return QStringLiteral("children");
    if (key == QLatin1String("adult")) return QStringLiteral("NIH adults");
    return key;
}

// "AUC 0.9912 (95 % CI …), sensitivity …, specificity …" of one validation record.
QString figures(const QJsonObject& v) {
    return QStringLiteral("AUC %1, sensitivity %2, specificity %3")
        .arg(interval(v.value("auc").toArray(), 1, 4), interval(v.value("sensitivity").toArray(), 100, 1),
             interval(v.value("specificity").toArray(), 100, 1));
}

// One model's name, labels and the validation figures its metadata carries.
QString validationLine(const Model& model) {
    const ModelMetadata& m = model.metadata();
    QStringList labels;
    for (const auto& l : m.classLabels) labels << QString::fromStdString(l);
    const QString head = QStringLiteral("<b>%1</b> (%2)").arg(QString::fromStdString(m.name), labels.join(", "));
    const auto provenance = QJsonDocument::fromJson(QByteArray::fromStdString(m.provenanceText)).object();
    if (provenance.value("fixture").toBool()) return head + QStringLiteral(": test fixture, not a trained classifier");
    const auto v = provenance.value("validation").toObject();
    // Pooled figures hide how differently the model does for children and adults: each population
    // the model card measured gets its own line, children and NIH adults first.
    const auto populations = v.value("perPopulation").toObject();
    if (populations.isEmpty())
        return head + QStringLiteral(": validation (%1 pictures): ").arg(v.value("n").toInt()) + figures(v);
    QStringList keys = populations.keys();
    std::stable_sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) {  // the others by name
        const auto rank = [](const QString& key) {
            return key == QLatin1String("paediatric") ? 0 : key == QLatin1String("adult") ? 1 : 2;
        };
        return rank(a) < rank(b);
    });
    QString line = head + QStringLiteral(": validation by population:");
    for (const QString& key : keys) {
        const auto population = populations.value(key).toObject();
        line += QStringLiteral("<br>&nbsp;&nbsp;%1 (%2 pictures): ")
                    .arg(populationName(key).toHtmlEscaped())
                    .arg(population.value("n").toInt()) +
                figures(population);
    }
    return line;
}

}  // namespace

MainWindow::MainWindow(DiagnosisState state, QWidget* parent) : QMainWindow(parent) {
    content_ = new ContentView(std::move(state), this);
    setCentralWidget(content_);
    updateTitle();
    connect(content_, &ContentView::reportEditedChanged, this, &QWidget::setWindowModified);
    reading_ = new ReadingScreen(content_->imagePanel());
    connect(reading_, &ReadingScreen::left, this, [this] {
        if (fullScreen_->isChecked()) fullScreen_->setChecked(false);
    });

    // Every action has a shortcut.
    // The worklist docks beside the picture, shown once something is put in it.
    worklist_ = new Worklist;
    worklistDock_ = new QDockWidget(QStringLiteral("Worklist"), this);
    worklistDock_->setObjectName("worklistDock");
    worklistDock_->setWidget(worklist_);
    worklistDock_->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    addDockWidget(Qt::LeftDockWidgetArea, worklistDock_);
    worklistDock_->hide();
    connect(worklist_, &Worklist::fileSelected, content_, [this](const std::filesystem::path& path) {
        openingRow_ = true;
        content_->importFile(path);
        openingRow_ = false;
    });

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Open…"), QKeySequence::Open, content_, &ContentView::upload);
    file->addAction(QStringLiteral("Open &Files…"), QKeySequence(QStringLiteral("Ctrl+Shift+O")), this, [this] {
        QFileDialog dialog(this, QStringLiteral("Open pictures into the worklist"), content_->importerFolder());
        dialog.setFileMode(QFileDialog::ExistingFiles);
        ContentView::prepareImporter(dialog);
        if (dialog.exec() != QDialog::Accepted) return;
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty()) return;
        content_->rememberFolder(QFileInfo(chosen.first()).absolutePath());
        std::vector<std::filesystem::path> paths;
        for (const QString& name : chosen) paths.push_back(localFilePath(name));
        addToWorklist(paths);
    });
    file->addAction(QStringLiteral("Open Fol&der…"), QKeySequence(QStringLiteral("Ctrl+Alt+O")), this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Open a folder into the worklist"), content_->importerFolder(),
            QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
        if (folder.isEmpty()) return;
        content_->rememberFolder(folder);
        addToWorklist({localFilePath(folder)});
    });
    save_ = file->addAction(QStringLiteral("&Save Report"), QKeySequence::Save, content_, &ContentView::save);
    export_ = file->addAction(QStringLiteral("&Export PDF…"), QKeySequence(QStringLiteral("Ctrl+E")), content_,
                              qOverload<>(&ContentView::exportPdf));
    print_ = file->addAction(QStringLiteral("&Print…"), QKeySequence::Print, this, qOverload<>(&MainWindow::print));
    // Off at every start: whether and as what the window receives is not remembered.
    receiver_ = new PacsReceiver(this);
    connect(receiver_, &PacsReceiver::filmReceived, this,
            [this](const std::filesystem::path& film) { addToWorklist({film}); });
    receive_ = file->addAction(QStringLiteral("&Receive from PACS…"));
    receive_->setCheckable(true);
    receive_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+R")));
    connect(receive_, &QAction::triggered, this, [this](bool checked) {
        if (!checked) {
            stopReceiving();
            return;
        }
        receive_->setChecked(false);  // until the dialog has started it
        ReceiveDialog dialog([this](const ReceiveSettings& s) { return startReceiving(s); }, this);
        dialog.exec();
    });
    // The pictures of this session only: nothing is written to remember them.
    recent_ = file->addMenu(QStringLiteral("Recent Fi&les"));
    recent_->setEnabled(false);
    connect(content_, &ContentView::pictureOpened, this, &MainWindow::rememberRecent);
    file->addSeparator();
    file->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, this, &QWidget::close);
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QAction* list = worklistDock_->toggleViewAction();
    list->setText(QStringLiteral("Show &Worklist"));
    list->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+W")));
    view->addAction(list);
    sidebar_ = view->addAction(QStringLiteral("Show &Sidebar"));
    sidebar_->setCheckable(true);
    sidebar_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+S")));
    connect(sidebar_, &QAction::toggled, content_, &ContentView::setSidebarShown);
    heatmap_ = view->addAction(QStringLiteral("Show &Heatmap"));
    heatmap_->setCheckable(true);
    heatmap_->setShortcut(QKeySequence(Qt::Key_H));
    connect(heatmap_, &QAction::toggled, content_, &ContentView::setHeatmapShown);
    PictureView* picture = content_->imagePanel()->picture();
    QMenu* opacity = view->addMenu(QStringLiteral("Heatmap &Opacity"));
    opacity->addAction(QStringLiteral("More &Opaque"), QKeySequence(Qt::Key_BracketRight), picture,
                       &PictureView::moreHeatmapOpacity);
    opacity->addAction(QStringLiteral("More &Transparent"), QKeySequence(Qt::Key_BracketLeft), picture,
                       &PictureView::lessHeatmapOpacity);
    // The picture box's own keys (+, -, 0, R, arrows) work while it has focus; these work anywhere.
    view->addSeparator();
    view->addAction(QStringLiteral("Zoom &In"), QKeySequence::ZoomIn, picture, &PictureView::zoomIn);
    view->addAction(QStringLiteral("Zoom &Out"), QKeySequence::ZoomOut, picture, &PictureView::zoomOut);
    view->addAction(QStringLiteral("&Fit Picture"), QKeySequence(QStringLiteral("Ctrl+0")), picture,
                    &PictureView::fitToBox);
    view->addAction(QStringLiteral("&Reset View and Window"), QKeySequence(QStringLiteral("Ctrl+R")), picture,
                    &PictureView::resetView);
    invert_ = view->addAction(QStringLiteral("&Invert"));
    invert_->setCheckable(true);
    invert_->setShortcut(QKeySequence(Qt::Key_I));
    connect(invert_, &QAction::toggled, picture, &PictureView::setInverted);
    QMenu* presets = view->addMenu(QStringLiteral("&Window Preset"));
    for (const auto& [name, preset, key] :
         {std::tuple{QStringLiteral("&Lung"), WindowPreset::Lung, QStringLiteral("Ctrl+1")},
          std::tuple{QStringLiteral("&Soft Tissue"), WindowPreset::SoftTissue, QStringLiteral("Ctrl+2")},
          std::tuple{QStringLiteral("&Bone"), WindowPreset::Bone, QStringLiteral("Ctrl+3")},
          std::tuple{QStringLiteral("The Picture's &Own (DICOM: the File's Window)"), WindowPreset::Own,
                     QStringLiteral("Ctrl+4")}})
        presets->addAction(name, QKeySequence(key), picture, [picture, preset] { picture->setWindowPreset(preset); });
    view->addSeparator();
    fullScreen_ = view->addAction(QStringLiteral("F&ull-Screen Reading"));
    fullScreen_->setCheckable(true);
    fullScreen_->setShortcut(QKeySequence(Qt::Key_F11));
    connect(fullScreen_, &QAction::toggled, this, &MainWindow::setFullScreenReading);
    dark_ = view->addAction(QStringLiteral("&Dark Theme"));
    dark_->setCheckable(true);
    dark_->setChecked(currentTheme() == Theme::Dark);
    dark_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+D")));
    connect(dark_, &QAction::toggled, this, [](bool dark) { applyTheme(dark ? Theme::Dark : Theme::Light); });
    // While reading full screen, the picture's keys and these work there too.
    reading_->addActions({heatmap_, invert_, fullScreen_});
    reading_->addActions(opacity->actions());
    reading_->addActions(presets->actions());
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->addAction(QStringLiteral("&Validate on Local Films…"), QKeySequence(QStringLiteral("Ctrl+Alt+V")), this,
                     [this] {
                         const QString folder = QFileDialog::getExistingDirectory(
                             this, QStringLiteral("Validate on a folder of films labelled NORMAL and PNEUMONIA"),
                             content_->importerFolder(), QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
                         if (folder.isEmpty()) return;
                         validateOnLocalFilms(localFilePath(folder));
                     });
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&Reading the result"), QKeySequence::WhatsThis, this,
                    &MainWindow::showReadingTheResult);
    help->addAction(QStringLiteral("&About Orvix"), QKeySequence::HelpContents, this,
                    [this] { QMessageBox::about(this, QStringLiteral("About Orvix"), aboutText()); });

    readout_ = new QLabel(this);
    readout_->setObjectName("viewReadout");
    statusBar()->addPermanentWidget(readout_);
    receiving_ = new QLabel(this);
    receiving_->setObjectName("receiving");
    statusBar()->addPermanentWidget(receiving_);
    receiving_->hide();
    connect(picture, &PictureView::viewChanged, this, &MainWindow::updateReadout);

    // A failed save or import is never silent.
    const auto warn = [this](const QString& title) {
        return [this, title](const QString& message) { QMessageBox::warning(this, title, message); };
    };
    connect(content_, &ContentView::saveFailed, this, warn(QStringLiteral("Report not saved")));
    connect(content_, &ContentView::importFailed, this, [this, warn](const QString& message) {
        // The worklist's row says why already; the status bar repeats it without taking the keys.
        if (openingRow_) statusBar()->showMessage(QString(message).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        else warn(QStringLiteral("Picture not analysed"))(message);
    });
    connect(content_, &ContentView::exportFailed, this, warn(QStringLiteral("PDF not written")));
    // A written PDF is confirmed with its file, as a saved report is in the results column.
    connect(content_, &ContentView::exported, this, [this](const QString& path) {
        QMessageBox::information(this, QStringLiteral("PDF exported"),
                                 QStringLiteral("The examination was exported as %1").arg(path));
    });

    DiagnosisState& s = content_->state();
    unobserve_.push_back(observe(s.fileName, [this] { updateTitle(); }));
    unobserve_.push_back(observe(s.origin, [this] { updateTitle(); }));
    unobserve_.push_back(observe(s.fullText, [this] { updateSaveActions(); }));
    unobserve_.push_back(observe(s.img, [this] { updateReadout(); }));
    for (State<std::string>* cell : {&s.classificationLabel, &s.classificationLabel2})
        unobserve_.push_back(observe(*cell, [this] { updateReadingVerdict(); }));
    unobserve_.push_back(observe(s.diseaseProbability, [this] { updateReadingVerdict(); }));
    updateSaveActions();
    updateReadout();
}

MainWindow::~MainWindow() {
    // Before the worklist goes: no film may arrive for it after.
    receiver_->stop();
    for (auto& remove : unobserve_) remove();
    reading_->leave();
    delete reading_;
}

void MainWindow::updateReadout() {
    // After the cell's other observers, which put the picture in the box.
    QTimer::singleShot(0, this, [this] {
        const PictureView* picture = content_->imagePanel()->picture();
        readout_->setText(picture->readout());
        // A reset or a new picture ends the inversion: the menu's check follows.
        invert_->setChecked(picture->inverted());
    });
}

void MainWindow::updateSaveActions() {
    const bool something = !content_->state().fullText.get().empty();
    for (QAction* action : {save_, export_, print_}) action->setEnabled(something);
    content_->controls()->save()->setEnabled(something);
}

void MainWindow::rememberRecent(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) absolute = path;
    std::erase(recentFiles_, absolute);
    recentFiles_.insert(recentFiles_.begin(), absolute);
    if (recentFiles_.size() > kRecentFiles) recentFiles_.resize(kRecentFiles);
    recent_->clear();
    for (std::size_t i = 0; i < recentFiles_.size(); ++i) {
        const std::filesystem::path file = recentFiles_[i];
        // &1 to &9, then &0: the tenth.
        QAction* action = recent_->addAction(
            QStringLiteral("&%1 %2")
                .arg((i + 1) % 10)
                .arg(QFile::decodeName(file.filename().c_str()).replace(QLatin1Char('&'), QStringLiteral("&&"))));
        action->setToolTip(QFile::decodeName(file.c_str()));
        connect(action, &QAction::triggered, content_, [this, file] { content_->importFile(file); });
    }
    recent_->setEnabled(true);
}

void MainWindow::setFullScreenReading(bool reading) {
    if (reading == reading_->reading()) return;
    if (reading) {
        updateReadingVerdict();
        reading_->enter();
    } else {
        reading_->leave();
    }
}

void MainWindow::updateReadingVerdict() {
    // After the result panel's own refresh, whose verdict it shows.
    QTimer::singleShot(0, this, [this] {
        const ResultPanel* panel = content_->controls()->resultPanel();
        const ThemeColours &shown = themeColours(), &dark = themeColours(Theme::Dark);
        const QLabel* label = panel->verdict()->isVisibleTo(panel)   ? panel->verdict()
                              : panel->message()->isVisibleTo(panel) ? panel->message()
                                                                     : nullptr;
        if (!label) return reading_->setVerdict({}, dark.text);
        // The same meaning in the dark theme's shade: the reading screen is black.
        const QColor colour = label->palette().color(QPalette::WindowText);
        const QColor onBlack = colour == shown.negative     ? dark.negative
                               : colour == shown.borderline ? dark.borderline
                               : colour == shown.positive   ? dark.positive
                                                            : dark.text;
        reading_->setVerdict(label->text(), onBlack);
    });
}

void MainWindow::print() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                      QPageLayout::Millimeter));
    printer.setDocName(QFile::decodeName(content_->state().fileName.get().c_str()));
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(QStringLiteral("Print the examination"));
    if (dialog.exec() != QDialog::Accepted) return;
    print(printer);
}

bool MainWindow::print(QPrinter& printer) {
    const Status printed = printExamination(content_->examination(), printer);
    if (!printed)
        QMessageBox::warning(this, QStringLiteral("Not printed"), QString::fromStdString(printed.error().message));
    return printed.ok();
}

void MainWindow::openArguments(const std::vector<std::filesystem::path>& paths) {
    if (paths.empty()) return;
    std::error_code ec;
    const bool folder = std::filesystem::is_directory(paths.front(), ec);
    if (!folder) content_->importFile(paths.front());
    if (folder || paths.size() > 1) addToWorklist(paths);
}

ValidationDialog* MainWindow::validateOnLocalFilms(const std::filesystem::path& folder) {
    auto* dialog = new ValidationDialog(processEnvironment, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &ValidationDialog::operatingPointChanged, this, [this] {
        // The picture on screen is decided again at the new point, unless its report holds edits
        // that a new report would replace.
        DiagnosisState& s = content_->state();
        if (!isChestXRay(s.classificationLabel2.get()) || s.classificationLabel.get().empty()) return;
        if (content_->reportEdited())
            QMessageBox::information(this, QStringLiteral("Operating point changed"),
                                     QStringLiteral("The picture on screen keeps its verdict and your edited report; "
                                                    "the next picture is decided at the new operating point."));
        else redecideAtActiveOperatingPoint(s);
    });
    dialog->show();
    dialog->start(folder);
    return dialog;
}

void MainWindow::addToWorklist(const std::vector<std::filesystem::path>& paths) {
    if (!worklistDock_->isVisible()) {
        // The list takes its room beside the window's content rather than out of it, where the
        // screen has the room.
        const int available = screen() ? screen()->availableGeometry().width() * 96 / 100 : width();
        resize(std::min(width() + kWorklistWidth, std::max(width(), available)), height());
        worklistDock_->show();
        resizeDocks({worklistDock_}, {kWorklistWidth}, Qt::Horizontal);
    }
    worklist_->add(paths);
}

void MainWindow::updateTitle() {
    const std::string& name = content_->state().fileName.get();
    const auto& dicom = content_->state().origin.get().dicom;
    // A DICOM picture's patient comes first: the one thing that must not be mistaken.
    const QString patient = dicom ? QString::fromStdString(patientSummary(*dicom)) : QString();
    // [*] shows as * while the report holds unsaved edits.
    setWindowTitle(name.empty()        ? QStringLiteral("Orvix[*]")
                   : patient.isEmpty() ? QString::fromStdString(name) + QStringLiteral("[*] \u2014 Orvix")
                                       : patient + QStringLiteral(" \u2014 ") + QString::fromStdString(name) +
                                             QStringLiteral("[*] \u2014 Orvix"));
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!content_->keepOrSaveEdits()) {
        event->ignore();
        return;
    }
    stopReceiving();
    event->accept();
}

Status MainWindow::startReceiving(const ReceiveSettings& settings) {
    if (const Status started = receiver_->start(settings); !started) return started;
    receive_->setChecked(true);
    receiving_->setText(QStringLiteral("Receiving as %1 on port %2")
                            .arg(QString::fromStdString(settings.server.aet))
                            .arg(settings.server.port));
    receiving_->show();
    return Done{};
}

void MainWindow::stopReceiving() {
    receiver_->stop();
    receive_->setChecked(false);
    receiving_->hide();
    receiving_->clear();
}

QString MainWindow::aboutText() const {
    const DiagnosisState& s = content_->state();
    return QStringLiteral(
               "<h3>Orvix %1</h3>"
               "<p>Screens a chest X-ray picture for pneumonia on this machine; nothing leaves it.</p>"
               "<p><b>Not for diagnostic use.</b></p>"
               "<p>%2<br>%3</p>"
               "<p>Trained on the paediatric chest X-rays of Kermany, Zhang, Goldbaum et al. (Cell 2018; "
               "Mendeley Data, doi:10.17632/rscbjbr9sj, CC BY 4.0) and adult chest X-rays of the NIH "
               "Clinical Center (ChestX-ray14, Wang et al. 2017) and, for the chest X-ray gate, on adult "
               "chest X-rays (COVID-19 image data collection, Actualmed and Figure 1 initiatives) and "
               "pictures of 24 other kinds. Validated only on held-back patients of those hospitals; on "
               "adults below the screening goal. See the model card for every source, licence and "
               "figure.</p>")
        .arg(QStringLiteral(ORVIX_VERSION), validationLine(s.model2->model), validationLine(s.model->model));
}

void MainWindow::showReadingTheResult() {
    QDialog page(this);
    page.setObjectName("readingTheResult");
    page.setWindowTitle(QStringLiteral("Reading the result"));
    auto* text = new QTextBrowser(&page);
    text->setMarkdown(readingTheResult());
    text->setOpenLinks(false);  // offline: the page has nothing to follow
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, &page);
    connect(close, &QDialogButtonBox::rejected, &page, &QDialog::reject);
    auto* layout = new QVBoxLayout(&page);
    layout->addWidget(text);
    layout->addWidget(close);
    page.resize(640, 480);
    page.exec();
}

QSize initialWindowSize(const QSize& available, int menuHeight) {
    // The frame and title bar take room the window manager decides; leave them 6 %.
    return QSize(std::min(1200, available.width() * 96 / 100),
                 std::min(800 + menuHeight, available.height() * 94 / 100));
}

}  // namespace orvix::app
