#include "catalogue/Support.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

using namespace qm;

namespace {

struct IntCase {
    const char* text;
    bool ok;
    int value;
};

TEST(IntegerValue, AcceptsLeadingBlanksAndSignRejectsEverythingElse)
{
    const IntCase cases[] = {
        {"25544", true, 25544},
        {"   42", true, 42},
        {"00042", true, 42},
        {"-0042", true, -42},
        {"  +17", true, 17},
        {"42   ", false, 0}, // trailing blanks are not trimmed
        {"     ", false, 0},
        {"   - ", false, 0},
        {"4 2  ", false, 0},
        {"1.5  ", false, 0},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const auto& c : cases) {
        bool ok = !c.ok;
        const std::string text = c.text;
        EXPECT_EQ(Integer_Value(text, 1, static_cast<int>(text.size()), ok), c.value) << text;
        EXPECT_EQ(ok, c.ok) << text;
    }
}

TEST(IntegerValue, TakesTheColumnRangeAndCutsAtTheEndOfText)
{
    bool ok = false;
    EXPECT_EQ(Integer_Value("1 25544U", 3, 5, ok), 25544);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Integer_Value("ab 12", 3, 10, ok), 12); // field shorter than asked
    EXPECT_TRUE(ok);
}

TEST(FieldReaders, EmptyFieldIsAFatalStop)
{
    bool ok = true;
    try {
        Integer_Value("abc", 4, 2, ok);
        FAIL() << "no fatal stop";
    } catch (const FatalStop& stop) {
        EXPECT_EQ(stop.message, "Null call to Integer_Value!");
    }
    try {
        Real_Value("", 1, 8, ok);
        FAIL() << "no fatal stop";
    } catch (const FatalStop& stop) {
        EXPECT_EQ(stop.message, "Null call to Real_Value!");
    }
    try {
        Fatal_Error("stop here");
        FAIL() << "Fatal_Error returned";
    } catch (const FatalStop& stop) {
        EXPECT_EQ(stop.message, "stop here");
    }
}

TEST(CatalogNumber, ReadsDigitsAsIntegerValueDoesAndTheLetterFormAbove99999)
{
    // The letters skip I and O: H9999 is followed by J0000, N9999 by P0000.
    const IntCase cases[] = {
        {"25544", true, 25544},
        {"   42", true, 42},
        {"-0012", true, -12},
        {"A0000", true, 100000},
        {"H9999", true, 179999},
        {"J0000", true, 180000},
        {"N1234", true, 221234},
        {"P0000", true, 230000},
        {"Z9999", true, 339999},
        {"I0000", false, 0},
        {"O1234", false, 0},
        {"a1234", false, 0},
        {"A123 ", false, 0},
        {"A 123", false, 0},
        {" A123", false, 0},
        {"AB123", false, 0},
        {"A12-4", false, 0},
        {"A123", false, 0},
    };
    for (const auto& c : cases) {
        bool ok = !c.ok;
        const std::string line = std::string("1 ") + c.text;
        EXPECT_EQ(Catalog_Number(line, 3, ok), c.value) << c.text;
        EXPECT_EQ(ok, c.ok) << c.text;
    }
    // Only the catalogue number takes letters.
    bool ok = true;
    EXPECT_EQ(Integer_Value("A0000", 1, 5, ok), 0);
    EXPECT_FALSE(ok);
    try {
        Catalog_Number("1 ", 3, ok);
        FAIL() << "no fatal stop";
    } catch (const FatalStop& stop) {
        EXPECT_EQ(stop.message, "Null call to Integer_Value!");
    }

    EXPECT_EQ(Catalog_Number_Text(99999), "99999");
    EXPECT_EQ(Catalog_Number_Text(-12), "-12");
    EXPECT_EQ(Catalog_Number_Text(180001), "J0001");
    EXPECT_EQ(Catalog_Number_Text(339999), "Z9999");
    for (int n = 100000; n <= 339999; n += 7) {
        ASSERT_EQ(Catalog_Number(Catalog_Number_Text(n), 1, ok), n);
        ASSERT_TRUE(ok);
    }
}

struct RealCase {
    const char* text;
    bool ok;
    double value;
};

TEST(RealValue, AcceptsPlainDecimalNotationOnly)
{
    const RealCase cases[] = {
        {" 51.6416", true, 51.6416},
        {"51.6416 ", true, 51.6416},
        {"  -1.5e3", true, -1500},
        {"+2.5E-2 ", true, 0.025},
        {"     .5 ", true, 0.5},
        {"      7.", true, 7},
        {"      12", true, 12},
        {"        ", false, 0},
        {"   -    ", false, 0},
        {"51,6416 ", false, 0},
        {"5 1.6416", false, 0},
        {"  1.0e  ", false, 0},
        {"     inf", false, 0},
        {"     nan", false, 0},
        {"    0x1p", false, 0},
        {"1.2.3   ", false, 0},
    };
    for (const auto& c : cases) {
        bool ok = !c.ok;
        const std::string text = c.text;
        EXPECT_DOUBLE_EQ(Real_Value(text, 1, static_cast<int>(text.size()), ok), c.value) << text;
        EXPECT_EQ(ok, c.ok) << text;
    }
}

TEST(RealValue, IgnoresACommaDecimalLocale)
{
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "nl_NL.UTF-8"};
    const char* chosen = nullptr;
    for (const char* n : names)
        if (std::setlocale(LC_ALL, n)) {
            chosen = n;
            break;
        }
    if (!chosen)
        GTEST_SKIP() << "no comma-decimal locale installed";
    bool ok = false;
    const double v = Real_Value(" 51.6416", 1, 8, ok);
    bool commaOk = true;
    Real_Value(" 51,6416", 1, 8, commaOk);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_TRUE(ok);
    EXPECT_DOUBLE_EQ(v, 51.6416);
    EXPECT_FALSE(commaOk);
}

} // namespace
