// The settings text: the lines each class writes, the exact return of every
// value, and reading what editors and hand edits make of the files.
#include <gtest/gtest.h>

#include <sstream>

#include "parameters/settings_archive.h"
#include "platform/system.h"
#include "tests/parameters/settings_test_support.h"

namespace kv::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Line(uint32_t key, const std::string& value) { return std::to_string(int32_t(key)) + " " + value; }

std::string SampleText() {
  BoundAllKinds sample;
  SetSample(sample.block());
  return SettingsText("AllKinds", sample.list);
}

// UTF-16 of an 8-bit text, in either byte order, with or without a mark.
std::string Utf16(const std::string& text, bool little, bool mark) {
  std::string out;
  const auto put = [&](char16_t c) {
    out += char(little ? c & 0xFF : c >> 8);
    out += char(little ? c >> 8 : c & 0xFF);
  };
  if (mark) put(0xFEFF);
  for (char16_t c : platform::Widen(text)) put(c);
  return out;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

TEST(SettingsText, IsTheHeaderThenALinePerKeyInListOrder) {
  BoundAllKinds sample;
  SetSample(sample.block());
  const std::vector<std::string> lines = Lines(SettingsText("AllKinds", sample.list));
  // Every scripting key but the puzzle's further chunks: the file holds the
  // arrangement on one line.
  std::vector<uint32_t> keys = sample.list.Keys();
  keys.erase(std::remove_if(keys.begin(), keys.end(),
                            [](uint32_t k) { return k >> 8 == ps::FourCC("PUa0") >> 8 && k != ps::FourCC("PUa0"); }),
             keys.end());
  ASSERT_EQ(lines.size(), keys.size() + 1);
  EXPECT_EQ(lines[0], "AllKinds");
  for (size_t i = 0; i < keys.size(); ++i)
    EXPECT_EQ(lines[i + 1].substr(0, lines[i + 1].find(' ')), std::to_string(int32_t(keys[i])));

  const auto has = [&](const std::string& line) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  };
  has(Line(ps::FourCC("ALsl"), "37.125"));
  has(Line(ps::FourCC("ALln"), "2.54 centimeters"));
  has(Line(ps::FourCC("ALcb"), "1"));
  has("-2147483647 271.500");
  has(Line(ps::FourCC("RndS"), "65535"));
  has(Line(ps::FourCC("ALc0"), "RGB: 100.0% 50.2% 0.4% (255 128 1)"));
  has(Line(ps::FourCC("ALc3"), "Lab: 78.4% -128 127"));
  has(Line(ps::FourCC("ALc6"), "XYZ: 65535 0 1234"));
  has(Line(ps::FourCC("ALch"), "30"));
  has(Line(ps::FourCC("ALfm"), std::to_string(int32_t(kFillTransparent))));
  has(Line(ps::FourCC("ALld"), "359.999"));
  has(Line(ps::FourCC("ALlh"), "RGB: 98.0% 94.1% 90.2% (250 240 230)"));
  has(Line(ps::FourCC("ALps"), "-12.500 3000.250"));
  has(Line(ps::FourCC("ALfl"), " X XX   "));
}

TEST(SettingsText, GivesBackEveryValueOfEveryClassExactly) {
  BoundAllKinds sample, read;
  SetSample(sample.block());
  SettingsProblems problems;
  ASSERT_EQ(ReadSettingsText(SettingsText("AllKinds", sample.list), "AllKinds", read.list, "f", &problems), 0);
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_TRUE(read.block() == sample.block());
}

TEST(SettingsText, ReadsOtherLineEndsEncodingsAndByteOrders) {
  const std::string text = SampleText();
  BoundAllKinds sample;
  SetSample(sample.block());
  const std::pair<const char*, std::string> variants[] = {
      {"CR LF", Replaced(text, "\n", "\r\n")},
      {"CR", Replaced(text, "\n", "\r")},
      {"no final line end", text.substr(0, text.size() - 1)},
      {"blank and indented lines", Replaced(text, "\n", "\n\n \t")},
      {"UTF-8 mark", "\xEF\xBB\xBF" + text},
      {"UTF-16LE mark", Utf16(Replaced(text, "\n", "\r\n"), true, true)},
      {"UTF-16BE mark", Utf16(text, false, true)},
      {"UTF-16LE", Utf16(text, true, false)},
      {"UTF-16BE", Utf16(text, false, false)},
  };
  for (const auto& [name, bytes] : variants) {
    BoundAllKinds read;
    SettingsProblems problems;
    EXPECT_EQ(ReadSettingsText(bytes, "AllKinds", read.list, "f", &problems), 0) << name;
    EXPECT_TRUE(problems.empty()) << name << ": " << problems.front();
    EXPECT_TRUE(read.block() == sample.block()) << name;
  }
}

