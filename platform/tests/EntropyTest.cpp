#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "Entropy.h"

using namespace brindlow::platform;

TEST(Entropy, SystemRandomFillsLongAndShortRequests) {
    // Well past the size a single getrandom call returns at once.
    std::vector<unsigned char> big(40 * 1024 * 1024, 0);
    ASSERT_TRUE(systemRandomBytes(big.data(), big.size()));
    std::set<unsigned char> values(big.end() - 4096, big.end());
    EXPECT_GT(values.size(), 200u);  // the tail was written too
    unsigned char a[32] = {}, b[32] = {};
    ASSERT_TRUE(systemRandomBytes(a, sizeof a));
    ASSERT_TRUE(systemRandomBytes(b, sizeof b));
    EXPECT_NE(std::string(a, a + 32), std::string(b, b + 32));
    EXPECT_TRUE(systemRandomBytes(nullptr, 0));
}

TEST(Entropy, ProcessInfoIsThisProcessStatRecord) {
    const std::vector<unsigned char> info = processInfo();
    ASSERT_FALSE(info.empty());
    const std::string text(info.begin(), info.end());
    EXPECT_EQ(text.rfind(std::to_string(getpid()) + " (", 0), 0u) << text;
}

namespace {
bool failingSource(void*, size_t) {
    return false;
}
}  // namespace

TEST(Entropy, SourceCanBeReplacedAndRestored) {
    const EntropySource original = entropySource();
    EXPECT_EQ(original.randomBytes, &systemRandomBytes);
    EXPECT_EQ(original.devicePath, "/dev/urandom");
    const EntropySource previous = setEntropySource({&failingSource, "/nonexistent"});
    EXPECT_EQ(previous.randomBytes, &systemRandomBytes);
    EXPECT_EQ(entropySource().randomBytes, &failingSource);
    EXPECT_EQ(entropySource().devicePath, "/nonexistent");
    setEntropySource(previous);
    EXPECT_EQ(entropySource().randomBytes, &systemRandomBytes);
    EXPECT_EQ(entropySource().devicePath, "/dev/urandom");
}
