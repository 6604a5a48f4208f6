// Frees what a parse of the utility's command line stored. The utility keeps
// the parser's copies for the life of the process and the module offers no
// release; a test or fuzz target frees them, so that only real leaks show.
#pragma once

#include <cstdlib>

#include "args/args.h"

namespace test {

inline void release_parse(arg_set *set) {
  for (int32_t k = 0; k < set->numValues; ++k)
    std::free(set->values[k].s);  // the one positional value is a text
  for (void *copy : {static_cast<void *>(set->values), static_cast<void *>(set->appName),
                     static_cast<void *>(set->sdkDir), static_cast<void *>(set->bitDir)})
    std::free(copy);
}

}  // namespace test
