// The plug-in's Channels folder: a CHANNELS reply of 1000 channels, as bytes off the pipe, read into
// lines, parsed into channel records and turned into the folder listing (goal: under 2 ms, well inside
// one panel refresh). No peer library does this work; the goal is the measure.
#include <algorithm>
#include <string>

#include "BenchSupport.h"
#include "uTalvProto.h"
#include "uVfs.h"

namespace {

void ChannelsListing(benchmark::State& state) {
  const std::string bytes = FrameReply(talvbench::ChannelsReplyLines(1000));
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
