// LDAP reads against a real slapd on the loopback address, loaded with openssl-made CA
// certificates and CRLs: the bytes read, the bind rules of the server, the answers for what is
// not there, the directory that keeps certificates as octet strings, and the time-out.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "PkiMaterial.h"
#include "SGLDAP.h"
#include "Slapd.h"

namespace {

using namespace pkitest;
using Clock = std::chrono::steady_clock;

const std::string kOrg = "o=Brindlow LDAP,c=KR";
const std::string kCaEntry = "cn=Brindlow LDAP CA," + kOrg;

// The hierarchy of the ldap-chain recipe; the tests here build their URLs themselves, so the
// one whose distribution points name no port serves every process.
const fs::path& material() {
    static const fs::path folder = cached("ldap-chain", {"ldap://127.0.0.1", keys().string()});
    return folder;
}

// A listening socket that never accepts: connections complete and are never answered.
class SilentServer {
  public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd_, 8) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    int port() const { return port_; }
    std::string url() const { return "ldap://127.0.0.1:" + std::to_string(port_); }
    // Whether anything connected (the listening socket does not block).
    bool connected() const {
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) return false;
        ::close(client);
        return true;
    }

  private:
    int fd_ = -1;
    int port_ = -1;
};

class LDAP : public PkiTest {
  protected:
    void TearDown() override { SGLDAP_SetTimeout(10); }

    // A slapd with the hierarchy's entries ("entries.ldif" or its plain twin).
    void startDirectory(testkit::Slapd& slapd, const char* entries = "entries.ldif") {
        std::string error;
        ASSERT_TRUE(slapd.start(&error)) << error;
        ASSERT_TRUE(slapd.add(testkit::readText(material() / entries), &error)) << error;
    }
    static testkit::SlapdOptions options() {
        testkit::SlapdOptions o;
        o.baseLdif = testkit::readText(material() / "base.ldif");
        return o;
    }
};

struct Read {
    SGBinary out{};
    int result;
    ~Read() { SGBinary_Reset(&out); }
    Bytes bytes() const { return bytesOf(out); }
};

TEST_F(LDAP, ServiceSlots) {
    const void* expected[] = {
        reinterpret_cast<void*>(&SGLDAP_SetTimeout),
        reinterpret_cast<void*>(&SGLDAP_Connect),
        reinterpret_cast<void*>(&SGLDAP_Disconnect),
        reinterpret_cast<void*>(&SGLDAP_ReadCACertificate),
        reinterpret_cast<void*>(&SGLDAP_ReadCRL),
        reinterpret_cast<void*>(&SGLDAP_ReadEntry),
    };
    for (int slot = 78; slot <= 83; ++slot) EXPECT_EQ(Service[slot], expected[slot - 78]) << slot;
}

TEST_F(LDAP, ReadsReturnExactlyTheLoadedBytes) {
    testkit::Slapd slapd(options());
    startDirectory(slapd);
    const std::string base = slapd.url() + "/";
    Read ca;
    ca.result = SGLDAP_ReadCACertificate(&ca.out, (base + kCaEntry).c_str());
    EXPECT_EQ(ca.result, 0);
    EXPECT_EQ(ca.bytes(), testkit::readBytes(material() / "ca.der"));

    Read crl;
    crl.result = SGLDAP_ReadCRL(&crl.out, (base + "cn=dp1," + kCaEntry).c_str());
    EXPECT_EQ(crl.result, 0);
    EXPECT_EQ(crl.bytes(), testkit::readBytes(material() / "ca.crl"));

    Read arl;
    arl.result =
        SGLDAP_ReadCRL(&arl.out, (base + kCaEntry + "?authorityRevocationList;binary").c_str());
    EXPECT_EQ(arl.result, 0);
    EXPECT_EQ(arl.bytes(), testkit::readBytes(material() / "ca.arl"));

    // The URL's attribute wins over the argument.
    Read entry;
    entry.result = SGLDAP_ReadEntry(
        &entry.out, (base + "cn=Brindlow LDAP Root," + kOrg + "?cACertificate;binary").c_str(),
        "certificateRevocationList;binary", nullptr);
    EXPECT_EQ(entry.result, 0);
    EXPECT_EQ(entry.bytes(), testkit::readBytes(material() / "root.der"));
    Read argument;
    argument.result =
        SGLDAP_ReadEntry(&argument.out, (base + "cn=Brindlow LDAP Root," + kOrg).c_str(),
                         "certificateRevocationList;binary", "(cn=Brindlow LDAP Root)");
    EXPECT_EQ(argument.result, 0);
    EXPECT_EQ(argument.bytes(), testkit::readBytes(material() / "root.crl"));
}

