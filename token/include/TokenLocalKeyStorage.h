// Key pairs a token holds only in memory, under random key ids.
#ifndef TOKEN_LOCAL_KEY_STORAGE_H
#define TOKEN_LOCAL_KEY_STORAGE_H

#include <map>
#include <string>

#include "SGBinary.h"
#include "Token.h"
#include "TokenDefs.h"

class TOKEN_EXPORT TokenLocalKeyStorage {
  public:
    TokenLocalKeyStorage() = default;
    TokenLocalKeyStorage(const TokenLocalKeyStorage&) = delete;
    TokenLocalKeyStorage& operator=(const TokenLocalKeyStorage&) = delete;
    // Wipes and releases every pair.
    ~TokenLocalKeyStorage();

    // Stores copies of both keys under a new id (40 upper-case hexadecimal characters from the
    // random generator) and returns the id; an empty id when the pair cannot be stored.
    std::string add(unsigned char* publicKey, unsigned int publicKeyLength,
                    unsigned char* privateKey, unsigned int privateKeyLength);
    std::string add(SGBinary* publicKey, SGBinary* privateKey);
    // The pair of the id, or null.
    LocalKeySet* get(std::string keyId);
    // Wipes, releases and forgets the pair of the id; nothing when it is absent.
    void del(std::string keyId);

  private:
    std::map<std::string, LocalKeySet*> keys;
};

#endif
