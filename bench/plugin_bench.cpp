// The plug-in's Channels folder: a CHANNELS reply of 1000 channels, as bytes off the pipe, read into
// lines, parsed into channel records and turned into the folder listing (goal: under 2 ms, well inside
// one panel refresh). No peer library does this work; the goal is the measure.
#include <algorithm>
#include <string>

#include "BenchSupport.h"
#include "uTalvProto.h"
#include "uVfs.h"

namespace {

std::string ChannelsReply(int count) {
  TTextLines lines = {"OK"};
  for (int i = 0; i < count; ++i) {
    TChannelRec r;
    r.Hz = 144000000 + int64_t{i} * 12500;
    r.FirstSeen = 46000.25 + i * 1e-5;
    r.LastSeen = r.FirstSeen + 0.01;
    r.Hits = 1 + i % 97;
    r.PeakSnrDb = 10 + (i % 300) * 0.1;
    r.LastSnrDb = 8 + (i % 200) * 0.1;
    r.Active = i % 7 == 0;
    lines.push_back(FormatChannelRec(r));
  }
  return FrameReply(lines);
}

void ChannelsListing(benchmark::State& state) {
  const std::string bytes = ChannelsReply(1000);
  int64_t listed = 0;
  for (auto _ : state) {
    TReplyReader reader;
    for (size_t pos = 0; pos < bytes.size(); pos += proto::kReadChunk)
      reader.Feed(bytes.data() + pos, std::min(proto::kReadChunk, bytes.size() - pos));
    TChannelRecArray channels;
    channels.reserve(reader.Lines().size());
    TChannelRec rec;
    for (size_t i = 1; i < reader.Lines().size(); ++i)
      if (ParseChannelLine(reader.Lines()[i], rec)) channels.push_back(rec);
    TFindListPtr list = ListChannelsFolder(channels);
    listed = list->Count();
    benchmark::DoNotOptimize(list);
  }
  if (listed != 1000) state.SkipWithError("not every channel was listed");
}

const std::string kWork = "plug-in CHANNELS 1000 parse + listing";
const bool kFigure = talvbench::AddFigure(kWork, "", "us", 2000);

}  // namespace

BENCHMARK(ChannelsListing)->Name(talvbench::OursName(kWork));
