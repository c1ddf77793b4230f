// The command handlers on the simulated receiver's three carriers: START and the scan's STATUS and
// CHANNELS, STOP and CLEAR, SPECTRUM in its frame, panorama and monitor forms, ENVELOPE lanes, LIVE
// through the running scan and as a session of its own, LIVESTOP, and the receiver passing from one
// session to the next.
#include "uCommands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "ServiceTestSupport.h"
#include "uEngineSvc.h"
#include "uLevelTap.h"
#include "uLive.h"
#include "uMonitor.h"
#include "uScanSession.h"

using namespace svctest;

namespace {

class Commands : public ::testing::Test {
 protected:
  TTextLines Body(const std::vector<std::string>& more = {}) { return With(ThreeToneBody(Dir.Path()), more); }
  // Starts the three-tone scan and waits for its first complete sweep.
  void StartScan(const std::vector<std::string>& more = {}) {
    ASSERT_EQ(Ask(Svc, "START", Body(more)), TTextLines{"OK"});
    ASSERT_TRUE(WaitUntil([&] { return Svc.ScanSession() && Svc.ScanSession()->Sweeps() >= 2; }));
  }
  std::vector<TChannelRec> Channels() {
    const TTextLines reply = Ask(Svc, "CHANNELS");
    EXPECT_EQ(reply.at(0), "OK");
    std::vector<TChannelRec> recs;
    for (size_t i = 1; i < reply.size(); ++i) {
      TChannelRec rec;
      EXPECT_TRUE(ParseChannelLine(reply[i], rec)) << reply[i];
      recs.push_back(rec);
    }
    return recs;
  }

