// The card-access library's contract: the nine calls a card library
// provides, the two records they fill, the access widths and the statuses
// that every library and every caller agree on. The maker's library, the
// simulated one and the utility are all built against this header.
#pragma once

#include <cstddef>
#include <cstdint>

// The calling convention of the nine calls as this header declares them:
// cdecl, unless a build of the simulated library chooses another (stdcall on
// 32-bit Windows). The utility binds the library at run time and works with
// either, whatever the maker chose.
#if !defined(KORVAN_CALL)
#if defined(_WIN32)
#define KORVAN_CALL __cdecl
#else
#define KORVAN_CALL
#endif
#endif

#if defined(_WIN32)
#if defined(KORVAN_BUILDING_LIBRARY)
#define KORVAN_API __declspec(dllexport)
#else
#define KORVAN_API __declspec(dllimport)
#endif
#else
#define KORVAN_API __attribute__((visibility("default")))
#endif

typedef uint32_t korvan_status;
typedef uint32_t korvan_card;  // 0: no card

constexpr korvan_status KORVAN_OK = 0;

// Statuses of the .bit reader, in the library's numbering: every library
// gives a text for them.
constexpr korvan_status BIT_NO_MEMORY = 4097;
constexpr korvan_status BIT_CANNOT_OPEN = 4099;
constexpr korvan_status BIT_MALFORMED = 4100;
constexpr korvan_status BIT_WRONG_DEVICE = 4101;

// Width codes of KORVAN2_Read and KORVAN2_Write.
constexpr uint32_t KORVAN_WIDTH_16 = 1;
constexpr uint32_t KORVAN_WIDTH_32 = 2;

// Board types of the two models.
constexpr uint32_t KORVAN_BOARD_HALCYRA = 4;
constexpr uint32_t KORVAN_BOARD_PERINEL = 8;

// LogicRevision: the high nibble names the bridge logic's family, the low
// nibble is the bridge revision.
constexpr uint8_t KORVAN_LOGIC_FAMILY_MASK = 0xF0;
constexpr uint8_t KORVAN_LOGIC_FAMILY = 0x10;
constexpr uint8_t KORVAN_LOGIC_REVISION_MASK = 0x0F;

// Card information: 40 bytes; the utility reads the board type and the
// bridge logic revision only.
struct card_info {
  uint8_t Reserved0[8];
  uint32_t BoardType;  // little-endian: KORVAN_BOARD_*
  uint8_t Reserved1[25];
  uint8_t LogicRevision;  // high nibble: logic family, low nibble: revision
  uint8_t Reserved2[2];
};
static_assert(sizeof(card_info) == 40, "card_info is 40 bytes");
static_assert(offsetof(card_info, BoardType) == 8, "board type at bytes 8-11");
static_assert(offsetof(card_info, LogicRevision) == 37, "LogicRevision at byte 37");

// Address space information: where the space is mapped into the process and
// where it lies on the card's local bus. Five 32-bit words in a 32-bit
// process; a 64-bit build (Linux) keeps a pointer-sized first field.
struct space_info {
  void *VirtualBase;  // null when the space is not mapped
  uint32_t VirtualSize;
  uint32_t Reserved;
  uint32_t LocalBase;
  uint32_t LocalSize;
};
static_assert(offsetof(space_info, VirtualBase) == 0, "window address first");
static_assert(offsetof(space_info, VirtualSize) == sizeof(void *), "virtual size after the base");
static_assert(offsetof(space_info, Reserved) == sizeof(void *) + 4, "a word not read");
static_assert(offsetof(space_info, LocalBase) == sizeof(void *) + 8, "local base");
static_assert(offsetof(space_info, LocalSize) == sizeof(void *) + 12, "local size last");
static_assert(sizeof(space_info) == sizeof(void *) + 16, "space_info: a pointer and four words");
static_assert(sizeof(void *) != 4 || sizeof(space_info) == 20, "the maker's record is 20 bytes");

extern "C" {
KORVAN_API korvan_status KORVAN_CALL KORVAN2_OpenCard(uint32_t cardId, korvan_card *card);
KORVAN_API korvan_status KORVAN_CALL KORVAN2_OpenCardByIndex(uint32_t cardIndex, korvan_card *card);
KORVAN_API korvan_status KORVAN_CALL KORVAN2_GetCardInfo(korvan_card card, card_info *info);
KORVAN_API korvan_status KORVAN_CALL KORVAN2_GetSpaceInfo(korvan_card card, uint32_t space, space_info *info);
KORVAN_API korvan_status KORVAN_CALL KORVAN2_SetClockRate(korvan_card card, uint32_t clock, double hz,
                                                          double *actualHz);
KORVAN_API korvan_status KORVAN_CALL KORVAN2_Read(korvan_card card, uint32_t width, uint32_t flags,
                                                  uint32_t address, void *buffer, uint32_t count);
KORVAN_API korvan_status KORVAN_CALL KORVAN2_Write(korvan_card card, uint32_t width, uint32_t flags,
                                                   uint32_t address, const void *buffer, uint32_t count);
KORVAN_API const char *KORVAN_CALL KORVAN2_GetStatusString(korvan_status status);
KORVAN_API korvan_status KORVAN_CALL KORVAN2_CloseCard(korvan_card card);
}
