#pragma once
// Every WAV file the engine records: mono 16-bit audio takes (wkAudio) and stereo 16-bit I/Q files of a
// whole hop (wkIq, I left, Q right) with an "auxi" chunk holding start and stop time, centre frequency
// and sample rate. The RIFF and data sizes (and the auxi body) are patched by Finish, which the
// destructor calls, and also whenever another second of samples has been written since the last patch,
// so a file still being written (or left behind by a crash) is a valid WAV that lacks at most the last
// second in its header sizes. Sizes count only bytes the system really took: after a failed or short
// write the header never claims more data than the file holds, and a partly written sample frame is cut
// off again. Creation never throws; a writer whose file could not be created stays closed, writes
// nothing and leaves no file. File access goes through plat::TBinFile. One thread per writer.
#include <cstdint>
#include <string>
#include <vector>

#include "pBinFile.h"
#include "uDspTypes.h"

enum TWavKind : uint8_t { wkAudio = 0, wkIq = 1 };
// How the file is made: replacing a file of the same name, or only when no such file exists (then a
// taken name leaves the writer closed and the other file untouched).
enum TWavCreate : uint8_t { wcReplace = 0, wcNewOnly = 1 };

// Local time in the layout of the auxi chunk (day of week 0 = Sunday).
struct TWavTime {
  uint16_t Year, Month, DayOfWeek, Day, Hour, Minute, Second, Milliseconds;
};

class TWavWriter {
 public:
  // fileName is UTF-8; records the local start time, creates the file and writes the header.
  TWavWriter(const std::string& fileName, TWavKind kind, int32_t rate, int64_t centreHz,
             TWavCreate create = wcReplace);
  ~TWavWriter();  // Finish, then close
  TWavWriter(const TWavWriter&) = delete;
  TWavWriter& operator=(const TWavWriter&) = delete;

  bool IsOpen() const { return FFile.IsOpen(); }
  // n samples (mono) or n pairs (I/Q); nothing for n <= 0 or a closed writer.
  void WriteMono(const float* samples, int32_t n);
  void WriteIQ(const TComplexF* samples, int32_t n);
  // Patches the sizes (and for I/Q the auxi body with the stop time); writing may go on afterwards.
  void Finish();
  // Finish and close the file; later writes do nothing.
  void Close();

  // Seconds of sample data in the file: BytesWritten / (Rate * Channels * 2); 0 without a positive rate.
  double Seconds() const;
  int64_t BytesWritten() const { return FBytesWritten; }
  // A write came up short (disk full, file gone); the file holds what was counted.
  bool WriteFailed() const { return FWriteFailed; }
  const std::string& FileName() const { return FFileName; }
  TWavKind Kind() const { return FKind; }
  int32_t Rate() const { return FRate; }
  int32_t Channels() const { return FChannels; }
  int64_t CentreHz() const { return FCentreHz; }
  const TWavTime& StartTime() const { return FStartTime; }

  // One sample: x * 32767 in Single, rounded halves-to-even, clamped to -32768..32767 (NaN gives 0).
  static int16_t ToSample(float x);

 private:
  void WriteHeader();
  void WriteFrames(const int16_t* values, int32_t frames);

  plat::TBinFile FFile;
  std::string FFileName;
  TWavKind FKind;
  int32_t FRate;
  int32_t FChannels;
  int64_t FCentreHz;
  TWavTime FStartTime{};
  int64_t FBytesWritten = 0;
  int64_t FBytesInHeader = 0;  // the data size the header claimed at its last patch
  int64_t FRiffSizePos = 0;
  int64_t FAuxiPos = 0;  // 0 for audio files
  int64_t FDataSizePos = 0;
  int64_t FDataStart = 0;
  bool FHeaderOk = false;
  bool FWriteFailed = false;
  bool FCutPending = false;  // a partial frame lies beyond the counted data
  std::vector<int16_t> FScratch;
};
