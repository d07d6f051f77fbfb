// A real OpenLDAP server (slapd) for a test: its own scratch folder with slapd.conf and an mdb
// database loaded by slapadd, run in the foreground on a loopback port found free, ended with
// the test (SIGTERM, SIGKILL after 10 seconds; SIGKILL when the test process dies first). Entries
// can be added with ldapadd once it answers. Works unprivileged.
//
//   testkit::Slapd slapd;                 // suffix "c=KR", core.schema
//   ASSERT_TRUE(slapd.start(&error)) << error;
//   ASSERT_TRUE(slapd.add(ldif, &error)) << error;
//   ... slapd.url() is "ldap://127.0.0.1:<port>"
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "TestKit.h"

namespace testkit {

struct SlapdOptions {
    std::string suffix = "c=KR";
    // Schema files included, in order.
    std::vector<std::string> schemas = {"/etc/ldap/schema/core.schema"};
    // core.schema is replaced by a copy in which cACertificate, authorityRevocationList and
    // certificateRevocationList are octet strings (cACertificate with octetStringMatch), so that
    // values are stored and asked for without ";binary".
    bool octetStringCertificates = false;
    // Lines of the global part of slapd.conf, for example "disallow bind_anon" or
    // "allow bind_anon_dn".
    std::vector<std::string> globalLines;
    // Lines appended to the database part.
    std::vector<std::string> databaseLines;
    // Entries below the suffix loaded by slapadd before the start (LDIF); the suffix entry
    // itself is made from its first attribute (c, o, ou or dc).
    std::string baseLdif;
    // slapd's -d level; "256" (stats) writes every operation to log(), binds with their DN.
    std::string debugLevel = "0";
    // False loads the base entries with slapadd -s (no schema check), for published LDIF whose
    // entries the shipped schemas do not fully describe.
    bool schemaCheck = true;
};

class Slapd {
  public:
    static constexpr const char* kSlapd = "/usr/sbin/slapd";
    static constexpr const char* kSlapadd = "/usr/sbin/slapadd";
    static constexpr const char* kCoreSchema = "/etc/ldap/schema/core.schema";
    static constexpr const char* kOctetString = "1.3.6.1.4.1.1466.115.121.1.40";

    explicit Slapd(SlapdOptions options = {}) : options_(std::move(options)), scratch_("slapd") {
        rootDn_ = "cn=admin," + options_.suffix;
        rootPassword_ = randomHex(12);
    }
    ~Slapd() { stop(); }
    Slapd(const Slapd&) = delete;
    Slapd& operator=(const Slapd&) = delete;

    // Writes the configuration, loads the base entries and starts the server; true once it
    // answers a search. A server that exits before answering is started again on another port.
    bool start(std::string* error = nullptr) {
        std::string why;
        const bool ok = startServer(why);
        if (!ok && error) *error = why;
        return ok;
    }

    // SIGTERM, SIGKILL after 10 seconds.
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }

    // Adds the entries (LDIF) as the root DN.
    bool add(const std::string& ldif, std::string* output = nullptr) {
        const fs::path file = scratch_ / ("add-" + std::to_string(++adds_) + ".ldif");
        writeText(file, ldif);
        return succeeds(std::string("ldapadd -x -H ") + quote(url()) + " -D " + quote(rootDn_) +
                            " -w " + quote(rootPassword_) + " -f " + quote(file.string()),
                        output);
    }

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string url() const { return "ldap://127.0.0.1:" + std::to_string(port_); }
    const std::string& rootDn() const { return rootDn_; }
    const std::string& rootPassword() const { return rootPassword_; }
    const fs::path& folder() const { return scratch_.path(); }
    // What slapd wrote on its standard output and error.
    std::string log() const { return readText(scratch_ / "slapd.log"); }

