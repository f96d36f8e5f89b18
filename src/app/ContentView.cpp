#include "ContentView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include "ControlsArea.h"
#include "DialogSettings.h"
#include "Explanations.h"
#include "ImagePanel.h"
#include "LocalOperatingPoint.h"
#include "LocalFile.h"
#include "Palette.h"
#include "PictureView.h"
#include "ResultPanel.h"
#include "SideBar.h"
#include "TextEditingView.h"
#include "orvix/DicomIdentity.h"
#include "orvix/Heatmap.h"
#include "orvix/Report.h"
#include "orvix/ImageDecoder.h"
#include "orvix/PictureSearch.h"

namespace orvix::app {
namespace {

constexpr int kSidebarWidth = 220;

template <class T, class Fn>
std::function<void()> observe(State<T>& cell, Fn fn) {
    const std::size_t id = cell.observe([fn](const T&) { fn(); });
    return [cell, id]() mutable { cell.removeObserver(id); };
}

}  // namespace

ContentView::ContentView(DiagnosisState state, QWidget* parent)
    : QWidget(parent), state_(std::move(state)), sidebar_(new sideBar(Binding<std::int64_t>(state_.option), this)),
      scroll_(new QScrollArea(this)), detail_(new QWidget), imagePanel_(new ImagePanel(state_, detail_)),
      resultsColumn_(new QWidget(detail_)), controls_(new ControlsArea(state_, resultsColumn_)),
      blankBox_(new QWidget(resultsColumn_)), identity_(new QLabel(this)) {
    setObjectName("ContentView");
    setAcceptDrops(true);
    // Before the first file dialog that this screen or its window opens.
    keepDialogSettingsInMemory();
    sidebar_->setFixedWidth(kSidebarWidth);
    sidebar_->setObjectName("sidebar");

    // Results column: controls box, divider (drawn over their common edge), the blank lower box
    // (one empty text): 0.7 H + 0.3 H.
    auto* results = new QVBoxLayout(resultsColumn_);
    results->setContentsMargins(0, 0, 0, 0);
    results->setSpacing(0);
    results->addWidget(controls_, 0, Qt::AlignHCenter);
    results->addWidget(blankBox_, 0, Qt::AlignHCenter);
    resultsDivider_ = makeDivider(Qt::Horizontal, resultsColumn_);
    (new QVBoxLayout(blankBox_))->addWidget(new QLabel(QString(), blankBox_), 0, Qt::AlignCenter);
    blankBox_->layout()->setContentsMargins(0, 0, 0, 0);
    resultsColumn_->setObjectName("resultsColumn");
    blankBox_->setObjectName("blankBox");

    // Detail: image column | results column, at its own full size inside the scroll area; the
    // divider between them is drawn over their common edge, so that the two halves make W.
    auto* row = new QHBoxLayout(detail_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(imagePanel_);
    row->addWidget(resultsColumn_);
    columnDivider_ = makeDivider(Qt::Vertical, detail_);
    detail_->setObjectName("detail");
    scroll_->setWidget(detail_);
    scroll_->setWidgetResizable(false);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setObjectName("detailScroll");

    // The patient and study of a DICOM picture on one line above everything else; hidden (taking
    // no room) for other pictures.
    identity_->setObjectName("identityLine");
    identity_->setTextFormat(Qt::PlainText);
    identity_->setContentsMargins(8, 3, 8, 3);
    identity_->setAccessibleName(QStringLiteral("Patient and study"));
    identity_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    identity_->setVisible(false);
    auto* columns = new QVBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    columns->addWidget(identity_);
    columns->addWidget(scroll_);
    // The sidebar floats over the detail's left edge, with a rule on its right.
    sidebar_->setAutoFillBackground(true);
    sidebar_->setVisible(false);
    sidebar_->setAccessibleName(QStringLiteral("Disease options"));

    connect(controls_, &ControlsArea::saveFailed, this, &ContentView::saveFailed);
    connect(controls_, &ControlsArea::saved, this, [this] { setReportEdited(false); });
    connect(controls_->editor(), &TextEditingView::edited, this, [this] { setReportEdited(true); });

    // Each cell the views read refreshes them on write.
    unobserve_.push_back(observe(state_.option, [this] { imagePanel_->refresh(); }));
    unobserve_.push_back(observe(state_.img, [this] { imagePanel_->refresh(); }));
    for (State<std::string>* cell : {&state_.classificationLabel, &state_.classificationLabel2, &state_.fileName})
        unobserve_.push_back(observe(*cell, [this] { controls_->refresh(); }));
    unobserve_.push_back(observe(state_.accuracy, [this] { controls_->refresh(); }));
    unobserve_.push_back(observe(state_.diseaseProbability, [this] { controls_->refresh(); }));
    unobserve_.push_back(observe(state_.activationMap, [this] { imagePanel_->refresh(); }));
    unobserve_.push_back(observe(state_.classificationLabel2, [this] { imagePanel_->refresh(); }));
    unobserve_.push_back(observe(state_.showAlert, [this] { controls_->refresh(); }));
    unobserve_.push_back(observe(state_.origin, [this] { refreshIdentity(); }));
    // openFile true presents the importer, after the action that set it has returned.
    unobserve_.push_back(observe(state_.openFile, [this] {
        if (state_.openFile.get() && !importerShown_) QTimer::singleShot(0, this, &ContentView::presentImporter);
    }));
    refresh();
}

ContentView::~ContentView() {
    for (auto& remove : unobserve_) remove();
}

void ContentView::refresh() {
    imagePanel_->refresh();
    controls_->refresh();
    refreshIdentity();
}

void ContentView::refreshIdentity() {
    const auto& dicom = state_.origin.get().dicom;
    const QString line = dicom ? QString::fromStdString(orvix::identityLine(*dicom)) : QString();
    if (line == identity_->text() && identity_->isVisibleTo(this) == !line.isEmpty()) return;
    identity_->setText(line);
    identity_->setToolTip(line);
    identity_->setVisible(!line.isEmpty());
    applyGeometry();
}

void ContentView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    applyGeometry();
}

void ContentView::applyGeometry() {
    // The fractions are of the room below the patient line, where there is one.
    const int top = identity_->isVisibleTo(this) ? identity_->sizeHint().height() : 0;
    identity_->setFixedHeight(top);
    const int room = height() - top;
    geometry_ = Geometry{static_cast<double>(width()), static_cast<double>(room)};
    // Up to the default size every box is its fraction of it; beyond, the results column keeps
    // its default size and the picture takes the rest.
    const Geometry g = geometry_.capped();
    // Half of W each; with an odd W the results column is the pixel narrower, so that they make W.
    const int resultsWidth = std::max(0, static_cast<int>(g.W) - g.w(0.5));
    imagePanel_->applyGeometry(g, QSize(width() - resultsWidth, room));
    controls_->applyGeometry(g);
    resultsColumn_->setFixedWidth(resultsWidth);
    blankBox_->setFixedSize(g.w(0.5), std::max(g.h(0.3), room - g.h(0.7)));
    // The detail content keeps its size (W wide, H tall, more where its widgets need it); the
    // scroll area shows what fits.
    const QSize content = detail_->layout()->sizeHint();
    detail_->setFixedSize(std::max(content.width(), width()), std::max(content.height(), room));
    columnDivider_->setGeometry(imagePanel_->width(), 0, 1, detail_->height());
    columnDivider_->raise();
    resultsDivider_->setGeometry(0, controls_->height(), resultsColumn_->width(), 1);
    resultsDivider_->raise();
    sidebar_->setGeometry(0, top, kSidebarWidth, height() - top);
    sidebar_->raise();
}

void ContentView::setSidebarShown(bool shown) { sidebar_->setVisible(shown); }

bool ContentView::sidebarShown() const { return sidebar_->isVisibleTo(this); }

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    applyGeometry();
}

