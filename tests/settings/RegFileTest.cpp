// The .reg text form alone: what a hand-edited file gives, key nesting, and a writer that stays
// linear and needs no recursion however deep the hive.
#include "platform/RegFile.h"

#include <gtest/gtest.h>

using namespace platform::regfile;

namespace {

std::string keyPath(size_t depth, std::string_view name = "k")
{
    std::string path = "HKEY_CURRENT_USER";
    for (size_t i = 0; i < depth; ++i) {
        path += '\\';
        path += name;
    }
    return path;
}

const Key *walk(const Key &root, size_t depth, std::string_view name = "k")
{
    const Key *key = &root;
    for (size_t i = 0; key && i < depth; ++i)
        key = key->Find(name);
    return key;
}

TEST(RegFile, ReportsTheLinesItSkipsAndUsesTheRest)
{
    struct Case {
        const char *what;
        std::string text;
        std::vector<size_t> skipped;
    } const cases[] = {
        {"clean", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=\"1\"\r\n", {}},
        {"no header", "[HKEY_CURRENT_USER\\A]\r\n\"V\"=\"1\"\r\n", {}},
        {"a stray word first", "hola\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=\"1\"\r\n", {1}},
        {"other hive with its values",
         "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"W\"=\"2\"\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=\"1\"\r\n",
         {2, 3}},
        {"value before any key", "REGEDIT4\r\n\"W\"=\"2\"\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=\"1\"\r\n", {2}},
        {"NUL in one line",
         std::string("REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"W\"=\"\0\"\r\n\"V\"=\"1\"\r\n", 51),
         {3}},
        {"broken hex over two lines",
         "REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"W\"=hex:01,\\\r\n  zz\r\n\"V\"=\"1\"\r\n",
         {3, 4}},
        {"hex list cut by a NUL in its continuation",
         std::string("REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"W\"=hex:01,\\\r\n  0\0\r\n\"V\"=\"1\"\r\n", 62),
         {3, 4}},
        {"continued hex list below a deletion",
         "REGEDIT4\r\n[-HKEY_CURRENT_USER\\B]\r\n\"W\"=hex:01,\\\r\n  02\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=\"1\"\r\n",
         {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const ParseResult result = Parse(c.text);
        ASSERT_TRUE(result.root);
        EXPECT_EQ(result.skipped, c.skipped);
        const Key *a = result.root->Find("a");
        ASSERT_TRUE(a);
        const Value *v = a->FindValue("v");
        ASSERT_TRUE(v);
        EXPECT_EQ(v->data, std::string("1\0", 2));
        EXPECT_FALSE(result.root->Find("X"));
        EXPECT_FALSE(a->FindValue("W"));
    }
}

TEST(RegFile, KeysDeeperThanWindowsAllowsAreSkipped)
{
    const std::string text = "REGEDIT4\r\n[" + keyPath(kMaxKeyDepth) + "]\r\n\"V\"=\"deep\"\r\n[" +
                             keyPath(kMaxKeyDepth + 1, "j") + "]\r\n\"V\"=\"too deep\"\r\n";
    const ParseResult result = Parse(text);
    EXPECT_EQ(result.skipped, (std::vector<size_t>{4, 5}));
    const Key *deepest = walk(*result.root, kMaxKeyDepth);
    ASSERT_TRUE(deepest);
    EXPECT_TRUE(deepest->FindValue("V"));
    EXPECT_FALSE(result.root->Find("j"));
}

TEST(RegFile, WriterIsLinearAndNeedsNoRecursion)
{
    // A file of deep keys reads and writes back in about its own size, not its square.
    std::string text = "REGEDIT4\r\n\r\n";
    for (int branch = 0; branch < 20; ++branch)
        text += "[" + keyPath(kMaxKeyDepth - 1, "nivel") + "\\b" + std::to_string(branch) + "]\r\n\r\n";
    const ParseResult parsed = Parse(text);
    ASSERT_TRUE(parsed.Clean());
    const std::string written = Write(*parsed.root);
    EXPECT_LE(written.size(), text.size());
    const ParseResult again = Parse(written);
    EXPECT_TRUE(again.Clean());
    EXPECT_EQ(Write(*again.root), written);

    // Far deeper than any file may hold, built in memory: no stack is deep enough for a
    // recursive writer.
    Key root;
    Key *key = &root;
    for (int i = 0; i < 200000; ++i)
        key = key->Add("k", false);
    key->Set("V", 1, std::string("x\0", 2));
    const std::string huge = Write(root);
    EXPECT_LT(huge.size(), 200000u * 2 + 200);
    // And its destruction must not recurse either: unlink the chain from the bottom.
    std::vector<std::unique_ptr<Key>> chain;
    for (Key *k = &root; !k->children.empty();) {
        auto child = std::move(k->children.begin()->second);
        k->children.clear();
        k = child.get();
        chain.push_back(std::move(child));
    }
    while (!chain.empty())
        chain.pop_back();
}

TEST(RegFile, FoldingKnowsAccentedLettersInUtf8)
{
    Key root;
    root.Add("Música", false);
    EXPECT_TRUE(root.Find("MÚSICA"));
    EXPECT_TRUE(root.Find("música"));
    EXPECT_FALSE(root.Find("Musica"));
    EXPECT_EQ(Fold("añoÑ÷"), "AÑOÑ÷");
}

TEST(RegFile, ValuesOfOneNameInAnyLetterCaseAreOneValue)
{
    // The last line of a name wins and keeps the place and spelling of the first; a deletion
    // removes the value whatever its case, and setting it again puts it last.
    const ParseResult result = Parse("REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n"
                                     "\"Canción\"=\"1\"\r\n"
                                     "\"Otro\"=\"x\"\r\n"
                                     "\"CANCIÓN\"=\"2\"\r\n"
                                     "\"borrado\"=\"y\"\r\n"
                                     "\"Tercero\"=\"z\"\r\n"
                                     "\"BORRADO\"=-\r\n"
                                     "\"otro\"=dword:00000007\r\n"
                                     "\"Tercero\"=-\r\n"
                                     "\"tercero\"=\"again\"\r\n"
                                     "\"Cancion\"=\"no accent, another name\"\r\n"
                                     "\"nunca\"=-\r\n");
    ASSERT_TRUE(result.Clean());
    const Key *a = result.root->Find("A");
    ASSERT_TRUE(a);
    struct Expected {
        const char *lookup;
        const char *name;  // nullptr: no such value
        std::string data;
    };
    const Expected cases[] = {
        {"canción", "Canción", std::string("2\0", 2)},
        {"OTRO", "Otro", std::string("\x07\0\0\0", 4)},
        {"Borrado", nullptr, ""},
        {"TERCERO", "tercero", std::string("again\0", 6)},
        {"CANCION", "Cancion", std::string("no accent, another name\0", 24)},
        {"nunca", nullptr, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lookup);
        const Value *v = a->FindValue(c.lookup);
        ASSERT_EQ(v != nullptr, c.name != nullptr);
        if (v) {
            EXPECT_EQ(v->name, c.name);
            EXPECT_EQ(v->data, c.data);
        }
    }
    EXPECT_EQ(Write(*result.root), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n"
                                   "\"Canción\"=\"2\"\r\n"
                                   "\"Otro\"=dword:00000007\r\n"
                                   "\"tercero\"=\"again\"\r\n"
                                   "\"Cancion\"=\"no accent, another name\"\r\n\r\n");
}

}  // namespace
