/* A stand-in for the rtl-sdr library that lets the real engine scan a fixed scene, for the end-to-end
 * tests of the plug-in: one receiver "Scene RTL2832U" (serial "SCENE001") that sees three narrow-FM
 * carriers in the 144-146 MHz band, each modulated by its own tone with 2.5 kHz deviation, over
 * Gaussian noise. Reads deliver unsigned 8-bit I/Q for the tuned centre at the sample rate: a read
 * returns no sooner than the samples would have taken to arrive, counted from the last retune or
 * buffer reset, so the engine sweeps and records at the pace of a real receiver. Built for Windows
 * (rtlsdr.dll, cdecl) and Linux (librtlsdr.so.0). */
#include <math.h>
#include <stdint.h>
#include <string.h>

#ifdef _WIN32
#define API __declspec(dllexport) __cdecl
__declspec(dllimport) void __stdcall Sleep(unsigned long ms);
__declspec(dllimport) int __stdcall QueryPerformanceCounter(int64_t* count);
__declspec(dllimport) int __stdcall QueryPerformanceFrequency(int64_t* freq);
static double now_seconds(void) {
  int64_t c = 0, f = 1;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return (double)c / (double)f;
}
static void sleep_seconds(double s) {
  Sleep((unsigned long)(s * 1000.0) + 1);
}
#else
#define API __attribute__((visibility("default")))
#include <time.h>
static double now_seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}
static void sleep_seconds(double s) {
  struct timespec t;
  t.tv_sec = (time_t)s;
  t.tv_nsec = (long)((s - (double)t.tv_sec) * 1e9);
  nanosleep(&t, 0);
}
#endif

#define PI 3.14159265358979323846
#define CARRIERS 3

/* The scene: carrier frequency, tone and amplitude (8-bit steps). The frequencies lie on the 12.5 kHz
 * raster, away from the tuning centres of the default two-hop plan (144.5 and 145.5 MHz). */
static const double g_carrier_hz[CARRIERS] = {144300000.0, 145012500.0, 145750000.0};
static const double g_tone_hz[CARRIERS] = {600.0, 1000.0, 1500.0};
static const double g_amplitude = 40.0;
static const double g_deviation_hz = 2500.0;
static const double g_noise_sigma = 4.0;

static int g_device = 0x5c5c;
static uint32_t g_center = 145000000;
static uint32_t g_rate = 2048000;
static int g_gains[] = {0, 90, 197, 297, 402, 496};
static double g_phase[CARRIERS];
static double g_tone_phase[CARRIERS];
static uint64_t g_noise_state = 0x9e3779b97f4a7c15ULL;
static double g_epoch = 0.0;     /* time of the last retune or reset */
static double g_delivered = 0.0; /* samples delivered since then */
static volatile int g_cancel = 0;

static double uniform(void) {
  g_noise_state = g_noise_state * 6364136223846793005ULL + 1442695040888963407ULL;
  return (double)(g_noise_state >> 11) * (1.0 / 9007199254740992.0);
}

/* Sum of four uniforms: close enough to Gaussian for a noise floor, and cheap. */
static double noise(void) {
  return (uniform() + uniform() + uniform() + uniform() - 2.0) * g_noise_sigma * 1.7320508;
}

static uint8_t to_byte(double v) {
  v += 127.5;
  if (v < 0.0) v = 0.0;
  if (v > 255.0) v = 255.0;
  return (uint8_t)v;
}

static void restart_clock(void) {
  g_epoch = now_seconds();
  g_delivered = 0.0;
}

static void generate(uint8_t* buf, int pairs) {
  int k, i;
  double offset[CARRIERS];
  int audible[CARRIERS];
  for (k = 0; k < CARRIERS; ++k) {
    offset[k] = g_carrier_hz[k] - (double)g_center;
    audible[k] = fabs(offset[k]) < 0.45 * (double)g_rate;
  }
  for (i = 0; i < pairs; ++i) {
    double re = noise(), im = noise();
    for (k = 0; k < CARRIERS; ++k) {
      double f;
      if (!audible[k]) continue;
      g_tone_phase[k] += 2.0 * PI * g_tone_hz[k] / (double)g_rate;
      if (g_tone_phase[k] > 2.0 * PI) g_tone_phase[k] -= 2.0 * PI;
      f = offset[k] + g_deviation_hz * sin(g_tone_phase[k]);
      g_phase[k] += 2.0 * PI * f / (double)g_rate;
      if (g_phase[k] > PI) g_phase[k] -= 2.0 * PI;
      if (g_phase[k] < -PI) g_phase[k] += 2.0 * PI;
      re += g_amplitude * cos(g_phase[k]);
      im += g_amplitude * sin(g_phase[k]);
    }
    buf[2 * i] = to_byte(re);
    buf[2 * i + 1] = to_byte(im);
  }
}

