// Typed command-line options and positional parameters.
#pragma once

#include <cstdint>

typedef int32_t arg_type;

enum : arg_type {
  ARG_FLOAT = 0,
  ARG_DOUBLE = 1,
  ARG_INT = 2,
  ARG_UINT = 3,
  ARG_HEX = 4,
  ARG_STRING = 5,
  ARG_BOOLEAN = 6,
  ARG_PATH = 7,
};

extern const char *const arg_type_names[8];

// An empty slot is all zero: the eight-byte member starts at 0.0, whose
// bits are all zero, so a null text and 0 as well.
union arg_value {
  float f;
  double d = 0.0;
  int32_t i;
  uint32_t u;
  int32_t b;
  char *s;
};
static_assert(sizeof(arg_value) == 8, "an arg_value is eight bytes");

struct arg_option {
  const char *name;
  arg_type type;
  const char *meaning;
  arg_value defaultValue;
  int32_t given;
  arg_value value;
};

struct arg_set {
  int32_t numOptions;
  const arg_type *paramTypes;
  const char *const *paramNames;
  const char *const *paramMeanings;
  int32_t numParams;
  int32_t numRequired;
  arg_option *options;
  int32_t numValues;
  arg_value *values;
  char *appName;
  char *sdkDir;
  char *bitDir;
};

// Environment variable naming the default SDK base directory.
constexpr const char *KORVAN_SDK4 = "KORVAN_SDK4";

int32_t parse_command_line(const char *appName, int argc, const char *const *argv, arg_set *args);
int32_t set_value(arg_value *slot, arg_type type, const char *text);
void set_option_value(arg_option *option, const char *text);
void init_option(arg_option *option);
arg_option *find_option(const char *name, arg_option *options, int32_t numOptions);
void normalise_path(char *text);
void print_usage(const char *appName, const arg_set *args);
const char *value_to_text(const arg_option *option);
void print_message(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
