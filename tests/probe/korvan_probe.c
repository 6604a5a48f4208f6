/* A card-access library of the tests' own, written from the maker's record
   description alone and sharing nothing with the project: 32-bit handles,
   statuses and addresses; card_info 40 bytes with the board type at bytes
   8-11 and LogicRevision at byte 37; space_info five 32-bit words (window
   address, window size, a word not read, local base, local size). It fills
   the records byte by byte, answers the two build-word reads, refuses the
   clock, and writes every call it gets to probe.log in the current folder.
   KORVAN_PROBE=perinel makes it a Perinel with a 16 MiB space mapped into a
   window of the probe's own memory, which nothing may touch. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define PROBE_API __declspec(dllexport)

#define HANDLE_VALUE 0x5A17u
#define CLOCK_REFUSED 0xC10Cu
#define NOT_SUPPORTED 0xBADu
#define LOCAL_BASE 0x12345000u
#define PERINEL_SIZE 0x1000000u
#define HALCYRA_SIZE 0x400000u
#define WINDOW_FILL 0xA5
#define TIME_WORD 0x0A0B0C00u /* 10:11:12 */
#define DATE_WORD 0x07E8031Fu /* 31/03/2024 */

static FILE *log_file;
static unsigned char *window;

static void log_line(const char *format, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e) {
  if (log_file == NULL) log_file = fopen("probe.log", "w");
  if (log_file == NULL) return;
  fprintf(log_file, format, (unsigned)a, (unsigned)b, (unsigned)c, (unsigned)d, (unsigned)e);
  fputc('\n', log_file);
  fflush(log_file);
}

static int is_perinel(void) {
  const char *kind = getenv("KORVAN_PROBE");
  return kind != NULL && strcmp(kind, "perinel") == 0;
}

static void put_word(unsigned char *record, unsigned offset, uint32_t value) {
  record[offset] = (unsigned char)value;
  record[offset + 1] = (unsigned char)(value >> 8);
  record[offset + 2] = (unsigned char)(value >> 16);
  record[offset + 3] = (unsigned char)(value >> 24);
}

static uint32_t open_card(const char *how, uint32_t number, uint32_t *card) {
  log_line(how, number, 0, 0, 0, 0);
  *card = HANDLE_VALUE;
  return 0;
}

PROBE_API uint32_t KORVAN2_OpenCard(uint32_t id, uint32_t *card) { return open_card("open_id %u", id, card); }

PROBE_API uint32_t KORVAN2_OpenCardByIndex(uint32_t index, uint32_t *card) {
  return open_card("open_index %u", index, card);
}

PROBE_API uint32_t KORVAN2_GetCardInfo(uint32_t card, void *info) {
  unsigned char *record = (unsigned char *)info;
  log_line("card_info %x", card, 0, 0, 0, 0);
  memset(record, 0xEE, 40); /* bytes that are not read */
  put_word(record, 8, is_perinel() ? 8u : 4u);
  record[37] = 0x12;
  return 0;
}

PROBE_API uint32_t KORVAN2_GetSpaceInfo(uint32_t card, uint32_t space, void *info) {
  unsigned char *record = (unsigned char *)info;
  uint32_t size = is_perinel() ? PERINEL_SIZE : HALCYRA_SIZE;
  log_line("space_info %x %u", card, space, 0, 0, 0);
  if (is_perinel() && window == NULL) {
    window = (unsigned char *)malloc(PERINEL_SIZE);
    if (window == NULL) return NOT_SUPPORTED;
    memset(window, WINDOW_FILL, PERINEL_SIZE);
  }
  put_word(record, 0, (uint32_t)(uintptr_t)window);
  put_word(record, 4, window != NULL ? size : 0u);
  put_word(record, 8, 0xEEEEEEEEu);
  put_word(record, 12, LOCAL_BASE);
  put_word(record, 16, size);
  return 0;
}

PROBE_API uint32_t KORVAN2_SetClockRate(uint32_t card, uint32_t clock, double hz, double *actual) {
  log_line(actual == NULL ? "clock %x %u %u null" : "clock %x %u %u pointer", card, clock, (uint32_t)hz, 0,
           0);
  return CLOCK_REFUSED;
}

PROBE_API uint32_t KORVAN2_Read(uint32_t card, uint32_t width, uint32_t flags, uint32_t address, void *buffer,
                                uint32_t count) {
  log_line("read %x %u %u %x %u", card, width, flags, address, count);
  if (width != 2 || flags != 2 || count != 4 || (address != 0x78 && address != 0x7C)) return NOT_SUPPORTED;
  put_word((unsigned char *)buffer, 0, address == 0x78 ? TIME_WORD : DATE_WORD);
  return 0;
}

PROBE_API uint32_t KORVAN2_Write(uint32_t card, uint32_t width, uint32_t flags, uint32_t address,
                                 const void *buffer, uint32_t count) {
  (void)buffer;
  log_line("write %x %u %u %x %u", card, width, flags, address, count);
  return NOT_SUPPORTED;
}

PROBE_API const char *KORVAN2_GetStatusString(uint32_t status) {
  static char text[40];
  if (status == CLOCK_REFUSED) return "the probe refuses the clock";
  snprintf(text, sizeof text, "probe status %u", (unsigned)status);
  return text;
}

PROBE_API uint32_t KORVAN2_CloseCard(uint32_t card) {
  log_line("close %x", card, 0, 0, 0, 0);
  if (window != NULL) {
    uint32_t k = 0;
    while (k < PERINEL_SIZE && window[k] == WINDOW_FILL)
      ++k;
    log_line(k == PERINEL_SIZE ? "window untouched" : "window touched at %x", k, 0, 0, 0, 0);
    free(window);
    window = NULL;
  }
  return 0;
}
