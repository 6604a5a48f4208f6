#include "json.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the valid UTF-8 sequence at text[at], or 0.
size_t utf8_length(const std::string &text, size_t at) {
  const uint8_t lead = static_cast<uint8_t>(text[at]);
  const size_t length = lead < 0x80                    ? 1
                        : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k)
    if ((static_cast<uint8_t>(text[at + k]) & 0xC0) != 0x80) return 0;
  const uint8_t second = static_cast<uint8_t>(text[at + 1 < text.size() ? at + 1 : at]);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second > 0x8F))
    return 0;  // over-long forms, surrogates, beyond U+10FFFF
  return length;
}

}  // namespace

std::string json_string(const std::string &text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const uint8_t c = static_cast<uint8_t>(text[at]);
    const size_t length = utf8_length(text, at);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (length > 1) {
      out.append(text, at, length);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    }
    at += length > 1 ? length : 1;
  }
  return out + "\"";
}