  TSimScene Scene;
  testsupport::TTempDir Dir;
  TEngineService Svc;
};

std::vector<int64_t> Frequencies(const std::vector<TChannelRec>& recs) {
  std::vector<int64_t> f;
  for (const TChannelRec& r : recs) f.push_back(r.Hz);
  std::sort(f.begin(), f.end());
  return f;
}

// ---------------------------------------------------------------------------------------------
// START, STATUS, CHANNELS, STOP, CLEAR

TEST_F(Commands, StartFindsTheThreeCarriersAndChannelsListsThemActive) {
  StartScan();
  const std::vector<TChannelRec> recs = Channels();
  EXPECT_EQ(Frequencies(recs), (std::vector<int64_t>{kChannels[0], kChannels[1], kChannels[2]}));
  for (const TChannelRec& r : recs) {
    EXPECT_GE(r.Hits, 1);
    EXPECT_GT(r.PeakSnrDb, 20.0);
    EXPECT_GE(r.PeakSnrDb, r.LastSnrDb);
    EXPECT_EQ(r.Reserved, 0);
    EXPECT_LE(r.FirstSeen, r.LastSeen);
    EXPECT_GT(r.FirstSeen, 40000.0);  // a date after 2009 as days since 1899-12-30
  }
  // The reply lines themselves: eight tab-separated fields.
  const TTextLines reply = Ask(Svc, "CHANNELS");
  ASSERT_EQ(reply.size(), 4u);
  for (size_t i = 1; i < reply.size(); ++i) EXPECT_EQ(std::count(reply[i].begin(), reply[i].end(), '\t'), 7);
  // Active: seen by the latest merge while the scan runs (the three carriers are in every sweep).
  ASSERT_TRUE(WaitUntil([&] {
    std::vector<TChannelRec> now = Channels();
    return now.size() == 3 &&
           std::all_of(now.begin(), now.end(), [](const TChannelRec& r) { return r.Active == 1; });
  }));
}

TEST_F(Commands, StatusOfARunningScan) {
  StartScan();
  const TTextLines status = Ask(Svc, "STATUS");
  const std::vector<std::string> keys = {"Running",  "EnginePid", "Simd",    "Channels",
                                         "Monitor",  "Live",      "Device",  "Sweeps",
                                         "HopIndex", "HopCount",  "NoiseDb", "StartedAt"};
  std::vector<std::string> got = Keys(status);
  got.erase(std::remove(got.begin(), got.end(), "Level"), got.end());  // present once a block was measured
  EXPECT_EQ(got, keys);
  EXPECT_EQ(Value(status, "Running"), "1");
  EXPECT_EQ(Value(status, "Channels"), "3");
  EXPECT_EQ(Value(status, "Live"), "0");
  EXPECT_EQ(Value(status, "Device"), "Simulated SDR");
  EXPECT_EQ(Value(status, "HopCount"), "2");
  EXPECT_GE(std::stoi(Value(status, "Sweeps")), 2);
  const int hop = std::stoi(Value(status, "HopIndex"));
  EXPECT_TRUE(hop == 0 || hop == 1);
  const std::string noise = Value(status, "NoiseDb");
  EXPECT_EQ(noise.size() - noise.find('.'), 2u) << noise;  // one decimal
  const std::string started = Value(status, "StartedAt");
  EXPECT_EQ(started.size() - started.find('.'), 7u) << started;  // six decimals
  // Progress: the sweep count grows while the scan runs.
  const int sweeps = std::stoi(Value(status, "Sweeps"));
  EXPECT_TRUE(WaitUntil([&] { return std::stoi(Value(Ask(Svc, "STATUS"), "Sweeps")) > sweeps; }));
}

TEST_F(Commands, StopEndsTheScanAndEveryChannelReadsStoppedClearEmptiesTheList) {
  StartScan();
  EXPECT_EQ(Ask(Svc, "STOP"), TTextLines{"OK"});
  EXPECT_FALSE(Svc.IsScanning());
  const TTextLines status = Ask(Svc, "STATUS");
  EXPECT_EQ(Value(status, "Running"), "0");
  EXPECT_EQ(Value(status, "Device"), "<none>");  // no scan session object any more
  EXPECT_EQ(Value(status, "Channels"), "3");
  const std::vector<TChannelRec> recs = Channels();
  ASSERT_EQ(recs.size(), 3u);
  for (const TChannelRec& r : recs) EXPECT_EQ(r.Active, 0);
  EXPECT_EQ(Ask(Svc, "CLEAR"), TTextLines{"OK"});
  EXPECT_EQ(Ask(Svc, "CHANNELS"), TTextLines{"OK"});
  EXPECT_EQ(Value(Ask(Svc, "STATUS"), "Channels"), "0");
}

TEST_F(Commands, StartThatCannotConfigureAnswersTheScannersTextAndStatusKeepsIt) {
  // A stop below the start leaves no hop to sweep.
  const TTextLines reply = Ask(Svc, "START", Body({"StartHz=146000000", "StopHz=144000000"}));
  ASSERT_EQ(reply.size(), 1u);
  ASSERT_EQ(reply[0].rfind("ERR ", 0), 0u) << reply[0];
  EXPECT_FALSE(Svc.IsScanning());
  EXPECT_EQ(Value(Ask(Svc, "STATUS"), "LastError"), reply[0].substr(4));
  // The next successful START clears it.
  StartScan();
  EXPECT_EQ(Svc.ServiceLastError(), "");
}

TEST_F(Commands, ANewStartEmptiesTheStoreAndStopsALiveSession) {
  ASSERT_EQ(Ask(Svc, "LIVE", Body({"LiveHz=145187500"})), TTextLines{"OK"});
  ASSERT_TRUE(WaitUntil([&] { return Svc.Store().Count() >= 1; }));  // live detections merge
  TLogCapture log;
  ASSERT_EQ(Ask(Svc, "START", Body()), TTextLines{"OK"});
  EXPECT_FALSE(Svc.LiveSession());
  EXPECT_EQ(log.MessagesStarting("scan: stopped live audio to take the receiver").size(), 1u);
  EXPECT_TRUE(Svc.IsScanning());
  EXPECT_TRUE(Svc.Store().Scanning());
}

TEST_F(Commands, AHugeStartBodyAddsItsSizeAndAFewCutLinesToTheLogNotItsWholeText) {
  TTextLines body = Body();
  const size_t settings = body.size();
  for (int i = 0; i < 5000; ++i) body.push_back("Junk" + std::to_string(i) + "=" + std::string(200, 'x'));
  size_t bytes = 0;
  for (const std::string& line : body) bytes += line.size() + 2;
  TLogCapture log;
  ASSERT_EQ(Ask(Svc, "START", body), TTextLines{"OK"});
  const std::vector<std::string> lines = log.MessagesStarting("start:");
  ASSERT_EQ(lines.size(), 42u);  // the summary, 40 lines, the note of the rest
  EXPECT_EQ(lines[0],
            "start: " + std::to_string(body.size()) + " body line(s), " + std::to_string(bytes) + " bytes");
  EXPECT_EQ(lines[1], "start:   " + body[0]);  // short settings lines are logged whole
  EXPECT_EQ(lines[settings + 1].size(),
            std::string("start:   ").size() + 200 + std::string("... (206 characters)").size());
  EXPECT_EQ(lines[41], "start:   ... " + std::to_string(body.size() - 40) + " more line(s) not logged");
  size_t logged = 0;
  for (const std::string& m : log.Messages()) logged += m.size();
  EXPECT_LT(logged, 20000u);
}

// ---------------------------------------------------------------------------------------------
// SPECTRUM

TEST_F(Commands, SpectrumDuringAScanIsTheLatestFrameCutToTheBinsAskedFor) {
  StartScan();
  const TTextLines reply = Ask(Svc, "SPECTRUM", Body({"SpecBins=256"}));
  ASSERT_EQ(reply.at(0), "OK");
  const std::vector<std::string> head = {"Center", "Rate", "Noise", "Seq", "Source", "Count", "LoHz", "HiHz"};
  std::vector<std::string> keys = Keys(reply);
  ASSERT_GE(keys.size(), head.size());
  EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 8), head);
  EXPECT_EQ(Value(reply, "Source"), "scan");
  EXPECT_EQ(Value(reply, "Rate"), "2048000");
  EXPECT_EQ(Value(reply, "Count"), "256");
  size_t bins = 0, binLines = 0;
  for (size_t i = 9; i < reply.size(); ++i) {
    if (reply[i].rfind("Bin=", 0) != 0) {
      EXPECT_EQ(reply[i].rfind("Mark=", 0), 0u) << reply[i];
      EXPECT_EQ(binLines, 0u) << "marks come before the bins";
      continue;
    }
    ++binLines;
    bins += static_cast<size_t>(std::count(reply[i].begin(), reply[i].end(), ' ')) + 1;
  }
  EXPECT_EQ(bins, 256u);
  EXPECT_EQ(binLines, 2u);  // 128 per line
  EXPECT_FALSE(Svc.IsMonitoring());
}

