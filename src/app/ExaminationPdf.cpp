#include "ExaminationPdf.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

#include <QBuffer>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QTextOption>

#include "LocalFile.h"
#include "orvix/ReportSaver.h"
#include "orvix/Version.h"

namespace orvix::app {
namespace {

constexpr int kResolution = 600;      // device units per inch while drawing
constexpr double kPictureDpi = 200;   // the picture is embedded at no more than this
constexpr double kReportPoints = 10;  // the report's size when it fits
const QColor kWarning(0xb0, 0x00, 0x20);
const QColor kMuted(0x55, 0x55, 0x55);

double mm(double millimetres) { return millimetres * kResolution / 25.4; }

QFont font(double points, QFont::Weight weight = QFont::Normal) {
    QFont f;
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setWeight(weight);
    // No ligatures: "fi" in "SickClassifier1" must copy out of the PDF as two letters.
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

QTextOption wrapping(Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop) {
    QTextOption option(alignment);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// The height text takes when wrapped to width.
double heightOf(QPainter& p, const QString& text, const QFont& f, double width) {
    if (text.isEmpty()) return 0;
    p.setFont(f);
    return p.boundingRect(QRectF(0, 0, width, 1e9), text, wrapping()).height();
}

// Draws text wrapped to width from (x, y); returns the y below it.
double drawText(QPainter& p, double x, double y, double width, const QString& text, const QFont& f,
                const QColor& colour = Qt::black) {
    const double height = heightOf(p, text, f, width);
    p.setPen(colour);
    p.drawText(QRectF(x, y, width, height), text, wrapping());
    return y + height;
}

// The largest scale at or below 1 at which text, wrapped to width / scale, is no taller than height / scale.
double fittingScale(QPainter& p, const QString& text, const QFont& f, double width, double height) {
    if (heightOf(p, text, f, width) <= height) return 1;
    double fits = 0.001, fails = 1;
    for (int i = 0; i < 30 && fails - fits > 0.001; ++i) {
        const double scale = (fits + fails) / 2;
        (heightOf(p, text, f, width / scale) * scale <= height ? fits : fails) = scale;
    }
    return fits;
}

// The picture, no larger than box at kPictureDpi, flattened onto white.
QImage forPage(const QImage& picture, const QSizeF& box) {
    const QSize most = (box * (kPictureDpi / kResolution)).toSize();
    QImage out = picture.width() > most.width() || picture.height() > most.height()
                     ? picture.scaled(most, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                     : picture;
    if (!out.hasAlphaChannel()) return out;
    QImage flat(out.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter(&flat).drawImage(0, 0, out);
    return flat;
}

QString verdictLine(const QString& verdict) {
    return QStringLiteral("Verdict: ") + (verdict.isEmpty() ? QStringLiteral("not analysed") : verdict);
}

QColor verdictColour(const QString& verdict) {
    if (verdict.endsWith(QLatin1String("borderline"))) return QColor(0xb3, 0x5c, 0x00);  // orange, legible on paper
    if (verdict == QLatin1String("POSITIVE")) return kWarning;
    if (verdict == QLatin1String("NEGATIVE")) return QColor(0x1b, 0x6e, 0x20);
    return Qt::black;
}

void drawPage(QPainter& p, const Examination& exam, const QSizeF page) {
    const double width = page.width();
    const double gap = mm(4);
    const QFont body = font(10);

    // Header.
    double y = drawText(p, 0, 0, width, QStringLiteral("Orvix — chest X-ray screening"), font(18, QFont::Bold));
    y += mm(2);
    const QString warning = QStringLiteral("Not for diagnostic use");
    const double warningHeight = heightOf(p, warning, font(14, QFont::Bold), width) + mm(3);
    p.setPen(QPen(kWarning, mm(0.5)));
    p.drawRect(QRectF(0, y, width, warningHeight));
    p.setFont(font(14, QFont::Bold));
    p.drawText(QRectF(0, y, width, warningHeight), warning, QTextOption(Qt::AlignCenter));
    y += warningHeight + mm(2);
    y = drawText(p, 0, y, width, QStringLiteral("Date: ") + exam.created.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                 body);
    y = drawText(p, 0, y, width, QStringLiteral("File: ") + exam.fileName, body);
    if (!exam.patient.isEmpty()) y = drawText(p, 0, y, width, QStringLiteral("Patient: ") + exam.patient, body);
    y += gap;

    // The models go at the foot of the page.
    const QFont small = font(8);
    const QString models = QStringLiteral("Models: ") + exam.models.join(QStringLiteral("\n"));
    const double footTop = page.height() - heightOf(p, models, small, width);
    p.setPen(QPen(kMuted, mm(0.2)));
    p.drawLine(QPointF(0, footTop - mm(1.5)), QPointF(width, footTop - mm(1.5)));
    drawText(p, 0, footTop, width, models, small, kMuted);

    // The picture takes what the verdict, findings and the report at full size leave, within bounds.
    const QFont verdictFont = font(14, QFont::Bold);
    const QFont heading = font(11, QFont::Bold);
    const QFont reportFont = font(kReportPoints);
    const QString findings = exam.findings.join(QStringLiteral("\n"));
    const double below = gap + heightOf(p, verdictLine(exam.verdict), verdictFont, width) + mm(1) +
                         heightOf(p, findings, body, width) + gap +
                         heightOf(p, QStringLiteral("Report"), heading, width) + mm(1) +
                         heightOf(p, exam.report, reportFont, width) + mm(3);
    double boxHeight = mm(20);
    if (!exam.picture.isNull())
        boxHeight = std::min(std::clamp(footTop - y - below, mm(60), mm(100)),
                             width * exam.picture.height() / std::max(1, exam.picture.width()));
    const QRectF box(0, y, width, boxHeight);
    if (exam.picture.isNull()) {
        p.setPen(QPen(kMuted, mm(0.2)));
        p.drawRect(box);
        p.setFont(body);
        p.drawText(box, QStringLiteral("No picture"), QTextOption(Qt::AlignCenter));
    } else {
        const QImage image = forPage(exam.picture, box.size());
        const QSizeF drawn = QSizeF(image.size()).scaled(box.size(), Qt::KeepAspectRatio);
        const QRectF target(box.left() + (box.width() - drawn.width()) / 2, box.top(), drawn.width(), drawn.height());
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(target, image);
    }
    y = box.bottom() + gap;

    y = drawText(p, 0, y, width, verdictLine(exam.verdict), verdictFont, verdictColour(exam.verdict)) + mm(1);
    y = drawText(p, 0, y, width, findings, body) + gap;
    y = drawText(p, 0, y, width, QStringLiteral("Report"), heading) + mm(1);

    // The report as edited, in full: smaller rather than cut when it is long.
    const double reportHeight = footTop - mm(3) - y;
    const double scale = fittingScale(p, exam.report, reportFont, width, reportHeight);
    p.save();
    p.translate(0, y);
    p.scale(scale, scale);
    p.setFont(reportFont);
    p.setPen(Qt::black);
    p.drawText(QRectF(0, 0, width / scale, reportHeight / scale), exam.report, wrapping());
    p.restore();
}

Status failure(const QString& path, const QString& why) {
    return Error{("cannot save " + path + ": " + why).toStdString()};
}

}  // namespace

Status writeExaminationPdf(const Examination& exam, const QString& path) {
    if (path.isEmpty()) return failure(path, QStringLiteral("no file name given"));

    // Drawn in memory first, then written atomically: a failed save leaves any earlier file as it was.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(kResolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                         QPageLayout::Millimeter));
        writer.setTitle(QStringLiteral("Orvix — ") + exam.fileName);
        writer.setCreator(QStringLiteral("Orvix " ORVIX_VERSION));
        QPainter painter;
        if (!painter.begin(&writer)) return failure(path, QStringLiteral("the PDF could not be started"));
        drawPage(painter, exam, QSizeF(writer.width(), writer.height()));
        if (!painter.end()) return failure(path, QStringLiteral("the PDF could not be finished"));
    }
    const QByteArray& bytes = buffer.data();
    if (!bytes.startsWith("%PDF")) return failure(path, QStringLiteral("the PDF came out empty"));

    const std::filesystem::path target = localFilePath(path);
    if (auto written = writeFileAtomically(target, std::string_view(bytes.constData(), bytes.size())); !written)
        return written;
    std::error_code ec;
    if (std::filesystem::file_size(target, ec) != static_cast<std::uintmax_t>(bytes.size()) || ec)
        return failure(path, QStringLiteral("the file is not complete after writing"));
    return Done{};
}

Status printExamination(const Examination& exam, QPrinter& printer) {
    // The page is laid out in units of kResolution per inch, as for the PDF.
    printer.setResolution(kResolution);
    const QString name = printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName();
    QPainter painter;
    if (!painter.begin(&printer))
        return Error{("cannot print to " + name + ": the printer did not start").toStdString()};
    const double scale = printer.resolution() / static_cast<double>(kResolution);
    painter.scale(scale, scale);
    drawPage(painter, exam, QSizeF(printer.width(), printer.height()) / scale);
    if (!painter.end()) return Error{("cannot print to " + name + ": the page was not finished").toStdString()};
    return Done{};
}

}  // namespace orvix::app
