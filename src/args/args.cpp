// Command-line arguments: option table, positional values, usage text.
#include "args.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

const char *const arg_type_names[8] = {"float", "float", "int", "uint", "hex", "string", "boolean", "path"};

namespace {

bool is_valid_type(arg_type type) { return type >= ARG_FLOAT && type <= ARG_PATH; }

const char *type_text(arg_type type) { return is_valid_type(type) ? arg_type_names[type] : ""; }

char *copy_text(const char *text) {
  if (text == nullptr) return nullptr;
  size_t size = std::strlen(text) + 1;
  char *copy = static_cast<char *>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

void replace_text(char **slot, const char *text, bool is_path) {
  std::free(*slot);
  *slot = copy_text(text);
  if (is_path && *slot != nullptr) normalise_path(*slot);
}

constexpr int NOT_A_DIGIT = 99;  // above the digits of any base

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return NOT_A_DIGIT;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads a number as "%ld", "%lu" or "%lx" do with a 32-bit long, on every
// platform alike: leading blanks, a sign, then digits; out of range saturates.
// False when the text holds no number (the value is then left alone).
bool read_long32(const char *text, int base, bool is_signed, uint32_t *out) {
  const char *p = text;
  while (is_blank(*p))
    ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16) p += 2;
  if (digit_value(*p) >= base) return false;
  uint64_t magnitude = 0;
  for (; digit_value(*p) < base; ++p) {
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit_value(*p));
    if (magnitude > 0xFFFFFFFFull) magnitude = 0x100000000ull;  // saturated
  }
  if (is_signed) {
    int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    *out = static_cast<uint32_t>(static_cast<int32_t>(value));
  } else {
    uint32_t value = magnitude > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(magnitude);
    *out = negative ? 0u - value : value;
  }
  return true;
}

bool read_float(const char *text, float *out) {
  char *end = nullptr;
  float value = std::strtof(text, &end);
  if (end == text) return false;
  *out = value;
  return true;
}

int32_t read_boolean(const char *text, int32_t *out) {
  char head[6] = {0};
  for (int k = 0; k < 5 && text[k] != '\0'; ++k)
    head[k] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[k])));
  if (std::strcmp(head, "true") == 0) {
    *out = 1;
  } else if (std::strcmp(head, "false") == 0) {
    *out = 0;
  } else {
    return -1;
  }
  return 0;
}

// The conversions shared by positional values and option values.
int32_t convert(arg_value *slot, arg_type type, const char *text) {
  const char *safe = text != nullptr ? text : "";
  switch (type) {
  case ARG_FLOAT: read_float(safe, &slot->f); return 0;
  case ARG_DOUBLE: {
    float narrow = 0.0f;
    if (read_float(safe, &narrow)) slot->d = static_cast<double>(narrow);
    return 0;
  }
  case ARG_INT: read_long32(safe, 10, true, &slot->u); return 0;
  case ARG_UINT:
    if (safe[0] == '0' && safe[1] == 'x')
      read_long32(safe + 2, 16, false, &slot->u);
    else
      read_long32(safe, 10, false, &slot->u);
    return 0;
  case ARG_HEX: read_long32(safe, 16, false, &slot->u); return 0;
  case ARG_STRING:
  case ARG_PATH: replace_text(&slot->s, text, type == ARG_PATH); return 0;
  case ARG_BOOLEAN: return read_boolean(safe, &slot->b);
  default: print_message("*** internal error in args:set_value()\n"); return -1;
  }
}

void print_usage_row(const char *option, const char *type, const char *defaultText, const char *meaning) {
  print_message("%12s  %7s  %12s  %s\n", option, type, defaultText, meaning);
}

}  // namespace

void print_message(const char *format, ...) {
  char buffer[1024];
  va_list list;
  va_start(list, format);
  int length = std::vsnprintf(buffer, sizeof buffer, format, list);
  va_end(list);
  if (length < 0) return;
  std::fwrite(buffer, 1, std::strlen(buffer), stdout);
}

void normalise_path(char *text) {
  if (text == nullptr) return;
  for (char *p = text; *p != '\0'; ++p)
    if (*p == '/') *p = '\\';
  size_t lead = 0;
  while (is_blank(text[lead]))
    ++lead;
  size_t length = std::strlen(text + lead);
  std::memmove(text, text + lead, length + 1);
  while (length > 0 && is_blank(text[length - 1]))
    text[--length] = '\0';
  if (length > 1 && text[length - 1] == '\\') text[length - 1] = '\0';
}

int32_t set_value(arg_value *slot, arg_type type, const char *text) { return convert(slot, type, text); }

void set_option_value(arg_option *option, const char *text) {
  if (option->type != ARG_BOOLEAN && is_valid_type(option->type)) convert(&option->value, option->type, text);
  option->given = 1;
}

void init_option(arg_option *option) {
  switch (option->type) {
  case ARG_DOUBLE: option->value.d = option->defaultValue.d; break;
  case ARG_STRING:
  case ARG_PATH: option->value.s = copy_text(option->defaultValue.s); break;
  default: option->value.u = option->defaultValue.u; break;
  }
  option->given = 0;
}

arg_option *find_option(const char *name, arg_option *options, int32_t numOptions) {
  for (int32_t k = 0; k < numOptions; ++k)
    if (options[k].name != nullptr && std::strcmp(options[k].name, name) == 0) return &options[k];
  return nullptr;
}

