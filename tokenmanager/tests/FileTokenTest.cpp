// The disk token over NPKI and GPKI trees built at test time under a temporary folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "CertificateTreeSupport.h"
#include "FileToken.h"
#include "Logger.h"
#include "TokenTestSupport.h"
#include "Util.h"

namespace {

namespace fs = std::filesystem;
using namespace treetest;

// Subjects in openssl's -subj form, first RDN first.
const std::string kKoreanSubject = "/C=KR/O=yessign/OU=personal4IB/OU=우리은행/CN=홍길동()0011048";
const std::string kKeyEncipherment = "-addext keyUsage=critical,keyEncipherment";
const std::string kSigning = "-addext keyUsage=critical,digitalSignature,nonRepudiation";

struct ListedRow {
    std::string signCertID, signKeyID, kmCertID, kmKeyID, subject;
    int pkiType;
};

// Lists the token and copies the rows, releasing the list the way callers do.
std::vector<ListedRow> listRows(FileToken& token, int filter, int* rc = nullptr) {
    ShortCertificate* list = reinterpret_cast<ShortCertificate*>(0x1);  // caller's garbage
    unsigned int count = 77;
    const int result = token.getCertificateList(&list, &count, filter, nullptr, nullptr);
    if (rc) *rc = result;
    std::vector<ListedRow> rows;
    for (unsigned int i = 0; i < count; ++i) {
        const ShortCertificate& r = list[i];
        rows.push_back({r.signCertID, r.signKeyID, r.kmCertID, r.kmKeyID, r.subject, r.pkiType});
    }
    EXPECT_NE(list, reinterpret_cast<ShortCertificate*>(0x1));  // set on entry
    if (list != reinterpret_cast<ShortCertificate*>(0x1)) Token::freeMemory(list, 0);
    return rows;
}

std::vector<std::string> identifiers(const std::vector<ListedRow>& rows) {
    std::vector<std::string> ids;
    for (const auto& row : rows) ids.push_back(row.signCertID.substr(0, 40));
    return ids;
}

// One token over a base folder.
struct Disk {
    std::string base;
    FileToken token{"/", "disk"};
    explicit Disk(const std::string& name) : base(tokentest::freshFolder(name)) {
        token.setPKIDir(base);
    }
    std::string npki() const { return base + "/NPKI"; }
    std::string gpki() const { return base + "/GPKI/Certificate"; }
};

// The tree of the listing tests, with the expected identifiers by kind, in scan order.
struct ListingTree {
    Disk disk{"listing"};
    std::vector<std::string> npki, class2, class1;
    std::string koreanId, brokenKmId;

