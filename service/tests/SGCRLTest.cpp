// Revocation lists: lookups in NIST PKITS lists, the refusals of the lookup, the full check's
// answers that never come from a list it could not authenticate, and the suite's own directory
// in a real slapd. The full check's cases over lists made by openssl ca are in the path
// validation tests, beside openssl verify.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "DerBuilder.h"
#include "PkiMaterial.h"
#include "PkiCache.h"
#include "SGCRL.h"
#include "SGKCDSA.h"
#include "SGLDAP.h"
#include "SGPKCSError.h"
#include "Slapd.h"
#include "ValidationMaterial.h"

namespace {

using namespace pkitest;
using namespace validationtest;

class CRL : public PkiTest {
  protected:
    static Bytes list(const char* name) { return testkit::readBytes(pkits() / "crls" / name); }
    static Bytes certificate(const char* name) {
        return testkit::readBytes(pkits() / "certs" / name);
    }
    // The serial number's content octets of a suite certificate.
    static Bytes serialOf(const char* name) {
        ParsedCertificate parsed(pkits() / "certs" / name);
        SGBinary der{};
        EXPECT_EQ(
            SGX509Certificate_GetEncodedEntry(&der, &parsed.handle, SG_X509_ENTRY_SERIAL_NUMBER),
            0);
        // INTEGER tag and a one-byte length.
        Bytes serial(der.data + 2, der.data + der.length);
        SGBinary_Reset(&der);
        return serial;
    }
};

TEST_F(CRL, ServiceSlotsAndInitialization) {
    EXPECT_EQ(Service[84], reinterpret_cast<void*>(&SGCRL_CheckCertificate));
    EXPECT_EQ(Service[85], reinterpret_cast<void*>(&SGCRL_Check));
    EXPECT_EQ(SGCRL_Initialization(), 0);
}

// Lookups in the suite's lists: 4.4.3 (serial 0F, keyCompromise, revoked 2010-01-01 08:30:01
// GMT), 4.4.8 (an entry with an unknown critical extension), 4.4.14 and 4.4.15 (255 and -1,
// whose content octets 00 FF and FF must not be taken for each other), 4.4.16 to 4.4.18
// (20-byte serial numbers).
TEST_F(CRL, LooksSerialNumbersUpInPkitsLists) {
    struct Case {
        const char* section;
        const char* list;
        Bytes serial;
        int result;
        int reason;
        time_t date;
    };
    const Case cases[] = {
        {"4.4.3", "GoodCACRL.crl", {0x0F}, 0, 1, 1262334601},
        {"4.4.3 not on it", "GoodCACRL.crl", {0x01}, 0, SG_CRL_NOT_REVOKED, 0},
        {"4.4.8", "UnknownCRLEntryExtensionCACRL.crl",
         serialOf("InvalidUnknownCRLEntryExtensionTest8EE.crt"), SG_CRL_ERR_ENTRY_EXTENSION,
         SG_CRL_NOT_REVOKED, 0},
        {"4.4.14", "NegativeSerialNumberCACRL.crl",
         serialOf("ValidNegativeSerialNumberTest14EE.crt"), 0, SG_CRL_NOT_REVOKED, 0},
        {"4.4.15", "NegativeSerialNumberCACRL.crl",
         serialOf("InvalidNegativeSerialNumberTest15EE.crt"), 0, 1, 1262334600},
        {"4.4.16", "LongSerialNumberCACRL.crl", serialOf("ValidLongSerialNumberTest16EE.crt"), 0,
         SG_CRL_NOT_REVOKED, 0},
        {"4.4.17", "LongSerialNumberCACRL.crl", serialOf("ValidLongSerialNumberTest17EE.crt"), 0,
         SG_CRL_NOT_REVOKED, 0},
        {"4.4.18", "LongSerialNumberCACRL.crl", serialOf("InvalidLongSerialNumberTest18EE.crt"), 0,
         1, 1262334600},
    };
    EXPECT_EQ(testkit::hex(cases[3].serial), "00FF");
    EXPECT_EQ(testkit::hex(cases[4].serial), "FF");
    EXPECT_EQ(cases[7].serial.size(), 20u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section);
        const Bytes der = list(c.list);
        SGBinary crl = viewOf(der), serial = viewOf(c.serial);
        SGCRLStatus status{123, 456};
        EXPECT_EQ(SGCRL_Check(&status, &crl, &serial), c.result);
        EXPECT_EQ(status.reason, c.reason);
        EXPECT_EQ(status.date, c.date);
    }
}

