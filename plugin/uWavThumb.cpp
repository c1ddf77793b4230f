#include "uWavThumb.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "uTalvConfig.h"

namespace {

constexpr TPixel kBackground = RgbPixel(20, 26, 32);
constexpr TPixel kSeparator = RgbPixel(60, 66, 74);
constexpr TPixel kStripCurve = RgbPixel(90, 220, 140);
constexpr TPixel kStripArea = RgbPixel(30, 90, 66);
constexpr float kFailedRowDb = -200.0f;
constexpr double kSpanSeconds = 30.0;
// Chunks the header walk reads at most. WAV files hold a handful; past that it is walking padding or
// a crafted run of empty chunks (8 bytes each), which would make the work grow with the file.
constexpr int kMaxWavChunks = 64;

uint32_t U32At(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t U16At(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

bool ReadAtOffset(plat::TReadFile& file, int64_t offset, void* buffer, size_t n) {
  return file.ReadAt(offset, buffer, n) == n;
}

bool ReadWavHeader(const std::string& path, TWavInfo& info) {
  info.File.Close();
  info.Channels = info.Bits = info.SampleRate = info.BlockAlign = 0;
  info.DataOffset = info.FrameCount = info.CenterHz = 0;
  info.IQ = false;
  if (!info.File.Open(path, true)) return false;
  const int64_t fileSize = info.File.Size();
  uint8_t head[12];
  if (fileSize < 12 || !ReadAtOffset(info.File, 0, head, sizeof(head))) return false;
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return false;

  bool pcm = false, haveFmt = false, haveData = false, haveAuxi = false;
  int64_t dataLength = 0;
  int64_t at = 12;
  for (int chunks = 0; chunks < kMaxWavChunks && at + 8 <= fileSize; ++chunks) {
    uint8_t chunk[8];
    if (!ReadAtOffset(info.File, at, chunk, sizeof(chunk))) break;
    const int64_t size = U32At(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      uint8_t fmt[16];
      if (size >= 16 && ReadAtOffset(info.File, at + 8, fmt, sizeof(fmt))) {
        haveFmt = true;
        pcm = U16At(fmt) == 1;
        info.Channels = U16At(fmt + 2);
        info.SampleRate = static_cast<int32_t>(std::min<uint32_t>(U32At(fmt + 4), 0x7FFFFFFF));
        info.Bits = U16At(fmt + 14);
      }
    } else if (std::memcmp(chunk, "auxi", 4) == 0) {
      haveAuxi = true;
      uint8_t hz[4];
      if (size >= 36 && ReadAtOffset(info.File, at + 8 + 32, hz, sizeof(hz))) info.CenterHz = U32At(hz);
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      haveData = true;
      info.DataOffset = at + 8;
      if (size != 0 && info.DataOffset + size <= fileSize) {
        dataLength = size;
      } else {
        // A take still being written (size 0) or one cut short: the samples run to the end of the
        // file, so nothing after this point is a chunk header.
        dataLength = fileSize - info.DataOffset;
        break;
      }
    }
    at += 8 + size + (size & 1);
  }
  if (!haveData || !haveFmt || !pcm) return false;
  if (info.Channels != 1 && info.Channels != 2) return false;
  if (info.Bits != 8 && info.Bits != 16) return false;
  if (info.SampleRate <= 0) return false;
  info.BlockAlign = info.Bits / 8 * info.Channels;
  info.FrameCount = dataLength / info.BlockAlign;
  info.IQ = haveAuxi && info.Channels == 2;
  return info.FrameCount > 0;
}

bool ReadWavFrames(TWavInfo& info, int64_t first, int32_t count, TComplexF* samples,
                   std::vector<uint8_t>& bytes) {
  if (first < 0 || count < 0 || first + count > info.FrameCount || info.BlockAlign <= 0) return false;
  const size_t n = static_cast<size_t>(count) * static_cast<size_t>(info.BlockAlign);
  if (bytes.size() < n) bytes.resize(n);
  if (!ReadAtOffset(info.File, info.DataOffset + first * info.BlockAlign, bytes.data(), n)) return false;
  const uint8_t* p = bytes.data();
  if (info.Bits == 16) {
    for (int32_t i = 0; i < count; ++i) {
      if (info.Channels == 1) {
        samples[i] = {static_cast<int16_t>(U16At(p)) / 32768.0f, 0.0f};
        p += 2;
        continue;
      }
      const float l = static_cast<float>(static_cast<int16_t>(U16At(p)));
      const float r = static_cast<float>(static_cast<int16_t>(U16At(p + 2)));
      samples[i] = info.IQ ? TComplexF{l / 32768.0f, r / 32768.0f} : TComplexF{(l + r) / 65536.0f, 0.0f};
      p += 4;
    }
  } else {
    for (int32_t i = 0; i < count; ++i) {
      if (info.Channels == 1) {
        samples[i] = {(static_cast<float>(p[0]) - 128.0f) / 128.0f, 0.0f};
        p += 1;
        continue;
      }
      const float l = (static_cast<float>(p[0]) - 128.0f) / 128.0f;
      const float r = (static_cast<float>(p[1]) - 128.0f) / 128.0f;
      samples[i] = info.IQ ? TComplexF{l, r} : TComplexF{(l + r) * 0.5f, 0.0f};
      p += 2;
    }
  }
  return true;
}

bool SpectrogramColumn(TWavInfo& info, const TFftPlan& plan, int64_t start, int32_t blocks, float* dB,
                       int32_t count, TSpectrogramBuffers& buffers) {
  const int32_t n = plan.Size;
  if (blocks < 1 || count < 1 || count > n) return false;
  if (start + static_cast<int64_t>(n) * blocks > info.FrameCount)
    start = info.FrameCount - static_cast<int64_t>(n) * blocks;
  while (start < 0 && blocks > 1) {
    --blocks;
    start = info.FrameCount - static_cast<int64_t>(n) * blocks;
  }
  if (start < 0) return false;
  buffers.Samples.resize(static_cast<size_t>(n));
  buffers.Power.assign(static_cast<size_t>(count), 0.0);
  TComplexF* x = buffers.Samples.data();
  int32_t done = 0;
  for (int32_t i = 0; i < blocks; ++i) {
    if (!ReadWavFrames(info, start + static_cast<int64_t>(n) * i, n, x, buffers.Bytes)) break;
    plan.ApplyWindow(x, x);
    plan.Execute(x);
    if (info.IQ) plan.Shift(x);
    for (int32_t k = 0; k < count; ++k)
      buffers.Power[static_cast<size_t>(k)] +=
          static_cast<double>(x[k].Re) * x[k].Re + static_cast<double>(x[k].Im) * x[k].Im;
    ++done;
  }
  if (done == 0) return false;
  const double scale = static_cast<double>(done) * n * n * plan.WindowPower;
  for (int32_t k = 0; k < count; ++k) {
    const double p = std::max(buffers.Power[static_cast<size_t>(k)] / scale, 1e-20);
    dB[k] = static_cast<float>(10.0 * std::log10(p));
  }
  return true;
}

double AudioBandFromName(const TWavInfo& info, const std::string& path) {
  const double half = info.SampleRate * 0.5;
  const size_t unit = path.rfind("kHz");
  if (unit == std::string::npos) return half;
  size_t begin = unit;
  while (begin > 0 && (std::isdigit(static_cast<unsigned char>(path[begin - 1])) || path[begin - 1] == '.'))
    --begin;
  if (begin == unit || begin == 0 || path[begin - 1] != '_') return half;
  double width = 0.0;
  if (!ParsePoint(std::string_view(path).substr(begin, unit - begin), width)) width = 0.0;
  const double d = width * 1000.0;
  if (!(d > 0.0)) return half;
  const double band = d >= 100000.0 ? 18000.0 : d >= 5000.0 ? 6000.0 : d >= 3000.0 ? 4800.0 : 3600.0;
  return std::min(band, half);
}

void AutoLevels(const float* values, size_t n, double& low, double& high) {
  if (n == 0) {
    low = -1.0;
    high = 19.0;
    return;
  }
  double lo = values[0], hi = values[0];
  for (size_t i = 1; i < n; ++i) {
    lo = std::min<double>(lo, values[i]);
    hi = std::max<double>(hi, values[i]);
  }
  if (hi - lo < 1e-6) {  // one value throughout: a scale of 2 dB around it
    low = lo - 1.0;
    high = lo + 1.0;
    return;
  }
  {
    constexpr int kCells = 512;
    int64_t cells[kCells] = {};
    const double range = hi - lo;
    for (size_t i = 0; i < n; ++i) {
      int64_t c = static_cast<int64_t>((values[i] - lo) / range * (kCells - 1));
      cells[std::clamp<int64_t>(c, 0, kCells - 1)]++;
    }
    const int64_t lowCount = RoundHalfEven(static_cast<double>(n) * 0.15);
    const int64_t highCount = RoundHalfEven(static_cast<double>(n) * 0.999);
    low = lo;
    high = hi;
    bool lowFound = false;
    int64_t running = 0;
    for (int k = 0; k < kCells; ++k) {
      running += cells[k];
      if (!lowFound && running >= lowCount) {
        low = lo + k * range / (kCells - 1);
        lowFound = true;
      }
      if (running >= highCount) {
        high = lo + k * range / (kCells - 1);
        break;
      }
    }
  }
  if (high - low < 20.0) high = low + 20.0;
}

namespace {

// The maximum of values over the bins that column x of width w covers out of g.
inline float ColumnMax(const float* values, int32_t x, int32_t w, int32_t g) {
  const int32_t a = static_cast<int32_t>(static_cast<int64_t>(x) * g / w);
  int32_t b = static_cast<int32_t>(static_cast<int64_t>(x + 1) * g / w);
  b = std::min(std::max(b, a + 1), g);
  float v = values[a];
  for (int32_t k = a + 1; k < b; ++k) v = std::max(v, values[k]);
  return v;
}

}  // namespace

bool DrawWavThumbnail(const std::string& path, int32_t width, int32_t height, TPixelFrame& frame) {
  if (width < 16 || height < 16 || width > MaxThumbSide || height > MaxThumbSide) return false;
  TWavInfo info;
  if (!ReadWavHeader(path, info)) return false;

  int32_t n = info.IQ ? 512 : 2048;
  while (n > 64 && info.FrameCount < 4 * static_cast<int64_t>(n)) n /= 2;
  if (info.FrameCount < 2 * static_cast<int64_t>(n)) return false;
  const TFftPlan plan(n);

  int32_t g = n;
  if (!info.IQ) {
    const double band = AudioBandFromName(info, path);
    g = static_cast<int32_t>(RoundHalfEven(n * band / info.SampleRate));
    g = std::max(std::min(g, n / 2), 16);
  }
  int32_t s = 0;
  if (height >= 32) s = std::max<int32_t>(static_cast<int32_t>(RoundHalfEven(height * 0.15)), 5);
  const int32_t u = height - s - (s > 0 ? 1 : 0);
  if (u < 4) return false;

  const int64_t span = std::min<int64_t>(RoundHalfEven(info.SampleRate * kSpanSeconds), info.FrameCount);
  const int64_t step = std::max<int64_t>(span / u, n);
  const int32_t blocks = static_cast<int32_t>(std::clamp<int64_t>(step / n, 1, 4));

  std::vector<float> matrix(static_cast<size_t>(u) * static_cast<size_t>(g));
  TSpectrogramBuffers buffers;
  bool anyRow = false;
  for (int32_t r = 0; r < u; ++r) {
    float* row = matrix.data() + static_cast<size_t>(r) * g;
    if (SpectrogramColumn(info, plan, r * span / u, blocks, row, g, buffers))
      anyRow = true;
    else
      std::fill(row, row + g, kFailedRowDb);
  }
  if (!anyRow) return false;
  std::vector<float> strip(static_cast<size_t>(g));
  if (!SpectrogramColumn(info, plan, span / 2, blocks, strip.data(), g, buffers))
    std::copy_n(matrix.data() + static_cast<size_t>(u / 2) * g, g, strip.begin());
  info.File.Close();

  double low = 0.0, high = 0.0;
  AutoLevels(matrix.data(), matrix.size(), low, high);
  const double range = high - low;

  frame.Resize(width, height);
  FillFrame(frame, kBackground);
  for (int32_t r = 0; r < u; ++r) {
    const float* values = matrix.data() + static_cast<size_t>(r) * g;
    TPixel* out = frame.Row(height - 1 - r);
    for (int32_t x = 0; x < width; ++x)
      out[x] = LevelToColor((ColumnMax(values, x, width, g) - low) / range) | 0xFF000000u;
  }
  if (s == 0) return true;

  FillRect(frame, {0, s, width, s + 1}, kSeparator);
  std::vector<int32_t> curve(static_cast<size_t>(width));
  for (int32_t x = 0; x < width; ++x) {
    const double v = std::clamp((ColumnMax(strip.data(), x, width, g) - low) / range, 0.0, 1.0);
    const int32_t y = s - static_cast<int32_t>(RoundHalfEven((s - 1) * v)) - 1;
    curve[static_cast<size_t>(x)] = y;
    DrawBar(frame, x, y, y + 1, kStripCurve);
    DrawBar(frame, x, y + 1, s, kStripArea);
  }
  for (int32_t x = 1; x < width; ++x) {
    const int32_t a = curve[static_cast<size_t>(x - 1)], b = curve[static_cast<size_t>(x)];
    DrawBar(frame, x, std::min(a, b), std::max(a, b) + 1, kStripCurve);
  }
  return true;
}

plat::TBitmapHandle MakeWavThumbnail(const std::string& path, int32_t width, int32_t height) {
  TPixelFrame frame;
  if (!DrawWavThumbnail(path, width, height, frame)) return nullptr;
  return plat::MakeBitmap(frame.Data(), frame.Width(), frame.Height());
}

bool IsOwnRecording(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() < 24) return false;
  if (AsciiLower(name.substr(name.size() - 4)) == ".wav") {
    auto digits = [&](size_t at, size_t count) {
      for (size_t k = 0; k < count; ++k)
        if (!std::isdigit(static_cast<unsigned char>(name[at + k]))) return false;
      return true;
    };
    for (size_t i = 0; i + 16 <= name.size(); ++i)
      if (name[i] == '_' && digits(i + 1, 8) && name[i + 9] == '_' && digits(i + 10, 6)) return true;
  }
  TWavInfo info;
  return ReadWavHeader(path, info) && info.IQ;
}

uint32_t LevelToColor(double v) {
  if (!(v > 0.0)) v = 0.0;  // NaN counts as 0
  if (v > 1.0) v = 1.0;
  auto c = [](double x) { return static_cast<uint32_t>(std::min<int64_t>(RoundHalfEven(x), 255)); };
  uint32_t r, g, b;
  if (v < 0.33) {
    const double t = v / 0.33;
    r = 0;
    g = c(t * 255 * 0.6);
    b = c(t * 195 + 60);
  } else if (v < 0.66) {
    const double d = (v - 0.33) / 0.33;
    r = c(d * 255);
    g = c(d * 102 + 153);
    b = c((1 - d) * 255);
  } else {
    r = 255;
    g = c((1 - (v - 0.66) / 0.34) * 255);
    b = 0;
  }
  return (r << 16) | (g << 8) | b;
}
