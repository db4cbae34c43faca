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
  std::string text;
  std::vector<int> key_lines;
};

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
        Document{"a 1\nb \"x y\" ; comment\n; whole line\nc\n{\n  d 2\n}\n", {1, 2, 4, 6}},
        Document{"command { vx 0.5  vy 0 }\nw { n { d -2.5 } }\nx 1 {\n y 2\n}\n",
                 {1, 1, 1, 2, 2, 2, 3, 4}},
        Document{"\"quoted key\" \"tab\\there \\\"q\\\" back\\\\slash {;}\"\nflag\nnext 3\n",
                 {1, 2, 3}},
        Document{"esc \"\\a\\b\\f\\n\\r\\t\\v\\0x\\'\"\n", {1}},
        Document{"s \"ab\" \\\n  \"cd\" \\\n\"ef\"\nt 1\n", {1, 4}},
        Document{"dup 1\ndup 2\nempty \"\" { k v }\n", {1, 2, 3, 3}}));

struct BadDocument {
  std::string text;
  int line;
};

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
    testing::Values(BadDocument{"a 1\nb \"open\nc 2\n", 2}, BadDocument{"a 1\n}\n", 2},
                    BadDocument{"a 1\nb\n{\n c 2\n", 2}, BadDocument{"{ b 1 }\n", 1},
                    BadDocument{"s \"ab\" \\ x\n", 1}, BadDocument{"s \"ab\" \\\n t\n", 2}));

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