    ListingTree() {
        const std::string n = disk.npki();
        // yessign: the Korean holder with both pairs, a holder whose o= names no scanned CA,
        // and what is not a holder: a stray file and a folder with only its certificate.
        const std::string korean = n + "/yessign/USER/홍길동 folder";
        npkiHolder(korean, certificate(kKoreanSubject, kSigning),
                   certificate(kKoreanSubject, kKeyEncipherment), true);
        npkiHolder(n + "/yessign/USER/cn=nobody", certificate("/C=KR/O=ExampleCA/CN=nobody"));
        tokentest::writeText(n + "/yessign/USER/stray.txt", "stray");
        writeBytes(n + "/yessign/USER/only-cert/signCert.der",
                   certificate("/C=KR/O=yessign/CN=onlycert"));
        for (const auto& name : directoryOrder(n + "/yessign/USER"))
            if (name == "홍길동 folder" || name == "cn=nobody")
                npki.push_back(n + "/yessign/USER/" + name);
        koreanId = sha1Identifier(korean);

        // The other CA folders, scanned in their fixed order whatever the directory's order.
        npkiHolder(n + "/KSIGN/USER/ksign", certificate("/C=KR/O=KSIGN/CN=ksign"));
        npkiHolder(n + "/KECA/USER/keca", certificate("/C=KR/O=KECA/CN=keca"));
        npkiHolder(n + "/Lindsign/USER/lind", certificate("/C=KR/O=Lindsign/CN=lind"));
        // A CA folder and files spelled in other cases, as media written elsewhere have them.
        const std::string trade = n + "/TRADESIGN/user/trade";
        writeBytes(trade + "/SIGNCERT.DER", certificate("/C=KR/O=TradeSign/CN=trade"));
        writeBytes(trade + "/SignPri.Key", material().keyFile);
        // A key-management certificate that does not decode is dropped with its key.
        const std::string brokenKm = n + "/CrossCert/USER/broken-km";
        npkiHolder(brokenKm, certificate("/C=KR/O=CrossCert/CN=brokenkm"));
        writeBytes(brokenKm + "/kmCert.der", {0x30, 0x03, 0x02, 0x01, 0x01});
        writeBytes(brokenKm + "/kmPri.key", material().keyFile);
        brokenKmId = sha1Identifier(brokenKm);
        // A signing certificate that does not decode: no suite.
        writeBytes(n + "/KICA/USER/broken/signCert.der", {'n', 'o', 't', ' ', 'D', 'E', 'R'});
        writeBytes(n + "/KICA/USER/broken/signPri.key", material().keyFile);
        // A CA folder that is never scanned for user certificates.
        npkiHolder(n + "/KISA/USER/kisa", certificate("/C=KR/O=KISA/CN=kisa"));

        npki.push_back(n + "/Lindsign/USER/lind");
        npki.push_back(trade);
        npki.push_back(brokenKm);
        npki.push_back(n + "/KECA/USER/keca");
        npki.push_back(n + "/KSIGN/USER/ksign");

        // GPKI: accepted by the issuer's O= prefix (case ignored), refused otherwise.
        const std::string g = disk.gpki();
        gpkiHolder(
            g + "/class2/alpha",
            certificate("/C=KR/O=Government of Korea/OU=Ministry/CN=alpha", kSigning),
            certificate("/C=KR/O=Government of Korea/OU=Ministry/CN=alpha", kKeyEncipherment));
        gpkiHolder(g + "/class2/other", certificate("/C=KR/O=Government of Kore/CN=other"));
        // A candidate by name whose base has no "_sig.cer": nothing results.
        writeBytes(g + "/class2/bak_sig.cer.bak", certificate("/C=KR/O=Government of Korea/CN=b"));
        gpkiHolder(g + "/class1/beta", certificate("/C=KR/O=GOVERNMENT OF KOREA PKI/CN=beta"));
        class2.push_back(g + "/class2/alpha");
        class1.push_back(g + "/class1/beta");
    }
};

std::vector<std::string> idsOf(std::initializer_list<const std::vector<std::string>*> lists) {
    std::vector<std::string> ids;
    for (const auto* list : lists)
        for (const auto& path : *list) ids.push_back(sha1Identifier(path));
    return ids;
}

}  // namespace

