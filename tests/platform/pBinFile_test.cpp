// The seekable binary file: new files replace old ones, writes land where the position stands, the
// file can be cut at the position, and a closed file refuses everything.
#include "pBinFile.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "pFile.h"
#include "pSystem.h"

using testsupport::ReadWholeFile;

TEST(BinFile, WritesSeeksAndPatches) {
  testsupport::TTempDir dir;
  const std::string f = dir.File("b.bin");
  plat::TBinFile file;
  ASSERT_TRUE(file.Create(f));
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.Position(), 0);
  EXPECT_EQ(file.Write("0123456789", 10), 10u);
  EXPECT_EQ(file.Position(), 10);
  ASSERT_TRUE(file.Seek(2));
  EXPECT_EQ(file.Write("ab", 2), 2u);
  EXPECT_EQ(file.Position(), 4);
  ASSERT_TRUE(file.Seek(10));
  EXPECT_EQ(file.Write("XY", 2), 2u);
  EXPECT_FALSE(file.Seek(-1));
  file.Close();
  EXPECT_EQ(ReadWholeFile(f), "01ab456789XY");
}

TEST(BinFile, CreateReplacesAndTruncateCuts) {
  testsupport::TTempDir dir;
  const std::string f = dir.File("r.bin");
  ASSERT_TRUE(testsupport::WriteWholeFile(f, std::string(100, 'x')));
  plat::TBinFile file;
  ASSERT_TRUE(file.Create(f));
  EXPECT_EQ(file.Write("hello world", 11), 11u);
  ASSERT_TRUE(file.Seek(5));
  EXPECT_TRUE(file.Truncate());
  file.Close();
  EXPECT_EQ(ReadWholeFile(f), "hello");
}

TEST(BinFile, OthersMayReadWhileItIsOpen) {
  testsupport::TTempDir dir;
  const std::string f = dir.File("shared.bin");
  plat::TBinFile file;
  ASSERT_TRUE(file.Create(f));
  EXPECT_EQ(file.Write("data", 4), 4u);
  EXPECT_EQ(ReadWholeFile(f), "data");
}

TEST(BinFile, FailuresAndClosedFile) {
  testsupport::TTempDir dir;
  plat::TBinFile file;
  EXPECT_FALSE(file.Create(dir.File("no") + plat::PathSeparator() + "x.bin"));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Write("abc", 3), 0u);
  EXPECT_FALSE(file.Seek(0));
  EXPECT_FALSE(file.Truncate());
  EXPECT_EQ(file.Position(), -1);
  file.Close();  // harmless
}
