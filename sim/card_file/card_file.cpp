#include "card_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <sstream>
#include <utility>

namespace ksim {

namespace {

constexpr uint64_t MAX_FLASH_BYTES = 256ull << 20;
constexpr uint32_t MIN_MAPPED_SIZE = 2 * WINDOW_PAGE;
constexpr int NOT_A_DIGIT = 99;  // above the digits of any base

std::string trim(const std::string &text) {
  const char *blanks = " \t\r\n\v\f";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// A piece of the file as it may be shown in a message: bytes that do not
// print as \xNN, at most 60 of them.
std::string shown(const std::string &text) {
  std::string out;
  for (size_t k = 0; k < text.size() && k < 60; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  if (text.size() > 60) out += "...";
  return out;
}

bool parse_number(const std::string &text, uint32_t *out) {
  if (text.empty()) return false;
  int base = 10;
  size_t at = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    at = 2;
  }
  uint64_t value = 0;
  for (; at < text.size(); ++at) {
    char c = text[at];
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : NOT_A_DIGIT;
    if (digit >= base) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return false;
  }
  *out = static_cast<uint32_t>(value);
  return true;
}

// One of a few words, each naming a value.
template <typename T>
bool parse_choice(const std::string &text, std::initializer_list<std::pair<const char *, T>> choices,
                  T *out) {
  for (const auto &choice : choices) {
    if (text == choice.first) {
      *out = choice.second;
      return true;
    }
  }
  return false;
}

std::vector<std::string> split_list(const std::string &text) {
  std::vector<std::string> items;
  if (text.empty() || text == "none") return items;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ','))
    items.push_back(trim(item));
  return items;
}

bool parse_fail_rule(const std::string &item, fail_rule *rule) {
  std::string name = item;
  rule->nth = 0;
  size_t colon = item.find(':');
  if (colon != std::string::npos) {
    name = trim(item.substr(0, colon));
    if (!parse_number(trim(item.substr(colon + 1)), &rule->nth) || rule->nth == 0) return false;
  }
  return parse_choice(name,
                      {{"open", failing_call::open},
                       {"card_info", failing_call::card_info},
                       {"space_info", failing_call::space_info},
                       {"clock", failing_call::clock},
                       {"read", failing_call::read},
                       {"write", failing_call::write}},
                      &rule->call);
}

bool parse_operation(const std::string &text, flash_operation *out) {
  return parse_choice(text,
                      {{"none", flash_operation::none},
                       {"erase", flash_operation::erase},
                       {"program", flash_operation::program}},
                      out);
}

// "none", or "erase:N" or "program:N" with N from 1; with reads, "read:N"
// too (the Nth byte the Flash presents).
bool parse_operation_rule(const std::string &text, operation_rule *rule, bool reads = false) {
  *rule = operation_rule();
  if (text == "none") return true;
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  const std::string name = trim(text.substr(0, colon));
  const bool read = reads && name == "read";
  if (read) rule->operation = flash_operation::read;
  return (read || parse_operation(name, &rule->operation)) && rule->operation != flash_operation::none &&
         parse_number(trim(text.substr(colon + 1)), &rule->nth) && rule->nth != 0;
}

// "T" or "T.F", milliseconds.
bool parse_ms(const std::string &text, double *ms) {
  const size_t dot = text.find('.');
  uint32_t whole = 0;
  if (!parse_number(text.substr(0, dot), &whole)) return false;
  *ms = whole;
  if (dot == std::string::npos) return true;
  const std::string fraction = text.substr(dot + 1);
  double scale = 0.1;
  for (const char c : fraction) {
    if (c < '0' || c > '9') return false;
    *ms += (c - '0') * scale;
    scale /= 10;
  }
  return !fraction.empty();
}

// "erase:T" and/or "program:T", a comma list.
bool parse_busy_ms(const std::string &text, flash_params *flash) {
  flash->busyMsErase = flash->busyMsProgram = 0;
  for (const std::string &item : split_list(text)) {
    const size_t colon = item.find(':');
    flash_operation operation = flash_operation::none;
    if (colon == std::string::npos || !parse_operation(trim(item.substr(0, colon)), &operation) ||
        operation == flash_operation::none ||
        !parse_ms(trim(item.substr(colon + 1)),
                  operation == flash_operation::erase ? &flash->busyMsErase : &flash->busyMsProgram))
      return false;
  }
  return true;
}

// A number no larger than max, which fits in a byte.
bool parse_byte(const std::string &text, uint8_t max, uint8_t *out) {
  uint32_t value = 0;
  if (!parse_number(text, &value) || value > max) return false;
  *out = static_cast<uint8_t>(value);
  return true;
}

struct key_parser {
  const char *key;
  bool (*parse)(const std::string &value, card_config *card);
};

#define NUMBER_KEY(name, field)                                                           \
  {                                                                                       \
    name, [](const std::string &v, card_config *c) { return parse_number(v, &c->field); } \
  }
#define TEXT_KEY(name, field)                        \
  {                                                  \
    name, [](const std::string &v, card_config *c) { \
      c->field = v == "none" ? std::string() : v;    \
      return true;                                   \
    }                                                \
  }

const key_parser key_parsers[] = {
    NUMBER_KEY("id", id),
    NUMBER_KEY("board_type", boardType),
    {"logic_revision",
     [](const std::string &v, card_config *c) {
       return parse_number(v, &c->logicRevision) && c->logicRevision <= 0xFF;
     }},
    NUMBER_KEY("build_time", buildTime),
    NUMBER_KEY("build_date", buildDate),
    NUMBER_KEY("local_base", localBase),
    NUMBER_KEY("local_size", localSize),
    {"window",
     [](const std::string &v, card_config *c) {
       return parse_choice(
           v,
           {{"none", window_kind::none}, {"full", window_kind::full}, {"short", window_kind::one_page_short}},
           &c->window);
     }},
    {"flash_vendor",
     [](const std::string &v, card_config *c) { return parse_byte(v, 0xFF, &c->flash.vendor); }},
    {"flash_device",
     [](const std::string &v, card_config *c) { return parse_byte(v, 0xFF, &c->flash.device); }},
    {"flash_lock", [](const std::string &v, card_config *c) { return parse_byte(v, 1, &c->flash.lock); }},
    NUMBER_KEY("flash_blocks", flash.blocks),
    NUMBER_KEY("flash_block_size", flash.blockSize),
    TEXT_KEY("flash_image", flashImage),
    NUMBER_KEY("busy_reads", flash.busyReads),
    {"stuck", [](const std::string &v, card_config *c) { return parse_operation(v, &c->flash.stuck); }},
    {"crash", [](const std::string &v, card_config *c) { return parse_operation_rule(v, &c->crash); }},
    {"interrupt",
     [](const std::string &v, card_config *c) { return parse_operation_rule(v, &c->interrupt, true); }},
    {"interrupt_signal",
     [](const std::string &v, card_config *c) {
       return parse_choice(v,
                           {{"int", interrupt_kind::ctrl_c},
                            {"quit", interrupt_kind::quit},
                            {"term", interrupt_kind::terminate},
                            {"hup", interrupt_kind::hang_up}},
                           &c->interruptSignal);
     }},
    {"busy_ms", [](const std::string &v, card_config *c) { return parse_busy_ms(v, &c->flash); }},
    {"weak",
     [](const std::string &v, card_config *c) {
       c->flash.weak.clear();
       for (const std::string &item : split_list(v)) {
         uint32_t address = 0;
         if (!parse_number(item, &address)) return false;
         c->flash.weak.push_back(address);
       }
       std::sort(c->flash.weak.begin(), c->flash.weak.end());
       return true;
     }},
    {"write_buffer",
     [](const std::string &v, card_config *c) {
       const uint32_t &n = c->flash.writeBuffer;
       return parse_number(v, &c->flash.writeBuffer) &&
              (n == 0 || (n >= 2 && n <= 256 && (n & (n - 1)) == 0));
     }},
    {"query",
     [](const std::string &v, card_config *c) {
       return parse_choice(v, {{"on", true}, {"off", false}}, &c->flash.answersQuery);
     }},
    {"fail_buffer",
     [](const std::string &v, card_config *c) {
       c->flash.failingBuffers.clear();
       for (const std::string &item : split_list(v)) {
         uint32_t nth = 0;
         if (!parse_number(item, &nth) || nth == 0) return false;
         c->flash.failingBuffers.push_back(nth);
       }
       std::sort(c->flash.failingBuffers.begin(), c->flash.failingBuffers.end());
       return true;
     }},
    {"fail",
     [](const std::string &v, card_config *c) {
       c->fail.clear();
       for (const std::string &item : split_list(v)) {
         fail_rule rule{};
         if (!parse_fail_rule(item, &rule)) return false;
         c->fail.push_back(rule);
       }
       return true;
     }},
    TEXT_KEY("trace", trace),
    TEXT_KEY("waveform", waveform),
    NUMBER_KEY("waveform_limit", waveformLimit),
    TEXT_KEY("stats", stats),
};

// What the model cannot represent, named by the key at fault.
const char *check_card(const card_config &card) {
  if (card.flash.blocks == 0 ||
      static_cast<uint64_t>(card.flash.blocks) * card.flash.blockSize > MAX_FLASH_BYTES)
    return "flash_blocks";
  if (card.flash.blockSize == 0) return "flash_block_size";
  if (card.window != window_kind::none &&
      (card.localSize < MIN_MAPPED_SIZE || card.localSize % WINDOW_PAGE != 0))
    return "local_size";
  return nullptr;
}

}  // namespace

