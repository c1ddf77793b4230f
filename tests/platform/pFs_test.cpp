#include "pFs.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "pFile.h"

using testsupport::ReadWholeFile;
using testsupport::TTempDir;
using testsupport::WriteWholeFile;

TEST(Folders, MakeOneLevelAndAcceptAnExistingOne) {
  TTempDir tmp;
  const std::string a = tmp.File("a");
  EXPECT_TRUE(plat::MakeDirectory(a));
  EXPECT_TRUE(plat::DirectoryExists(a));
  EXPECT_TRUE(plat::MakeDirectory(a));  // already there
  // A missing parent is not created here.
  EXPECT_FALSE(plat::MakeDirectory(tmp.File("x") + "/y"));
  // A file of that name is not a folder.
  ASSERT_TRUE(WriteWholeFile(tmp.File("f"), "1"));
  EXPECT_FALSE(plat::MakeDirectory(tmp.File("f")));
  EXPECT_TRUE(plat::RemoveEmptyDirectory(a));
  EXPECT_FALSE(plat::PathExists(a));
}

TEST(Folders, NonAsciiNamesRoundTrip) {
  TTempDir tmp;
  const std::string name = "145.500000 MHz \xC3\xA4\xE2\x82\xAC";  // "ä€"
  ASSERT_TRUE(plat::MakeDirectory(tmp.File(name)));
  std::vector<plat::TDirEntry> entries;
  ASSERT_TRUE(plat::ListDirectory(tmp.Path(), entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Name, name);
  EXPECT_TRUE(entries[0].IsDirectory);
}

TEST(Files, MoveNeverOverwrites) {
  TTempDir tmp;
  const std::string from = tmp.File("take.wav"), to = tmp.File("take_end.wav");
  ASSERT_TRUE(WriteWholeFile(from, "new"));
  ASSERT_TRUE(WriteWholeFile(to, "old"));
  uint32_t err = 0;
  EXPECT_FALSE(plat::MoveFileNoReplace(from, to, &err));
  EXPECT_NE(err, 0u);
  EXPECT_EQ(ReadWholeFile(to), "old");  // nothing lost on either side
  EXPECT_EQ(ReadWholeFile(from), "new");

  ASSERT_TRUE(plat::RemoveFile(to));
  EXPECT_TRUE(plat::MoveFileNoReplace(from, to, &err));
  EXPECT_EQ(err, 0u);
  EXPECT_FALSE(plat::FileExists(from));
  EXPECT_EQ(ReadWholeFile(to), "new");

  EXPECT_FALSE(plat::MoveFileNoReplace(tmp.File("missing"), tmp.File("other"), &err));
  EXPECT_EQ(err, 2u);  // "not found" has the same code on both systems
}

TEST(Files, RemoveAndList) {
  TTempDir tmp;
  ASSERT_TRUE(WriteWholeFile(tmp.File("a.wav"), "x"));
  ASSERT_TRUE(WriteWholeFile(tmp.File("b.wav"), "y"));
  ASSERT_TRUE(plat::MakeDirectory(tmp.File("IF")));
  std::vector<plat::TDirEntry> entries;
  ASSERT_TRUE(plat::ListDirectory(tmp.Path(), entries));
  std::sort(entries.begin(), entries.end(), [](auto& l, auto& r) { return l.Name < r.Name; });
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Name, "IF");
  EXPECT_TRUE(entries[0].IsDirectory);
  EXPECT_EQ(entries[1].Name, "a.wav");
  EXPECT_FALSE(entries[1].IsDirectory);

  uint32_t err = 0;
  EXPECT_TRUE(plat::RemoveFile(tmp.File("a.wav"), &err));
  EXPECT_FALSE(plat::PathExists(tmp.File("a.wav")));
  EXPECT_FALSE(plat::RemoveFile(tmp.File("a.wav"), &err));
  EXPECT_NE(err, 0u);
  EXPECT_FALSE(plat::RemoveFile(tmp.File("IF")));  // a folder is not a file
  EXPECT_TRUE(plat::PathExists(tmp.File("IF")));

  EXPECT_FALSE(plat::ListDirectory(tmp.File("nothing-here"), entries));
  EXPECT_TRUE(entries.empty());
}
