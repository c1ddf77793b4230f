#include "PaintTestSupport.h"

#include <algorithm>
#include <cmath>

#include "TestSupport.h"

namespace painttest {

TViewTicket LiveTicket(const std::string& mode, int64_t center, int64_t span, const std::string& title,
                       const std::string& modulation) {
  TViewTicket t;
  t.Valid = true;
  t.Mode = mode;
  t.CenterHz = center;
  t.SpanHz = span;
  t.Modulation = modulation;
  t.Title = title;
  return t;
}

uint64_t FrameHash(const TPixelFrame& f) {
  uint64_t h = testsupport::kHashStart;
  auto add = [&](uint32_t v) {
    const uint8_t bytes[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    h = testsupport::Fnv1a(bytes, sizeof(bytes), h);
  };
  add(static_cast<uint32_t>(f.Width()));
  add(static_cast<uint32_t>(f.Height()));
  for (int32_t y = 0; y < f.Height(); ++y)
    for (int32_t x = 0; x < f.Width(); ++x) add(f.At(x, y));
  return h;
}

std::string PixelText(TPixel p) {
  return std::to_string(PixelRed(p)) + "," + std::to_string(PixelGreen(p)) + "," +
         std::to_string(PixelBlue(p));
}

namespace {
void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutU16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
}  // namespace

std::string Chunk(const std::string& id, const std::string& body) {
  std::string s = id;
  PutU32(s, static_cast<uint32_t>(body.size()));
  s += body;
  if (body.size() % 2) s += '\0';
  return s;
}

std::string WavBytes(const TWavSpec& spec, const std::string& samples) {
  std::string body = "WAVE";
  for (const std::string& c : spec.Before) body += c;
  std::string fmt;
  PutU16(fmt, static_cast<uint32_t>(spec.FormatTag));
  PutU16(fmt, static_cast<uint32_t>(spec.Channels));
  PutU32(fmt, static_cast<uint32_t>(spec.Rate));
  PutU32(fmt, static_cast<uint32_t>(spec.Rate * spec.Channels * spec.Bits / 8));
  PutU16(fmt, static_cast<uint32_t>(spec.Channels * spec.Bits / 8));
  PutU16(fmt, static_cast<uint32_t>(spec.Bits));
  body += Chunk("fmt ", fmt);
  if (spec.AuxiSize >= 0) {
    std::string auxi(static_cast<size_t>(spec.AuxiSize), '\0');
    if (spec.AuxiSize >= 36)
      for (int i = 0; i < 4; ++i) auxi[32 + i] = static_cast<char>((spec.AuxiCenterHz >> (8 * i)) & 0xFF);
    body += Chunk("auxi", auxi);
  }
  body += "data";
  PutU32(body, spec.DataSizeField < 0 ? static_cast<uint32_t>(samples.size())
                                      : static_cast<uint32_t>(spec.DataSizeField));
  body += samples;
  if (spec.DataSizeField < 0 && samples.size() % 2) body += '\0';
  for (const std::string& c : spec.After) body += c;
  std::string file = "RIFF";
  PutU32(file, static_cast<uint32_t>(body.size()));
  return file + body;
}

std::string Pcm16(const std::vector<double>& values) {
  std::string s;
  s.reserve(values.size() * 2);
  for (double v : values) {
    const int32_t x = static_cast<int32_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
    PutU16(s, static_cast<uint32_t>(x) & 0xFFFF);
  }
  return s;
}

std::vector<double> Tone(int rate, double seconds, double hz, double amp, double noise, uint32_t seed) {
  const size_t n = static_cast<size_t>(rate * seconds);
  std::vector<double> v(n);
  uint32_t state = seed;
  for (size_t i = 0; i < n; ++i) {
    state = state * 1664525u + 1013904223u;
    const double u = (state >> 8) / 16777216.0 * 2.0 - 1.0;
    v[i] = amp * std::sin(2.0 * 3.14159265358979323846 * hz * static_cast<double>(i) / rate) + noise * u;
  }
  return v;
}

}  // namespace painttest

#include "PngFile.h"

namespace painttest {

bool WritePng(const std::string& path, const TPixelFrame& f) {
  return testsupport::WritePng(path, f.Data(), f.Width(), f.Height());
}

std::string PictureFolder() {
  return testsupport::PictureFolder();
}

}  // namespace painttest
