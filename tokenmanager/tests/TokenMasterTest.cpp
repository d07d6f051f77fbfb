// The token registry over the temporary home folder and temporary mount folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "CertificateTreeSupport.h"
#include "FileToken.h"
#include "Logger.h"
#include "PFXNPKIToken.h"
#include "TokenManagerUtil.h"
#include "TokenMaster.h"
#include "TokenTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace treetest;

// Points the mount folders at a folder for one scope.
class VolumesFolder {
  public:
    explicit VolumesFolder(const std::string& folder) {
        if (const char* old = std::getenv("BRINDLOW_VOLUMES")) old_ = old;
        ::setenv("BRINDLOW_VOLUMES", folder.c_str(), 1);
    }
    ~VolumesFolder() {
        if (old_)
            ::setenv("BRINDLOW_VOLUMES", old_->c_str(), 1);
        else
            ::unsetenv("BRINDLOW_VOLUMES");
    }

  private:
    std::optional<std::string> old_;
};

// Two volumes and a hidden entry; the names in the order the directory gives them.
std::string makeVolumes(std::vector<std::string>* visible) {
    const std::string folder = tokentest::freshFolder("volumes");
    fs::create_directory(folder + "/USB 메모리");
    fs::create_directory(folder + "/STICK");
    fs::create_directory(folder + "/.Trashes");
    for (const auto& name : directoryOrder(folder))
        if (name[0] != '.') visible->push_back(name);
    return folder;
}

std::vector<std::string> tokenNames(TokenMaster& master) {
    TokenMaster::TokenMap::iterator it, end;
    master.getTokenList(&it, &end);
    std::vector<std::string> names;
    for (unsigned long expected = 0; it != end; ++it, ++expected) {
        EXPECT_EQ(it->first, expected);
        names.emplace_back(it->second->name);
    }
    return names;
}

}  // namespace

TEST(TokenMaster, HomeThenOneTokenPerVolumeEntry) {
    std::vector<std::string> volumes;
    const std::string folder = makeVolumes(&volumes);
    VolumesFolder mounted(folder);
    const std::string holder = folder + "/" + volumes[1] + "/NPKI/KICA/USER/holder";
    npkiHolder(holder, certificate("/C=KR/O=KICA/CN=on a stick"));

    TokenMaster master;
    std::vector<std::string> expected = {"사용자 홈"};
    expected.insert(expected.end(), volumes.begin(), volumes.end());
    expected.push_back("pfx npki");  // the in-memory NPKI token comes after the volumes
    EXPECT_EQ(tokenNames(master), expected);
    EXPECT_EQ(master.getTokenList(nullptr, nullptr), 4);

    Token* token = nullptr;
    ASSERT_EQ(master.getToken(0, &token), 0);
    auto* home = dynamic_cast<FileToken*>(token);
    ASSERT_NE(home, nullptr);
    EXPECT_TRUE(home->systemDrive);
    EXPECT_STREQ(home->rootName, "/");
    EXPECT_STREQ(home->getNPKIRoot(), (tokentest::kHome + "/Library/Preferences/NPKI").c_str());

    ASSERT_EQ(master.getToken(2, &token), 0);
    auto* stick = dynamic_cast<FileToken*>(token);
    ASSERT_NE(stick, nullptr);
    EXPECT_FALSE(stick->systemDrive);
    EXPECT_EQ(stick->rootName, volumes[1]);
    EXPECT_EQ(stick->getNPKIRoot(), folder + "/" + volumes[1] + "/NPKI");
    ShortCertificate* list = nullptr;
    unsigned int count = 0;
    EXPECT_EQ(stick->getCertificateList(&list, &count, 1, nullptr, nullptr), 0);
    EXPECT_EQ(count, 1u);
    if (count == 1) EXPECT_EQ(std::string(list[0].signCertID), sha1Identifier(holder) + "1");
    Token::freeMemory(list, 0);

    ASSERT_EQ(master.getToken(3, &token), 0);
    EXPECT_EQ(token, PFXNPKIToken::getInstance());
    EXPECT_STREQ(token->kind, "PFX NPKI");

    // An id without a token leaves the output alone.
    Token* untouched = stick;
    EXPECT_EQ(master.getToken(4, &untouched), 1334);
    EXPECT_EQ(untouched, stick);
    EXPECT_EQ(master.getToken(0xFFFFFFFFu, &untouched), 1334);
}

TEST(TokenMaster, RemovalClearAndRefresh) {
    std::vector<std::string> volumes;
    VolumesFolder mounted(makeVolumes(&volumes));
    TokenMaster master;
    master.removeToken(1);
    master.removeToken(7);  // no such token: nothing happens
    Token* token = nullptr;
    EXPECT_EQ(master.getToken(1, &token), 1334);
    EXPECT_EQ(master.getTokenList(nullptr, nullptr), 3);
    EXPECT_TRUE(master.tokenRefresh());  // disk tokens report status 0 and stay
    EXPECT_EQ(master.getTokenList(nullptr, nullptr), 3);

    // The in-memory NPKI token outlives the list and keeps what it holds.
    PFXNPKIToken* memory = PFXNPKIToken::getInstance();
    master.clear();
    EXPECT_EQ(master.getTokenList(nullptr, nullptr), 0);
    EXPECT_EQ(master.nextId, 0u);
    EXPECT_EQ(PFXNPKIToken::getInstance(), memory);
    EXPECT_TRUE(master.refresh());
    EXPECT_EQ(master.getTokenList(nullptr, nullptr), 4);
    ASSERT_EQ(master.getToken(3, &token), 0);
    EXPECT_EQ(token, memory);
    // The defaults are restored, not appended twice.
    EXPECT_EQ(master.allowList.size(), 3u);
    EXPECT_EQ(master.denyList.size(), 5u);

    // A null token is not registered and takes no id.
    master.addToken(nullptr);
    EXPECT_EQ(master.nextId, 4u);
    token = nullptr;
    EXPECT_EQ(master.getSoftToken(&token), 0);
    EXPECT_EQ(token, nullptr);
}

