#include "ReportText.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVariant>

#include <string_view>
#include <utility>
#include <vector>

#include "orvix/Utf8.h"

namespace orvix::app {
namespace {

// The character format property that holds a stand-in's bytes.
constexpr int kBytesProperty = QTextFormat::UserProperty + 1;
constexpr char16_t kStandIn = u'\uFFFD';

// Characters that QTextCursor::insertText turns into a paragraph break.
bool breaksParagraph(char32_t c) { return c == U'\r' || c == U'\u2029' || c == U'\uFDD0' || c == U'\uFDD1'; }

}  // namespace

void setReportText(QTextDocument& document, const std::string& text) {
    const std::string_view bytes = text;
    QString shown;
    std::vector<std::pair<int, QByteArray>> standIns;  // position in shown, bytes
    for (std::size_t i = 0; i < bytes.size();) {
        const auto [code, length] = utf8CharacterAt(bytes, i);
        const std::string_view sequence = bytes.substr(i, length == 0 ? 1 : length);
        const char32_t c = length == 0 ? kStandIn : code;
        if (length == 0 || breaksParagraph(c)) {
            standIns.emplace_back(static_cast<int>(shown.size()), QByteArray(sequence.data(), sequence.size()));
            shown += QChar(kStandIn);
        } else {
            const char32_t one[] = {c};
            shown += QString::fromUcs4(one, 1);
        }
        i += sequence.size();
    }
    // Setting the stand-ins' formats is part of putting the text in, not an edit to undo.
    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    document.setPlainText(shown);
    for (const auto& [position, original] : standIns) {
        QTextCursor cursor(&document);
        cursor.setPosition(position);
        cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        QTextCharFormat format;
        format.setProperty(kBytesProperty, original);
        cursor.mergeCharFormat(format);
    }
    document.setUndoRedoEnabled(undo);
}

std::string reportText(const QTextDocument& document) {
    std::string out;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        // Qt's paragraph separators, and only they, become line feeds.
        if (block != document.begin()) out += '\n';
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QString text = fragment.text();
            const QVariant original = fragment.charFormat().property(kBytesProperty);
            if (!original.isValid()) {
                out += text.toStdString();
                continue;
            }
            // Typed text can share a stand-in's format; only the stand-in character stands for the bytes.
            const QByteArray standsFor = original.toByteArray();
            qsizetype start = 0;
            for (qsizetype k = 0; k <= text.size(); ++k) {
                if (k < text.size() && text[k] != QChar(kStandIn)) continue;
                out += QStringView(text).mid(start, k - start).toUtf8().toStdString();
                if (k < text.size()) out += standsFor.toStdString();
                start = k + 1;
            }
        }
    }
    return out;
}

}  // namespace orvix::app
