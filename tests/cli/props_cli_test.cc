// korvo props show, set and convert on property files that the library
// wrote and reads back.
#include "cli_test_support.hpp"

namespace cli_test {
namespace {

using depot_test::ReadBytes;
using depot_test::WriteBytes;

class PropsCommand : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(korvo_init(), 1); }

    // A segment list with a value of every type the command shows.
    static void Fill(Properties &list) {
        properties_put_string_dup(&list, "id", "seg-1");
        properties_put_long_dup(&list, "size", -7);
        properties_put_short_dup(&list, "n", 3);
        properties_put_ulong_dup(&list, "u", 4000000000u);
        properties_put_boolean_dup(&list, "disposable", 1);
        uint8_t bytes[] = {0xde, 0xad};
        OctetList octets = {2, 2, bytes};
        properties_put_OctetList_dup(&list, "checksum", &octets);
        Properties inner;
        properties_init(&inner);
        properties_put_string_dup(&inner, "location", "/a/b");
        properties_put_properties_dup(&list, "segment", &inner);
        PropertiesList toc;
        properties_list_init(&toc);
        seq_add(&toc, &inner, sizeof inner);  // the list takes `inner` over
        properties_put_properties_list_dup(&list, "toc", &toc);
        properties_list_delete(&toc);
    }

    // Saves the Fill list to `name` with `save`; the file's path.
    std::string Filled(const std::string &name, void (*save)(const Properties *, const char *)) {
        Properties list{};
        Fill(list);
        const std::string path = scratch_ / name;
        save(&list, path.c_str());
        properties_delete(&list);
        return path;
    }

    // Loads `path` with the library in `layout`.
    static Json Load(const std::string &path, const std::string &layout) {
        Properties list;
        properties_init(&list);
        if (layout == "plain")
            properties_load(&list, path.c_str());
        else if (layout == "marked")
            properties_load_improved(&list, path.c_str());
        else
            properties_load_without_len(&list, path.c_str());
        Json keys = Json::object();
        for (uint32_t i = 0; i < list.length; ++i)
            keys[list.buffer[i].key] = list.buffer[i].value.type->name;
        properties_delete(&list);
        return keys;
    }

    ScratchDir scratch_;
};

TEST_F(PropsCommand, ShowFindsTheLayoutAndPrintsTypedValues) {
    const std::string plain = Filled("seg.plist", properties_save),
                      marked = Filled("seg.itc", properties_save_improved),
                      bare = Filled("seg.toc", properties_save_without_len);

    for (const auto &[path, layout] : std::vector<std::pair<std::string, std::string>>{
             {plain, "plain"}, {marked, "marked"}, {bare, "bare"}}) {
        Outcome run = korvo({"props", "show", path, "--json"});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        Json shown = run.json();
        EXPECT_EQ(shown["layout"], layout);
        const Json &p = shown["properties"];
        ASSERT_EQ(p.size(), 8u);
        EXPECT_EQ(p[0], (Json{{"key", "id"}, {"type", "string"}, {"value", "seg-1"}}));
        EXPECT_EQ(p[1]["value"], -7);
        EXPECT_EQ(p[2]["type"], "short");
        EXPECT_EQ(p[3]["value"], 4000000000u);
        EXPECT_EQ(p[4]["value"], true);
        EXPECT_EQ(p[5], (Json{{"key", "checksum"}, {"type", "octets"}, {"value", "dead"}}));
        EXPECT_EQ(p[6]["value"][0]["value"], "/a/b");
        EXPECT_EQ(p[7]["type"], "list");
        EXPECT_EQ(p[7]["value"][0][0]["key"], "location");
    }

    Outcome run = korvo({"props", "show", marked});
    ASSERT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), marked + ": marked layout, 8 properties");
    EXPECT_THAT(run.out, HasSubstr("  id          string      \"seg-1\"\n"));
    EXPECT_THAT(
        run.out,
        HasSubstr("  segment     properties  1 property\n    location  string      \"/a/b\"\n"));
    EXPECT_THAT(run.out,
                HasSubstr("  toc         list        1 list\n    [0]\n      location  string"));
}

TEST_F(PropsCommand, SetPutsTypedValuesAndKeepsTheFilesLayout) {
    std::string path = scratch_ / "new.toc";
    Outcome run = korvo({"props", "set", path, "id", "seg-2", "--layout", "bare"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "Set \"id\" in " + path + " (bare layout, a new file)\n");
    ASSERT_EQ(korvo({"props", "set", path, "size", "1048576", "-t", "long"}).exit_code, 0);
    ASSERT_EQ(korvo({"props", "set", path, "sum", "01:02:ff", "-t", "octets"}).exit_code, 0);
    ASSERT_EQ(korvo({"props", "set", path, "id", "seg-3"}).exit_code, 0);
    EXPECT_EQ(Load(path, "bare"),
              (Json{{"id", "string"}, {"size", "long"}, {"sum", "Vem_Types::OctetList"}}));
    Json shown = korvo({"props", "show", path, "--json"}).json();
    EXPECT_EQ(shown["properties"][0]["value"], "seg-3") << "a put replaces the key in its place";
    EXPECT_EQ(shown["properties"][2]["value"], "0102ff");

    ASSERT_EQ(korvo({"props", "set", path, "sum", "--remove"}).exit_code, 0);
    EXPECT_EQ(Load(path, "bare"), (Json{{"id", "string"}, {"size", "long"}}));

    // Wrong values, types and keys change nothing.
    std::string before = ReadBytes(path);
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"props", "set", path, "size", "12x", "-t", "long"},
             {"props", "set", path, "size", "70000", "-t", "short"},
             {"props", "set", path, "flag", "maybe", "-t", "boolean"},
             {"props", "set", path, "sum", "0", "-t", "octets"},
             {"props", "set", path, "x", "1", "-t", "float"},
             {"props", "set", path, "x"}}) {
        Outcome bad = korvo(args);
        EXPECT_EQ(bad.exit_code, 2) << args[3] << ": " << bad.err;
    }
    EXPECT_EQ(korvo({"props", "set", path, "absent", "--remove"}).exit_code, 3);
    EXPECT_EQ(ReadBytes(path), before);
}

TEST_F(PropsCommand, ConvertRewritesTheSameListInAnotherLayout) {
    const std::string plain = Filled("seg.plist", properties_save);
    Json keys = Load(plain, "plain");

    std::string marked = scratch_ / "seg.itc";
    Outcome run = korvo({"props", "convert", plain, "--to", "marked", "-o", marked});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(Load(marked, "marked"), keys);
    ASSERT_EQ(korvo({"props", "convert", plain, "--to", "bare"}).exit_code, 0);
    EXPECT_EQ(Load(plain, "bare"), keys);
    EXPECT_EQ(korvo({"props", "show", plain, "--json"}).json()["layout"], "bare");
    EXPECT_EQ(korvo({"props", "convert", plain, "--to", "xml"}).exit_code, 2);
}

TEST_F(PropsCommand, FilesThatAreNotPropertyFilesAreRefused) {
    std::string junk = scratch_ / "junk";
    WriteBytes(junk, "not a list at all");
    Outcome run = korvo({"props", "show", junk});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "korvo: " + junk +
                           " is not a property file in any layout: Failed to decode data. The "
                           "error code is 2. (message 35)\n");
    run = korvo({"props", "show", scratch_ / "absent"});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace cli_test