QStringList ContentView::importerNameFilters() {
    QStringList patterns;
    for (const auto& ext : decodableExtensions()) {
        patterns << "*." + QString::fromStdString(ext) << "*." + QString::fromStdString(ext).toUpper();
    }
    // DICOM files often have no extension: the first filter lists them too (the dialog's proxy
    // model keeps those that hold DICOM); the second every file, the decoder deciding.
    return {QStringLiteral("Pictures and DICOM (%1 *)").arg(patterns.join(' ')), QStringLiteral("All files (*)")};
}

namespace {

// The importer's first filter: the files a folder search takes (isPictureFile), folders to go
// through, and nothing else. The other filter lets every file through.
class PictureFilesOnly : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setActive(bool active) {
        active_ = active;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!active_ || !files) return true;
        const QModelIndex index = files->index(row, 0, parent);
        return files->isDir(index) || isPictureFile(localFilePath(files->filePath(index)));
    }

private:
    bool active_ = true;
};

}  // namespace

void ContentView::prepareImporter(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* proxy = new PictureFilesOnly(&dialog);
    dialog.setProxyModel(proxy);
    const QStringList filters = importerNameFilters();
    dialog.setNameFilters(filters);
    connect(&dialog, &QFileDialog::filterSelected, proxy,
            [proxy, first = filters.first()](const QString& filter) { proxy->setActive(filter == first); });
}

