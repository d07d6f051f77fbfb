// ParsedCertificate sets over openssl-made certificates: the classification of certificates, the
// list itself, options, copies, and writing sets into NPKI and GPKI folder trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "PkiMaterial.h"
#include "SGCertificateSet.h"
#include "SGPKCSError.h"

namespace {

using namespace pkitest;

class CertificateSet : public PkiTest {};

int addFile(Set& set, int type, const fs::path& file, const Bytes* key = nullptr,
            const char* path = nullptr, const char* options = nullptr) {
    const Bytes der = testkit::readBytes(file);
    SGBinary view = viewOf(der);
    SGBinary keyView = key ? viewOf(*key) : SGBinary{};
    return SGCertificateSet_Add(&set.head, type, &view, key ? &keyView : nullptr, path, options);
}

TEST_F(CertificateSet, ServiceSlots) {
    EXPECT_EQ(Service[23], reinterpret_cast<void*>(&SGCertificateSet_SetOption));
    EXPECT_EQ(Service[24], reinterpret_cast<void*>(&SGCertificateSet_Add));
    EXPECT_EQ(Service[25], reinterpret_cast<void*>(&SGCertificateSet_AddSet));
    EXPECT_EQ(reinterpret_cast<int (*)(void)>(Service[26])(), 10010);  // Remove is not provided
    EXPECT_EQ(Service[27], reinterpret_cast<void*>(&SGCertificateSet_Copy));
    EXPECT_EQ(Service[28], reinterpret_cast<void*>(&SGCertificateSet_Clear));
    EXPECT_EQ(Service[29], reinterpret_cast<void*>(&SGCertificateSet_Count));
}

TEST_F(CertificateSet, ClassifiesCertificatesAsTheirExtensionsSay) {
    const struct {
        fs::path file;
        int type;
    } cases[] = {
        {chain() / "root.der", SG_CERTSET_ROOT},          // self-signed CA without AKI
        {subjects() / "kisa-root.der", SG_CERTSET_ROOT},  //
        {chain() / "ca.der", SG_CERTSET_CA},              // CA with AKI
        {shapes() / "selfaki.der", SG_CERTSET_CA},        // self-signed, but with AKI
        {chain() / "sign.der", SG_CERTSET_SIGN},          // digitalSignature
        {chain() / "km.der", SG_CERTSET_KM},              // keyEncipherment only
        {subjects() / "gpki-people-env.der", SG_CERTSET_KM},
    };
    for (const auto& c : cases) {
        Set set;
        ASSERT_EQ(addFile(set, SG_CERTSET_CLASSIFY, c.file), 0) << c.file;
        EXPECT_EQ(set.head.type, c.type) << c.file;
    }
}

TEST_F(CertificateSet, ClassifyingWhatDoesNotParseAddsNothing) {
    Set set;
    ASSERT_EQ(addFile(set, SG_CERTSET_SIGN, chain() / "sign.der"), 0);
    const Bytes junk{0x30, 0x03, 0x02, 0x01, 0x05};
    SGBinary view = viewOf(junk);
    EXPECT_EQ(
        SGCertificateSet_Add(&set.head, SG_CERTSET_CLASSIFY, &view, nullptr, nullptr, nullptr),
        10018);
    EXPECT_EQ(set.nodes().size(), 1u);

    Set empty;
    EXPECT_EQ(
        SGCertificateSet_Add(&empty.head, SG_CERTSET_CLASSIFY, &view, nullptr, nullptr, nullptr),
        10018);
    EXPECT_EQ(empty.head.type, 0);
    EXPECT_EQ(empty.head.certificate.data, nullptr);
}

TEST_F(CertificateSet, FillsTheHeadThenAppendsLinkedCopies) {
    Set set;
    unsigned count = 0;
    EXPECT_EQ(SGCertificateSet_Count(&count, &set.head), 0);
    EXPECT_EQ(count, 1u);  // an empty head counts

    const Bytes key = testkit::readBytes(chain() / "signPri.key");
    std::string path = "/some/folder";
    ASSERT_EQ(addFile(set, SG_CERTSET_SIGN, chain() / "sign.der", &key, path.c_str(), "FROM=FILE"),
              0);
    path[1] = 'X';  // the node keeps its own copy
    ASSERT_EQ(addFile(set, SG_CERTSET_KM, chain() / "km.der"), 0);
    ASSERT_EQ(addFile(set, SG_CERTSET_CA, chain() / "ca.der", nullptr, nullptr, "FROM=LDAP"), 0);

    EXPECT_EQ(SGCertificateSet_Count(&count, &set.head), 0);
    EXPECT_EQ(count, 3u);
    const auto nodes = set.nodes();
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0]->type, SG_CERTSET_SIGN);
    EXPECT_STREQ(nodes[0]->path, "/some/folder");
    EXPECT_EQ(bytesOf(nodes[0]->privateKey), key);
    EXPECT_NE(nodes[0]->privateKey.data, key.data());
    EXPECT_EQ(nodes[0]->origin, SG_CERTSET_FROM_FILE);
    EXPECT_EQ(nodes[0]->parsed, nodes[0]->x509Certificate.certificate);
    EXPECT_NE(nodes[0]->parsed, nullptr);
    EXPECT_TRUE(sameDer(nodes[1], testkit::readBytes(chain() / "km.der")));
    EXPECT_EQ(nodes[1]->prev, nodes[0]);
    EXPECT_EQ(nodes[2]->prev, nodes[1]);
    EXPECT_EQ(nodes[2]->origin, SG_CERTSET_FROM_LDAP);
    EXPECT_EQ(nodes[2]->next, nullptr);

    EXPECT_EQ(SGCertificateSet_Clear(&set.head), 0);
    EXPECT_EQ(set.head.type, 0);
    EXPECT_EQ(set.head.next, nullptr);
    EXPECT_EQ(set.head.path, nullptr);
}

