#include "Worklist.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include "Explanations.h"
#include "LocalOperatingPoint.h"
#include "Palette.h"
#include "orvix/Console.h"
#include "orvix/DiagnosisState.h"
#include "orvix/DicomIdentity.h"
#include "orvix/ImportRun.h"
#include "orvix/PictureSearch.h"
#include "orvix/Report.h"

namespace orvix::app {
namespace {

constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kSortRole = Qt::UserRole + 2;  // what the columns sort by: the probability as a number

QString fromPath(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

QString statusText(ImportStatus status) {
    switch (status) {
        case ImportStatus::Analysed: return QStringLiteral("analysed");
        case ImportStatus::Unreadable: return QStringLiteral("unreadable");
        case ImportStatus::Undecodable: return QStringLiteral("not a readable picture");
        case ImportStatus::Unclassified: return QStringLiteral("not classified");
        case ImportStatus::ImporterFailed: break;
    }
    return QStringLiteral("not opened");
}

void setText(QStandardItem* item, const QString& text) {
    item->setText(text);
    item->setData(text, kSortRole);
}

}  // namespace

struct Worklist::Outcome {
    int id = 0;
    QString status;
    QString reason;                     // why the picture was not analysed
    QString verdict;                    // for an analysed picture
    std::optional<double> probability;  // for an analysed chest X-ray
    bool borderline = false;            // the probability lies in the disease model's borderline band
    QString patient;                    // a DICOM picture's patient in short, and its whole identity line
    QString identity;
};

// The queue the GUI thread fills and the worker thread empties.
struct Worklist::Worker {
    struct Job {
        int id;
        std::filesystem::path path;
    };

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> queue;
    bool stop = false;
    std::thread thread;

    void run(Worklist* list);
};

void Worklist::Worker::run(Worklist* list) {
    // The rows carry what the console lines and diagnostics would say; the window's own
    // import keeps printing them.
    const ThreadConsoleSilence quiet;
    std::optional<DiagnosisState> state;
    std::optional<std::string> modelError;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] { return stop || !queue.empty(); });
            if (stop) return;
            job = std::move(queue.front());
            queue.pop_front();
        }
        Outcome outcome;
        outcome.id = job.id;
        try {
            if (!state && !modelError) {
                auto created = DiagnosisState::create();
                if (created) state.emplace(std::move(created).value());
                else modelError = created.error().message;
            }
            if (modelError) {
                outcome.status = QStringLiteral("model not loaded");
                outcome.reason = QString::fromStdString(*modelError);
            } else {
                const ImportResult result = importImage(ImporterOutcome::success(job.path), *state);
                if (result.status == ImportStatus::Analysed && isChestXRay(state->classificationLabel2.get()))
                    applyActiveOperatingPoint(*state);
                outcome.status = statusText(result.status);
                if (const auto& dicom = state->origin.get().dicom;
                    dicom && (result.status == ImportStatus::Analysed || result.status == ImportStatus::Unclassified)) {
                    outcome.patient = QString::fromStdString(patientSummary(*dicom));
                    outcome.identity = QString::fromStdString(identityLine(*dicom));
                }
                if (result.status == ImportStatus::Analysed) {
                    const std::string verdict = testResult(state->classificationLabel2, state->classificationLabel);
                    outcome.verdict = QString::fromStdString(verdict);
                    if (isChestXRay(state->classificationLabel2.get())) {
                        outcome.probability = state->diseaseProbability;
                        outcome.borderline =
                            activeDiseaseRule(state->model->model.metadata()).isBorderline(*outcome.probability);
                    }
                } else {
                    outcome.reason = QString::fromStdString(result.message);
                }
            }
        } catch (const std::exception& e) {
            outcome.status = QStringLiteral("failed");
            outcome.reason = QString::fromUtf8(e.what());
        }
        // Runs on the GUI thread; dropped with the list if it is gone by then (the destructor
        // joins this thread before the list's QObject part goes).
        QMetaObject::invokeMethod(
            list, [list, outcome] { list->apply(outcome); }, Qt::QueuedConnection);
    }
}