/* Waits until `pairs` more samples would have arrived. A reader that fell far behind loses the
 * backlog, as a real receiver's buffers overflow. */
static void pace(int pairs) {
  double due, now = now_seconds();
  if (now - (g_epoch + g_delivered / (double)g_rate) > 0.25) restart_clock();
  g_delivered += pairs;
  due = g_epoch + g_delivered / (double)g_rate;
  while ((now = now_seconds()) < due) sleep_seconds(due - now);
}

API uint32_t rtlsdr_get_device_count(void) {
  return 1;
}
API const char* rtlsdr_get_device_name(uint32_t index) {
  return index == 0 ? "Scene RTL2832U" : "";
}
API int rtlsdr_get_device_usb_strings(uint32_t index, char* m, char* p, char* s) {
  if (index != 0) return -1;
  strcpy(m, "Talvoran");
  strcpy(p, "Scene RTL2832U");
  strcpy(s, "SCENE001");
  return 0;
}
API int rtlsdr_open(void** dev, uint32_t index) {
  if (index != 0) return -1;
  *dev = &g_device;
  restart_clock();
  return 0;
}
API int rtlsdr_close(void* dev) {
  return dev == &g_device ? 0 : -1;
}
API int rtlsdr_set_center_freq(void* dev, uint32_t hz) {
  g_center = hz;
  restart_clock();
  return 0;
}
API uint32_t rtlsdr_get_center_freq(void* dev) {
  return g_center;
}
API int rtlsdr_set_sample_rate(void* dev, uint32_t rate) {
  if (rate < 225001 || rate > 3200000) return -22;
  g_rate = rate;
  restart_clock();
  return 0;
}
API uint32_t rtlsdr_get_sample_rate(void* dev) {
  return g_rate;
}
API int rtlsdr_set_tuner_gain_mode(void* dev, int manual) {
  return 0;
}
API int rtlsdr_set_tuner_gain(void* dev, int gain) {
  return 0;
}
API int rtlsdr_get_tuner_gains(void* dev, int* gains) {
  if (gains) memcpy(gains, g_gains, sizeof g_gains);
  return (int)(sizeof g_gains / sizeof g_gains[0]);
}
API int rtlsdr_set_agc_mode(void* dev, int on) {
  return 0;
}
API int rtlsdr_set_freq_correction(void* dev, int ppm) {
  return 0;
}
API int rtlsdr_set_tuner_bandwidth(void* dev, uint32_t bw) {
  return 0;
}
API int rtlsdr_reset_buffer(void* dev) {
  restart_clock();
  return 0;
}
API int rtlsdr_read_sync(void* dev, void* buf, int len, int* n_read) {
  const int pairs = len / 2;
  pace(pairs);
  generate((uint8_t*)buf, pairs);
  *n_read = pairs * 2;
  return 0;
}

#ifdef _WIN32
typedef void(__cdecl* read_async_cb)(unsigned char* buf, uint32_t len, void* ctx);
#else
typedef void (*read_async_cb)(unsigned char* buf, uint32_t len, void* ctx);
#endif
API int rtlsdr_read_async(void* dev, read_async_cb cb, void* ctx, uint32_t buf_num, uint32_t buf_len) {
  static uint8_t block[262144];
  uint32_t len = buf_len && buf_len <= sizeof block ? buf_len : 16384;
  while (!g_cancel) {
    pace((int)(len / 2));
    generate(block, (int)(len / 2));
    cb(block, len, ctx);
  }
  g_cancel = 0;
  return 0;
}
API int rtlsdr_cancel_async(void* dev) {
  g_cancel = 1;
  return 0;
}