bool parse_card_text(const std::string &text, const std::string &fileName, std::vector<card_config> *cards,
                     std::string *error) {
  std::vector<card_config> parsed;
  std::vector<int> sectionLines;
  std::istringstream stream(text);
  std::string line;
  int number = 0;
  const std::string where = "card file " + fileName + " line ";
  while (std::getline(stream, line)) {
    ++number;
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = trim(line);
    if (line.empty()) continue;
    if (line[0] == '[') {
      if (line != "[card]") {
        *error = where + std::to_string(number) + ": unknown section '" + shown(line) + "'";
        return false;
      }
      parsed.emplace_back();
      sectionLines.push_back(number);
      continue;
    }
    size_t equals = line.find('=');
    std::string key = trim(line.substr(0, equals));
    if (equals == std::string::npos) {
      *error = where + std::to_string(number) + ": expected 'key = value', not '" + shown(line) + "'";
      return false;
    }
    std::string value = trim(line.substr(equals + 1));
    const key_parser *parser = nullptr;
    for (const key_parser &candidate : key_parsers)
      if (key == candidate.key) parser = &candidate;
    if (parser == nullptr) {
      *error = where + std::to_string(number) + ": unknown key '" + shown(key) + "'";
      return false;
    }
    if (parsed.empty()) {
      *error = where + std::to_string(number) + ": key '" + key + "' outside a [card] section";
      return false;
    }
    if (!parser->parse(value, &parsed.back())) {
      *error = where + std::to_string(number) + ": bad value for key '" + key + "': '" + shown(value) + "'";
      return false;
    }
  }
  for (size_t k = 0; k < parsed.size(); ++k) {
    if (const char *key = check_card(parsed[k])) {
      *error =
          where + std::to_string(sectionLines[k]) + ": card cannot be simulated, check key '" + key + "'";
      return false;
    }
  }
  *cards = std::move(parsed);
  return true;
}

bool load_cards(std::vector<card_config> *cards, std::string *error) {
  const char *fileName = std::getenv("KORVAN_SIM");
  if (fileName == nullptr) {
    cards->assign(1, card_config());
    return true;
  }
  std::string text;
  FILE *file = std::fopen(fileName, "rb");
  bool readable = file != nullptr;
  if (readable) {
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
      text.append(chunk, got);
    readable = std::ferror(file) == 0;  // a folder, for one, cannot be read
    std::fclose(file);
  }
  if (!readable) {
    *error = std::string("card file ") + fileName + " cannot be read";
    return false;
  }
  return parse_card_text(text, fileName, cards, error);
}

}  // namespace ksim
