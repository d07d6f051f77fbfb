#include "SGDaemonConfig.h"

#include <cjson/cJSON.h>
#include <errno.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "Bundle.h"
#include "Platform.h"
#include "SGDaemonInternal.h"

using namespace sgdaemon;

extern "C" SG_EXPORT SGDaemonExopt aSGDaemon_Exopt;
SGDaemonExopt aSGDaemon_Exopt;

namespace {

std::atomic<SGDaemonConfig*> gConfig{nullptr};

// The built-in values of the two editions.
struct Edition {
    const char* folder;      // below $HOME/Library
    const char* jsonFile;    // in the conf folder
    const char* jsonObject;  // the object of the JSON file
    int port;
    const char* marker;      // in $HOME/Library: log everything
    const char* configfile;  // handed to the module's Init
    const char* bundle;      // module bundle among the application's resources
};
constexpr Edition kFirstEdition{"Brindlow",
                                "tovelconf.json",
                                "Tovel",
                                14461,
                                "Brindlow.TovelCake",
                                "tovelservice.json",
                                "TovelSecurityService.bundle"};
constexpr Edition kSecondEdition{"Wyncote",
                                 "rennick.json",
                                 "Rennick",
                                 14098,
                                 "wyncote.rennick",
                                 "rennick.json",
                                 "RennickSecurityService.bundle"};
constexpr char kSecondEditionProduct[] = "WyncoteService";

constexpr char kAddress[] = "127.0.0.1";
constexpr char kLogPrefix[] = "vorn";
constexpr char kServiceName[] = "TovelService";
constexpr char kModuleName[] = "SGstorage";
constexpr int kServiceTimeout = 10;
constexpr int kThreadCount = 10;
constexpr int kStackSize = -1;
constexpr int kMaxPoolSize = 100;
constexpr int kLevelAll = 32;

struct LevelName {
    const char* name;
    int level;
};
constexpr LevelName kLevelNames[] = {
    {"FATAL", 1}, {"ERROR", 2}, {"WARNING", 4}, {"INFO", 8}, {"DEBUG", 16}};

// The given text is compared over its own length, so "", "f" and "deb" name levels too.
int levelFromName(const char* text) {
    const uint32_t n = SGB(SGOS_strlen)(text);
    for (const LevelName& entry : kLevelNames)
        if (SGB(SGOS_strncasecmp)(entry.name, text, n) == 0) return entry.level;
    return 0;
}

bool isString(const cJSON* item) {
    return item && (item->type & 0xFF) == cJSON_String && item->valuestring;
}
bool isNumber(const cJSON* item) {
    return item && (item->type & 0xFF) == cJSON_Number;
}
bool isObject(const cJSON* item) {
    return item && (item->type & 0xFF) == cJSON_Object;
}

cJSON* member(cJSON* object, const char* name) {
    return object ? SGB(SGConfig_JsonGetObjectItem)(object, name) : nullptr;
}

int intMember(cJSON* object, const char* name) {
    cJSON* item = member(object, name);
    return isNumber(item) ? item->valueint : 0;
}

// Frees the tree (wiping its strings) when the scope ends.
struct JsonTree {
    cJSON* root;
    ~JsonTree() {
        if (root) SGB(SGConfig_JsonDelete)(root);
    }
};

bool setString(char*& field, const char* value) {
    char* copy = dupString(value);
    if (value && !copy) return false;
    freeString(field);
    field = copy;
    return true;
}

// The module's four entry points "<module>_Init", "_InitProc", "_Final", "_Service".
bool setEntryNames(SGDaemonConfigService* service, const char* module) {
    const std::string base(module);
    return setString(service->init, (base + "_Init").c_str()) &&
           setString(service->initproc, (base + "_InitProc").c_str()) &&
           setString(service->final, (base + "_Final").c_str()) &&
           setString(service->service, (base + "_Service").c_str());
}

bool fileExists(const std::string& path) {
    return SGB(SGOS_access)(path.c_str(), F_OK) == 0;
}

int buildInnerConfig(SGDaemonConfig* config, const char* product) {
    const bool second = product && SGB(SGOS_strncmp)(product, kSecondEditionProduct,
                                                     sizeof kSecondEditionProduct - 1) == 0;
    const Edition& edition = second ? kSecondEdition : kFirstEdition;

    const std::string userHome = brindlow::platform::homeDirectory();
    if (userHome.empty()) return SG_DAEMON_ERR_FOLDER;
    const std::string library = userHome + "/Library";
    const std::string modulePath = brindlow::platform::bundleResourcePath(
        brindlow::platform::mainBundleResources(), edition.bundle);

    const std::string home = library + "/" + edition.folder;
    const std::string logPath = home + "/log";
    const std::string confPath = home + "/conf";
    const std::string jsonPath = confPath + "/" + edition.jsonFile;
    for (const std::string* folder : {&home, &logPath, &confPath})
        if (SGDaemon_MakeDir(folder->c_str()) != 0) return SG_DAEMON_ERR_FOLDER;

    int port = edition.port;
    int level = 1;
    if (JsonTree tree{SGB(SGstorage_JsonNew)(jsonPath.c_str())}; tree.root) {
        cJSON* object = member(tree.root, edition.jsonObject);
        // Without its object the file describes nothing: the record stays empty.
        if (!isObject(object)) return 0;
        port = intMember(object, "serviceport");
        // A port outside the TCP range counts as absent rather than wrapping to another port.
        if (port < 0 || port > 65535) port = 0;
        cJSON* name = member(object, "loglevel");
        level = isString(name) ? levelFromName(name->valuestring) : 0;
    } else {
        level = fileExists(library + "/" + edition.marker) ? kLevelAll : 1;
    }

    if (!setString(config->home, home.c_str()) || !setString(config->ipaddress, kAddress) ||
        !setString(config->bindipaddress, kAddress) ||
        !setString(config->logpath, logPath.c_str()) || !setString(config->logprefix, kLogPrefix))
        return SG_DAEMON_ERR_MEMORY;
    config->ipv6 = 0;
    config->bindipv6 = 0;
    config->loglevel = level;
    config->maxprocess = 1;

    SGDaemonConfigService service{};
    bool ok = setString(service.name, kServiceName) &&
              setString(service.configfile, edition.configfile) &&
              setString(service.modulepath, modulePath.empty() ? nullptr : modulePath.c_str()) &&
              setEntryNames(&service, kModuleName);
    service.serviceport = port;
    service.servicetimeout = kServiceTimeout;
    service.threadcount = kThreadCount;
    service.threadstacksize = kStackSize;
    service.maxpoolsize = kMaxPoolSize;
    int rc = ok ? SGDaemon_ConfigServiceListAdd(&config->auth, &service) : SG_DAEMON_ERR_MEMORY;
    SGDaemon_ConfigServiceReset(&service);
    return rc;
}

int buildJsonConfig(SGDaemonConfig* config, cJSON* root) {
    cJSON* daemon = member(root, "sgdaemon");
    if (!isObject(daemon)) return -1;
    struct {
        const char* key;
        char** field;
    } const strings[] = {{"home", &config->home},
                         {"ipaddress", &config->ipaddress},
                         {"bindipaddress", &config->bindipaddress},
                         {"logpath", &config->logpath},
                         {"logprefix", &config->logprefix}};
    for (const auto& entry : strings) {
        cJSON* item = member(daemon, entry.key);
        if (!isString(item)) return -1;
        if (!setString(*entry.field, item->valuestring)) return SG_DAEMON_ERR_MEMORY;
    }
    cJSON* ipType = member(daemon, "iptype");
    cJSON* bindType = member(daemon, "bindiptype");
    if (!isString(ipType) || !isString(bindType)) return -1;
    config->ipv6 = SGB(SGOS_strcmp)(ipType->valuestring, "ipv6") == 0;
    config->bindipv6 = SGB(SGOS_strcmp)(bindType->valuestring, "ipv6") == 0;
    cJSON* level = member(daemon, "loglevel");
    config->loglevel = isString(level) ? levelFromName(level->valuestring) : kLevelAll;
    config->maxprocess = intMember(daemon, "maxprocess");
    if (config->maxprocess == 0) config->maxprocess = 1;

    cJSON* object = member(root, "sgservice");
    if (!isObject(object)) return -1;
    SGDaemonConfigService service{};
    bool ok = setString(service.name, "sgservice");
    service.serviceport = intMember(object, "serviceport");
    service.servicetimeout = intMember(object, "servicetimeout");
    service.threadcount = intMember(object, "threadcount");
    service.threadstacksize = intMember(object, "threadstacksize");
    service.maxpoolsize = intMember(object, "maxpoolsize");
    if (cJSON* item = member(object, "configfile"); ok && isString(item))
        ok = setString(service.configfile, item->valuestring);
    if (cJSON* item = member(object, "modulepath"); ok && isString(item))
        ok = setString(service.modulepath, item->valuestring);
    if (cJSON* item = member(object, "modulename"); ok && isString(item))
        ok = setEntryNames(&service, item->valuestring);
    int rc = ok ? SGDaemon_ConfigServiceListAdd(&config->auth, &service) : SG_DAEMON_ERR_MEMORY;
    SGDaemon_ConfigServiceReset(&service);
    return rc;
}

// Installs a new empty process-wide record; 6004 when one exists.
int claimConfig(SGDaemonConfig** out) {
    if (gConfig.load()) return SG_DAEMON_ERR_CONFIGURED;
    SGDaemonConfig* config = SGDaemon_ConfigNew();
    if (!config) return SG_DAEMON_ERR_MEMORY;
    SGDaemonConfig* expected = nullptr;
    if (!gConfig.compare_exchange_strong(expected, config)) {
        SGDaemon_ConfigFree(config);
        return SG_DAEMON_ERR_CONFIGURED;
    }
    *out = config;
    return 0;
}

}  // namespace

