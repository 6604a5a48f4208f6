#include "run_record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "record/json.h"
#include "record/sha256.h"

namespace {

const char *const PHASE_NAMES[PHASE_COUNT] = {"backup", "erase", "program", "verify"};

std::string number(std::optional<uint32_t> value) { return value ? std::to_string(*value) : "null"; }
std::string text(const std::optional<std::string> &value) { return value ? json_string(*value) : "null"; }

std::string bit_object(const run_record &r) {
  std::string out = "{\"path\": " + text(r.bitPath);
  const bit_facts *b = r.bit ? &*r.bit : nullptr;
  out += ", \"file_bytes\": " + (b ? std::to_string(b->fileBytes) : std::string("null"));
  out += ", \"sha256\": " + (b ? json_string(b->sha256) : std::string("null"));
  const char *names[4] = {"design", "part", "date", "time"};
  for (int k = 0; k < 4; ++k)
    out += std::string(", \"") + names[k] + "\": " + (b ? text(b->texts[k]) : std::string("null"));
  return out + ", \"data_bytes\": " + number(r.dataBytes) + "}";
}

std::string seconds_object(const run_record &r) {
  std::string out = "{";
  char figure[32];
  for (int k = 0; k < PHASE_COUNT; ++k) {
    std::snprintf(figure, sizeof figure, "%.3f", r.seconds[k] ? *r.seconds[k] : 0.0);
    out += std::string(k ? ", \"" : "\"") + PHASE_NAMES[k] + "\": " + (r.seconds[k] ? figure : "null");
  }
  std::snprintf(figure, sizeof figure, "%.3f", r.totalSeconds);
  return out + ", \"total\": " + figure + "}";
}

}  // namespace

std::string run_record_json(const run_record &r) {
  std::string arguments;
  for (const std::string &argument : r.arguments)
    arguments += (arguments.empty() ? "" : ", ") + json_string(argument);
  std::string flash = "null";
  if (r.flash)
    flash = "{\"vendor\": " + std::to_string(r.flash->vendor) +
            ", \"device\": " + std::to_string(r.flash->device) +
            ", \"lock\": " + std::to_string(r.flash->lock) + "}";
  return "{\"time\": " + json_string(r.time) + ", \"version\": " + json_string(SORVEL_VERSION) +
         ", \"record_version\": " + std::to_string(RECORD_VERSION) +
         ", \"arguments\": [" + arguments + "], \"card\": {\"by\": " + (r.byIndex ? "\"index\"" : "\"id\"") +
         ", \"number\": " + std::to_string(r.cardNumber) + "}, \"board_type\": " + number(r.boardType) +
         ", \"logic_revision\": " + number(r.logicRevision) +
         ", \"bridge_revision\": " + number(r.bridgeRevision) + ", \"build_date\": " + text(r.buildDate) +
         ", \"control_address\": " + number(r.controlAddress) +
         ", \"register_path\": " + (r.controlAddress ? (r.mapped ? "\"mapped\"" : "\"library\"") : "null") +
         ", \"card_info\": " + text(r.cardInfo) + ", \"flash\": " + flash + ", \"bit\": " + bit_object(r) +
         ", \"action\": " + json_string(r.action) + ", \"fast\": " + (r.fast ? "true" : "false") +
         ", \"blocks_rewritten\": " + number(r.blocksRewritten) +
         ", \"backup\": " + (r.backup ? json_string(r.backup) : "null") +
         ", \"result\": " + json_string(r.result) + ", \"error\": " + text(r.error) +
         ", \"differing_bytes\": " + number(r.differing) +
         ", \"interrupted\": " + (r.interrupted ? "true" : "false") +
         ", \"exit_status\": " + std::to_string(r.exitStatus) + ", \"seconds\": " + seconds_object(r) + "}";
}
