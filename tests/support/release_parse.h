// Frees what a parse stored (the utility keeps it to the end and the module
// has no release), so that a leak checker shows only real leaks.
#pragma once

#include <cstdlib>

#include "args/args.h"

namespace test {

inline void release_parse(arg_set *set) {
  for (int32_t k = 0; k < set->numOptions; ++k)
    if (set->options[k].type == ARG_STRING || set->options[k].type == ARG_PATH)
      std::free(set->options[k].value.s);
  for (int32_t k = 0; k < set->numValues; ++k)
    std::free(set->values[k].s);  // the one positional value is a text
  for (void *copy : {static_cast<void *>(set->values), static_cast<void *>(set->appName),
                     static_cast<void *>(set->sdkDir), static_cast<void *>(set->bitDir)})
    std::free(copy);
}

}  // namespace test
