#include "TokenMaster.h"

#include <cjson/cJSON.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "FileToken.h"
#include "Logger.h"
#include "MountFolders.h"
#include "PFXNPKIToken.h"
#include "Platform.h"
#include "SGOS.h"
#include "TokenLog.h"
#include "TokenTables.h"
#include "Util.h"

namespace {

constexpr const char* kDiskKind = "DISK DRIVE";
constexpr const char* kPFXNPKIKind = "PFX NPKI";
constexpr const char* kHomeTokenName = "사용자 홈";
constexpr const char* kConfigFile = "/Library/Preferences/NPKI/Lindsign/config.json";

constexpr const char* kDefaultAllow[] = {"JAEIK CSR", "SCT SPK2032",
                                         "KDE Inc. SmartCard Reader ST-3400"};
constexpr const char* kDefaultDeny[] = {"AKS", "Rainbow Technologies iKey", "Samsung Wibro",
                                        "ZETK ZSAFE", "AKS ifdh 0"};
constexpr const char* kDefaultMediaList = "KSCSKey.dll;skmagerapi.dll";
constexpr const char* kDefaultMediaAPI = "skmagerapi.dll";

bool beginsWith(const cJSON* item, const char* prefix) {
    return cJSON_IsString(item) && item->valuestring &&
           std::strncmp(item->valuestring, prefix, 2) == 0;
}

// A text key sets its flag; an absent key, or one that is not a text, leaves it.
void applyFlag(const cJSON* object, const char* key, bool& flag) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
    if (cJSON_IsString(item)) flag = beginsWith(item, "on");
}

void appendTexts(const cJSON* object, const char* key, std::list<std::string>& out) {
    const cJSON* array = cJSON_GetObjectItemCaseSensitive(object, key);
    if (!cJSON_IsArray(array)) return;
    const cJSON* element = nullptr;
    cJSON_ArrayForEach(element, array) {
        if (cJSON_IsString(element) && element->valuestring) out.emplace_back(element->valuestring);
    }
}

std::string textOr(const cJSON* object, const char* key, const char* fallback) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
    return cJSON_IsString(item) && item->valuestring ? item->valuestring : fallback;
}

}  // namespace

TokenMaster::TokenMaster()
    : logger(Logger::getInstance(LOGGER_TYPE_TOKEN)),
      removable(true),
      hsm(true),
      icCard(true),
      pfxFile(true),
      remote(true),
      usbKey(false),
      cdRom(false),
      nextId(0) {
    // A build that fails half-way releases the tokens it made before the exception leaves.
    try {
        refresh();
    } catch (...) {
        clear();
        throw;
    }
}

TokenMaster::~TokenMaster() {
    clear();
}

void TokenMaster::releaseToken(Token* token) {
    // The in-memory NPKI token is process-wide: the registry only refers to it.
    if (token && std::strncmp(token->kind, kPFXNPKIKind, sizeof token->kind) != 0) delete token;
}

bool TokenMaster::refresh() {
    TOKEN_DEBUG(logger, "TokenMaster refresh start");
    clear();
    if (getProgramName() == 1) loadConfig();
    TOKEN_DEBUG(logger, "TokenMaster registring fileToken.");
    registerFileToken();
    TOKEN_DEBUG(logger, "TokenMaster registring KSToken.");
    registerKSToken();
    TOKEN_DEBUG(logger, "TokenMaster registring NPKI PKCS11Token.");
    registerNPKIPKCS11Token();
    TOKEN_DEBUG(logger, "TokenMaster registring UbikeyToken.");
    registerUbikeyToken();
    TOKEN_DEBUG(logger, "TokenMaster registring PFXFileToken.");
    registerPFXFileToken();
    TOKEN_DEBUG(logger, "TokenMaster registring PFXNPKIToken.");
    registerPFXNPKIToken();
    TOKEN_DEBUG(logger, "TokenMaster refresh done");
    return true;
}

void TokenMaster::clear() {
    smartCardCache.clear();
    for (auto it = tokens.begin(); it != tokens.end();) {
        TOKEN_DEBUG(logger, "%s clear start(%s)", "TokenMaster", it->second->name);
        releaseToken(it->second);
        it = tokens.erase(it);
        TOKEN_DEBUG(logger, "%s clear end", "TokenMaster");
    }
    nextId = 0;
    allowList.clear();
    denyList.clear();
    initTokenFilter();
}

void TokenMaster::initTokenFilter() {
    removable = hsm = icCard = pfxFile = remote = true;
    usbKey = cdRom = false;
    allowList.insert(allowList.end(), std::begin(kDefaultAllow), std::end(kDefaultAllow));
    denyList.insert(denyList.end(), std::begin(kDefaultDeny), std::end(kDefaultDeny));
}

