// ParsedCertificate storage over NPKI and GPKI trees of openssl-made certificates: what the readers
// take and what they leave, the searches, and chain building from files, checked against
// openssl verify, including hierarchies whose issuer search has to be stopped.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "PkiMaterial.h"
#include "SGCertificateStorage.h"
#include "SGLDAP.h"
#include "SGPKCSError.h"
#include "Slapd.h"

namespace {

using namespace pkitest;

class CertificateStorage : public PkiTest {
  protected:
    testkit::Scratch scratch_{"certstore"};

    void copy(const fs::path& from, const fs::path& to) {
        testkit::writeBytes(scratch_ / to, testkit::readBytes(from));
    }
    void write(const fs::path& to, const Bytes& bytes) {
        testkit::writeBytes(scratch_ / to, bytes);
    }
};

// Every node of the storage in order, with its element's index.
std::vector<std::pair<size_t, const SGCertificateSet*>> nodesOf(const Storage& storage) {
    std::vector<std::pair<size_t, const SGCertificateSet*>> out;
    size_t index = 0;
    for (const SGCertificateSetList* e : storage.elements()) {
        for (const SGCertificateSet* n = &e->set; n && n->type; n = n->next)
            out.push_back({index, n});
        ++index;
    }
    return out;
}

const SGCertificateSet* nodeWith(const Storage& storage, const Bytes& der) {
    for (const auto& [index, node] : nodesOf(storage))
        if (sameDer(node, der)) return node;
    return nullptr;
}

TEST_F(CertificateStorage, ServiceSlots) {
    const void* expected[] = {
        reinterpret_cast<void*>(&SGCertificateStorage_Clear),
        reinterpret_cast<void*>(&SGCertificateStorage_AddCertificate),
        reinterpret_cast<void*>(&SGCertificateStorage_Remove),
        reinterpret_cast<void*>(&SGCertificateStorage_CreateByPath),
        reinterpret_cast<void*>(&SGCertificateStorage_FindIssuer),
        reinterpret_cast<void*>(&SGCertificateStorage_GenerateCertificateChain),
        reinterpret_cast<void*>(&SGCertificateStorage_SetTrust),
        reinterpret_cast<void*>(&SGCertificateStorage_Find),
    };
    for (int slot = 30; slot <= 37; ++slot) EXPECT_EQ(Service[slot], expected[slot - 30]) << slot;
}

TEST_F(CertificateStorage, NpkiReaderTakesTheAuthorityFoldersItKnows) {
    const fs::path npki = "NPKI";
    copy(chain() / "root.der", npki / "KISA" / "root.der");
    copy(chain() / "ca.der", npki / "lindsign" / "ca.der.bak");       // case ignored; ".der" inside
    copy(subjects() / "kisa-ca.der", npki / "KISA" / "KISA-CA.DER");  // ".der" is case-sensitive
    copy(subjects() / "gpki-ca.der", npki / "Other" / "other.der");   // not an authority
    write(npki / "KISA" / "garbage.der", Bytes{0x30, 0x01, 0x00});
    const fs::path user = npki / "yessign" / "User" / "cn=Hong";
    copy(chain() / "sign.der", user / "SIGNCERT.DER");
    copy(chain() / "signPri.key", user / "SignPri.Key");
    copy(chain() / "km.der", user / "kmCert.der");
    copy(chain() / "kmPri.key", user / "kmPri.key");
    write(user / "CaPubs", Bytes{1, 2, 3});
    copy(subjects() / "yessign-km.der", npki / "yessign" / "USER" / "km-only" / "kmCert.der");
    copy(subjects() / "yessign-km.der", npki / "yessign" / "USER" / "km-only" / "KMCERT.DER");
    write(npki / "yessign" / "USER" / "empty" / "notes.txt", Bytes{'x'});

    Storage storage;
    ASSERT_EQ(storage.read(scratch_ / npki, SG_CERTIFICATE_STORAGE_NPKI), 0);
    const auto nodes = nodesOf(storage);
    ASSERT_EQ(nodes.size(), 5u);
    ASSERT_EQ(storage.elements().size(), 4u);

    const SGCertificateSet* root = nodeWith(storage, testkit::readBytes(chain() / "root.der"));
    const SGCertificateSet* ca = nodeWith(storage, testkit::readBytes(chain() / "ca.der"));
    ASSERT_TRUE(root && ca);
    EXPECT_EQ(root->type, SG_CERTSET_CA);
    EXPECT_EQ(root->trust, 1);  // a root by IsRoot
    EXPECT_EQ(ca->trust, 0);
    EXPECT_EQ(root->origin, SG_CERTSET_FROM_FILE);
    EXPECT_EQ(std::string(ca->path), (scratch_ / npki / "lindsign" / "ca.der.bak").string());

    const SGCertificateSet* sign = nodeWith(storage, testkit::readBytes(chain() / "sign.der"));
    ASSERT_TRUE(sign);
    EXPECT_EQ(sign->type, SG_CERTSET_SIGN);
    EXPECT_EQ(bytesOf(sign->privateKey), testkit::readBytes(chain() / "signPri.key"));
    EXPECT_EQ(std::string(sign->path), (scratch_ / user).string());
    ASSERT_NE(sign->next, nullptr);  // the key-management certificate of the same folder
    EXPECT_EQ(sign->next->type, SG_CERTSET_KM);
    EXPECT_TRUE(sameDer(sign->next, testkit::readBytes(chain() / "km.der")));
    EXPECT_EQ(bytesOf(sign->next->privateKey), testkit::readBytes(chain() / "kmPri.key"));

    const SGCertificateSet* kmOnly =
        nodeWith(storage, testkit::readBytes(subjects() / "yessign-km.der"));
    ASSERT_TRUE(kmOnly);
    EXPECT_EQ(kmOnly->type, SG_CERTSET_KM);
    EXPECT_EQ(kmOnly->privateKey.data, nullptr);
    EXPECT_EQ(nodeWith(storage, testkit::readBytes(subjects() / "kisa-ca.der")), nullptr);
    EXPECT_EQ(nodeWith(storage, testkit::readBytes(subjects() / "gpki-ca.der")), nullptr);
}

TEST_F(CertificateStorage, ReadersTakeOnlyRegularFilesOfBoundedSize) {
    const fs::path ca = scratch_ / "NPKI" / "KISA";
    copy(chain() / "root.der", "NPKI/KISA/root.der");
    ASSERT_EQ(::mkfifo((ca / "pipe.der").c_str(), 0600), 0);  // would block a plain read
    fs::create_symlink(ca / "pipe.der", ca / "to-pipe.der");
    // A link to a regular certificate file outside the tree is not read.
    copy(chain() / "ca.der", "outside/ca.der");
    fs::create_symlink(scratch_ / "outside" / "ca.der", ca / "linked.der");
    Bytes big = testkit::readBytes(chain() / "ca.der");
    big.resize(SG_CERTSTORE_FILE_MAX + 1, 0);  // a certificate followed by too much
    write("NPKI/KISA/big.der", big);
    fs::create_directory(ca / "folder.der");
    write("NPKI/KISA/empty.der", Bytes{});
    // A folder reached through a link is not walked.
    copy(chain() / "sign.der", "elsewhere/subject/signCert.der");
    fs::create_directory_symlink(scratch_ / "elsewhere", ca / "USER");
    fs::create_directory_symlink(scratch_ / "NPKI" / "KISA", scratch_ / "NPKI" / "KICA");
    // A subject folder whose key-management certificate is a pipe.
    copy(chain() / "sign.der", "NPKI/yessign/USER/u/signCert.der");
    ASSERT_EQ(::mkfifo((scratch_ / "NPKI/yessign/USER/u/kmCert.der").c_str(), 0600), 0);

    Storage storage;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(storage.read(scratch_ / "NPKI", SG_CERTIFICATE_STORAGE_NPKI), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    const auto nodes = nodesOf(storage);
    ASSERT_EQ(nodes.size(), 2u);
    const SGCertificateSet* root = nodeWith(storage, testkit::readBytes(chain() / "root.der"));
    ASSERT_TRUE(root);
    EXPECT_EQ(std::string(root->path), (ca / "root.der").string());
    const SGCertificateSet* sign = nodeWith(storage, testkit::readBytes(chain() / "sign.der"));
    ASSERT_TRUE(sign);
    EXPECT_EQ(std::string(sign->path), (scratch_ / "NPKI/yessign/USER/u").string());
    EXPECT_EQ(sign->next, nullptr);
}

TEST_F(CertificateStorage, MissingFoldersAndLayouts) {
    Storage storage;
    EXPECT_EQ(storage.read(scratch_ / "nothing", SG_CERTIFICATE_STORAGE_NPKI), 10350);
    EXPECT_EQ(storage.read(scratch_ / "nothing", SG_CERTIFICATE_STORAGE_GPKI), 0);
    EXPECT_TRUE(storage.elements().empty());
    EXPECT_EQ(storage.read(scratch_.path(), static_cast<SGCertificateStorageType>(3)), 10001);
    EXPECT_EQ(SGCertificateStorage_CreateByPath(nullptr, nullptr, SG_CERTIFICATE_STORAGE_NPKI),
              10001);
}

TEST_F(CertificateStorage, GpkiReaderPairsFilesByExactName) {
    const fs::path certificates = "GPKI/certificate";  // case ignored
    copy(subjects() / "gpki-people-sign.der", certificates / "class2" / "Kim_sig.cer");
    write(certificates / "class2" / "Kim_sig.key", Bytes{1, 1});
    copy(subjects() / "gpki-people-env.der", certificates / "class2" / "Kim_env.cer");
    write(certificates / "class2" / "Kim_env.key", Bytes{2, 2});
    copy(subjects() / "gpki-org-sign.der", certificates / "Class1" / "ORG_sig.cer");
    write(certificates / "Class1" / "ORG_SIG.KEY", Bytes{3});  // differs in case only
    copy(subjects() / "gpki-ca.der", certificates / "CA134100031.der");

    Storage storage;
    ASSERT_EQ(storage.read(scratch_ / "GPKI", SG_CERTIFICATE_STORAGE_GPKI), 0);
    EXPECT_EQ(storage.elements().size(), 3u);
    const SGCertificateSet* sign =
        nodeWith(storage, testkit::readBytes(subjects() / "gpki-people-sign.der"));
    ASSERT_TRUE(sign && sign->next);
    EXPECT_EQ(bytesOf(sign->privateKey), (Bytes{1, 1}));
    EXPECT_EQ(std::string(sign->path),
              (scratch_ / certificates / "class2" / "Kim_sig.cer").string());
    EXPECT_EQ(sign->next->type, SG_CERTSET_KM);
    EXPECT_EQ(bytesOf(sign->next->privateKey), (Bytes{2, 2}));
    EXPECT_EQ(std::string(sign->next->path),
              (scratch_ / certificates / "class2" / "Kim_env.cer").string());
    const SGCertificateSet* org =
        nodeWith(storage, testkit::readBytes(subjects() / "gpki-org-sign.der"));
    ASSERT_TRUE(org);
    EXPECT_EQ(org->privateKey.data, nullptr);
    const SGCertificateSet* ca = nodeWith(storage, testkit::readBytes(subjects() / "gpki-ca.der"));
    ASSERT_TRUE(ca);
    EXPECT_EQ(ca->type, SG_CERTSET_CA);

    SGBinary path{};
    const std::string folder = (scratch_ / certificates / "Class1").string();
    EXPECT_EQ(SGCertificateStorage_GetRelatedFilePath(&path, "ORG_SIG.KEY", folder.c_str()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(path.data), path.length),
              folder + "/ORG_SIG.KEY");
    SGBinary_Reset(&path);
    EXPECT_EQ(SGCertificateStorage_GetRelatedFilePath(&path, "ORG_sig.key", folder.c_str()), 10004);
}

TEST_F(CertificateStorage, FindsByCertificateIssuerAndSerialOrSubjectText) {
    copy(chain() / "root.der", "NPKI/KISA/root.der");
    copy(chain() / "ca.der", "NPKI/KISA/ca.der");
    copy(chain() / "sign.der", "NPKI/yessign/USER/u/signCert.der");
    copy(chain() / "km.der", "NPKI/yessign/USER/u/kmCert.der");
    Storage storage;
    ASSERT_EQ(storage.read(scratch_ / "NPKI", SG_CERTIFICATE_STORAGE_NPKI), 0);

    ParsedCertificate km(chain() / "km.der");
    SGCertificateSet* found = nullptr;
    ASSERT_EQ(SGCertificateStorage_Find(&found, &storage.record, SG_CERTSTORE_FIND_CERTIFICATE,
                                        &km.handle),
              0);
    EXPECT_TRUE(sameDer(found, km.der));
    EXPECT_EQ(found, nodeWith(storage, km.der));  // the storage's own node

    ParsedCertificate ca(chain() / "ca.der");
    SGCertificateStorageIssuerSerial key{};
    ASSERT_EQ(SGX509Certificate_GetEncodedEntry(&key.issuer, &ca.handle, SG_X509_ENTRY_ISSUER), 0);
    const Bytes serial{0x02, 0x01, 0x02};  // INTEGER 2, as openssl issued it
    key.serial = viewOf(serial);
    ASSERT_EQ(
        SGCertificateStorage_Find(&found, &storage.record, SG_CERTSTORE_FIND_ISSUER_SERIAL, &key),
        0);
    EXPECT_TRUE(sameDer(found, ca.der));
    const Bytes other{0x02, 0x01, 0x07};
    key.serial = viewOf(other);
    EXPECT_EQ(
        SGCertificateStorage_Find(&found, &storage.record, SG_CERTSTORE_FIND_ISSUER_SERIAL, &key),
        10004);
    SGBinary_Reset(&key.issuer);

    // The first node whose subject has a commonName, in storage order.
    ASSERT_EQ(
        SGCertificateStorage_Find(&found, &storage.record, SG_CERTSTORE_FIND_SUBJECT_TEXT, "CN"),
        0);
    EXPECT_EQ(found, nodesOf(storage).front().second);
    ASSERT_EQ(SGCertificateStorage_Find(&found, &storage.record, SG_CERTSTORE_FIND_SUBJECT_TEXT,
                                        "OU=personal"),
              0);
    EXPECT_TRUE(sameDer(found, testkit::readBytes(chain() / "sign.der")));
    EXPECT_EQ(SGCertificateStorage_Find(&found, &storage.record, SG_CERTSTORE_FIND_SUBJECT_TEXT,
                                        "CN=Nobody"),
              10004);
    EXPECT_EQ(SGCertificateStorage_Find(&found, &storage.record, 2, "CN"), 10010);
    EXPECT_EQ(SGCertificateStorage_Find(nullptr, &storage.record, 5, "CN"), 10001);
}

TEST_F(CertificateStorage, AddRemoveAndClearOwnTheirElements) {
    Storage storage;
    Set set;
    const Bytes der = testkit::readBytes(chain() / "ca.der");
    SGBinary view = viewOf(der);
    ASSERT_EQ(SGCertificateSet_Add(&set.head, SG_CERTSET_CA, &view, nullptr, "/p", "TRUST=ON"), 0);
    ASSERT_EQ(SGCertificateStorage_AddCertificate(&storage.record, &set.head), 0);
    ASSERT_EQ(SGCertificateStorage_AddCertificate(&storage.record, &set.head), 0);
    SGCertificateSet_Clear(&set.head);  // the storage holds copies
    auto elements = storage.elements();
    ASSERT_EQ(elements.size(), 2u);
    EXPECT_EQ(bytesOf(elements[1]->set.certificate), der);
    EXPECT_EQ(elements[1]->set.trust, 1);

    SGCertificateSetList stranger{};
    EXPECT_EQ(SGCertificateStorage_Remove(&storage.record, &stranger), 0);
    EXPECT_EQ(storage.elements().size(), 2u);
    EXPECT_EQ(SGCertificateStorage_Remove(&storage.record,
                                          const_cast<SGCertificateSetList*>(elements[0])),
              0);
    elements = storage.elements();
    ASSERT_EQ(elements.size(), 1u);
    EXPECT_EQ(SGCertificateStorage_Clear(&storage.record), 0);
    EXPECT_EQ(storage.record.first, nullptr);
}

// --- Chains ----------------------------------------------------------------------------------

bool opensslVerifies(const fs::path& root, const fs::path& untrusted, const fs::path& leaf) {
    return testkit::succeeds("openssl verify -CAfile " + testkit::quote(root.string()) +
                             " -untrusted " + testkit::quote(untrusted.string()) + " " +
                             testkit::quote(leaf.string()));
}

int buildChain(Set& chain, Storage& storage, const ParsedCertificate& leaf, int flags,
               const SGBinary* folder = nullptr) {
    return SGCertificateStorage_GenerateCertificateChain(&chain.head, &storage.record, &leaf.handle,
                                                         flags, folder);
}

TEST_F(CertificateStorage, ChainFromFilesEndsAtTheTrustedRoot) {
    ASSERT_TRUE(opensslVerifies(chain() / "root.pem", chain() / "ca.pem", chain() / "sign.pem"));
    copy(chain() / "root.der", "NPKI/KISA/root.der");
    copy(chain() / "ca.der", "NPKI/KICA/ca.der");
    Storage storage;
    ASSERT_EQ(storage.read(scratch_ / "NPKI", SG_CERTIFICATE_STORAGE_NPKI), 0);
    ParsedCertificate sign(chain() / "sign.der");

    Set chainSet;
    ASSERT_EQ(buildChain(chainSet, storage, sign, 0), 0);
    auto nodes = chainSet.nodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_TRUE(sameDer(nodes[0], testkit::readBytes(chain() / "ca.der")));
    EXPECT_TRUE(sameDer(nodes[1], testkit::readBytes(chain() / "root.der")));
    EXPECT_EQ(nodes[1]->trust, 1);
    // Copies, not the storage's nodes.
    EXPECT_NE(nodes[0]->certificate.data,
              nodeWith(storage, testkit::readBytes(chain() / "ca.der"))->certificate.data);

    // The root not trusted: the same chain and 10353; trusted again: 0.
    SGCertificateSet* root = nullptr;
    ParsedCertificate rootCertificate(chain() / "root.der");
    ASSERT_EQ(SGCertificateStorage_Find(&root, &storage.record, 1, &rootCertificate.handle), 0);
    root->trust = 0;
    Set untrusted;
    EXPECT_EQ(buildChain(untrusted, storage, sign, 0), 10353);
    EXPECT_EQ(untrusted.nodes().size(), 2u);
    ASSERT_EQ(SGCertificateStorage_SetTrust(&storage.record, &rootCertificate.handle), 0);
    Set trusted;
    EXPECT_EQ(buildChain(trusted, storage, sign, 0), 0);

    // Without the root the chain does not end at one.
    Storage caOnly;
    fs::remove(scratch_ / "NPKI/KISA/root.der");
    ASSERT_EQ(caOnly.read(scratch_ / "NPKI", SG_CERTIFICATE_STORAGE_NPKI), 0);
    Set partial;
    EXPECT_EQ(buildChain(partial, caOnly, sign, 0), 10352);
    // Allowed to ask LDAP, a CA without distribution point leads nowhere either.
    Set viaLdap;
    EXPECT_EQ(buildChain(viaLdap, caOnly, sign, SG_CERTSTORE_CHAIN_LDAP), 10352);
}

TEST_F(CertificateStorage, IssuerNodeCarriesNoLinksIntoTheStorage) {
    // The CA stored as the signing certificate of a set with a key-management certificate
    // behind it, as a subject folder would hold it.
    Storage storage;
    Set pair;
    const Bytes ca = testkit::readBytes(chain() / "ca.der"),
                km = testkit::readBytes(chain() / "km.der"),
                root = testkit::readBytes(chain() / "root.der");
    SGBinary caView = viewOf(ca), kmView = viewOf(km), rootView = viewOf(root);
    ASSERT_EQ(SGCertificateSet_Add(&pair.head, SG_CERTSET_SIGN, &caView, nullptr, nullptr, nullptr),
              0);
    ASSERT_EQ(SGCertificateSet_Add(&pair.head, SG_CERTSET_KM, &kmView, nullptr, nullptr, nullptr),
              0);
    ASSERT_EQ(SGCertificateStorage_AddCertificate(&storage.record, &pair.head), 0);
    Set rootSet;
    ASSERT_EQ(
        SGCertificateSet_Add(&rootSet.head, SG_CERTSET_CA, &rootView, nullptr, nullptr, "TRUST=ON"),
        0);
    ASSERT_EQ(SGCertificateStorage_AddCertificate(&storage.record, &rootSet.head), 0);

    ParsedCertificate sign(chain() / "sign.der");
    SGCertificateSet issuer{};
    ASSERT_EQ(SGCertificateStorage_FindIssuer(&issuer, &storage.record, &sign.handle), 0);
    EXPECT_EQ(bytesOf(issuer.certificate), ca);
    EXPECT_EQ(issuer.next, nullptr);
    EXPECT_EQ(issuer.prev, nullptr);

    Set chainSet;
    ASSERT_EQ(buildChain(chainSet, storage, sign, 0), 0);
    const auto nodes = chainSet.nodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_TRUE(sameDer(nodes[0], ca));
    EXPECT_TRUE(sameDer(nodes[1], root));

    // Without an authority key identifier nothing is an issuer.
    ParsedCertificate rootCertificate(chain() / "root.der");
    EXPECT_EQ(SGCertificateStorage_FindIssuer(&issuer, &storage.record, &rootCertificate.handle),
              10351);
}

TEST_F(CertificateStorage, ChainWrittenToAFolderInTheStorageLayout) {
    Storage storage;
    copy(subjects() / "kisa-root.der", "NPKI/KISA/root.der");
    copy(subjects() / "kisa-ca.der", "NPKI/KISA/ca.der");
    ASSERT_EQ(storage.read(scratch_ / "NPKI", SG_CERTIFICATE_STORAGE_NPKI), 0);
    ParsedCertificate sign(subjects() / "yessign-sign.der");
    const std::string folder = (scratch_ / "saved").string();
    fs::create_directory(folder);
    SGBinary folderView = viewOf(folder);
    Set chainSet;
    ASSERT_EQ(buildChain(chainSet, storage, sign, 0, &folderView), 0);
    EXPECT_EQ(
        testkit::readBytes(scratch_ / "saved/KISA/0102030405060708090A0B0C0D0E0F1011121314_42.der"),
        testkit::readBytes(subjects() / "kisa-ca.der"));
    EXPECT_EQ(
        testkit::readBytes(scratch_ / "saved/KISA" /
                           (opensslSki(subjects() / "kisa-root.pem") + "_81985529216486895.der")),
        testkit::readBytes(subjects() / "kisa-root.der"));

    // An issuer that cannot be written (its subject names no NPKI authority) ends the chain.
    Storage other;
    copy(chain() / "root.der", "other/KISA/root.der");
    copy(chain() / "ca.der", "other/KISA/ca.der");
    ASSERT_EQ(other.read(scratch_ / "other", SG_CERTIFICATE_STORAGE_NPKI), 0);
    ParsedCertificate chainSign(chain() / "sign.der");
    Set refused;
    EXPECT_EQ(buildChain(refused, other, chainSign, 0, &folderView), 10352);
}

TEST_F(CertificateStorage, ChainBuildingAlwaysEnds) {
    const fs::path s = shapes();
    struct Case {
        const char* what;
        std::vector<std::string> stored;
        const char* leaf;
        int result;
        size_t length;
    };
    std::vector<std::string> deep;
    for (int n = 0; n <= 17; ++n) deep.push_back("deep-" + std::to_string(n));
    const Case cases[] = {
        // A self-signed CA with an authority key identifier is its own issuer: the chain ends
        // there, and it is not trusted, not being a root by IsRoot.
        {"self-signed CA with AKI", {"selfaki", "selfaki-ca"}, "selfaki-leaf", 10353, 2},
        {"starting at that CA", {"selfaki"}, "selfaki", 10353, 1},
        {"cross-certificate loop", {"cross-a", "cross-b"}, "cross-leaf", 10352, 2},
        {"16 issuers", deep, "deep-leaf-15", 0, 16},
        {"18 issuers", deep, "deep-leaf-17", 10352, 16},
    };
    for (const Case& c : cases) {
        Storage storage;
        for (const std::string& name : c.stored) {
            Set set;
            const Bytes der = testkit::readBytes(s / (name + ".der"));
            SGBinary view = viewOf(der);
            ASSERT_EQ(SGCertificateSet_Add(&set.head, SG_CERTSET_CA, &view, nullptr, nullptr,
                                           name == "deep-0" ? "TRUST=ON" : nullptr),
                      0);
            ASSERT_EQ(SGCertificateStorage_AddCertificate(&storage.record, &set.head), 0);
        }
        ParsedCertificate leaf(s / (std::string(c.leaf) + ".der"));
        Set chainSet;
        EXPECT_EQ(buildChain(chainSet, storage, leaf, SG_CERTSTORE_CHAIN_LDAP), c.result) << c.what;
        EXPECT_EQ(chainSet.nodes().size(), c.length) << c.what;
    }

    // Trusted explicitly, the self-signed CA with an identifier of its own ends a good chain,
    // as openssl verify agrees.
    ASSERT_TRUE(opensslVerifies(s / "selfaki.pem", s / "selfaki-ca.pem", s / "selfaki-leaf.pem"));
    Storage storage;
    for (const char* name : {"selfaki", "selfaki-ca"}) {
        Set set;
        const Bytes der = testkit::readBytes(s / (std::string(name) + ".der"));
        SGBinary view = viewOf(der);
        ASSERT_EQ(SGCertificateSet_Add(&set.head, SG_CERTSET_CA, &view, nullptr, nullptr, nullptr),
                  0);
        ASSERT_EQ(SGCertificateStorage_AddCertificate(&storage.record, &set.head), 0);
    }
    ParsedCertificate root(s / "selfaki.der");
    ASSERT_EQ(SGCertificateStorage_SetTrust(&storage.record, &root.handle), 0);
    ParsedCertificate leaf(s / "selfaki-leaf.der");
    Set chainSet;
    EXPECT_EQ(buildChain(chainSet, storage, leaf, 0), 0);
    const auto nodes = chainSet.nodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_TRUE(sameDer(nodes[1], root.der));
}

// Issuers missing from the files are fetched from the directory that the certificates'
// distribution points name: a real slapd loaded with the hierarchy made for its port.
TEST_F(CertificateStorage, ChainsThroughTheDirectory) {
    testkit::Slapd slapd;
    std::string error;
    ASSERT_TRUE(slapd.start(&error)) << error;
    const fs::path m = scratch_ / "material";
    ASSERT_TRUE(testkit::pki("ldap-chain", m, {slapd.url(), keys().string()}, &error)) << error;
    ASSERT_TRUE(slapd.add(testkit::readText(m / "base.ldif"), &error)) << error;
    ASSERT_TRUE(slapd.add(testkit::readText(m / "entries.ldif"), &error)) << error;
    ASSERT_TRUE(opensslVerifies(m / "root.pem", m / "ca.pem", m / "sign.pem"));
    ParsedCertificate sign(m / "sign.der");
    const Bytes caDer = testkit::readBytes(m / "ca.der"),
                rootDer = testkit::readBytes(m / "root.der");

    // The CA only in the directory: fetched, and the chain ends at the trusted root of the files.
    copy(m / "root.der", "rootOnly/KISA/root.der");
    Storage rootOnly;
    ASSERT_EQ(rootOnly.read(scratch_ / "rootOnly", SG_CERTIFICATE_STORAGE_NPKI), 0);
    Set none;
    EXPECT_EQ(buildChain(none, rootOnly, sign, 0), 10352);  // not allowed to ask
    Set chainSet;
    ASSERT_EQ(buildChain(chainSet, rootOnly, sign, SG_CERTSTORE_CHAIN_LDAP), 0);
    auto nodes = chainSet.nodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_TRUE(sameDer(nodes[0], caDer));
    EXPECT_EQ(nodes[0]->origin, SG_CERTSET_FROM_LDAP);
    EXPECT_EQ(nodes[0]->trust, 0);
    EXPECT_TRUE(sameDer(nodes[1], rootDer));
    EXPECT_EQ(rootOnly.elements().size(), 2u);  // the storage keeps what it fetched

    // Fetched again, a certificate already held is not added twice.
    SGCertificateSet issuer{};
    ASSERT_EQ(SGCertificateStorage_FindIssuerAtLDAP(&issuer, &rootOnly.record, &sign.handle), 0);
    EXPECT_EQ(bytesOf(issuer.certificate), caDer);
    EXPECT_EQ(issuer.next, nullptr);
    EXPECT_EQ(rootOnly.elements().size(), 2u);

    // The root only in the directory: fetched, but a fetched root is not trusted.
    copy(m / "ca.der", "caOnly/KISA/ca.der");
    Storage caOnly;
    ASSERT_EQ(caOnly.read(scratch_ / "caOnly", SG_CERTIFICATE_STORAGE_NPKI), 0);
    Set untrusted;
    EXPECT_EQ(buildChain(untrusted, caOnly, sign, SG_CERTSTORE_CHAIN_LDAP), 10353);
    nodes = untrusted.nodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_TRUE(sameDer(nodes[1], rootDer));
    EXPECT_EQ(nodes[1]->origin, SG_CERTSET_FROM_LDAP);

    // A directory that is gone: the read's failure, and no chain.
    slapd.stop();
    Storage empty;
    EXPECT_EQ(SGCertificateStorage_FindIssuerAtLDAP(&issuer, &empty.record, &sign.handle), 10025);
    Set gone;
    EXPECT_EQ(buildChain(gone, empty, sign, SG_CERTSTORE_CHAIN_LDAP), 10352);
    // Without distribution points there is nothing to ask.
    ParsedCertificate root(m / "root.der");
    EXPECT_EQ(SGCertificateStorage_FindIssuerAtLDAP(&issuer, &empty.record, &root.handle), 10004);
}

// What the directory returns must be a certificate.
TEST_F(CertificateStorage, ADirectoryValueThatIsNoCertificateIsRefused) {
    testkit::SlapdOptions octets;
    octets.octetStringCertificates = true;
    testkit::Slapd slapd(octets);
    std::string error;
    ASSERT_TRUE(slapd.start(&error)) << error;
    const fs::path m = scratch_ / "material";
    ASSERT_TRUE(testkit::pki("ldap-chain", m, {slapd.url(), keys().string()}, &error)) << error;
    ASSERT_TRUE(slapd.add(testkit::readText(m / "base.ldif"), &error)) << error;
    ASSERT_TRUE(
        slapd.add("dn: cn=Brindlow LDAP CA,o=Brindlow LDAP,c=KR\n"
                  "objectClass: applicationProcess\nobjectClass: certificationAuthority\n"
                  "cn: Brindlow LDAP CA\ncACertificate: not a certificate\n"
                  "certificateRevocationList: none\nauthorityRevocationList: none\n",
                  &error))
        << error;
    ParsedCertificate sign(m / "sign.der");
    Storage storage;
    SGCertificateSet issuer{};
    EXPECT_EQ(SGCertificateStorage_FindIssuerAtLDAP(&issuer, &storage.record, &sign.handle), 10356);
    EXPECT_TRUE(storage.elements().empty());
}

}  // namespace