TEST_F(CertificateSet, KeepsANodeThatDoesNotParseWithoutItsExtras) {
    Set set;
    const Bytes junk{0x01, 0x02, 0x03};
    const Bytes key{0xAA, 0xBB};
    SGBinary view = viewOf(junk), keyView = viewOf(key);
    EXPECT_EQ(SGCertificateSet_Add(&set.head, SG_CERTSET_CA, &view, &keyView, "/p", "TRUST=ON"),
              10018);
    EXPECT_EQ(set.head.type, SG_CERTSET_CA);
    EXPECT_EQ(bytesOf(set.head.certificate), junk);
    EXPECT_EQ(set.head.x509Certificate.certificate, nullptr);
    EXPECT_EQ(set.head.privateKey.data, nullptr);
    EXPECT_EQ(set.head.path, nullptr);
    EXPECT_EQ(set.head.trust, 0);

    // A type below 1 would read as an empty head later; a head is needed.
    SGBinary sign{};
    EXPECT_EQ(SGCertificateSet_Add(&set.head, 0, &sign, nullptr, nullptr, nullptr), 10001);
    EXPECT_EQ(SGCertificateSet_Add(nullptr, 1, &sign, nullptr, nullptr, nullptr), 10001);
    EXPECT_EQ(SGCertificateSet_Remove(&set.head, &set.head), 10010);
}

