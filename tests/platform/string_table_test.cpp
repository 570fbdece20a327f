#include "platform/string_table.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/system.h"

namespace kv::strings {
namespace {

std::vector<uint8_t> Utf16(std::u16string_view text, bool little = true) {
  std::vector<uint8_t> bytes = little ? std::vector<uint8_t>{0xFF, 0xFE} : std::vector<uint8_t>{0xFE, 0xFF};
  for (char16_t c : text) {
    const uint8_t lo = uint8_t(c & 0xFF), hi = uint8_t(c >> 8);
    bytes.push_back(little ? lo : hi);
    bytes.push_back(little ? hi : lo);
  }
  return bytes;
}

class StringTable : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }

  int32_t LoadText(std::u16string_view text, bool little = true) { return LoadFromBytes(Utf16(text, little), error); }
  void ExpectFailureAt(std::u16string_view text, int line) {
    EXPECT_EQ(LoadText(text), -1);
    EXPECT_EQ(FailedLine(), line);
    EXPECT_EQ(error, "Failed processing string table at line " + std::to_string(line) + ".");
  }

  std::string error;
};

TEST_F(StringTable, BothByteOrdersLoadTheSameTable) {
  const std::u16string text = u"// widths\r\n\"Burn Width\"=\"Width\";\r\n\"Cancel\";\r\n\"\u00C9t\u00E9\"=\"\u6F22\";";
  for (bool little : {true, false}) {
    Clear();
    ASSERT_EQ(LoadText(text, little), 0) << little;
    EXPECT_EQ(error, "");
    EXPECT_EQ(FailedLine(), 0);
    EXPECT_EQ(Lookup(u"Burn Width"), u"Width");
    EXPECT_EQ(Lookup(u"Cancel"), u"Cancel");
    EXPECT_EQ(Lookup(u"\u00C9t\u00E9"), u"\u6F22");
  }
}

TEST_F(StringTable, MissingOrUnsupportedByteOrderMarkFails) {
  const std::u16string body = u"\"A\"=\"B\";";
  const std::vector<uint8_t> marked = Utf16(body);
  const std::vector<uint8_t> noMark(marked.begin() + 2, marked.end());
  EXPECT_EQ(LoadFromBytes(noMark, error), -1);
  EXPECT_EQ(error, "Failed processing string table at line 1.");

  std::vector<uint8_t> utf32le{0xFF, 0xFE, 0x00, 0x00, '"', 0, 0, 0, 'A', 0, 0, 0, '"', 0, 0, 0, ';', 0, 0, 0};
  EXPECT_EQ(LoadFromBytes(utf32le, error), -1);
  std::vector<uint8_t> utf32be{0x00, 0x00, 0xFE, 0xFF, 0, 0, 0, '"', 0, 0, 0, 'A', 0, 0, 0, '"', 0, 0, 0, ';'};
  EXPECT_EQ(LoadFromBytes(utf32be, error), -1);
  EXPECT_EQ(LoadFromBytes({}, error), -1);
  EXPECT_EQ(LoadFromBytes({0xFF}, error), -1);
  EXPECT_EQ(Lookup(u"A"), kLostString);

  // A mark alone is an empty table, not an error.
  EXPECT_EQ(LoadFromBytes({0xFE, 0xFF}, error), 0);
}

TEST_F(StringTable, CommentsOutsideQuotesAreRemoved) {
  ASSERT_EQ(LoadText(u"\"A\"=\"1\"; // \"B\"=\"2\";\n"
                     u"/* \"C\"=\"3\";\n  still comment \"D\";\n*/ \"E\"=\"/* not */ a // comment\";\n"
                     u"\"/*key*/\"=\"x\";"),
            0);
  EXPECT_EQ(Lookup(u"A"), u"1");
  EXPECT_EQ(Lookup(u"B"), kLostString);
  EXPECT_EQ(Lookup(u"C"), kLostString);
  EXPECT_EQ(Lookup(u"D"), kLostString);
  EXPECT_EQ(Lookup(u"E"), u"/* not */ a // comment");
  EXPECT_EQ(Lookup(u"/*key*/"), u"x");
}

