#pragma once
// The report editor: an editable, scrolling text area that edits fullText in place (gray
// "HelveticaNeue" 16 with 5 points between lines). What the user did not touch keeps its bytes,
// also where they are not UTF-8 (ReportText.h).

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

private:
    void show(const std::string& text);
    void applyLineSpacing();

    Binding<std::string> fullText_;
    State<std::string> testResult_;
    QPlainTextEdit* editor_;
    std::size_t observer_ = 0;
    bool writing_ = false;
};

}  // namespace orvix::app
