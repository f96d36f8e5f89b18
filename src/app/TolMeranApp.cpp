#include "TolMeranApp.h"

#include <QApplication>
#include <QCloseEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenuBar>
#include <QMessageBox>

#include "ContentView.h"

namespace orvix::app {
namespace {

// "0.9912 (95 % CI 0.9871–0.9950)", values scaled (100 for percentages).
QString interval(const QJsonArray& a, double scale, int decimals) {
    if (a.size() != 3) return QStringLiteral("n/a");
    return QStringLiteral("%1 (95 % CI %2–%3)")
        .arg(a[0].toDouble() * scale, 0, 'f', decimals)
        .arg(a[1].toDouble() * scale, 0, 'f', decimals)
        .arg(a[2].toDouble() * scale, 0, 'f', decimals);
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
    return head + QStringLiteral(": validation (%1 pictures): AUC %2, sensitivity %3 %, specificity %4 %")
                      .arg(v.value("n").toInt())
                      .arg(interval(v.value("auc").toArray(), 1, 4), interval(v.value("sensitivity").toArray(), 100, 1),
                           interval(v.value("specificity").toArray(), 100, 1));
}

}  // namespace

MainWindow::MainWindow(DiagnosisState state, QWidget* parent) : QMainWindow(parent) {
    content_ = new ContentView(std::move(state), this);
    setCentralWidget(content_);
    updateTitle();
    fileNameObserver_ = content_->state().fileName.observe([this](const std::string&) { updateTitle(); });
    connect(content_, &ContentView::reportEditedChanged, this, &QWidget::setWindowModified);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Open…"), QKeySequence::Open, content_, &ContentView::upload);
    file->addAction(QStringLiteral("&Save Report"), QKeySequence::Save, content_, &ContentView::save);
    file->addAction(QStringLiteral("&Export PDF…"), content_, qOverload<>(&ContentView::exportPdf));
    file->addSeparator();
    file->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, this, &QWidget::close);
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    heatmap_ = view->addAction(QStringLiteral("Show &Heatmap"));
    heatmap_->setCheckable(true);
    heatmap_->setShortcut(QKeySequence(Qt::Key_H));
    connect(heatmap_, &QAction::toggled, content_, &ContentView::setHeatmapShown);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About Orvix"), this,
                    [this] { QMessageBox::about(this, QStringLiteral("About Orvix"), aboutText()); });

    // A failed save or import is never silent.
    const auto warn = [this](const QString& title) {
        return [this, title](const QString& message) { QMessageBox::warning(this, title, message); };
    };
    connect(content_, &ContentView::saveFailed, this, warn(QStringLiteral("Report not saved")));
    connect(content_, &ContentView::importFailed, this, warn(QStringLiteral("Picture not analysed")));
    connect(content_, &ContentView::exportFailed, this, warn(QStringLiteral("PDF not written")));
}

MainWindow::~MainWindow() { content_->state().fileName.removeObserver(fileNameObserver_); }

void MainWindow::updateTitle() {
    const std::string& name = content_->state().fileName.get();
    // [*] shows as * while the report holds unsaved edits.
    setWindowTitle(name.empty() ? QStringLiteral("Orvix[*]")
                                : QString::fromStdString(name) + QStringLiteral("[*] \u2014 Orvix"));
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (content_->keepOrSaveEdits()) event->accept();
    else event->ignore();
}

QString MainWindow::aboutText() const {
    const DiagnosisState& s = content_->state();
    return QStringLiteral("<h3>Orvix %1</h3>"
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

int tolMeranApp::main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvix"));
    QApplication::setApplicationVersion(QStringLiteral(ORVIX_VERSION));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("orvix")));

    auto state = DiagnosisState::create();
    if (!state) {
        QMessageBox::critical(nullptr, QStringLiteral("Orvix cannot start"),
                              QStringLiteral("A classifier could not be loaded.\n\n") +
                                  QString::fromStdString(state.error().message));
        return 1;
    }
    MainWindow window(std::move(state).value());
    window.resize(1200, 800 + window.menuBar()->sizeHint().height());
    window.show();
    // QApplication has taken its own options out of argv; the file name stays the bytes given.
    if (argc > 1) window.contentView()->importFile(argv[1]);
    return QApplication::exec();
}

}  // namespace orvix::app