TEST_F(Commands, SpectrumOverTheWholeRangeDuringAScanIsThePanorama) {
  StartScan();
  // A window narrower than 1.05 times the rate is the frame.
  EXPECT_EQ(Value(Ask(Svc, "SPECTRUM", Body({"SpecLo=144000000", "SpecHi=146000000"})), "Source"), "scan");
  const TTextLines reply =
      Ask(Svc, "SPECTRUM", Body({"SpecBins=1024", "SpecLo=143500000", "SpecHi=146500000"}));
  ASSERT_EQ(reply.at(0), "OK");
  EXPECT_EQ(Value(reply, "Source"), "pano");
  EXPECT_EQ(Value(reply, "Center"), "145000000");
  EXPECT_EQ(Value(reply, "Rate"), "2048000");
  EXPECT_EQ(Value(reply, "Count"), "1024");
  EXPECT_EQ(Value(reply, "LoHz"), "143500000");
  EXPECT_EQ(Value(reply, "HiHz"), "146500000");
  std::vector<std::string> pano;
  for (const std::string& l : reply)
    if (l.rfind("Pano=", 0) == 0) pano.push_back(l);
  ASSERT_EQ(pano.size(), 2u);
  EXPECT_EQ(pano[0].rfind("Pano=144000000 145370400 ", 0), 0u) << pano[0];
  EXPECT_EQ(pano[1].rfind("Pano=144629600 146000000 ", 0), 0u) << pano[1];
  // Both hops hold data: ages are not -1.
  EXPECT_EQ(pano[0].find(" -1"), std::string::npos);
}

TEST_F(Commands, SpectrumWithNothingRunningStartsTheMonitorInTheMiddleOfTheRange) {
  const TTextLines first = Ask(Svc, "SPECTRUM", Body());
  EXPECT_TRUE(first.at(0) == "OK" || first.at(0) == "ERR no spectrum yet") << first.at(0);
  ASSERT_TRUE(Svc.IsMonitoring());
  EXPECT_EQ(Svc.MonitorSession()->WantedHz(), 145000000);
  EXPECT_EQ(Value(Ask(Svc, "STATUS"), "Monitor"), "1");
  // Polls feed the same monitor, whose frames soon come back.
  const TMonitorSession* monitor = Svc.MonitorSession().get();
  ASSERT_TRUE(WaitUntil([&] { return Value(Ask(Svc, "SPECTRUM", Body()), "Source") == "monitor"; }));
  EXPECT_EQ(Svc.MonitorSession().get(), monitor);
  // A poll with another centre retunes it.
  Ask(Svc, "SPECTRUM", Body({"SpecCenter=144500000"}));
  ASSERT_TRUE(WaitUntil([&] { return Svc.MonitorSession()->WantedHz() == 144500000; }));
  // START takes the receiver from it.
  StartScan();
  EXPECT_FALSE(Svc.IsMonitoring());
}

