#pragma once
// Helpers of the plug-in's picture tests: a hash of a frame's pixels, WAV files built byte by byte,
// and test signals.
#include <cstdint>
#include <string>
#include <vector>

#include "uPaint.h"
#include "uTalvProto.h"

namespace painttest {

// A valid live ticket as the lister reads it.
TViewTicket LiveTicket(const std::string& mode, int64_t center, int64_t span, const std::string& title,
                       const std::string& modulation = "NFM");
// FNV-1a over the pixels (row by row) and the size: one number per scene.
uint64_t FrameHash(const TPixelFrame& f);
// Pixel as "r,g,b" for readable failures.
std::string PixelText(TPixel p);

struct TWavSpec {
  int Channels = 1;
  int Bits = 16;
  int Rate = 48000;
  int FormatTag = 1;
  int AuxiSize = -1;  // -1: no "auxi" chunk; else a chunk of this size (centre at 32)
  uint32_t AuxiCenterHz = 0;
  int64_t DataSizeField = -1;       // -1: the real size
  std::vector<std::string> Before;  // whole chunks (id + size + body) written before "fmt "
  std::vector<std::string> After;   // whole chunks written after "data"
};
// A chunk with id, a 32-bit size and body, padded to an even length.
std::string Chunk(const std::string& id, const std::string& body);
// The bytes of a WAV file with the given sample bytes.
std::string WavBytes(const TWavSpec& spec, const std::string& samples);
// 16-bit little-endian samples of the values (clamped to -1..1, times 32767).
std::string Pcm16(const std::vector<double>& values);
// A sine of frequency hz and amplitude amp plus uniform noise of amplitude noise (fixed seed).
std::vector<double> Tone(int rate, double seconds, double hz, double amp, double noise, uint32_t seed = 1);

}  // namespace painttest

namespace painttest {
// Writes the frame as a PNG file (RGB, stored without compression) so that a person can look at a
// scene; false when the file cannot be written.
bool WritePng(const std::string& path, const TPixelFrame& f);
// The folder where tests leave their pictures: "pictures" beside the test program, created on demand.
std::string PictureFolder();
}  // namespace painttest