const char *value_to_text(const arg_option *option) {
  static char text[512];
  const arg_value &value = option->defaultValue;
  switch (option->type) {
  case ARG_FLOAT: std::snprintf(text, sizeof text, "%f", static_cast<double>(value.f)); break;
  case ARG_DOUBLE: std::snprintf(text, sizeof text, "%f", value.d); break;
  case ARG_INT: std::snprintf(text, sizeof text, "%ld", static_cast<long>(value.i)); break;
  case ARG_UINT: std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(value.u)); break;
  case ARG_HEX: std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value.u)); break;
  case ARG_STRING:
  case ARG_PATH: std::snprintf(text, sizeof text, "%s", value.s != nullptr ? value.s : ""); break;
  case ARG_BOOLEAN: std::snprintf(text, sizeof text, "%s", value.b != 0 ? "TRUE" : "FALSE"); break;
  default: text[0] = '\0'; break;
  }
  return text;
}

void print_usage(const char *appName, const arg_set *args) {
  print_message("Usage: %s [option ...]", appName);
  for (int32_t k = 0; k < args->numParams; ++k) {
    bool optional = k >= args->numRequired;
    print_message(" %s%s%s", optional ? "[" : "", args->paramNames[k], optional ? "]" : "");
  }
  if (args->numParams != 0) print_message("\n");
  print_message("\n");
  for (int32_t k = 0; k < args->numParams; ++k)
    print_message("%10s = %s\n", args->paramNames[k], args->paramMeanings[k]);
  print_message("\n");
  print_message("%12s  %7s  %12s  %s\n\n", "Option", "Type", "Default", "Meaning");
  print_usage_row("/h /? /help", "", "", "Show this help");
  print_usage_row("/sdk", "string", "", "Specify base directory of KORVAN SDK");
  print_usage_row("/bitdir", "string", "", "Specify bitstream directory");
  for (int32_t k = 0; k < args->numOptions; ++k) {
    const arg_option &option = args->options[k];
    std::string shown = option.type == ARG_BOOLEAN ? "-/+" : "/";
    shown += option.name;
    print_usage_row(shown.c_str(), type_text(option.type), value_to_text(&option), option.meaning);
  }
}

int32_t parse_command_line(const char *appName, int argc, const char *const *argv, arg_set *args) {
  if (appName == nullptr) {
    print_message("parse_command_line(): argument 'appName' is NULL (must not be NULL)\n");
    return -1;
  }
  if (args == nullptr) {
    print_message("parse_command_line(): argument 'args' is NULL (must not be NULL)\n");
    return -1;
  }
  args->numValues = 0;
  args->values = nullptr;
  args->appName = nullptr;
  args->sdkDir = nullptr;
  args->bitDir = nullptr;
  args->appName = copy_text(appName);
  for (int32_t k = 0; k < args->numOptions; ++k)
    init_option(&args->options[k]);
  if (const char *sdk = std::getenv(KORVAN_SDK4)) replace_text(&args->sdkDir, sdk, true);

  int i = 1;
  while (i < argc) {
    const char *a = argv[i];
    if (a[0] != '-' && a[0] != '/' && a[0] != '+') break;
    const char *name = a + 1;
    if (std::strcmp(name, "h") == 0 || std::strcmp(name, "help") == 0 || std::strcmp(name, "?") == 0) {
      print_usage(appName, args);
      return -1;
    }
    if (std::strcmp(name, "sdk") == 0 || std::strcmp(name, "bitdir") == 0) {
      bool sdk = name[0] == 's';
      if (i + 1 == argc) {
        print_message(sdk ? "/sdk option requires parameter: path to KORVAN SDK root\n"
                          : "/bitdir option requires parameter: path to bitstream directory\n");
        return -1;
      }
      replace_text(sdk ? &args->sdkDir : &args->bitDir, argv[i + 1], true);
      i += 2;
      continue;
    }
    arg_option *option = find_option(name, args->options, args->numOptions);
    if (option == nullptr) {
      print_message("Unknown option: %s\n", a);
      return -1;
    }
    if (option->type == ARG_BOOLEAN) {
      if (a[0] == '/') {
        print_message("Boolean option %s should be specified as -%s or +%s\n", option->name, option->name,
                      option->name);
        return -1;
      }
      option->value.b = a[0] == '+' ? 1 : 0;
      i += 1;
      continue;
    }
    if (i + 1 == argc) {
      print_message("%s option requires parameter: %s\n", a, option->meaning);
      return -1;
    }
    set_option_value(option, argv[i + 1]);
    i += 2;
  }

  args->numValues = argc > i ? argc - i : 0;
  if (args->numValues > 0) {
    args->values =
        static_cast<arg_value *>(std::calloc(static_cast<size_t>(args->numValues), sizeof(arg_value)));
    if (args->values == nullptr) {
      args->numValues = 0;
      print_message("*** Out of memory while reading the command line\n");
      return -1;
    }
  }
  for (int32_t k = 0; k < args->numValues; ++k) {
    const char *text = argv[i + k];
    if (k < args->numParams) {
      arg_type type = args->paramTypes[k];
      if (set_value(&args->values[k], type, text) != 0) {
        print_message("Value of %sparameter %d is invalid: %s\n", type_text(type), static_cast<int>(k + 1),
                      text);
        return -1;
      }
    } else {
      set_value(&args->values[k], ARG_STRING, text);
    }
    const bool isText =
        k >= args->numParams || args->paramTypes[k] == ARG_STRING || args->paramTypes[k] == ARG_PATH;
    if (isText && args->values[k].s == nullptr) {
      print_message("*** Out of memory while reading the command line\n");
      return -1;
    }
  }
  if (args->numValues < args->numRequired) {
    print_message("Too few parameters supplied. Use %s /? to get help.\n", appName);
    return -1;
  }
  return 0;
}
