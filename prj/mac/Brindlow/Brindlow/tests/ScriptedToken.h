// A medium whose answers a test chooses: one listed certificate (a fixture file), and the
// results of delete, copy and password change, with what the windows passed to them. It stands
// for the media that answer those operations differently from the disk token (the PKCS #12 and
// in-memory tokens, and disk operations that fail), so the windows can be shown every outcome.
// It is registered once in the process's registry; register() gives its id.
#pragma once

#include <QFile>

#include <cstring>

#include <string>
#include <vector>

#include "DesktopTestSupport.h"
#include "Token.h"
#include "TokenManagerUtil.h"
#include "TokenMaster.h"

class ScriptedToken : public Token {
  public:
    static constexpr const char* kItemId = "0123456789ABCDEF0123456789ABCDEF012345671";

    // The one instance, registered on first use; the registry owns it.
    static ScriptedToken& instance() {
        static ScriptedToken* token = [] {
            auto* created = new ScriptedToken;
            TokenMaster* master = TokenManagerUtil::getTokenMaster();
            master->addToken(created);
            created->id = static_cast<uint32_t>(master->nextId - 1);
            return created;
        }();
        return *token;
    }

    // Forgets what was recorded and lists the certificate again.
    void reset() {
        listed = true;
        deleteResult = copyResult = setPinResult = TOKEN_ERR_NOT_SUPPORTED;
        listCalls = 0;
        deletedItems.clear();
        copies.clear();
        pinChanges.clear();
    }

    uint32_t id = 0;
    bool listed = true;
    int deleteResult = TOKEN_ERR_NOT_SUPPORTED;
    int copyResult = TOKEN_ERR_NOT_SUPPORTED;
    int setPinResult = TOKEN_ERR_NOT_SUPPORTED;
    int listCalls = 0;
    std::vector<std::string> deletedItems;
    struct Copy {
        std::string itemId;
        std::string password;  // what the handler gave for the key
        int handlerResult;
        Token* destination;
        unsigned int flags;
    };
    std::vector<Copy> copies;
    struct PinChange {
        std::string itemId, oldPin, newPin;
    };
    std::vector<PinChange> pinChanges;

    int getCertificateList(ShortCertificate** list, unsigned int* count, int, InputPINHandler*,
                           const char*) override {
        ++listCalls;
        *count = listed ? 1 : 0;
        *list = reinterpret_cast<ShortCertificate*>(allocMemory(sizeof(ShortCertificate)));
        if (listed) {
            std::string der = certificate();
            generateShortCertificateFromBinary(*list, reinterpret_cast<unsigned char*>(der.data()),
                                               der.size(), nullptr, 0);
            std::strcpy((*list)->signCertID, kItemId);
        }
        return 0;
    }
    int getCertificate(const char* itemId, unsigned char** der, unsigned long* length) override {
        if (std::string(itemId) != kItemId) return TOKEN_ERR_NO_CERTIFICATE;
        const std::string bytes = certificate();
        *der = duplicateMemory(reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                               bytes.size());
        *length = bytes.size();
        return 0;
    }
    int deleteCertificate(const char* itemId, InputPINHandler* handler) override {
        deletedItems.push_back(itemId);
        if (handler != nullptr) return TOKEN_ERR_INVALID_DATA;  // the window passes none
        if (deleteResult == 0) listed = false;
        return deleteResult;
    }
    int copyCertificate(const char* itemId, InputPINHandler* handler, Token* destination,
                        unsigned int flags) override {
        char buffer[128] = {};
        const int asked = handler != nullptr
                              ? handler->inputPIN(buffer, InputPINHandler::TOKEN_TYPE_DISK,
                                                  InputPINHandler::PURPOSE_EXPORT_KEY)
                              : -1;
        copies.push_back({itemId, buffer, asked, destination, flags});
        return copyResult;
    }
    int setCertificatePIN(const char* itemId, unsigned char* oldPin, unsigned long oldLength,
                          unsigned char* newPin, unsigned long newLength) override {
        pinChanges.push_back({itemId, std::string(reinterpret_cast<char*>(oldPin), oldLength),
                              std::string(reinterpret_cast<char*>(newPin), newLength)});
        return setPinResult;
    }

    // Everything else is not supported here.
    int initToken(unsigned char*, unsigned long, unsigned char*) override { return no(); }
    int setPIN(unsigned char*, unsigned long, unsigned char*, unsigned long) override {
        return no();
    }
    int verifyPin(const char*, unsigned char*, unsigned long) override { return no(); }
    int finalizeToken() override { return 0; }
    int getTokenGrade() override { return 0; }
    int getTokenStatus() override { return 0; }
    int getPrivateKey(const char*, unsigned char**, unsigned long*, InputPINHandler*) override {
        return no();
    }
    int getPath(const char*, unsigned char**, unsigned long*) override { return no(); }
    int changeCertificatePIN(const char*, InputPINHandler*) override { return no(); }
    int importEncryptedPrivateKeyInfo(unsigned char*, unsigned long, unsigned char*, unsigned long,
                                      unsigned char*, unsigned long, unsigned char*, unsigned long,
                                      InputPINHandler*) override {
        return no();
    }
    int importInit(unsigned char*, unsigned long, InputPINHandler*,
                   InputPINHandler::InputPINPurpose) override {
        return no();
    }
    using Token::import;
    int import(unsigned char*, unsigned long, unsigned char*, unsigned long, unsigned char*,
               unsigned long, unsigned char*, unsigned long, unsigned int, const bool&) override {
        return no();
    }
    int importCAPubs(unsigned char*, unsigned long) override { return no(); }
    int setTokenOptions(void*) override { return no(); }
    int getVIDRandom(unsigned char**, unsigned long*, InputPINHandler*, const char*) override {
        return no();
    }
    int getKMID(char**, char**, const char*) override { return no(); }
    int certificateSynchronize(const char*, unsigned char*, unsigned long, unsigned char*,
                               unsigned long) override {
        return no();
    }
    int generateSignatureRAW(unsigned char*, unsigned long*, InputPINHandler*, unsigned char*,
                             unsigned long, const char*, const char*,
                             TokenGenerateSignatureParameters*) override {
        return no();
    }

  private:
    ScriptedToken() : Token("scripted", "SCRIPTED", InputPINHandler::TOKEN_TYPE_DISK) {}
    static int no() { return TOKEN_ERR_NOT_SUPPORTED; }
    static std::string certificate() {
        QFile file(QString::fromStdString(brindlow::test::fixturePath("full.der")));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return file.readAll().toStdString();
    }
};
