#include "uReplies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pClock.h"
#include "pProcess.h"
#include "pSystem.h"
#include "uLevelTap.h"

// The taps are process-wide, so the cases below that need a fresh engine run in a child process of
// this program (the helper acts only when the parent asks for it).

namespace {

TChannelHit Hit(int64_t hz, double snr) {
  TChannelHit h;
  h.ChannelHz = hz;
  h.PeakHz = hz;
  h.SnrDb = snr;
  h.HopCenterHz = 145000000;
  return h;
}

std::vector<float> Ramp(size_t n, float start) {
  std::vector<float> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = start + static_cast<float>(i) * 0.25f;
  return v;
}

TSpectrumRequest Window(int32_t bins, int64_t lo, int64_t hi) {
  TSpectrumRequest r;
  r.Bins = bins;
  r.LoHz = lo;
  r.HiHz = hi;
  return r;
}

}  // namespace

TEST(FreshEngineHelper, Replies) {
  if (plat::GetEnv("TALV_REPLIES_FRESH") != "1") return;  // only as the child of the test below
  TTextLines spectrum, envelope;
  BuildSpectrumReply(spectrum, TSpectrumRequest(), TTalvConfig(), false);
  BuildEnvelopeReply(envelope, TEnvelopeRequest(), 48000, false);
  // Line ends spelled out: a console in text mode would change them.
  std::string text = "[" + FrameReply(spectrum) + "][" + FrameReply(envelope) + "]";
  std::string shown;
  for (char c : text)
    shown += c == '\r' ? std::string("<CR>") : c == '\n' ? std::string("<LF>") : std::string(1, c);
  std::printf("%s\n", shown.c_str());
  std::fflush(stdout);
}

TEST(FreshEngine, NoSpectrumYetAndAnEmptyEnvelope) {
  plat::TProcessResult r = plat::RunProcess(plat::ProgramPath(), {"--gtest_filter=FreshEngineHelper.Replies"},
                                            {{"TALV_REPLIES_FRESH", "1"}}, 60000);
  ASSERT_TRUE(r.Started) << r.Error;
  EXPECT_NE(r.Output.find("[ERR no spectrum yet<CR><LF>.<CR><LF>][OK<CR><LF>Seq=0<CR><LF>Live=0<CR><LF>"
                          "Rate=62<CR><LF>.<CR><LF>]"),
            std::string::npos)
      << r.Output;
}

TEST(SpectrumFrame, WholeFrameByteExact) {
  std::vector<float> bins = Ramp(16, -90.0f);
  PublishSpecFrame(145000000, 2048000.0, -70.25, bins.data(), 16, "live",
                   {Hit(145012500, 23.45), Hit(144900000, 12)});
  TTextLines reply;
  BuildSpectrumReply(reply, Window(16, 0, 0), TTalvConfig(), false);
  const std::string seq = "Seq=" + std::to_string(SpecFrameSequence());
  EXPECT_EQ(reply, (TTextLines{"OK", "Center=145000000", "Rate=2048000", "Noise=-70.2", seq, "Source=live",
                               "Count=16", "LoHz=143976000", "HiHz=146024000", "Mark=145012500 23.4",
                               "Mark=144900000 12.0",
                               "Bin=-90.0 -89.8 -89.5 -89.2 -89.0 -88.8 -88.5 -88.2 -88.0 -87.8 -87.5 -87.2 "
                               "-87.0 -86.8 -86.5 -86.2"}));
}

TEST(SpectrumFrame, CroppedAndReducedWindow) {
  // 4096 bins over 2.048 MHz: two bins per kHz; the upper half of the frame, reduced to 512 points.
  std::vector<float> bins = Ramp(4096, -120.0f);
  PublishSpecFrame(145000000, 2048000.0, -95.0, bins.data(), 4096, "scan", {});
  TTextLines reply;
  BuildSpectrumReply(reply, Window(512, 145000000, 146024000), TTalvConfig(), false);
  ASSERT_GE(reply.size(), 9u);
  EXPECT_EQ(reply[6], "Count=512");
  EXPECT_EQ(reply[7], "LoHz=145000000");
  EXPECT_EQ(reply[8], "HiHz=146024000");
  ASSERT_EQ(reply.size(), 9u + 4u);  // no marks, 512 / 128 bin lines
  // The first point holds bins 2048..2051, the largest of them is the last.
  EXPECT_EQ(reply[9].rfind("Bin=392.8 ", 0), 0u) << reply[9].substr(0, 40);
}

