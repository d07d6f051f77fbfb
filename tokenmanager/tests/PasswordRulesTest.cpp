// The password complexity rules and the entry check of new passwords, as tables of passwords and
// their codes.
#include <gtest/gtest.h>

#include <string>

#include "TokenManagerUtil.h"
#include "Util.h"

namespace {

struct RuleCase {
    std::string password;
    bool strict;
    unsigned int minimum;
    int code;
};

}  // namespace

TEST(PasswordRules, FirstBrokenRuleGivesTheCode) {
    const std::string thirty = "Ab1!Cd2@Ef3#Gh4$Ij5%Kl6^Mn7&Op";
    ASSERT_EQ(thirty.size(), 30u);
    const RuleCase cases[] = {
        // Length: 10 to 30 bytes.
        {"Ab1!Cd2@E", false, 10, 1},
        {thirty + "Q", false, 10, 1},
        {"", false, 10, 1},
        {thirty, false, 10, 0},
        {"Ab1!Cd2@Ef", false, 10, 0},
        // Forbidden characters come before every pattern.
        {"Ab1|Cd2@Ef", false, 10, 2},
        {"Ab1\"Cd2@Ef", false, 10, 2},
        {"Ab1'Cd2@Ef", false, 10, 2},
        {"Ab1\\Cd2@Ef", false, 10, 2},
        {"aaaa|bcd12", false, 10, 2},
        // Patterns, the lowest code among those broken.
        {"Zx!1111#Qw", false, 10, 3},
        {"abcd1111!X", false, 10, 3},  // also an ascending run
        {"Zx!ababab9", false, 10, 4},
        {"Zx!9abcabc", false, 10, 5},
        {"abcabcd!9X", false, 10, 5},  // also an ascending run: 5 is tested first
        {"Q!9kabcdzx", false, 10, 6},
        {"Q!91234zkx", false, 10, 6},
        {"Q!9zdcbazk", false, 10, 7},
        {"Q!94321zkx", false, 10, 7},
        // Runs are on signed bytes: 0x7E 0x7F 0x80 0x81 is no run.
        {std::string("Ab1!Cd\x7e\x7f\x80\x81", 10), false, 10, 0},
        {std::string("Ab1!\x81\x80\x7f\x7eQz", 10), false, 10, 0},
        // Character classes.
        {"QwertZuiop", false, 10, 8},
        {"9517538264", false, 10, 9},
        {"!@#$%^&*()", false, 10, 10},
        {"95175!8264", false, 10, 11},
        {"Qwert!uiop", false, 10, 12},
        {"Qwert9uiop", false, 10, 13},
        {"Qwe rt9uio", false, 10, 0},  // a blank is another character
        // A Korean character counts with all its bytes, as other characters.
        {"홍길동9", false, 10, 11},  // 10 bytes
        {"홍길동a9", false, 10, 0},
        {"홍길a9", false, 10, 1},  // 8 bytes
        // The strict variant.
        {"Qwert9uiop", true, 10, 0},
        {"QwertZuiop", true, 10, 12},
        {"9517538264", true, 10, 11},
        {"Qwert9uiop", true, 7, 16},
        {"", true, 7, 16},
        {"Qwert9u", true, 8, 15},
        {"Qwert9ui", true, 8, 0},
        // Short passwords with a low minimum: only the windows that fit are looked at.
        {"aaa", false, 1, 8},
        {"aaaa", false, 1, 3},
        {"abab", false, 1, 8},
        {"a", false, 1, 8},
    };
    for (const auto& c : cases) {
        std::string copy = c.password;
        EXPECT_EQ(Util::checkComplexPassword(reinterpret_cast<unsigned char*>(copy.data()),
                                             c.strict, c.minimum),
                  c.code)
            << "'" << c.password << "' strict " << c.strict << " minimum " << c.minimum;
    }
    EXPECT_EQ(Util::checkComplexPassword(nullptr, false, 10), 1);
}

TEST(PasswordRules, ThePiecesOfTheRules) {
    EXPECT_TRUE(Util::checkLimitLengthComplexPassword(false, 0));
    EXPECT_TRUE(Util::checkLimitLengthComplexPassword(true, 8));
    EXPECT_FALSE(Util::checkLimitLengthComplexPassword(true, 7));
    std::string nine = "123456789", ten = "1234567890", thirtyOne(31, 'x'), thirty(30, 'x');
    EXPECT_FALSE(Util::checkLengthComplexPassword(nine, 10));
    EXPECT_TRUE(Util::checkLengthComplexPassword(ten, 10));
    EXPECT_TRUE(Util::checkLengthComplexPassword(thirty, 10));
    EXPECT_FALSE(Util::checkLengthComplexPassword(thirtyOne, 10));
    const struct {
        bool letters, digits, others;
        int code;
    } classes[] = {
        {true, true, true, 0},    {true, true, false, 13},   {true, false, true, 12},
        {true, false, false, 8},  {false, true, true, 11},   {false, true, false, 9},
        {false, false, true, 10}, {false, false, false, 14},
    };
    for (const auto& c : classes)
        EXPECT_EQ(Util::checkErrorCase(c.letters, c.digits, c.others), c.code)
            << c.letters << c.digits << c.others;
}

TEST(PasswordRules, EntryCheckOfANewPasswordAndItsConfirmation) {
    const struct {
        std::string pin;
        int pinLength;
        std::string confirmation;
        int confirmationLength;
        int reason;
    } cases[] = {
        {"Ab1!Cd2@Ef", 10, "", 0, 15},  // empty confirmation: 15, not 9
        {"", 0, "Ab1!Cd2@Ef", 10, 15},
        {"Ab1!Cd2@Ef", 10, "Ab1!Cd2@Eg", 10, 9},  // differs in the last character only
        {"Ab1!Cd2@Ef", 10, "Ab1!Cd2@Ef", 9, 0},   // lengths are the caller's; the texts compare
        {"Ab1!Cd2@E", 9, "Ab1!Cd2@E", 9, 24},
        {"Ab1!Cd2@Ef3#Gh4$Ij5%Kl6^Mn7&OpQ", 31, "Ab1!Cd2@Ef3#Gh4$Ij5%Kl6^Mn7&OpQ", 31, 24},
        {"Ab1|Cd2@Ef", 10, "Ab1|Cd2@Ef", 10, 25},
        {"aaaa|bcd12", 10, "aaaa|bcd12", 10, 25},
        {"Ab1!Cd2@Ef", 10, "Ab1!Cd2@Ef", 10, 0},
        // The pattern and class rules advise only.
        {"QwertZuiop", 10, "QwertZuiop", 10, 0},
        {"Zx!1111#Qw", 10, "Zx!1111#Qw", 10, 0},
        {"Qwert9uiop", 10, "Qwert9uiop", 10, 0},
    };
    for (const auto& c : cases) {
        std::string pin = c.pin, confirmation = c.confirmation;
        EXPECT_EQ(TokenManagerUtil::checkPIN(pin.data(), c.pinLength, confirmation.data(),
                                             c.confirmationLength),
                  c.reason)
            << "'" << c.pin << "' / '" << c.confirmation << "'";
    }
    EXPECT_EQ(TokenManagerUtil::checkPIN(nullptr, 10, nullptr, 10), 15);
    EXPECT_TRUE(TokenManagerUtil::initialized);
}