    // A port on the loopback address that nothing listens on at this moment.
    static int freePort() {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0) return -1;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = -1;
        if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(s);
        return port;
    }

  private:
    static std::string randomHex(size_t bytes) {
        Bytes random(bytes);
        FILE* f = std::fopen("/dev/urandom", "rb");
        if (f) {
            if (std::fread(random.data(), 1, bytes, f) != bytes) random.assign(bytes, 0x5A);
            std::fclose(f);
        }
        return hex(random);
    }

    // The entry of the suffix, from its first attribute.
    bool suffixEntry(std::string& out, std::string& why) const {
        const std::string first = options_.suffix.substr(0, options_.suffix.find(','));
        const size_t equals = first.find('=');
        if (equals == std::string::npos) {
            why = "suffix without attribute: " + options_.suffix;
            return false;
        }
        const std::string type = first.substr(0, equals), value = first.substr(equals + 1);
        out = "dn: " + options_.suffix + "\n";
        if (type == "c")
            out += "objectClass: country\nc: " + value + "\n";
        else if (type == "o")
            out += "objectClass: organization\no: " + value + "\n";
        else if (type == "ou")
            out += "objectClass: organizationalUnit\nou: " + value + "\n";
        else if (type == "dc")
            out += "objectClass: dcObject\nobjectClass: organization\ndc: " + value +
                   "\no: " + value + "\n";
        else {
            why = "no entry for a suffix of type " + type;
            return false;
        }
        return true;
    }

    // core.schema with the three certificate attributes as octet strings.
    bool octetStringCoreSchema(fs::path& out, std::string& why) const {
        std::string text = readText(kCoreSchema);
        if (text.empty()) {
            why = std::string("cannot read ") + kCoreSchema + ": run scripts/setup.sh";
            return false;
        }
        for (const char* name :
             {"'cACertificate'", "'authorityRevocationList'", "'certificateRevocationList'"}) {
            const size_t at = text.find(std::string("NAME ") + name);
            const size_t end = at == std::string::npos ? at : text.find(')', at);
            const size_t syntax = at == std::string::npos ? at : text.find("SYNTAX ", at);
            if (syntax == std::string::npos || syntax > end) {
                why = std::string("core.schema without ") + name;
                return false;
            }
            const size_t valueAt = syntax + 7;
            const size_t valueEnd = text.find_first_of(" \t\n)", valueAt);
            text.replace(valueAt, valueEnd - valueAt, kOctetString);
            if (std::string(name) == "'cACertificate'") {
                const size_t equality = text.find("EQUALITY certificateExactMatch", at);
                if (equality != std::string::npos && equality < text.find(')', at))
                    text.replace(equality, 30, "EQUALITY octetStringMatch");
            }
        }
        out = scratch_ / "core-octet-string.schema";
        writeText(out, text);
        return true;
    }

    bool writeConfiguration(std::string& why) {
        const fs::path dir = scratch_.path();
        std::string conf;
        for (const std::string& schema : options_.schemas) {
            fs::path path = schema;
            if (options_.octetStringCertificates && schema == kCoreSchema &&
                !octetStringCoreSchema(path, why))
                return false;
            conf += "include " + path.string() + "\n";
        }
        for (const std::string& line : options_.globalLines) conf += line + "\n";
        conf += "modulepath /usr/lib/ldap\nmoduleload back_mdb\n";
        conf += "pidfile " + (dir / "slapd.pid").string() + "\n";
        conf += "argsfile " + (dir / "slapd.args").string() + "\n";
        conf += "database mdb\nmaxsize 16777216\n";
        conf += "suffix \"" + options_.suffix + "\"\n";
        conf += "rootdn \"" + rootDn_ + "\"\n";
        conf += "rootpw " + rootPassword_ + "\n";
        conf += "directory " + (dir / "db").string() + "\n";
        for (const std::string& line : options_.databaseLines) conf += line + "\n";
        std::error_code ec;
        fs::create_directories(dir / "db", ec);
        writeText(dir / "slapd.conf", conf);

        std::string base;
        if (!suffixEntry(base, why)) return false;
        if (!options_.baseLdif.empty()) base += "\n" + options_.baseLdif;
        writeText(dir / "base.ldif", base);
        std::string output;
        if (!succeeds(std::string(kSlapadd) + (options_.schemaCheck ? "" : " -s") + " -f " +
                          quote((dir / "slapd.conf").string()) + " -l " +
                          quote((dir / "base.ldif").string()),
                      &output)) {
            why = "slapadd failed: " + output;
            return false;
        }
        return true;
    }

    // Asked as the root DN, so that a server refusing anonymous binds answers as well.
    bool answers() const {
        return succeeds("ldapsearch -x -LLL -o nettimeout=2 -l 2 -H " + quote(url()) + " -D " +
                        quote(rootDn_) + " -w " + quote(rootPassword_) + " -b " +
                        quote(options_.suffix) + " -s base dn");
    }

    bool startServer(std::string& why) {
        if (pid_ > 0) return true;
        for (const char* program : {kSlapd, kSlapadd, "/usr/bin/ldapsearch", "/usr/bin/ldapadd"}) {
            if (::access(program, X_OK) != 0) {
                why = std::string(program) + " is missing: run scripts/setup.sh";
                return false;
            }
        }
        if (scratch_.path().empty()) {
            why = "no scratch folder for slapd";
            return false;
        }
        if (!writeConfiguration(why)) return false;
        const std::string conf = (scratch_ / "slapd.conf").string();
        const std::string log = (scratch_ / "slapd.log").string();
        const std::string debugLevel = options_.debugLevel;
        for (int attempt = 0; attempt < 5; ++attempt) {
            port_ = freePort();
            if (port_ <= 0) continue;
            const std::string listen = url() + "/";
            const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            const pid_t parent = ::getpid();
            const pid_t child = ::fork();
            if (child < 0) {
                if (logFd >= 0) ::close(logFd);
                why = "fork failed";
                return false;
            }
            if (child == 0) {
                // Ends with the test process, whatever way that ends.
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (::getppid() != parent) ::_exit(126);
                const int null = ::open("/dev/null", O_RDONLY);
                if (null >= 0) ::dup2(null, 0);
                if (logFd >= 0) {
                    ::dup2(logFd, 1);
                    ::dup2(logFd, 2);
                }
                ::execl(kSlapd, "slapd", "-f", conf.c_str(), "-h", listen.c_str(), "-d",
                        debugLevel.c_str(), static_cast<char*>(nullptr));
                ::_exit(127);
            }
            if (logFd >= 0) ::close(logFd);
            pid_ = child;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
            bool exited = false;
            while (std::chrono::steady_clock::now() < until) {
                if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                    exited = true;
                    break;
                }
                if (answers()) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (!exited) {
                stop();
                why = "slapd did not answer; see " + log;
                return false;
            }
            pid_ = -1;  // exited (the port was taken meanwhile): another port
        }
        why = "slapd exited at every start; see " + log + ":\n" + readText(log);
        return false;
    }

    SlapdOptions options_;
    Scratch scratch_;
    std::string rootDn_;
    std::string rootPassword_;
    pid_t pid_ = -1;
    int port_ = -1;
    int adds_ = 0;
};

}  // namespace testkit
