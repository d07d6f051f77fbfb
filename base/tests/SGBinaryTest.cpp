#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "SGBinary.h"
#include "SGMemory.h"

namespace {

SGBinary bytes(const std::string& s) {
    SGBinary b{};
    SGBinary_Set(&b, s.data(), static_cast<uint32_t>(s.size()));
    return b;
}

std::string str(const SGBinary& b) {
    return b.length ? std::string(reinterpret_cast<char*>(b.data), b.length) : std::string();
}

std::vector<std::string> values(const SGBinaryList* list) {
    std::vector<std::string> out;
    if (!list->tail) return out;
    for (const SGBinaryList* n = list; n; n = n->next) out.push_back(str(n->value));
    return out;
}

}  // namespace

TEST(SGBinary, NewAndInitGiveZeroFilledBuffers) {
    SGBinary* b = SGBinary_New(5);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->length, 5u);
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(b->data[i], 0);
    SGBinary_Free(b);

    SGBinary* empty = SGBinary_New(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->data, nullptr);
    EXPECT_EQ(empty->length, 0u);
    SGBinary_Free(empty);

    SGBinary rec{};
    EXPECT_EQ(SGBinary_Init(&rec, 3), 0);
    EXPECT_EQ(rec.length, 3u);
    SGBinary_Reset(&rec);
    EXPECT_EQ(rec.data, nullptr);
    EXPECT_EQ(SGBinary_Init(nullptr, 3), -1);
    EXPECT_EQ(SGBinary_Init(&rec, 0), 0);
    EXPECT_EQ(rec.data, nullptr);
}

TEST(SGBinary, MissingArgumentsGiveOne) {
    SGBinary b{};
    char* s = nullptr;
    const char abc[] = "abc";
    struct Case {
        const char* name;
        int got;
    } cases[] = {
        {"Copy dst", SGBinary_Copy(nullptr, &b)},
        {"Copy src", SGBinary_Copy(&b, nullptr)},
        {"Set record", SGBinary_Set(nullptr, abc, 3)},
        {"Set bytes", SGBinary_Set(&b, nullptr, 3)},
        {"Set bytes, zero length", SGBinary_Set(&b, nullptr, 0)},
        {"SetString record", SGBinary_SetString(nullptr, abc)},
        {"SetString text", SGBinary_SetString(&b, nullptr)},
        {"ToString out", SGBinary_ToString(nullptr, &b)},
        {"ToString record", SGBinary_ToString(&s, nullptr)},
        {"Add record", SGBinary_Add(nullptr, abc, 3)},
        {"Add bytes", SGBinary_Add(&b, nullptr, 3)},
        {"AddString", SGBinary_AddString(&b, nullptr)},
        {"Cmp", SGBinary_Cmp(nullptr, &b)},
        {"Reverse dst", SGBinary_Reverse(nullptr, &b)},
        {"Reverse same record", SGBinary_Reverse(&b, &b)},
        {"List add", SGBinaryList_Add(nullptr, &b)},
        {"List copy", SGBinaryList_Copy(nullptr, nullptr)},
        {"Tuple add", SGBinaryTupleList_Add(nullptr, &b, &b)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, 1) << c.name;
    SGBinary* dup = SGBinary_Duplicate(nullptr);  // an empty new record
    ASSERT_NE(dup, nullptr);
    EXPECT_EQ(dup->length, 0u);
    SGBinary_Free(dup);
}

TEST(SGBinary, SetStringKeepsNulOutsideLength) {
    SGBinary b{};
    ASSERT_EQ(SGBinary_SetString(&b, "abc"), 0);
    EXPECT_EQ(b.length, 3u);
    EXPECT_EQ(b.data[3], '\0');
    EXPECT_STREQ(reinterpret_cast<char*>(b.data), "abc");

    char* s = nullptr;
    ASSERT_EQ(SGBinary_ToString(&s, &b), 0);
    EXPECT_STREQ(s, "abc");
    SGMemory_free(s);
    SGBinary_Reset(&b);

    const char raw[] = "x";
    EXPECT_EQ(SGBinary_Set(&b, raw, 0), 0);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.length, 0u);
}

TEST(SGBinary, AddAppendsAndKeepsRecordValid) {
    SGBinary b{};
    ASSERT_EQ(SGBinary_AddString(&b, "ab"), 0);
    ASSERT_EQ(SGBinary_Add(&b, "cde", 3), 0);
    ASSERT_EQ(SGBinary_AddString(&b, ""), 0);
    EXPECT_EQ(str(b), "abcde");
    SGBinary_Reset(&b);
}

TEST(SGBinary, CmpAndCopy) {
    SGBinary e1{}, e2{};
    EXPECT_EQ(SGBinary_Cmp(&e1, &e2), 0);
    SGBinary ab = bytes("ab"), abc = bytes("abc"), ac = bytes("ac"), ab2 = bytes("ab");
    EXPECT_EQ(SGBinary_Cmp(&ab, &abc), 1);
    EXPECT_EQ(SGBinary_Cmp(&ab, &ac), 1);
    EXPECT_EQ(SGBinary_Cmp(&ab, &ab2), 0);
    SGBinary broken{nullptr, 2};
    EXPECT_EQ(SGBinary_Cmp(&broken, &ab), 1);

    SGBinary copy{};
    ASSERT_EQ(SGBinary_Copy(&copy, &abc), 0);
    EXPECT_NE(copy.data, abc.data);
    EXPECT_EQ(SGBinary_Cmp(&copy, &abc), 0);
    SGBinary_Reset(&copy);
    ASSERT_EQ(SGBinary_Copy(&copy, &e1), 0);
    EXPECT_EQ(copy.data, nullptr);

    SGBinary* dup = SGBinary_Duplicate(&abc);
    EXPECT_EQ(str(*dup), "abc");
    SGBinary_Free(dup);
    for (SGBinary* b : {&ab, &abc, &ac, &ab2}) SGBinary_Reset(b);
}

