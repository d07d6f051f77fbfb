// A scripted certification authority on 127.0.0.1 for the CMP client's tests: it reads the
// client's frames and answers each with what the test's script gives (a reply built by hand,
// a raw frame, a close or silence), keeping every request for the test to check. Signatures,
// certificates and encryption come from the openssl command line.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TestKit.h"
#include "X509TestUtil.h"

namespace cmptest {

using Bytes = std::vector<unsigned char>;
using namespace x509test;

struct Step {
    enum Action { kReply, kRaw, kClose, kSilent };
    Action action = kReply;
    // The reply's DER (kReply) or the whole frame (kRaw), made from the request just read.
    std::function<Bytes(const Bytes& request)> make;
    unsigned char flag = 0;
};

inline Step reply(std::function<Bytes(const Bytes&)> make, unsigned char flag = 0) {
    return Step{Step::kReply, std::move(make), flag};
}
inline Step raw(Bytes frame) {
    return Step{Step::kRaw, [frame](const Bytes&) { return frame; }, 0};
}
inline Step closeAfterRead() {
    return Step{Step::kClose, nullptr, 0};
}
inline Step silent() {
    return Step{Step::kSilent, nullptr, 0};
}

inline Bytes frame(const Bytes& der, unsigned char flag) {
    const uint32_t n = static_cast<uint32_t>(der.size()) + 1;
    Bytes out{static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
              static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n), flag};
    out.insert(out.end(), der.begin(), der.end());
    return out;
}

class ScriptedCA {
  public:
    explicit ScriptedCA(std::vector<Step> script) : script_(std::move(script)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listen_, 1);
        socklen_t length = sizeof address;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedCA() {
        if (thread_.joinable()) thread_.join();
        ::close(listen_);
    }
    int port() const { return port_; }
    // The requests read, in order; valid once the client's call has returned.
    const std::vector<Bytes>& requests() {
        if (thread_.joinable()) thread_.join();
        return requests_;
    }
    // Whatever went wrong on the authority's side (an empty text when nothing did).
    const std::string& failure() {
        if (thread_.joinable()) thread_.join();
        return failure_;
    }

  private:
    static bool readAll(int fd, unsigned char* p, size_t n) {
        while (n > 0) {
            pollfd w{fd, POLLIN, 0};
            if (::poll(&w, 1, 20000) <= 0) return false;
            const ssize_t r = ::recv(fd, p, n, 0);
            if (r <= 0) return false;
            p += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    }

    void serve() {
        pollfd w{listen_, POLLIN, 0};
        if (::poll(&w, 1, 20000) <= 0) return;
        const int fd = ::accept(listen_, nullptr, nullptr);
        if (fd < 0) return;
        for (Step& step : script_) {
            unsigned char head[5];
            if (!readAll(fd, head, 5)) break;
            const uint32_t n = uint32_t{head[0]} << 24 | uint32_t{head[1]} << 16 |
                               uint32_t{head[2]} << 8 | head[3];
            if (head[4] != 0 || n == 0) failure_ += "bad request frame; ";
            Bytes der(n - 1);
            if (!readAll(fd, der.data(), der.size())) break;
            requests_.push_back(der);
            if (step.action == Step::kClose) break;
            if (step.action == Step::kSilent) {
                unsigned char b;
                readAll(fd, &b, 1);  // until the client gives up and closes
                break;
            }
            Bytes out;
            try {
                out = step.make(der);
            } catch (const std::exception& e) {
                failure_ += e.what();
                failure_ += "; ";
            }
            if (step.action == Step::kReply) out = frame(out, step.flag);
            saveSeed(out);
            ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        }
        ::close(fd);
    }

    // With BRINDLOW_CMP_SEED_DIR set, every reply frame is kept there as a fuzzing seed.
    static void saveSeed(const Bytes& out) {
        const char* folder = std::getenv("BRINDLOW_CMP_SEED_DIR");
        if (!folder || out.empty()) return;
        static int number = 0;
        testkit::writeBytes(
            std::filesystem::path(folder) / ("scripted_" + std::to_string(++number) + ".bin"), out);
    }

    std::vector<Step> script_;
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::vector<Bytes> requests_;
    std::string failure_;
};

}  // namespace cmptest