void ContentView::upload() { state_.toggleOpenFile(); }

void ContentView::presentImporter() {
    if (!state_.openFile.get() || importerShown_) return;
    importerShown_ = true;
    QFileDialog dialog(this, QStringLiteral("Choose a chest X-ray picture"));
    dialog.setObjectName("importer");
    dialog.setFileMode(QFileDialog::ExistingFile);
    prepareImporter(dialog);
    dialog.setDirectory(importerFolder());
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    importerShown_ = false;
    state_.openFile = false;  // the importer has closed, whatever the outcome
    if (!chosen) return;
    rememberFolder(QFileInfo(dialog.selectedFiles().first()).absolutePath());
    importFile(localFilePath(dialog.selectedFiles().first()));
}

QString ContentView::importerFolder() const {
    if (!lastFolder_.isEmpty()) return lastFolder_;
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return QDir(pictures).exists() ? pictures : QDir::homePath();
}

std::optional<ImportResult> ContentView::importFile(const std::filesystem::path& path) {
    if (!keepOrSaveEdits()) return std::nullopt;
    ImportResult result = importImage(ImporterOutcome::success(path), state_);
    if (result.status == ImportStatus::Analysed && isChestXRay(state_.classificationLabel2.get()))
        applyActiveOperatingPoint(state_);
    // A decoded picture has a fresh report; one that was not decoded leaves the edits as they were.
    if (result.status == ImportStatus::Analysed || result.status == ImportStatus::Unclassified) {
        setReportEdited(false);
        emit pictureOpened(path);
    }
    // The core keeps or partly replaces the previous state: what the screen shows must not be
    // taken for this file's result.
    if (result.status != ImportStatus::Analysed)
        emit importFailed(QStringLiteral("%1 could not be analysed:\n%2\n\nA verdict or report on screen is not this "
                                         "picture's.")
                              .arg(QFile::decodeName(path.c_str()), QString::fromStdString(result.message)));
    return result;
}

void ContentView::save() { controls_->save()->click(); }

void ContentView::setReportEdited(bool edited) {
    if (edited == reportEdited_) return;
    reportEdited_ = edited;
    emit reportEditedChanged(edited);
}

bool ContentView::keepOrSaveEdits() {
    if (!reportEdited_) return true;
    const auto answer =
        askAboutEdits_
            ? askAboutEdits_()
            : QMessageBox::question(this, QStringLiteral("Unsaved report"),
                                    QStringLiteral("The report has edits that are not saved. "
                                                   "Save them before going on?"),
                                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Discard) return true;
    if (answer != QMessageBox::Save) return false;
    save();
    return !reportEdited_;  // a failed save has been told and keeps the edits
}

void ContentView::setHeatmapShown(bool shown) {
    heatmapShown_ = shown;
    imagePanel_->setHeatmapShown(shown);
}

