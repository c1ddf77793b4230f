/* A stand-in for the rtl-sdr library, for the Windows tests: one receiver "Fake RTL2832U" with the
 * serial "00000001" and a tuner offering 0.0, 19.7, 20.7 and 29.7 dB. Reads deliver a byte counter in
 * pieces of at most fake_rtl_control(FAKE_CHUNK) bytes. Built with FAKE_NO_READ_SYNC it lacks
 * rtlsdr_read_sync, which the engine requires. fake_rtl_control and fake_rtl_get let the tests steer
 * the fake and read back what the engine asked of it. */
#include <stdint.h>
#include <string.h>

#define API __declspec(dllexport) __cdecl
__declspec(dllimport) void __stdcall Sleep(unsigned long ms);

enum {
  FAKE_OPENS,
  FAKE_CLOSES,
  FAKE_CENTER,
  FAKE_RATE,
  FAKE_BANDWIDTH,
  FAKE_GAIN_MODE,
  FAKE_GAIN,
  FAKE_AGC,
  FAKE_PPM,
  FAKE_RESETS,
  FAKE_CHUNK,
  FAKE_READ_STATUS,
  FAKE_READ_LIMIT,
  FAKE_READ_TOTAL,
  FAKE_OPEN_STATUS,
  FAKE_COUNT,
  FAKE_RATE_STATUS,
  FAKE_FREQ_STATUS,
  FAKE_KEYS
};
static int64_t g[FAKE_KEYS] = {0};
static int g_init = 0;
static int g_device = 0x5a5a;
static const int g_gains[] = {0, 197, 207, 297};

static void init(void) {
  if (g_init) return;
  g_init = 1;
  g[FAKE_CHUNK] = 1 << 30;
  g[FAKE_READ_LIMIT] = -1;
  g[FAKE_COUNT] = 1;
}

API int64_t fake_rtl_get(int key) {
  init();
  return key >= 0 && key < FAKE_KEYS ? g[key] : -1;
}
API void fake_rtl_control(int key, int64_t value) {
  init();
  if (key >= 0 && key < FAKE_KEYS) g[key] = value;
}

API uint32_t rtlsdr_get_device_count(void) {
  init();
  return (uint32_t)g[FAKE_COUNT];
}
API const char* rtlsdr_get_device_name(uint32_t index) {
  init();
  return index < g[FAKE_COUNT] ? "Fake RTL2832U" : "";
}
API int rtlsdr_get_device_usb_strings(uint32_t index, char* m, char* p, char* s) {
  init();
  if (index >= g[FAKE_COUNT]) return -1;
  strcpy(m, "Fakes");
  strcpy(p, "RTL2832U");
  strcpy(s, index == 0 ? "00000001" : "00000002");
  return 0;
}
API int rtlsdr_open(void** dev, uint32_t index) {
  init();
  if (g[FAKE_OPEN_STATUS] != 0) return (int)g[FAKE_OPEN_STATUS];
  if (index >= g[FAKE_COUNT]) return -1;
  g[FAKE_OPENS]++;
  *dev = &g_device;
  return 0;
}
API int rtlsdr_close(void* dev) {
  g[FAKE_CLOSES]++;
  return dev == &g_device ? 0 : -1;
}
API int rtlsdr_set_center_freq(void* dev, uint32_t hz) {
  if (g[FAKE_FREQ_STATUS] != 0) return (int)g[FAKE_FREQ_STATUS];
  g[FAKE_CENTER] = hz;
  return 0;
}
API uint32_t rtlsdr_get_center_freq(void* dev) {
  return (uint32_t)g[FAKE_CENTER];
}
API int rtlsdr_set_sample_rate(void* dev, uint32_t rate) {
  if (g[FAKE_RATE_STATUS] != 0) return (int)g[FAKE_RATE_STATUS];
  /* The chip's real rate differs a little from the one asked for. */
  g[FAKE_RATE] = rate - rate % 8;
  return 0;
}
API uint32_t rtlsdr_get_sample_rate(void* dev) {
  return (uint32_t)g[FAKE_RATE];
}
API int rtlsdr_set_tuner_gain_mode(void* dev, int manual) {
  g[FAKE_GAIN_MODE] = manual;
  return 0;
}
API int rtlsdr_set_tuner_gain(void* dev, int gain) {
  g[FAKE_GAIN] = gain;
  return 0;
}
API int rtlsdr_get_tuner_gains(void* dev, int* gains) {
  if (gains) memcpy(gains, g_gains, sizeof g_gains);
  return (int)(sizeof g_gains / sizeof g_gains[0]);
}
API int rtlsdr_set_agc_mode(void* dev, int on) {
  g[FAKE_AGC] = on + 10;
  return 0;
}
API int rtlsdr_set_freq_correction(void* dev, int ppm) {
  int same = g[FAKE_PPM] == ppm;
  g[FAKE_PPM] = ppm;
  return same ? -2 : 0;
}
API int rtlsdr_set_tuner_bandwidth(void* dev, uint32_t bw) {
  g[FAKE_BANDWIDTH] = bw;
  return 0;
}
API int rtlsdr_reset_buffer(void* dev) {
  g[FAKE_RESETS]++;
  return 0;
}
#ifndef FAKE_NO_READ_SYNC
API int rtlsdr_read_sync(void* dev, void* buf, int len, int* n_read) {
  int n = len, i;
  if (g[FAKE_READ_STATUS] != 0) {
    *n_read = 0;
    return (int)g[FAKE_READ_STATUS];
  }
  if (n > g[FAKE_CHUNK]) n = (int)g[FAKE_CHUNK];
  if (g[FAKE_READ_LIMIT] >= 0 && n > g[FAKE_READ_LIMIT] - g[FAKE_READ_TOTAL])
    n = (int)(g[FAKE_READ_LIMIT] - g[FAKE_READ_TOTAL]);
  for (i = 0; i < n; ++i) ((uint8_t*)buf)[i] = (uint8_t)(g[FAKE_READ_TOTAL] + i);
  g[FAKE_READ_TOTAL] += n;
  *n_read = n;
  return 0;
}
#endif
typedef void(__cdecl* read_async_cb)(unsigned char* buf, uint32_t len, void* ctx);
static volatile long g_cancel = 0;
API int rtlsdr_read_async(void* dev, read_async_cb cb, void* ctx, uint32_t buf_num, uint32_t buf_len) {
  static unsigned char block[16384];
  unsigned n = 0;
  /* Three buffers, then wait to be cancelled, as the library does while no data comes. */
  for (n = 0; n < 3 && !g_cancel; ++n) {
    memset(block, (int)n, sizeof block);
    cb(block, buf_len < sizeof block ? buf_len : (uint32_t)sizeof block, ctx);
  }
  while (!g_cancel) Sleep(1);
  g_cancel = 0;
  return 0;
}
API int rtlsdr_cancel_async(void* dev) {
  g_cancel = 1;
  return 0;
}