TEST_F(CertificateSet, OptionsSetOriginAndTrustIndependently) {
    // Each case starts from a node read from a file and trusted.
    const struct {
        const char* options;
        int origin;
        int trust;
    } cases[] = {
        {"FROM=LDAP TRUST=ON", SG_CERTSET_FROM_LDAP, 1},
        {"TRUST=OFF", SG_CERTSET_FROM_FILE, 0},
        {"FROM=LDAP", SG_CERTSET_FROM_LDAP, 1},
        {"TRUST=ON,FROM=FILE", SG_CERTSET_FROM_FILE, 1},
        {"FROM=FILE;FROM=LDAP", SG_CERTSET_FROM_FILE, 1},
        {"", SG_CERTSET_FROM_FILE, 1},
    };
    for (const auto& c : cases) {
        SGCertificateSet node{};
        node.origin = SG_CERTSET_FROM_FILE;
        node.trust = 1;
        EXPECT_EQ(SGCertificateSet_SetOption(&node, c.options), 0);
        EXPECT_EQ(node.origin, c.origin) << c.options;
        EXPECT_EQ(node.trust, c.trust) << c.options;
    }
    EXPECT_EQ(SGCertificateSet_SetOption(nullptr, "TRUST=ON"), 10001);
}

TEST_F(CertificateSet, CopiesKeepTrustAndOriginAndNeverShareBuffers) {
    Set source;
    const Bytes key = testkit::readBytes(chain() / "kmPri.key");
    ASSERT_EQ(
        addFile(source, SG_CERTSET_CA, chain() / "root.der", nullptr, "/r", "FROM=LDAP TRUST=ON"),
        0);
    ASSERT_EQ(addFile(source, SG_CERTSET_KM, chain() / "km.der", &key, "/k", "FROM=FILE"), 0);

    Set copy;
    ASSERT_EQ(addFile(copy, SG_CERTSET_SIGN, chain() / "sign.der"), 0);
    ASSERT_EQ(SGCertificateSet_Copy(&copy.head, &source.head), 0);  // replaces what it held
    auto nodes = copy.nodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_TRUE(sameDer(nodes[0], testkit::readBytes(chain() / "root.der")));
    EXPECT_EQ(nodes[0]->trust, 1);
    EXPECT_EQ(nodes[0]->origin, SG_CERTSET_FROM_LDAP);
    EXPECT_EQ(nodes[1]->origin, SG_CERTSET_FROM_FILE);
    EXPECT_EQ(bytesOf(nodes[1]->privateKey), key);
    EXPECT_NE(nodes[1]->privateKey.data, source.nodes()[1]->privateKey.data);
    EXPECT_STREQ(nodes[1]->path, "/k");
    EXPECT_NE(nodes[1]->path, source.nodes()[1]->path);

    // Appending a set to itself copies it once; copying onto itself leaves it as it is.
    ASSERT_EQ(SGCertificateSet_AddSet(&copy.head, &copy.head), 0);
    EXPECT_EQ(copy.nodes().size(), 4u);
    ASSERT_EQ(SGCertificateSet_Copy(&copy.head, &copy.head), 0);
    EXPECT_EQ(copy.nodes().size(), 4u);
    EXPECT_EQ(copy.nodes()[3]->trust, 0);
    EXPECT_EQ(copy.nodes()[2]->trust, 1);
}

// --- Writing ---------------------------------------------------------------------------------

