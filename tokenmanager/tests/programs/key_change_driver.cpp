// One password change, for the fault tests that run it under strace's fault injection, in a
// file system of its own, or kill it at a chosen system call:
//   token_key_change_driver <base folder> <old password> <new password>
//   token_key_change_driver copy <base folder> <volume folder> <password>
// Lists the home token over the base folder and changes the password of the first certificate
// listed, or copies it with its keys to the volume's disk token under the same password. Prints
// "listed <count>" and, afterwards, "result <code>". Just before the change it writes "change
// begins" to standard error, so a trace shows where the change's own system calls start.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "FileToken.h"

namespace {

// Answers every password request with one password.
class Password : public InputPINHandler {
  public:
    explicit Password(const char* text) : text_(text) {}
    int inputPIN(char* out, TokenType, InputPINPurpose) override {
        std::strncpy(out, text_, 127);
        return 0;
    }
    int inputDoublePin(char* out, TokenType t, InputPINPurpose p) override {
        return inputPIN(out, t, p);
    }
    int inputTriplePin(char*, char*, TokenType, InputPINPurpose) override { return 1; }
    int inputTokenPIN(char*, const char*, TokenType, InputPINPurpose) override { return 1; }

  private:
    const char* text_;
};

}  // namespace

int main(int argc, char** argv) {
    const bool copy = argc == 5 && std::strcmp(argv[1], "copy") == 0;
    if (copy) {
        --argc;
        ++argv;
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s [copy] <base folder> <old password> <new password>\n",
                     argv[0]);
        return 64;
    }
    FileToken token("/", "home");
    token.setPKIDir(argv[1]);
    token.setSystemDrive(true);
    ShortCertificate* rows = nullptr;
    unsigned int count = 0;
    token.getCertificateList(&rows, &count, 0x111, nullptr, nullptr);
    std::printf("\nlisted %u\n", count);
    std::fflush(stdout);
    if (count == 0) return 2;
    const std::string id = rows[0].signCertID;
    Token::freeMemory(rows, 0);

    static const char kMarker[] = "change begins\n";
    if (::write(2, kMarker, sizeof kMarker - 1) < 0) return 3;
    int rc;
    if (copy) {
        FileToken volume("VOLUME", "VOLUME");
        volume.setPKIDir(argv[2]);
        Password password(argv[3]);
        rc = token.copyCertificate(id.c_str(), &password, &volume, 0);
    } else {
        auto* old = reinterpret_cast<unsigned char*>(argv[2]);
        auto* fresh = reinterpret_cast<unsigned char*>(argv[3]);
        rc = token.setCertificatePIN(id.c_str(), old, std::strlen(argv[2]), fresh,
                                     std::strlen(argv[3]));
    }
    std::printf("result %d\n", rc);
    return 0;
}
