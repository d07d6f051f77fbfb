// Fuzz target of the CMP client's reply reading: the frame is read from a socket the way the
// client reads it, and its DER is read as the reply of each state that waits for one (genp,
// ip, kup, krp, rp), for issue and for revoke, with the checks of protection, pairing and
// decryption. The result must be a code, never a crash, and a reply that was accepted must
// have moved the state on. A normal test (FuzzCMPReplyTest) runs it over data/fuzz_cmp_reply;
// built with clang and BRINDLOW_FUZZ it is a libFuzzer executable.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "SGCMPInternal.h"
#include "SGServiceTable.h"

namespace {

namespace cmp = brindlow::service::cmp;

int decryptEight(SGBinary* out, SGBinary*, int, void*) {
    static const unsigned char key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    return SGBinary_Set(out, key, 8) == 0 ? 0 : 1;
}

// The frame through a socket pair whose writing end is closed, so a short frame ends at once.
bool readFrame(cmp::Bytes& der, int& flag, const uint8_t* data, size_t size) {
    int fds[2];
    if (size > 100000 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return false;
    int sent = 1 << 20;
    ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sent, sizeof sent);
    const bool written = size == 0 || ::send(fds[1], data, size, MSG_NOSIGNAL) == ssize_t(size);
    ::close(fds[1]);
    SGCMPCommunication connection{};
    connection.socket = fds[0];
    connection.receiveTimeout = 1;
    const int r = written ? cmp::SGCMPCommunication_RecvResponse(der, &connection) : -1;
    ::close(fds[0]);
    if (r == 0 && der.size() + 5 > size) abort();  // more bytes than were sent
    flag = connection.lastFlag;
    return r == 0;
}

}  // namespace

extern "C" int SGFuzzCMPReply(const uint8_t* data, size_t size) {
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    cmp::Bytes der;
    int flag = 0;
    if (!readFrame(der, flag, data, size) || der.empty()) return 0;
    static const int states[] = {cmp::kGenpExpected, cmp::kIpExpected, cmp::kKupExpected,
                                 cmp::kKrpExpected, cmp::kRpExpected};
    for (int state : states) {
        cmp::SGCMPContext c;
        c.caKind = 1;
        c.operation = state == cmp::kRpExpected    ? cmp::kRevoke
                      : state == cmp::kKupExpected ? cmp::kUpdate
                      : state == cmp::kKrpExpected ? cmp::kRecover
                                                   : cmp::kIssue;
        c.state = state;
        c.connection.socket = -1;
        c.callbacks.decrypt = decryptEight;
        const char code[] = "Auth-Code-77";
        c.authorizationCode.bytes.assign(code, code + sizeof code - 1);
        c.requested.push_back(cmp::Requested{0, cmp::Bytes(140, 0x30), 0});
        c.requested.push_back(cmp::Requested{1, cmp::Bytes(140, 0x31), 1});
        c.oldCertificates.push_back(cmp::Bytes{0x30, 0x00});
        const int r = cmp::SGCMPASN_ReadReply(c, der, flag);
        if (r == 0 && c.state == state) abort();
    }
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzCMPReply(data, size);
}
#endif