Worklist::Worklist(QWidget* parent)
    : QWidget(parent), model_(new QStandardItemModel(0, 5, this)), table_(new QTableView(this)),
      progress_(new QProgressBar(this)), cancel_(new QPushButton(QStringLiteral("Cancel"), this)),
      remaining_(new QPushButton(QStringLiteral("Analyse Remaining"), this)), worker_(std::make_unique<Worker>()) {
    model_->setHorizontalHeaderLabels({QStringLiteral("File name"), QStringLiteral("Status"), QStringLiteral("Verdict"),
                                       QStringLiteral("Pneumonia"), QStringLiteral("Patient")});
    model_->horizontalHeaderItem(ProbabilityColumn)
        ->setToolTip(QStringLiteral("The disease model's probability of pneumonia"));
    model_->setSortRole(kSortRole);
    table_->setObjectName("worklistTable");
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    // The name takes what the other columns leave; a long one loses its middle, keeping the start
    // and the extension. The verdict and the probability are whole with their headers; the status
    // starts as wide as its longest word and elides a long reason (the tooltip has it whole).
    table_->setTextElideMode(Qt::ElideMiddle);
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(StatusColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(VerdictColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ProbabilityColumn, QHeaderView::ResizeToContents);
    header->setMinimumSectionSize(fontMetrics().horizontalAdvance(QStringLiteral("File name")) + 24);
    header->resizeSection(StatusColumn, fontMetrics().horizontalAdvance(QStringLiteral("not classified")) + 24);
    // The patient column appears with the first DICOM picture that names one, so that a list of
    // other pictures gives its room to the names.
    header->setSectionResizeMode(PatientColumn, QHeaderView::Interactive);
    header->resizeSection(PatientColumn, fontMetrics().horizontalAdvance(QStringLiteral("Doe, John (ID 1234567)")));
    table_->setColumnHidden(PatientColumn, true);
    table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);  // the order of adding
    table_->setSortingEnabled(true);
    progress_->setObjectName("worklistProgress");
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setFormat(QStringLiteral("%v / %m"));
    cancel_->setObjectName("worklistCancel");
    cancel_->setEnabled(false);
    remaining_->setObjectName("worklistRemaining");
    remaining_->setEnabled(false);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(progress_, 1);
    bottom->addWidget(cancel_);
    bottom->addWidget(remaining_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(bottom);

    connect(cancel_, &QPushButton::clicked, this, &Worklist::cancel);
    connect(remaining_, &QPushButton::clicked, this, &Worklist::analyseRemaining);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QModelIndexList rows = table_->selectionModel()->selectedRows();
        if (rows.size() != 1) return;
        const Entry& entry = entries_[static_cast<std::size_t>(model_->item(rows[0].row())->data(kIdRole).toInt())];
        if (entry.picture) emit fileSelected(entry.path);
    });
}

Worklist::~Worklist() {
    {
        std::lock_guard lock(worker_->mutex);
        worker_->stop = true;
        worker_->queue.clear();
    }
    worker_->wake.notify_all();
    if (worker_->thread.joinable()) worker_->thread.join();
}

int Worklist::rowCount() const { return model_->rowCount(); }

std::filesystem::path Worklist::pathAt(int row) const {
    const QStandardItem* item = model_->item(row);
    return item ? entries_[static_cast<std::size_t>(item->data(kIdRole).toInt())].path : std::filesystem::path();
}

int Worklist::appendRow(const std::filesystem::path& path, bool picture) {
    const int id = static_cast<int>(entries_.size());
    QList<QStandardItem*> cells;
    for (int column = 0; column < model_->columnCount(); ++column) cells.append(new QStandardItem);
    const QString name = fromPath(path.filename().empty() ? path.parent_path().filename() : path.filename());
    setText(cells[NameColumn], name);
    cells[NameColumn]->setToolTip(fromPath(path));
    cells[NameColumn]->setData(id, kIdRole);
    cells[ProbabilityColumn]->setData(-1.0, kSortRole);  // rows without one sort first
    cells[ProbabilityColumn]->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    entries_.push_back({path, picture, cells[NameColumn]});
    model_->appendRow(cells);
    return id;
}

QStandardItem* Worklist::cell(int id, Column column) const {
    const QStandardItem* name = entries_[static_cast<std::size_t>(id)].name;
    return model_->item(name->row(), column);
}

