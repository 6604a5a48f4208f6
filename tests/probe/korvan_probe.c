/* A card-access library of the tests' own, from the maker's description of
   the records alone: it fills them byte by byte, answers the build words,
   refuses the clock and logs each call to probe.log. Built with
   PROBE_WITHOUT_WRITE, it lacks KORVAN2_Write. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#define API __declspec(dllexport)
#else
#define API __attribute__((visibility("default")))
#endif
#define CLOCK_REFUSED 0xC10Cu

static void note(const char *format, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e) {
  FILE *log = fopen("probe.log", "a");
  if (log == NULL) return;
  fprintf(log, format, (unsigned)a, (unsigned)b, (unsigned)c, (unsigned)d, (unsigned)e);
  fputc('\n', log);
  fclose(log);
}

static void put(void *record, unsigned offset, uint32_t value) {
  unsigned char *at = (unsigned char *)record + offset;
  at[0] = (unsigned char)value, at[1] = (unsigned char)(value >> 8);
  at[2] = (unsigned char)(value >> 16), at[3] = (unsigned char)(value >> 24);
}

static uint32_t opened(const char *format, uint32_t number, uint32_t *card) {
  note(format, number, 0, 0, 0, 0);
  *card = 0x5A17;
  return 0;
}

/* Some compilers give a cdecl export a leading underscore: on Windows the
   probe's open call is spelled so. */
#if defined(_WIN32) && !defined(PROBE_WITHOUT_WRITE)
#define OPEN_CARD _KORVAN2_OpenCard
#else
#define OPEN_CARD KORVAN2_OpenCard
#endif
API uint32_t OPEN_CARD(uint32_t id, uint32_t *card) { return opened("open_id %u", id, card); }
API uint32_t KORVAN2_OpenCardByIndex(uint32_t index, uint32_t *card) {
  return opened("open_index %u", index, card);
}

API uint32_t KORVAN2_GetCardInfo(uint32_t card, void *info) {
  note("card_info %x", card, 0, 0, 0, 0);
  memset(info, 0xEE, 40); /* bytes that are not read */
  put(info, 8, 4);
  ((unsigned char *)info)[37] = 0x12;
  return 0;
}

API uint32_t KORVAN2_GetSpaceInfo(uint32_t card, uint32_t space, void *info) {
  note("space_info %x %u", card, space, 0, 0, 0);
  put(info, 0, 0);
  put(info, 4, 0);
  put(info, 8, 0xEEEEEEEEu);
  put(info, 12, 0x12345000u);
  put(info, 16, 0x400000u);
  return 0;
}

API uint32_t KORVAN2_SetClockRate(uint32_t card, uint32_t clock, double hz, double *actual) {
  note(actual == NULL ? "clock %x %u %u null" : "clock %x %u %u pointer", card, clock, (uint32_t)hz, 0, 0);
  return CLOCK_REFUSED;
}

API uint32_t KORVAN2_Read(uint32_t card, uint32_t width, uint32_t flags, uint32_t address, void *buffer,
                          uint32_t count) {
  note("read %x %u %u %x %u", card, width, flags, address, count);
  put(buffer, 0, address == 0x78 ? 0x0A0B0C00u : 0x07E8031Fu); /* 10:11:12, 31/03/2024 */
  return 0;
}

#if !defined(PROBE_WITHOUT_WRITE)
API uint32_t KORVAN2_Write(uint32_t card, uint32_t width, uint32_t flags, uint32_t address,
                           const void *buffer, uint32_t count) {
  (void)buffer;
  note("write %x %u %u %x %u", card, width, flags, address, count);
  return 0xBAD;
}
#endif

API const char *KORVAN2_GetStatusString(uint32_t status) {
  return status == CLOCK_REFUSED ? "the probe refuses the clock" : "a status the probe never gives";
}

API uint32_t KORVAN2_CloseCard(uint32_t card) {
  note("close %x", card, 0, 0, 0, 0);
  return 0;
}
