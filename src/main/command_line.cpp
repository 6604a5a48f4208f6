#include "command_line.h"

void declare_command_line(command_line *cl) {
  *cl = command_line{};
  cl->options[OPTION_CARD] = arg_option{"card", ARG_UINT, "ID of card to use", {}, 0, {}};
  cl->options[OPTION_CARD].defaultValue.u = 0;
  cl->options[OPTION_INDEX] = arg_option{"index", ARG_UINT, "index of card to use", {}, 0, {}};
  cl->options[OPTION_INDEX].defaultValue.u = 0;
  cl->options[OPTION_FORCE] = arg_option{"f", ARG_BOOLEAN, "don't check Bridge revision", {}, 0, {}};
  cl->options[OPTION_FORCE].defaultValue.b = 0;
  cl->options[OPTION_WRITE] =
      arg_option{"write", ARG_BOOLEAN, "write the Flash (-write: compare only)", {}, 0, {}};
  cl->options[OPTION_WRITE].defaultValue.b = 1;
  // A string, not a path: the name is kept as typed.
  cl->options[OPTION_BACKUP] =
      arg_option{"backup", ARG_STRING, "first save the Flash to this .bit file", {}, 0, {}};
  cl->options[OPTION_LOG] =
      arg_option{"log", ARG_STRING, "append a JSON record of this run to this file", {}, 0, {}};
  cl->options[OPTION_WAIT] =
      arg_option{"wait", ARG_UINT, "wait this many seconds for another run on this host", {}, 0, {}};
  cl->options[OPTION_WAIT].defaultValue.u = 0;
  cl->options[OPTION_LIST] = arg_option{
      "list", ARG_BOOLEAN, "list every card on this host (with a BIT file: compare each)", {}, 0, {}};
  cl->options[OPTION_LIST].defaultValue.b = 0;
  cl->options[OPTION_ALL] =
      arg_option{"all", ARG_BOOLEAN, "bring every card on this host up to date with the BIT file", {}, 0, {}};
  cl->options[OPTION_ALL].defaultValue.b = 0;
  cl->options[OPTION_CARDS] =
      arg_option{"cards", ARG_UINT, "how many cards this host has (+list, +all: each is tried)", {}, 0, {}};
  cl->options[OPTION_CARDS].defaultValue.u = 0;
  cl->options[OPTION_FAST] = arg_option{
      "fast", ARG_BOOLEAN, "erase only the blocks needed, program through the Flash's write buffer",
      {},     0,           {}};
  cl->options[OPTION_FAST].defaultValue.b = 0;
  cl->paramTypes[0] = ARG_STRING;
  cl->paramNames[0] = "BIT file";
  cl->paramMeanings[0] = "specify bitstream file (.BIT)";
  cl->set.numOptions = OPTION_COUNT;
  cl->set.paramTypes = cl->paramTypes;
  cl->set.paramNames = cl->paramNames;
  cl->set.paramMeanings = cl->paramMeanings;
  cl->set.numParams = 1;
  cl->set.numRequired = 0;  // +list needs none; main says so for every other run
  cl->set.options = cl->options;
}
