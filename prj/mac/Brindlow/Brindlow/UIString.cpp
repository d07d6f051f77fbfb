#include "UIString.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace brindlow::ui {

namespace {

// Length of the longest prefix of text[0, length) that does not end inside a UTF-8 sequence.
std::size_t completeUtf8Length(const char* text, std::size_t length) {
    std::size_t start = length;
    // Walk back over at most three continuation bytes to the lead byte of the last sequence.
    for (int back = 0; back < 4 && start > 0; ++back) {
        --start;
        const auto byte = static_cast<unsigned char>(text[start]);
        if ((byte & 0xC0) != 0x80) {
            std::size_t need = 1;
            if ((byte & 0xE0) == 0xC0)
                need = 2;
            else if ((byte & 0xF0) == 0xE0)
                need = 3;
            else if ((byte & 0xF8) == 0xF0)
                need = 4;
            return (length - start < need) ? start : length;
        }
    }
    return length;
}

}  // namespace

QString stringFromEucKr(const char* bytes, std::size_t max) {
    if (bytes == nullptr) return {};
    const std::size_t length = strnlen(bytes, max);
    if (length == 0) return {};

    iconv_t cd = iconv_open("UTF-8", "EUC-KR");
    if (cd == reinterpret_cast<iconv_t>(-1)) return QString::fromLatin1(bytes, length);

    std::string out;
    out.resize(length * 3 + 4);
    char* in = const_cast<char*>(bytes);
    std::size_t inLeft = length;
    char* dst = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) break;  // cannot happen: three bytes out per byte in is enough
        // An illegal or cut sequence: show a replacement character and go on after one byte.
        static constexpr char kReplacement[] = "\xEF\xBF\xBD";
        if (outLeft < 3) break;
        std::memcpy(dst, kReplacement, 3);
        dst += 3;
        outLeft -= 3;
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return QString::fromStdString(out);
}

QString stringFromUtf8Field(const char* field, std::size_t capacity) {
    if (field == nullptr || capacity == 0) return {};
    const std::size_t length = strnlen(field, capacity);
    return QString::fromUtf8(field, static_cast<qsizetype>(completeUtf8Length(field, length)));
}

QString singleLine(const QString& text) {
    QString line = text;
    for (QChar& c : line) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || u == 0x2028 || u == 0x2029 || (u >= 0x80 && u < 0xA0))
            c = QLatin1Char(' ');
    }
    return line;
}

}  // namespace brindlow::ui
