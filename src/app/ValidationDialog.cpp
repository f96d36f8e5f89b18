#include "ValidationDialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "LocalOperatingPoint.h"
#include "PictureView.h"
#include "orvix/Console.h"
#include "orvix/ValidationPlots.h"

namespace orvix::app {

ValidationDialog::ValidationDialog(EnvironmentLookup environment, QWidget* parent)
    : QDialog(parent), environment_(std::move(environment)), progress_(new QProgressBar(this)),
      message_(new QLabel(this)), figures_(new QPlainTextEdit(this)), plots_(new QTabWidget(this)),
      use_(new QPushButton(QStringLiteral("Use this operating point"), this)),
      revert_(new QPushButton(QStringLiteral("Revert to shipped"), this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
    setObjectName("validateOnLocalFilms");
    setWindowTitle(QStringLiteral("Validate on Local Films"));
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    figures_->setReadOnly(true);
    figures_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    figures_->setLineWrapMode(QPlainTextEdit::NoWrap);
    use_->setEnabled(false);
    use_->setToolTip(
        QStringLiteral("Every verdict from now on, here and in orvix-screen, uses the local threshold "
                       "(saved in your configuration): it trades sensitivity for specificity."));
    revert_->setEnabled(activeOperatingPoint().has_value());
    revert_->setToolTip(QStringLiteral("Verdicts use the model's own threshold again."));
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(use_, QDialogButtonBox::ActionRole);
    buttons->addButton(revert_, QDialogButtonBox::ActionRole);
    buttons->addButton(cancel_, QDialogButtonBox::RejectRole);
    connect(use_, &QPushButton::clicked, this, &ValidationDialog::useOperatingPoint);
    connect(revert_, &QPushButton::clicked, this, &ValidationDialog::revertToShipped);
    connect(cancel_, &QPushButton::clicked, this, &ValidationDialog::reject);
    auto* tabs = new QTabWidget(this);
    tabs->addTab(figures_, QStringLiteral("Figures"));
    tabs->addTab(plots_, QStringLiteral("Plots"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message_);
    layout->addWidget(progress_);
    layout->addWidget(tabs, 1);
    layout->addWidget(buttons);
    resize(760, 620);
}

ValidationDialog::~ValidationDialog() { stopWorker(); }

void ValidationDialog::stopWorker() {
    cancelRequested_ = true;
    if (worker_.joinable()) worker_.join();
}

void ValidationDialog::start(const std::filesystem::path& folder, double targetSensitivity) {
    stopWorker();
    cancelRequested_ = false;
    finished_ = false;
    validation_.reset();
    use_->setEnabled(false);
    cancel_->setText(QStringLiteral("Cancel"));
    progress_->setRange(0, 0);
    progress_->show();
    message_->setText(QStringLiteral("Looking for films in folders named NORMAL and PNEUMONIA under %1…")
                          .arg(QFile::decodeName(folder.c_str())));
    worker_ = std::thread([this, folder, targetSensitivity] {
        // What the analyses print goes nowhere: the dialog shows what matters.
        const ThreadConsoleSilence quiet;
        auto run = [&]() -> Result<cli::LocalValidation> {
            auto films = cli::findLabelledFilms(folder, std::nullopt, {});
            if (!films) return films.error();
            std::vector<DiagnosisState> states;
            // Two workers at most: the window stays responsive on a small machine.
            const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
            for (unsigned i = 0; i < workers; ++i) {
                auto state = DiagnosisState::create();
                if (!state) return state.error();
                states.push_back(std::move(state).value());
            }
            return cli::validateFilms(
                *films, states, targetSensitivity,
                [this](std::size_t done, std::size_t total) {
                    QMetaObject::invokeMethod(
                        this, [this, done, total] { progressed(done, total); }, Qt::QueuedConnection);
                },
                &cancelRequested_);
        };
        auto outcome = run();
        // Runs on the GUI thread; the destructor joins this thread before the dialog goes.
        QMetaObject::invokeMethod(
            this, [this, outcome = std::move(outcome)]() mutable { completed(std::move(outcome)); },
            Qt::QueuedConnection);
    });
}

void ValidationDialog::progressed(std::size_t done, std::size_t total) {
    progress_->setRange(0, static_cast<int>(total));
    progress_->setValue(static_cast<int>(done));
    message_->setText(QStringLiteral("Analysing film %1 of %2…").arg(done).arg(total));
}

void ValidationDialog::completed(Result<cli::LocalValidation> outcome) {
    finished_ = true;
    progress_->hide();
    cancel_->setText(QStringLiteral("Close"));
    if (!outcome) {
        message_->setText(
            outcome.error().message == "cancelled"
                ? QStringLiteral("Cancelled: nothing was measured.")
                : QStringLiteral("Cannot validate: %1").arg(QString::fromStdString(outcome.error().message)));
        emit finished();
        return;
    }
    validation_ = std::move(outcome).value();
    const auto& v = *validation_;
    QString text = QString::fromStdString(cli::validationText(v));
    for (const auto& path : v.notChest)
        text += QStringLiteral("Excluded, not a chest X-ray: %1\n").arg(QString::fromStdString(path));
    for (const auto& why : v.unreadable) text += QStringLiteral("Excluded: %1\n").arg(QString::fromStdString(why));
    for (const auto& path : v.unlabelled)
        text += QStringLiteral("Excluded, in no NORMAL or PNEUMONIA folder: %1\n").arg(QString::fromStdString(path));
    figures_->setPlainText(text);
    message_->setText(
        QStringLiteral("Measured on %1 films. The local threshold %2 % reaches a sensitivity of %3 % on them%4.")
            .arg(v.report.positives + v.report.negatives)
            .arg(v.point.threshold * 100.0, 0, 'f', 1)
            .arg(v.report.local.sensitivity.value * 100.0, 0, 'f', 1)
            .arg(v.warnings.empty() ? QString() : QStringLiteral("; read the warnings below the figures first")));
    for (const auto& [name, plot] :
         {std::pair{QStringLiteral("ROC"), rocPlot(v.report)},
          std::pair{QStringLiteral("Reliability"), reliabilityPlot(v.report)},
          std::pair{QStringLiteral("Histogram"), probabilityHistogram(v.scores, v.report)}}) {
        auto* picture = new QLabel;
        picture->setPixmap(QPixmap::fromImage(toQImage(plot)));
        picture->setAlignment(Qt::AlignCenter);
        plots_->addTab(picture, name);
    }
    use_->setEnabled(true);
    emit finished();
}

QString ValidationDialog::messageText() const { return message_->text(); }

void ValidationDialog::useOperatingPoint() {
    if (!validation_) return;
    if (auto adopted = adoptOperatingPoint(validation_->point, environment_); !adopted) {
        QMessageBox::warning(this, QStringLiteral("Operating point not saved"),
                             QString::fromStdString(adopted.error().message));
        return;
    }
    message_->setText(QStringLiteral("Verdicts from now on use the %1.")
                          .arg(QString::fromStdString(validation_->point.description())));
    revert_->setEnabled(true);
    emit operatingPointChanged();
}

void ValidationDialog::revertToShipped() {
    auto reverted = revertToShippedThreshold(environment_);
    if (!reverted) {
        QMessageBox::warning(this, QStringLiteral("Operating point not removed"),
                             QString::fromStdString(reverted.error().message));
        return;
    }
    QString text = QStringLiteral("Verdicts from now on use the model's own threshold.");
    if (reverted->systemPointLeft)
        text += QStringLiteral(
                    " The system-wide operating point %1 applies again at the next start; only its "
                    "administrator can remove it.")
                    .arg(QFile::decodeName(reverted->systemPointLeft->c_str()));
    message_->setText(text);
    revert_->setEnabled(false);
    emit operatingPointChanged();
}

void ValidationDialog::reject() {
    // Cancel stops a validation in hand (the films being analysed finish first); Close closes.
    if (running()) {
        cancelRequested_ = true;
        message_->setText(QStringLiteral("Cancelling…"));
        return;
    }
    QDialog::reject();
}

}  // namespace orvix::app
