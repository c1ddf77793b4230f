// The platform interfaces that the plug-in's units use: text conversions, .ini profiles, finding files
// and their times, detached starts and the user-wide mutex, bounded pipe reads and busy pipes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>  // chmod: the read-only attribute
#endif

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "pFind.h"
#include "pFs.h"
#include "pIniFile.h"
#include "pLaunch.h"
#include "pPipe.h"
#include "pSystem.h"
#include "pText.h"
#include "pThread.h"

namespace {

std::string Sep(const std::string& dir, const std::string& name) {
  return dir + plat::PathSeparator() + name;
}

std::string Utf16File(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::string FreshPipe(const char* tag) {
  static std::atomic<int> counter{0};
  return std::string("talv_pp_") + tag + "_" + std::to_string(plat::CurrentProcessId()) + "_" +
         std::to_string(++counter);
}

}  // namespace

TEST(TextConversion, Utf8AndUtf16BothWays) {
  const std::string samples[] = {"", "plain", "Grüße", "Ω Приёмник 録音", "emoji \xF0\x9F\x93\xBB end"};
  for (const std::string& s : samples) EXPECT_EQ(plat::Utf16ToUtf8(plat::Utf8ToUtf16(s)), s);
  EXPECT_EQ(plat::Utf8ToUtf16("\xF0\x9F\x93\xBB"), (std::u16string{0xD83D, 0xDCFB}));
  // Broken input becomes U+FFFD, never a crash or a lost neighbour.
  EXPECT_EQ(plat::Utf8ToUtf16("a\xFF"
                              "b"),
            (std::u16string{u'a', 0xFFFD, u'b'}));
  EXPECT_EQ(plat::Utf8ToUtf16("a\xE2\x82"), (std::u16string{u'a', 0xFFFD, 0xFFFD}));
  EXPECT_EQ(plat::Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD, 0xFFFD}));  // overlong "/"
  EXPECT_EQ(plat::Utf16ToUtf8(std::u16string{u'x', 0xD800}), "x\xEF\xBF\xBD");
}

TEST(TextConversion, AnsiCodePage) {
  EXPECT_EQ(plat::AnsiToUtf8(plat::Utf8ToAnsi("plain text 123")), "plain text 123");
  if (plat::AnsiCodePage() != 1252) GTEST_SKIP() << "code page " << plat::AnsiCodePage();
  EXPECT_EQ(plat::Utf8ToAnsi("€ü"), "\x80\xFC");
  EXPECT_EQ(plat::AnsiToUtf8("\x80\xFC\x9F"), "€üŸ");
  // Outside the code page: "?" for each UTF-16 unit, never a look-alike ("O" for the omega).
  EXPECT_EQ(plat::Utf8ToAnsi("Ω"), "?");
  EXPECT_EQ(plat::Utf8ToAnsi("a\xF0\x9F\x93\xBB"), "a??");
}

TEST(TextConversion, LocaleSeparatorsCanBeOverridden) {
  const plat::TLocaleSeparators system = plat::ReadLocaleSeparators();
  EXPECT_FALSE(system.Decimal.empty());
  EXPECT_FALSE(system.Time.empty());
  plat::SetLocaleSeparatorsSource([] { return plat::TLocaleSeparators{",", "."}; });
  EXPECT_EQ(plat::ReadLocaleSeparators().Decimal, ",");
  EXPECT_EQ(plat::ReadLocaleSeparators().Time, ".");
  plat::SetLocaleSeparatorsSource(nullptr);
  EXPECT_EQ(plat::ReadLocaleSeparators().Decimal, system.Decimal);
}