extern "C" {

SGDaemonConfig* SGDaemon_ConfigNew(void) {
    return static_cast<SGDaemonConfig*>(allocZero(sizeof(SGDaemonConfig)));
}

void SGDaemon_ConfigReset(SGDaemonConfig* config) {
    if (!config) return;
    for (char** field : {&config->home, &config->ipaddress, &config->bindipaddress,
                         &config->logpath, &config->logprefix})
        freeString(*field);
    SGDaemon_ConfigServiceReset(&config->admin);
    SGDaemon_ConfigServiceListReset(&config->auth);
    std::memset(config, 0, sizeof *config);
}

void SGDaemon_ConfigFree(SGDaemonConfig* config) {
    if (!config) return;
    SGDaemon_ConfigReset(config);
    release(config);
}

void SGDaemon_FinalConfig(void) {
    SGDaemon_ConfigFree(gConfig.exchange(nullptr));
}

SGDaemonConfigService* SGDaemon_ConfigServiceNew(void) {
    return static_cast<SGDaemonConfigService*>(allocZero(sizeof(SGDaemonConfigService)));
}

void SGDaemon_ConfigServiceReset(SGDaemonConfigService* service) {
    if (!service) return;
    for (char** field : {&service->name, &service->configfile, &service->modulepath, &service->init,
                         &service->initproc, &service->final, &service->service})
        freeString(*field);
    std::memset(service, 0, sizeof *service);
}

void SGDaemon_ConfigServiceFree(SGDaemonConfigService* service) {
    if (!service) return;
    SGDaemon_ConfigServiceReset(service);
    release(service);
}

int SGDaemon_ConfigServiceCopy(SGDaemonConfigService* destination,
                               const SGDaemonConfigService* source) {
    if (!destination || !source) return SG_DAEMON_ERR_ARGUMENT;
    if (destination == source) return 0;
    SGDaemonConfigService copy = *source;
    char* SGDaemonConfigService::*const strings[] = {
        &SGDaemonConfigService::name,       &SGDaemonConfigService::configfile,
        &SGDaemonConfigService::modulepath, &SGDaemonConfigService::init,
        &SGDaemonConfigService::initproc,   &SGDaemonConfigService::final,
        &SGDaemonConfigService::service};
    for (auto field : strings) copy.*field = nullptr;
    bool ok = true;
    for (auto field : strings) {
        copy.*field = dupString(source->*field);
        if (source->*field && !(copy.*field)) ok = false;
    }
    SGDaemon_ConfigServiceReset(destination);
    if (!ok) {
        SGDaemon_ConfigServiceReset(&copy);
        return -1;
    }
    *destination = copy;
    return 0;
}

SGDaemonConfigServiceList* SGDaemon_ConfigServiceListNew(void) {
    return static_cast<SGDaemonConfigServiceList*>(allocZero(sizeof(SGDaemonConfigServiceList)));
}

void SGDaemon_ConfigServiceListReset(SGDaemonConfigServiceList* list) {
    if (!list) return;
    SGDaemonConfigServiceList* node = list->next;
    while (node) {
        SGDaemonConfigServiceList* next = node->next;
        SGDaemon_ConfigServiceReset(&node->service);
        release(node);
        node = next;
    }
    SGDaemon_ConfigServiceReset(&list->service);
    list->next = nullptr;
}

void SGDaemon_ConfigServiceListFree(SGDaemonConfigServiceList* list) {
    if (!list) return;
    SGDaemon_ConfigServiceListReset(list);
    release(list);
}

int SGDaemon_ConfigServiceListCopy(SGDaemonConfigServiceList* destination,
                                   const SGDaemonConfigServiceList* source) {
    if (!destination || !source) return SG_DAEMON_ERR_ARGUMENT;
    if (destination == source) return 0;
    SGDaemon_ConfigServiceListReset(destination);
    if (SGDaemon_ConfigServiceCopy(&destination->service, &source->service) != 0) return -1;
    for (const SGDaemonConfigServiceList* node = source->next; node; node = node->next) {
        if (SGDaemon_ConfigServiceListAdd(destination, &node->service) != 0) {
            SGDaemon_ConfigServiceListReset(destination);
            return -1;
        }
    }
    return 0;
}

int SGDaemon_ConfigServiceListAdd(SGDaemonConfigServiceList* list,
                                  const SGDaemonConfigService* service) {
    if (!list || !service) return SG_DAEMON_ERR_ARGUMENT;
    SGDaemonConfigServiceList* node = SGDaemon_ConfigServiceListNew();
    if (!node) return SG_DAEMON_ERR_MEMORY;
    if (SGDaemon_ConfigServiceCopy(&node->service, service) != 0) {
        release(node);
        return SG_DAEMON_ERR_MEMORY;
    }
    SGDaemonConfigServiceList* last = list;
    while (last->next) last = last->next;
    last->next = node;
    return 0;
}

int SGDaemon_InitInnerConfig(const char* product) {
    try {
        if (brindlow::platform::executablePath().empty()) {
            SGLog_Write(SG_LOG_LEVEL_FATAL, "%s", "failed to get executable path");
            return -1;
        }
        SGDaemonConfig* config = nullptr;
        if (int rc = claimConfig(&config)) return rc;
        return buildInnerConfig(config, product);
    } catch (...) {
        return SG_DAEMON_ERR_MEMORY;
    }
}

int SGDaemon_InitConfig(const char* path) {
    if (!path) return SG_DAEMON_ERR_ARGUMENT;
    try {
        if (gConfig.load()) return SG_DAEMON_ERR_CONFIGURED;
        JsonTree tree{SGB(SGstorage_JsonNew)(path)};
        if (!tree.root) return -1;
        SGDaemonConfig* config = nullptr;
        if (int rc = claimConfig(&config)) return rc;
        return buildJsonConfig(config, tree.root);
    } catch (...) {
        return SG_DAEMON_ERR_MEMORY;
    }
}

SGDaemonConfig* SGDaemon_GetConfig(void) {
    return gConfig.load();
}

SGDaemonConfigService* SGDaemon_GetConfigService(const char* name) {
    SGDaemonConfig* config = gConfig.load();
    if (!config || !name) return nullptr;
    if (SGB(SGOS_strcmp)(name, "admin") == 0) return &config->admin;
    if (SGB(SGOS_strcmp)(name, "auth") == 0) return &config->auth.service;
    for (SGDaemonConfigServiceList* node = config->auth.next; node; node = node->next)
        if (node->service.name && SGB(SGOS_strcmp)(node->service.name, name) == 0)
            return &node->service;
    return nullptr;
}

int SGDaemon_MakeDir(const char* path) {
    if (!path || !*path) return SG_DAEMON_ERR_FOLDER;
    if (SGB(SGOS_access)(path, R_OK) == 0) return 0;
    try {
        // Parents first: on a fresh home even Library may be missing.
        const std::string full(path);
        for (size_t at = full.find('/', 1);; at = full.find('/', at + 1)) {
            const std::string prefix = full.substr(0, at);
            if (!prefix.empty() && SGB(SGOS_access)(prefix.c_str(), F_OK) != 0 &&
                SGB(SGOS_mkdir)(prefix.c_str(), SGOS_S_IRWXU) != 0 && errno != EEXIST)
                return SG_DAEMON_ERR_FOLDER;
            if (at == std::string::npos) break;
        }
    } catch (...) {
        return SG_DAEMON_ERR_FOLDER;
    }
    return SGB(SGOS_access)(path, R_OK) == 0 ? 0 : SG_DAEMON_ERR_FOLDER;
}

int SGDaemon_CheckFile(const char* path) {
    if (!path) return -3;
    if (SGB(SGOS_access)(path, F_OK) != 0) return -1;
    if (SGB(SGOS_access)(path, R_OK | W_OK) != 0) return -2;
    return 0;
}

int SGDaemon_getopt(int argc, char** argv, SGDaemonExopt* options) {
    if (!options || (argc > 0 && !argv)) return SG_DAEMON_ERR_ARGUMENT;
    // Full reset of the parser's state, no reordering of argv, ':' for a missing value.
    optind = 0;
    opterr = 0;
    for (int opt; (opt = getopt(argc, argv, "+:dc:")) != -1;) {
        switch (opt) {
            case 'd':
                options->flags |= SG_DAEMON_OPT_DEBUG;
                options->debug = 1;
                break;
            case 'c':
                if (!setString(options->configfile, optarg)) return SG_DAEMON_ERR_MEMORY;
                options->flags |= SG_DAEMON_OPT_CONFIG;
                break;
            case ':':
                return SG_DAEMON_ERR_CONFIG_ACCESS;
            default:
                return -1;
        }
    }
    const char* file = options->configfile ? options->configfile : kFirstEdition.jsonFile;
    switch (SGDaemon_CheckFile(file)) {
        case 0:
            return 0;
        case -1:
            return SG_DAEMON_ERR_CONFIG_MISSING;
        default:
            return SG_DAEMON_ERR_CONFIG_ACCESS;
    }
}

void SGDaemon_PrintUsage(const char* program) {
    SGB(SGOS_printf)
    ("[Usage] %s -d -c [configfile] -e [external config file] -l [log path]\n",
     program ? program : "");
    SGB(SGOS_printf)("-d : debug mode [optional]\n");
    SGB(SGOS_printf)("-c : intend for config file [optional]\n");
    SGB(SGOS_printf)("-e : intend for external config file [optional]\n");
    SGB(SGOS_printf)("-l : intend for log file path [optional]\n");
    SGB(SGOS_fflush)(stdout);
}

void SGDaemon_PrintWrongConfig(const char* program, const char* file) {
    SGB(SGOS_printf)
    ("[ERROR] %s : invalid config file.(%s)\n", program ? program : "", file ? file : "");
    SGB(SGOS_printf)("Check your config file.\n");
    SGB(SGOS_fflush)(stdout);
}

void SGDaemon_PrintFailtoLog(const char* program, const char* logpath, const char* prefix,
                             int level) {
    SGB(SGOS_printf)("[ERROR] %s : initialize log.\n", program ? program : "");
    SGB(SGOS_printf)("Log path : %s\n", logpath ? logpath : "");
    SGB(SGOS_printf)("Log prefix : %s\n", prefix ? prefix : "");
    SGB(SGOS_printf)("Log level : %d\n", level);
    SGB(SGOS_printf)("Check your log path input.\n");
    SGB(SGOS_fflush)(stdout);
}

int SGDaemon_PreProcessFunction(void) {
    return 0;
}

}  // extern "C"
