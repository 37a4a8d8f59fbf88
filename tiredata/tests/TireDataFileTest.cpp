#include "tiredata/TireDataFile.h"

#include <gtest/gtest.h>

#include <string>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "testing/TestSupport.h"

namespace morvex {
namespace {

std::string Fixture(const char* name) { return std::string(MORVEX_TEST_DATA_DIR) + "/" + name; }

// The message of the error that reading `name` raises, checking its class.
template <class Error>
std::string ReadError(const char* name) {
  try {
    ReadTireDataFile(Fixture(name));
  } catch (const Error& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("wrong error class: ") + e.what();
  }
  return "no error";
}

using Fields = std::vector<std::string>;

TEST(SplitFields, SeparatorsAndBlanks) {
  const Fields expected{"-4", "-1", "-2", "-3"};
  EXPECT_EQ(SplitFields("-4 -1 -2 -3"), expected);
  EXPECT_EQ(SplitFields("-4;-1;-2;-3"), expected);
  EXPECT_EQ(SplitFields("-4 ; -1 ; -2 ; -3"), expected);
  EXPECT_EQ(SplitFields("\t -4\t-1;\t-2  ;-3  "), expected);
  EXPECT_EQ(SplitFields("a;;b"), (Fields{"a", "", "b"}));
  EXPECT_EQ(SplitFields(";a"), (Fields{"", "a"}));
  EXPECT_EQ(SplitFields("a;"), (Fields{"a", ""}));
  EXPECT_EQ(SplitFields("a; "), (Fields{"a"}));  // only a final ';' adds the empty field
  EXPECT_EQ(SplitFields(""), Fields{});
  EXPECT_EQ(SplitFields(" \t "), Fields{});
  EXPECT_EQ(SplitFields(";"), (Fields{"", ""}));
}

TEST(SplitFields, QuotedTexts) {
  EXPECT_EQ(SplitFields(R"("a b";"c;d" e)"), (Fields{"a b", "c;d", "e"}));
  EXPECT_EQ(SplitFields(R"("say ""hi""")"), (Fields{R"(say "hi")"}));
  EXPECT_EQ(SplitFields(R"("";x)"), (Fields{"", "x"}));
  EXPECT_EQ(SplitFields(R"("ab"cd)"), (Fields{"ab", "cd"}));
  EXPECT_EQ(SplitFields(R"("open end)"), (Fields{"open end"}));
  EXPECT_EQ(SplitFields(R"(x")"), (Fields{"x\""}));  // a quote inside a word is a character
}

TEST(SplitFields, NulEndsTheLine) {
  using namespace std::string_literals;
  EXPECT_EQ(SplitFields("1;2\0;3"s), (Fields{"1", "2"}));
  EXPECT_EQ(SplitFields("\0 1"s), Fields{});
  EXPECT_EQ(SplitFields("1;\0x"s), (Fields{"1", ""}));
}

TEST(SplitLines, AllLineEnds) {
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (Fields{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\n"), (Fields{"a"}));
  EXPECT_EQ(SplitLines("a\r\n\r\n"), (Fields{"a", ""}));
  EXPECT_EQ(SplitLines("a\n\rb"), (Fields{"a", "", "b"}));
  EXPECT_EQ(SplitLines(""), Fields{});
  EXPECT_EQ(SplitLines("\n"), Fields{""});
}

TEST(ReadTireDataFile, HeaderLinesBeforeTheFirstBlock) {
  const TTireDataSet data = ReadTireDataFile(Fixture("header_lines.plt"));
  ASSERT_EQ(data.CaseCount(), 2);
  const TLoadCase& first = data.Cases[0];
  EXPECT_EQ(first.Camber, 0.0);
  EXPECT_EQ(first.Loads, (std::vector<double>{2000, 4000, 6000}));
  EXPECT_EQ(first.Slips, (std::vector<double>{-10, 0, 10}));
  EXPECT_EQ(first.Values, (std::vector<double>{-1850, -3400, -4700, 20, 35, 50, 1890, 3450, 4760}));
  EXPECT_EQ(first.Value(2, 1), 3450);
  const TLoadCase& second = data.Cases[1];
  EXPECT_EQ(second.Camber, -2.5);
  EXPECT_EQ(second.Slips, (std::vector<double>{-10, 10}));
  EXPECT_EQ(second.Value(1, 2), 4800);
}

TEST(ReadTireDataFile, KeywordAnywhereInALineButExactCase) {
  const TTireDataSet data = ReadTireDataFile(Fixture("keyword_in_text.plt"));
  ASSERT_EQ(data.CaseCount(), 2);
  EXPECT_EQ(data.Cases[0].Camber, 1.5);
  EXPECT_EQ(data.Cases[0].Values, (std::vector<double>{-900, -1400, 910, 1420}));
  EXPECT_EQ(data.Cases[1].Camber, -1.5);
  EXPECT_EQ(data.Cases[1].Slips, (std::vector<double>{0}));
}

TEST(ReadTireDataFile, SeparatorsGiveTheSameRow) {
  const TTireDataSet data = ReadTireDataFile(Fixture("separators.plt"));
  ASSERT_EQ(data.CaseCount(), 1);
  const TLoadCase& c = data.Cases[0];
  ASSERT_EQ(c.RowCount(), 5u);
  for (size_t r = 0; r < 5; ++r) {
    EXPECT_EQ(c.Slips[r], -4);
    EXPECT_EQ(c.Value(r, 0), -1);
    EXPECT_EQ(c.Value(r, 1), -2);
    EXPECT_EQ(c.Value(r, 2), -3);
  }
}

// A row longer than its loads line is a misplaced column or a loads line
// that lost a load: reading the first fields would shift values to the
// wrong loads without a word, so the row is refused where it stands.
TEST(ReadTireDataFile, SurplusFieldsAreAnErrorNamingTheRow) {
  EXPECT_EQ(ReadError<Exception>("surplus_fields.plt"),
            "Too many fields on a data row (file " + Fixture("surplus_fields.plt") +
                ", line 4, field 4: the row has 6 fields, the loads line of block 1 asks for 3, a slip and 2 "
                "values)");
  // A final ';' is an empty field too many.
  EXPECT_THROW(ParseTireDataText("LOAD_CASE\n0\n1000\n1;2;\n"), Exception);
  // Exactly L + 1 fields read.
  EXPECT_EQ(ParseTireDataText("LOAD_CASE\n0\n1000 2000\n1 2 3\n").Cases.at(0).Values, (std::vector<double>{2, 3}));
}

TEST(ReadTireDataFile, BlocksWithoutRowsOrLoads) {
  const TTireDataSet data = ReadTireDataFile(Fixture("no_rows.plt"));
  ASSERT_EQ(data.CaseCount(), 3);
  EXPECT_EQ(data.Cases[0].LoadCount(), 2u);
  EXPECT_EQ(data.Cases[0].RowCount(), 0u);
  EXPECT_EQ(data.Cases[1].RowCount(), 1u);
  EXPECT_EQ(data.Cases[2].Camber, 3);
  EXPECT_EQ(data.Cases[2].LoadCount(), 0u);
  EXPECT_EQ(data.Cases[2].RowCount(), 0u);
}

TEST(ReadTireDataFile, TwoBlocksWithTheSameCamberStayApart) {
  const TTireDataSet data = ReadTireDataFile(Fixture("two_blocks_camber_zero.plt"));
  ASSERT_EQ(data.CaseCount(), 2);
  EXPECT_EQ(data.Cases[0].Loads, std::vector<double>{1000});
  EXPECT_EQ(data.Cases[1].Loads, std::vector<double>{2000});
  EXPECT_EQ(data.Cases[1].Values, (std::vector<double>{-20, 20}));
}

TEST(ReadTireDataFile, LineEndsAndFinalLineBreak) {
  const TTireDataSet cr = ReadTireDataFile(Fixture("cr_line_ends.plt"));
  ASSERT_EQ(cr.CaseCount(), 1);
  EXPECT_EQ(cr.Cases[0].Values, (std::vector<double>{-10, -20, 10, 20}));  // no row from the last CR
  const TTireDataSet no_final_break = ParseTireDataText("LOAD_CASE\r\n0\r\n1000\r\n-1;-10\r\n1;10");
  ASSERT_EQ(no_final_break.CaseCount(), 1);
  EXPECT_EQ(no_final_break.Cases[0].Slips, (std::vector<double>{-1, 1}));
}

TEST(ReadTireDataFile, QuotedFields) {
  const TTireDataSet data = ReadTireDataFile(Fixture("quoted_fields.plt"));
  ASSERT_EQ(data.CaseCount(), 1);
  EXPECT_EQ(data.Cases[0].Loads, (std::vector<double>{1000, 2000}));
  EXPECT_EQ(data.Cases[0].Values, (std::vector<double>{-10, -20, 10, 20}));
  // The camber line is converted whole: its quotes make it no number.
  EXPECT_THROW(ParseTireDataText("LOAD_CASE\n\"0\"x\n1\n"), EConvertError);
}

TEST(ReadTireDataFile, CommaDecimalSeparator) {
  SetDecimalSeparator(',');
  TTireDataSet data;
  EXPECT_NO_THROW(data = ReadTireDataFile(Fixture("comma_decimal.plt")));
  SetDecimalSeparator('.');
  ASSERT_EQ(data.CaseCount(), 1);
  EXPECT_EQ(data.Cases[0].Camber, 0.5);
  EXPECT_EQ(data.Cases[0].Loads, (std::vector<double>{1200, 2400.5}));
  EXPECT_EQ(data.Cases[0].Slips, (std::vector<double>{-0.5, 0.5}));
  EXPECT_EQ(data.Cases[0].Values, (std::vector<double>{-100.25, -200.75, 1000, 0.25}));
  // With the point as separator the same file is not numbers.
  EXPECT_EQ(ReadError<EConvertError>("comma_decimal.plt"),
            "'0,5' n'est pas une valeur en virgule flottante correcte (file " + Fixture("comma_decimal.plt") +
                ", line 2: the camber line of block 1)");
}

// Each message keeps its fixed text and then says where: the file, the
// line and field as an editor counts them, and what was due there.
TEST(ReadTireDataFile, ErrorsNameTheTextOrIndexAndWhereTheyAre) {
  const auto where = [](const char* name) { return " (file " + Fixture(name) + ", line "; };
  EXPECT_EQ(ReadError<EConvertError>("loads_trailing_semicolon.plt"),
            "'' n'est pas une valeur en virgule flottante correcte" + where("loads_trailing_semicolon.plt") +
                "3, field 3: load 3 of the loads line of block 1)");
  const std::string blank = ReadError<EListError>("empty_line_at_end.plt");
  EXPECT_EQ(blank.rfind("Indice de liste hors limites (0)" + where("empty_line_at_end.plt"), 0), 0u) << blank;
  EXPECT_NE(blank.find("field 1: the line is blank"), std::string::npos) << blank;
  EXPECT_NE(ReadError<EListError>("blank_line_in_block.plt").find("the line is blank"), std::string::npos);
  EXPECT_EQ(ReadError<EListError>("short_row.plt"),
            "Indice de liste hors limites (2)" + where("short_row.plt") +
                "5, field 3: the value at load 2000 is missing: the row has 2 of the 4 fields the loads line "
                "asks for, a slip and 3 values)");
  // The last block lacks its loads line, which would be line 6 of 6 (the
  // seventh as an editor counts).
  EXPECT_EQ(ReadError<EListError>("truncated_last_block.plt"),
            "Indice de liste hors limites (6)" + where("truncated_last_block.plt") +
                "7: the file ends where the loads line of block 2 is due)");
  EXPECT_EQ(ReadError<EFOpenError>("no_such_file.plt"),
            "Impossible d'ouvrir le fichier " + Fixture("no_such_file.plt"));
  EXPECT_EQ(ReadError<EFOpenError>("."), "Impossible d'ouvrir le fichier " + Fixture("."));
}

TEST(ParseTireData, ErrorOrderWithinABlock) {
  // A missing camber line: the next block's keyword line is read as the camber.
  try {
    ParseTireDataText("LOAD_CASE 1\nLOAD_CASE 2\n0\n1000\n");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(),
                 "'LOAD_CASE 2' n'est pas une valeur en virgule flottante correcte (line 2: the camber line of "
                 "block 1)");
  }
  // A bad field before the missing ones is reported first.
  EXPECT_THROW(ParseTireDataText("LOAD_CASE\n0\n1;2;3\n0;x\n"), EConvertError);
  // Only the keyword line at the very end: the camber line is missing.
  EXPECT_THROW(ParseTireDataText("LOAD_CASE"), EListError);
}

TEST(ParseTireData, NoBlocksGiveAnEmptyDataSet) {
  EXPECT_EQ(ReadTireDataFile(Fixture("empty.plt")).CaseCount(), 0);
  EXPECT_EQ(ParseTireDataText("just a note\n1;2;3\n").CaseCount(), 0);
}

TEST(ParseTireData, FailedReadLeavesTheCallersDataAlone) {
  TTireDataSet data = ReadTireDataFile(Fixture("header_lines.plt"));
  data.Cases[0].Value(0, 0) = 42;  // a grid edit
  EXPECT_THROW(data = ReadTireDataFile(Fixture("short_row.plt")), EListError);
  ASSERT_EQ(data.CaseCount(), 2);
  EXPECT_EQ(data.Cases[0].Value(0, 0), 42);
  data = ReadTireDataFile(Fixture("header_lines.plt"));  // a reload drops the edit
  EXPECT_EQ(data.Cases[0].Value(0, 0), -1850);
}

TEST(ParseTireData, JunkNeverCrashes) {
  // Deterministic junk built around the keyword, separators, quotes and NULs.
  const char pieces[] = {'L', ';', '"', ' ', '\t', '\0', '\r', '\n', '1', '-', 'e', '.', '\xff', '7'};
  uint32_t state = 12345;
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int length = round * 7 % 400;
    for (int k = 0; k < length; ++k) {
      state = state * 1664525u + 1013904223u;
      const uint32_t pick = state >> 24;
      if (pick < 12)
        text += "LOAD_CASE\n";
      else
        text += pieces[pick % sizeof pieces];
    }
    try {
      const TTireDataSet data = ParseTireDataText(text);
      for (const TLoadCase& c : data.Cases) EXPECT_EQ(c.Values.size(), c.RowCount() * c.LoadCount());
    } catch (const Exception&) {
      // a message for the user; anything else (or a crash) fails the test
    }
  }
  // A loads line with NUL-hidden keyword text makes a block with no rows.
  using namespace std::string_literals;
  const TTireDataSet data = ParseTireDataText("LOAD_CASE\n0\n1 2\0LOAD_CASE\n5\n\n"s);
  ASSERT_EQ(data.CaseCount(), 2);
  EXPECT_EQ(data.Cases[0].RowCount(), 0u);
}

TEST(ParseTireData, HugeLines) {
  std::string loads, row = "0";
  for (int j = 0; j < 100000; ++j) {
    loads += "1000;";
    row += " 5";
  }
  loads += "1000";
  row += " 5";
  const TTireDataSet data = ParseTireDataText("LOAD_CASE\n0\n" + loads + "\n" + row + "\n");
  ASSERT_EQ(data.CaseCount(), 1);
  EXPECT_EQ(data.Cases[0].LoadCount(), 100001u);
  EXPECT_EQ(data.Cases[0].Values.size(), 100001u);
  // Many loads but short rows: fails at the first row, allocating little.
  EXPECT_THROW(ParseTireDataText("LOAD_CASE\n0\n" + loads + "\n1\n2\n3\n"), EListError);
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

// A data field names its line, its field and the load it belongs to; the
// slip field says so; lines count from 1 whatever the line ends.
TEST(ParseTireData, ConversionErrorsSayWhichValueOfWhichRow) {
  const std::string text = "header\r\nLOAD_CASE 1\r\n0\r\n1000;2000\r\n-1;5;6\r\n1;7;x7\r\n";
  EXPECT_EQ(test::MessageOf<EConvertError>([&] { ParseTireDataText(text, "rig.plt"); }),
            "'x7' n'est pas une valeur en virgule flottante correcte (file rig.plt, line 6, field 3: the value at "
            "load 2000)");
  EXPECT_EQ(test::MessageOf<EConvertError>([&] { ParseTireData({"LOAD_CASE", "0", "1000", "s;1"}, "a.plt"); }),
            "'s' n'est pas une valeur en virgule flottante correcte (file a.plt, line 4, field 1: the slip)");
  // The second block's lines are counted through the first.
  EXPECT_EQ(test::MessageOf<EListError>(
                [&] { ParseTireDataText("LOAD_CASE\n0\n1000\n1;2\nLOAD_CASE\n2\n1000\n1\n"); }),
            "Indice de liste hors limites (1) (line 8, field 2: the value at load 1000 is missing: the row has 1 "
            "of the 2 fields the loads line asks for, a slip and 1 value)");
}

}  // namespace
}  // namespace morvex