TEST(FileTokenListing, RowsInCAOrderWithPathIdentifiersForEveryFilter) {
    ListingTree tree;
    ASSERT_FALSE(material().keyFile.empty()) << "openssl could not make the key file";
    const auto npki = idsOf({&tree.npki});
    const auto class2 = idsOf({&tree.class2});
    const auto class1 = idsOf({&tree.class1});
    auto join = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const struct {
        int filter;
        std::vector<std::string> expected;
    } cases[] = {
        {0, npki},
        {1, npki},
        {2, {}},
        {16, class2},
        {256, class1},
        {17, join({npki, class2})},
        {0x110, join({class2, class1})},
        {0x111, join({npki, class2, class1})},
        {-1, join({npki, class2, class1})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("filter " + std::to_string(c.filter));
        int rc = -1;
        const auto rows = listRows(tree.disk.token, c.filter, &rc);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(identifiers(rows), c.expected);
        // Every valid suite is kept, listed or not.
        EXPECT_EQ(tree.disk.token.sizeCertificateAndKey(),
                  static_cast<int>(npki.size() + class2.size() + class1.size()));
        for (const auto& row : rows) {
            const std::string id = row.signCertID.substr(0, 40);
            EXPECT_EQ(row.signCertID, id + "1");
            EXPECT_EQ(row.signKeyID, id + "2");
            const bool gpki = std::find(npki.begin(), npki.end(), id) == npki.end();
            EXPECT_EQ(row.pkiType, gpki ? 1 : 0);
            const bool withKm = id == tree.koreanId || id == class2.front();
            EXPECT_EQ(row.kmCertID, withKm ? id + "3" : row.signCertID);
            EXPECT_EQ(row.kmKeyID, withKm ? id + "4" : row.signKeyID);
        }
    }
}

TEST(FileTokenListing, RowTextsComeFromTheSigningCertificate) {
    ListingTree tree;
    const auto rows = listRows(tree.disk.token, 0x111);
    const auto korean = std::find_if(rows.begin(), rows.end(), [&](const ListedRow& r) {
        return r.signCertID == tree.koreanId + "1";
    });
    ASSERT_NE(korean, rows.end());
    EXPECT_EQ(korean->subject, "CN=홍길동()0011048, OU=우리은행, OU=personal4IB, O=yessign, C=KR");
    // The key-management certificate that did not decode left the suite without its pair.
    const auto brokenKm = std::find_if(rows.begin(), rows.end(), [&](const ListedRow& r) {
        return r.signCertID == tree.brokenKmId + "1";
    });
    ASSERT_NE(brokenKm, rows.end());
    EXPECT_EQ(brokenKm->subject, "CN=brokenkm, O=CrossCert, C=KR");
    unsigned char* der = reinterpret_cast<unsigned char*>(0x1);
    unsigned long length = 5;
    EXPECT_EQ(tree.disk.token.getCertificate((tree.brokenKmId + "3").c_str(), &der, &length), 0);
    EXPECT_EQ(der, nullptr);
    EXPECT_EQ(length, 0u);
}

TEST(FileTokenListing, TheSameFolderKeepsItsIdentifierAndAMovedOneGetsANewOne) {
    Disk disk("moves");
    const std::string first = disk.npki() + "/yessign/USER/holder";
    npkiHolder(first, certificate("/C=KR/O=yessign/CN=holder"));
    const auto before = identifiers(listRows(disk.token, 1));
    EXPECT_EQ(identifiers(listRows(disk.token, 1)), before);
    ASSERT_EQ(before, std::vector<std::string>{sha1Identifier(first)});

    fs::create_directories(disk.npki() + "/KICA/USER");
    fs::rename(first, disk.npki() + "/KICA/USER/holder");
    const auto after = identifiers(listRows(disk.token, 1));
    EXPECT_EQ(after, std::vector<std::string>{sha1Identifier(disk.npki() + "/KICA/USER/holder")});
    // The old item ids are gone with the rescan.
    unsigned char* der = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(disk.token.getCertificate((before.front() + "1").c_str(), &der, &length), 1309);
}

TEST(FileTokenListing, AnEmptyOrMissingTreeGivesNoRowsAndSetsTheOutputs) {
    Disk missing("missing");
    fs::remove_all(missing.base);
    Disk empty("empty");
    fs::create_directories(empty.npki() + "/yessign/USER/nothing-here");
    fs::create_directories(empty.gpki() + "/class2");
    for (Disk* disk : {&missing, &empty}) {
        ShortCertificate* list = reinterpret_cast<ShortCertificate*>(0xdead);
        unsigned int count = 9;
        EXPECT_EQ(disk->token.getCertificateList(&list, &count, 0x111, nullptr, nullptr), 0);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(list, nullptr);  // safe to release as it is
        Token::freeMemory(list, 0);
    }
}

TEST(FileTokenListing, OtherProgramVariantScansLindsignFirst) {
    EXPECT_IN_FRESH_PROCESS([] {
        tokentest::Checks checks;
        Disk disk("variant");
        const std::string yes = disk.npki() + "/yessign/USER/y";
        const std::string lind = disk.npki() + "/Lindsign/USER/l";
        npkiHolder(yes, certificate("/C=KR/O=yessign/CN=y"));
        npkiHolder(lind, certificate("/C=KR/O=Lindsign/CN=l"));
        const std::vector<std::string> first = {sha1Identifier(yes), sha1Identifier(lind)};
        checks.expect(identifiers(listRows(disk.token, 1)) == first, "first variant order");
        setRennick();
        const std::vector<std::string> other = {sha1Identifier(lind), sha1Identifier(yes)};
        checks.expect(identifiers(listRows(disk.token, 1)) == other, "other variant order");
        return checks.failures;
    });
}

// Every line the token manager's log holds below the process's home folder.
std::string tokenLog() {
    std::string all;
    const std::string folder = tokentest::kHome + "/Library/Ostrelworks";
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file()) all += tokentest::readText(it->path().string());
    return all;
}

long peakResidentKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(FileTokenHostileMedia, OnlyTheMediumsOwnCertificatesAreListedOnceAndNothingOutsideIsRead) {
    ASSERT_FALSE(material().keyFile.empty()) << "openssl could not make the key file";
    Disk disk("hostile");
    const std::string n = disk.npki();
    const std::string g = disk.gpki();
    // Beside the medium: a holder, a key, a certificate, a USER and a class folder, and a FIFO
    // whose opening for reading waits for a writer, so that reading it would hang the listing.
    const std::string out = tokentest::freshFolder("outside");
    npkiHolder(out + "/holder", certificate("/C=KR/O=yessign/CN=outside-holder"));
    writeBytes(out + "/signPri.key", material().keyFile);
    writeBytes(out + "/signCert.der", certificate("/C=KR/O=yessign/CN=outside-cert"));
    npkiHolder(out + "/USER/h", certificate("/C=KR/O=KECA/CN=outside-user"));
    gpkiHolder(out + "/class2/g", certificate("/C=KR/O=Government of Korea/CN=outside-class"));
    ASSERT_EQ(::mkfifo((out + "/fifo").c_str(), 0600), 0);

    std::string longSubject = "/C=KR/O=KICA";
    for (int i = 0; i < 30; ++i) {
        longSubject += "/OU=";
        for (int k = 0; k < 40; ++k) longSubject += "가";
    }
    longSubject += "/CN=longx";
    const auto sparse = [](const std::string& path) {
        writeBytes(path, {});
        fs::resize_file(path, std::uintmax_t{2} << 30);
    };
    const auto link = [](const std::string& target, const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        fs::create_symlink(target, path);
    };
    const auto key = [](const std::string& folder) {
        writeBytes(folder + "/signPri.key", material().keyFile);
    };

    const struct {
        std::string what;
        std::function<void()> make;
        std::string cn;  // the common name a row of the entry would show
        bool listed;
    } cases[] = {
        {"a good NPKI holder",
         [&] { npkiHolder(n + "/yessign/USER/good", certificate("/C=KR/O=yessign/CN=good")); },
         "good", true},
        {"a good GPKI certificate",
         [&] {
             gpkiHolder(g + "/class1/good",
                        certificate("/C=KR/O=Government of Korea/OU=Ministry/CN=gpki-good"));
         },
         "gpki-good", true},
        {"a subject far longer than the row's field",
         [&] { npkiHolder(n + "/KICA/USER/long", certificate(longSubject)); }, "longx", true},
        {"a subject with CR, LF and ESC",
         [&] {
             npkiHolder(
                 n + "/KICA/USER/crlf",
                 patched(patched(certificate("/C=KR/O=KICA/CN=lineQQFAKEZZ2J"), "QQ", "\r\n"), "ZZ",
                         "\x1b["));
         },
         "line", true},
        {"a CA folder linked to another", [&] { link("yessign", n + "/CrossCert"); }, "", false},
        {"sparse 2 GB certificate and key",
         [&] {
             sparse(n + "/yessign/USER/sparse/signCert.der");
             sparse(n + "/yessign/USER/sparse/signPri.key");
         },
         "", false},
        {"a sparse 2 GB key beside a good certificate",
         [&] {
             writeBytes(n + "/yessign/USER/sparse-key/signCert.der",
                        certificate("/C=KR/O=yessign/CN=sparse-key"));
             sparse(n + "/yessign/USER/sparse-key/signPri.key");
         },
         "sparse-key", false},
        {"a sparse 2 GB GPKI certificate",
         [&] {
             sparse(g + "/class1/big_sig.cer");
             writeBytes(g + "/class1/big_sig.key", material().keyFile);
         },
         "", false},
        {"a holder folder linked outside", [&] { link(out + "/holder", n + "/yessign/USER/away"); },
         "outside-holder", false},
        {"a holder with control characters in its name, linked outside",
         [&] { link(out + "/holder", n + "/yessign/USER/evil\r\nFAKE|F|line\x1b[2J"); },
         "outside-holder", false},
        {"a key linked to a file outside",
         [&] {
             writeBytes(n + "/yessign/USER/linked-key/signCert.der",
                        certificate("/C=KR/O=yessign/CN=linked-key"));
             link(out + "/signPri.key", n + "/yessign/USER/linked-key/signPri.key");
         },
         "linked-key", false},
        {"a certificate linked to a file outside",
         [&] {
             link(out + "/signCert.der", n + "/TradeSign/USER/linked-cert/signCert.der");
             key(n + "/TradeSign/USER/linked-cert");
         },
         "outside-cert", false},
        {"a USER folder linked outside", [&] { link(out + "/USER", n + "/KECA/USER"); },
         "outside-user", false},
        {"a GPKI class folder linked outside", [&] { link(out + "/class2", g + "/class2"); },
         "outside-class", false},
        {"a FIFO as the certificate",
         [&] {
             fs::create_directories(n + "/yessign/USER/fifo");
             ::mkfifo((n + "/yessign/USER/fifo/signCert.der").c_str(), 0600);
             key(n + "/yessign/USER/fifo");
         },
         "", false},
        {"a certificate linked to a FIFO outside",
         [&] {
             link(out + "/fifo", n + "/yessign/USER/fifo-out/signCert.der");
             key(n + "/yessign/USER/fifo-out");
         },
         "", false},
        {"symbolic link loops",
         [&] {
             link("loop", n + "/yessign/USER/loop");
             link("b", n + "/yessign/USER/a");
             link("a", n + "/yessign/USER/b");
             link("signPri.key", n + "/KSIGN/USER/self/signPri.key");
             writeBytes(n + "/KSIGN/USER/self/signCert.der", certificate("/C=KR/O=KSIGN/CN=self"));
         },
         "self", false},
    };
    for (const auto& c : cases) c.make();

    // The listing runs aside: should it open a FIFO, the test unblocks it and fails, not hangs.
    const long peakBefore = peakResidentKiB();
    std::vector<ListedRow> rows;
    auto listing = std::async(std::launch::async, [&] { rows = listRows(disk.token, -1); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool blocked = false;
    while (listing.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (std::chrono::steady_clock::now() < deadline) continue;
        blocked = true;
        for (const std::string& fifo : {out + "/fifo", n + "/yessign/USER/fifo/signCert.der"}) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
    }
    listing.get();
    EXPECT_FALSE(blocked) << "the listing waited on a FIFO";
    // A 2 GB file read whole would show here; the listing itself needs a few MiB.
    EXPECT_LT(peakResidentKiB() - peakBefore, 64 * 1024);

    auto rowsShowing = [&rows](const std::string& cn) {
        return std::count_if(rows.begin(), rows.end(), [&](const ListedRow& r) {
            return r.subject.rfind("CN=" + cn, 0) == 0;
        });
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.cn.empty()) EXPECT_EQ(rowsShowing(c.cn), c.listed ? 1 : 0);
    }
    EXPECT_EQ(rows.size(), 4u);

    // The long subject is cut at a whole character, with the ellipsis, in the field.
    const auto longRow = std::find_if(rows.begin(), rows.end(), [](const ListedRow& r) {
        return r.subject.rfind("CN=longx, OU=가가", 0) == 0;
    });
    ASSERT_NE(longRow, rows.end());
    EXPECT_LE(longRow->subject.size(), 255u);
    EXPECT_GE(longRow->subject.size(), 250u);
    EXPECT_EQ(longRow->subject.substr(longRow->subject.size() - 6), "가\xE2\x80\xA6");
    // No control character reaches a row.
    for (const auto& row : rows)
        EXPECT_EQ(row.subject.find_first_of("\r\n\x1b"), std::string::npos) << row.subject;

    // Every link and oversized file was skipped with a line, and no line was forged or broken
    // by a name from the medium.
    const std::string log = tokenLog();
    EXPECT_NE(log.find("away (symbolic link, not followed)"), std::string::npos) << log;
    EXPECT_NE(log.find("CrossCert (symbolic link, not followed)"), std::string::npos) << log;
    EXPECT_NE(log.find("sparse/signCert.der (larger than"), std::string::npos) << log;
    EXPECT_NE(log.find("fifo/signCert.der (not a regular file"), std::string::npos) << log;
    EXPECT_NE(log.find("evil\\x0D\\x0AFAKE|F|line\\x1B[2J (symbolic link"), std::string::npos)
        << log;
    EXPECT_EQ(log.find_first_of("\r\x1b"), std::string::npos);
    EXPECT_EQ(log.find("\nFAKE"), std::string::npos);
}

TEST(FileTokenHostileMedia, ARemovableMediumsNPKIAndGPKIFoldersAreNotFollowedTheHomesAre) {
    // A tree elsewhere, that a medium's NPKI and GPKI folders point at.
    const std::string elsewhere = tokentest::freshFolder("elsewhere");
    npkiHolder(elsewhere + "/NPKI/yessign/USER/h", certificate("/C=KR/O=yessign/CN=elsewhere"));
    gpkiHolder(elsewhere + "/GPKI/Certificate/class2/g",
               certificate("/C=KR/O=Government of Korea/CN=elsewhere-gpki"));
    for (const bool home : {false, true}) {
        SCOPED_TRACE(home ? "home token" : "removable medium");
        Disk disk(home ? "linked-home" : "linked-medium");
        disk.token.setSystemDrive(home);
        fs::create_symlink(elsewhere + "/NPKI", disk.npki());
        fs::create_directories(disk.base + "/GPKI");
        fs::create_symlink(elsewhere + "/GPKI/Certificate", disk.gpki());
        EXPECT_EQ(listRows(disk.token, -1).size(), home ? 2u : 0u);
    }
}

TEST(FileTokenLookup, CertificatesAndPathsByItemId) {
    ListingTree tree;
    listRows(tree.disk.token, 1);  // GPKI suites are kept though not listed
    const std::string holder = tree.disk.npki() + "/yessign/USER/홍길동 folder";
    const auto korean = readBytes(holder + "/signCert.der");
    const auto koreanKm = readBytes(holder + "/kmCert.der");
    const std::string alpha = sha1Identifier(tree.class2.front());
    const auto alphaCert = readBytes(tree.class2.front() + "_sig.cer");
    const auto alphaKm = readBytes(tree.class2.front() + "_env.cer");

    const struct {
        std::string itemId;
        int rc;
        std::vector<unsigned char> bytes;
    } cases[] = {
        {tree.koreanId + "1", 0, korean},
        {tree.koreanId + "2", 0, korean},
        {tree.koreanId + "3", 0, koreanKm},
        {tree.koreanId + "4", 0, koreanKm},
        {tree.koreanId + "X", 0, {}},
        {tree.koreanId + "5", 0, {}},
        {alpha + "1", 0, alphaCert},
        {alpha + "4", 0, alphaKm},
        {std::string(40, 'A') + "1", 1309, {}},
        {"", 1309, {}},
        {tree.koreanId, 1309, {}},  // the last character is dropped whatever it is
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.itemId);
        unsigned char* der = reinterpret_cast<unsigned char*>(0x1);
        unsigned long length = 3;
        EXPECT_EQ(tree.disk.token.getCertificate(c.itemId.c_str(), &der, &length), c.rc);
        EXPECT_EQ(std::vector<unsigned char>(der, der + length), c.bytes);
        if (c.bytes.empty()) EXPECT_EQ(der, nullptr);
        Token::freeMemory(der, length);
    }
    unsigned char* der = reinterpret_cast<unsigned char*>(0x1);
    unsigned long length = 3;
    EXPECT_EQ(tree.disk.token.getCertificate(nullptr, &der, &length), 1309);
    EXPECT_EQ(der, nullptr);

    // Paths: an NPKI suite's folder, the class2 folder for any GPKI suite; no terminator.
    char* text = nullptr;
    EXPECT_EQ(tree.disk.token.Token::getPath((tree.koreanId + "2").c_str(), &text), 0);
    EXPECT_STREQ(text, (tree.disk.npki() + "/yessign/USER/홍길동 folder").c_str());
    Token::freeMemory(text, 0);
    const std::string beta = sha1Identifier(tree.class1.front());
    unsigned char* path = nullptr;
    unsigned long pathLength = 0;
    EXPECT_EQ(tree.disk.token.getPath((beta + "1").c_str(), &path, &pathLength), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(path), pathLength), tree.disk.gpki() + "/class2");
    Token::freeMemory(path, 0);
    EXPECT_EQ(tree.disk.token.getPath("nothing1", &path, &pathLength), 1309);
    EXPECT_EQ(path, nullptr);

    EXPECT_TRUE(tree.disk.token.checkNPKI((tree.koreanId + "1").c_str()));
    EXPECT_FALSE(tree.disk.token.checkNPKI((alpha + "3").c_str()));
    EXPECT_TRUE(tree.disk.token.checkNPKI("unknown1"));
    EXPECT_STREQ(tree.disk.token.getNPKIRoot(), tree.disk.npki().c_str());
}

