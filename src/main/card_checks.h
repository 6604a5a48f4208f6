// The checks of an open card, as every run makes them and reports them:
// the model, the control register block and the bridge revision.
#pragma once

#include "record/run_record.h"

enum class card_check {
  passed,
  other_model,  // neither a Halcyra nor a Perinel
  refused,      // one of the two models that a check refuses
  unreadable,   // its information could not be had
};

// Sets g_ctrl_regs and g_ctrl_local_addr; every line it says is the run's.
card_check check_card(bool skipRevisionGate, run_record *record);
