#include "TextEditingView.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

#include "Palette.h"
#include "ReportText.h"

namespace orvix::app {

TextEditingView::TextEditingView(Binding<std::string> fullText, State<std::string> testResult, QWidget* parent)
    : QWidget(parent), fullText_(std::move(fullText)), testResult_(std::move(testResult)),
      editor_(new QPlainTextEdit(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(editor_);
    editor_->setObjectName("reportEditor");
    editor_->setFont(reportFont(16));
    colourText();
    editor_->setFrameShape(QFrame::NoFrame);
    // Tab moves on to the next control, as in a form; Ctrl+Tab types a tab character.
    editor_->setTabChangesFocus(true);
    editor_->installEventFilter(this);
    editor_->setAccessibleName(QStringLiteral("Report"));

    show(fullText_.get());
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        if (writing_) return;
        // The bytes the editor shows (ReportText.h), not toPlainText(), which turns non-breaking
        // spaces into spaces and line separators into line feeds.
        std::string text = reportText(*editor_->document());
        if (resultLines(text) != resultLines_) {
            // An edit that touched the Test Result line (typed, pasted, cut, dropped or undone) is
            // taken back: the report keeps the model's verdict. Not from inside the document's own
            // change signal, which must not change it again.
            const int position = editor_->textCursor().position();
            QMetaObject::invokeMethod(
                this,
                [this, position] {
                    show(fullText_.get());
                    QTextCursor cursor = editor_->textCursor();
                    cursor.setPosition(std::min(position, editor_->document()->characterCount() - 1));
                    editor_->setTextCursor(cursor);
                },
                Qt::QueuedConnection);
            return;
        }
        writing_ = true;  // our own write comes back through the observer: do not reset the cursor
        fullText_.set(std::move(text));
        writing_ = false;
        emit edited();
    });
    observer_ = fullText_.observe([this](const std::string& text) {
        if (!writing_) show(text);
    });
}

TextEditingView::~TextEditingView() { fullText_.removeObserver(observer_); }

void TextEditingView::colourText() {
    QPalette palette = editor_->palette();
    palette.setColor(QPalette::Text, themeColours().muted);
    editor_->setPalette(palette);
}

void TextEditingView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) colourText();
}

bool TextEditingView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == editor_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::ControlModifier) {
            editor_->insertPlainText(QStringLiteral("\t"));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

std::vector<std::string> TextEditingView::resultLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (text.compare(start, 12, "Test Result:") == 0) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void TextEditingView::show(const std::string& text) {
    resultLines_ = resultLines(text);
    writing_ = true;
    // A new report, its line spacing included, is no edit that undo could take back.
    editor_->document()->setUndoRedoEnabled(false);
    setReportText(*editor_->document(), text);
    applyLineSpacing();
    editor_->document()->setUndoRedoEnabled(true);
    editor_->moveCursor(QTextCursor::Start);
    writing_ = false;
}

void TextEditingView::applyLineSpacing() {
    // 5 points between lines on every block; blocks typed later inherit the format.
    QTextCursor cursor(editor_->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat format;
    format.setLineHeight(5, QTextBlockFormat::LineDistanceHeight);
    const bool was = writing_;
    writing_ = true;
    cursor.mergeBlockFormat(format);
    writing_ = was;
}

}  // namespace orvix::app