TEST_F(CRL, LookupRefusesWhatIsNoList) {
    const Bytes good = list("GoodCACRL.crl");
    const Bytes empty = list("BadCRLSignatureCACRL.crl");  // a list without entries
    const Bytes truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    const Bytes junk{0x30, 0x03, 0x02, 0x01, 0x05};
    const Bytes serialBytes{0x0F};
    SGBinary serial = viewOf(serialBytes), noBytes{};
    struct Case {
        const char* what;
        const Bytes* der;
        SGBinary* serial;
        int result;
    };
    const Case cases[] = {
        {"list without entries", &empty, &serial, SG_CRL_ERR_EMPTY},
        {"truncated", &truncated, &serial, SG_ASN_ERR_RUNTIME},
        {"not a list", &junk, &serial, SG_ASN_ERR_RUNTIME},
        {"no list", nullptr, &serial, SG_PKI_ERR_ARGUMENT},
        {"no serial", &good, nullptr, SG_PKI_ERR_ARGUMENT},
        {"empty serial", &good, &noBytes, SG_PKI_ERR_ARGUMENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SGBinary crl = c.der ? viewOf(*c.der) : SGBinary{};
        SGCRLStatus status{123, 1};
        EXPECT_EQ(SGCRL_Check(&status, c.der ? &crl : nullptr, c.serial), c.result);
        EXPECT_EQ(status.reason, SG_CRL_NOT_REVOKED);
    }
    SGBinary crl = viewOf(good);
    EXPECT_EQ(SGCRL_Check(nullptr, &crl, &serial), SG_PKI_ERR_ARGUMENT);
}

// A list whose entries are given as (serial, reasonCode ENUMERATED contents), the TBSCertList
// built here and signed by openssl (SHA-256 with RSA): openssl ca writes no reason it does not
// know. Every entry was revoked 2025-06-01 00:00:00 GMT.
Bytes signedList(const testkit::Scratch& scratch,
                 const std::vector<std::pair<Bytes, Bytes>>& entries) {
    const Bytes sha256Rsa = der::algorithm("1.2.840.113549.1.1.11", der::null());
    const Bytes revokedAt = der::tlv(0x17, der::text("250601000000Z"));
    Bytes revoked;
    for (const auto& [serial, reason] : entries) {
        const Bytes entry =
            der::seq({der::integerBytes(serial), revokedAt,
                      der::seq({der::extension("2.5.29.21", der::tlv(0x0A, reason))})});
        revoked.insert(revoked.end(), entry.begin(), entry.end());
    }
    const Bytes tbs = der::seq(
        {der::integer(1), sha256Rsa, der::name({{der::atv("2.5.4.3", der::utf8("Reason CA"))}}),
         der::tlv(0x17, der::text("250101000000Z")), der::tlv(0x17, der::text("450101000000Z")),
         der::tlv(0x30, revoked)});
    testkit::writeBytes(scratch / "tbs.der", tbs);
    testkit::run("openssl dgst -sha256 -sign " + testkit::quote((keys() / "ca.key").string()) +
                 " -out " + testkit::quote((scratch / "tbs.sig").string()) + " " +
                 testkit::quote((scratch / "tbs.der").string()));
    Bytes signature{0x00};
    const Bytes sig = testkit::readBytes(scratch / "tbs.sig");
    signature.insert(signature.end(), sig.begin(), sig.end());
    return der::seq({tbs, sha256Rsa, der::tlv(0x03, signature)});
}

// RFC 5280's reasons (0 to 10, 7 unused) are read as they stand; any other value makes the whole
// list malformed (the code of a list that does not decode), never a reason: 999 would read as
// "not on the list" and 2^32 + 999 would be cut to it.
TEST_F(CRL, ReasonsOutsideRfc5280MakeTheListMalformed) {
    testkit::Scratch scratch("crl-reasons");
    const Bytes serial{0x0F}, other{0x10}, absent{0x55};
    const Bytes keyCompromise{0x01};
    struct Case {
        const char* what;
        Bytes reason;
        int result;
        int status;
    } const cases[] = {
        {"unspecified", {0x00}, 0, 0},
        {"keyCompromise", {0x01}, 0, 1},
        {"certificateHold", {0x06}, 0, 6},
        {"removeFromCRL", {0x08}, 0, 8},
        {"aACompromise", {0x0A}, 0, 10},
        {"7, unused", {0x07}, SG_ASN_ERR_RUNTIME, SG_CRL_NOT_REVOKED},
        {"11", {0x0B}, SG_ASN_ERR_RUNTIME, SG_CRL_NOT_REVOKED},
        {"17", {0x11}, SG_ASN_ERR_RUNTIME, SG_CRL_NOT_REVOKED},
        {"-1", {0xFF}, SG_ASN_ERR_RUNTIME, SG_CRL_NOT_REVOKED},
        {"-128", {0x80}, SG_ASN_ERR_RUNTIME, SG_CRL_NOT_REVOKED},
        {"999", {0x03, 0xE7}, SG_ASN_ERR_RUNTIME, SG_CRL_NOT_REVOKED},
        {"2^32 + 999", {0x01, 0x00, 0x00, 0x03, 0xE7}, SG_ASN_ERR_RUNTIME, SG_CRL_NOT_REVOKED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes list = signedList(scratch, {{serial, c.reason}, {other, keyCompromise}});
        testkit::writeBytes(scratch / "list.der", list);
        int status = -1;
        const std::string text = testkit::run("openssl crl -inform DER -noout -text -in " +
                                                  testkit::quote((scratch / "list.der").string()),
                                              &status);
        ASSERT_EQ(status, 0) << text;

        SGBinary crl = viewOf(list);
        const bool known = c.result == 0;
        // The entry itself, another entry, and a serial not on the list.
        for (const Bytes* lookedUp : {&serial, &other, &absent}) {
            SGBinary view = viewOf(*lookedUp);
            SGCRLStatus found{123, 456};
            EXPECT_EQ(SGCRL_Check(&found, &crl, &view), c.result);
            const int expected = lookedUp == &serial  ? c.status
                                 : lookedUp == &other ? (known ? 1 : SG_CRL_NOT_REVOKED)
                                                      : SG_CRL_NOT_REVOKED;
            EXPECT_EQ(found.reason, expected);
            EXPECT_EQ(found.date, known && lookedUp != &absent ? 1748736000 : 0);
        }
    }
}

// The full check reads only an LDAP distribution point, and never answers without a storage to
// authenticate the list by.
TEST_F(CRL, FullCheckNeedsAnLdapPointAndAStorage) {
    FileStorage storage;
    storage.add(certificate("TrustAnchorRootCertificate.crt"), true);
    storage.add(certificate("GoodCACert.crt"), false);
    struct Case {
        const char* what;
        const char* certificate;
        SGCertificateStorage* storage;
        int result;
    };
    const Case cases[] = {
        {"no distribution point", "ValidCertificatePathTest1EE.crt", &storage.storage.record,
         SG_CRL_ERR_NO_DP},
        // Its point is a directory name only.
        {"no LDAP URL", "BasicSelfIssuedCRLSigningKeyCRLCert.crt", &storage.storage.record,
         SG_CRL_ERR_NO_DP},
        {"no storage", "ValidCertificatePathTest1EE.crt", nullptr, SG_PKI_ERR_ARGUMENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ParsedCertificate parsed(pkits() / "certs" / c.certificate);
        SGCRLStatus status{123, 1};
        EXPECT_EQ(SGCRL_CheckCertificate(&status, &parsed.handle, c.storage), c.result);
        EXPECT_EQ(status.reason, SG_CRL_NOT_REVOKED);
    }
    ParsedCertificate parsed(pkits() / "certs" / "ValidCertificatePathTest1EE.crt");
    EXPECT_EQ(SGCRL_CheckCertificate(nullptr, &parsed.handle, &storage.storage.record),
              SG_PKI_ERR_ARGUMENT);
    SGCRLStatus status{};
    EXPECT_EQ(SGCRL_CheckCertificate(&status, nullptr, &storage.storage.record),
              SG_PKI_ERR_ARGUMENT);
}

// The suite's LDIF in a slapd: its schema mended ("&" in naturalPerson, attributes no schema
// defines), its file URLs pointed at the installed files, its pkiCA entries also
// certificationAuthority (the class the list reads look for), loaded without schema checks
// below c=US. The list read for Good CA is GoodCACRL.crl byte for byte.
TEST_F(CRL, ReadsGoodCaListFromTheSuitesDirectory) {
    testkit::Scratch scratch("pkits-ldap");
    std::string schema = testkit::readText(pkits() / "pkits.schema");
    const size_t natural = schema.find("NAME 'naturalPerson'");
    ASSERT_NE(natural, std::string::npos) << "no PKITS files: run scripts/setup.sh";
    const size_t may = schema.find("MAY (", natural);
    schema.replace(may, schema.find(')', may) + 1 - may,
                   "MAY ( emailAddress $ pseudonym $ serialNumber )");
    testkit::writeText(scratch / "pkits.schema", schema);

    std::string ldif;
    const std::string text = testkit::readText(pkits() / "pkits.ldif");
    const std::string from = "file:///tmp/", to = "file://" + pkits().string() + "/";
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (const size_t url = line.find(from); url != std::string::npos)
            line.replace(url, from.size(), to);
        ldif += line + "\n";
        if (line == "objectClass: pkiCA") ldif += "objectClass: certificationAuthority\n";
        at = end + 1;
    }

    testkit::SlapdOptions options;
    options.suffix = "c=US";
    options.schemas = {testkit::Slapd::kCoreSchema, "/etc/ldap/schema/cosine.schema",
                       "/etc/ldap/schema/inetorgperson.schema",
                       (scratch / "pkits.schema").string()};
    options.schemaCheck = false;
    options.baseLdif = ldif;
    testkit::Slapd slapd(options);
    std::string error;
    ASSERT_TRUE(slapd.start(&error)) << error;

    SGBinary out{};
    ASSERT_EQ(
        SGLDAP_ReadCRL(&out, (slapd.url() + "/CN=Good CA,O=Test Certificates 2011,C=US").c_str()),
        0);
    EXPECT_EQ(bytesOf(out), list("GoodCACRL.crl"));
    SGBinary_Reset(&out);
}

// KCDSA-signed lists (testkit recipe kcdsa-crl, signed by a signer of its own): the CA's list
// authenticates, and lists of the CA's name with a changed signature, a changed TBSCertList or
// another key's signature are refused by the verification.
TEST_F(CRL, FullCheckVerifiesKcdsaSignedLists) {
    testkit::Slapd slapd;
    std::string error;
    ASSERT_TRUE(slapd.start(&error)) << error;
    const fs::path keys = testkit::cachedPki("rsa-keys", {"root", "ca", "sign", "k", "s"});
    testkit::Scratch scratch("kcdsa-crl");
    ASSERT_TRUE(testkit::pki("kcdsa-crl", scratch.path(), {slapd.url(), keys.string()}, &error))
        << error;
    ASSERT_TRUE(slapd.add(testkit::readText(scratch / "base.ldif"), &error)) << error;
    ASSERT_TRUE(slapd.add(testkit::readText(scratch / "entries.ldif"), &error)) << error;
    FileStorage storage;
    storage.add(testkit::readBytes(scratch / "root.der"), true);
    storage.add(testkit::readBytes(scratch / "ca.der"), false);
    const struct {
        const char* user;
        int result;
    } cases[] = {{"valid", 0},
                 {"sig", SG_KCDSA_ERR_INVALID},
                 {"tbs", SG_KCDSA_ERR_INVALID},
                 {"other", SG_KCDSA_ERR_INVALID}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        ParsedCertificate parsed(scratch / ("user-" + std::string(c.user) + ".der"));
        SGCRLStatus status{123, 1};
        EXPECT_EQ(SGCRL_CheckCertificate(&status, &parsed.handle, &storage.storage.record),
                  c.result);
        EXPECT_EQ(status.reason, SG_CRL_NOT_REVOKED);
    }
}

}  // namespace
