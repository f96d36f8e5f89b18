#include "ResultPanel.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "Explanations.h"
#include "LocalOperatingPoint.h"
#include "Palette.h"
#include "orvix/Report.h"

namespace orvix::app {
namespace {

void colour(QLabel* label, const QColor& c) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, c);
    label->setPalette(palette);
}

}  // namespace

ResultPanel::ResultPanel(DiagnosisState state, QWidget* parent)
    : QWidget(parent), state_(std::move(state)),
      message_(new QLabel(QStringLiteral("This is not a Chest X-Ray image"), this)), verdict_(new QLabel(this)),
      confidence_(new QLabel(this)), probability_(new QLabel(this)) {
    message_->setObjectName("notAnXRay");
    probability_->setObjectName("diseaseProbability");
    probability_->setTextFormat(Qt::RichText);
    message_->setAccessibleName(QStringLiteral("Result"));
    verdict_->setAccessibleName(QStringLiteral("Verdict"));
    confidence_->setAccessibleName(QStringLiteral("Gate confidence"));
    probability_->setAccessibleName(QStringLiteral("Pneumonia probability"));
    verdict_->setObjectName("verdict");
    confidence_->setObjectName("confidence");
    confidence_->setToolTip(confidenceMeaning());
    QFont bold = confidence_->font();
    bold.setBold(true);
    confidence_->setFont(bold);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QLabel* label : {message_, verdict_, confidence_, probability_}) layout->addWidget(label, 0, Qt::AlignHCenter);
    refresh();
}

void ResultPanel::applyGeometry(const Geometry& g) {
    message_->setFont(systemFont(0.03 * g.H, QFont::DemiBold));
    verdict_->setFont(systemFont(0.03 * g.H, QFont::Light));
}

void ResultPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The theme changed: the verdict's colours are the theme's.
    if (event->type() == QEvent::PaletteChange) refresh();
}

void ResultPanel::refresh() {
    const ThemeColours& colours = themeColours();
    colour(message_, colours.positive);
    const std::string& gate = state_.classificationLabel2.get();
    const std::string& disease = state_.classificationLabel.get();
    const bool isXRay = isChestXRay(gate);
    message_->setVisible(!isXRay && !disease.empty());
    verdict_->setVisible(isXRay);
    confidence_->setVisible(isXRay);
    probability_->setVisible(isXRay);
    if (!isXRay) return;
    const bool negative = isNormal(disease);
    const ModelMetadata model = activeDiseaseRule(state_.model->model.metadata());
    const double p = state_.diseaseProbability.get();
    // Borderline is part of the verdict itself, in its own colour: a glance at the verdict cannot miss it.
    const bool borderline = model.isBorderline(p);
    verdict_->setText(QString::fromStdString(testResult(gate, disease)) + (borderline ? borderlineMark() : QString()));
    colour(verdict_, borderline ? colours.borderline : negative ? colours.negative : colours.positive);
    verdict_->setToolTip(borderline ? borderlineMeaning() : QString());
    // Fixed point, six decimals, always a point (QString::number ignores the locale).
    confidence_->setText(QStringLiteral("CONFIDENCE: ") + QString::number(state_.accuracy.get() * 100.0, 'f', 6) +
                         QStringLiteral("%"));
    // The disease model's own probability, which the verdict compares with the threshold.
    // A clinic's own threshold says so, with what it was validated on in the tooltip.
    const bool local = activeOperatingPoint().has_value();
    QString line = QStringLiteral("Pneumonia probability: %1 <span style=\"color:%2\">%3threshold %4</span>")
                       .arg(percent(p), colours.muted.name(), local ? QStringLiteral("local ") : QString(),
                            percent(model.threshold));
    probability_->setToolTip(local ? operatingPointText(model) : QString());
    if (model.isBorderline(p))
        line += QStringLiteral(" <b style=\"color:%1\">borderline</b>").arg(colours.borderline.name());
    probability_->setText(line);
}

QString percent(double fraction) { return QString::number(fraction * 100.0, 'f', 1) + QStringLiteral(" %"); }

}  // namespace orvix::app