// ---------------------------------------------------------------------------------------------
// LIVE, ENVELOPE, LIVESTOP

TEST_F(Commands, LiveOnOneChannelInsideTheRangePlaysThroughTheRunningScan) {
  StartScan();
  ASSERT_EQ(Ask(Svc, "LIVE", Body({"LiveHz=145187500", "LiveMod=AM"})), TTextLines{"OK"});
  EXPECT_TRUE(Svc.IsScanning());
  EXPECT_FALSE(Svc.LiveSession());
  TTextLines status = Ask(Svc, "STATUS");
  EXPECT_EQ(Value(status, "Running"), "1");
  EXPECT_EQ(Value(status, "Live"), "1");
  EXPECT_EQ(Value(status, "LiveHz"), "145187500");
  EXPECT_EQ(Value(status, "LiveMod"), "AM");
  EXPECT_EQ(Value(status, "LiveCenter"), "0");
  EXPECT_EQ(Value(Ask(Svc, "ENVELOPE"), "Live"), "1");
  // The dwell on its hop plays it: its lane fills.
  ASSERT_TRUE(WaitUntil([&] { return Value(Ask(Svc, "ENVELOPE"), "Lane").rfind("145187500 ", 0) == 0; }));

  EXPECT_EQ(Ask(Svc, "LIVESTOP"), TTextLines{"OK"});
  status = Ask(Svc, "STATUS");
  EXPECT_EQ(Value(status, "Running"), "1");
  EXPECT_EQ(Value(status, "Live"), "0");
  EXPECT_EQ(Value(Ask(Svc, "ENVELOPE"), "Live"), "0");
}

TEST_F(Commands, LiveOnEveryChannelDuringAScanDwellsOnEveryHop) {
  StartScan();
  ASSERT_EQ(Ask(Svc, "LIVE", Body({"LiveMulti=1"})), TTextLines{"OK"});
  const TTextLines status = Ask(Svc, "STATUS");
  EXPECT_EQ(Value(status, "Live"), "1");
  EXPECT_EQ(Value(status, "LiveHz"), "0");
  EXPECT_EQ(Value(status, "LiveCenter"), "0");
  // The level lanes follow the sweep's hits: one per carrier, ascending.
  ASSERT_TRUE(WaitUntil([&] {
    std::vector<std::string> lanes;
    for (const std::string& l : Ask(Svc, "ENVELOPE", {"EnvMax=9999"}))
      if (l.rfind("Lane=", 0) == 0) lanes.push_back(l.substr(5, l.find(' ') - 5));
    return lanes == std::vector<std::string>{"144312500", "145187500", "145737500"};
  }));
  const size_t dwells = static_cast<size_t>(Svc.ScanSession()->DwellCount());
  ASSERT_TRUE(WaitUntil([&] { return static_cast<size_t>(Svc.ScanSession()->DwellCount()) >= dwells + 2; }));
}

TEST_F(Commands, LiveOutsideTheRangeStopsTheScanAndStartsALiveSession) {
  StartScan();
  TLogCapture log;
  ASSERT_EQ(Ask(Svc, "LIVE", Body({"LiveHz=150000000", "LiveMod=WFM"})), TTextLines{"OK"});
  EXPECT_FALSE(Svc.IsScanning());
  EXPECT_EQ(log.MessagesStarting("live: stopped the running scan - the frequency is outside it").size(), 1u);
  const TTextLines status = Ask(Svc, "STATUS");
  EXPECT_EQ(Value(status, "Running"), "0");
  EXPECT_EQ(Value(status, "Live"), "1");
  EXPECT_EQ(Value(status, "LiveHz"), "150000000");
  EXPECT_EQ(Value(status, "LiveMod"), "WFM");
  EXPECT_EQ(Value(status, "LiveCenter"), "149488000");  // a quarter of the rate below
  EXPECT_EQ(Value(status, "Device"), "Simulated SDR");
  EXPECT_TRUE(Svc.Store().Scanning());
  EXPECT_EQ(Value(Ask(Svc, "ENVELOPE"), "Live"), "1");
  EXPECT_EQ(Ask(Svc, "LIVESTOP"), TTextLines{"OK"});
  EXPECT_FALSE(Svc.LiveSession());
  EXPECT_FALSE(Svc.Store().Scanning());
}

