// The INFO reader behind the scenario, gait table and sweep files, checked against Boost's INFO
// parser: the same tree for every syntax it accepts, its own writer's output read back the same,
// and the line of every key and of every syntax error.

#include <gtest/gtest.h>

#include <boost/property_tree/info_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <sstream>

#include "core/misc/InfoFileError.h"
#include "core/misc/InfoNode.h"

namespace velmora {
namespace {

namespace pt = boost::property_tree;

pt::ptree boostTree(const std::string& text) {
  pt::ptree tree;
  std::istringstream in(text);
  pt::read_info(in, tree);
  return tree;
}

/// Expects `node` and `tree` to have the same keys, values and order below them.
void expectSameTree(const InfoNode& node, const pt::ptree& tree, const std::string& where) {
  ASSERT_EQ(node.children.size(), tree.size()) << where;
  auto it = tree.begin();
  for (const InfoNode& child : node.children) {
    EXPECT_EQ(child.key, it->first) << where;
    EXPECT_EQ(child.value, it->second.data()) << where << "." << child.key;
    expectSameTree(child, it->second, where + "." + child.key);
    ++it;
  }
}

/// The line of every key below `node`, in file order.
void collectLines(const InfoNode& node, std::vector<int>& lines) {
  for (const InfoNode& child : node.children) {
    lines.push_back(child.line);
    collectLines(child, lines);
  }
}

struct Document {
  const char* name;  ///< the syntax the text exercises
  std::string text;
  std::vector<int> key_lines;
};

void PrintTo(const Document& document, std::ostream* out) { *out << document.name; }

class InfoDocument : public testing::TestWithParam<Document> {};

TEST_P(InfoDocument, ReadsAsBoostDoesWithLinesAndWritesBackTheSameTree) {
  const InfoNode root = parseInfo(GetParam().text, "doc.info");
  expectSameTree(root, boostTree(GetParam().text), "");
  std::vector<int> lines;
  collectLines(root, lines);
  EXPECT_EQ(lines, GetParam().key_lines);
  std::ostringstream written;
  writeInfo(root, written);
  expectSameTree(root, boostTree(written.str()), "(written)");
  expectSameTree(parseInfo(written.str(), "written.info"), boostTree(written.str()), "(reread)");
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, InfoDocument,
    testing::Values(
        Document{"comments_and_block_on_next_line",
                 "a 1\nb \"x y\" ; comment\n; whole line\nc\n{\n  d 2\n}\n",
                 {1, 2, 4, 6}},
        Document{"inline_and_nested_blocks",
                 "command { vx 0.5  vy 0 }\nw { n { d -2.5 } }\nx 1 {\n y 2\n}\n",
                 {1, 1, 1, 2, 2, 2, 3, 4}},
        Document{"quoted_key_and_key_without_value",
                 "\"quoted key\" \"tab\\there \\\"q\\\" back\\\\slash {;}\"\nflag\nnext 3\n",
                 {1, 2, 3}},
        Document{"escape_sequences", "esc \"\\a\\b\\f\\n\\r\\t\\v\\0x\\'\"\n", {1}},
        Document{"continued_string", "s \"ab\" \\\n  \"cd\" \\\n\"ef\"\nt 1\n", {1, 4}},
        Document{
            "duplicate_keys_and_empty_value", "dup 1\ndup 2\nempty \"\" { k v }\n", {1, 2, 3, 3}}));

struct BadDocument {
  const char* name;  ///< the syntax error in the text
  std::string text;
  int line;
};

void PrintTo(const BadDocument& document, std::ostream* out) { *out << document.name; }

class BadInfoDocument : public testing::TestWithParam<BadDocument> {};

TEST_P(BadInfoDocument, IsRejectedAsBoostDoesNamingFileAndLine) {
  try {
    parseInfo(GetParam().text, "bad.info");
    ADD_FAILURE() << "accepted";
  } catch (const InfoFileError& error) {
    EXPECT_EQ(error.file(), "bad.info");
    EXPECT_EQ(error.line(), GetParam().line) << error.what();
    EXPECT_FALSE(error.problem().empty());
  }
  EXPECT_THROW(boostTree(GetParam().text), pt::info_parser_error);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, BadInfoDocument,
    testing::Values(BadDocument{"unterminated_string", "a 1\nb \"open\nc 2\n", 2},
                    BadDocument{"unmatched_closing_brace", "a 1\n}\n", 2},
                    BadDocument{"unclosed_block", "a 1\nb\n{\n c 2\n", 2},
                    BadDocument{"block_without_key", "{ b 1 }\n", 1},
                    BadDocument{"text_after_continuation", "s \"ab\" \\ x\n", 1},
                    BadDocument{"continuation_without_string", "s \"ab\" \\\n t\n", 2}));

TEST(InfoFile, MissingFileIsNamedWithoutALine) {
  try {
    readInfoFile("/nonexistent/velmora.info");
    FAIL() << "read";
  } catch (const InfoFileError& error) {
    EXPECT_EQ(error.file(), "/nonexistent/velmora.info");
    EXPECT_EQ(error.line(), 0);
  }
}

TEST(InfoFile, DeepNestingIsAnErrorNotAStackOverflow) {
  std::string deep;
  for (int level = 0; level < 100000; ++level) deep += "a {\n";
  EXPECT_THROW(parseInfo(deep, "deep.info"), InfoFileError);
}

}  // namespace
}  // namespace velmora
