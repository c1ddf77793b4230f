/* A stand-in for the HackRF library, for the Windows tests: one HackRF One with the serial
 * "0000000000000000457863c8235a3c4f" (fake_hackrf_control(FAKE_COUNT, n) gives n of them). Receiving
 * is driven by the test: fake_hackrf_deliver hands a transfer to the receive routine on the caller's
 * thread, as the library's own thread would. The environment variable FAKE_HACKRF_INIT sets what
 * hackrf_init returns. Built with FAKE_NO_DEVICE_LIST it lacks hackrf_device_list, which the engine
 * requires. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define API __declspec(dllexport) __cdecl
/* The process environment as the system keeps it (the C run-time's copy misses later changes). */
__declspec(dllimport) unsigned long __stdcall GetEnvironmentVariableA(const char* name, char* value,
                                                                      unsigned long size);

typedef struct {
  void* device;
  uint8_t* buffer;
  int buffer_length;
  int valid_length;
  void* rx_ctx;
  void* tx_ctx;
} transfer_t;
typedef struct {
  char** serial_numbers;
  uint32_t* usb_board_ids;
  int* usb_device_index;
  int devicecount;
  void** usb_devices;
  int usb_devicecount;
} device_list_t;
typedef int(__cdecl* rx_cb)(transfer_t*);

enum {
  FAKE_INITS,
  FAKE_EXITS,
  FAKE_COUNT,
  FAKE_OPENED_INDEX,
  FAKE_CLOSES,
  FAKE_FREQ,
  FAKE_RATE_X1000,
  FAKE_BW,
  FAKE_LNA,
  FAKE_VGA,
  FAKE_AMP,
  FAKE_ANTENNA,
  FAKE_LNA_STATUS,
  FAKE_FREQ_STATUS,
  FAKE_BW_STATUS,
  FAKE_RX_STARTS,
  FAKE_RX_STOPS,
  FAKE_LISTS,
  FAKE_LIST_FREES,
  FAKE_START_STATUS,
  FAKE_KEYS
};
static int64_t g[FAKE_KEYS] = {0};
static int g_device[4];
static rx_cb g_cb = 0;
static void* g_ctx = 0;
static char g_serials[4][40] = {"0000000000000000457863c8235a3c4f", "0000000000000000457863c8235a3c50",
                                "0000000000000000457863c8235a3c51", "0000000000000000457863c8235a3c52"};

API int64_t fake_hackrf_get(int key) {
  return key >= 0 && key < FAKE_KEYS ? g[key] : -1;
}
API void fake_hackrf_control(int key, int64_t value) {
  if (key >= 0 && key < FAKE_KEYS) g[key] = value;
}
API int fake_hackrf_deliver(uint8_t* data, int length) {
  transfer_t t;
  if (!g_cb) return -1;
  t.device = &g_device[0];
  t.buffer = data;
  t.buffer_length = length;
  t.valid_length = length;
  t.rx_ctx = g_ctx;
  t.tx_ctx = 0;
  return g_cb(&t);
}

