#include "Explanations.h"

#include <QFile>

namespace orvix::app {

QString confidenceMeaning() {
    return QStringLiteral(
        "CONFIDENCE: the gate's probability that this is a chest X-ray, not certainty about pneumonia.");
}

QString borderlineMeaning() {
    return QStringLiteral(
        "Borderline: the pneumonia probability lies in the band where validation verdicts flipped under small "
        "changes of exposure, resolution or framing: treat the verdict as undecided.");
}

QString borderlineMark() { return QStringLiteral(" \u2014 borderline"); }

QString readingTheResult() {
    QFile page(QStringLiteral(":/help/reading-the-result.md"));
    // Compiled into the program: it cannot be missing.
    page.open(QIODevice::ReadOnly);
    return QString::fromUtf8(page.readAll());
}

}  // namespace orvix::app
