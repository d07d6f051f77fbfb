#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Password.h"

namespace {

constexpr auto kDisk = InputPINHandler::TOKEN_TYPE_DISK;
constexpr auto kPurpose = InputPINHandler::PURPOSE_COPY_DESTINATION;

}  // namespace

TEST(PasswordTest, HandsTheOnePasswordToSingleAndDoubleRequests) {
    struct Case {
        std::string password;
        int expected;
    } cases[] = {
        {"Brindlow#1234", 0},
        {"", 0},                     // one NUL byte
        {std::string(127, 'a'), 0},  // the most a token's buffer holds
        {std::string(128, 'a'), 1},  // would overrun it: refused, nothing written
    };
    for (const Case& c : cases) {
        Password handler(c.password);
        for (int which = 0; which < 2; ++which) {
            char buffer[128];
            std::memset(buffer, 0x5A, sizeof buffer);
            const int result = which == 0 ? handler.inputPIN(buffer, kDisk, kPurpose)
                                          : handler.inputDoublePin(buffer, kDisk, kPurpose);
            EXPECT_EQ(result, c.expected) << c.password.size();
            if (c.expected == 0) {
                EXPECT_EQ(std::string(buffer), c.password);
            } else {
                for (char byte : buffer) ASSERT_EQ(byte, 0x5A);
            }
        }
    }
}

TEST(PasswordTest, RequestsForThreePasswordsOrTheMediumsOwnAreCancelled) {
    Password handler("Brindlow#1234");
    char first[128] = "untouched";
    char second[128] = "untouched";
    EXPECT_EQ(handler.inputTriplePin(first, second, kDisk, kPurpose), 1);
    EXPECT_EQ(handler.inputTokenPIN(first, "prompt", kDisk, kPurpose), 1);
    EXPECT_STREQ(first, "untouched");
    EXPECT_STREQ(second, "untouched");
}