TEST_F(LDAP, ContextConnectsSearchesAndReconnects) {
    testkit::Slapd slapd(options());
    startDirectory(slapd);
    SGLDAPContext context;
    std::memset(&context, 0x5A, sizeof context);  // garbage is marked by connecting
    ASSERT_EQ(SGLDAP_Connect(&context, "127.0.0.1", slapd.port(), 5), 0);
    EXPECT_EQ(context.marker, SG_LDAP_CONTEXT_MARKER);
    EXPECT_STREQ(context.url, slapd.url().c_str());
    EXPECT_EQ(SGLDAPContext_Init(&context), SG_LDAP_ERR_MARKED);
    // Connecting again closes the first connection (the leak check would see it otherwise).
    ASSERT_EQ(SGLDAP_ConnectByURL(&context, (slapd.url() + "/" + kOrg).c_str(), 5), 0);

    Read root;
    root.result =
        SGLDAP_ReadOneRecord(&context, &root.out, ("cn=Brindlow LDAP Root," + kOrg).c_str(),
                             "cACertificate;binary", nullptr);
    EXPECT_EQ(root.result, 0);
    EXPECT_EQ(root.bytes(), testkit::readBytes(material() / "root.der"));
    Read none;
    EXPECT_EQ(SGLDAP_ReadOneRecord(&context, &none.out, kOrg.c_str(), "cACertificate;binary",
                                   "(cn=nobody)"),
              SG_LDAP_ERR_NO_OBJECT);
    EXPECT_EQ(none.out.data, nullptr);

    EXPECT_EQ(SGLDAP_Disconnect(&context), 0);
    EXPECT_EQ(context.handle, nullptr);
    EXPECT_EQ(context.url, nullptr);
    EXPECT_EQ(SGLDAP_ReadOneRecord(&context, &none.out, kOrg.c_str(), "cn", nullptr), 10001);
    SGLDAPContext fresh{};
    EXPECT_EQ(SGLDAPContext_Init(&fresh), 0);
    EXPECT_EQ(SGLDAPContext_Init(nullptr), 10001);
}

TEST_F(LDAP, AnswersForWhatTheDirectoryLacks) {
    testkit::Slapd slapd(options());
    startDirectory(slapd);
    const std::string base = slapd.url() + "/";
    const int closedPort = testkit::Slapd::freePort();
    const struct {
        const char* what;
        std::string url;
        bool crl;
        int result;
    } cases[] = {
        {"missing base DN", base + "cn=Nobody," + kOrg, false, 10420},
        {"an entry that is no CA", base + "cn=dp1," + kCaEntry, false, 10420},
        {"a distribution point without a CRL", base + "cn=dp2," + kCaEntry, true, 10422},
        {"a closed port", "ldap://127.0.0.1:" + std::to_string(closedPort) + "/" + kCaEntry, false,
         10025},
    };
    for (const auto& c : cases) {
        Read read;
        read.result = c.crl ? SGLDAP_ReadCRL(&read.out, c.url.c_str())
                            : SGLDAP_ReadCACertificate(&read.out, c.url.c_str());
        EXPECT_EQ(read.result, c.result) << c.what;
        EXPECT_EQ(read.out.data, nullptr) << c.what;
    }
}

TEST_F(LDAP, BadUrlsAreRefusedBeforeConnecting) {
    SilentServer server;
    ASSERT_GT(server.port(), 0);
    const std::string host = server.url();
    const struct {
        const char* what;
        std::string url;
        int result;
    } cases[] = {
        {"another scheme", "ldaps://127.0.0.1:" + std::to_string(server.port()) + "/c=KR", 10001},
        {"no scheme", "127.0.0.1:" + std::to_string(server.port()) + "/c=KR", 10001},
        {"a blank in the host part", "ldap://127.0.0.1 :" + std::to_string(server.port()) + "/c=KR",
         10001},
        {"a list of hosts", host + ",ldap://127.0.0.1:1/c=KR", 10001},
        {"no host", "ldap:///c=KR", 10001},
        {"host part of 128 bytes", "ldap://" + std::string(121, 'h') + "/c=KR", 10001},
        {"base DN of 512 bytes", host + "/" + std::string(512, 'd'), 10001},
        {"attribute of 128 bytes", host + "/c=KR?" + std::string(128, 'a'), 10001},
    };
    for (const auto& c : cases) {
        Read read;
        EXPECT_EQ(SGLDAP_ReadCACertificate(&read.out, c.url.c_str()), c.result) << c.what;
        EXPECT_EQ(SGLDAP_ReadCRL(&read.out, c.url.c_str()), c.result) << c.what;
        EXPECT_FALSE(server.connected()) << c.what;
    }
    Read read;
    // No attribute in the URL nor as argument: refused before any connection.
    EXPECT_EQ(SGLDAP_ReadEntry(&read.out, (host + "/c=KR").c_str(), nullptr, nullptr), 10423);
    EXPECT_EQ(SGLDAP_ReadEntry(&read.out, (host + "/c=KR").c_str(), "", nullptr), 10423);
    EXPECT_FALSE(server.connected());
    SGLDAPContext context{};
    EXPECT_EQ(SGLDAP_Connect(&context, "127.0.0.1 ", server.port(), 5), 10001);
    EXPECT_EQ(SGLDAP_Connect(&context, "127.0.0.1", 0, 5), 10001);
    EXPECT_EQ(SGLDAP_ConnectByURL(&context, host.c_str(), 0), 10001);
    EXPECT_EQ(SGLDAP_ReadCACertificate(nullptr, host.c_str()), 10001);
    EXPECT_FALSE(server.connected());
}

