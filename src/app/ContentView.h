#pragma once
// The diagnosis screen: the detail area (image column | results column), every size a fraction
// of this widget's own size W x H, recomputed on resize, so that it fills the widget exactly.
// The sidebar is laid over the detail's left edge while shown (View > Show Sidebar; hidden at
// start), so that showing it never squeezes or hides the results column. The detail scrolls
// only where its widgets cannot shrink to the fractions of a small window.

#include <QMessageBox>
#include <QWidget>

#include <functional>
#include <optional>

#include "ExaminationPdf.h"
#include "Geometry.h"
#include "orvix/DiagnosisState.h"
#include "orvix/ImportRun.h"

class QFrame;
class QLabel;
class QScrollArea;
class QFileDialog;

namespace orvix::app {

class ControlsArea;
class ImagePanel;
class sideBar;

class ContentView : public QWidget {
    Q_OBJECT
public:
    ContentView(DiagnosisState state, QWidget* parent = nullptr);
    ~ContentView() override;

    DiagnosisState& state() { return state_; }
    Geometry geometryProxy() const { return geometry_; }

    // The importer's completion with one chosen file, named by its bytes. A picture that is
    // not analysed is told through importFailed. Nothing is imported (nullopt) when the report
    // holds unsaved edits and the user keeps them (see keepOrSaveEdits).
    std::optional<ImportResult> importFile(const std::filesystem::path& path);
    // The upload action (File > Open): inverts openFile, which presents the importer.
    void upload();
    // The save action (File > Save Report).
    void save();

    // View > Show Sidebar.
    void setSidebarShown(bool shown);
    bool sidebarShown() const;

    // View > Show Heatmap.
    void setHeatmapShown(bool shown);
    bool heatmapShown() const { return heatmapShown_; }

    // Whether the report holds edits that no save has written.
    bool reportEdited() const { return reportEdited_; }
    // Before the report is replaced or the window closes: true when that may go ahead, that is
    // when there are no unsaved edits or the user saves (successfully) or discards them.
    bool keepOrSaveEdits();
    // How the user is asked about unsaved edits: Save, Discard or Cancel. A dialog by default.
    void setEditsQuestion(std::function<QMessageBox::StandardButton()> ask) { askAboutEdits_ = std::move(ask); }

    // What File > Export PDF writes: the picture as shown, verdict, probabilities, report as edited.
    Examination examination() const;
    // File > Export PDF: asks where (Documents/<file name>.pdf offered) and writes it there.
    void exportPdf();
    Status exportPdf(const QString& path);

    sideBar* sidebar() const { return sidebar_; }
    QScrollArea* detailScroll() const { return scroll_; }
    ImagePanel* imagePanel() const { return imagePanel_; }
    QWidget* resultsColumn() const { return resultsColumn_; }
    ControlsArea* controls() const { return controls_; }
    QWidget* blankBox() const { return blankBox_; }
    // The line above the picture naming a DICOM picture's patient and study (hidden for others).
    QLabel* identityLine() const { return identity_; }

    // The importer's name filters: "Pictures and DICOM", the files a folder search would take
    // (every format the decoder reads, and files without an extension that hold DICOM, as PACS
    // exports name them), then "All files (*)" (the decoder decides).
    static QStringList importerNameFilters();
    // Makes dialog an importer: the name filters, and the model that keeps the first filter's
    // files. Not the platform's own dialog, which takes no such model.
    static void prepareImporter(QFileDialog& dialog);
    // Where the importer opens: the folder of the last picture chosen in this window, else
    // Pictures, else home.
    QString importerFolder() const;
    void rememberFolder(const QString& folder) { lastFolder_ = folder; }

signals:
    // Shown by the window: a save that failed, with the path and the reason.
    void saveFailed(const QString& message);
    // Shown by the window: a chosen file that was not analysed, with its name and the reason.
    void importFailed(const QString& message);
    // The report gained edits that no save has written, or lost them (saved or replaced).
    void reportEditedChanged(bool edited);
    // Shown by the window: a PDF that could not be written, with the path and the reason.
    void exportFailed(const QString& message);
    // Shown by the window: the PDF was written to path.
    void exported(const QString& path);
    // A picture was decoded and put on the screen (File > Recent Files lists it).
    void pictureOpened(const std::filesystem::path& path);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void applyGeometry();
    void refresh();
    void refreshIdentity();
    void presentImporter();
    void setReportEdited(bool edited);

    DiagnosisState state_;
    Geometry geometry_;
    sideBar* sidebar_;
    QScrollArea* scroll_;
    QWidget* detail_;
    QFrame* columnDivider_;
    QFrame* resultsDivider_;
    ImagePanel* imagePanel_;
    QWidget* resultsColumn_;
    ControlsArea* controls_;
    QWidget* blankBox_;
    QLabel* identity_;
    std::vector<std::function<void()>> unobserve_;
    bool importerShown_ = false;
    QString lastFolder_;
    bool heatmapShown_ = false;
    bool reportEdited_ = false;
    std::function<QMessageBox::StandardButton()> askAboutEdits_;
};

}  // namespace orvix::app
