#include "card_state.h"

korvan_card g_card = 0;
volatile uint16_t *g_ctrl_regs = nullptr;
uint32_t g_ctrl_local_addr = 0;
uint32_t g_bitstream_length = 0;
