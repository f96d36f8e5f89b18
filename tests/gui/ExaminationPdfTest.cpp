// The examination PDF as a reader sees it: its text through poppler's pdftotext, its pages through pdfinfo.

#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>

#include "ExaminationPdf.h"
#include "TestSupport.h"

using namespace orvix;
using namespace orvix::app;

namespace {

// A poppler tool's output on pdf (whitespace runs collapsed); fails the test when the tool is missing.
QString popplerOutput(const QString& tool, const QStringList& args) {
    QProcess process;
    process.start(tool, args);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        ADD_FAILURE() << tool.toStdString()
                      << " did not run (install poppler-utils): " << process.errorString().toStdString();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).replace(QRegularExpression("[ \\t]+"), " ");
}

Examination sample() {
    QImage picture(640, 480, QImage::Format_ARGB32);
    picture.fill(QColor(40, 40, 40, 200));
    return {picture,
            "Röntgen_Łódź_ß-0417.png",
            "POSITIVE",
            {"Chest X-ray (gate) probability: 99.1 % — how sure the gate is that this is a chest X-ray",
             "Pneumonia probability: 82.4 % (threshold 34.6 %) — the disease model's probability"},
            "Opacity in the right lower lobe.\nEdited by hand: follow up in two weeks.",
            {"SickClassifier1 (sha256 4518a939b9a7)", "XRayClassifier1 (sha256 0c5e2d81f3aa)"},
            QDateTime(QDate(2031, 7, 19), QTime(14, 5)),
            "Doe, John · ID 12345 · view PA"};
}

}  // namespace

// Every element as text, on one page, replacing an earlier file; a long report shrinks onto that page.
TEST(ExaminationPdf, HoldsEveryElementAsTextOnOnePageReplacingAnEarlierFile) {
    test::TempDir dir;
    const QString pdf = QString::fromStdString((dir / "exam.pdf").string());
    test::writeBytes(dir / "exam.pdf", "an earlier file");
    Examination exam = sample();
    ASSERT_TRUE(writeExaminationPdf(exam, pdf).ok());

    QString text = popplerOutput("pdftotext", {"-layout", pdf, "-"});
    const QStringList elements = QStringList{"Orvix — chest X-ray screening",
                                             "Not for diagnostic use",
                                             exam.fileName,
                                             "Patient: " + exam.patient,
                                             exam.verdict,
                                             "Edited by hand: follow up in two weeks.",
                                             "2031-07-19 14:05"} +
                                 exam.findings + exam.models;
    for (const QString& expected : elements)
        EXPECT_TRUE(text.contains(expected)) << expected.toStdString() << " missing from:\n" << text.toStdString();
    EXPECT_LT(text.indexOf(exam.findings[0]), text.indexOf(exam.findings[1]));
    EXPECT_TRUE(popplerOutput("pdfinfo", {pdf}).contains("Pages: 1"));

    exam.picture = QImage();
    exam.verdict.clear();
    QStringList lines;
    for (int i = 1; i <= 150; ++i) lines << QString("Report line %1 of the long report").arg(i, 3, 10, QChar('0'));
    exam.report = lines.join('\n');
    ASSERT_TRUE(writeExaminationPdf(exam, pdf).ok());
    text = popplerOutput("pdftotext", {"-layout", pdf, "-"});
    for (const QString& line : {lines.first(), lines[74], lines.last(), exam.models.last()})
        EXPECT_TRUE(text.contains(line)) << line.toStdString() << " missing";
    EXPECT_TRUE(popplerOutput("pdfinfo", {pdf}).contains("Pages: 1"));
}

TEST(ExaminationPdf, UnwritablePathFailsNamingItAndLeavesNothing) {
    test::TempDir dir;
    const std::string path = (dir / "missing" / "exam.pdf").string();
    const Status written = writeExaminationPdf(sample(), QString::fromStdString(path));
    ASSERT_FALSE(written.ok());
    EXPECT_NE(written.error().message.find(path), std::string::npos) << written.error().message;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
