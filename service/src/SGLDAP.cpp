#include "SGLDAP.h"

#include <lber.h>
#include <ldap.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <cstring>
#include <string>
#include <string_view>

#include "SGMemory.h"
#include "SGOS.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"

namespace {

// Read by every later read; written by SGLDAP_SetTimeout from any thread.
std::atomic<int> g_connectTimeout{10};

// The server's time limit of a search, in seconds.
constexpr int kSearchTimeLimit = 10;

constexpr const char* kBindDn = "c=KR";
constexpr const char* kAnyObject = "(objectClass=*)";
constexpr const char* kCrlFilter =
    "(|(objectClass=distributionPoint)(objectClass=cRLDistributionPoint)"
    "(objectClass=certificationAuthority)(objectClass=pkiCertificationAuthority))";
constexpr const char* kCaFilter =
    "(|(objectClass=certificationAuthority)(objectClass=pkiCertificationAuthority))";
constexpr std::string_view kScheme = "ldap://";
constexpr std::string_view kBinaryOption = ";binary";

// The directory client writes to its socket with write(): a server that has gone would raise
// SIGPIPE and end the whole program. The calling thread blocks it while it talks to the server
// and takes back a SIGPIPE raised meanwhile.
class PipeSignalBlock {
  public:
    PipeSignalBlock() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        pendingBefore_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_, &previous_) == 0;
    }
    ~PipeSignalBlock() {
        if (!blocked_) return;
        sigset_t pending;
        sigemptyset(&pending);
        if (!pendingBefore_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{0, 0};
            sigtimedwait(&pipe_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    PipeSignalBlock(const PipeSignalBlock&) = delete;
    PipeSignalBlock& operator=(const PipeSignalBlock&) = delete;

  private:
    sigset_t pipe_;
    sigset_t previous_;
    bool pendingBefore_ = false;
    bool blocked_ = false;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (SG_GBW(SGOS_tolower)(static_cast<unsigned char>(a[i])) !=
            SG_GBW(SGOS_tolower)(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The parts of "ldap://host[:port][/base DN[?attribute]]".
struct LdapUrl {
    std::string host;  // scheme, host and port
    std::string baseDn;
    std::string attribute;
};

// Only plain "ldap://" URLs within the buffers are taken, and the host part must be one host:
// the client library would read blanks or commas in it as a list of servers to try.
int splitUrl(LdapUrl& out, const char* url) {
    if (!url) return SG_PKI_ERR_ARGUMENT;
    const std::string_view text(url);
    if (text.size() < kScheme.size() ||
        !equalsIgnoringCase(text.substr(0, kScheme.size()), kScheme))
        return SG_PKI_ERR_ARGUMENT;
    const std::string_view rest = text.substr(kScheme.size());
    const size_t slash = rest.find('/');
    const std::string_view hostPort = rest.substr(0, slash);
    if (hostPort.empty() || kScheme.size() + hostPort.size() >= SG_LDAP_HOST_MAX)
        return SG_PKI_ERR_ARGUMENT;
    for (unsigned char c : hostPort)
        if (c <= ' ' || c == 0x7F || c == ',' || c == '?' || c == '#') return SG_PKI_ERR_ARGUMENT;
    std::string_view dn, attribute;
    if (slash != std::string_view::npos) {
        dn = rest.substr(slash + 1);
        if (const size_t question = dn.find('?'); question != std::string_view::npos) {
            attribute = dn.substr(question + 1);
            dn = dn.substr(0, question);
            // Further URL fields (scope, filter) do not belong to the attribute.
            attribute = attribute.substr(0, attribute.find('?'));
        }
    }
    if (dn.size() >= SG_LDAP_BASE_DN_MAX || attribute.size() >= SG_LDAP_ATTRIBUTE_MAX)
        return SG_PKI_ERR_ARGUMENT;
    out.host.assign(text.substr(0, kScheme.size() + hostPort.size()));
    out.baseDn.assign(dn);
    out.attribute.assign(attribute);
    return 0;
}

// The attribute without its ";binary" option; empty when it has none.
std::string withoutBinaryOption(const std::string& attribute) {
    for (size_t at = 0; at + kBinaryOption.size() <= attribute.size(); ++at) {
        if (equalsIgnoringCase(std::string_view(attribute).substr(at, kBinaryOption.size()),
                               kBinaryOption))
            return attribute.substr(0, at) + attribute.substr(at + kBinaryOption.size());
    }
    return std::string();
}

void markIfNeeded(SGLDAPContext* context) {
    if (context->marker == SG_LDAP_CONTEXT_MARKER) return;
    std::memset(context, 0, sizeof *context);
    context->marker = SG_LDAP_CONTEXT_MARKER;
}

char* copyText(const char* text) {
    const size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(SG_GBW(SGMemory_malloc)(length + 1));
    if (copy) std::memcpy(copy, text, length + 1);
    return copy;
}

int disconnect(SGLDAPContext* context) {
    int result = 0;
    if (context->handle) result = ldap_destroy(static_cast<LDAP*>(context->handle));
    context->handle = nullptr;
    if (context->url) SG_GBW(SGMemory_free)(context->url);
    context->url = nullptr;
    return result;
}

int simpleBind(LDAP* ld, const char* dn) {
    // An empty password: an unauthenticated bind for a DN, an anonymous one without.
    char empty[] = "";
    berval credential{0, empty};
    return ldap_sasl_bind_s(ld, dn, LDAP_SASL_SIMPLE, &credential, nullptr, nullptr, nullptr);
}

int connectTo(SGLDAPContext* context, const std::string& host, const char* url, int seconds) {
    markIfNeeded(context);
    // A context connected before is closed, not leaked.
    disconnect(context);
    context->url = copyText(url);
    if (!context->url) return SG_PKI_ERR_MEMORY;

    LDAP* ld = nullptr;
    int result = ldap_initialize(&ld, host.c_str());
    if (result != LDAP_SUCCESS || !ld) {
        if (ld) ldap_destroy(ld);
        disconnect(context);
        return result != LDAP_SUCCESS ? result : SG_PKI_ERR_MEMORY;
    }
    const int version = LDAP_VERSION3;
    const timeval timeout{seconds, 0};
    const int timeLimit = kSearchTimeLimit;
    // Connecting is bounded by the network time-out, every answer (the bind's and the search's)
    // by the operation time-out, so a server that accepts and never answers cannot hold a read.
    // Referrals are not chased: they would bind to servers the URL does not name.
    if (ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS ||
        ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout) != LDAP_OPT_SUCCESS ||
        ldap_set_option(ld, LDAP_OPT_TIMEOUT, &timeout) != LDAP_OPT_SUCCESS ||
        ldap_set_option(ld, LDAP_OPT_TIMELIMIT, &timeLimit) != LDAP_OPT_SUCCESS ||
        ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF) != LDAP_OPT_SUCCESS) {
        ldap_destroy(ld);
        disconnect(context);
        return SG_LDAP_ERR_BIND;
    }
    result = simpleBind(ld, kBindDn);
    if (result == LDAP_UNWILLING_TO_PERFORM) result = simpleBind(ld, nullptr);
    if (result != LDAP_SUCCESS) {
        ldap_destroy(ld);
        disconnect(context);
        return SG_LDAP_ERR_BIND;
    }
    context->handle = ld;
    return 0;
}

// Frees the search result with the scope.
struct SearchResult {
    LDAPMessage* message = nullptr;
    ~SearchResult() {
        if (message) ldap_msgfree(message);
    }
};

int readOneRecord(SGLDAPContext* context, SGBinary* out, const char* baseDN, const char* attribute,
                  const char* filter) {
    LDAP* ld = static_cast<LDAP*>(context->handle);
    char* attributes[] = {const_cast<char*>(attribute), nullptr};
    SearchResult result;
    // No client time-out given: the handle's operation time-out bounds the wait, and the
    // server's time limit is the handle's (10 seconds).
    int rc =
        ldap_search_ext_s(ld, baseDN, LDAP_SCOPE_SUBTREE, filter && *filter ? filter : kAnyObject,
                          attributes, 0, nullptr, nullptr, nullptr, 0, &result.message);
    if (rc == LDAP_NO_SUCH_OBJECT) return SG_LDAP_ERR_NO_OBJECT;
    if (rc != LDAP_SUCCESS) return rc;

    for (LDAPMessage* entry = ldap_first_entry(ld, result.message); entry;
         entry = ldap_next_entry(ld, entry)) {
        char* dn = ldap_get_dn(ld, entry);
        if (!dn) return SG_LDAP_ERR_NO_DN;
        ldap_memfree(dn);
        BerElement* ber = nullptr;
        char* name = ldap_first_attribute(ld, entry, &ber);
        if (ber) ber_free(ber, 0);
        if (!name) return SG_LDAP_ERR_NO_ATTRIBUTE;
        berval** values = ldap_get_values_len(ld, entry, name);
        ldap_memfree(name);
        if (!values) continue;
        const berval* first = values[0];
        // An empty value is as unusable as none.
        if (!first || first->bv_len == 0 || first->bv_len > UINT32_MAX || !first->bv_val) {
            ldap_value_free_len(values);
            continue;
        }
        const int copied =
            SG_GBW(SGBinary_Set)(out, first->bv_val, static_cast<uint32_t>(first->bv_len));
        ldap_value_free_len(values);
        return copied == 0 ? 0 : SG_PKI_ERR_MEMORY;
    }
    // Nothing found is an error, never a success with an empty result.
    return SG_LDAP_ERR_NO_OBJECT;
}

// One read: connect to the URL's host, search once (again without ";binary" when asked), close.
int readAttribute(SGBinary* out, const LdapUrl& url, const std::string& attribute,
                  const char* filter, bool retryWithoutBinary) {
    PipeSignalBlock block;
    SGLDAPContext context{};
    int result = connectTo(&context, url.host, url.host.c_str(), g_connectTimeout.load());
    if (result) return result;
    result = readOneRecord(&context, out, url.baseDn.c_str(), attribute.c_str(), filter);
    if (result == SG_LDAP_ERR_NO_ATTRIBUTE && retryWithoutBinary) {
        // The same attribute as it is stored without the transfer option.
        const std::string plain = withoutBinaryOption(attribute);
        if (!plain.empty())
            result = readOneRecord(&context, out, url.baseDn.c_str(), plain.c_str(), filter);
    }
    disconnect(&context);
    return result;
}

int readWithDefault(SGBinary* out, const char* url, const char* defaultAttribute,
                    const char* filter) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    LdapUrl parts;
    if (int error = splitUrl(parts, url)) return error;
    const std::string attribute = parts.attribute.empty() ? defaultAttribute : parts.attribute;
    return readAttribute(out, parts, attribute, filter, true);
}

}  // namespace

extern "C" {

int SGLDAP_SetTimeout(int seconds) {
    if (seconds < 1) return SG_PKI_ERR_ARGUMENT;
    g_connectTimeout.store(seconds);
    return 0;
}

int SGLDAPContext_Init(SGLDAPContext* context) {
    if (!context) return SG_PKI_ERR_ARGUMENT;
    if (context->marker == SG_LDAP_CONTEXT_MARKER) return SG_LDAP_ERR_MARKED;
    std::memset(context, 0, sizeof *context);
    context->marker = SG_LDAP_CONTEXT_MARKER;
    return 0;
}

int SGLDAP_Connect(SGLDAPContext* context, const char* host, int port, int seconds) {
    if (!context || !host || port < 1 || port > 65535) return SG_PKI_ERR_ARGUMENT;
    char url[512];
    const int n = SG_GBW(SGOS_snprintf)(url, sizeof url, "ldap://%s:%d", host, port);
    if (n < 0 || static_cast<size_t>(n) >= sizeof url) return SG_PKI_ERR_ARGUMENT;
    return SGLDAP_ConnectByURL(context, url, seconds);
}

int SGLDAP_ConnectByURL(SGLDAPContext* context, const char* url, int seconds) {
    if (!context || seconds < 1) return SG_PKI_ERR_ARGUMENT;
    try {
        LdapUrl parts;
        if (int error = splitUrl(parts, url)) return error;
        PipeSignalBlock block;
        return connectTo(context, parts.host, url, seconds);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGLDAP_Disconnect(SGLDAPContext* context) {
    if (!context) return SG_PKI_ERR_ARGUMENT;
    if (context->marker != SG_LDAP_CONTEXT_MARKER) return 0;
    PipeSignalBlock block;
    return disconnect(context);
}

int SGLDAP_ReadOneRecord(SGLDAPContext* context, SGBinary* out, const char* baseDN,
                         const char* attribute, const char* filter) {
    if (!context || context->marker != SG_LDAP_CONTEXT_MARKER || !context->handle || !out ||
        !baseDN || !attribute || !*attribute)
        return SG_PKI_ERR_ARGUMENT;
    PipeSignalBlock block;
    return readOneRecord(context, out, baseDN, attribute, filter);
}

int SGLDAP_ReadCRL(SGBinary* out, const char* url) {
    try {
        return readWithDefault(out, url, "certificateRevocationList;binary", kCrlFilter);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGLDAP_ReadCACertificate(SGBinary* out, const char* url) {
    try {
        return readWithDefault(out, url, "cACertificate;binary", kCaFilter);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGLDAP_ReadEntry(SGBinary* out, const char* url, const char* attribute, const char* filter) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    try {
        LdapUrl parts;
        if (int error = splitUrl(parts, url)) return error;
        std::string name = parts.attribute;
        if (name.empty() && attribute) name = attribute;
        if (name.empty()) return SG_LDAP_ERR_NO_ATTRIBUTE_NAME;
        if (name.size() >= SG_LDAP_ATTRIBUTE_MAX) return SG_PKI_ERR_ARGUMENT;
        return readAttribute(out, parts, name, filter, false);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

}  // extern "C"