TEST(FileTokenWriting, TargetFolderOfACertificate) {
    Disk disk("targets");
    // An existing CA folder is used as the medium spells it.
    fs::create_directories(disk.npki() + "/CROSSCERT/USER");
    const std::string n = disk.npki();
    const struct {
        std::vector<unsigned char> der;
        int rc;
        std::string expected;
    } cases[] = {
        {certificate(kKoreanSubject), 0,
         n + "/yessign/USER/cn=홍길동()0011048,ou=우리은행,ou=personal4IB,o=yessign,c=KR"},
        {certificate("/C=kr/DC=SeoulMetro/OU=y/CN=x"), 0,
         n + "/KSIGN/USER/cn=x,ou=y,dc=SeoulMetro,c=kr"},
        {certificate("/C=KR/O=CrossCert/CN=c"), 0, n + "/CROSSCERT/USER/cn=c,o=CrossCert,c=KR"},
        // The CA part is the O attribute, not "o=" inside another value.
        {certificate("/C=KR/O=yessign/CN=xo=KICA"), 0,
         n + "/yessign/USER/cn=xo=KICA,o=yessign,c=KR"},
        {certificate("/C=KR/O=Government of Korea/CN=official"), 0, disk.gpki() + "/class2"},
        // A value's escaped comma is no backslash of its own.
        {certificate("/C=KR/O=yessign/CN=Kim, Inc"), 0,
         n + "/yessign/USER/cn=Kim,Inc,o=yessign,c=KR"},
        // Text that would leave the tree, or no CA part at all, is refused.
        {certificate("/C=KR/O=../../etc/CN=a"), 1331, ""},
        {certificate("/C=KR/O=../CN=a"), 1331, ""},
        {certificate("/C=KR/O=./CN=a"), 1331, ""},
        {certificate("/C=KR/O=a\\/b/CN=a"), 1331, ""},
        {certificate("/C=KR/O=a\\\\b/CN=a"), 1331, ""},
        {certificate("/C=KR/O=yessign/CN=a\\\\,b"), 1331, ""},
        {certificate("/C=KR/O=yessign/CN=a\\/..\\/..\\/x"), 1331, ""},
        {certificate("/C=KR/OU=people/CN=a"), 1331, ""},
        {certificate("/C=KR/DC=example/CN=a"), 1331, ""},
        {patched(certificate("/C=KR/O=yesNULsign/CN=a"), "NUL", std::string("\0UL", 3)), 1331, ""},
        {{'n', 'o', 't', ' ', 'D', 'E', 'R'}, 1312, ""},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.der.empty());
        std::wstring out = L"caller's text";
        const unsigned long length = c.der.size();
        EXPECT_EQ(
            disk.token.getPhysicalBasePath(out, const_cast<unsigned char*>(c.der.data()), length),
            c.rc)
            << c.expected;
        EXPECT_EQ(Util::wstringToUtf8(out), c.expected);
    }
    // Nothing was written on the way.
    std::set<std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(disk.base))
        entries.insert(e.path().string());
    EXPECT_EQ(entries, (std::set<std::string>{n, n + "/CROSSCERT", n + "/CROSSCERT/USER"}));
}

