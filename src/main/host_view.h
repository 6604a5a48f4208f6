// Every card of a host, by index from 0 up to the first that does not open:
// +list shows each (and, with a .bit file, whether it holds it); +all
// brings each up to date. Both run under one hold of the host lock, with a
// record for each card when there is a log.
#pragma once

#include <cstdint>

#include "main/command_line.h"
#include "main/run_log.h"

// The exit status: 0 when every card was read (and, with a .bit file,
// every card that a run would rewrite holds it), 1 when such a card
// differs, -1 when a card could not be read or compared.
int list_cards(const command_line &cl, run_log *log);
// The exit status: 0 when every Halcyra and Perinel holds the .bit file at
// the end, -1 otherwise. Fills *buffer as a programming run does.
int update_all_cards(const command_line &cl, run_log *log, uint8_t **buffer);
