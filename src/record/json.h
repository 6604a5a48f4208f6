// JSON text: strings escaped as the format requires.
#pragma once

#include <string>

// text quoted and escaped: quotes, backslashes and control characters, and
// every byte that is not part of a UTF-8 sequence as \u00XX of its Latin-1
// reading, so the result is valid JSON whatever the bytes.
std::string json_string(const std::string &text);