TEST(IniProfile, ReadingRules) {
  testsupport::TTempDir dir;
  std::string path = dir.File("rules.ini");
  ASSERT_TRUE(testsupport::WriteWholeFile(
      path,
      "; comment\r\n[Other]\r\nKey=other\r\n[ talvoran ]\r\n  KEY  =  spaced  \r\n"
      "Quoted=\"  in quotes \"\r\nSingle='x'\r\nHalf=\"open\r\nEmpty=\r\n"));
  std::string v;
  ASSERT_TRUE(plat::IniReadString(path, "Talvoran", "key", v));
  EXPECT_EQ(v, "spaced");
  ASSERT_TRUE(plat::IniReadString(path, "TALVORAN", "Quoted", v));
  EXPECT_EQ(v, "  in quotes ");
  ASSERT_TRUE(plat::IniReadString(path, "Talvoran", "Single", v));
  EXPECT_EQ(v, "x");
  ASSERT_TRUE(plat::IniReadString(path, "Talvoran", "Half", v));
  EXPECT_EQ(v, "\"open");
  ASSERT_TRUE(plat::IniReadString(path, "Talvoran", "Empty", v));
  EXPECT_EQ(v, "");
  ASSERT_TRUE(plat::IniReadString(path, "Other", "Key", v));
  EXPECT_EQ(v, "other");
  EXPECT_FALSE(plat::IniReadString(path, "Talvoran", "Missing", v));
  EXPECT_FALSE(plat::IniReadString(path, "Nowhere", "Key", v));
  EXPECT_FALSE(plat::IniReadString(dir.File("absent.ini"), "Talvoran", "Key", v));
}

TEST(IniProfile, WritesReplaceInPlaceAndKeepEverythingElse) {
  testsupport::TTempDir dir;
  std::string path = dir.File("write.ini");
  ASSERT_TRUE(testsupport::WriteWholeFile(path, "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n"));
  ASSERT_TRUE(plat::IniWriteString(path, "a", "X", "10"));
  ASSERT_TRUE(plat::IniWriteString(path, "A", "z", "3"));
  ASSERT_TRUE(plat::IniWriteString(path, "C", "w", "4"));
  std::string v;
  for (auto [sec, key, want] :
       {std::tuple{"A", "x", "10"}, {"A", "z", "3"}, {"B", "y", "2"}, {"C", "w", "4"}}) {
    ASSERT_TRUE(plat::IniReadString(path, sec, key, v)) << sec << key;
    EXPECT_EQ(v, want);
  }
  std::string text = testsupport::ReadWholeFile(path);
  // The new key of A went into A, before B.
  EXPECT_LT(text.find("z=3"), text.find("[B]"));
  EXPECT_EQ(text.find("x=1\r"), std::string::npos);
  EXPECT_NE(text.find("10\r\n"), std::string::npos);
  EXPECT_FALSE(plat::IniWriteString(Sep(dir.File("missing"), "x.ini"), "A", "x", "1"));
}

TEST(IniProfile, UnicodeFileStaysUnicode) {
  testsupport::TTempDir dir;
  std::string path = dir.File("uni.ini");
  ASSERT_TRUE(plat::IniCreateUnicode(path));
  EXPECT_EQ(testsupport::ReadWholeFile(path), "\xFF\xFE");
  ASSERT_TRUE(plat::IniWriteString(path, "Talvoran", "RecordDir", "D:\\録音\\Ω"));
  std::string bytes = testsupport::ReadWholeFile(path);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  std::string v;
  ASSERT_TRUE(plat::IniReadString(path, "Talvoran", "RecordDir", v));
  EXPECT_EQ(v, "D:\\録音\\Ω");
  // A file with content is left alone.
  ASSERT_TRUE(plat::IniCreateUnicode(path));
  EXPECT_EQ(testsupport::ReadWholeFile(path), bytes);
  // A UTF-16 file written by someone else reads the same way.
  std::string other = dir.File("other.ini");
  ASSERT_TRUE(testsupport::WriteWholeFile(other, Utf16File(u"[Talvoran]\r\nDeviceName=Приёмник\r\n")));
  ASSERT_TRUE(plat::IniReadString(other, "Talvoran", "DeviceName", v));
  EXPECT_EQ(v, "Приёмник");
}

TEST(IniProfile, AFileInAnEncodingTheWriterCannotKeepIsLeftAsItIs) {
  // UTF-16LE without its mark and UTF-16BE with one: a write would put 8-bit lines into 16-bit text.
  testsupport::TTempDir dir;
  const std::string le = Utf16File(u"[Talvoran]\r\nSnrDb=7\r\n").substr(2);
  std::string be = "\xFE\xFF";
  for (size_t i = 0; i < le.size(); i += 2) be += {le[i + 1], le[i]};
  for (const std::string& bytes : {le, be}) {
    const std::string path = dir.File("foreign.ini");
    ASSERT_TRUE(testsupport::WriteWholeFile(path, bytes));
    EXPECT_FALSE(plat::IniWriteString(path, "Talvoran", "SnrDb", "12"));
    EXPECT_EQ(testsupport::ReadWholeFile(path), bytes);
  }
}

