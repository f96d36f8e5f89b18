#pragma once
// One examination as a one-page PDF: what the window showed, the verdict and the report
// as edited, for the user's own records. Drawn with Qt's PDF writer, text as text.

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>

#include "orvix/Result.h"

class QPrinter;

namespace orvix::app {

struct Examination {
    QImage picture;        // as the window shows it (overlay and legend included when shown); may be null
    QString fileName;      // the picture's file name
    QString verdict;       // "NEGATIVE", "POSITIVE", "NOT A CHEST X-RAY", or empty when nothing was analysed;
                           // " — borderline" after the first two marks a borderline probability (orange)
    QStringList findings;  // one line each (probabilities and what they mean, borderline's too), drawn in order
    QString report;        // the report text as edited ('\n' between lines)
    QStringList models;    // one line per model, e.g. "SickClassifier1 (sha256 4518a939b9a7)"
    QDateTime created;     // the date and time printed on the page
    QString patient;       // a DICOM picture's patient and study on one line (identityLine); empty for others
};

// Writes one A4 portrait page to path, replacing any file there atomically: title,
// "Not for diagnostic use", date, file name, the patient line (where there is one), the picture scaled into its box
// (aspect ratio kept), verdict, findings, the report (wrapped, and drawn smaller when it would not fit), the model
// lines. Fails naming the path and the reason; a failed write leaves any existing file untouched and no temporary file
// behind.
Status writeExaminationPdf(const Examination& exam, const QString& path);

// Prints the same page on printer (File > Print), within the page layout its dialog left;
// fails naming the printer and the reason.
Status printExamination(const Examination& exam, QPrinter& printer);

}  // namespace orvix::app