int TokenMaster::loadConfig() {
    hsm = icCard = pfxFile = remote = usbKey = false;

    const std::string path = brindlow::platform::homeDirectory() + kConfigFile;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        removable = hsm = remote = true;
        icCard = usbKey = false;
        return 0;
    }
    // Lines are joined without separators.
    std::string text;
    for (std::string line; std::getline(in, line);) text += line;
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> root(cJSON_Parse(text.c_str()), cJSON_Delete);
    if (!root) {
        removable = hsm = icCard = remote = true;
        usbKey = cdRom = false;
        return 0;
    }

    if (const cJSON* media = cJSON_GetObjectItemCaseSensitive(root.get(), "MediaConf")) {
        applyFlag(media, "Removable", removable);
        if (const cJSON* item = cJSON_GetObjectItemCaseSensitive(media, "HSM");
            cJSON_IsString(item))
            hsm = beginsWith(item, "in") || beginsWith(item, "on");
        applyFlag(media, "ICCard", icCard);
        applyFlag(media, "Remote", remote);
        applyFlag(media, "CDRom", cdRom);
        applyFlag(media, "USBKey", usbKey);
    }
    if (const cJSON* filter = cJSON_GetObjectItemCaseSensitive(root.get(), "ICCardFilter")) {
        appendTexts(filter, "AllowList", allowList);
        appendTexts(filter, "DenyList", denyList);
    }
    if (const cJSON* usb = cJSON_GetObjectItemCaseSensitive(root.get(), "USBKeyFilter");
        usbKey && cJSON_IsObject(usb)) {
        mediaList = textOr(usb, "MediaList", kDefaultMediaList);
        mediaAPI = textOr(usb, "MediaAPI", kDefaultMediaAPI);
    }
    return 0;
}

int TokenMaster::loadTempConfig() {
    return 0;
}

void TokenMaster::registerFileToken() {
    std::printf("%s -begin\n", "addHomeFileToken");
    auto home = std::make_unique<FileToken>("/", kHomeTokenName);
    home->setPKIDir(brindlow::platform::homeDirectory() + "/Library/Preferences");
    home->setSystemDrive(true);
    addToken(home.release());

    if (!removable) return;
    // Every visible entry of the mount folders is a medium; its type is not examined.
    for (const std::string& folder : brindlow::platform::mountFolders()) {
        SGOSDir* dir = TM_BASE(SGOS_opendir)(folder.c_str());
        if (!dir) continue;
        for (;;) {
            SGOSDirEntry entry{};
            SGOSDirEntry* result = nullptr;
            if (TM_BASE(SGOS_readdir_r)(dir, &entry, &result) != 0 || !result) break;
            const std::string name(entry.name, ::strnlen(entry.name, sizeof entry.name));
            if (name.empty() || name[0] == '.') continue;
            std::printf("entry(%s)\n", name.c_str());
            auto volume = std::make_unique<FileToken>(name.c_str(), name.c_str());
            volume->setPKIDir(folder + "/" + name);
            addToken(volume.release());
        }
        TM_BASE(SGOS_closedir)(dir);
    }
}

// The PKCS #12 file token and the in-memory NPKI token join the registry here once their kinds
// exist; until then these two register nothing.
void TokenMaster::registerPFXFileToken() {}

void TokenMaster::registerPFXNPKIToken() {
    addToken(PFXNPKIToken::getInstance());
}

void TokenMaster::registerKSToken() {}

void TokenMaster::registerSmartCardToken() {}

void TokenMaster::registerUbikeyToken() {}

void TokenMaster::registerMobiSignToken() {}

void TokenMaster::registerUSBKeyToken() {}

void TokenMaster::registerNPKIPKCS11Token() {}

void TokenMaster::addToken(Token* token) {
    if (!token) return;
    // A token that cannot be stored would be lost: the registry owns what it is given.
    try {
        tokens.emplace(nextId, token);
    } catch (...) {
        releaseToken(token);
        throw;
    }
    ++nextId;
}

int TokenMaster::getToken(unsigned int id, Token** out) {
    const auto it = tokens.find(id);
    if (it == tokens.end()) {
        TOKEN_FATAL(logger, "%s - register KSToken tokenName...(%d)().", "getToken",
                    TOKEN_ERR_NO_TOKEN);
        return TOKEN_ERR_NO_TOKEN;
    }
    if (out) *out = it->second;
    return 0;
}

int TokenMaster::getTokenList(TokenMap::iterator* begin, TokenMap::iterator* end) {
    if (begin) *begin = tokens.begin();
    if (end) *end = tokens.end();
    return static_cast<int>(tokens.size());
}

void TokenMaster::removeToken(unsigned int id) {
    const auto it = tokens.find(id);
    if (it == tokens.end()) return;
    releaseToken(it->second);
    tokens.erase(it);
}

int TokenMaster::getSoftToken(Token** out) {
    for (const auto& [id, token] : tokens) {
        if (std::strcmp(token->name, "SecureDisk") == 0) {
            if (out) *out = token;
            break;
        }
    }
    return 0;
}

std::list<std::string> TokenMaster::getSmartCardList() {
    return {};
}

int TokenMaster::smartcardFilter(char* readerName) {
    const std::string name = readerName ? readerName : "";
    for (const auto& entry : allowList) {
        if (entry.find(name) != std::string::npos) {
            TOKEN_DEBUG(logger, "[%s] - AllowList have card name", name.c_str());
            return 1;
        }
    }
    for (const auto& entry : denyList) {
        if (entry.find(name) != std::string::npos) {
            TOKEN_DEBUG(logger, "[%s] - DenyList have card name", name.c_str());
            return 2;
        }
    }
    return 3;
}

bool TokenMaster::tokenRefresh() {
    for (auto it = tokens.begin(); it != tokens.end();) {
        Token* token = it->second;
        if (std::strncmp(token->kind, kDiskKind, std::strlen(kDiskKind)) == 0 &&
            token->getTokenStatus() != 0) {
            releaseToken(token);
            it = tokens.erase(it);
        } else {
            token->finalizeToken();
            ++it;
        }
    }
    return true;
}
