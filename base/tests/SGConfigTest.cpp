#include <cjson/cJSON.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "SGBaseTable.h"
#include "SGConfig.h"
#include "SGMemoryInternal.h"

namespace fs = std::filesystem;

namespace {

struct DictionaryDeleter {
    void operator()(SGConfigDictionary* d) const { SGConfig_IniparserFree(d); }
};
using Dict = std::unique_ptr<SGConfigDictionary, DictionaryDeleter>;

Dict fromText(const std::string& text, int mode = 0) {
    std::string copy = text;
    return Dict(SGConfig_IniparserNew_from_Buffer(copy.data(), mode));
}

// The entries of a dictionary as key -> value ("<null>" for a section).
std::map<std::string, std::string> entries(const SGConfigDictionary* d) {
    std::map<std::string, std::string> out;
    for (int i = 0; i < d->capacity; ++i)
        if (d->keys[i]) out[d->keys[i]] = d->values[i] ? d->values[i] : "<null>";
    return out;
}

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/sgconfig-XXXXXX";
        if (mkdtemp(pattern)) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string write(const std::string& name, const std::string& content) const {
        std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::string dumped(void (*dump)(SGConfigDictionary*, FILE*), SGConfigDictionary* d) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    dump(d, out);
    std::fclose(out);
    std::string s(text, size);
    std::free(text);
    return s;
}

const char kExample[] =
    "[Net]\n"
    "Port = 8080 ; comment\n"
    "Name = \"a b\"\n";

TEST(SGConfig, VersionBuildTextAndTableSlots) {
    EXPECT_STREQ(SGConfig_GetVersion(), "2.0.0.0");
    EXPECT_THAT(SGConfig_GetBuildInfo(),
                ::testing::MatchesRegex("Version : 2\\.0\\.0\\.0, Build Date : [A-Z][a-z][a-z] "
                                        "[ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}"));
    void* t[SG_BASE_TABLE_SLOTS];
    ASSERT_EQ(SGBaseWrapper_GetList(t), 0);
    struct {
        int slot;
        void* fn;
    } cases[] = {
        {15, reinterpret_cast<void*>(&SGstorage_JsonNew)},
        {16, reinterpret_cast<void*>(&SGConfig_GetVersion)},
        {17, reinterpret_cast<void*>(&SGConfig_GetBuildInfo)},
        {18, reinterpret_cast<void*>(&SGConfig_IniparserNew)},
        {19, reinterpret_cast<void*>(&SGConfig_IniparserNew_Unicode)},
        {20, reinterpret_cast<void*>(&SGConfig_IniparserNew_from_Buffer)},
        {21, reinterpret_cast<void*>(&SGConfig_IniparserFree)},
        {22, reinterpret_cast<void*>(&SGConfig_IniparserGetNSec)},
        {23, reinterpret_cast<void*>(&SGConfig_IniparserGetSecName)},
        {24, reinterpret_cast<void*>(&SGConfig_IniparserGetString)},
        {25, reinterpret_cast<void*>(&SGConfig_IniparserGetInt)},
        {26, reinterpret_cast<void*>(&SGConfig_IniparserGetDouble)},
        {27, reinterpret_cast<void*>(&SGConfig_IniparserGetBoolean)},
        {28, reinterpret_cast<void*>(&SGConfig_IniparserFindEntry)},
        {29, reinterpret_cast<void*>(&SGConfig_IniparserUnset)},
        {30, reinterpret_cast<void*>(&SGConfig_JsonGetObjectItem)},
        {31, reinterpret_cast<void*>(&SGConfig_JsonDelete)},
    };
    for (const auto& c : cases) EXPECT_EQ(t[c.slot], c.fn) << "slot " << c.slot;
}

TEST(SGConfigIni, ExampleFromAFileAndFromABuffer) {
    TempDir dir;
    std::string path = dir.write("example.ini", kExample);
    Dict readers[] = {Dict(SGConfig_IniparserNew(path.c_str(), 0)),
                      Dict(SGConfig_IniparserNew_Unicode(path.c_str(), 0)), fromText(kExample)};
    for (auto& d : readers) {
        ASSERT_TRUE(d);
        EXPECT_EQ(entries(d.get()),
                  (std::map<std::string, std::string>{
                      {"net", "<null>"}, {"net$port", "8080"}, {"net$name", "a b"}}));
        EXPECT_EQ(d->count, 3);
        EXPECT_EQ(d->capacity, 128);
        EXPECT_STREQ(SGConfig_IniparserGetString(d.get(), "NET$PORT", "none"), "8080");
        EXPECT_EQ(SGConfig_IniparserGetInt(d.get(), "Net$Port", -1), 8080);
        EXPECT_EQ(SGConfig_IniparserGetString(d.get(), "net", "none"), nullptr)
            << "a section gives its null value";
        EXPECT_EQ(SGConfig_IniparserGetNSec(d.get()), 1);
        EXPECT_STREQ(SGConfig_IniparserGetSecName(d.get(), 0), "net");
        EXPECT_EQ(SGConfig_IniparserGetSecName(d.get(), 1), nullptr);
    }
}

TEST(SGConfigIni, LineForms) {
    struct {
        int mode;
        const char* line;
        const char* key;  // the entry expected, null when the line sets nothing
        const char* value;
    } cases[] = {
        {0, "key = ''", "$key", ""},
        {0, "key = \"\"", "$key", ""},
        {0, "key =", nullptr, nullptr},
        {0, "key = ", nullptr, nullptr},
        {0, "Key=Value", "$key", "Value"},
        {0, "  Indented Key  =  spaced value  ", "$indented key", "spaced value"},
        {0, "key = \"quoted ; # kept\"", "$key", "quoted ; # kept"},
        {0, "key = 'single \"inner\"'", "$key", "single \"inner"},
        {0, "key = value # comment", "$key", "value"},
        {0, "key = a = b", "$key", "a = b"},
        {0, "key = trailing\"", "$key", "trailing"},
        {0, "key = crlf\r", "$key", "crlf"},
        {0, "key\" = v", "$key", "v"},
        {0, "# key = comment", nullptr, nullptr},
        {0, "; key = comment", nullptr, nullptr},
        {0, "   ", nullptr, nullptr},
        {0, "no equals sign", nullptr, nullptr},
        {0, "= value", nullptr, nullptr},
        {1, "key = a = b", "$key", "a"},
        {1, "Port = 8080 ; comment", "$port", "8080 ; comment"},
        {1, "key = 'q'", "$key", "'q'"},
        {1, "key = \"q\"", "$key", "\"q"},
        {1, "no equals sign", nullptr, nullptr},
        {1, "key =", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        Dict d = fromText(std::string(c.line) + "\n", c.mode);
        ASSERT_TRUE(d) << c.line;
        auto got = entries(d.get());
        if (!c.key) {
            EXPECT_TRUE(got.empty()) << c.line;
            continue;
        }
        EXPECT_EQ(got, (std::map<std::string, std::string>{{c.key, c.value}}))
            << "mode " << c.mode << ": " << c.line;
    }
}

TEST(SGConfigIni, SectionsKeysBeforeThemAndRepeatedKeys) {
    Dict d = fromText(
        "top = first\n"
        "[One]\n"
        "a = 1\n"
        "[Two\"]\n"
        "a = 2\n"
        "a = 3\n"
        "[one]\n"
        "b = 4\n");
    ASSERT_TRUE(d);
    EXPECT_EQ(entries(d.get()), (std::map<std::string, std::string>{{"$top", "first"},
                                                                    {"one", "<null>"},
                                                                    {"one$a", "1"},
                                                                    {"one$b", "4"},
                                                                    {"two", "<null>"},
                                                                    {"two$a", "3"}}));
    EXPECT_EQ(SGConfig_IniparserGetNSec(d.get()), 2);
    EXPECT_STREQ(SGConfig_IniparserGetSecName(d.get(), 0), "one");
    EXPECT_STREQ(SGConfig_IniparserGetSecName(d.get(), 1), "two");
}

TEST(SGConfigIni, TypedGetters) {
    Dict d = fromText(
        "[v]\n"
        "yes = Yes\n"
        "off = off\n"
        "zero = 0\n"
        "true = true\n"
        "no = N\n"
        "empty = ''\n"
        "int = 42\n"
        "neg = -7\n"
        "mixed = 12abc\n"
        "word = abc\n"
        "huge = 99999999999\n"
        "hex = 0x10\n"
        "pi = 3.25\n"
        "exp = -1.5e3\n");
    ASSERT_TRUE(d);
    SGConfigDictionary* p = d.get();
    struct {
        const char* key;
        int boolean;
        int integer;
        double real;
    } cases[] = {
        {"v$yes", 1, 0, 0.0},
        {"v$off", -5, 0, 0.0},
        {"v$zero", 0, 0, 0.0},
        {"v$true", 1, 0, 0.0},
        {"v$no", 0, 0, 0.0},
        {"v$empty", -5, 0, 0.0},
        {"v$int", -5, 42, 42.0},
        {"v$neg", -5, -7, -7.0},
        {"v$mixed", 1, 12, 12.0},
        {"v$word", -5, 0, 0.0},
        {"v$huge", -5, INT_MAX, 99999999999.0},
        {"v$hex", 0, 0, 16.0},
        {"v$pi", -5, 3, 3.25},
        {"v$exp", -5, -1, -1500.0},
        {"v", -5, -5, -5.5},
        {"v$absent", -5, -5, -5.5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SGConfig_IniparserGetBoolean(p, c.key, -5), c.boolean) << c.key;
        EXPECT_EQ(SGConfig_IniparserGetInt(p, c.key, -5), c.integer) << c.key;
        EXPECT_DOUBLE_EQ(SGConfig_IniparserGetDouble(p, c.key, -5.5), c.real) << c.key;
    }
    EXPECT_EQ(SGConfig_IniparserFindEntry(p, "V$YES"), 1);
    EXPECT_EQ(SGConfig_IniparserFindEntry(p, "v"), 1);
    EXPECT_EQ(SGConfig_IniparserFindEntry(p, "v$absent"), 0);
}

TEST(SGConfigIni, GrowsPast128EntriesKeepingTheFirstSlots) {
    Dict d = fromText("");
    ASSERT_TRUE(d);
    std::vector<std::string> before;
    for (int i = 0; i < 128; ++i) {
        std::string key = "Sec$Key" + std::to_string(i);
        ASSERT_EQ(SGConfig_IniparserSetStr(d.get(), key.c_str(), std::to_string(i).c_str()), 0);
    }
    EXPECT_EQ(d->capacity, 128);
    for (int i = 0; i < 128; ++i) before.push_back(d->keys[i]);
    ASSERT_EQ(SGConfig_IniparserSetStr(d.get(), "sec$key128", "128"), 0);
    EXPECT_EQ(d->capacity, 256);
    EXPECT_EQ(d->count, 129);
    for (int i = 0; i < 128; ++i) EXPECT_EQ(before[static_cast<size_t>(i)], d->keys[i]) << i;
    EXPECT_STREQ(d->keys[128], "sec$key128");
    for (int i = 0; i <= 128; ++i)
        EXPECT_EQ(SGConfig_IniparserGetInt(d.get(), ("SEC$KEY" + std::to_string(i)).c_str(), -1),
                  i);

    // A file of 600 entries reads whole.
    std::string text = "[big]\n";
    for (int i = 0; i < 600; ++i)
        text += "k" + std::to_string(i) + " = v" + std::to_string(i) + "\n";
    Dict big = fromText(text);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->count, 601);
    EXPECT_EQ(big->capacity, 1024);
    EXPECT_STREQ(SGConfig_IniparserGetString(big.get(), "big$k599", nullptr), "v599");
}

TEST(SGConfigIni, SetReplacesAndUnsetFreesASlotForReuse) {
    Dict d = fromText("[s]\na = 1\nb = 2\nc = 3\n");
    ASSERT_TRUE(d);
    char* bKey = nullptr;
    int bSlot = -1;
    for (int i = 0; i < d->capacity; ++i)
        if (d->keys[i] && std::strcmp(d->keys[i], "s$b") == 0) bSlot = i, bKey = d->keys[i];
    ASSERT_GE(bSlot, 0);
    ASSERT_NE(bKey, nullptr);

    EXPECT_EQ(SGConfig_IniparserSetStr(d.get(), "S$A", "one"), 0);
    EXPECT_STREQ(SGConfig_IniparserGetString(d.get(), "s$a", nullptr), "one");
    EXPECT_EQ(d->count, 4);

    SGConfig_IniparserUnset(d.get(), "S$B");
    EXPECT_EQ(d->count, 3);
    EXPECT_EQ(d->keys[bSlot], nullptr);
    EXPECT_EQ(d->hashes[bSlot], 0u);
    EXPECT_EQ(SGConfig_IniparserFindEntry(d.get(), "s$b"), 0);
    SGConfig_IniparserUnset(d.get(), "s$b");  // absent: nothing
    EXPECT_EQ(d->count, 3);

    EXPECT_EQ(SGConfig_IniparserSetStr(d.get(), "s$d", nullptr), 0);
    EXPECT_STREQ(d->keys[bSlot], "s$d") << "the first free slot is reused";
    EXPECT_EQ(SGConfig_IniparserGetString(d.get(), "s$d", "x"), nullptr);
}

TEST(SGConfigIni, LongLines) {
    std::string value(5000, 'v');
    std::string text = "[s]\nk = " + value + "\nnext = ok\n";
    TempDir dir;
    std::string path = dir.write("long.ini", text);
    // A file line ends after 4095 characters and the rest is read as a line of its own (here one
    // without "=", so it is skipped); a buffer line keeps 4096 characters.
    Dict file(SGConfig_IniparserNew(path.c_str(), 0));
    Dict buffer = fromText(text);
    ASSERT_TRUE(file);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(std::strlen(SGConfig_IniparserGetString(file.get(), "s$k", "")), 4095u - 4);
    EXPECT_EQ(std::strlen(SGConfig_IniparserGetString(buffer.get(), "s$k", "")), 4096u - 4);
    EXPECT_STREQ(SGConfig_IniparserGetString(file.get(), "s$next", ""), "ok");
    EXPECT_STREQ(SGConfig_IniparserGetString(buffer.get(), "s$next", ""), "ok");
    EXPECT_EQ(file->count, 3);

    // A lookup key longer than any stored key is a different key, not its first characters.
    Dict d = fromText("");
    std::string stored(4096, 'a');
    ASSERT_EQ(SGConfig_IniparserSetStr(d.get(), stored.c_str(), "x"), 0);
    EXPECT_EQ(SGConfig_IniparserFindEntry(d.get(), std::string(5000, 'A').c_str()), 0);
    EXPECT_EQ(SGConfig_IniparserFindEntry(d.get(), std::string(4096, 'A').c_str()), 1);
}

TEST(SGConfigIni, LookupsFromSeveralThreads) {
    std::string text;
    for (int s = 0; s < 10; ++s) {
        text += "[Section" + std::to_string(s) + "]\n";
        for (int k = 0; k < 20; ++k)
            text += "Key" + std::string(static_cast<size_t>(k), 'x') + " = " +
                    std::to_string(s * 100 + k) + "\n";
    }
    Dict d = fromText(text);
    ASSERT_TRUE(d);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 400; ++round) {
                int s = (round + t) % 10, k = (round * 7 + t) % 20;
                std::string key = "SECTION" + std::to_string(s) + "$kEy" +
                                  std::string(static_cast<size_t>(k), 'X');
                if (SGConfig_IniparserGetInt(d.get(), key.c_str(), -1) != s * 100 + k) wrong++;
                if (SGConfig_IniparserFindEntry(d.get(), key.c_str()) != 1) wrong++;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(SGConfigIni, DumpsAndWritesBackAsIniText) {
    Dict d = fromText("top = t\n[net]\nport = 8080\nname = \"a b\"\n[empty]\n");
    ASSERT_TRUE(d);
    ASSERT_EQ(SGConfig_IniparserSetStr(d.get(), "net$undef", nullptr), 0);
    EXPECT_EQ(dumped(SGConfig_IniparserDump, d.get()),
              "[$top]=[t]\n[net]=UNDEF\n[net$port]=[8080]\n[net$name]=[a b]\n[empty]=UNDEF\n"
              "[net$undef]=UNDEF\n");
    std::string ini = dumped(SGConfig_Iniparser_DumpIni, d.get());
    EXPECT_EQ(ini,
              "top                            = t\n"
              "\n[net]\n"
              "port                           = 8080\n"
              "name                           = a b\n"
              "undef                          = \n"
              "\n[empty]\n"
              "\n");
    // Written back and read again, the same entries.
    Dict again = fromText(ini);
    ASSERT_TRUE(again);
    // "undef = " has no value and matches no form, so that entry does not come back.
    auto expected = entries(d.get());
    expected.erase("net$undef");
    EXPECT_EQ(entries(again.get()), expected);

    Dict flat = fromText("a = 1\nb = 2\n");
    EXPECT_EQ(dumped(SGConfig_Iniparser_DumpIni, flat.get()), "a = 1\nb = 2\n");
}

TEST(SGConfigIni, MissingArguments) {
    Dict d = fromText("[s]\na = 1\n");
    ASSERT_TRUE(d);
    EXPECT_EQ(SGConfig_IniparserNew(nullptr, 0), nullptr);
    EXPECT_EQ(SGConfig_IniparserNew("/nonexistent/file.ini", 0), nullptr);
    EXPECT_EQ(SGConfig_IniparserNew("/tmp", 0), nullptr);
    EXPECT_EQ(SGConfig_IniparserNew_from_Buffer(nullptr, 0), nullptr);
    EXPECT_EQ(SGConfig_IniparserGetNSec(nullptr), -1);
    EXPECT_EQ(SGConfig_IniparserGetSecName(nullptr, 0), nullptr);
    EXPECT_EQ(SGConfig_IniparserGetSecName(d.get(), -1), nullptr);
    EXPECT_STREQ(SGConfig_IniparserGetString(nullptr, "s$a", "def"), "def");
    EXPECT_STREQ(SGConfig_IniparserGetString(d.get(), nullptr, "def"), "def");
    EXPECT_EQ(SGConfig_IniparserGetInt(nullptr, "s$a", 9), 9);
    EXPECT_EQ(SGConfig_IniparserGetDouble(d.get(), nullptr, 9.5), 9.5);
    EXPECT_EQ(SGConfig_IniparserGetBoolean(nullptr, "s$a", 9), 9);
    EXPECT_EQ(SGConfig_IniparserFindEntry(nullptr, "s$a"), 0);
    EXPECT_EQ(SGConfig_IniparserFindEntry(d.get(), nullptr), 0);
    EXPECT_EQ(SGConfig_IniparserSetStr(nullptr, "k", "v"), -1);
    EXPECT_EQ(SGConfig_IniparserSetStr(d.get(), nullptr, "v"), -1);
    SGConfig_IniparserUnset(nullptr, "s$a");
    SGConfig_IniparserUnset(d.get(), nullptr);
    SGConfig_IniparserDump(nullptr, stdout);
    SGConfig_Iniparser_DumpIni(d.get(), nullptr);
    SGConfig_IniparserFree(nullptr);
    EXPECT_EQ(d->count, 2);
}

TEST(SGConfigJson, ReadsFilesAndFindsMembersIgnoringCase) {
    TempDir dir;
    std::string good = dir.write("tovelconf.json",
                                 "{\"Port\": 14461, \"LogLevel\": 32, "
                                 "\"name\": \"svc\", \"list\": [1, 2, 3]}");
    cJSON* tree = SGstorage_JsonNew(good.c_str());
    ASSERT_NE(tree, nullptr);
    cJSON* port = SGConfig_JsonGetObjectItem(tree, "port");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->valueint, 14461);
    EXPECT_EQ(SGConfig_JsonGetObjectItem(tree, "LOGLEVEL")->valueint, 32);
    EXPECT_STREQ(SGConfig_JsonGetObjectItem(tree, "Name")->valuestring, "svc");
    EXPECT_EQ(cJSON_GetArraySize(SGConfig_JsonGetObjectItem(tree, "list")), 3);
    EXPECT_EQ(SGConfig_JsonGetObjectItem(tree, "absent"), nullptr);
    EXPECT_EQ(SGConfig_JsonGetObjectItem(nullptr, "port"), nullptr);
    SGConfig_JsonDelete(tree);

    // Larger than the reader's first buffer.
    std::string big = "[";
    for (int i = 0; i < 20000; ++i) big += std::to_string(i) + ",";
    big += "\"end\"]";
    std::string bigPath = dir.write("big.json", big);
    tree = SGstorage_JsonNew(bigPath.c_str());
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(cJSON_GetArraySize(tree), 20001);
    EXPECT_STREQ(cJSON_GetArrayItem(tree, 20000)->valuestring, "end");
    SGConfig_JsonDelete(tree);

    struct {
        const char* what;
        std::string path;
    } bad[] = {
        {"missing", dir.path() + "/absent.json"},
        {"not JSON", dir.write("bad.json", "{\"port\": }")},
        {"empty", dir.write("empty.json", "")},
        {"a folder", dir.path()},
    };
    for (const auto& c : bad) EXPECT_EQ(SGstorage_JsonNew(c.path.c_str()), nullptr) << c.what;
    EXPECT_EQ(SGstorage_JsonNew(nullptr), nullptr);
    SGConfig_JsonDelete(nullptr);
}

// cJSON's allocator is hooked: freed blocks are kept (not returned) so that their contents can
// be inspected after the release.
struct Block {
    void* ptr;
    size_t size;
    bool freed;
};
std::vector<Block>* gBlocks = nullptr;
std::unordered_map<void*, size_t>* gIndex = nullptr;

void* hookMalloc(size_t size) {
    void* p = std::malloc(size);
    if (p) {
        (*gIndex)[p] = gBlocks->size();
        gBlocks->push_back({p, size, false});
    }
    return p;
}

void hookFree(void* p) {
    if (!p) return;
    auto it = gIndex->find(p);
    if (it == gIndex->end() || (*gBlocks)[it->second].freed) {
        ADD_FAILURE() << "free of a block cJSON does not hold";
        return;
    }
    (*gBlocks)[it->second].freed = true;
}

struct Recorded {
    const void* ptr;
    int pattern;
    size_t length;
};
std::vector<Recorded>* gFills = nullptr;
void* (*gRealFill)(void*, int, size_t) = nullptr;
void* recordingFill(void* p, int pattern, size_t length) {
    gFills->push_back({p, pattern, length});
    return gRealFill(p, pattern, length);
}

class SGConfigJsonWipe : public ::testing::Test {
  protected:
    void SetUp() override {
        gBlocks = &blocks_;
        gIndex = &index_;
        gFills = &fills_;
        cJSON_Hooks hooks{hookMalloc, hookFree};
        cJSON_InitHooks(&hooks);
        gRealFill = gSGMemoryFill;
        gSGMemoryFill = recordingFill;
    }
    void TearDown() override {
        gSGMemoryFill = gRealFill;
        cJSON_InitHooks(nullptr);
        for (auto& b : blocks_) std::free(b.ptr);
        gBlocks = nullptr;
        gIndex = nullptr;
        gFills = nullptr;
    }
    const Block* blockAt(const void* p) const {
        auto it = index_.find(const_cast<void*>(p));
        return it == index_.end() ? nullptr : &blocks_[it->second];
    }
    static bool contains(const Block& b, const std::string& text) {
        const char* begin = static_cast<const char*>(b.ptr);
        return std::search(begin, begin + b.size, text.begin(), text.end()) != begin + b.size;
    }

