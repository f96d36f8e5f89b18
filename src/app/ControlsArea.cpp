#include "ControlsArea.h"

#include <QFile>
#include <QLabel>
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
        const Status written = saveReport(state_);
        if (written) emit saved();
        else emit saveFailed(QString::fromStdString(written.error().message));
    });
    refresh();
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
    saved_->text()->setText(QStringLiteral("Report saved as %1 in %2")
                                .arg(QFile::decodeName(reportFileName(state_.fileName.get()).c_str()), folder));
}

}  // namespace orvix::app
