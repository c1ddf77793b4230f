#include "uTalvProto.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstring>
#include <limits>
#include <vector>

#include "pPipe.h"
#include "pSystem.h"
#include "pThread.h"

namespace {

// Feeds text to a reader in pieces of `step` bytes.
TReadState FeedRequest(TFramedReader& reader, const std::string& text, size_t step) {
  TReadState state = TReadState::NeedMore;
  for (size_t i = 0; i < text.size() && state == TReadState::NeedMore; i += step)
    state = reader.Feed(text.data() + i, std::min(step, text.size() - i));
  return state;
}
TReadState FeedReply(TFramedReader& reader, const std::string& text, size_t step) {
  return FeedRequest(reader, text, step);
}

// Tries a few names of a locale whose decimal separator is a comma; true when one was set.
bool SetCommaLocale() {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German_Germany.1252", "German"})
    if (std::setlocale(LC_ALL, name)) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Framing

TEST(DotStuffing, LeadingDotGetsASecondDotOthersUnchanged) {
  EXPECT_EQ(DotStuff("."), "..");
  EXPECT_EQ(DotStuff(".x"), "..x");
  EXPECT_EQ(DotStuff("..x"), "...x");
  EXPECT_EQ(DotStuff(""), "");
  EXPECT_EQ(DotStuff("a.b"), "a.b");
  EXPECT_EQ(DotUnstuff(".."), ".");
  EXPECT_EQ(DotUnstuff("..x"), ".x");
  EXPECT_EQ(DotUnstuff("."), ".");    // too short
  EXPECT_EQ(DotUnstuff(".x"), ".x");  // not stuffed
  EXPECT_EQ(DotUnstuff(""), "");
  for (std::string line : {".", "..", ".x", "x", "", "...", "a=.b"})
    EXPECT_EQ(DotUnstuff(DotStuff(line)), line);
}

TEST(Framing, RequestTextIsByteExact) {
  EXPECT_EQ(FrameRequest("PING", {}), "PING\r\n.\r\n");
  EXPECT_EQ(FrameRequest("START", {"StartHz=144M", ".", "..x"}),
            "START\r\nStartHz=144M\r\n..\r\n...x\r\n.\r\n");
  EXPECT_EQ(FrameRequest("QUIT", {}).size(), 9u);  // what the plug-in sends on unload
}

TEST(Framing, ReplyTextIsByteExactAndTheStatusLineIsNeverStuffed) {
  EXPECT_EQ(FrameReply({"OK"}), "OK\r\n.\r\n");
  EXPECT_EQ(FrameReply({}), "OK\r\n.\r\n");
  EXPECT_EQ(FrameReply({"ERR unknown command: FOO"}), "ERR unknown command: FOO\r\n.\r\n");
  EXPECT_EQ(FrameReply({"OK", ".hidden", "x", "."}), "OK\r\n..hidden\r\nx\r\n..\r\n.\r\n");
  EXPECT_EQ(FrameReply({".status"}), ".status\r\n.\r\n");
}

TEST(LineSplitting, LfWithOptionalCrOneCrDropped) {
  TLineSplitter s;
  std::string text = "a\r\nb\nc\r\r\n\r\n\nrest";
  s.Feed(text.data(), text.size());
  std::vector<std::string> lines;
  for (std::string line; s.Next(line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c\r", "", ""}));
  EXPECT_EQ(s.Pending(), 4u);
}

TEST(RequestReading, RoundTripWhateverTheChunking) {
  TTextLines body = {"StartHz=144M", ".", "..", "..x", ".x", "", "Key=a=b", "DeviceName=Ünïcödé"};
  std::string text = FrameRequest("START", body);
  for (size_t step : {size_t{1}, size_t{2}, size_t{7}, size_t{4096}}) {
    TRequestReader reader;
    ASSERT_EQ(FeedRequest(reader, text, step), TReadState::Complete) << step;
    EXPECT_EQ(reader.Request().CommandLine, "START");
    EXPECT_EQ(reader.Request().Body, body) << step;
  }
}

TEST(RequestReading, LfOnlyReadsLikeCrLf) {
  TRequestReader a, b;
  ASSERT_EQ(FeedRequest(a, "status\nA=1\n..\n.\n", 3), TReadState::Complete);
  ASSERT_EQ(FeedRequest(b, "status\r\nA=1\r\n..\r\n.\r\n", 3), TReadState::Complete);
  EXPECT_EQ(a.Request().CommandLine, b.Request().CommandLine);
  EXPECT_EQ(a.Request().Body, b.Request().Body);
  EXPECT_EQ(a.Request().Body, (TTextLines{"A=1", "."}));
}

TEST(RequestReading, CommandLineIsKeptAsItIs) {
  TRequestReader reader;
  ASSERT_EQ(FeedRequest(reader, "..odd\r\n.\r\n", 100), TReadState::Complete);
  EXPECT_EQ(reader.Request().CommandLine, "..odd");
  EXPECT_TRUE(reader.Request().Body.empty());
}

TEST(RequestReading, MalformedRequestsAreInvalid) {
  {  // the terminator first: nothing to dispatch
    TRequestReader reader;
    EXPECT_EQ(FeedRequest(reader, ".\r\n", 100), TReadState::Invalid);
  }
  {  // the stream ends before the terminator
    TRequestReader reader;
    EXPECT_EQ(FeedRequest(reader, "PING\r\nA=1\r\n", 100), TReadState::NeedMore);
    EXPECT_EQ(reader.End(), TReadState::Invalid);
  }
  {  // nothing at all
    TRequestReader reader;
    EXPECT_EQ(reader.End(), TReadState::Invalid);
  }
  {  // a terminator without its line end is not one
    TRequestReader reader;
    EXPECT_EQ(FeedRequest(reader, "PING\r\n.", 100), TReadState::NeedMore);
    EXPECT_EQ(reader.End(), TReadState::Invalid);
  }
}

TEST(RequestReading, BytesAfterTheTerminatorAreIgnored) {
  TRequestReader reader;
  ASSERT_EQ(FeedRequest(reader, "PING\r\n.\r\nSTOP\r\nX=1\r\n.\r\n", 5), TReadState::Complete);
  EXPECT_EQ(reader.Request().CommandLine, "PING");
  EXPECT_TRUE(reader.Request().Body.empty());
  EXPECT_EQ(reader.Feed("more", 4), TReadState::Complete);
  EXPECT_EQ(reader.End(), TReadState::Complete);
}

TEST(RequestReading, SizeCapCountsUpToTheTerminator) {
  std::string text = "PING\r\nA=12345\r\n.\r\n";  // 18 bytes
  {
    TRequestReader reader(text.size());
    EXPECT_EQ(FeedRequest(reader, text + "trailing bytes do not count", 4), TReadState::Complete);
  }
  {
    TRequestReader reader(text.size() - 1);
    EXPECT_EQ(FeedRequest(reader, text, 4), TReadState::TooLarge);
    EXPECT_EQ(reader.End(), TReadState::TooLarge);
  }
  {  // one endless line fails as soon as it passes the cap, without waiting for its end
    TRequestReader reader(100);
    std::string endless(101, 'x');
    EXPECT_EQ(FeedRequest(reader, endless, 10), TReadState::TooLarge);
  }
}

TEST(RequestReading, OneMebibyteIsTheShippedCap) {
  std::string head = "START\r\n", tail = "\r\n.\r\n";
  std::string exact =
      head + "K=" + std::string(proto::kMaxRequestBytes - head.size() - tail.size() - 2, 'v') + tail;
  ASSERT_EQ(exact.size(), proto::kMaxRequestBytes);
  TRequestReader ok;
  EXPECT_EQ(FeedRequest(ok, exact, 4096), TReadState::Complete);
  EXPECT_EQ(ok.Request().Body.size(), 1u);
  TRequestReader over;
  std::string bigger = head + "K=v" + exact.substr(head.size() + 2);
  EXPECT_EQ(FeedRequest(over, bigger, 4096), TReadState::TooLarge);
}

TEST(ReplyReading, FirstLineUnchangedLaterLinesUnstuffed) {
  TReplyReader reader;
  ASSERT_EQ(FeedReply(reader, "..OK\r\n..x\r\nplain\n..\r\n.\r\nignored", 3), TReadState::Complete);
  EXPECT_EQ(reader.Lines(), (TTextLines{"..OK", ".x", "plain", "."}));
}

TEST(ReplyReading, OnlyATerminatorOrAnEarlyEndIsNoReply) {
  TReplyReader dotOnly;
  EXPECT_EQ(FeedReply(dotOnly, ".\r\n", 10), TReadState::Invalid);
  TReplyReader cut;
  EXPECT_EQ(FeedReply(cut, "OK\r\nLine=1\r\n", 10), TReadState::NeedMore);
  EXPECT_EQ(cut.End(), TReadState::Invalid);
  TReplyReader capped(10);
  EXPECT_EQ(FeedReply(capped, "OK\r\n0123456789\r\n.\r\n", 4), TReadState::TooLarge);
}

TEST(ReplyReading, EveryReplyFormReadsBackAsBuilt) {
  TTextLines built = {"OK", ".dot first", "..two", "", "Bin=-80.5 -79.0", "."};
  TReplyReader reader;
  ASSERT_EQ(FeedReply(reader, FrameReply(built), 1), TReadState::Complete);
  EXPECT_EQ(reader.Lines(), built);
}

TEST(ReplyStatus, OkPrefixAndErrorText) {
  EXPECT_TRUE(ReplyIsOk({"OK"}));
  EXPECT_TRUE(ReplyIsOk({"OKAY"}));
  EXPECT_FALSE(ReplyIsOk({"ok"}));
  EXPECT_FALSE(ReplyIsOk({}));
  EXPECT_EQ(ReplyErrorText({"ERR no frequency given"}), "no frequency given");
  EXPECT_EQ(ReplyErrorText({"ERR   padded  \t"}), "padded");
  EXPECT_EQ(ReplyErrorText({"ERR"}), "ERR");
  EXPECT_EQ(ReplyErrorText({"ERR "}), "ERR ");
}

TEST(CommandWords, TrimmedAndUpperCased) {
  EXPECT_EQ(CommandWord("status"), "STATUS");
  EXPECT_EQ(CommandWord("  PiNg \t\r"), "PING");
  EXPECT_EQ(CommandWord("\x01QUIT\x1f"), "QUIT");
  EXPECT_EQ(CommandWord("Ünknown"), "ÜNKNOWN");  // only ASCII letters change
}

// ---------------------------------------------------------------------------------------------
// Foreign text in replies

TEST(SafeText, ControlCharactersBecomeBlanks) {
  EXPECT_EQ(SafeReplyText("a\r\nb\tc\x7f"
                          "d\x01"),
            "a  b c d ");
  EXPECT_EQ(SafeReplyText("Gerät ÄÖÜ"), "Gerät ÄÖÜ");  // 8-bit text passes unchanged
}

TEST(SafeText, AnErrorWithLineBreaksCannotEndTheReplyEarly) {
  std::string hostile = "usb failed\r\n.\r\nOK";
  TTextLines reply = {ErrorLine(hostile)};
  EXPECT_EQ(reply[0], "ERR usb failed  .  OK");
  TReplyReader reader;
  ASSERT_EQ(FeedReply(reader, FrameReply(reply), 5), TReadState::Complete);
  EXPECT_EQ(reader.Lines().size(), 1u);
  EXPECT_EQ(UnknownCommandLine("FOO\nBAR"), "ERR unknown command: FOO BAR");
  EXPECT_EQ(UnknownCommandLine("FOO"), "ERR unknown command: FOO");
}

TEST(SafeText, DeviceNamesAndSerialsCannotAddFields) {
  EXPECT_EQ(DeviceLine(0, "rtlsdr", "Generic\tRTL2832U", "0000\r\n0001"),
            "0\trtlsdr\tGeneric RTL2832U\t0000  0001");
  EXPECT_EQ(DeviceLine(3, "hackrf", "HackRF One", ""), "3\thackrf\tHackRF One\t");
}

// ---------------------------------------------------------------------------------------------
// Request bodies

TEST(Bodies, BodyValueTakesTheFirstExactKeyUntrimmed) {
  TTextLines body = {"novalue", "=x", "LiveHz=145M", "LiveHz=146M", " SpecLo=1", "Pad= v "};
  EXPECT_EQ(BodyValue(body, "LiveHz"), "145M");
  EXPECT_EQ(BodyValue(body, "SpecLo"), "");  // the key has a leading blank
  EXPECT_EQ(BodyValue(body, "Pad"), " v ");
  EXPECT_EQ(BodyValue(body, "livehz"), "");
  EXPECT_EQ(BodyValue(body, ""), "");
}

TEST(Bodies, ApplyBodyTrimsKeysIgnoresUnknownAndStartsFromDefaults) {
  TTalvConfig cfg =
      ConfigFromBody({" StartHz =150M", "ClientPid=77", "NoSuchKey=1", "=5", "SnrDb=9,5", "Modulation=am"});
  EXPECT_EQ(cfg.StartHz, 150000000);
  EXPECT_EQ(cfg.SnrDb, 9.5);
  EXPECT_EQ(cfg.Modulation, modAM);
  EXPECT_EQ(cfg.StopHz, 146000000);  // left out: the default, never an earlier request's value
  TTalvConfig fresh = ConfigFromBody({});
  EXPECT_EQ(fresh.StartHz, 144000000);
  EXPECT_EQ(fresh.Modulation, modNFM);
  // A request's durations are held to the engine's bounds before anything runs with them.
  const TTalvConfig wild = ConfigFromBody({"SettleMs=2147483647", "HangTimeMs=99999999"});
  EXPECT_EQ(wild.SettleMs, kMaxSettleMs);
  EXPECT_EQ(wild.HangTimeMs, kMaxHangTimeMs);
}

TEST(Bodies, ClientPidIsTheLow32BitsOfA64BitNumber) {
  EXPECT_EQ(BodyClientPid({"ClientPid=4242"}), 4242u);
  EXPECT_EQ(BodyClientPid({"ClientPid=4294967297"}), 1u);
  EXPECT_EQ(BodyClientPid({"ClientPid=abc"}), 0u);
  EXPECT_EQ(BodyClientPid({}), 0u);
}

TEST(Bodies, RequestFrequenciesAreClamped) {
  EXPECT_EQ(ClampRequestHz(-1), 0);
  EXPECT_EQ(ClampRequestHz(INT64_MAX), proto::kMaxRequestHz);
  EXPECT_EQ(BodyHz({"LiveHz=145.5M"}, "LiveHz"), 145500000);
  EXPECT_EQ(BodyHz({"LiveHz=9000000000G"}, "LiveHz"), proto::kMaxRequestHz);
  EXPECT_EQ(BodyHz({"LiveHz=-5M"}, "LiveHz"), 0);
  EXPECT_EQ(BodyHz({"LiveHz=x"}, "LiveHz"), 0);
  TSpectrumRequest s = ParseSpectrumRequest({"SpecLo=900000000000000000", "SpecHi=-900000000000000000"});
  EXPECT_EQ(s.LoHz, proto::kMaxRequestHz);
  EXPECT_EQ(s.HiHz, 0);
}

TEST(Bodies, SpectrumKeysDefaultsAndLimits) {
  TSpectrumRequest d = ParseSpectrumRequest({});
  EXPECT_EQ(d.CenterHz, 0);
  EXPECT_EQ(d.Bins, 512);
  EXPECT_EQ(d.LoHz, 0);
  EXPECT_EQ(d.HiHz, 0);
  EXPECT_EQ(ParseSpectrumRequest({"SpecBins=5"}).Bins, 16);
  EXPECT_EQ(ParseSpectrumRequest({"SpecBins=100000"}).Bins, 8192);
  EXPECT_EQ(ParseSpectrumRequest({"SpecBins=99999999999"}).Bins, 8192);
  EXPECT_EQ(ParseSpectrumRequest({"SpecBins=2048"}).Bins, 2048);
  TSpectrumRequest s = ParseSpectrumRequest({"SpecCenter=145M", "SpecLo=144000k", "SpecHi=146000000 Hz"});
  EXPECT_EQ(s.CenterHz, 145000000);
  EXPECT_EQ(s.LoHz, 144000000);
  EXPECT_EQ(s.HiHz, 146000000);
}

TEST(Bodies, EnvelopeKeysDefaultsAndLimits) {
  TEnvelopeRequest d = ParseEnvelopeRequest({});
  EXPECT_EQ(d.After, 0);
  EXPECT_EQ(d.Max, 512);
  EXPECT_EQ(ParseEnvelopeRequest({"EnvMax=0"}).Max, 16);
  EXPECT_EQ(ParseEnvelopeRequest({"EnvMax=9999"}).Max, 4096);
  EXPECT_EQ(ParseEnvelopeRequest({"EnvAfter=123456789012"}).After, 123456789012);
  EXPECT_EQ(EnvelopeRate(48000), 62);
  EXPECT_EQ(EnvelopeRate(44100), 57);
  EXPECT_EQ(EnvelopeRate(ConfigFromBody({"AudioRate=44100"}).AudioRate), 57);
}

TEST(Bodies, LiveKeys) {
  TTalvConfig cfg = ConfigFromBody({"Modulation=WFM"});
  TLiveRequest one = ParseLiveRequest({"LiveHz=145.5M", "LiveMod=usb"}, cfg);
  EXPECT_EQ(one.Hz, 145500000);
  EXPECT_EQ(one.Mod, modUSB);
  EXPECT_FALSE(one.Multi);
  TLiveRequest dflt = ParseLiveRequest({"LiveHz=100M", "LiveMod=FM"}, cfg);
  EXPECT_EQ(dflt.Mod, modWFM);  // an unknown name: the settings' modulation
  EXPECT_TRUE(ParseLiveRequest({"LiveMulti=1"}, cfg).Multi);
  EXPECT_FALSE(ParseLiveRequest({"LiveMulti=true"}, cfg).Multi);
  EXPECT_FALSE(ParseLiveRequest({"LiveMulti=1 "}, cfg).Multi);
  EXPECT_EQ(ParseLiveRequest({}, cfg).Hz, 0);
}

// ---------------------------------------------------------------------------------------------
// Reply lines

TEST(ChannelLine, FormatIsByteExact) {
  TChannelRec rec;
  rec.Hz = 145012500;
  rec.FirstSeen = 45000.5;
  rec.LastSeen = 45000.75;
  rec.Hits = 3;
  rec.PeakSnrDb = 20.25;
  rec.LastSnrDb = 18;
  rec.Active = 1;
  EXPECT_EQ(FormatChannelRec(rec), "145012500\t45000.500000\t45000.750000\t3\t20.25\t18.00\t0\t1");
  rec.Active = 0;
  rec.PeakSnrDb = -3.125;  // exactly between: the even neighbour, as printf does
  EXPECT_EQ(FormatChannelRec(rec), "145012500\t45000.500000\t45000.750000\t3\t-3.12\t18.00\t0\t0");
}

TEST(ChannelLine, ParsesBackWhatWasFormatted) {
  TChannelRec rec{433920000, 45123.123456, 45123.654321, 17, 31.5, 12.25, 0, 1};
  TChannelRec back;
  ASSERT_TRUE(ParseChannelLine(FormatChannelRec(rec), back));
  EXPECT_EQ(back.Hz, rec.Hz);
  EXPECT_DOUBLE_EQ(back.FirstSeen, rec.FirstSeen);
  EXPECT_DOUBLE_EQ(back.LastSeen, rec.LastSeen);
  EXPECT_EQ(back.Hits, 17);
  EXPECT_DOUBLE_EQ(back.PeakSnrDb, 31.5);
  EXPECT_DOUBLE_EQ(back.LastSnrDb, 12.25);
  EXPECT_EQ(back.Active, 1);
}

TEST(ChannelLine, LenientTailStrictHead) {
  TChannelRec rec;
  ASSERT_TRUE(ParseChannelLine("145000000\t1.5\t2.5\t4\t10.00\t9.00", rec));  // six fields
  EXPECT_EQ(rec.Reserved, 0);
  EXPECT_EQ(rec.Active, 0);
  ASSERT_TRUE(ParseChannelLine("145000000\t1.5\t2.5\t4\t10.00\t9.00\t0\t2\textra", rec));
  EXPECT_EQ(rec.Active, 1);
  EXPECT_FALSE(ParseChannelLine("145000000\t1.5\t2.5\t12.5\t10.00\t9.00\t0\t1", rec));  // hits
  EXPECT_EQ(rec.Hz, 0);                                                                 // cleared
  EXPECT_FALSE(ParseChannelLine("145000000\t1,5\t2.5\t4\t10.00\t9.00\t0\t1", rec));     // comma
  EXPECT_FALSE(ParseChannelLine("145000000\t1.5\t2.5\t4\t10.00", rec));                 // five fields
  EXPECT_FALSE(ParseChannelLine("", rec));
}

TEST(ChannelLine, NextTabFieldWalksTheLine) {
  size_t pos = 0;
  std::string line = "a\t\tbc";
  EXPECT_EQ(NextTabField(line, pos), "a");
  EXPECT_EQ(NextTabField(line, pos), "");
  EXPECT_EQ(NextTabField(line, pos), "bc");
  EXPECT_EQ(pos, line.size() + 1);
  EXPECT_EQ(NextTabField(line, pos), "");
}

TEST(StatusReply, FreshEngine) {
  TStatusInfo s;
  s.EnginePid = 4711;
  s.Simd = "sse2";
  EXPECT_EQ(StatusLines(s),
            (TTextLines{"Running=0", "EnginePid=4711", "Simd=sse2", "Channels=0", "Monitor=0", "Live=0"}));
  s.ServiceError = "cannot open rtlsdr #0\r\n(busy)";
  EXPECT_EQ(StatusLines(s).back(), "LastError=cannot open rtlsdr #0  (busy)");
}

TEST(StatusReply, RunningScanWithItsBlock) {
  TStatusInfo s;
  s.ScanRunning = true;
  s.EnginePid = 1;
  s.Simd = "avx2";
  s.Channels = 3;
  s.ScanExists = true;
  s.ScanDevice = "Simulated receiver";
  s.Sweeps = 12;
  s.HopIndex = 2;
  s.HopCount = 5;
  s.NoiseDb = -72.25;
  s.StartedAt = 45000.123456789;
  s.LevelClass = 3;
  s.ServiceError = "not shown while a scan session exists";
  EXPECT_EQ(StatusLines(s),
            (TTextLines{"Running=1", "EnginePid=1", "Simd=avx2", "Channels=3", "Monitor=0", "Live=0",
                        "Device=Simulated receiver", "Sweeps=12", "HopIndex=2", "HopCount=5", "NoiseDb=-72.2",
                        "StartedAt=45000.123457", "Level=loud"}));
  s.LevelClass = 0;
  s.ScanError = "sweep failed";
  s.ScanRunning = false;
  TTextLines lines = StatusLines(s);
  EXPECT_EQ(lines[0], "Running=0");
  EXPECT_EQ(lines.back(), "LastError=sweep failed");
  for (const std::string& l : lines) EXPECT_NE(l.rfind("Level=", 0), 0u) << l;
}

TEST(StatusReply, LiveBlockForms) {
  TStatusInfo s;
  s.EnginePid = 9;
  s.Simd = "sse2";
  // One-channel live session.
  s.LiveRunning = s.LiveExists = true;
  s.LiveHz = 145500000;
  s.LiveMod = modAM;
  s.LiveCenterHz = 145300000;
  s.LiveDevice = "HackRF One";
  TTextLines lines = StatusLines(s);
  EXPECT_EQ(
      TTextLines(lines.begin() + 5, lines.end()),
      (TTextLines{"Live=1", "LiveHz=145500000", "LiveMod=AM", "LiveCenter=145300000", "Device=HackRF One"}));
  // A live session that ended with an error.
  s.LiveRunning = false;
  s.LiveError = "read failed";
  lines = StatusLines(s);
  EXPECT_EQ(TTextLines(lines.begin() + 5, lines.end()), (TTextLines{"Live=0", "LastError=read failed"}));
  // Every channel through the running scan.
  s = TStatusInfo();
  s.ScanRunning = s.ScanExists = true;
  s.ThroughMulti = true;
  s.ThroughHz = 145000000;
  s.ThroughMod = modWFM;
  lines = StatusLines(s);
  EXPECT_EQ(TTextLines(lines.begin() + 5, lines.begin() + 9),
            (TTextLines{"Live=1", "LiveHz=0", "LiveMod=WFM", "LiveCenter=0"}));
  // One channel through it.
  s.ThroughMulti = false;
  lines = StatusLines(s);
  EXPECT_EQ(lines[6], "LiveHz=145000000");
  // The scan plays nothing through: the plain form.
  s.ThroughHz = 0;
  lines = StatusLines(s);
  EXPECT_EQ(lines[5], "Live=0");
  EXPECT_EQ(lines[6], "Device=");
}

TEST(SpectrumReply, HeadPanoMarkAndBinLines) {
  TTextLines lines;
  AppendSpectrumHead(lines, 145000000, 2048000.4, -71.25, 17, "scan", 130, 144000000, 146000000);
  EXPECT_EQ(lines, (TTextLines{"Center=145000000", "Rate=2048000", "Noise=-71.2", "Seq=17", "Source=scan",
                               "Count=130", "LoHz=144000000", "HiHz=146000000"}));
  EXPECT_EQ(PanoLine(144000000, 145000000, -1), "Pano=144000000 145000000 -1");
  EXPECT_EQ(MarkLine(145012500, 23.45), "Mark=145012500 23.4");  // 23.45 is stored a little below
  std::vector<float> bins(130);
  for (size_t i = 0; i < bins.size(); ++i) bins[i] = -80.0f - static_cast<float>(i) * 0.5f;
  lines.clear();
  AppendBinLines(lines, bins.data(), bins.size());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("Bin=-80.0 -80.5 -81.0 ", 0), 0u);
  EXPECT_EQ(lines[1], "Bin=-144.0 -144.5");
  size_t blanks = 0;
  for (char c : lines[0]) blanks += c == ' ';
  EXPECT_EQ(blanks, 127u);
  lines.clear();
  AppendBinLines(lines, bins.data(), 0);
  EXPECT_TRUE(lines.empty());
  float rounding[] = {-0.04f, 0.25f, -80.25f};
  AppendBinLines(lines, rounding, 3);
  EXPECT_EQ(lines[0], "Bin=-0.0 0.2 -80.2");
}

// The fast path of the bin and pair texts must give the general formatter's text for every float.
TEST(SpectrumReply, FastLevelTextEqualsTheGeneralFormatter) {
  std::vector<float> values = {0.0f,     -0.0f,     -0.04f,  0.05f,    0.25f,     0.75f,        -80.25f,
                               -80.75f,  0.125f,    0.375f,  0.00005f, -0.00005f, 0.99995f,     9.95f,
                               -9.95f,   99999.95f, 1e-30f,  -1e-30f,  1.4e-45f,  123456789.0f, 9.0e14f,
                               -9.0e14f, 1e15f,     3.4e38f, -3.4e38f};
  // Halves and quarters are exact ties at one and at four decimals.
  for (int k = -400; k <= 400; ++k) values.push_back(k * 0.25f + 0.0625f * (k % 3));
  // A walk over the bit patterns of positive and negative floats, NaNs and infinities included.
  for (uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 0x00010001u) {
    uint32_t b = static_cast<uint32_t>(bits);
    float f;
    std::memcpy(&f, &b, sizeof f);
    values.push_back(f);
  }
  for (int decimals = 0; decimals <= 9; ++decimals) {
    for (float v : values) {
      // Appended after text already there, as in a reply line.
      std::string fast = "Bin=";
      AppendFixed(fast, v, decimals);
      ASSERT_EQ(fast.substr(4), FormatPoint(v, decimals)) << "decimals " << decimals << " value " << v;
    }
  }
  std::string out;
  AppendFixed(out, std::numeric_limits<float>::infinity(), 1);
  EXPECT_EQ(out, FormatPoint(std::numeric_limits<double>::infinity(), 1));
}

TEST(EnvelopeReply, HeadLaneAndPairLines) {
  TTextLines lines;
  AppendEnvelopeHead(lines, 4100, true, 62);
  EXPECT_EQ(lines, (TTextLines{"Seq=4100", "Live=1", "Rate=62"}));
  EXPECT_EQ(LaneLine(0, 4100), "Lane=0 4100");
  struct TLevel {
    float Peak, Rms;
  };
  std::vector<TLevel> levels(65, TLevel{0.5f, 0.25f});
  levels[64] = {0.98f, 0.123456f};
  lines.clear();
  AppendEnvLines(lines, levels);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("Env=0.5000,0.2500 0.5000,0.2500", 0), 0u);
  EXPECT_EQ(lines[0].size(), 4 + 64 * 13 + 63u);
  EXPECT_EQ(lines[1], "Env=0.9800,0.1235");
  lines.clear();
  AppendEnvLines(lines, std::vector<TLevel>{});
  EXPECT_TRUE(lines.empty());
}

TEST(Numbers, PointWhateverTheLocale) {
  bool comma = SetCommaLocale();
  TChannelRec rec{145000000, 1.5, 2.25, 1, 12.5, 11.75, 0, 0};
  EXPECT_EQ(FormatChannelRec(rec), "145000000\t1.500000\t2.250000\t1\t12.50\t11.75\t0\t0");
  TTextLines lines;
  float bins[] = {-80.5f};
  AppendBinLines(lines, bins, 1);
  EXPECT_EQ(lines[0], "Bin=-80.5");
  TChannelRec back;
  EXPECT_TRUE(ParseChannelLine(FormatChannelRec(rec), back));
  EXPECT_EQ(back.LastSnrDb, 11.75);
  std::setlocale(LC_ALL, "C");
  if (!comma) std::printf("(no comma locale on this system; checked in the C locale)\n");
}

// ---------------------------------------------------------------------------------------------
// Over a real pipe

namespace {

// An engine-like server for one connection: reads the request as the engine does and, when it is
// complete, answers with the command word and the body echoed after a dot-led line.
class TOneShotServer {
 public:
  TOneShotServer() : Server(Name()) {
    Opened = Server.Open();
    if (Opened)
      Loop.Start([this] {
        Server.Serve(
            [this](plat::TPipeConn& conn) {
              TRequest request;
              TReadState s = ReadRequest(conn, request);
              State = static_cast<int>(s);
              if (s != TReadState::Complete) return;
              TTextLines reply = {"OK", ".leading dot", "Word=" + CommandWord(request.CommandLine)};
              for (const std::string& line : request.Body) reply.push_back(line);
              WriteReply(conn, reply);
            },
            [] { return false; });
      });
  }
  ~TOneShotServer() {
    Server.Stop();
    Loop.Join();
  }
  static std::string Name() {
    static std::atomic<int> n{0};
    return "talv_proto_test_" + std::to_string(plat::CurrentProcessId()) + "_" + std::to_string(++n);
  }
  plat::TPipeServer Server;
  plat::TThread Loop;
  bool Opened = false;
  std::atomic<int> State{-1};
};

}  // namespace

TEST(PipeFraming, RequestAndReplyCrossARealPipe) {
  TOneShotServer s;
  ASSERT_TRUE(s.Opened) << s.Server.LastError();
  auto conn = plat::PipeConnect(s.Server.Name(), 5000);
  ASSERT_NE(conn, nullptr);
  ASSERT_TRUE(SendRequest(*conn, "status", {".", "A=1"}));
  TTextLines reply;
  ASSERT_TRUE(ReadReply(*conn, reply));
  s.Loop.Join();
  EXPECT_EQ(s.State.load(), static_cast<int>(TReadState::Complete));
  EXPECT_EQ(reply, (TTextLines{"OK", ".leading dot", "Word=STATUS", ".", "A=1"}));
  EXPECT_TRUE(ReplyIsOk(reply));
}

TEST(PipeFraming, OversizedRequestIsDroppedWithoutAReply) {
  TOneShotServer s;
  ASSERT_TRUE(s.Opened) << s.Server.LastError();
  auto conn = plat::PipeConnect(s.Server.Name(), 5000);
  ASSERT_NE(conn, nullptr);
  TTextLines body(20000, std::string(100, 'x'));  // about 2 MiB
  SendRequest(*conn, "START", body);              // may fail once the engine has dropped us
  TTextLines reply;
  EXPECT_FALSE(ReadReply(*conn, reply));
  EXPECT_TRUE(reply.empty());
  s.Loop.Join();
  EXPECT_TRUE(s.Server.WaitConnections(10000));
  EXPECT_EQ(s.State.load(), static_cast<int>(TReadState::TooLarge));
}

TEST(PipeFraming, RequestEndingBeforeItsTerminatorGetsNoReply) {
  TOneShotServer s;
  ASSERT_TRUE(s.Opened) << s.Server.LastError();
  auto conn = plat::PipeConnect(s.Server.Name(), 5000);
  ASSERT_NE(conn, nullptr);
  ASSERT_TRUE(conn->Write(".\r\n", 3));  // the terminator alone
  TTextLines reply;
  EXPECT_FALSE(ReadReply(*conn, reply));
  s.Loop.Join();
  EXPECT_EQ(s.State.load(), static_cast<int>(TReadState::Invalid));
}

// ---------------------------------------------------------------------------------------------
// Live ticket

TEST(LiveTicket, WrittenByteExactAndReadBack) {
  std::string text = WriteTicket("audio", 145012500, 20000, "NFM", "145.012500 MHz  NFM");
  EXPECT_EQ(text,
            "TALVORAN-LIVE/1\r\nMode=audio\r\nCenterHz=145012500\r\nSpanHz=20000\r\nModulation=NFM\r\n"
            "Title=145.012500 MHz  NFM\r\n");
  TViewTicket t = ReadTicket(text);
  EXPECT_TRUE(t.Valid);
  EXPECT_EQ(t.Mode, "audio");
  EXPECT_EQ(t.CenterHz, 145012500);
  EXPECT_EQ(t.SpanHz, 20000);
  EXPECT_EQ(t.Modulation, "NFM");
  EXPECT_EQ(t.Title, "145.012500 MHz  NFM");
}

TEST(LiveTicket, MagicOnlyOnTheFirstLineAnywhereInIt) {
  EXPECT_TRUE(ReadTicket("xx TALVORAN-LIVE/1 yy\nMode=multi").Valid);
  EXPECT_FALSE(ReadTicket("\nTALVORAN-LIVE/1\nMode=multi").Valid);
  EXPECT_FALSE(ReadTicket("").Valid);
  TViewTicket bad = ReadTicket("nothing\nCenterHz=5");
  EXPECT_EQ(bad.CenterHz, 0);
}

TEST(LiveTicket, KeysExactValuesTrimmedLaterLineWins) {
  TViewTicket t = ReadTicket(
      "TALVORAN-LIVE/1\rcenterhz=5\r\n  Title =  two  words  "
      "\nCenterHz=x\nSpanHz=1\nSpanHz=-7\n=odd\nnoequals");
  EXPECT_TRUE(t.Valid);
  EXPECT_EQ(t.CenterHz, 0);
  EXPECT_EQ(t.Title, "two  words");
  EXPECT_EQ(t.SpanHz, -7);
  EXPECT_EQ(t.Mode, "");
  TViewTicket lf = ReadTicket("TALVORAN-LIVE/1\nMode=spectrum\nCenterHz=145000000\n");
  TViewTicket crlf = ReadTicket("TALVORAN-LIVE/1\r\nMode=spectrum\r\nCenterHz=145000000\r\n");
  EXPECT_EQ(lf.Mode, crlf.Mode);
  EXPECT_EQ(lf.CenterHz, crlf.CenterHz);
}