API int hackrf_init(void) {
  char status[32];
  unsigned long n = GetEnvironmentVariableA("FAKE_HACKRF_INIT", status, sizeof status);
  g[FAKE_INITS]++;
  if (g[FAKE_COUNT] == 0 && g[FAKE_INITS] == 1) g[FAKE_COUNT] = 1;
  return n > 0 && n < sizeof status ? atoi(status) : 0;
}
API int hackrf_exit(void) {
  g[FAKE_EXITS]++;
  return 0;
}
#ifndef FAKE_NO_DEVICE_LIST
static uint32_t g_boards[4] = {0x6089, 0x6089, 0x604B, 0x6089};
API device_list_t* hackrf_device_list(void) {
  static char* serials[4];
  device_list_t* list = (device_list_t*)calloc(1, sizeof *list);
  int i;
  for (i = 0; i < 4; ++i) serials[i] = g_serials[i];
  list->serial_numbers = serials;
  list->usb_board_ids = g_boards;
  list->devicecount = (int)g[FAKE_COUNT];
  list->usb_devicecount = list->devicecount;
  g[FAKE_LISTS]++;
  return list;
}
#endif
API void hackrf_device_list_free(device_list_t* list) {
  g[FAKE_LIST_FREES]++;
  free(list);
}
API const char* hackrf_usb_board_id_name(uint32_t id) {
  return id == 0x6089 ? "HackRF One" : id == 0x604B ? "Jawbreaker" : "unknown";
}
API const char* hackrf_error_name(int status) {
  switch (status) {
    case -5:
      return "HACKRF_ERROR_NOT_FOUND";
    case -1000:
      return "HACKRF_ERROR_STREAMING_THREAD_ERR";
    default:
      return 0;
  }
}
API int hackrf_open(void** dev) {
  if (g[FAKE_COUNT] < 1) return -5;
  g[FAKE_OPENED_INDEX] = 0;
  *dev = &g_device[0];
  return 0;
}
API int hackrf_open_by_serial(const char* serial, void** dev) {
  int i;
  for (i = 0; i < g[FAKE_COUNT] && i < 4; ++i)
    if (serial && strcmp(serial, g_serials[i]) == 0) {
      g[FAKE_OPENED_INDEX] = i;
      *dev = &g_device[i];
      return 0;
    }
  return -5;
}
API int hackrf_device_list_open(device_list_t* list, int idx, void** dev) {
  if (!list || idx < 0 || idx >= list->devicecount) return -2;
  g[FAKE_OPENED_INDEX] = idx;
  *dev = &g_device[idx];
  return 0;
}
API int hackrf_close(void* dev) {
  g[FAKE_CLOSES]++;
  return 0;
}
API int hackrf_set_freq(void* dev, uint64_t hz) {
  if (g[FAKE_FREQ_STATUS]) return (int)g[FAKE_FREQ_STATUS];
  g[FAKE_FREQ] = (int64_t)hz;
  return 0;
}
API int hackrf_set_sample_rate(void* dev, double rate) {
  g[FAKE_RATE_X1000] = (int64_t)(rate * 1000);
  return 0;
}
API int hackrf_set_baseband_filter_bandwidth(void* dev, uint32_t hz) {
  if (g[FAKE_BW_STATUS]) return (int)g[FAKE_BW_STATUS];
  g[FAKE_BW] = hz;
  return 0;
}
API uint32_t hackrf_compute_baseband_filter_bw(uint32_t hz) {
  return hz * 3 / 4 / 250000 * 250000;
}
API int hackrf_set_lna_gain(void* dev, uint32_t db) {
  if (g[FAKE_LNA_STATUS]) return (int)g[FAKE_LNA_STATUS];
  g[FAKE_LNA] = db;
  return 0;
}
API int hackrf_set_vga_gain(void* dev, uint32_t db) {
  g[FAKE_VGA] = db;
  return 0;
}
API int hackrf_set_amp_enable(void* dev, uint8_t on) {
  g[FAKE_AMP] = on;
  return 0;
}
API int hackrf_set_antenna_enable(void* dev, uint8_t on) {
  g[FAKE_ANTENNA] = on;
  return 0;
}
API int hackrf_start_rx(void* dev, rx_cb cb, void* ctx) {
  if (g[FAKE_START_STATUS]) return (int)g[FAKE_START_STATUS];
  g[FAKE_RX_STARTS]++;
  g_cb = cb;
  g_ctx = ctx;
  return 0;
}
API int hackrf_stop_rx(void* dev) {
  g[FAKE_RX_STOPS]++;
  g_cb = 0;
  g_ctx = 0;
  return 0;
}
API int hackrf_is_streaming(void* dev) {
  return g_cb ? 1 : 0;
}