TEST(SGBinary, ReverseMirrorsBitsAndBytes) {
    struct Case {
        std::vector<unsigned char> in, out;
    } cases[] = {
        {{0x01, 0x80}, {0x01, 0x80}},
        {{0x01, 0x02}, {0x40, 0x80}},
        {{0xF0}, {0x0F}},
        {{0x12, 0x34, 0x56}, {0x6A, 0x2C, 0x48}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        SGBinary in{}, out{};
        if (!c.in.empty()) SGBinary_Set(&in, c.in.data(), c.in.size());
        ASSERT_EQ(SGBinary_Reverse(&out, &in), 0);
        EXPECT_EQ(std::vector<unsigned char>(out.data, out.data + out.length), c.out);
        SGBinary_Reset(&in);
        SGBinary_Reset(&out);
    }
}

TEST(SGBinary, CleanseWipesAndEmptiesRecord) {
    SGBinary b = bytes("secret");
    SGBinary_Cleanse(&b);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.length, 0u);
    EXPECT_EQ(SGBinary_Cleanse(nullptr), 0);
    EXPECT_EQ(SGBinary_Reset(nullptr), 0);
}

TEST(SGBinaryList, AddCopyAndReset) {
    SGBinaryList* list = SGBinaryList_New();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->tail, nullptr);

    SGBinary empty{};
    ASSERT_EQ(SGBinaryList_Add(list, &empty), 0);
    EXPECT_NE(list->tail, nullptr) << "one empty value still makes the list non-empty";
    EXPECT_EQ(values(list), std::vector<std::string>{""});

    SGBinary a = bytes("a"), b = bytes("bb");
    ASSERT_EQ(SGBinaryList_Add(list, &a), 0);
    ASSERT_EQ(SGBinaryList_Add(list, &b), 0);
    EXPECT_NE(list->next->value.data, a.data) << "values are deep copies";
    EXPECT_EQ(values(list), (std::vector<std::string>{"", "a", "bb"}));

    SGBinaryList copy{};
    ASSERT_EQ(SGBinaryList_Copy(&copy, list), 0);
    ASSERT_EQ(SGBinaryList_Add(&copy, &a), 0);
    EXPECT_EQ(values(&copy), (std::vector<std::string>{"", "a", "bb", "a"}));
    EXPECT_EQ(values(list).size(), 3u);

    SGBinaryList_Reset(&copy);
    EXPECT_EQ(copy.tail, nullptr);
    EXPECT_EQ(copy.next, nullptr);
    ASSERT_EQ(SGBinaryList_Add(&copy, &b), 0);
    EXPECT_EQ(values(&copy), std::vector<std::string>{"bb"});
    SGBinaryList_Reset(&copy);

    SGBinaryList emptyCopy{};
    SGBinaryList* none = SGBinaryList_New();
    ASSERT_EQ(SGBinaryList_Copy(&emptyCopy, none), 0);
    EXPECT_EQ(emptyCopy.tail, nullptr);
    SGBinaryList_Free(none);

    SGBinaryList_Free(list);
    SGBinary_Reset(&a);
    SGBinary_Reset(&b);
}

TEST(SGBinaryTupleList, FindReturnsFirstMatchSharingTheListBuffer) {
    SGBinaryTupleList* list = SGBinaryTupleList_New();
    struct {
        const char *key, *value;
    } pairs[] = {{"a", "1"}, {"b", "2"}, {"a", "3"}};
    for (const auto& p : pairs) {
        SGBinary k = bytes(p.key), v = bytes(p.value);
        ASSERT_EQ(SGBinaryTupleList_Add(list, &k, &v), 0);
        SGBinary_Reset(&k);
        SGBinary_Reset(&v);
    }
    SGBinary out{};
    ASSERT_EQ(SGBinaryTupleList_FindAsString(&out, list, "a"), 0);
    EXPECT_EQ(str(out), "1");
    EXPECT_EQ(out.data, list->value.data) << "the list keeps ownership";
    ASSERT_EQ(SGBinaryTupleList_FindAsString(&out, list, "b"), 0);
    EXPECT_EQ(str(out), "2");

    SGBinary untouched{reinterpret_cast<unsigned char*>(0x1), 7};
    EXPECT_EQ(SGBinaryTupleList_FindAsString(&untouched, list, "c"), -1);
    EXPECT_EQ(untouched.length, 7u);
    EXPECT_EQ(SGBinaryTupleList_FindAsString(&untouched, list, "ab"), -1);
    EXPECT_EQ(SGBinaryTupleList_FindAsString(&untouched, nullptr, "a"), -1);
    EXPECT_EQ(SGBinaryTupleList_Find(&untouched, list, nullptr), -1);
    SGBinaryTupleList_Free(list);

    // An empty key matches the empty head of an empty list.
    SGBinaryTupleList* emptyList = SGBinaryTupleList_New();
    SGBinary emptyKey{};
    SGBinary found{reinterpret_cast<unsigned char*>(0x1), 7};
    EXPECT_EQ(SGBinaryTupleList_Find(&found, emptyList, &emptyKey), 0);
    EXPECT_EQ(found.data, nullptr);
    EXPECT_EQ(found.length, 0u);
    SGBinaryTupleList_Free(emptyList);
}