TEST(TokenMaster, WithoutMountFoldersOnlyTheHomeToken) {
    VolumesFolder mounted(tokentest::homeRoot() + "/no such folder");
    TokenMaster master;
    EXPECT_EQ(tokenNames(master), (std::vector<std::string>{"사용자 홈", "pfx npki"}));
}

TEST(TokenMaster, SmartCardReaderFilter) {
    VolumesFolder mounted(tokentest::homeRoot() + "/no such folder");
    TokenMaster master;
    const struct {
        const char* reader;
        int expected;
    } cases[] = {
        {"SCT SPK2032", 1},   // allowed
        {"AKS", 2},           // denied ("AKS" and "AKS ifdh 0")
        {"ifdh", 2},          // a name inside an entry
        {"ZETK ZSAFE 2", 3},  // longer than every entry
        {"Unknown Reader", 3},
        {"", 1},   // occurs in every entry; the allow list comes first
        {"S", 1},  // in both lists
    };
    for (const auto& c : cases) {
        std::string reader = c.reader;
        EXPECT_EQ(master.smartcardFilter(reader.data()), c.expected) << c.reader;
    }
    EXPECT_TRUE(master.getSmartCardList().empty());
}

TEST(TokenMaster, FirstVariantIgnoresTheMediaConfiguration) {
    EXPECT_IN_FRESH_PROCESS([] {
        tokentest::Checks checks;
        const std::string conf = tokentest::kHome + "/Library/Preferences/NPKI/Lindsign";
        fs::create_directories(conf);
        tokentest::writeText(conf + "/config.json", R"({"MediaConf":{"Removable":"off"}})");
        std::vector<std::string> volumes;
        VolumesFolder mounted(makeVolumes(&volumes));
        TokenMaster master;
        checks.expect(master.getTokenList(nullptr, nullptr) == 4, "volumes registered");
        checks.expect(master.removable && master.pfxFile, "defaults kept");
        return checks.failures;
    });
}

TEST(TokenMaster, OtherVariantReadsTheMediaConfiguration) {
    EXPECT_IN_FRESH_PROCESS([] {
        tokentest::Checks checks;
        setRennick();
        const std::string conf = tokentest::kHome + "/Library/Preferences/NPKI/Lindsign";
        fs::create_directories(conf);
        std::vector<std::string> volumes;
        VolumesFolder mounted(makeVolumes(&volumes));

        // Removable off: the home token alone.
        tokentest::writeText(conf + "/config.json",
                             "{\"MediaConf\": {\"Removable\": \"off\",\n \"HSM\": \"init\",\n"
                             "\"ICCard\": \"on\", \"Remote\": 1, \"CDRom\": \"onx\", "
                             "\"USBKey\": \"on\"},\n"
                             "\"ICCardFilter\": {\"AllowList\": [\"Reader A\", 3, \"Reader B\"],"
                             " \"DenyList\": \"not an array\"},\n"
                             "\"USBKeyFilter\": {\"MediaList\": \"a.dll\", \"MediaAPI\": 5}}");
        {
            TokenMaster master;
            checks.expect(master.getTokenList(nullptr, nullptr) == 2,
                          "home token and in-memory token only");
            checks.expect(!master.removable && master.hsm && master.icCard && !master.remote &&
                              master.cdRom && master.usbKey && !master.pfxFile,
                          "flags from the file");
            checks.expect(master.allowList.size() == 5 && master.allowList.back() == "Reader B",
                          "allow list appended");
            checks.expect(master.denyList.size() == 5, "deny list kept");
            checks.expect(master.mediaList == "a.dll" && master.mediaAPI == "skmagerapi.dll",
                          "USB key settings");
            checks.expect(master.smartcardFilter(const_cast<char*>("Reader A")) == 1,
                          "configured reader allowed");
        }
        // Not JSON: the fixed settings; volumes registered, no PKCS #12 token.
        tokentest::writeText(conf + "/config.json", "{ not json");
        {
            TokenMaster master;
            checks.expect(master.getTokenList(nullptr, nullptr) == 4, "volumes after bad JSON");
            checks.expect(master.removable && master.hsm && master.icCard && master.remote &&
                              !master.usbKey && !master.cdRom && !master.pfxFile,
                          "settings after bad JSON");
        }
        // No file: removable, hsm and remote on.
        fs::remove(conf + "/config.json");
        {
            TokenMaster master;
            checks.expect(master.getTokenList(nullptr, nullptr) == 4, "volumes without a file");
            checks.expect(master.removable && master.hsm && !master.icCard && master.remote &&
                              !master.usbKey && !master.pfxFile,
                          "settings without a file");
        }
        return checks.failures;
    });
}

TEST(TokenManagerUtil, TheRegistryIsBuiltOnceAtTheFirstCall) {
    EXPECT_IN_FRESH_PROCESS([] {
        tokentest::Checks checks;
        std::vector<std::string> volumes;
        const std::string folder = makeVolumes(&volumes);
        VolumesFolder mounted(folder);
        TokenMaster* master = TokenManagerUtil::getTokenMaster();
        checks.expect(master != nullptr && master == TokenManagerUtil::tokenMaster, "created");
        fs::create_directory(folder + "/LATER");
        checks.expect(TokenManagerUtil::getTokenMaster() == master, "same registry");
        checks.expect(master->getTokenList(nullptr, nullptr) == 4, "later volume not listed");
        return checks.failures;
    });
}