TEST(SpectrumPanorama, WideWindowDuringAScanGivesThePanorama) {
  plat::TManualClock clock(10000);
  SetSpecTapClock(&clock);
  TScanHopArray hops;
  BuildHops(hops, 144000000, 148000000, 2048000.0, 0.075);
  ASSERT_GE(hops.size(), 2u);
  PublishPanoHops(hops, 2048000.0);
  std::vector<float> slot = Ramp(64, -100.0f);
  PublishPanoSlot(0, slot.data(), 64, -101.5);
  clock.Advance(250);
  std::vector<float> frame = Ramp(32, -80.0f);
  PublishSpecFrame(hops[0].CenterHz, 2048000.0, -101.5, frame.data(), 32, "scan", {Hit(144400000, 17.25)});
  TTalvConfig cfg;
  cfg.SampleRate = 2048000;
  TTextLines reply;
  BuildSpectrumReply(reply, Window(256, 144000000, 148000000), cfg, true);
  SetSpecTapClock(nullptr);
  ASSERT_GT(reply.size(), 9u + hops.size());
  EXPECT_EQ(reply[0], "OK");
  EXPECT_EQ(reply[1], "Center=146000000");
  EXPECT_EQ(reply[2], "Rate=2048000");
  EXPECT_EQ(reply[3], "Noise=-101.5");  // the mean over the hops with data
  EXPECT_EQ(reply[4], "Seq=" + std::to_string(SpecFrameSequence()));
  EXPECT_EQ(reply[5], "Source=pano");
  EXPECT_EQ(reply[6], "Count=256");
  EXPECT_EQ(reply[7], "LoHz=144000000");
  EXPECT_EQ(reply[8], "HiHz=148000000");
  EXPECT_EQ(reply[9], "Pano=" + std::to_string(hops[0].LoHz) + " " + std::to_string(hops[0].HiHz) + " 250");
  EXPECT_EQ(reply[10], "Pano=" + std::to_string(hops[1].LoHz) + " " + std::to_string(hops[1].HiHz) + " -1");
  EXPECT_EQ(reply[9 + hops.size()], "Mark=144400000 17.2");
  EXPECT_EQ(reply[10 + hops.size()].rfind("Bin=", 0), 0u);
  EXPECT_EQ(reply.size(), 10u + hops.size() + 2u);            // 256 points in two lines
  EXPECT_NE(reply.back().find("-400.0"), std::string::npos);  // points without data

  // Not scanning, or a window of one hop: the latest frame instead.
  BuildSpectrumReply(reply, Window(256, 144000000, 148000000), cfg, false);
  EXPECT_EQ(reply[5], "Source=scan");
  BuildSpectrumReply(reply, Window(256, 144000000, 146150400), cfg, true);  // exactly 1.05 x rate
  EXPECT_EQ(reply[5], "Source=scan");
  BuildSpectrumReply(reply, Window(256, 144000000, 146150401), cfg, true);
  EXPECT_EQ(reply[5], "Source=pano");
}

TEST(EnvelopeReply, LanesWithTheirNewSamples) {
  SetLevelLanes({145000000, 146000000});
  std::vector<float> loud(768, -0.5f), quiet(768, 0.0f);
  for (int i = 0; i < 3; ++i) PushLevel(145000000, loud.data(), 768);
  PushLevel(146000000, quiet.data(), 768);
  TTextLines reply;
  TEnvelopeRequest req;
  req.After = 1;
  req.Max = 16;
  BuildEnvelopeReply(reply, req, 44100, true);
  EXPECT_EQ(reply, (TTextLines{"OK", "Seq=3", "Live=1", "Rate=57", "Lane=145000000 3",
                               "Env=0.5000,0.5000 0.5000,0.5000", "Lane=146000000 1"}));
  ClearLevelLanes();
  BuildEnvelopeReply(reply, TEnvelopeRequest(), 48000, false);
  EXPECT_EQ(reply, (TTextLines{"OK", "Seq=0", "Live=0", "Rate=62"}));
}

TEST(EnvelopeReply, AtMostMaxSamplesPerLaneTheNewestWin) {
  SetLevelLanes({0});
  std::vector<float> block(768, 0.0f);
  for (int i = 0; i < 100; ++i) {
    block[0] = static_cast<float>(i) / 128.0f;
    PushLevel(0, block.data(), 768);
  }
  TTextLines reply;
  TEnvelopeRequest req;
  req.Max = 16;
  BuildEnvelopeReply(reply, req, 48000, true);
  ASSERT_EQ(reply.size(), 6u);
  EXPECT_EQ(reply[4], "Lane=0 100");
  EXPECT_EQ(reply[5].rfind("Env=0.6562,", 0), 0u) << reply[5];  // sample 84 of 0..99: 84/128
  EXPECT_NE(reply[5].find(" 0.7734,"), std::string::npos);      // ... up to sample 99
  ClearLevelLanes();
}

TEST(DevicesReply, OneLinePerReceiverWithSafeTexts) {
  TSdrDeviceInfoArray devices(2);
  devices[0].Index = 0;
  devices[0].Kind = skRtlSdr;
  devices[0].Name = "Generic RTL2832U OEM";
  devices[0].Serial = "00000001";
  devices[1].Index = 0;
  devices[1].Kind = skHackRf;
  devices[1].Name = "HackRF\tOne\r\n.";
  devices[1].Serial = "";
  TTextLines reply;
  BuildDevicesReply(reply, devices);
  EXPECT_EQ(reply,
            (TTextLines{"OK", "0\trtlsdr\tGeneric RTL2832U OEM\t00000001", "0\thackrf\tHackRF One  .\t"}));
  BuildDevicesReply(reply, {});
  EXPECT_EQ(reply, TTextLines{"OK"});
}
