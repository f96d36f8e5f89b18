#pragma once
// Tools > Validate on Local Films: the validation orvix-screen --validate runs, on a folder of
// the clinic's own films labelled by NORMAL and PNEUMONIA folders, in the background (progress,
// Cancel), with its figures and plots, and the local operating point it finds offered for use:
// "Use this operating point" adopts it (the user's configuration file, read at every start),
// "Revert to shipped" drops the user's point. Both say what they did and change the verdicts
// from then on (see LocalOperatingPoint.h).

#include <QDialog>

#include <atomic>
#include <filesystem>
#include <optional>
#include <thread>

#include "LocalValidation.h"
#include "orvix/Environment.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace orvix::app {

class ValidationDialog : public QDialog {
    Q_OBJECT
public:
    explicit ValidationDialog(EnvironmentLookup environment = processEnvironment, QWidget* parent = nullptr);
    // Cancels a validation in hand and waits for its worker.
    ~ValidationDialog() override;

    // Validates the films under folder at the target sensitivity, on a worker with its own models.
    void start(const std::filesystem::path& folder, double targetSensitivity = 0.95);
    bool running() const { return worker_.joinable() && !finished_; }
    // Once finished: the figures, or nothing when it failed or was cancelled (see messageText).
    const std::optional<cli::LocalValidation>& validation() const { return validation_; }
    QString messageText() const;
    QTabWidget* plots() const { return plots_; }
    QPushButton* useButton() const { return use_; }
    QPushButton* revertButton() const { return revert_; }
    QPushButton* cancelButton() const { return cancel_; }

signals:
    // The validation finished, failed or was cancelled.
    void finished();
    // The window's operating point changed: verdicts from now on use the new one.
    void operatingPointChanged();

protected:
    void reject() override;

private:
    void progressed(std::size_t done, std::size_t total);
    void completed(Result<cli::LocalValidation> outcome);
    void useOperatingPoint();
    void revertToShipped();
    void stopWorker();

    EnvironmentLookup environment_;
    QProgressBar* progress_;
    QLabel* message_;
    QPlainTextEdit* figures_;
    QTabWidget* plots_;
    QPushButton* use_;
    QPushButton* revert_;
    QPushButton* cancel_;
    std::thread worker_;
    std::atomic<bool> cancelRequested_{false};
    bool finished_ = false;
    std::optional<cli::LocalValidation> validation_;
};

}  // namespace orvix::app