void Worklist::setStatus(int id, const QString& text, const QString& reason) {
    QStandardItem* status = cell(id, StatusColumn);
    // The reason in the row itself, without the path that the row names already.
    QString why = reason;
    const QString path = fromPath(entries_[static_cast<std::size_t>(id)].path) + QStringLiteral(": ");
    if (why.startsWith(path)) why.remove(0, path.size());
    setText(status, why.isEmpty() ? text : text + QStringLiteral(": ") + why);
    status->setToolTip(reason);
    status->setForeground(reason.isEmpty() ? QBrush() : QBrush(themeColours().positive));
}

void Worklist::add(const std::vector<std::filesystem::path>& paths) {
    const CollectedPictures found = collectPictures(paths);
    for (const auto& error : found.errors)
        setStatus(appendRow(error.directory, false), QStringLiteral("folder not searched"),
                  QString::fromStdString(error.text()));
    if (found.pictures.empty()) return;

    std::vector<int> ids;
    for (const auto& picture : found.pictures) ids.push_back(appendRow(picture.path, true));
    queue(ids);
}

void Worklist::queue(const std::vector<int>& ids) {
    if (ids.empty()) return;
    if (!busy()) runTotal_ = runDone_ = 0;
    std::vector<Worker::Job> jobs;
    for (const int id : ids) {
        Entry& entry = entries_[static_cast<std::size_t>(id)];
        entry.cancelled = false;
        setStatus(id, QStringLiteral("waiting"), {});
        jobs.push_back({id, entry.path});
    }
    outstanding_ += static_cast<int>(jobs.size());
    runTotal_ += static_cast<int>(jobs.size());
    progress_->setRange(0, runTotal_);
    progress_->setValue(runDone_);
    cancel_->setEnabled(true);
    remaining_->setEnabled(false);
    {
        std::lock_guard lock(worker_->mutex);
        for (auto& job : jobs) worker_->queue.push_back(std::move(job));
    }
    worker_->wake.notify_one();
    if (!worker_->thread.joinable()) worker_->thread = std::thread([this] { worker_->run(this); });
}

void Worklist::analyseRemaining() {
    std::vector<int> ids;
    for (std::size_t id = 0; id < entries_.size(); ++id)
        if (entries_[id].cancelled) ids.push_back(static_cast<int>(id));
    queue(ids);
}

void Worklist::cancel() {
    std::deque<Worker::Job> dropped;
    {
        std::lock_guard lock(worker_->mutex);
        dropped.swap(worker_->queue);
    }
    for (const auto& job : dropped) {
        entries_[static_cast<std::size_t>(job.id)].cancelled = true;
        setStatus(job.id, QStringLiteral("cancelled"), {});
        rowSettled();
    }
}

void Worklist::apply(const Outcome& outcome) {
    setStatus(outcome.id, outcome.status, outcome.reason);
    if (!outcome.verdict.isEmpty()) {
        QStandardItem* verdict = cell(outcome.id, VerdictColumn);
        // Marked as in the window: the mark is part of the verdict, in its own colour.
        setText(verdict, outcome.verdict + (outcome.borderline ? borderlineMark() : QString()));
        const ThemeColours& colours = themeColours();
        if (outcome.borderline) {
            verdict->setForeground(colours.borderline);
            verdict->setToolTip(borderlineMeaning());
        } else if (outcome.verdict == QLatin1String("POSITIVE")) {
            verdict->setForeground(colours.positive);
        } else if (outcome.verdict == QLatin1String("NEGATIVE")) {
            verdict->setForeground(colours.negative);
        }
    }
    if (outcome.probability) {
        QStandardItem* probability = cell(outcome.id, ProbabilityColumn);
        probability->setText(QString::number(*outcome.probability * 100.0, 'f', 1) + QStringLiteral(" %"));
        probability->setData(*outcome.probability, kSortRole);
    }
    if (!outcome.patient.isEmpty()) {
        QStandardItem* patient = cell(outcome.id, PatientColumn);
        setText(patient, outcome.patient);
        patient->setToolTip(outcome.identity);
        table_->setColumnHidden(PatientColumn, false);
    }
    progress_->setValue(++runDone_);
    rowSettled();
}

void Worklist::rowSettled() {
    if (--outstanding_ > 0) return;
    cancel_->setEnabled(false);
    remaining_->setEnabled(std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) { return e.cancelled; }));
    emit finished();
}

}  // namespace orvix::app
