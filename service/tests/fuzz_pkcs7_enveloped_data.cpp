// Fuzz target of EnvelopedData opening: SGPKCS7EnvelopedData_Deenvelope over the input as a
// ContentInfo and as a bare EnvelopedData with each recipient-key kind (the RSA key of
// data/enveloped_recipient.key, the password "q1w2e3r4!@", the KEK 000102..0F), checking that a
// failure leaves the caller's buffer and parameters as they were and that a success hands back
// a content key of the cipher's length; then the stream opening over the same bytes, whose
// output must equal the in-memory opening's when both succeed. A normal test
// (FuzzPKCS7EnvelopedDataTest) runs it over data/fuzz_pkcs7_enveloped_data; built with clang and
// BRINDLOW_FUZZ it is a libFuzzer executable.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SGBinary.h"
#include "SGCryptoHandler.h"
#include "SGPKCS7EnvelopedData.h"
#include "SGServiceTable.h"
#include "SGStream.h"

namespace {

// DER RSAPrivateKey of data/enveloped_recipient.key (1024 bits: test material only).
const char kRecipientKeyHex[] =
    "3082025c02010002818100b68520dde7604e53443d259d629757a25750260182dedce3613c63626e3deba1453378a5"
    "9a"
    "1a3bc44d3328b1d90a29f502fde442a32df295225865bb30acd63aaa057179b287873579a730eb592217f968de8910"
    "61"
    "a1d84c2a1c606e98f9d17485a71a57926fbd1903591ed99c2701cb6fa393f0f69bfa1489834a1139c7dcc702030100"
    "01"
    "02818003e8fe3742c9b163df466013eb14caefd36708296820562318e62e4ae189ba0e8e68f7e0b458738755100f83"
    "1f"
    "df33dee7dd80925ce49319d6ce85ff689f8b475523518b712e8abc20c356f80712a304a6f8f42857b4a1b0148ac9d3"
    "0f"
    "1a21f1a4cbc1e10e74256ecd13e70ccb3bc01eda595213cf04750b97fd6f66a487f101024100f1b40a8fe331f10782"
    "2b"
    "b01a575cc3b0a9ca3694285ef8dd8acc8aa13c908910eb1fe11670ba80a5518b5a38e1a00f03e4d2253cfd1b899a56"
    "4f"
    "23e5ea44b2a1024100c150e9b12739284a80b240bfdc16a27424e512cbbf487416b1c073bbb0119217fb468db5c421"
    "ed"
    "dfe8bdb2ff20894112f19fc25f2bc72ca3957a46f9ba413e67024100c51b8305864ce2f7b192f920f21fa74279a47b"
    "4f"
    "e58055c92d78d290dcb82ddf0b2fcb3aa6a1a169b00f497b5b9c50c267276cd0c8c45d39ecaacb66a2de7521024054"
    "69"
    "8971c2a7d1b11e9b376ccfa4ce911a9f3062e986b0b24c31b617899d5286c8411995fa2bba9c201bdd724bf9c3018b"
    "a2"
    "701470a04b1caf23b2a44f31381702406512c7b13c8effc1c50f6bc01d69f522f1fe89eaa32a438695c1a349b3ad18"
    "6e"
    "3e75f4b11312bd5421003aca1814459caa50732f489325d7412d623d6b1a5c0b";

std::string unhex(const char* text) {
    std::string out;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(text + i, 2), nullptr, 16)));
    return out;
}

SGCryptoHandlerKey keyOf(int type, const std::string& bytes) {
    SGCryptoHandlerKey k{};
    k.type = type;
    k.form.key.der = reinterpret_cast<const unsigned char*>(bytes.data());
    k.form.key.length = static_cast<uint32_t>(bytes.size());
    return k;
}

void openOnce(const SGBinary* in, const SGCryptoHandlerKey& key, int flags) {
    static unsigned char sentinel[] = {'k', 'e', 'p', 't'};
    SGBinary content{};
    SGBinary_Set(&content, sentinel, sizeof sentinel);
    SGPKCS7EnvelopedDataParameters p{};
    p.flags = flags | SG_PKCS7_ENVELOPE_RETURN_KEY;
    const int r = SGPKCS7EnvelopedData_Deenvelope(&content, in, &key, &p, nullptr, nullptr);
    if (r != 0) {
        if (content.length != sizeof sentinel ||
            std::memcmp(content.data, sentinel, sizeof sentinel) != 0 || p.key)
            abort();
    } else {
        const uint32_t k = p.key ? p.key->length : 0;
        if (k != 8 && k != 16 && k != 24 && k != 32) abort();
    }
    // The stream opening: on success the same content as in memory.
    SGBinary input{}, output{};
    SGBinary_Set(&input, in->data, in->length);
    SGStream source{}, sink{};
    SGStream_InitWithBinary(&source, &input);
    SGStream_InitWithBinary(&sink, &output);
    SGPKCS7EnvelopedDataParameters q{};
    q.flags = flags;
    q.chunkSize = 64;
    // It reads by position and checks less of the structure than the decoder, so it may open
    // what the decoder refuses; when both open, they agree.
    if (SGPKCS7EnvelopedData_DeenvelopeStream(&sink, &source, &key, &q) == 0 && r == 0 &&
        (output.length != content.length ||
         (output.length && std::memcmp(output.data, content.data, output.length) != 0)))
        abort();
    SGStream_Reset(&source);
    SGStream_Reset(&sink);
    SGBinary_Reset(&input);
    SGBinary_Reset(&output);
    SGPKCS7EnvelopedDataParameters_Reset(&p);
    SGBinary_Reset(&content);
}

}  // namespace

extern "C" int SGFuzzPKCS7EnvelopedData(const uint8_t* data, size_t size) {
    static const int ready = SGServiceWrapper_GetList(Service);
    (void)ready;
    if (size == 0 || size > UINT32_MAX) return 0;
    static const std::string rsa = unhex(kRecipientKeyHex);
    static const std::string password = "q1w2e3r4!@";
    static const std::string kek = unhex("000102030405060708090A0B0C0D0E0F");
    const SGBinary in{const_cast<uint8_t*>(data), static_cast<uint32_t>(size)};
    for (int flags : {0, static_cast<int>(SG_PKCS7_ENVELOPE_BARE)}) {
        openOnce(&in, keyOf(SG_CRYPTO_HANDLER_RSA_KEY, rsa), flags);
        openOnce(&in, keyOf(SG_PKCS7_RECIPIENT_KEY_PASSWORD, password), flags);
        openOnce(&in, keyOf(SG_PKCS7_RECIPIENT_KEY_KEK, kek), flags);
    }
    return 0;
}

#ifdef BRINDLOW_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return SGFuzzPKCS7EnvelopedData(data, size);
}
#endif