    std::vector<Block> blocks_;
    std::unordered_map<void*, size_t> index_;
    std::vector<Recorded> fills_;
};

TEST_F(SGConfigJsonWipe, NoByteOfAnyStringValueSurvives) {
    const char* text =
        "{\"user\": \"secret-alpha\", \"pins\": [\"secret-beta\", 7, {\"deep\": "
        "\"secret-gamma\"}], \"nested\": {\"inner\": {\"key\": \"secret-delta\"}}, "
        "\"number\": 12, \"flag\": true, \"empty\": \"\"}";
    cJSON* tree = cJSON_Parse(text);
    ASSERT_NE(tree, nullptr);
    // A reference does not own its string, and a constant name is not the tree's to free.
    char external[] = "caller-owned";
    cJSON_AddItemToObject(tree, "ref", cJSON_CreateStringReference(external));
    cJSON_AddItemToObjectCS(tree, "constname", cJSON_CreateString("secret-epsilon"));

    struct Value {
        const char* ptr;
        std::string text;
    };
    std::vector<Value> values;
    std::vector<Value> names;
    std::vector<cJSON*> pending{tree};
    while (!pending.empty()) {
        cJSON* item = pending.back();
        pending.pop_back();
        for (; item; item = item->next) {
            if (item->valuestring && !(item->type & cJSON_IsReference))
                values.push_back({item->valuestring, item->valuestring});
            if (item->string && !(item->type & cJSON_StringIsConst))
                names.push_back({item->string, item->string});
            if (item->child) pending.push_back(item->child);
        }
    }
    ASSERT_EQ(values.size(), 6u);  // five secrets and the empty string

    SGConfig_JsonDelete(tree);

    for (const auto& b : blocks_) EXPECT_TRUE(b.freed) << "a block of the tree was not freed";
    for (const auto& v : values) {
        const Block* b = blockAt(v.ptr);
        ASSERT_NE(b, nullptr) << v.text;
        ASSERT_GE(b->size, v.text.size() + 1);
        for (size_t i = 0; i <= v.text.size(); ++i)
            ASSERT_EQ(static_cast<const unsigned char*>(b->ptr)[i], 0) << v.text << " byte " << i;
        if (v.text.empty()) continue;
        for (const auto& any : blocks_) EXPECT_FALSE(contains(any, v.text)) << v.text;
        // Four patterns and zeros, each over the whole value, in this order.
        std::vector<int> passes;
        for (const auto& f : fills_)
            if (f.ptr == v.ptr) {
                EXPECT_EQ(f.length, v.text.size()) << v.text;
                passes.push_back(f.pattern);
            }
        EXPECT_EQ(passes, (std::vector<int>{0x3F, 0xF3, 0x6E, 0xE6, 0x00})) << v.text;
    }
    // Member names are freed as they are.
    for (const auto& n : names) {
        const Block* b = blockAt(n.ptr);
        ASSERT_NE(b, nullptr) << n.text;
        EXPECT_TRUE(b->freed);
        EXPECT_EQ(std::string(static_cast<const char*>(b->ptr)), n.text);
    }
    EXPECT_STREQ(external, "caller-owned");
}

TEST_F(SGConfigJsonWipe, ParsedFileAndDeepTreesAreReleasedWhole) {
    TempDir dir;
    std::string path = dir.write("c.json", "{\"a\": [\"x1\", [\"x2\", [\"x3\"]]], \"b\": \"x4\"}");
    cJSON* tree = SGstorage_JsonNew(path.c_str());
    ASSERT_NE(tree, nullptr);
    SGConfig_JsonDelete(tree);
    for (const auto& b : blocks_) EXPECT_TRUE(b.freed);

    // Deeper than any stack would take one frame per level.
    cJSON* root = cJSON_CreateArray();
    cJSON* level = root;
    for (int i = 0; i < 200000; ++i) {
        cJSON* next = cJSON_CreateArray();
        cJSON_AddItemToArray(level, next);
        level = next;
    }
    cJSON_AddItemToArray(level, cJSON_CreateString("bottom-secret"));
    SGConfig_JsonDelete(root);
    for (const auto& b : blocks_) ASSERT_TRUE(b.freed);
    for (const auto& b : blocks_) ASSERT_FALSE(contains(b, "bottom-secret"));
}

}  // namespace
