// Internal to the PKI library: the CMP client's context, its transport and protection, and the
// message building and reading that the client runs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "SGCMP.h"

namespace brindlow::service::cmp {

using Bytes = std::vector<unsigned char>;

// Overwrites the bytes before they are released.
void wipe(Bytes& bytes);
void wipe(std::string& text);

// Bytes that are wiped when they go.
struct Secret {
    Bytes bytes;
    Secret() = default;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { wipe(bytes); }
};

enum Operation { kIssue = 1, kUpdate = 2, kRevoke = 3, kRecover = 4 };

enum State {
    kGenmToSend = 1,
    kGenpExpected = 2,
    kIrToSend = 3,
    kIpExpected = 4,
    kKurToSend = 5,
    kKupExpected = 6,
    kRrToSend = 7,
    kRpExpected = 8,
    kKrrToSend = 9,
    kKrpExpected = 10,
    kConfToSend = 20,
    kDone = 100,
    kErrorReceived = 999
};

// Reply frame flags.
enum { kFlagFinal = 3, kFlagError = 6, kFlagMax = 6 };

// A reply frame's DER may not exceed this.
constexpr uint32_t kMaxReply = 1024u * 1024u;

struct KeyPair {
    Bytes publicKey;   // RSAPublicKey DER
    Bytes privateKey;  // RSAPrivateKey DER
    ~KeyPair() { wipe(privateKey); }
};

// One request sent: its certReqId and the public key it asked to be certified.
struct Requested {
    long id;
    Bytes publicKey;
    int keyIndex;
    bool answered = false;
};

struct SGCMPContext {
    int caKind = 0;
    int operation = 0;
    int state = 0;
    int keySize = 2048;
    int signatureOid = 12;  // sha256WithRSAEncryption
    int sha256 = 1;
    SGCMPKeyCallbacks callbacks{};
    bool builtInKeys = false;
    SGCMPCommunication connection{};
    int regInfoMarker = 0, lowerSpec = 0, shortUpdate = 0, oldKey = 0, makeKM = 0;
    int singleKey = 0;
    std::string referenceNumber;
    Secret authorizationCode;
    int pkiStatus = 0;
    std::vector<std::string> statusTexts;
    long failInfo = 0;
    std::vector<std::pair<std::string, std::string>> settings;
    std::vector<KeyPair> keys;     // built-in pairs, index 0 first
    std::vector<KeyPair> oldPair;  // the old certificate's key and the first old private key
    Bytes caProtectionCertificate;
    Bytes caEncryptionCertificate;
    std::vector<Bytes> caCertificates;
    std::vector<Bytes> issued;
    Secret vidRandom;
    bool generateKM = false;
    bool noConfirmation = false;
    bool confirmed = false;  // a conf went out
    std::string senderName;
    std::string recipientName;
    Bytes senderKID, recipKID, senderNonce;
    std::vector<std::string> freeText;
    std::vector<Bytes> oldCertificates;
    std::vector<Secret*> oldPrivateKeys;
    int reason = 0;
    long errorCode = 0;
    std::vector<Requested> requested;
    // Revoke: the authority certificate a reply may be signed with, once it passed validation.
    Bytes revokeAuthority;
    ~SGCMPContext();
};

// --- Transport and protection ---------------------------------------------------------------

int SGCMPCommunication_Open(SGCMPCommunication* connection);
int SGCMPCommunication_Close(SGCMPCommunication* connection);
int SGCMPCommunication_SendRequest(const Bytes& der, SGCMPCommunication* connection);
int SGCMPCommunication_RecvResponse(Bytes& der, SGCMPCommunication* connection);

// The 8-byte MAC of the protected part, keyed from prefix and code.
int SGCMPProtection_CalculatePBMAC(Bytes& mac, const char* prefix, const Bytes& code,
                                   int iterations, int digestId, int cipherId,
                                   const Bytes& protectedPart);
int SGCMPProtection_GenerateSignature(Bytes& signature, const Bytes& protectedPart, int keyIndex,
                                      int sha256Flag, const SGCMPKeyCallbacks& callbacks);
int SGCMPProtection_VerifySignature(const Bytes& signature, const Bytes& protectedPart,
                                    const Bytes& certificate, int digestId);

// Whether the certificate leads to a trusted root of the user's NPKI storage.
bool SGCMP_IsTrustedAuthority(const Bytes& certificate);
// The issuer of the certificate among those of the user's NPKI storage (empty when none).
Bytes SGCMP_IssuerInStorage(const Bytes& certificate);

// --- Messages ----------------------------------------------------------------------------------

// Builds the request of the context's state, protected, and moves the state on.
int SGCMPASN_BuildRequest(Bytes& der, SGCMPContext& context);
// Reads a reply: protection, header, body by the state. Moves the state on.
int SGCMPASN_ReadReply(SGCMPContext& context, const Bytes& der, int flag);

// Serial number of a certificate as text: decimal, or hexadecimal.
std::string serialText(const Bytes& serialContents, bool hexadecimal);

}  // namespace brindlow::service::cmp