TEST(FileTokenWriting, EnableTokenPreparesOneCAFolder) {
    Disk disk("enable");
    EXPECT_EQ(disk.token.enableToken("yessign"), 0);
    EXPECT_TRUE(fs::is_directory(disk.npki() + "/yessign/USER"));
    EXPECT_FALSE(fs::exists(disk.npki() + "/yessign/USER/dummy.txt"));
    EXPECT_EQ(tokentest::modeOf(disk.npki() + "/yessign/USER"), 0700);
    EXPECT_EQ(disk.token.enableToken("yessign"), 0);  // ready already

    for (const char* name : {"", ".", "..", "../escape", "a/b", "a\\b"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(disk.token.enableToken(name), 1);
    }
    EXPECT_EQ(disk.token.enableToken(nullptr), 1);
    EXPECT_FALSE(fs::exists(disk.base + "/escape"));
    EXPECT_FALSE(fs::exists(disk.npki() + "/a"));

    // A medium where the folder cannot be made: the NPKI folder is a file.
    Disk blocked("blocked");
    tokentest::writeText(blocked.npki(), "not a folder");
    EXPECT_EQ(blocked.token.enableToken("yessign"), 1);
    EXPECT_EQ(tokentest::readText(blocked.npki()), "not a folder");
}

TEST(FileTokenWriting, AccessCertRewritesTheFilesInPlace) {
    Disk disk("access");
    const std::string holder = disk.npki() + "/yessign/USER/holder";
    npkiHolder(holder, certificate("/C=KR/O=yessign/CN=holder"),
               certificate("/C=KR/O=yessign/CN=holder", kKeyEncipherment));
    const auto rows = listRows(disk.token, 1);
    ASSERT_EQ(rows.size(), 1u);
    const auto key = readBytes(holder + "/signPri.key");
    EXPECT_EQ(disk.token.accessCert(rows[0].kmKeyID.c_str()), 0);
    EXPECT_EQ(readBytes(holder + "/signPri.key"), key);
    EXPECT_EQ(directoryOrder(holder).size(), 4u);  // no backup left behind

    // A key file that cannot be read back is reported.
    fs::remove(holder + "/kmPri.key");
    fs::create_directory(holder + "/kmPri.key");
    EXPECT_EQ(disk.token.accessCert(rows[0].signCertID.c_str()), 1);
    EXPECT_EQ(disk.token.accessCert("unknown1"), 1309);
}

TEST(FileTokenAnswers, OperationsOfOtherKindsAndLaterWork) {
    Disk disk("answers");
    FileToken& t = disk.token;
    EXPECT_STREQ(t.kind, "DISK DRIVE");
    EXPECT_STREQ(t.rootName, "/");
    EXPECT_FALSE(t.systemDrive);
    EXPECT_EQ(t.initToken(nullptr, 0, nullptr), 1306);
    EXPECT_EQ(t.setPIN(nullptr, 0, nullptr, 0), 1308);
    EXPECT_EQ(t.pushCertificate(nullptr, "x1", nullptr, 0, nullptr, 0), 1307);
    EXPECT_EQ(t.setTokenOptions(nullptr), 1307);
    EXPECT_EQ(t.finalizeToken(), 0);
    EXPECT_EQ(t.getTokenGrade(), 0);
    EXPECT_EQ(t.getTokenStatus(), 0);

    // Key operations of an id no listing gave: 1309, outputs cleared.
    unsigned char* bytes = reinterpret_cast<unsigned char*>(0x1);
    unsigned long length = 9;
    EXPECT_EQ(t.getPrivateKey("x2", &bytes, &length, nullptr), 1309);
    EXPECT_EQ(bytes, nullptr);
    bytes = reinterpret_cast<unsigned char*>(0x1);
    EXPECT_EQ(t.getVIDRandom(&bytes, &length, nullptr, "x1"), 1309);
    EXPECT_EQ(bytes, nullptr);
    char* a = reinterpret_cast<char*>(0x1);
    char* b = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(t.getKMID(&a, &b, "x1"), 1309);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(t.verifyPin("x1", nullptr, 0), 1309);
    EXPECT_EQ(t.deleteCertificate("x1", nullptr), 1309);
    EXPECT_EQ(t.importInit(nullptr, 0, nullptr, InputPINHandler::PURPOSE_IMPORT), 1305);
}
