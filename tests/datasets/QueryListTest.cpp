#include "datasets/QueryList.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qm;
using qm::test::TempDir;

namespace {

std::vector<std::string> linesOf(const std::string& bytes)
{
    TempDir dir;
    qm::test::writeFile(dir.file("list.txt"), bytes);
    QueryListReader reader(dir.file("list.txt"));
    std::vector<std::string> lines;
    std::string line;
    while (reader.next(line))
        lines.push_back(line);
    EXPECT_FALSE(reader.next(line)) << "the end of a list must stay the end";
    return lines;
}

using Lines = std::vector<std::string>;

} // namespace

TEST(QueryListReader, LineEndsAndDroppedCarriageReturns)
{
    EXPECT_EQ(linesOf("25544\r\n00005\r\n"), (Lines{"25544", "00005"}));
    EXPECT_EQ(linesOf("25544\n00005"), (Lines{"25544", "00005"}));
    // A CR without LF neither ends the line nor stays in it.
    EXPECT_EQ(linesOf("255\r44\r\n\r00005\r"), (Lines{"25544", "00005"}));
    EXPECT_EQ(linesOf("1\r\n\r\n2\n\n"), (Lines{"1", "", "2", ""}));
    EXPECT_EQ(linesOf(""), Lines{});
}

TEST(QueryListReader, KeepsTwentyNineCharactersAndStopsAtEndOfListByte)
{
    const std::string name = "ISS (ZARYA)             "; // 24 characters
    EXPECT_EQ(linesOf("25544" + name + "tail\r\n1"), (Lines{"25544" + name, "1"}));
    // 0x1A ends the list, even inside the ignored tail of a line.
    EXPECT_EQ(linesOf("1\r\n2\x1a"
                      "3\r\n"),
        (Lines{"1", "2"}));
    EXPECT_EQ(linesOf("1\r\n\x1a"
                      "2\r\n"),
        (Lines{"1"}));
    EXPECT_EQ(linesOf("1" + std::string(40, 'x') + "\x1a\r\n2"), (Lines{"1" + std::string(28, 'x')}));
}

TEST(ParseQueryLine, NumberFieldFollowsTheIntegerReader)
{
    EXPECT_EQ(parseQueryLine("  123").number, 123);
    EXPECT_EQ(parseQueryLine("25544").number, 25544);
    EXPECT_EQ(parseQueryLine("42").number, 42); // a short line is a short field
    EXPECT_EQ(parseQueryLine("123  ").number, 0);
    EXPECT_EQ(parseQueryLine("abcde").number, 0);
    EXPECT_EQ(parseQueryLine("  -12").number, -12);
    EXPECT_EQ(parseQueryLine("A0000").number, 100000);
    EXPECT_EQ(parseQueryLine("Z9999ISS").number, 339999);
    EXPECT_EQ(parseQueryLine("a0000").number, 0);
    EXPECT_EQ(parseQueryLine("I0000").number, 0);
    EXPECT_EQ(parseQueryLine("A000").number, 0);
}

TEST(ParseQueryLine, NameFieldIsPaddedAndBlankMeansNone)
{
    QueryLine q = parseQueryLine("25544ISS");
    EXPECT_TRUE(q.hasName);
    EXPECT_EQ(std::string(q.name, kNameSize), "ISS" + std::string(21, ' '));

    q = parseQueryLine("25544" + std::string(24, ' '));
    EXPECT_FALSE(q.hasName);
    q = parseQueryLine("25544");
    EXPECT_FALSE(q.hasName);
    EXPECT_EQ(std::string(q.name, kNameSize), std::string(kNameSize, ' '));
}
