#pragma once
// The report editor: an editable, scrolling text area that edits fullText in place (gray
// "HelveticaNeue" 16 with 5 points between lines). What the user did not touch keeps its bytes,
// also where they are not UTF-8 (ReportText.h).
//
// The "Test Result:" line is read-only: the verdict is the model's, and the report and the PDF
// made from it must not show another beside it. An edit that would change, remove or add a line
// beginning "Test Result:" is taken back (the text returns as it was before it, the cursor where
// the edit left it); every other line is the user's to edit.

#include <string>
#include <vector>

#include <QWidget>

#include "orvix/State.h"

class QPlainTextEdit;

namespace orvix::app {

class TextEditingView : public QWidget {
    Q_OBJECT
public:
    TextEditingView(Binding<std::string> fullText, State<std::string> testResult, QWidget* parent = nullptr);
    ~TextEditingView() override;
    QPlainTextEdit* editor() const { return editor_; }

signals:
    // The user changed the text (not a new report arriving through fullText).
    void edited();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void show(const std::string& text);
    // The report's text in the theme's muted colour.
    void colourText();
    void applyLineSpacing();
    // The lines of text that begin "Test Result:", in order.
    static std::vector<std::string> resultLines(const std::string& text);

    Binding<std::string> fullText_;
    State<std::string> testResult_;
    QPlainTextEdit* editor_;
    std::size_t observer_ = 0;
    bool writing_ = false;
    std::vector<std::string> resultLines_;  // of the report as it arrived
};

}  // namespace orvix::app
