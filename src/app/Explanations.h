#pragma once
// What the window's numbers mean, said once: the tooltips, the Help page and the examination PDF
// take their words from here. The Help page is the resource help/reading-the-result.md, which
// the README's "What the numbers are" section mirrors word for word.

#include <QString>

namespace orvix::app {

// One line each.
QString confidenceMeaning();  // CONFIDENCE: the gate's probability of a chest X-ray
QString borderlineMeaning();  // borderline: the band where validation verdicts flipped

// " — borderline", the mark that follows a borderline verdict.
QString borderlineMark();

// The Help page "Reading the result", as Markdown.
QString readingTheResult();

}  // namespace orvix::app
