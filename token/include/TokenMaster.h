// The registry of the process's certificate media: it creates the tokens, numbers them from 0
// and hands them out by id. Built once, when it is created: the home-folder token (id 0), one
// token per entry of the mount folders at that moment, then the PKCS #12 file token and the
// in-memory NPKI token. Main thread only.
#ifndef TOKEN_MASTER_H
#define TOKEN_MASTER_H

#include <list>
#include <map>
#include <string>

#include "TokenDefs.h"

class Logger;
class Token;

class TOKEN_EXPORT TokenMaster {
  public:
    using TokenMap = std::map<unsigned long, Token*>;

    TokenMaster();
    ~TokenMaster();
    TokenMaster(const TokenMaster&) = delete;
    TokenMaster& operator=(const TokenMaster&) = delete;

    // Rebuilds the token list; true.
    bool refresh();
    // Unregisters every token (destroying all but the in-memory NPKI token) and restores the
    // default media settings.
    void clear();
    void initTokenFilter();
    // Reads the media configuration file of the other program variant.
    int loadConfig();
    int loadTempConfig();

    void registerFileToken();
    void registerPFXFileToken();
    void registerPFXNPKIToken();
    void registerKSToken();
    void registerSmartCardToken();
    void registerUbikeyToken();
    void registerMobiSignToken();
    void registerUSBKeyToken();
    void registerNPKIPKCS11Token();

    // Stores the token under the next id; a null token is ignored.
    void addToken(Token* token);
    // 0 and the token, or 1334 (out unchanged).
    int getToken(unsigned int id, Token** out);
    // The first entry and the end of the token map (either output may be null); the number of
    // tokens.
    int getTokenList(TokenMap::iterator* begin, TokenMap::iterator* end);
    void removeToken(unsigned int id);
    // The first token named "SecureDisk"; out unchanged when none. Always 0.
    int getSoftToken(Token** out);
    std::list<std::string> getSmartCardList();
    // 1 when the reader name occurs in an allowed entry, 2 in a denied one, 3 otherwise.
    int smartcardFilter(char* readerName);
    bool tokenRefresh();

    Logger* logger;
    // Media flags; only removable and pfxFile change what is registered.
    bool removable;
    bool hsm;
    bool icCard;
    bool pfxFile;
    bool remote;
    bool usbKey;
    bool cdRom;
    std::map<std::string, std::string> smartCardCache;
    TokenMap tokens;
    unsigned long nextId;
    std::list<std::string> allowList;
    std::list<std::string> denyList;
    std::string mediaList;
    std::string mediaAPI;

  private:
    // Destroys a registered token, except the process-wide in-memory NPKI token.
    static void releaseToken(Token* token);
};

#endif
