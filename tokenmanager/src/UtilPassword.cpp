// Password complexity rules of Util.
#include <cstdint>
#include <cstring>
#include <string>

#include "Util.h"

namespace {

constexpr unsigned int kMaximumLength = 30;
constexpr unsigned int kStrictMinimumAbove = 7;

enum Rule : int {
    RULE_OK = 0,
    RULE_LENGTH = 1,
    RULE_FORBIDDEN = 2,
    RULE_SAME_FOUR = 3,
    RULE_PAIR_THRICE = 4,
    RULE_TRIPLE_TWICE = 5,
    RULE_ASCENDING = 6,
    RULE_DESCENDING = 7,
    RULE_LETTERS_ONLY = 8,
    RULE_DIGITS_ONLY = 9,
    RULE_OTHERS_ONLY = 10,
    RULE_NO_LETTERS = 11,
    RULE_NO_DIGITS = 12,
    RULE_NO_OTHERS = 13,
    RULE_EMPTY = 14,
    RULE_STRICT_LENGTH = 15,
    RULE_STRICT_MINIMUM = 16
};

bool isLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// The class result; "others" counts as present in the strict variant.
int classify(bool letters, bool digits, bool others) {
    if (letters && digits) return others ? RULE_OK : RULE_NO_OTHERS;
    if (letters) return others ? RULE_NO_DIGITS : RULE_LETTERS_ONLY;
    if (digits) return others ? RULE_NO_LETTERS : RULE_DIGITS_ONLY;
    return others ? RULE_OTHERS_ONLY : RULE_EMPTY;
}

}  // namespace

bool Util::checkLimitLengthComplexPassword(bool strict, unsigned int minimum) {
    return !strict || minimum > kStrictMinimumAbove;
}

bool Util::checkLengthComplexPassword(std::string& password, unsigned int minimum) {
    return password.size() >= minimum && password.size() <= kMaximumLength;
}

int Util::checkErrorCase(bool const& letters, bool const& digits, bool const& others) {
    return classify(letters, digits, others);
}

int Util::checkComplexPassword(unsigned char* password, bool strict, unsigned int minimum) {
    if (!checkLimitLengthComplexPassword(strict, minimum)) return RULE_STRICT_MINIMUM;
    std::string text = password ? reinterpret_cast<const char*>(password) : "";
    if (!checkLengthComplexPassword(text, minimum))
        return strict ? RULE_STRICT_LENGTH : RULE_LENGTH;

    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    if (text.find_first_of("\"'|\\") != std::string::npos) return RULE_FORBIDDEN;

    // Each pattern is looked for over the whole password before the next; the windows simply do
    // not fit a password shorter than they are.
    for (size_t i = 0; i + 4 <= n; ++i)
        if (p[i] == p[i + 1] && p[i] == p[i + 2] && p[i] == p[i + 3]) return RULE_SAME_FOUR;
    for (size_t i = 0; i + 6 <= n; ++i)
        if (p[i] == p[i + 2] && p[i] == p[i + 4] && p[i + 1] == p[i + 3] && p[i + 1] == p[i + 5])
            return RULE_PAIR_THRICE;
    for (size_t i = 0; i + 6 <= n; ++i)
        if (std::memcmp(p + i, p + i + 3, 3) == 0) return RULE_TRIPLE_TWICE;
    // Runs are judged on the bytes as signed 8-bit values.
    auto run = [&](int step) {
        for (size_t i = 0; i + 4 <= n; ++i) {
            bool inRun = true;
            for (size_t k = 1; k < 4 && inRun; ++k)
                inRun = static_cast<int8_t>(p[i + k]) - static_cast<int8_t>(p[i + k - 1]) == step;
            if (inRun) return true;
        }
        return false;
    };
    if (run(1)) return RULE_ASCENDING;
    if (run(-1)) return RULE_DESCENDING;

    bool letters = false, digits = false, others = false;
    for (size_t i = 0; i < n; ++i) {
        if (isLetter(p[i]))
            letters = true;
        else if (isDigit(p[i]))
            digits = true;
        else
            others = true;
    }
    return classify(letters, digits, others || strict);
}
