#include "core/size_rounding.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>

namespace karvo {
namespace {

TEST(Choices, FormatListIsFat32ThenNtfs) {
  const auto choices = FileSystemChoices();
  ASSERT_EQ(choices.size(), 2u);
  EXPECT_EQ(choices[0], "FAT32");
  EXPECT_EQ(choices[1], "NTFS");
  EXPECT_EQ(static_cast<int>(FileSystemKind::Fat32), 0);
  EXPECT_EQ(static_cast<int>(FileSystemKind::Ntfs), 1);
}

TEST(Choices, CapacityListIsOneToThreeHundredInPlainDecimal) {
  const auto choices = CapacityChoices();
  ASSERT_EQ(choices.size(), 300u);
  for (int i = 1; i <= 300; ++i) EXPECT_EQ(choices[i - 1].view(), std::to_string(i)) << i;
}

TEST(RoundedMegabytes, WorkedValues) {
  struct Row {
    int capacity, fat32, ntfs;
  };
  for (const Row& row : {Row{1, 1024, 1029}, Row{2, 2052, 2053}, Row{10, 10276, 10245}, Row{100, 102796, 102405},
                         Row{120, 123356, 122885}, Row{300, 308396, 307205}}) {
    EXPECT_EQ(RoundedMegabytes(FileSystemKind::Fat32, row.capacity), row.fat32) << row.capacity;
    EXPECT_EQ(RoundedMegabytes(FileSystemKind::Ntfs, row.capacity), row.ntfs) << row.capacity;
  }
}

TEST(RoundedMegabytes, EveryListedCapacityFollowsItsRule) {
  for (std::int32_t n = 1; n <= 300; ++n) {
    EXPECT_EQ(RoundedMegabytes(FileSystemKind::Fat32, n), 1028 * n - 4);
    EXPECT_EQ(RoundedMegabytes(FileSystemKind::Ntfs, n), 1024 * n + 5);
  }
}

TEST(RoundedMegabytes, MaxCapacityIsTheLastThatFits) {
  for (FileSystemKind kind : {FileSystemKind::Fat32, FileSystemKind::Ntfs}) {
    EXPECT_LT(RoundedMegabytes(kind, MaxCapacity(kind)), INT_MAX);
    EXPECT_EQ(RoundedMegabytes(kind, MaxCapacity(kind) + 1), INT_MAX);
  }
}

TEST(RoundedMegabytes, ExactAtTheEdgesOfThe32BitRangeAndClampedBeyond) {
  EXPECT_EQ(RoundedMegabytes(FileSystemKind::Fat32, 2088991), 2147482744);
  EXPECT_EQ(RoundedMegabytes(FileSystemKind::Fat32, -2088991), -2147482752);
  EXPECT_EQ(RoundedMegabytes(FileSystemKind::Ntfs, 2097151), 2147482629);
  EXPECT_EQ(RoundedMegabytes(FileSystemKind::Ntfs, -2097152), INT_MIN + 5);
  EXPECT_EQ(RoundedMegabytes(FileSystemKind::Fat32, 2088992), INT_MAX);
  EXPECT_EQ(RoundedMegabytes(FileSystemKind::Fat32, -2088992), INT_MIN);
  EXPECT_EQ(RoundedMegabytes(FileSystemKind::Ntfs, 2097152), INT_MAX);
  EXPECT_EQ(RoundedMegabytes(FileSystemKind::Ntfs, INT_MIN), INT_MIN);
  EXPECT_EQ(RoundedMegabytes(FileSystemKind::Fat32, INT_MAX), INT_MAX);
}

TEST(ParseCapacityText, FollowsAtoi) {
  struct Case {
    const char* text;
    int expected;
  };
  for (const Case& c :
       {Case{"120", 120}, Case{"", 0}, Case{"abc", 0}, Case{"  12abc", 12}, Case{"\t\n\v\f\r 7", 7}, Case{"-5", -5},
        Case{"+42", 42}, Case{"+-1", 0}, Case{"- 1", 0}, Case{"1 2", 1}, Case{"007", 7}, Case{"-0", 0},
        Case{"\xC2\xA0"
             "5",
             0},
        Case{"12.9", 12}, Case{"0x10", 0}}) {
    EXPECT_EQ(ParseCapacityText(c.text), c.expected) << '"' << c.text << '"';
  }
}

TEST(ParseCapacityText, StopsAtAnEmbeddedNulLikeACString) {
  EXPECT_EQ(ParseCapacityText(std::string_view("12\0"
                                               "34",
                                               5)),
            12);
}

TEST(ParseCapacityText, ExactAtThe32BitLimitsAndClampedBeyond) {
  EXPECT_EQ(ParseCapacityText("2147483647"), INT_MAX);
  EXPECT_EQ(ParseCapacityText("-2147483648"), INT_MIN);
  EXPECT_EQ(ParseCapacityText("2147483648"), INT_MAX);
  EXPECT_EQ(ParseCapacityText("-2147483649"), INT_MIN);
  EXPECT_EQ(ParseCapacityText(std::string(5000, '9')), INT_MAX);
  EXPECT_EQ(ParseCapacityText("-" + std::string(5000, '9')), INT_MIN);
  EXPECT_EQ(ParseCapacityText("000000000000000000000000000000123"), 123);
}

// A deliberately naive model of atoi with clamping, compared over random texts
// built from the characters that matter to the conversion.
std::int32_t ReferenceAtoi(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::string(" \t\n\v\f\r").find(text[i]) != std::string::npos) ++i;
  int sign = 1;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) sign = text[i++] == '-' ? -1 : 1;
  std::string digits;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') digits += text[i++];
  const std::size_t first = digits.find_first_not_of('0');
  digits = first == std::string::npos ? "" : digits.substr(first);
  if (digits.size() > 10) return sign > 0 ? INT_MAX : INT_MIN;
  const long long value = sign * (digits.empty() ? 0LL : std::stoll(digits));
  return static_cast<std::int32_t>(value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : value);
}

