// User-interface strings from the byte texts of the lower layers: the EUC-KR message tables and
// the fixed-size UTF-8 fields of certificate records.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

namespace brindlow::ui {

// The text of EUC-KR bytes, read up to the first NUL but never more than max bytes. A byte
// sequence that is not EUC-KR shows as U+FFFD instead of losing the whole text.
QString stringFromEucKr(const char* bytes, std::size_t max = SIZE_MAX);

// The text of a fixed-size UTF-8 field: read up to the first NUL but never past capacity, so an
// unterminated field cannot be overrun; a character cut in two at the end of the field (by a
// writer that cut by bytes) is dropped rather than shown as garbage.
QString stringFromUtf8Field(const char* field, std::size_t capacity);

// The text on one line: line breaks, tabs and the other control characters become blanks, so a
// certificate cannot add lines to a display that counts them.
QString singleLine(const QString& text);

}  // namespace brindlow::ui