TEST_F(LDAP, AServerThatNeverAnswersIsLeftAfterTheTimeOut) {
    SilentServer server;
    ASSERT_EQ(SGLDAP_SetTimeout(0), 10001);
    ASSERT_EQ(SGLDAP_SetTimeout(1), 0);
    const auto start = Clock::now();
    Read read;
    EXPECT_EQ(SGLDAP_ReadCACertificate(&read.out, (server.url() + "/c=KR").c_str()), 10025);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2900));
    EXPECT_TRUE(server.connected());  // it did connect; the bind went unanswered

    SGLDAPContext context{};
    const auto again = Clock::now();
    EXPECT_EQ(SGLDAP_ConnectByURL(&context, server.url().c_str(), 1), 10025);
    EXPECT_LT(Clock::now() - again, std::chrono::milliseconds(2900));
    EXPECT_EQ(context.handle, nullptr);
    EXPECT_EQ(context.url, nullptr);
}

// The binds each server saw, in order, from its operation log.
std::vector<std::string> bindsSeen(const testkit::Slapd& slapd) {
    std::vector<std::string> binds;
    const std::string log = slapd.log();
    for (size_t at = log.find("BIND dn=\""); at != std::string::npos;
         at = log.find("BIND dn=\"", at + 1)) {
        const size_t start = at + 9;
        binds.push_back(log.substr(start, log.find('"', start) - start));
    }
    return binds;
}

TEST_F(LDAP, BindRulesOfTheServer) {
    testkit::SlapdOptions logged = options();
    logged.debugLevel = "256";
    // The default server refuses the "c=KR" bind (53): the read binds again anonymously.
    testkit::Slapd standard(logged);
    startDirectory(standard);
    Read read;
    EXPECT_EQ(SGLDAP_ReadCACertificate(&read.out, (standard.url() + "/" + kCaEntry).c_str()), 0);
    std::vector<std::string> binds = bindsSeen(standard);
    ASSERT_GE(binds.size(), 2u);
    EXPECT_EQ(binds[binds.size() - 2], "c=KR");
    EXPECT_EQ(binds.back(), "");

    // Anonymous binds refused: neither bind succeeds.
    testkit::SlapdOptions refusing = logged;
    refusing.globalLines = {"disallow bind_anon"};
    testkit::Slapd closed(refusing);
    startDirectory(closed);
    Read refused;
    EXPECT_EQ(SGLDAP_ReadCACertificate(&refused.out, (closed.url() + "/" + kCaEntry).c_str()),
              10025);
    EXPECT_EQ(refused.out.data, nullptr);

    // The "c=KR" bind accepted: no second bind.
    testkit::SlapdOptions named = logged;
    named.globalLines = {"allow bind_anon_dn"};
    testkit::Slapd open(named);
    startDirectory(open);
    Read accepted;
    EXPECT_EQ(SGLDAP_ReadCACertificate(&accepted.out, (open.url() + "/" + kCaEntry).c_str()), 0);
    EXPECT_EQ(accepted.bytes(), testkit::readBytes(material() / "ca.der"));
    binds = bindsSeen(open);
    ASSERT_FALSE(binds.empty());
    EXPECT_EQ(binds.back(), "c=KR");
}

TEST_F(LDAP, OctetStringDirectoryIsAnsweredByTheSecondSearch) {
    testkit::SlapdOptions octets = options();
    octets.octetStringCertificates = true;
    testkit::Slapd slapd(octets);
    startDirectory(slapd, "entries-plain.ldif");
    const std::string base = slapd.url() + "/";
    // The value is not there under ";binary".
    Read direct;
    EXPECT_EQ(
        SGLDAP_ReadEntry(&direct.out, (base + kCaEntry).c_str(), "cACertificate;binary", nullptr),
        10422);

    Read ca;
    EXPECT_EQ(SGLDAP_ReadCACertificate(&ca.out, (base + kCaEntry).c_str()), 0);
    EXPECT_EQ(ca.bytes(), testkit::readBytes(material() / "ca.der"));
    Read crl;
    EXPECT_EQ(SGLDAP_ReadCRL(&crl.out, (base + "cn=dp1," + kCaEntry).c_str()), 0);
    EXPECT_EQ(crl.bytes(), testkit::readBytes(material() / "ca.crl"));
    // The retry keeps the attribute asked for: the ARL, not the CRL.
    Read arl;
    EXPECT_EQ(
        SGLDAP_ReadCRL(&arl.out, (base + kCaEntry + "?authorityRevocationList;binary").c_str()), 0);
    EXPECT_EQ(arl.bytes(), testkit::readBytes(material() / "ca.arl"));
}

}  // namespace