TEST(ParseCapacityText, AgreesWithAReferenceOverGeneratedTexts) {
  std::mt19937 random(20261208);
  const std::string alphabet = " \t\n\v\f\r+-0123456789012345678999x.\xE4";
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 16, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    ASSERT_EQ(ParseCapacityText(text), ReferenceAtoi(text)) << '"' << text << '"';
  }
}

TEST(BuildResultMessage, FillsEachTemplateByteForByte) {
  EXPECT_EQ(BuildResultMessage(0, "1")->view(), "您选择的格式为FAT32,分区容量为1GB,实际容量应为 1024 MB.");
  EXPECT_EQ(BuildResultMessage(1, "300")->view(), "您选择的格式为NTFS,分区容量为300GB,实际容量应为 307205 MB.");
  EXPECT_EQ(BuildResultMessage(1, "120")->view(), "您选择的格式为NTFS,分区容量为120GB,实际容量应为 122885 MB.");
}

TEST(BuildResultMessage, EmptyTextMeansCapacityZero) {
  EXPECT_EQ(BuildResultMessage(0, "")->view(), "您选择的格式为FAT32,分区容量为0GB,实际容量应为 -4 MB.");
  EXPECT_EQ(BuildResultMessage(1, "")->view(), "您选择的格式为NTFS,分区容量为0GB,实际容量应为 5 MB.");
}

TEST(BuildResultMessage, LongestNumbersStillFitWhole) {
  EXPECT_EQ(BuildResultMessage(0, "-99999999999")->view(),
            "您选择的格式为FAT32,分区容量为-2147483648GB,实际容量应为 -2147483648 MB.");
}

TEST(BuildResultMessage, NoMessageForAnIndexThatNamesNoFileSystem) {
  for (std::int32_t index : {-1, 2, 3, 1000, INT_MAX, INT_MIN}) {
    EXPECT_FALSE(BuildResultMessage(index, "120").has_value()) << index;
    EXPECT_FALSE(BuildResultMessage(index, "").has_value()) << index;
  }
}

TEST(ResultCaption, IsCalculationResult) { EXPECT_EQ(ResultCaption, "计算结果"); }

}  // namespace
}  // namespace karvo