TEST(SettingsText, RefusesAnotherEffectsFileAndChangesNothing) {
  for (const std::string& text : {Replaced(SampleText(), "AllKinds", "Cracks"), std::string(), std::string("\n\n")}) {
    BoundAllKinds read;
    const AllKindsBlock before = read.block();
    SettingsProblems problems;
    EXPECT_EQ(ReadSettingsText(text, "AllKinds", read.list, "/x/Soft", &problems), -1);
    EXPECT_TRUE(read.block() == before);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].rfind("/x/Soft", 0), 0u) << problems[0];
  }
  EXPECT_TRUE(IsSettingsText("  AllKinds extra words\n1 2\n", "AllKinds"));
  EXPECT_FALSE(IsSettingsText("AllKindsToo\n", "AllKinds"));
}

TEST(SettingsText, SkipsUnknownKeysAndClampsWhatItReads) {
  BoundAllKinds read;
  const std::string text = "AllKinds\n12345 9\n" + Line(ps::FourCC("ALsl"), "500") + "\n" +
                           Line(ps::FourCC("ALch"), "77") + "\n" + Line(ps::FourCC("ALli"), "0") + "\n" +
                           Line(ps::FourCC("ALln"), "20.00 inches") + "\n-99 unknown too\n";
  SettingsProblems problems;
  EXPECT_EQ(ReadSettingsText(text, "AllKinds", read.list, "f", &problems), 0);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(read.block().slider, 100.0);
  EXPECT_EQ(read.block().choice, 10);
  EXPECT_EQ(read.block().lighting.inclination, 10.0);
  // 1000 pixels at 72 pixels per inch, kept in inches.
  EXPECT_EQ(read.block().length.unit, kUnitInches);
  EXPECT_DOUBLE_EQ(read.block().length.amount, 1000.0 / 72.0);
}

// Values read as the file's scanf forms read them: what such a form would
// take is taken, and each value cut or unread is reported by file and line.
TEST(SettingsText, ReportsBadAndCutValuesByFileAndLineAndReadsOn) {
  BoundAllKinds read;
  const std::string text = "AllKinds\n" + Line(ps::FourCC("ALsl"), "lots") + "\n\nnokey 5\n" +
                           Line(ps::FourCC("ALc0"), "Purple: 1 2 3") + "\n" + Line(ps::FourCC("ALcb"), "1") + "\n" +
                           Line(ps::FourCC("RndS"), "70000") + "\n" + Line(ps::FourCC("ALch"), "20 apples") + "\n" +
                           Line(kNegativeKey, "12.5abc") + "\n";
  SettingsProblems problems;
  EXPECT_EQ(ReadSettingsText(text, "AllKinds", read.list, "/s/Mine", &problems), 0);
  EXPECT_EQ(read.block().slider, 50.0);
  EXPECT_EQ(read.block().colors[0], Color::RGB(1, 2, 3));
  EXPECT_TRUE(read.block().checkbox);
  EXPECT_EQ(read.block().seed, 70000 - 65536);
  EXPECT_EQ(read.block().choice, 20);
  EXPECT_EQ(read.block().direction, 12.5);
  ASSERT_EQ(problems.size(), 6u);
  EXPECT_EQ(problems[0], "/s/Mine:2: cannot read 'lots' as Slider; it keeps its value");
  EXPECT_EQ(problems[1].rfind("/s/Mine:4: 'nokey'", 0), 0u) << problems[1];
  EXPECT_EQ(problems[2].rfind("/s/Mine:5: cannot read 'Purple: 1 2 3' as Colour", 0), 0u) << problems[2];
  EXPECT_EQ(problems[3], "/s/Mine:7: '70000' reads as '4464' for Random Seed");
  EXPECT_EQ(problems[4], "/s/Mine:8: '20 apples' reads as '20' for Choice");
  EXPECT_EQ(problems[5], "/s/Mine:9: '12.5abc' reads as '12.500' for Direction");
}

TEST(SettingsText, StopsAtALineThatIsNotAKeyAndAValue) {
  for (const std::string& bad : {std::string("1234"), std::string(40001, '7') + " 1"}) {
    BoundAllKinds read;
    const std::string text = "AllKinds\r\n" + Line(ps::FourCC("ALcb"), "1") + "\r\n" + bad + "\r\n" +
                             Line(ps::FourCC("ALsl"), "1") + "\r\n";
    SettingsProblems problems;
    EXPECT_EQ(ReadSettingsText(text, "AllKinds", read.list, "f", &problems), -1);
    EXPECT_TRUE(read.block().checkbox);
    EXPECT_EQ(read.block().slider, 50.0);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].rfind("f:3: ", 0), 0u) << problems[0];
  }
}

TEST(SettingsText, ReportsAGarbageFileInAFewLines) {
  BoundAllKinds read;
  std::string text = "AllKinds\n";
  for (int i = 0; i < 50; ++i) text += Line(ps::FourCC("ALsl"), "x") + "\n";
  SettingsProblems problems;
  EXPECT_EQ(ReadSettingsText(text, "AllKinds", read.list, "f", &problems), 0);
  ASSERT_EQ(problems.size(), 11u);
  EXPECT_EQ(problems.back(), "f: more lines could not be read");
}

}  // namespace
}  // namespace kv::test