TEST_F(StringTable, LineNumbersSurviveCommentsAndLineEnds) {
  // A block comment over lines 2-3 and CR LF / lone CR line ends: the bad entry is on line 6.
  ExpectFailureAt(u"\"A\";\r\n/* one\r\ntwo */\r\"B\";\n// c\n\"C\"=\"x\"", 6);
  EXPECT_EQ(Lookup(u"A"), u"A");
  EXPECT_EQ(Lookup(u"B"), u"B");
}

TEST_F(StringTable, UnterminatedTextFailsAtTheLineReached) {
  ExpectFailureAt(u"\"A\";\n/* open\n\nmore", 4);
  ExpectFailureAt(u"\"A\";\n\"open\n\nmore", 4);
}

TEST_F(StringTable, BlanksOutsideQuotesAreIgnored) {
  ASSERT_EQ(LoadText(u"\t\" Burn Width \" \t=  \"  wide  \"  ;\n  \"Cancel\"\t;"), 0);
  EXPECT_EQ(Lookup(u" Burn Width "), u"  wide  ");
  EXPECT_EQ(Lookup(u"Burn Width"), kLostString);
  EXPECT_EQ(Lookup(u"Cancel"), u"Cancel");
}

TEST_F(StringTable, MalformedEntryFailsWithItsLineAndKeepsEarlierEntries) {
  ExpectFailureAt(u"\"A\"=\"1\";\n\n\"B\"=\"2\"\n\"C\"=\"3\";", 3);
  EXPECT_EQ(Lookup(u"A"), u"1");
  EXPECT_EQ(Lookup(u"B"), kLostString);
  EXPECT_EQ(Lookup(u"C"), kLostString);

  ExpectFailureAt(u"\"A\"=\"1\";\n\"B\"\n", 2);          // bare key without ;
  ExpectFailureAt(u"\"A\"=\"1\";\n\"B\"=C;\n", 2);       // unquoted value
  ExpectFailureAt(u"\"A\"=\"1\";\n\"B\":\"2\";\n", 2);   // not =
  ExpectFailureAt(u"\"A\"=\"1\";\n\"B\"=", 2);           // text ends
}

TEST_F(StringTable, ValuesMaySpanLinesAndTheCountFollows) {
  ExpectFailureAt(u"\"A\"=\"one\ntwo\";\n\"B\"=\"x\"", 3);
  EXPECT_EQ(Lookup(u"A"), u"one\ntwo");
}

TEST_F(StringTable, LaterValuesReplaceEarlierOnes) {
  ASSERT_EQ(LoadText(u"\"Cancel\";\n\"Other\"=\"o\";\n\"Cancel\"=\"Abandon\";"), 0);
  EXPECT_EQ(Lookup(u"Cancel"), u"Abandon");
  // A second load adds to the table without a clear.
  ASSERT_EQ(LoadText(u"\"Other\"=\"p\";\"New\";"), 0);
  EXPECT_EQ(Lookup(u"Other"), u"p");
  EXPECT_EQ(Lookup(u"Cancel"), u"Abandon");
  EXPECT_EQ(Lookup(u"New"), u"New");
  Clear();
  EXPECT_EQ(Lookup(u"Cancel"), kLostString);
}

TEST_F(StringTable, KeysAreCaseSensitive) {
  ASSERT_EQ(LoadText(u"\"Key\"=\"v\";"), 0);
  EXPECT_EQ(Lookup(u"Key"), u"v");
  EXPECT_EQ(Lookup(u"key"), kLostString);
  EXPECT_EQ(Lookup(u""), kLostString);
  EXPECT_EQ(Text("KEY"), "Lost String!!!");
}

