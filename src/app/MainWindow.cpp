#include "MainWindow.h"

#include <algorithm>

#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ContentView.h"
#include "Explanations.h"
#include "ImagePanel.h"
#include "LocalFile.h"
#include "PictureView.h"
#include "Worklist.h"
#include "orvix/DicomIdentity.h"
#include "orvix/Version.h"

namespace orvix::app {
namespace {

constexpr int kWorklistWidth = 380;

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
    fileNameObserver_ = content_->state().fileName.observe([this](const std::string&) { updateTitle(); });
    originObserver_ = content_->state().origin.observe([this](const PictureOrigin&) { updateTitle(); });
    connect(content_, &ContentView::reportEditedChanged, this, &QWidget::setWindowModified);

    // Every action has a shortcut.
    // The worklist docks beside the picture, shown once something is put in it.
    worklist_ = new Worklist;
    worklistDock_ = new QDockWidget(QStringLiteral("Worklist"), this);
    worklistDock_->setObjectName("worklistDock");
    worklistDock_->setWidget(worklist_);
    worklistDock_->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    addDockWidget(Qt::LeftDockWidgetArea, worklistDock_);
    worklistDock_->hide();
    connect(worklist_, &Worklist::fileSelected, content_,
            [this](const std::filesystem::path& path) { content_->importFile(path); });

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Open…"), QKeySequence::Open, content_, &ContentView::upload);
    file->addAction(QStringLiteral("Open &Files…"), QKeySequence(QStringLiteral("Ctrl+Shift+O")), this, [this] {
        const QStringList chosen = QFileDialog::getOpenFileNames(
            this, QStringLiteral("Open pictures into the worklist"), content_->importerFolder(),
            ContentView::importerNameFilters().join(";;"), nullptr, QFileDialog::DontUseNativeDialog);
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
    file->addAction(QStringLiteral("&Save Report"), QKeySequence::Save, content_, &ContentView::save);
    file->addAction(QStringLiteral("&Export PDF…"), QKeySequence(QStringLiteral("Ctrl+E")), content_,
                    qOverload<>(&ContentView::exportPdf));
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
    // The picture box's own keys (+, -, 0, R, arrows) work while it has focus; these work anywhere.
    view->addSeparator();
    PictureView* picture = content_->imagePanel()->picture();
    view->addAction(QStringLiteral("Zoom &In"), QKeySequence::ZoomIn, picture, &PictureView::zoomIn);
    view->addAction(QStringLiteral("Zoom &Out"), QKeySequence::ZoomOut, picture, &PictureView::zoomOut);
    view->addAction(QStringLiteral("&Fit Picture"), QKeySequence(QStringLiteral("Ctrl+0")), picture,
                    &PictureView::fitToBox);
    view->addAction(QStringLiteral("&Reset View and Window"), QKeySequence(QStringLiteral("Ctrl+R")), picture,
                    &PictureView::resetView);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&Reading the result"), QKeySequence::WhatsThis, this,
                    &MainWindow::showReadingTheResult);
    help->addAction(QStringLiteral("&About Orvix"), QKeySequence::HelpContents, this,
                    [this] { QMessageBox::about(this, QStringLiteral("About Orvix"), aboutText()); });

    // A failed save or import is never silent.
    const auto warn = [this](const QString& title) {
        return [this, title](const QString& message) { QMessageBox::warning(this, title, message); };
    };
    connect(content_, &ContentView::saveFailed, this, warn(QStringLiteral("Report not saved")));
    connect(content_, &ContentView::importFailed, this, warn(QStringLiteral("Picture not analysed")));
    connect(content_, &ContentView::exportFailed, this, warn(QStringLiteral("PDF not written")));
    // A written PDF is confirmed with its file, as a saved report is in the results column.
    connect(content_, &ContentView::exported, this, [this](const QString& path) {
        QMessageBox::information(this, QStringLiteral("PDF exported"),
                                 QStringLiteral("The examination was exported as %1").arg(path));
    });
}

MainWindow::~MainWindow() {
    content_->state().fileName.removeObserver(fileNameObserver_);
    content_->state().origin.removeObserver(originObserver_);
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
    if (content_->keepOrSaveEdits()) event->accept();
    else event->ignore();
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
