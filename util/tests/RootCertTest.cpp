#include <gtest/gtest.h>

#include <cstdlib>

#include "RootCert.h"
#include "DesktopPlatformSupport.h"
#include "WideFile.h"

namespace fs = std::filesystem;
using desktop_test::TempDir;

namespace {

constexpr wchar_t kAbcHash[] = L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

std::wstring w(const fs::path& p) {
    return stringToWstring(p.string());
}

// Both roots of the table with their bundle sources and user targets below one folder.
struct Roots {
    TempDir dir;
    fs::path src(int i) const {
        return dir.path() / "bundle" / wstringToString(NPKI_KISA[i].fileName);
    }
    fs::path dst(int i) const {
        return dir.path() / "home" / wstringToString(NPKI_KISA[i].fileName);
    }
    void fill(CRootCertManager& m) {
        m.InitMapRootCert();
        for (int i = 0; i < 2; ++i) {
            auto* cert = new RootCert(NPKI_KISA[i].commonName, w(dst(i)), w(src(i)));
            cert->SetHash(cert->MakeHash(w(src(i))));
            m.AddMapRootCert(NPKI_KISA[i].fileName, cert);
        }
    }
};

}  // namespace

TEST(RootCert, FingerprintOfAbcFile) {
    TempDir dir;
    desktop_test::spit(dir.path() / "abc", "abc");
    RootCert cert(L"KISA RootCA 1", L"", L"");
    const std::wstring hash = cert.MakeHash(w(dir.path() / "abc"));
    EXPECT_EQ(hash, kAbcHash);
    const std::wstring grouped = GroupFingerprint(hash);
    EXPECT_EQ(grouped,
              L"BA78 16BF 8F01 CFEA 4141 40DE 5DAE 2223 B003 61A3 9617 7A9C B410 FF61 F200 15AD");
    EXPECT_EQ(grouped.size(), 79u);
}

TEST(RootCert, ReadLimitsAndCodes) {
    TempDir dir;
    RootCert cert(L"", L"", L"");
    unsigned char* data = nullptr;
    unsigned int size = 0;
    desktop_test::spit(dir.path() / "max", std::string(10240, 'm'));
    ASSERT_EQ(cert.readFile(w(dir.path() / "max"), &data, &size), 0);
    EXPECT_EQ(size, 10240u);
    std::free(data);
    EXPECT_FALSE(cert.MakeHash(w(dir.path() / "max")).empty());

    desktop_test::spit(dir.path() / "big", std::string(10241, 'b'));
    EXPECT_EQ(cert.readFile(w(dir.path() / "big"), &data, &size), -6);
    EXPECT_EQ(cert.MakeHash(w(dir.path() / "big")), L"");
    EXPECT_EQ(cert.readFile(w(dir.path() / "none"), &data, &size), -1);
    EXPECT_EQ(cert.MakeHash(w(dir.path() / "none")), L"");
    desktop_test::spit(dir.path() / "empty", "");
    EXPECT_EQ(cert.MakeHash(w(dir.path() / "empty")), L"");
    // A folder opens but cannot be read.
    EXPECT_LT(cert.readFile(w(dir.path()), &data, &size), 0);
}

TEST(RootCert, CopyInstallsTheSourceWhole) {
    TempDir dir;
    desktop_test::spit(dir.path() / "src.der", std::string(3000, 'r'));
    RootCert cert(L"KISA RootCA 4", w(dir.path() / "KISA/dst.der"), w(dir.path() / "src.der"));
    EXPECT_FALSE(cert.CopyFiletoTarget());  // no folder for the target yet
    fs::create_directory(dir.path() / "KISA");
    EXPECT_FALSE(cert.CheckEqualHash());
    EXPECT_TRUE(cert.CopyFiletoTarget());
    EXPECT_TRUE(cert.CheckEqualHash());
    EXPECT_EQ(desktop_test::slurp(dir.path() / "KISA/dst.der"), std::string(3000, 'r'));

    RootCert missing(L"KISA RootCA 1", w(dir.path() / "KISA/x.der"), L"");
    EXPECT_FALSE(missing.CopyFiletoTarget());
    EXPECT_FALSE(fs::exists(dir.path() / "KISA/x.der"));
}

TEST(CRootCertManager, OnlyRootsThatNeedInstallingAreShown) {
    Roots r;
    desktop_test::spit(r.src(0), "root one");
    desktop_test::spit(r.src(1), "abc");
    desktop_test::spit(r.dst(0), "root one");
    CRootCertManager m;
    r.fill(m);
    EXPECT_EQ(m.GetCountMapRootCert(), 2);
    EXPECT_FALSE(m.IsAllFileExist());
    std::wstring text = L"stale";
    m.GetStringHashValue(text);
    EXPECT_EQ(text, L"KISA RootCA 4 [SHA 256]\n" + GroupFingerprint(kAbcHash) + L"\n\n");

    // A different installed root is shown too, in table order.
    desktop_test::spit(r.dst(0), "tampered");
    r.fill(m);
    m.GetStringHashValue(text);
    EXPECT_EQ(text.find(L"KISA RootCA 1 [SHA 256]\n"), 0u);
    EXPECT_NE(text.find(L"\n\nKISA RootCA 4 [SHA 256]\n"), std::wstring::npos);

    desktop_test::spit(r.dst(0), "root one");
    desktop_test::spit(r.dst(1), "abc");
    EXPECT_TRUE(m.IsAllFileExist());
    m.GetStringHashValue(text);
    EXPECT_EQ(text, L"");
}

TEST(CRootCertManager, EmptyTargetAndMissingSourceCountAsEqual) {
    Roots r;
    desktop_test::spit(r.src(0), "root one");
    desktop_test::spit(r.dst(0), "root one");
    desktop_test::spit(r.dst(1), "");  // no source for this root in the bundle
    CRootCertManager m;
    r.fill(m);
    EXPECT_TRUE(m.IsAllFileExist());
}

TEST(CRootCertManager, OwnsItsRoots) {
    CRootCertManager m;
    EXPECT_TRUE(m.IsAllFileExist());  // empty
    auto* first = new RootCert(L"first", L"", L"");
    m.AddMapRootCert(L"a.der", first);
    m.AddMapRootCert(L"a.der", new RootCert(L"second", L"", L""));  // deleted, first kept
    EXPECT_EQ(m.GetRootCertByDerName(L"a.der"), first);
    EXPECT_EQ(m.GetRootCertByDerName(L"b.der"), nullptr);
    EXPECT_EQ(m.GetCountMapRootCert(), 1);
    m.InitMapRootCert();
    EXPECT_EQ(m.GetCountMapRootCert(), 0);
}
