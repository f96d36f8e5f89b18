#include "ReportText.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVariant>

#include <string_view>
#include <utility>
#include <vector>

namespace orvix::app {
namespace {

// The character format property that holds a stand-in's bytes.
constexpr int kBytesProperty = QTextFormat::UserProperty + 1;
constexpr char16_t kStandIn = u'\uFFFD';

bool continuation(std::string_view s, std::size_t i, unsigned char low = 0x80, unsigned char high = 0xBF) {
    if (i >= s.size()) return false;
    const auto byte = static_cast<unsigned char>(s[i]);
    return byte >= low && byte <= high;
}

// The length of the valid UTF-8 sequence at s[i], 0 where none begins there (a stray continuation
// byte, an overlong form, a surrogate, a code point above U+10FFFF, a sequence cut short).
std::size_t validSequence(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return continuation(s, i + 1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        return continuation(s, i + 1, low, high) && continuation(s, i + 2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
        return continuation(s, i + 1, low, high) && continuation(s, i + 2) && continuation(s, i + 3) ? 4 : 0;
    }
    return 0;
}

char32_t decode(std::string_view sequence) {
    const auto byte = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(sequence[k])); };
    switch (sequence.size()) {
        case 1: return byte(0);
        case 2: return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
        case 3: return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
        default: return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
    }
}

// Characters that QTextCursor::insertText turns into a paragraph break.
bool breaksParagraph(char32_t c) { return c == U'\r' || c == U'\u2029' || c == U'\uFDD0' || c == U'\uFDD1'; }

}  // namespace

void setReportText(QTextDocument& document, const std::string& text) {
    const std::string_view bytes = text;
    QString shown;
    std::vector<std::pair<int, QByteArray>> standIns;  // position in shown, bytes
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = validSequence(bytes, i);
        const std::string_view sequence = bytes.substr(i, length == 0 ? 1 : length);
        const char32_t c = length == 0 ? kStandIn : decode(sequence);
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
