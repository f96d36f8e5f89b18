#pragma once
// The report between its bytes and the editor's document. The report is a std::string of
// bytes: UTF-8, except that the file name on its first line is the bytes the system gave, which
// need not be UTF-8. A QTextDocument holds UTF-16 text and turns some characters into paragraph
// breaks, so the bytes it could not hold as they are each get a stand-in character, U+FFFD, whose
// character format carries them:
//
//   - each byte that does not begin a valid UTF-8 sequence (one stand-in per byte);
//   - CR, U+2029 and Qt's frame marks U+FDD0 and U+FDD1, which the document would take for the
//     end of a paragraph and give back as a line feed.
//
// Everything else, U+00A0 and U+2028 included, is held as it is. Reading the document back gives
// each stand-in's bytes, encodes every other character as UTF-8 and puts a line feed between
// paragraphs: a report goes through the editor byte for byte, and what the user types or
// pastes is saved as the UTF-8 of what the editor shows. A stand-in the user deletes is gone
// with its bytes; undo brings both back. A U+FFFD typed or pasted right after a stand-in can
// take the stand-in's format, as Qt gives typed text the format of the character before it.

#include <string>

class QTextDocument;

namespace orvix::app {

// Replaces the document's text with text as above; nothing of it is an edit to undo.
void setReportText(QTextDocument& document, const std::string& text);

// The document's text as bytes, as above.
std::string reportText(const QTextDocument& document);

}  // namespace orvix::app
