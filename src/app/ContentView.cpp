#include "ContentView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include "ControlsArea.h"
#include "ImagePanel.h"
#include "LocalFile.h"
#include "Palette.h"
#include "SideBar.h"
#include "orvix/ImageDecoder.h"

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
      blankBox_(new QWidget(resultsColumn_)) {
    setObjectName("ContentView");
    setAcceptDrops(true);
    sidebar_->setFixedWidth(kSidebarWidth);

    // Results column: controls box, divider, the blank lower box (one empty text).
    auto* results = new QVBoxLayout(resultsColumn_);
    results->setContentsMargins(0, 0, 0, 0);
    results->addWidget(controls_, 0, Qt::AlignHCenter);
    results->addWidget(makeDivider(Qt::Horizontal, resultsColumn_));
    results->addWidget(blankBox_, 0, Qt::AlignHCenter);
    (new QVBoxLayout(blankBox_))->addWidget(new QLabel(QString(), blankBox_), 0, Qt::AlignCenter);
    blankBox_->layout()->setContentsMargins(0, 0, 0, 0);
    resultsColumn_->setObjectName("resultsColumn");
    blankBox_->setObjectName("blankBox");

    // Detail: image column | divider | results column, at its own full size inside the scroll area.
    auto* row = new QHBoxLayout(detail_);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(imagePanel_);
    row->addWidget(makeDivider(Qt::Vertical, detail_));
    row->addWidget(resultsColumn_);
    detail_->setObjectName("detail");
    scroll_->setWidget(detail_);
    scroll_->setWidgetResizable(false);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setObjectName("detailScroll");

    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    columns->addWidget(sidebar_);
    columns->addWidget(makeDivider(Qt::Vertical, this));
    columns->addWidget(scroll_, 1);

    connect(controls_, &ControlsArea::saveFailed, this, &ContentView::saveFailed);

    // Each cell the views read refreshes them on write.
    unobserve_.push_back(observe(state_.option, [this] { imagePanel_->refresh(); }));
    unobserve_.push_back(observe(state_.img, [this] { imagePanel_->refresh(); }));
    for (State<std::string>* cell : {&state_.classificationLabel, &state_.classificationLabel2, &state_.fileName})
        unobserve_.push_back(observe(*cell, [this] { controls_->refresh(); }));
    unobserve_.push_back(observe(state_.accuracy, [this] { controls_->refresh(); }));
    unobserve_.push_back(observe(state_.showAlert, [this] { controls_->refresh(); }));
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
}

void ContentView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    applyGeometry();
}

void ContentView::applyGeometry() {
    geometry_ = Geometry{static_cast<double>(width()), static_cast<double>(height())};
    imagePanel_->applyGeometry(geometry_);
    controls_->applyGeometry(geometry_);
    resultsColumn_->setFixedWidth(geometry_.w(0.5));
    blankBox_->setFixedSize(geometry_.w(0.5), geometry_.h(0.3));
    // The detail content keeps its size (W plus a divider wide, H tall); the scroll area shows what fits.
    detail_->setFixedSize(detail_->layout()->sizeHint().width(), std::max(detail_->layout()->sizeHint().height(), height()));
}

QStringList ContentView::importerNameFilters() {
    QStringList patterns;
    for (const auto& ext : decodableExtensions()) {
        patterns << "*." + QString::fromStdString(ext) << "*." + QString::fromStdString(ext).toUpper();
    }
    // DICOM files often have no extension: the second filter offers every file, the decoder decides.
    return {QStringLiteral("Images (%1)").arg(patterns.join(' ')), QStringLiteral("DICOM and other files (*)")};
}

void ContentView::upload() { state_.toggleOpenFile(); }

void ContentView::presentImporter() {
    if (!state_.openFile.get() || importerShown_) return;
    importerShown_ = true;
    QFileDialog dialog(this, QStringLiteral("Choose a chest X-ray picture"));
    dialog.setObjectName("importer");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(importerNameFilters());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (QDir(pictures).exists()) dialog.setDirectory(pictures);
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    importerShown_ = false;
    state_.openFile = false;  // the importer has closed, whatever the outcome
    if (chosen) importFile(localFilePath(dialog.selectedFiles().first()));
}

ImportResult ContentView::importFile(const std::filesystem::path& path) {
    ImportResult result = importImage(ImporterOutcome::success(path), state_);
    // The core keeps or partly replaces the previous state: what the screen shows must not be
    // taken for this file's result.
    if (result.status != ImportStatus::Analysed)
        emit importFailed(QStringLiteral("%1 could not be analysed:\n%2\n\nA verdict or report on screen is not this "
                                         "picture's.")
                              .arg(QFile::decodeName(path.c_str()), QString::fromStdString(result.message)));
    return result;
}

void ContentView::save() { controls_->save()->click(); }

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
