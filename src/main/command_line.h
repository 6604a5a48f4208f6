// The utility's command line: its option table and its one positional
// parameter, declared to the args module.
#pragma once

#include "args/args.h"

enum {
  OPTION_CARD,
  OPTION_INDEX,
  OPTION_FORCE,
  OPTION_WRITE,
  OPTION_BACKUP,
  OPTION_LOG,
  OPTION_WAIT,
  OPTION_LIST,
  OPTION_ALL,
  OPTION_CARDS,
  OPTION_FAST,
  OPTION_COUNT
};

struct command_line {
  arg_option options[OPTION_COUNT];
  arg_type paramTypes[1];
  const char *paramNames[1];
  const char *paramMeanings[1];
  arg_set set;
};

// Fills the declaration; the parser fills the rest.
void declare_command_line(command_line *cl);
