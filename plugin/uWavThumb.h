#pragma once
// Spectrogram thumbnails of WAV files, for the host's thumbnail view. The reader takes the files the
// engine records (16-bit PCM, mono audio or stereo I/Q with an "auxi" chunk) and somewhat more: 8-bit
// samples, stereo audio (both channels averaged), odd chunk sizes, and a take still being written,
// whose "data" size is 0 and runs to the end of the file. The picture shows up to the first 30
// seconds, time rising from the bottom edge, with a small spectrum strip on top; the work is bounded
// by the picture's height (at most 4 FFTs per row) and the header walk by a number of chunks, never
// by the file's length. Only regular files are opened.
//
// The pixels are drawn by the portable painter (DrawWavThumbnail); MakeWavThumbnail hands them to
// the host as a bitmap of the system. LevelToColor is the one colour map of levels, shared with the
// live view's waterfall. Everything here works on its own objects: any thread, no shared state.
#include <cstdint>
#include <string>
#include <vector>

#include "pBitmap.h"
#include "pReadFile.h"
#include "uDspTypes.h"
#include "uFft.h"
#include "uPaint.h"

struct TWavInfo {
  plat::TReadFile File;  // open file, closed by the caller (or by the record's end)
  int32_t Channels = 0;  // 1 or 2
  int32_t Bits = 0;      // 8 or 16
  int32_t SampleRate = 0;
  int32_t BlockAlign = 0;  // bytes per frame
  int64_t DataOffset = 0;  // file offset of the first sample byte
  int64_t FrameCount = 0;
  bool IQ = false;       // an "auxi" chunk and 2 channels
  int64_t CenterHz = 0;  // from the "auxi" chunk, 0 when absent
};

// Opens the file and parses its header. True when the file is a PCM WAV of 1 or 2 channels, 8 or 16
// bits, a positive rate and at least one whole frame. The caller closes info.File in every case.
bool ReadWavHeader(const std::string& path, TWavInfo& info);
// Reads count frames from frame index first as complex samples; false when the range leaves the
// frames or the file gives fewer bytes. bytes is the caller's scratch buffer.
bool ReadWavFrames(TWavInfo& info, int64_t first, int32_t count, TComplexF* samples,
                   std::vector<uint8_t>& bytes);
// True only when exactly n bytes were read at offset.
bool ReadAtOffset(plat::TReadFile& file, int64_t offset, void* buffer, size_t n);

// Buffers of SpectrogramColumn, kept by the caller across rows.
struct TSpectrogramBuffers {
  TComplexFArray Samples;
  std::vector<double> Power;
  std::vector<uint8_t> Bytes;
};
// One power spectrum in dB averaged over blocks FFTs from frame start (moved back, and blocks
// lowered, when the file is too short); count values into dB. False when no block could be read.
bool SpectrogramColumn(TWavInfo& info, const TFftPlan& plan, int64_t start, int32_t blocks, float* dB,
                       int32_t count, TSpectrogramBuffers& buffers);
// The audio band in Hz a mono or audio-stereo file is shown with: a channel width read from a name
// ending "_12.5kHz.wav" picks 18000, 6000, 4800 or 3600 Hz; half the sample rate at most and by default.
double AudioBandFromName(const TWavInfo& info, const std::string& path);
// The colour scale's ends over n values: above the quietest 15 % and up to the 99.9 % point, at least
// 20 dB apart.
void AutoLevels(const float* values, size_t n, double& low, double& high);

// Draws the thumbnail of the file into frame (resized to width x height). False, frame untouched
// beyond its size, for a side below 16 or above MaxThumbSide, an unreadable or unsupported file, too
// few frames or no readable row.
constexpr int32_t MaxThumbSide = 4096;
bool DrawWavThumbnail(const std::string& path, int32_t width, int32_t height, TPixelFrame& frame);
// The same as a bitmap of the system for the host, who owns it; null on any failure.
plat::TBitmapHandle MakeWavThumbnail(const std::string& path, int32_t width, int32_t height);

// Whether a WAV file is one of the system's recordings: a name of at least 24 characters ending in
// ".wav" with "_YYYYMMDD_HHMMSS" in it, or else a readable I/Q file.
bool IsOwnRecording(const std::string& path);

// A level 0..1 (clamped) as a colour from dark blue through light blue and yellow to red: red in
// bits 16-23, green 8-15, blue 0-7, alpha 0.
uint32_t LevelToColor(double v);