TEST_F(Commands, LiveWithoutAFrequencyAnswersFirstAndTouchesNothing) {
  StartScan();
  ASSERT_EQ(Ask(Svc, "LIVE", Body({"LiveHz=nonsense"})), TTextLines{"ERR no frequency given"});
  ASSERT_EQ(Ask(Svc, "LIVE", Body({"LiveHz=-5"})), TTextLines{"ERR no frequency given"});
  EXPECT_TRUE(Svc.IsScanning());  // the scan runs on
  EXPECT_EQ(Value(Ask(Svc, "STATUS"), "Running"), "1");
}

TEST_F(Commands, LiveThroughSurvivesStopAndPlaysAgainInTheNextScan) {
  StartScan();
  ASSERT_EQ(Ask(Svc, "LIVE", Body({"LiveHz=144312500"})), TTextLines{"OK"});
  ASSERT_EQ(Ask(Svc, "STOP"), TTextLines{"OK"});
  StartScan();
  const TTextLines status = Ask(Svc, "STATUS");
  EXPECT_EQ(Value(status, "Live"), "1");
  EXPECT_EQ(Value(status, "LiveHz"), "144312500");
  EXPECT_EQ(Svc.ScanSession()->LiveHz(), 144312500);
}

TEST_F(Commands, EveryChannelWithoutAScanIsAMultiSessionThatStatusDoesNotShow) {
  ASSERT_EQ(Ask(Svc, "LIVE", Body({"LiveMulti=1", "StartHz=144800000", "StopHz=145600000"})),
            TTextLines{"OK"});
  EXPECT_TRUE(Svc.MultiSession());
  EXPECT_EQ(Value(Ask(Svc, "STATUS"), "Live"), "0");
  EXPECT_EQ(Value(Ask(Svc, "ENVELOPE"), "Live"), "1");
  // The carrier inside the tuning gets a lane of its own.
  ASSERT_TRUE(WaitUntil([&] { return Value(Ask(Svc, "ENVELOPE"), "Lane").rfind("145187500 ", 0) == 0; }));
  EXPECT_EQ(Ask(Svc, "LIVESTOP"), TTextLines{"OK"});
  EXPECT_FALSE(Svc.MultiSession());
  EXPECT_FALSE(Svc.IsLive());
}

TEST_F(Commands, EnvelopeOfALiveSessionCarriesItsLaneWithPairsAndHonoursEnvAfter) {
  ASSERT_EQ(Ask(Svc, "LIVE", Body({"LiveHz=145187500"})), TTextLines{"OK"});
  ASSERT_TRUE(WaitUntil([&] {
    const std::string lane = Value(Ask(Svc, "ENVELOPE"), "Lane");
    return lane.rfind("0 ", 0) == 0 && std::stoll(lane.substr(2)) >= 3;
  }));
  const TTextLines reply = Ask(Svc, "ENVELOPE", {"AudioRate=48000", "EnvMax=0"});
  ASSERT_EQ(reply.at(0), "OK");
  EXPECT_EQ(Keys(reply).at(0), "Seq");
  EXPECT_EQ(Value(reply, "Rate"), "62");
  const int64_t seq = std::stoll(Value(reply, "Seq"));
  size_t pairs = 0;
  for (const std::string& l : reply) {
    if (l.rfind("Env=", 0) != 0) continue;
    const size_t n = static_cast<size_t>(std::count(l.begin(), l.end(), ' ')) + 1;
    EXPECT_LE(n, 64u);
    pairs += n;
    const std::string first = l.substr(4, l.find(' ') - 4);
    EXPECT_EQ(first.size(), std::string("0.0000,0.0000").size()) << first;
  }
  EXPECT_GE(pairs, 3u);
  EXPECT_LE(pairs, 16u);  // EnvMax 0 is taken as 16
  // Asking after the newest sequence gives at most what arrived since.
  const TTextLines later = Ask(Svc, "ENVELOPE", {"EnvAfter=" + std::to_string(seq)});
  size_t laterPairs = 0;
  for (const std::string& l : later)
    if (l.rfind("Env=", 0) == 0) laterPairs += static_cast<size_t>(std::count(l.begin(), l.end(), ' ')) + 1;
  EXPECT_LE(static_cast<int64_t>(laterPairs), std::stoll(Value(later, "Seq")) - seq);
  Ask(Svc, "LIVESTOP");
}

TEST(CommandsNoScene, DevicesListsTheReceiversOneLineEach) {
  TTextLines reply;
  CmdDevices(reply);
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply[0], "OK");
  for (size_t i = 1; i < reply.size(); ++i) EXPECT_EQ(std::count(reply[i].begin(), reply[i].end(), '\t'), 3);
}

}  // namespace
