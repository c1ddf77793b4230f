#include "uWavWriter.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "pSystem.h"

static_assert(std::endian::native == std::endian::little, "samples are written in memory order");

namespace {

constexpr int64_t MaxU32 = 0xFFFFFFFFll;
constexpr uint32_t AuxiBodySize = 60;

// Day of the week of a civil date, 0 = Sunday (days since 1970-01-01, a Thursday).
uint16_t DayOfWeek(int y, int m, int d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = static_cast<long long>(era) * 146097 + doe - 719468;
  return static_cast<uint16_t>(((days % 7) + 11) % 7);
}

TWavTime LocalWavTime() {
  const plat::TLocalTime t = plat::LocalTimeNow();
  TWavTime w;
  w.Year = static_cast<uint16_t>(t.Year);
  w.Month = static_cast<uint16_t>(t.Month);
  w.DayOfWeek = DayOfWeek(t.Year, t.Month, t.Day);
  w.Day = static_cast<uint16_t>(t.Day);
  w.Hour = static_cast<uint16_t>(t.Hour);
  w.Minute = static_cast<uint16_t>(t.Minute);
  w.Second = static_cast<uint16_t>(t.Second);
  w.Milliseconds = static_cast<uint16_t>(t.Millisecond);
  return w;
}

void PutU16(std::string& b, uint32_t v) {
  b.push_back(static_cast<char>(v & 0xFF));
  b.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void PutU32(std::string& b, uint32_t v) {
  PutU16(b, v & 0xFFFF);
  PutU16(b, v >> 16);
}
void PutTime(std::string& b, const TWavTime& t) {
  for (uint16_t v : {t.Year, t.Month, t.DayOfWeek, t.Day, t.Hour, t.Minute, t.Second, t.Milliseconds})
    PutU16(b, v);
}

}  // namespace

int16_t TWavWriter::ToSample(float x) {
  const float v = x * 32767.0f;
  if (v >= 32767.0f) return 32767;
  if (v <= -32768.0f) return -32768;
  if (v != v) return 0;
  // Adding and removing 1.5 * 2^23 leaves the nearest integer, halves to even (the default rounding
  // of Single arithmetic); |v| < 2^15 keeps it exact.
  const float r = (v + 12582912.0f) - 12582912.0f;
  return static_cast<int16_t>(r);
}

TWavWriter::TWavWriter(const std::string& fileName, TWavKind kind, int32_t rate, int64_t centreHz,
                       TWavCreate create)
    : FFileName(fileName), FKind(kind), FRate(rate), FChannels(kind == wkIq ? 2 : 1), FCentreHz(centreHz) {
  FStartTime = LocalWavTime();
  if (create == wcNewOnly ? FFile.CreateNew(fileName) : FFile.Create(fileName)) WriteHeader();
}

TWavWriter::~TWavWriter() {
  Close();
}

void TWavWriter::WriteHeader() {
  const uint32_t channels = static_cast<uint32_t>(FChannels);
  const uint32_t rate = static_cast<uint32_t>(FRate);
  std::string h;
  h.reserve(112);
  h += "RIFF";
  FRiffSizePos = static_cast<int64_t>(h.size());
  PutU32(h, 0);
  h += "WAVE";
  h += "fmt ";
  PutU32(h, 16);
  PutU16(h, 1);  // PCM
  PutU16(h, channels);
  PutU32(h, rate);
  PutU32(h, channels * 2 * rate);
  PutU16(h, channels * 2);
  PutU16(h, 16);
  if (FKind == wkIq) {
    h += "auxi";
    PutU32(h, AuxiBodySize);
    FAuxiPos = static_cast<int64_t>(h.size());
    h.append(AuxiBodySize, '\0');
  }
  h += "data";
  FDataSizePos = static_cast<int64_t>(h.size());
  PutU32(h, 0);
  FDataStart = static_cast<int64_t>(h.size());
  const size_t got = FFile.Write(h.data(), h.size());
  FHeaderOk = got == h.size();
  // A file without its whole header takes no samples: they would land inside the header's place.
  if (!FHeaderOk) FWriteFailed = true;
}

void TWavWriter::WriteFrames(const int16_t* values, int32_t frames) {
  const size_t frameBytes = static_cast<size_t>(FChannels) * 2;
  const size_t bytes = static_cast<size_t>(frames) * frameBytes;
  const size_t got = FFile.Write(values, bytes);
  if (got == bytes) {
    FBytesWritten += static_cast<int64_t>(got);
    // Another second of samples since the last patch: bring the header up to date.
    const int64_t second = static_cast<int64_t>(std::max(FRate, 1)) * static_cast<int64_t>(frameBytes);
    if (FBytesWritten - FBytesInHeader >= second) Finish();
    return;
  }
  // Count whole frames only; step back over a partial one so the next write continues in step.
  FWriteFailed = true;
  const size_t whole = got / frameBytes * frameBytes;
  FBytesWritten += static_cast<int64_t>(whole);
  if (whole != got) {
    FCutPending = true;
    FFile.Seek(FDataStart + FBytesWritten);
  }
}

void TWavWriter::WriteMono(const float* samples, int32_t n) {
  if (n <= 0 || samples == nullptr || !FFile.IsOpen() || !FHeaderOk) return;
  if (FScratch.size() < static_cast<size_t>(n)) FScratch.resize(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) FScratch[i] = ToSample(samples[i]);
  WriteFrames(FScratch.data(), n);
}

void TWavWriter::WriteIQ(const TComplexF* samples, int32_t n) {
  if (n <= 0 || samples == nullptr || !FFile.IsOpen() || !FHeaderOk) return;
  const size_t values = 2 * static_cast<size_t>(n);
  if (FScratch.size() < values) FScratch.resize(values);
  for (int32_t i = 0; i < n; ++i) {
    FScratch[2 * static_cast<size_t>(i)] = ToSample(samples[i].Re);
    FScratch[2 * static_cast<size_t>(i) + 1] = ToSample(samples[i].Im);
  }
  WriteFrames(FScratch.data(), n);
}

double TWavWriter::Seconds() const {
  if (FRate <= 0 || FChannels <= 0) return 0.0;
  return static_cast<double>(FBytesWritten) / (static_cast<double>(FRate) * FChannels * 2.0);
}

void TWavWriter::Finish() {
  if (!FFile.IsOpen() || !FHeaderOk) return;
  // The end of the counted data, which is where the file position stands after every write.
  const int64_t end = FDataStart + FBytesWritten;
  if (FFile.Position() != end) FFile.Seek(end);
  if (FCutPending && FFile.Truncate()) FCutPending = false;
  const uint32_t dataSize = static_cast<uint32_t>(std::min(FBytesWritten, MaxU32));
  const uint32_t riffSize = static_cast<uint32_t>(std::min(end - 8, MaxU32));

  std::string b;
  if (FKind == wkIq) {
    const uint32_t rate = static_cast<uint32_t>(FRate);
    PutTime(b, FStartTime);
    PutTime(b, LocalWavTime());
    PutU32(b, static_cast<uint32_t>(static_cast<uint64_t>(FCentreHz) & 0xFFFFFFFFu));
    PutU32(b, rate);
    PutU32(b, 0);
    PutU32(b, rate);
    PutU32(b, 0);
    PutU32(b, 0);
    PutU32(b, 32767);
    if (FFile.Seek(FAuxiPos)) FFile.Write(b.data(), b.size());
  }
  b.clear();
  PutU32(b, dataSize);
  if (FFile.Seek(FDataSizePos)) FFile.Write(b.data(), b.size());
  b.clear();
  PutU32(b, riffSize);
  if (FFile.Seek(FRiffSizePos)) FFile.Write(b.data(), b.size());
  FFile.Seek(end);
  FBytesInHeader = FBytesWritten;
}

void TWavWriter::Close() {
  Finish();
  FFile.Close();
}