TEST_F(StringTable, TextGivesUtf8) {
  ASSERT_EQ(LoadText(u"\"Gr\u00FC\u00DFe\"=\"\u00C0 bient\u00F4t \u2014 \u6F22\u5B57 \U0001F600\";"), 0);
  EXPECT_EQ(Text("Gr\xC3\xBC\xC3\x9F" "e"),
            "\xC3\x80 bient\xC3\xB4t \xE2\x80\x94 \xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9F\x98\x80");
}

TEST_F(StringTable, TheTextEndsAtTheFirstNul) {
  ASSERT_EQ(LoadText(std::u16string(u"\"A\";\0\"B\";", 10)), 0);
  EXPECT_EQ(Lookup(u"A"), u"A");
  EXPECT_EQ(Lookup(u"B"), kLostString);
}

TEST_F(StringTable, ResourcesOverTheLimitFail) {
  std::u16string text = u"\"A\";";
  text.resize(0x20000 / 2 - 1, u' ');  // with the mark: exactly the limit
  EXPECT_EQ(LoadText(text), 0);
  text += u' ';
  Clear();
  EXPECT_EQ(LoadText(text), -1);
  EXPECT_EQ(Lookup(u"A"), kLostString);
}

size_t Count(const std::string& text, std::string_view part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(StringTable, ShippedTableLoads) {
  platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR);
  ASSERT_EQ(Load(error), 0) << error;
  for (const char* key :
       {"Basic", "Last Used", "Confirm Replace", "Version:", "Copyright", "Credits Line 1", "Credits Line 8",
        "URL Product Home Page", "URL Brightfold Home Page", "Error - Host Too Weak", "Error - Empty Layer",
        "Error - Needs Selection", "Error - Needs Selection or Layer", "Error - Needs Interesting Selection or Layer",
        "Error - Needs Editable Transparency", "Error - Floating Selection", "Burnt Edges", "Burnt Edges Help",
        "Burn Width", "Burn Width Help", "Fill with solid color help", "Television", "Random Seed",
        "Random Seed Help", "Lightning Adjustment Help", "Cloud Seamless Tile Help", "Direction help"})
    EXPECT_NE(Text(key), "Lost String!!!") << key;
  // Formats must keep the conversions their callers fill in.
  EXPECT_EQ(Count(Text("Error - Selection Too Small"), "%d"), 2u);
  EXPECT_EQ(Count(Text("Confirm Replace Message"), "%s"), 1u);
  EXPECT_EQ(Count(Text("Confirm Delete Message"), "%s"), 1u);
}

// Damaged tables must fail cleanly: every cut and a run of corrupted bytes.
TEST_F(StringTable, DamagedTablesFailWithoutHarm) {
  platform::SetResourceFolder(KV_SOURCE_RESOURCE_DIR);
  const auto shipped = platform::LoadResource(kResourceType, 1, kMaxResourceBytes);
  ASSERT_TRUE(shipped.has_value());
  for (size_t cut = 0; cut < shipped->size(); cut += 61) {
    std::vector<uint8_t> bytes(shipped->begin(), shipped->begin() + std::ptrdiff_t(cut));
    const int32_t result = LoadFromBytes(bytes, error);
    EXPECT_TRUE(result == 0 || result == -1) << cut;
    bytes = *shipped;
    for (size_t i = cut; i < std::min(bytes.size(), cut + 7); ++i) bytes[i] = uint8_t(bytes[i] * 31 + 7);
    const int32_t damaged = LoadFromBytes(bytes, error);
    EXPECT_TRUE(damaged == 0 || damaged == -1) << cut;
  }
}

TEST_F(StringTable, MissingResourceFails) {
  platform::SetResourceFolder(KV_TEST_DATA_DIR "/no such folder");
  EXPECT_EQ(Load(error), -1);
  EXPECT_EQ(error, "Failed processing string table at line 1.");
}

}  // namespace
}  // namespace kv::strings