TEST(IniProfile, AReadOnlyFileIsNotReplaced) {
  // No write permission in the mode counts even for root, who could write the file all the same.
  testsupport::TTempDir dir;
  const std::string path = dir.File("locked.ini"), bytes = "[Talvoran]\r\nSnrDb=7\r\n";
  ASSERT_TRUE(testsupport::WriteWholeFile(path, bytes));
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_FALSE(plat::IniWriteString(path, "Talvoran", "SnrDb", "12"));
  EXPECT_EQ(testsupport::ReadWholeFile(path), bytes);
  // Writable again, it is written, and on Linux keeps its permissions through the replacement.
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  EXPECT_TRUE(plat::IniWriteString(path, "Talvoran", "SnrDb", "12"));
#ifndef _WIN32
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
}

TEST(FindFiles, MaskSizeAndTime) {
  testsupport::TTempDir dir;
  ASSERT_TRUE(testsupport::WriteWholeFile(dir.File("a.wav"), std::string(1234, 'a')));
  ASSERT_TRUE(testsupport::WriteWholeFile(dir.File("B.WAV"), "b"));
  ASSERT_TRUE(testsupport::WriteWholeFile(dir.File("c.txt"), "c"));
  ASSERT_TRUE(plat::MakeDirectory(dir.File("sub.wav")));
  std::vector<plat::TFoundEntry> found;
  ASSERT_TRUE(plat::FindEntries(dir.Path(), "*.wav", found));
  std::vector<std::string> names;
  for (const auto& f : found) names.push_back(f.Name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"B.WAV", "a.wav", "sub.wav"}));
  double now = plat::LocalDateTimeNow();
  for (const auto& f : found) {
    EXPECT_EQ(f.IsDirectory, f.Name == "sub.wav");
    if (f.Name == "a.wav") {
      EXPECT_EQ(f.Size, 1234);
    }
    double dt = 0;
    ASSERT_TRUE(plat::FileTimeToLocalDateTime(f.LastWriteUtc, dt));
    EXPECT_NEAR(dt, now, 60.0 / 86400.0);  // written within the last minute
  }
  ASSERT_TRUE(plat::FindEntries(dir.Path() + plat::PathSeparator(), "*", found));
  EXPECT_EQ(found.size(), 4u);  // no "." or ".."
  EXPECT_FALSE(plat::FindEntries(dir.Path(), "*.mp3", found));
  EXPECT_FALSE(plat::FindEntries(dir.File("missing"), "*", found));
  EXPECT_TRUE(found.empty());
}

TEST(FindFiles, MaskRules) {
  EXPECT_TRUE(plat::MatchesMask("take.WAV", "*.wav"));
  EXPECT_TRUE(plat::MatchesMask("a", "*"));
  EXPECT_TRUE(plat::MatchesMask("abc", "a?c"));
  EXPECT_TRUE(plat::MatchesMask("a.b.wav", "*.wav"));
  EXPECT_TRUE(plat::MatchesMask("aXbXc", "a*b*c"));
  EXPECT_FALSE(plat::MatchesMask("take.wave", "*.wav"));
  EXPECT_FALSE(plat::MatchesMask("ab", "a?c"));
  EXPECT_FALSE(plat::MatchesMask("", "?"));
}

