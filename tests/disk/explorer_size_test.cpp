// How Explorer writes a size, and when that is N GB.
#include "disk/explorer_size.h"

#include <gtest/gtest.h>

#include "disk/disk_bytes.h"

namespace karvo {
namespace {

TEST(ExplorerSizeText, WritesThreeSignificantDigitsCutNotRounded) {
  // The examples in the documentation of StrFormatByteSize.
  EXPECT_EQ(ExplorerSizeText(532), "532 bytes");
  EXPECT_EQ(ExplorerSizeText(1340), "1.30 KB");
  EXPECT_EQ(ExplorerSizeText(23506), "22.9 KB");
  EXPECT_EQ(ExplorerSizeText(2400016), "2.28 MB");
  EXPECT_EQ(ExplorerSizeText(2400000000), "2.23 GB");
  // Where a unit ends and the next begins: 1,000 of a unit is shown in the next.
  EXPECT_EQ(ExplorerSizeText(1023), "1023 bytes");
  EXPECT_EQ(ExplorerSizeText(1024), "1.00 KB");
  EXPECT_EQ(ExplorerSizeText(1000 * 1024 - 1), "999 KB");
  EXPECT_EQ(ExplorerSizeText(1000 * 1024), "0.97 MB");
  EXPECT_EQ(ExplorerSizeText(kBytesPerGiB - 1), "0.99 GB");
  EXPECT_EQ(ExplorerSizeText(kBytesPerGiB), "1.00 GB");
  EXPECT_EQ(ExplorerSizeText(10 * kBytesPerGiB - 1), "9.99 GB");
  EXPECT_EQ(ExplorerSizeText(10 * kBytesPerGiB), "10.0 GB");
  EXPECT_EQ(ExplorerSizeText(100 * kBytesPerGiB - 1), "99.9 GB");
  EXPECT_EQ(ExplorerSizeText(120 * kBytesPerGiB), "120 GB");
  EXPECT_EQ(ExplorerSizeText(301 * kBytesPerGiB + 5), "301 GB");
  EXPECT_EQ(ExplorerSizeText(2047 * kBytesPerGiB), "1.99 TB");
  EXPECT_EQ(ExplorerSizeText(INT64_MAX), "7.99 EB");
}

TEST(ExplorerShowsGigabytes, OnlyTheWholeNumberInEachOfItsThreeForms) {
  EXPECT_TRUE(ExplorerShowsGigabytes(kBytesPerGiB, 1));  // "1.00 GB"
  EXPECT_FALSE(ExplorerShowsGigabytes(kBytesPerGiB - 1, 1)) << "0.99 GB";
  EXPECT_FALSE(ExplorerShowsGigabytes(11 * kBytesPerGiB - 1, 10)) << "10.9 GB is a fraction more";
  EXPECT_FALSE(ExplorerShowsGigabytes(11 * kBytesPerGiB - 1, 11));
  EXPECT_TRUE(ExplorerShowsGigabytes(10 * kBytesPerGiB, 10));  // "10.0 GB"
  EXPECT_TRUE(ExplorerShowsGigabytes(301 * kBytesPerGiB - 1, 300));
  EXPECT_FALSE(ExplorerShowsGigabytes(301 * kBytesPerGiB, 300)) << "301 GB";
  EXPECT_FALSE(ExplorerShowsGigabytes(1000 * kBytesPerGiB, 1000)) << "0.97 TB";
}

}  // namespace
}  // namespace karvo