Examination ContentView::examination() const {
    const DiagnosisState& s = state_;
    Examination exam;
    const ActivationMap& map = s.activationMap.get();
    const bool isXRay = isChestXRay(s.classificationLabel2.get());
    const bool withHeatmap = heatmapShown_ && isXRay && !map.empty() && !s.img.get().isEmpty();
    exam.picture = withHeatmap ? toQImage(heatmapPicture(s.img.get(), map)) : toQImage(s.img.get().pixels());
    exam.fileName = QString::fromStdString(s.fileName.get());
    if (const auto& dicom = s.origin.get().dicom) exam.patient = QString::fromStdString(orvix::identityLine(*dicom));
    if (!s.classificationLabel2.get().empty() || !s.classificationLabel.get().empty()) {
        exam.verdict = QString::fromStdString(testResult(s.classificationLabel2, s.classificationLabel));
        if (isChestXRay(s.classificationLabel2.get()) &&
            activeDiseaseRule(s.model->model.metadata()).isBorderline(s.diseaseProbability.get()))
            exam.verdict += borderlineMark();
        exam.findings << QStringLiteral(
                             "Chest X-ray gate: \"%1\" with probability %2 (the CONFIDENCE shown and the "
                             "report's Accuracy: the gate's probability for the label it gave, not certainty "
                             "about pneumonia)")
                             .arg(QString::fromStdString(s.classificationLabel2.get()), percent(s.accuracy.get()));
    }
    if (isXRay) {
        const ModelMetadata disease = activeDiseaseRule(s.model->model.metadata());
        exam.findings << QStringLiteral(
                             "Pneumonia probability: %1 (threshold %2%3): the disease model's probability; "
                             "POSITIVE at or above the threshold")
                             .arg(percent(s.diseaseProbability.get()), percent(disease.threshold),
                                  disease.isBorderline(s.diseaseProbability.get()) ? QStringLiteral(", borderline")
                                                                                   : QString());
        if (disease.isBorderline(s.diseaseProbability.get())) exam.findings << borderlineMeaning();
        if (activeOperatingPoint())
            exam.findings << QStringLiteral("Operating point: %1 (the clinic's own, in place of the model's)")
                                 .arg(operatingPointText(disease));
    }
    if (withHeatmap)
        exam.findings << QStringLiteral(
            "Heatmap: each region tinted by the probability of pneumonia the model "
            "would give a picture that looked like it throughout (scale under the "
            "picture)");
    exam.report = QString::fromStdString(s.fullText.get());
    for (const Model* model : {&s.model2->model, &s.model->model}) {
        const ModelMetadata& m = model->metadata();
        const QString trained = QJsonDocument::fromJson(QByteArray::fromStdString(m.provenanceText))
                                    .object()
                                    .value(QStringLiteral("date"))
                                    .toString();
        exam.models << QStringLiteral("%1 (sha256 %2%3)")
                           .arg(QString::fromStdString(m.name), QString::fromStdString(m.sha256.substr(0, 12)),
                                trained.isEmpty() ? QString() : QStringLiteral(", trained ") + trained);
    }
    exam.created = QDateTime::currentDateTime();
    return exam;
}

void ContentView::exportPdf() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString name =
        state_.fileName.get().empty() ? QStringLiteral("examination") : QString::fromStdString(state_.fileName.get());
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export PDF"), QDir(documents).filePath(name + QStringLiteral(".pdf")),
        QStringLiteral("PDF (*.pdf)"), nullptr, QFileDialog::DontUseNativeDialog);
    if (!path.isEmpty()) static_cast<void>(exportPdf(path));  // a failure is told through exportFailed
}

Status ContentView::exportPdf(const QString& path) {
    Status written = writeExaminationPdf(examination(), path);
    if (written) emit exported(path);
    else emit exportFailed(QString::fromStdString(written.error().message));
    return written;
}

void ContentView::dragEnterEvent(QDragEnterEvent* event) {
    const auto urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.first().isLocalFile()) event->acceptProposedAction();
}

void ContentView::dropEvent(QDropEvent* event) {
    const auto urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile()) return;
    event->acceptProposedAction();
    importFile(localFilePath(urls.first()));
}

}  // namespace orvix::app