class CertificateSetWrite : public CertificateSet {
  protected:
    testkit::Scratch scratch_{"certset-write"};
    std::string base() const { return scratch_.str(); }
    int write(const Set& set, SGCertificateStorageType layout) {
        const std::string text = base();
        SGBinary folder = viewOf(text);
        return SGCertificateSet_Write(&set.head, layout, &folder);
    }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(scratch_.path()))
            out.push_back(fs::relative(e.path(), scratch_.path()).string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(CertificateSetWrite, NpkiCaFileIsNamedByKeyIdentifierAndDecimalSerial) {
    Set set;
    ASSERT_EQ(addFile(set, SG_CERTSET_CA, subjects() / "kisa-root.der"), 0);
    ASSERT_EQ(write(set, SG_CERTIFICATE_STORAGE_NPKI), 0);
    // 0x0123456789ABCDEF in decimal.
    ASSERT_EQ(opensslSerialHex(subjects() / "kisa-root.pem"), "0123456789ABCDEF");
    const std::string name = opensslSki(subjects() / "kisa-root.pem") + "_81985529216486895.der";
    EXPECT_EQ(files(), (std::vector<std::string>{"KISA", "KISA/" + name}));
    EXPECT_EQ(testkit::readBytes(scratch_ / "KISA" / name),
              testkit::readBytes(subjects() / "kisa-root.der"));
    EXPECT_EQ(modeOf(scratch_ / "KISA"), 0700);

    // The sub CA: identifier 0102...14 and serial 0x2A.
    Set ca;
    ASSERT_EQ(addFile(ca, SG_CERTSET_CA, subjects() / "kisa-ca.der"), 0);
    ASSERT_EQ(write(ca, SG_CERTIFICATE_STORAGE_NPKI), 0);
    EXPECT_TRUE(
        fs::is_regular_file(scratch_ / "KISA" / "0102030405060708090A0B0C0D0E0F1011121314_42.der"));
}

TEST_F(CertificateSetWrite, NpkiUserFilesGoBelowTheSubjectFolder) {
    Set set;
    const Bytes signKey{1, 2, 3, 4}, kmKey{5, 6, 7};
    ASSERT_EQ(addFile(set, SG_CERTSET_SIGN, subjects() / "yessign-sign.der", &signKey), 0);
    ASSERT_EQ(addFile(set, SG_CERTSET_KM, subjects() / "yessign-km.der", &kmKey), 0);
    ASSERT_EQ(write(set, SG_CERTIFICATE_STORAGE_NPKI), 0);

    const fs::path folder =
        scratch_ / "yessign" / "USER" / "cn=Hong()0012, ou=XYZ, ou=personal4IB, o=yessign, c=KR";
    EXPECT_EQ(testkit::readBytes(folder / "signCert.der"),
              testkit::readBytes(subjects() / "yessign-sign.der"));
    EXPECT_EQ(testkit::readBytes(folder / "signPri.key"), signKey);
    EXPECT_EQ(testkit::readBytes(folder / "kmCert.der"),
              testkit::readBytes(subjects() / "yessign-km.der"));
    EXPECT_EQ(testkit::readBytes(folder / "kmPri.key"), kmKey);
    for (const fs::path& f : {scratch_ / "yessign", scratch_ / "yessign" / "USER", folder})
        EXPECT_EQ(modeOf(f), 0700) << f;
    EXPECT_EQ(modeOf(folder / "signPri.key"), 0600);
    EXPECT_EQ(modeOf(folder / "kmPri.key"), 0600);

    // Written again, the key file is replaced whole and stays owner-only.
    Set again;
    const Bytes newKey(3000, 0x42);
    ASSERT_EQ(addFile(again, SG_CERTSET_SIGN, subjects() / "yessign-sign.der", &newKey), 0);
    ASSERT_EQ(write(again, SG_CERTIFICATE_STORAGE_NPKI), 0);
    EXPECT_EQ(testkit::readBytes(folder / "signPri.key"), newKey);
    EXPECT_EQ(modeOf(folder / "signPri.key"), 0600);
}

TEST_F(CertificateSetWrite, GpkiFilesGoToTheClassFolderOfTheSubject) {
    Set people;
    const Bytes key{9, 9, 9};
    ASSERT_EQ(addFile(people, SG_CERTSET_SIGN, subjects() / "gpki-people-sign.der", &key), 0);
    ASSERT_EQ(addFile(people, SG_CERTSET_KM, subjects() / "gpki-people-env.der", &key), 0);
    ASSERT_EQ(write(people, SG_CERTIFICATE_STORAGE_GPKI), 0);
    Set organisation;
    ASSERT_EQ(addFile(organisation, SG_CERTSET_SIGN, subjects() / "gpki-org-sign.der"), 0);
    ASSERT_EQ(write(organisation, SG_CERTIFICATE_STORAGE_GPKI), 0);
    Set ca;
    ASSERT_EQ(addFile(ca, SG_CERTSET_CA, subjects() / "gpki-ca.der"), 0);
    ASSERT_EQ(write(ca, SG_CERTIFICATE_STORAGE_GPKI), 0);

    EXPECT_EQ(files(), (std::vector<std::string>{
                           "Certificate",
                           "Certificate/CA134100031.der",
                           "Certificate/class1",
                           "Certificate/class1/ORGMinistry of Test_sig.cer",
                           "Certificate/class2",
                           "Certificate/class2/Kim GPKI001_env.cer",
                           "Certificate/class2/Kim GPKI001_env.key",
                           "Certificate/class2/Kim GPKI001_sig.cer",
                           "Certificate/class2/Kim GPKI001_sig.key",
                       }));
    EXPECT_EQ(testkit::readBytes(scratch_ / "Certificate/class2/Kim GPKI001_env.cer"),
              testkit::readBytes(subjects() / "gpki-people-env.der"));
    EXPECT_EQ(modeOf(scratch_ / "Certificate/class2"), 0700);
    EXPECT_EQ(modeOf(scratch_ / "Certificate/class2/Kim GPKI001_sig.key"), 0600);
}

TEST_F(CertificateSetWrite, RefusesTargetsThatCertificateTextCannotName) {
    const struct {
        const char* what;
        fs::path file;
        int type;
        SGCertificateStorageType layout;
        int result;
    } cases[] = {
        {"no known NPKI authority", subjects() / "unknown-ca-user.der", SG_CERTSET_SIGN,
         SG_CERTIFICATE_STORAGE_NPKI, 10001},
        {"\"/\" and \"..\" in the subject", subjects() / "slash-user.der", SG_CERTSET_SIGN,
         SG_CERTIFICATE_STORAGE_NPKI, 10001},
        {"an escaped comma", subjects() / "comma-user.der", SG_CERTSET_SIGN,
         SG_CERTIFICATE_STORAGE_NPKI, 10001},
        {"a GPKI CA named \"..\"", subjects() / "dotdot-ca.der", SG_CERTSET_CA,
         SG_CERTIFICATE_STORAGE_GPKI, 10001},
        {"a user set of type 101", subjects() / "yessign-sign.der", SG_CERTSET_SIGN,
         SG_CERTIFICATE_STORAGE_NPKI, 10001},
        {"an unknown layout", subjects() / "kisa-root.der", SG_CERTSET_CA,
         static_cast<SGCertificateStorageType>(2), 10354},
    };
    for (const auto& c : cases) {
        Set set;
        ASSERT_EQ(addFile(set, c.type, c.file), 0) << c.what;
        // A root behind a signing certificate: no user file name for it.
        if (std::string(c.what) == "a user set of type 101") {
            ASSERT_EQ(addFile(set, SG_CERTSET_ROOT, subjects() / "kisa-root.der"), 0);
        }
        EXPECT_EQ(write(set, c.layout), c.result) << c.what;
        EXPECT_TRUE(files().empty()) << c.what;
    }

    Set set;
    ASSERT_EQ(addFile(set, SG_CERTSET_CA, subjects() / "kisa-root.der"), 0);
    const std::string missing = base() + "/not/there";
    SGBinary folder = viewOf(missing);
    EXPECT_EQ(SGCertificateSet_Write(&set.head, SG_CERTIFICATE_STORAGE_NPKI, &folder), 10355);
    EXPECT_EQ(SGCertificateSet_Write(&set.head, SG_CERTIFICATE_STORAGE_NPKI, nullptr), 10001);
    Set empty;
    const std::string text = base();
    folder = viewOf(text);
    EXPECT_EQ(SGCertificateSet_Write(&empty.head, SG_CERTIFICATE_STORAGE_NPKI, &folder), 10001);
}

}  // namespace
