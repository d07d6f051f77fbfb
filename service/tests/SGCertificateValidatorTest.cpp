// Path validation against NIST PKITS (each verdict beside openssl verify's on the same files) and
// against paths whose lists a real slapd serves, made by openssl ca; the argument errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "PkiMaterial.h"
#include "SGCRL.h"
#include "SGCertificateValidator.h"
#include "SGLDAP.h"
#include "SGPKCSError.h"
#include "Slapd.h"
#include "ValidationMaterial.h"

namespace {

using namespace pkitest;
using namespace validationtest;

// 2020-06-01T00:00:00Z: inside every PKITS validity period and list that should hold.
constexpr time_t kPkitsInstant = 1590969600;

class CertificateValidator : public PkiTest {};

TEST_F(CertificateValidator, ServiceSlot) {
    EXPECT_EQ(Service[86], reinterpret_cast<void*>(&SGCertificateValidator_ValidateFullPath));
}

// Arguments, and chains that cannot be built, over the kit's three-level chain.
TEST_F(CertificateValidator, RefusesWhatCannotBeValidated) {
    const Bytes root = testkit::readBytes(chain() / "root.der");
    const Bytes ca = testkit::readBytes(chain() / "ca.der");
    const Bytes sign = testkit::readBytes(chain() / "sign.der");
    const Bytes junk{0x30, 0x03, 0x02, 0x01, 0x01};
    FileStorage complete, untrusted, noRoot;
    complete.add(root, true);
    complete.add(ca, false);
    untrusted.add(root, false);
    untrusted.add(ca, false);
    noRoot.add(ca, false);
    SGCertificateValidatorOptions withoutStorage{nullptr, 0};

    struct Case {
        const char* what;
        const Bytes* der;
        SGCertificateStorage* storage;
        bool options;
        int result;
    };
    const Case cases[] = {
        {"no options", &sign, nullptr, false, SG_PKI_ERR_ARGUMENT},
        {"no storage", &sign, nullptr, true, SG_PKI_ERR_ARGUMENT},
        {"no certificate", nullptr, &complete.storage.record, true, SG_PKI_ERR_ARGUMENT},
        {"not a certificate", &junk, &complete.storage.record, true, SG_ASN_ERR_RUNTIME},
        {"issuer missing", &sign, &noRoot.storage.record, true, SG_CERTSTORE_ERR_NO_ROOT},
        {"root not trusted", &sign, &untrusted.storage.record, true, SG_CERTSTORE_ERR_UNTRUSTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SGBinary view = c.der ? viewOf(*c.der) : SGBinary{};
        SGCertificateValidatorOptions options{c.storage, 0};
        int reason = -1;
        EXPECT_EQ(SGCertificateValidator_ValidateFullPath(
                      &reason, c.der ? &view : nullptr,
                      c.options ? (c.storage ? &options : &withoutStorage) : nullptr),
                  c.result);
        EXPECT_EQ(reason, 0);
    }

    SGBinary out{}, view = viewOf(sign);
    ASSERT_EQ(SGCertificateValidator_FindIssuer(&out, &complete.storage.record, &view), 0);
    EXPECT_EQ(bytesOf(out), ca);
    SGBinary_Reset(&out);
    SGBinary rootView = viewOf(root);
    EXPECT_EQ(SGCertificateValidator_FindIssuer(&out, &complete.storage.record, &rootView),
              SG_CERTSTORE_ERR_NO_ISSUER);
    EXPECT_EQ(out.data, nullptr);
}

// --- NIST PKITS --------------------------------------------------------------------------------

struct PkitsCase {
    const char* section;
    const char* file;  // the end entity, in certs/
    int result;        // ours: 0, 10700, or -1 for a signature that does not verify
    int reason;
    bool strict = true;  // openssl verify with -x509_strict
};

// The cases of the suite inside what this validation models. PKITS names the valid ones
// "Valid...", the others "Invalid...".
const PkitsCase kPkitsCases[] = {
    {"4.1.1", "ValidCertificatePathTest1EE", 0, 0},
    {"4.1.2", "InvalidCASignatureTest2EE", -1, 0},
    {"4.1.3", "InvalidEESignatureTest3EE", -1, 0},
    {"4.2.1", "InvalidCAnotBeforeDateTest1EE", 10700, 102},
    {"4.2.2", "InvalidEEnotBeforeDateTest2EE", 10700, 102},
    {"4.2.3", "Validpre2000UTCnotBeforeDateTest3EE", 0, 0},
    {"4.2.4", "ValidGeneralizedTimenotBeforeDateTest4EE", 0, 0},
    {"4.2.5", "InvalidCAnotAfterDateTest5EE", 10700, 102},
    {"4.2.6", "InvalidEEnotAfterDateTest6EE", 10700, 102},
    {"4.2.7", "Invalidpre2000UTCEEnotAfterDateTest7EE", 10700, 102},
    {"4.2.8", "ValidGeneralizedTimenotAfterDateTest8EE", 0, 0},
    {"4.3.1", "InvalidNameChainingTest1EE", 10700, 104},
    {"4.3.2", "InvalidNameChainingOrderTest2EE", 10700, 104},
    {"4.3.6", "ValidNameUIDsTest6EE", 0, 0},
    {"4.3.7", "ValidRFC3280MandatoryAttributeTypesTest7EE", 0, 0},
    {"4.3.8", "ValidRFC3280OptionalAttributeTypesTest8EE", 0, 0},
    {"4.3.9", "ValidUTF8StringEncodedNamesTest9EE", 0, 0},
    {"4.5.1", "ValidBasicSelfIssuedOldWithNewTest1EE", 0, 0},
    {"4.5.3", "ValidBasicSelfIssuedNewWithOldTest3EE", 0, 0},
    {"4.5.8", "InvalidBasicSelfIssuedCRLSigningKeyTest8EE", 10700, 1},
    {"4.6.1", "InvalidMissingbasicConstraintsTest1EE", 10700, 1},
    {"4.6.2", "InvalidcAFalseTest2EE", 10700, 101},
    {"4.6.3", "InvalidcAFalseTest3EE", 10700, 101},
    // -x509_strict demands critical basicConstraints of a CA.
    {"4.6.4", "ValidbasicConstraintsNotCriticalTest4EE", 0, 0, false},
    {"4.6.5", "InvalidpathLenConstraintTest5EE", 10700, 108},
    {"4.6.6", "InvalidpathLenConstraintTest6EE", 10700, 108},
    {"4.6.7", "ValidpathLenConstraintTest7EE", 0, 0},
    {"4.6.8", "ValidpathLenConstraintTest8EE", 0, 0},
    {"4.6.9", "InvalidpathLenConstraintTest9EE", 10700, 108},
    {"4.6.10", "InvalidpathLenConstraintTest10EE", 10700, 108},
    {"4.6.11", "InvalidpathLenConstraintTest11EE", 10700, 108},
    {"4.6.12", "InvalidpathLenConstraintTest12EE", 10700, 108},
    {"4.6.13", "ValidpathLenConstraintTest13EE", 0, 0},
    {"4.6.14", "ValidpathLenConstraintTest14EE", 0, 0},
    {"4.7.1", "InvalidkeyUsageCriticalkeyCertSignFalseTest1EE", 10700, 100},
    {"4.7.2", "InvalidkeyUsageNotCriticalkeyCertSignFalseTest2EE", 10700, 100},
    {"4.7.3", "ValidkeyUsageNotCriticalTest3EE", 0, 0},
    {"4.13.1", "ValidDNnameConstraintsTest1EE", 0, 0},
    {"4.13.2", "InvalidDNnameConstraintsTest2EE", 10700, 107},
    {"4.13.3", "InvalidDNnameConstraintsTest3EE", 10700, 107},
    {"4.13.4", "ValidDNnameConstraintsTest4EE", 0, 0},
    {"4.13.5", "ValidDNnameConstraintsTest5EE", 0, 0},
    {"4.13.6", "ValidDNnameConstraintsTest6EE", 0, 0},
    {"4.13.7", "InvalidDNnameConstraintsTest7EE", 10700, 107},
    {"4.13.8", "InvalidDNnameConstraintsTest8EE", 10700, 107},
    {"4.13.9", "InvalidDNnameConstraintsTest9EE", 10700, 107},
    {"4.13.10", "InvalidDNnameConstraintsTest10EE", 10700, 107},
    {"4.13.11", "ValidDNnameConstraintsTest11EE", 0, 0},
    {"4.13.12", "InvalidDNnameConstraintsTest12EE", 10700, 107},
    {"4.13.13", "InvalidDNnameConstraintsTest13EE", 10700, 107},
    {"4.13.14", "ValidDNnameConstraintsTest14EE", 0, 0},
    {"4.13.15", "InvalidDNnameConstraintsTest15EE", 10700, 107},
    {"4.13.16", "InvalidDNnameConstraintsTest16EE", 10700, 107},
    {"4.13.17", "InvalidDNnameConstraintsTest17EE", 10700, 107},
    {"4.13.18", "ValidDNnameConstraintsTest18EE", 0, 0},
    {"4.13.20", "InvalidDNnameConstraintsTest20EE", 10700, 107},
    {"4.16.1", "ValidUnknownNotCriticalCertificateExtensionTest1EE", 0, 0},
    {"4.16.2", "InvalidUnknownCriticalCertificateExtensionTest2EE", 10700, 105},
};

// The suite's files laid out for openssl verify, and a storage of the trust anchor (the only
// certificate without an authority key identifier) and every CA certificate.
struct PkitsFiles {
    testkit::Scratch scratch{"pkits"};
    FileStorage storage;
    PkitsFiles() {
        const fs::path certs = pkits() / "certs";
        const Bytes anchor = testkit::readBytes(certs / "TrustAnchorRootCertificate.crt");
        EXPECT_FALSE(anchor.empty()) << "no PKITS files: run scripts/setup.sh";
        testkit::writeText(scratch / "ta.pem", pem("CERTIFICATE", anchor));
        storage.add(anchor, true);
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(certs)) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        std::string cas, crls;
        for (const fs::path& file : files) {
            const std::string name = file.filename().string();
            if (name == "TrustAnchorRootCertificate.crt" || name.ends_with("EE.crt")) continue;
            const Bytes der = testkit::readBytes(file);
            cas += pem("CERTIFICATE", der);
            storage.add(der, false);
        }
        for (const auto& entry : fs::directory_iterator(pkits() / "crls"))
            crls += pem("X509 CRL", testkit::readBytes(entry.path()));
        testkit::writeText(scratch / "cas.pem", cas);
        testkit::writeText(scratch / "crls.pem", crls);
    }
};

std::string verdictOf(int result, int reason) {
    if (result == 0) return "valid";
    return std::to_string(result) + (result == 10700 ? " reason " + std::to_string(reason) : "");
}

TEST_F(CertificateValidator, PkitsPathsAgreeWithTheSuiteAndOpenssl) {
    PkitsFiles files;
    FixedClock clock(kPkitsInstant);
    const fs::path certs = pkits() / "certs";

    // Revocation is left out: the suite's certificates name no LDAP distribution point.
    const auto verdicts = inParallel(std::size(kPkitsCases), [&](size_t i) {
        const PkitsCase& c = kPkitsCases[i];
        return opensslVerify(std::string("-crl_check_all ") + (c.strict ? "-x509_strict " : "") +
                             "-CAfile " + testkit::quote((files.scratch / "ta.pem").string()) +
                             " -untrusted " + testkit::quote((files.scratch / "cas.pem").string()) +
                             " -CRLfile " + testkit::quote((files.scratch / "crls.pem").string()) +
                             " -attime " + std::to_string(kPkitsInstant) + " " +
                             testkit::quote((certs / (std::string(c.file) + ".crt")).string()));
    });

    std::ostringstream table;
    table << "| PKITS | end entity | suite | ours | openssl verify |\n|---|---|---|---|---|\n";
    for (size_t i = 0; i < std::size(kPkitsCases); ++i) {
        const PkitsCase& c = kPkitsCases[i];
        SCOPED_TRACE(c.section);
        const Bytes der = testkit::readBytes(certs / (std::string(c.file) + ".crt"));
        SGBinary view = viewOf(der);
        SGCertificateValidatorOptions options{&files.storage.storage.record,
                                              SG_VALIDATOR_IGNORE_CRL};
        int reason = -1;
        const int result = SGCertificateValidator_ValidateFullPath(&reason, &view, &options);
        const bool suiteValid = std::string(c.file).rfind("Valid", 0) == 0;
        table << "| " << c.section << " | " << c.file << " | " << (suiteValid ? "valid" : "invalid")
              << " | " << verdictOf(result, reason) << " | " << verdicts[i].text << " |\n";

        EXPECT_EQ(verdicts[i].ok, suiteValid) << verdicts[i].text;
        EXPECT_EQ(result == 0, suiteValid) << result << " reason " << reason;
        if (c.result == -1) {
            // A signature that does not verify: the crypto layer's own code, no reason.
            EXPECT_NE(result, 0);
            EXPECT_NE(result, 10700);
        } else {
            EXPECT_EQ(result, c.result);
        }
        EXPECT_EQ(reason, c.reason);
    }
    std::cout << table.str();
}

// --- Lists from a directory, made by openssl ca ----------------------------------------------

// 2030-06-01T00:00:00Z: the rebuilt certificates and lists run 2025 to 2045 unless a case says.
constexpr time_t kRebuiltInstant = 1906502400;

const fs::path& crlCaseKeys() {
    static const fs::path folder =
        cached("rsa-keys",
               {"root", "ca", "revoked-ca", "other-ca", "forger", "nosign-ca", "noku-ca", "nobc-ca",
                "cafalse-ca", "pathlen-ca", "sub-ca", "nc-ca", "policy-ca", "user"});
    return folder;
}

struct RebuiltCase {
    const char* name;  // the end entity user-<name>.pem
    const char* list;  // lists/<list>.pem of its CA for openssl, or none
    int flags;         // ours
    const char* opensslOptions;
    int checkResult;  // SGCRL_CheckCertificate on the end entity (or on checked)
    int checkReason;
    int pathResult;
    int pathReason;
    bool opensslValid;
    const char* checked = nullptr;  // another certificate for the full check (PEM)
};

constexpr const char* kCrlChecks = "-crl_check_all -x509_strict";
constexpr int kNot = SG_CRL_NOT_REVOKED;

const RebuiltCase kRebuiltCases[] = {
    {"valid", "valid", 0, kCrlChecks, 0, kNot, 0, 0, true},
    {"revoked", "revoked", 0, kCrlChecks, 0, 1, 10700, 103, false},
    // Its CA is revoked in the root's authority list (cACompromise).
    {"revokedca", nullptr, 0, kCrlChecks, 0, 2, 10700, 103, false, "revoked-ca.pem"},
    {"revokedca", nullptr, SG_VALIDATOR_IGNORE_CRL, "-x509_strict", 0, 2, 0, 0, true,
     "revoked-ca.pem"},
    {"nocrl", nullptr, 0, kCrlChecks, SG_LDAP_ERR_NO_ATTRIBUTE, kNot, 10700, 0, false},
    {"garbage", nullptr, 0, kCrlChecks, SG_ASN_ERR_RUNTIME, kNot, 10700, 0, false},
    {"otherca", "otherca", 0, kCrlChecks, 10407, kNot, 10700, 0, false},
    {"renamed", "renamed", 0, kCrlChecks, 10411, kNot, 10700, 0, false},
    {"forged", "forged", 0, kCrlChecks, -1, kNot, 10700, 0, false},
    {"ahead", "ahead", 0, kCrlChecks, 10413, kNot, 10700, 0, false},
    {"past", "past", 0, kCrlChecks, 10413, kNot, 10700, 0, false},
    {"gentime", "gentime", 0, kCrlChecks, 0, kNot, 0, 0, true},
    {"nosign", nullptr, 0, kCrlChecks, 10412, kNot, 10700, 0, false},
    // A CA without keyUsage may sign lists (-x509_strict would demand keyUsage of a CA).
    {"noku", nullptr, 0, "-crl_check_all", 0, kNot, 0, 0, true},
    {"invalidity", "invalidity", 0, kCrlChecks, 10404, kNot, 10700, 0, false},
    {"critical", "critical", 0, kCrlChecks, 10011, kNot, 10700, 0, false},
    {"onlyca", "onlyca", 0, kCrlChecks, 10008, kNot, 10700, 0, false},
    {"empty", "empty", 0, kCrlChecks, 0, kNot, 0, 0, true},
    // Its entry's reasonCode 999 is no reason (and would read as "not on the list"): the list is
    // malformed and the path fails.
    {"badreason", "badreason", 0, kCrlChecks, SG_ASN_ERR_RUNTIME, kNot, 10700, 0, false},
    // Taken for stale here; openssl reads a list without nextUpdate as current.
    {"nonext", "nonext", 0, kCrlChecks, 10413, kNot, 10700, 0, true},
    // The first LDAP URL counts, not the first text "ldap" in the extension.
    {"twopoints", "valid", 0, kCrlChecks, 0, kNot, 0, 0, true},
    // Signed with SHA-384 below a CA signed with SHA-256.
    {"sha384", "valid", 0, kCrlChecks, 0, kNot, 0, 0, true},
    {"nobc", nullptr, 0, kCrlChecks, 0, kNot, 10700, 1, false},
    {"cafalse", nullptr, 0, kCrlChecks, 0, kNot, 10700, 101, false},
    {"pathlen", nullptr, 0, kCrlChecks, 0, kNot, 10700, 108, false},
    {"ncin", nullptr, 0, kCrlChecks, 0, kNot, 0, 0, true},
    {"ncout", nullptr, 0, kCrlChecks, 0, kNot, 10700, 107, false},
    // Its subject lies inside, its second subjectAltName directory name outside.
    {"ncsan", nullptr, 0, kCrlChecks, 0, kNot, 10700, 107, false},
    // Its CA names an issuer other than the root's subject: revocation ignored, names chain.
    {"misnamed", nullptr, SG_VALIDATOR_IGNORE_CRL, "-x509_strict", 0, kNot, 10700, 104, false},
    {"policy", nullptr, 0, "-crl_check_all -x509_strict -policy_check", 0, kNot, 10700, 106, false},
    {"expired", "valid", 0, kCrlChecks, 0, kNot, 10700, 102, false},
    {"expired", "valid", SG_VALIDATOR_IGNORE_VALIDITY, "-crl_check_all -x509_strict -no_check_time",
     0, kNot, 0, 0, true},
};

// The revocation date openssl reads for the first entry of a list.
time_t opensslRevocationDate(const fs::path& list) {
    const std::string out =
        testkit::run("openssl crl -noout -text -in " + testkit::quote(list.string()));
    const size_t at = out.find("Revocation Date: ");
    if (at == std::string::npos) return -1;
    struct tm tm {};
    if (!strptime(out.c_str() + at + 17, "%b %d %H:%M:%S %Y GMT", &tm)) return -1;
    return timegm(&tm);
}

TEST_F(CertificateValidator, RevocationCasesFromADirectoryBesideOpenssl) {
    testkit::SlapdOptions options;
    // The entry of user-garbage: slapd refuses a value that is no list online, slapadd takes it.
    options.baseLdif =
        "dn: o=Brindlow CRL,c=KR\nobjectClass: organization\no: Brindlow CRL\n\n"
        "dn: cn=garbage,o=Brindlow CRL,c=KR\nobjectClass: cRLDistributionPoint\ncn: garbage\n"
        "certificateRevocationList;binary: not a list\n";
    testkit::Slapd slapd(options);
    std::string error;
    ASSERT_TRUE(slapd.start(&error)) << error;
    testkit::Scratch scratch("crl-cases");
    const fs::path m = scratch / "material";
    ASSERT_TRUE(testkit::pki("crl-cases", m, {slapd.url(), crlCaseKeys().string()}, &error))
        << error;
    ASSERT_TRUE(slapd.add(testkit::readText(m / "entries.ldif"), &error)) << error;
    FixedClock clock(kRebuiltInstant);

    // Only the root is at hand: the CAs come from the directory as paths need them.
    FileStorage storage;
    storage.add(derOfPem(m / "root.pem"), true);

    const auto verdicts = inParallel(std::size(kRebuiltCases), [&](size_t i) {
        const RebuiltCase& c = kRebuiltCases[i];
        std::string lists = " -CRLfile " + testkit::quote((m / "lists.pem").string());
        if (c.list)
            lists += " -CRLfile " +
                     testkit::quote((m / "lists" / (std::string(c.list) + ".pem")).string());
        // -attime would turn time checks on again.
        const std::string options = c.opensslOptions;
        const std::string at = options.find("-no_check_time") == std::string::npos
                                   ? " -attime " + std::to_string(kRebuiltInstant)
                                   : "";
        return opensslVerify(
            options + " -CAfile " + testkit::quote((m / "root.pem").string()) + " -untrusted " +
            testkit::quote((m / "cas.pem").string()) + lists + at + " " +
            testkit::quote((m / ("user-" + std::string(c.name) + ".pem")).string()));
    });

    std::ostringstream table;
    table << "| case | flags | full check (ours) | path (ours) | openssl verify | its options |\n"
             "|---|---|---|---|---|---|\n";
    for (size_t i = 0; i < std::size(kRebuiltCases); ++i) {
        const RebuiltCase& c = kRebuiltCases[i];
        SCOPED_TRACE(std::string(c.name) + " flags " + std::to_string(c.flags));
        const Bytes user = derOfPem(m / ("user-" + std::string(c.name) + ".pem"));
        const Bytes checkedDer = c.checked ? derOfPem(m / c.checked) : user;
        SGX509Certificate checked{};
        SGBinary checkedView = viewOf(checkedDer);
        ASSERT_EQ(SGX509Certificate_FromBinary(&checked, &checkedView), 0);
        SGCRLStatus status{};
        const int check = SGCRL_CheckCertificate(&status, &checked, &storage.storage.record);
        SGX509Certificate_Clear(&checked);
        if (c.checkResult == -1) {
            // A signature that does not verify: the crypto layer's code.
            EXPECT_NE(check, 0);
            EXPECT_LT(check, 10000) << check;
        } else {
            EXPECT_EQ(check, c.checkResult);
        }
        EXPECT_EQ(status.reason, c.checkReason);

        SGBinary view = viewOf(user);
        SGCertificateValidatorOptions validator{&storage.storage.record, c.flags};
        int reason = -1;
        const int path = SGCertificateValidator_ValidateFullPath(&reason, &view, &validator);
        EXPECT_EQ(path, c.pathResult);
        EXPECT_EQ(reason, c.pathReason);
        EXPECT_EQ(verdicts[i].ok, c.opensslValid) << verdicts[i].text;

        std::string ours = std::to_string(check);
        if (check == 0)
            ours +=
                status.reason == kNot ? " not revoked" : " reason " + std::to_string(status.reason);
        table << "| " << c.name << (c.checked ? " (CA checked)" : "") << " | " << c.flags << " | "
              << ours << " | " << verdictOf(path, reason) << " | " << verdicts[i].text << " | "
              << c.opensslOptions << " |\n";
    }
    std::cout << table.str();

    // The revocation date of the revoked user is the list's.
    const Bytes revoked = derOfPem(m / "user-revoked.pem");
    SGX509Certificate handle{};
    SGBinary view = viewOf(revoked);
    ASSERT_EQ(SGX509Certificate_FromBinary(&handle, &view), 0);
    SGCRLStatus status{};
    EXPECT_EQ(SGCRL_CheckCertificate(&status, &handle, &storage.storage.record), 0);
    EXPECT_EQ(status.date, opensslRevocationDate(m / "lists" / "revoked.pem"));
    EXPECT_GT(status.date, 0);

    // No storage, no answer, though the list says "not revoked".
    EXPECT_EQ(SGCRL_CheckCertificate(&status, &handle, nullptr), SG_PKI_ERR_ARGUMENT);
    EXPECT_EQ(status.reason, kNot);
    SGX509Certificate_Clear(&handle);
}

}  // namespace
