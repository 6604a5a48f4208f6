// The nine exports of the card-access library, over simulated cards.
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "korvan.h"
#include "sim_card.h"
#include "sim_status.h"

namespace ksim {

namespace {

constexpr uint32_t SPACE_LOCAL = 1;
constexpr uint32_t LCLK = 0;
constexpr double MAX_CLOCK_HZ = 200e6;
constexpr uint32_t BUILD_TIME_REG = 0x78;
constexpr uint32_t BUILD_DATE_REG = 0x7C;
constexpr uint32_t BUILD_REG_FLAGS = 2;

std::vector<std::unique_ptr<sim_card>> open_cards;
std::map<size_t, uint64_t> open_calls;  // per card of the file, for the whole process
uint32_t next_handle = 1;
sim_card *last_used = nullptr;

#if defined(__GNUC__)
#define SIM_COLD __attribute__((cold, noinline))
#else
#define SIM_COLD
#endif

SIM_COLD sim_card *search_card(korvan_card handle) {
  for (auto &card : open_cards)
    if (card->handle == handle) return last_used = card.get();
  return nullptr;
}

// Every register access looks the card up: the last one used comes first.
sim_card *find_card(korvan_card handle) {
  if (last_used != nullptr && last_used->handle == handle) return last_used;
  return search_card(handle);
}

// The counted call of each kind that a card file can make fail.
constexpr call_kind COUNTED_AS[] = {CALL_OPEN,  CALL_CARD_INFO, CALL_SPACE_INFO,
                                    CALL_CLOCK, CALL_READ,      CALL_WRITE};

SIM_COLD bool injected(const card_config &config, call_kind kind, uint64_t count) {
  for (const fail_rule &rule : config.fail)
    if (COUNTED_AS[static_cast<int>(rule.call)] == kind && (rule.nth == 0 || rule.nth == count)) return true;
  return false;
}

// Counts the call; true when the card file makes it fail.
bool count_call(sim_card *card, call_kind kind) {
  const uint64_t count = ++card->rec.calls[kind];
  return !card->config.fail.empty() && injected(card->config, kind, count);
}

// A trace line for a file that is not held open: calls that reach no open card.
void trace_once(const std::string &fileName, const std::string &line) {
  if (fileName.empty()) return;
  if (FILE *file = std::fopen(fileName.c_str(), "ab")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

korvan_status file_failure(const std::string &text) {
  set_failure_text(SIM_FILE, text);
  return SIM_FILE;
}

void release(sim_card *card) {
  window_close(card->window);
  card->window = nullptr;
  close_flash(card);
  if (card->rec.trace != nullptr) std::fclose(card->rec.trace);
  card->rec.trace = nullptr;
  waveform_close(&card->wave);
}

korvan_status open_card(bool byIndex, uint32_t number, korvan_card *handle) {
  const char *callName = byIndex ? "open_index" : "open_id";
  std::vector<card_config> cards;
  std::string error;
  if (!load_cards(&cards, &error)) {
    set_failure_text(SIM_CARD_FILE, error);
    return SIM_CARD_FILE;
  }
  size_t index = cards.size();
  if (byIndex) {
    index = number < cards.size() ? number : cards.size();
  } else {
    for (size_t k = 0; k < cards.size() && index == cards.size(); ++k)
      if (cards[k].id == number) index = k;
  }
  char line[96];
  auto call_line = [&](korvan_status status) {
    std::snprintf(line, sizeof line, "call %s %x -> %x", callName, static_cast<unsigned>(number),
                  static_cast<unsigned>(status));
    return std::string(line);
  };
  if (index == cards.size()) {
    // No card to trace to: the first card that keeps a trace has it.
    for (const card_config &card : cards) {
      if (card.trace.empty()) continue;
      trace_once(card.trace, call_line(SIM_NO_CARD));
      break;
    }
    return SIM_NO_CARD;
  }
  const card_config &config = cards[index];
  korvan_status status = SIM_OK;
  if (handle == nullptr)
    status = SIM_BAD_ARGUMENT;
  else if (injected(config, CALL_OPEN, ++open_calls[index]))
    status = SIM_INJECTED;
  for (auto &card : open_cards)
    if (status == SIM_OK && card->index == index) status = SIM_ALREADY_OPEN;
  if (status != SIM_OK) {
    trace_once(config.trace, call_line(status));
    return status;
  }

  auto card = std::make_unique<sim_card>();
  card->index = index;
  card->config = config;
  card->rec.calls[CALL_OPEN] = open_calls[index];
  locate_block(card.get());
  if (!open_flash(card.get(), &error)) status = file_failure(error);
  if (status == SIM_OK && !config.trace.empty()) {
    card->rec.trace = std::fopen(config.trace.c_str(), "ab");
    if (card->rec.trace == nullptr) status = file_failure("trace file " + config.trace + " cannot be opened");
  }
  if (status == SIM_OK && !open_waveform(card.get()))
    status = file_failure("waveform file " + config.waveform + " cannot be opened");
  if (status == SIM_OK && !open_window(card.get())) status = SIM_NO_WINDOW;
  if (status != SIM_OK) {
    release(card.get());
    trace_once(config.trace, call_line(status));
    return status;
  }
  card->handle = next_handle++;
  *handle = card->handle;
  trace_line(&card->rec, "%s", call_line(SIM_OK).c_str());
  open_cards.push_back(std::move(card));
  return SIM_OK;
}

// The register a library access of this shape reaches: 0 for none.
uint32_t library_register(const sim_card &card, uint32_t width, uint32_t flags, uint32_t address,
                          uint32_t count) {
  if (width != KORVAN_WIDTH_16 || flags != 0 || count != 2 || !card.hasBlock) return 0;
  const uint32_t reg = address - card.blockAddress;
  return reg == FLASH_CTRL_REG || reg == FLASH_DATA_REG ? reg : 0;
}

bool is_build_read(uint32_t width, uint32_t flags, uint32_t address, uint32_t count) {
  return width == KORVAN_WIDTH_32 && flags == BUILD_REG_FLAGS && count == 4 &&
         (address == BUILD_TIME_REG || address == BUILD_DATE_REG);
}

SIM_COLD korvan_status failed_access(sim_card *card, bool write, uint32_t address, korvan_status status) {
  trace_line(&card->rec, "%c lib %x -> %x", write ? 'W' : 'R', static_cast<unsigned>(address),
             static_cast<unsigned>(status));
  return status;
}

// A write that reaches no register: it fails, and is traced with its status.
SIM_COLD korvan_status refused_write(sim_card *card, uint32_t address, uint32_t reg, const void *buffer,
                                     bool failing) {
  if (buffer == nullptr) return failed_access(card, true, address, SIM_BAD_ARGUMENT);
  if (reg == 0) return failed_access(card, true, address, failing ? SIM_INJECTED : SIM_BAD_ACCESS);
  uint16_t value = 0;
  std::memcpy(&value, buffer, sizeof value);
  trace_line(&card->rec, "W lib %x %x -> %x", static_cast<unsigned>(address), static_cast<unsigned>(value),
             static_cast<unsigned>(SIM_INJECTED));
  return SIM_INJECTED;
}

}  // namespace

}  // namespace ksim

using namespace ksim;

extern "C" {

KORVAN_API korvan_status KORVAN_CALL KORVAN2_OpenCard(uint32_t cardId, korvan_card *card) {
  return open_card(false, cardId, card);
}

KORVAN_API korvan_status KORVAN_CALL KORVAN2_OpenCardByIndex(uint32_t cardIndex, korvan_card *card) {
  return open_card(true, cardIndex, card);
}

KORVAN_API korvan_status KORVAN_CALL KORVAN2_GetCardInfo(korvan_card handle, card_info *info) {
  sim_card *card = find_card(handle);
  if (card == nullptr) return SIM_BAD_HANDLE;
  korvan_status status = SIM_OK;
  if (count_call(card, CALL_CARD_INFO))
    status = SIM_INJECTED;
  else if (info == nullptr)
    status = SIM_BAD_ARGUMENT;
  if (status == SIM_OK) {
    std::memset(info, 0, sizeof *info);
    info->BoardType = card->config.boardType;
    info->LogicRevision = static_cast<uint8_t>(card->config.logicRevision);
  }
  trace_line(&card->rec, "call card_info -> %x", static_cast<unsigned>(status));
  return status;
}

KORVAN_API korvan_status KORVAN_CALL KORVAN2_GetSpaceInfo(korvan_card handle, uint32_t space,
                                                          space_info *info) {
  sim_card *card = find_card(handle);
  if (card == nullptr) return SIM_BAD_HANDLE;
  korvan_status status = SIM_OK;
  if (count_call(card, CALL_SPACE_INFO))
    status = SIM_INJECTED;
  else if (info == nullptr || space != SPACE_LOCAL)
    status = SIM_BAD_ARGUMENT;
  if (status == SIM_OK) {
    info->VirtualBase = card->window != nullptr ? window_base(card->window) : nullptr;
    info->VirtualSize = card->window != nullptr ? card->virtualSize : 0;
    info->Reserved = 0;
    info->LocalBase = card->config.localBase;
    info->LocalSize = card->config.localSize;
  }
  trace_line(&card->rec, "call space_info %x -> %x", static_cast<unsigned>(space),
             static_cast<unsigned>(status));
  return status;
}

KORVAN_API korvan_status KORVAN_CALL KORVAN2_SetClockRate(korvan_card handle, uint32_t clock, double hz,
                                                          double *actualHz) {
  sim_card *card = find_card(handle);
  if (card == nullptr) return SIM_BAD_HANDLE;
  korvan_status status = SIM_OK;
  if (count_call(card, CALL_CLOCK))
    status = SIM_INJECTED;
  else if (clock != LCLK || !(hz > 0.0 && hz <= MAX_CLOCK_HZ))
    status = SIM_BAD_ARGUMENT;
  if (status == SIM_OK && actualHz != nullptr) *actualHz = hz;
  trace_line(&card->rec, "call clock %x %.15g -> %x", static_cast<unsigned>(clock), hz,
             static_cast<unsigned>(status));
  return status;
}

KORVAN_API korvan_status KORVAN_CALL KORVAN2_Read(korvan_card handle, uint32_t width, uint32_t flags,
                                                  uint32_t address, void *buffer, uint32_t count) {
  sim_card *card = find_card(handle);
  if (card == nullptr) return SIM_BAD_HANDLE;
  const bool failing = count_call(card, CALL_READ);
  const uint32_t reg = library_register(*card, width, flags, address, count);
  const bool build = is_build_read(width, flags, address, count);
  if (reg == 0 && !build) return failed_access(card, false, address, failing ? SIM_INJECTED : SIM_BAD_ACCESS);
  const uint32_t value = reg != 0                    ? bridge_read(card->bridge, reg)
                         : address == BUILD_TIME_REG ? card->config.buildTime
                                                     : card->config.buildDate;
  if (failing || buffer == nullptr) {
    const korvan_status status = failing ? SIM_INJECTED : SIM_BAD_ARGUMENT;
    trace_line(&card->rec, "R lib %x %x -> %x", static_cast<unsigned>(address), static_cast<unsigned>(value),
               static_cast<unsigned>(status));
    return status;
  }
  if (reg != 0) {
    const uint16_t half = static_cast<uint16_t>(value);
    std::memcpy(buffer, &half, sizeof half);  // host order
  } else {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    std::memcpy(buffer, bytes, sizeof bytes);  // little-endian
  }
  record_access(&card->rec, false, PATH_LIB, address, value);
  if (reg != 0) record_access_wave(card, false);
  return SIM_OK;
}

KORVAN_API korvan_status KORVAN_CALL KORVAN2_Write(korvan_card handle, uint32_t width, uint32_t flags,
                                                   uint32_t address, const void *buffer, uint32_t count) {
  sim_card *card = find_card(handle);
  if (card == nullptr) return SIM_BAD_HANDLE;
  const uint32_t reg = library_register(*card, width, flags, address, count);
  const bool failing = count_call(card, CALL_WRITE);
  if (failing || reg == 0 || buffer == nullptr) return refused_write(card, address, reg, buffer, failing);
  uint16_t value = 0;
  std::memcpy(&value, buffer, sizeof value);
  record_access(&card->rec, true, PATH_LIB, address, value);
  bridge_write(&card->bridge, &card->rec, reg, value);
  record_access_wave(card, true);
  return SIM_OK;
}

KORVAN_API const char *KORVAN_CALL KORVAN2_GetStatusString(korvan_status status) {
  return status_text(status);
}

KORVAN_API korvan_status KORVAN_CALL KORVAN2_CloseCard(korvan_card handle) {
  sim_card *card = find_card(handle);
  if (card == nullptr) return SIM_BAD_HANDLE;
  ++card->rec.calls[CALL_CLOSE];
  korvan_status status = SIM_OK;
  const flash_model &flash = card->bridge.flash;
  if (!card->config.stats.empty() &&
      !write_stats(card->rec, card->config.stats,
                   {flash.bytesProgrammed, flash.blocksErased, flash.buffersProgrammed, flash.bufferedBytes}))
    status = file_failure("stats file " + card->config.stats + " cannot be written");
  trace_line(&card->rec, "call close -> %x", static_cast<unsigned>(status));
  release(card);
  if (last_used == card) last_used = nullptr;
  for (auto it = open_cards.begin(); it != open_cards.end(); ++it) {
    if (it->get() == card) {
      open_cards.erase(it);
      break;
    }
  }
  return status;
}

}  // extern "C"
