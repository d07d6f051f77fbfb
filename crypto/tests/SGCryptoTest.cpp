#include <gtest/gtest.h>

#include "SGCrypto.h"

TEST(SGCrypto, Version) {
    EXPECT_STREQ(SGCrypto_GetVersion(), "4.2.1.0");
}