TEST(FileTimes, DateTimesAndFileTimesRoundTrip) {
  for (double dt : {45000.5, 45123.123456, 36526.0, 47000.999}) {
    uint64_t ft = 0;
    ASSERT_TRUE(plat::LocalDateTimeToFileTime(dt, ft)) << dt;
    double back = 0;
    ASSERT_TRUE(plat::FileTimeToLocalDateTime(ft, back));
    EXPECT_NEAR(back, dt, 0.0011 / 86400.0) << dt;  // to the millisecond
    plat::TLocalTime parts = plat::DateTimeParts(dt);
    EXPECT_NEAR(plat::DateTimeOf(parts), dt, 0.0011 / 86400.0);
  }
  plat::TLocalTime t = plat::DateTimeParts(45000.75);  // 2023-03-15 18:00
  EXPECT_EQ(t.Year, 2023);
  EXPECT_EQ(t.Month, 3);
  EXPECT_EQ(t.Day, 15);
  EXPECT_EQ(t.Hour, 18);
  EXPECT_EQ(t.Minute, 0);
  // One day later is 24 h of 100-ns steps later (a day without a clock change).
  uint64_t a = 0, b = 0;
  ASSERT_TRUE(plat::LocalDateTimeToFileTime(45000.5, a));
  ASSERT_TRUE(plat::LocalDateTimeToFileTime(45001.5, b));
  EXPECT_EQ(b - a, 864000000000ull);
  uint64_t ft = 0;
  EXPECT_FALSE(plat::LocalDateTimeToFileTime(-1000000, ft));  // before 1601
}

TEST(FileTimes, TouchKeepsContentAndNeedsItsFolder) {
  testsupport::TTempDir dir;
  std::string path = dir.File("kept.txt");
  ASSERT_TRUE(testsupport::WriteWholeFile(path, "content"));
  EXPECT_TRUE(plat::TouchFile(path));
  EXPECT_EQ(testsupport::ReadWholeFile(path), "content");
  EXPECT_TRUE(plat::TouchFile(dir.File("new.txt")));
  EXPECT_EQ(testsupport::ReadWholeFile(dir.File("new.txt")), "");
  EXPECT_FALSE(plat::TouchFile(Sep(dir.File("missing"), "x.txt")));
}

TEST(DetachedStart, AMissingProgramIsReportedWithTheSystemsCode) {
  testsupport::TTempDir dir;
  uint32_t code = 0;
  EXPECT_FALSE(plat::StartDetachedProcess(dir.File("no_such_program.exe"), {"--service"}, dir.Path(), &code));
  EXPECT_NE(code, 0u);
}

TEST(ProcessMutex, OneHolderAtATimeAcrossObjectsAndThreads) {
  std::string name = FreshPipe("mutex");
  plat::TProcessMutex first(name), second(name);
  ASSERT_TRUE(first.Lock(1000));
  bool otherGot = true;
  std::thread other([&] { otherGot = second.Lock(50); });
  other.join();
  EXPECT_FALSE(otherGot);
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    got = second.Lock(5000);
    if (got) second.Unlock();
  });
  plat::SleepMs(30);
  EXPECT_FALSE(got.load());
  first.Unlock();
  waiter.join();
  EXPECT_TRUE(got.load());
}

TEST(PipeLimits, AReadFromASilentPeerEndsAtItsTimeOut) {
  std::string name = FreshPipe("silent");
  plat::TPipeServer server(name);
  ASSERT_TRUE(server.Open()) << server.LastError();
  std::atomic<bool> release{false};
  plat::TThread loop;
  loop.Start([&] {
    server.Serve([&](plat::TPipeConn&) {
      while (!release.load()) plat::SleepMs(5);
    });
  });
  auto conn = plat::PipeConnect(name, 5000);
  ASSERT_TRUE(conn);
  conn->SetReadTimeout(200);
  char buf[16];
  uint64_t start = plat::TickMs();
  EXPECT_EQ(conn->Read(buf, sizeof buf), 0u);
  EXPECT_TRUE(conn->TimedOut());
  EXPECT_GE(plat::TickMs() - start, 150u);
  release = true;
  conn.reset();
  server.Stop();
  loop.Join();
}

TEST(PipeLimits, ABusyPipeExistsButTakesNoClient) {
  std::string name = FreshPipe("busy");
  EXPECT_FALSE(plat::PipeExists(name, 20));
  plat::TBusyPipe busy(name);
  ASSERT_TRUE(busy.Open());
  EXPECT_TRUE(plat::PipeExists(name, 20));
  EXPECT_EQ(plat::PipeConnect(name, 200), nullptr);
  // A server cannot take over a name whose owner is alive, however busy.
  plat::TPipeServer server(name);
  EXPECT_FALSE(server.Open());
}
