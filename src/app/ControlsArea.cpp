#include "ControlsArea.h"

#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "Palette.h"
#include "Pill.h"
#include "ResultPanel.h"
#include "SavedMessage.h"
#include "TextEditingView.h"
#include "orvix/ReportSaver.h"

namespace orvix::app {

ControlsArea::ControlsArea(DiagnosisState state, QWidget* parent)
    : QWidget(parent), state_(std::move(state)), testResult_(makePill(QStringLiteral("Test Result"), this)),
      result_(new ResultPanel(state_, this)),
      editor_(new TextEditingView(Binding<std::string>(state_.fullText), State<std::string>(""), this)),
      saved_(new SavedMessage(this)), save_(new QPushButton(QStringLiteral("Save"), this)) {
    testResult_->setObjectName("testResultHeader");
    testResult_->setFocusPolicy(Qt::NoFocus);  // a header: it does nothing
    save_->setObjectName("saveButton");
    save_->setAccessibleName(QStringLiteral("Save report"));
    saved_->ok()->setAccessibleName(QStringLiteral("Dismiss the saved message"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(testResult_, 0, Qt::AlignHCenter);
    layout->addWidget(makeDivider(Qt::Horizontal, this));
    layout->addWidget(result_, 0, Qt::AlignHCenter);
    layout->addWidget(editor_, 1);
    layout->addWidget(saved_, 0, Qt::AlignHCenter);
    layout->addWidget(save_, 0, Qt::AlignHCenter);

    connect(saved_->ok(), &QPushButton::clicked, this, [this] { state_.showAlert = false; });
    connect(save_, &QPushButton::clicked, this, [this] {
        const auto written = saveReport(state_, documentsDirectory(), [this](const ReportClash& clash) {
            return askAboutClash_ ? askAboutClash_(clash) : askAboutClash(clash);
        });
        if (!written) {
            emit saveFailed(QString::fromStdString(written.error().message));
        } else if (!written->has_value()) {
            emit saveCancelled();
        } else {
            savedPath_ = **written;
            refresh();
            emit saved();
        }
    });
    refresh();
}

ClashChoice ControlsArea::askAboutClash(const ReportClash& clash) {
    const auto name = [](const std::filesystem::path& path) { return QFile::decodeName(path.filename().c_str()); };
    const QString owner =
        clash.writtenFor
            ? QStringLiteral("was written for another picture, %1").arg(QFile::decodeName(clash.writtenFor->c_str()))
            : QStringLiteral("is not known to be this picture's (it holds no record of its picture)");
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Another picture's report"),
                    QStringLiteral("The report %1 in %2 %3.\n\nReplace it with this picture's report, keep both "
                                   "(this one saved as %4), or cancel?")
                        .arg(name(clash.existing), QFile::decodeName(clash.existing.parent_path().c_str()), owner,
                             name(clash.keepBoth)),
                    QMessageBox::NoButton, this);
    QPushButton* replace = box.addButton(QStringLiteral("Replace"), QMessageBox::DestructiveRole);
    QPushButton* keepBoth = box.addButton(QStringLiteral("Keep Both"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(keepBoth);
    box.exec();
    if (box.clickedButton() == replace) return ClashChoice::Replace;
    if (box.clickedButton() == keepBoth) return ClashChoice::KeepBoth;
    return ClashChoice::Cancel;
}

void ControlsArea::applyGeometry(const Geometry& g) {
    setFixedSize(g.w(0.5), g.h(0.7));
    sizePill(testResult_, g.w(0.14), g.w(0.03));
    // As tall as its wrapped text needs, at least the height it always had.
    saved_->setFixedWidth(g.w(0.45));
    saved_->setMinimumHeight(g.w(0.035));
    // Dark text on the orange in either theme: the dark theme's light text would not read on it.
    saved_->setStyleSheet(QStringLiteral("QFrame#savedMessage { background-color: %1; border-radius: %2px; }"
                                         " QLabel#savedMessageText { color: %3; }")
                              .arg(kOrange.name())
                              .arg(roundedRadius(saved_->width(), saved_->height()))
                              .arg(themeColours(Theme::Light).text.name()));
    result_->applyGeometry(g);
}

void ControlsArea::refresh() {
    result_->refresh();
    saved_->setVisible(state_.showAlert.get());
    // The folder the save wrote to; a break may follow each '/', so that a long path wraps rather than
    // being cut off at the side.
    QString folder = QFile::decodeName(documentsDirectory().c_str());
    folder.replace(QLatin1Char('/'), QStringLiteral("/\u200b"));
    // The name the save wrote: " (2)" and so on where the user kept another picture's report too.
    const QString name = savedPath_.empty() ? QFile::decodeName(reportFileName(state_.fileName.get()).c_str())
                                            : QFile::decodeName(savedPath_.filename().c_str());
    saved_->text()->setText(QStringLiteral("Report saved as %1 in %2").arg(name, folder));
}

}  // namespace orvix::app
