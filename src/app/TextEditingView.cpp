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
    QPalette palette = editor_->palette();
    palette.setColor(QPalette::Text, kGray);
    editor_->setPalette(palette);
    editor_->setFrameShape(QFrame::NoFrame);
    // Tab moves on to the next control, as in a form; Ctrl+Tab types a tab character.
    editor_->setTabChangesFocus(true);
    editor_->installEventFilter(this);
    editor_->setAccessibleName(QStringLiteral("Report"));

    show(fullText_.get());
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        if (writing_) return;
        writing_ = true;  // our own write comes back through the observer: do not reset the cursor
        // The bytes the editor shows (ReportText.h), not toPlainText(), which turns non-breaking
        // spaces into spaces and line separators into line feeds.
        fullText_.set(reportText(*editor_->document()));
        writing_ = false;
        emit edited();
    });
    observer_ = fullText_.observe([this](const std::string& text) {
        if (!writing_) show(text);
    });
}

TextEditingView::~TextEditingView() { fullText_.removeObserver(observer_); }

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

void TextEditingView::show(const std::string& text) {
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
