#include "waveform.h"

namespace ksim {

namespace {

constexpr size_t FLUSH_BYTES = 1 << 16;

// Identifiers of the signals, in the order of the declarations.
enum signal_id : char { CTRL = '!', DATA, STROBE_N, FUNCTION, ENABLED, PRESENTED, COUNTER, MODE, STATUS };

const char *mode_of(const flash_model &flash, bool busy) {
  if (flash.pending == flash_pending::erase_setup) return "erase_setup";
  if (flash.pending == flash_pending::program_setup) return "program_setup";
  if (flash.pending != flash_pending::none) return "buffer";
  switch (flash.mode) {
  case flash_mode::read_array: return "read_array";
  case flash_mode::read_identifier: return "identifier";
  case flash_mode::read_query: return "query";
  case flash_mode::buffer_status: return "buffer";
  case flash_mode::read_status: return busy ? "busy" : "status";
  }
  return "read_array";
}

void vector(std::string *out, uint32_t value, char id) {
  char bits[40];
  int n = 0;
  do {
    bits[n++] = static_cast<char>('0' + (value & 1));
    value >>= 1;
  } while (value != 0);
  *out += 'b';
  while (n > 0)
    *out += bits[--n];
  *out += ' ';
  *out += id;
  *out += '\n';
}

void scalar(std::string *out, bool value, char id) {
  *out += value ? '1' : '0';
  *out += id;
  *out += '\n';
}

void text(std::string *out, const char *value, char id) {
  *out += 's';
  *out += value;
  *out += ' ';
  *out += id;
  *out += '\n';
}

// The lines of the signals that differ from before (all of them when all).
void changes(std::string *out, const signal_values &before, const signal_values &now, bool all) {
  if (all || now.ctrl != before.ctrl) vector(out, now.ctrl, CTRL);
  if (all || now.data != before.data) vector(out, now.data, DATA);
  if (all || ((now.ctrl ^ before.ctrl) & STROBE) != 0) scalar(out, (now.ctrl & STROBE) != 0, STROBE_N);
  if (all || now.function != before.function) vector(out, now.function, FUNCTION);
  if (all || now.enabled != before.enabled) scalar(out, now.enabled, ENABLED);
  if (all || now.presented != before.presented) vector(out, now.presented, PRESENTED);
  if (all || now.counter != before.counter) vector(out, now.counter, COUNTER);
  if (all || now.mode != before.mode) text(out, now.mode, MODE);
  if (all || now.status != before.status) vector(out, now.status, STATUS);
}

void write_pending(waveform *wave) {
  if (!wave->pending.empty()) std::fwrite(wave->pending.data(), 1, wave->pending.size(), wave->file);
  wave->pending.clear();
  std::fflush(wave->file);
}

}  // namespace

signal_values sample_signals(const bridge_model &bridge) {
  const flash_model &flash = bridge.flash;
  const bool busy = flash.mode == flash_mode::read_status && (flash.busyForever || flash.busyLeft > 0);
  signal_values v;
  v.ctrl = bridge.ctrl;
  v.data = bridge.dataWritten;
  v.function = bridge.lastFunction;
  v.enabled = bridge.stage == interface_stage::enabled;
  v.presented = static_cast<uint8_t>(bridge.dataPresented & 0xFF);
  v.counter = bridge.counter;
  v.mode = mode_of(flash, busy);
  v.status = static_cast<uint8_t>((busy ? 0 : SR_READY) | flash.errorBits);
  return v;
}

void waveform_start(waveform *wave, FILE *file, const waveform_params &params, const signal_values &initial) {
  wave->file = file;
  wave->params = params;
  std::setvbuf(file, nullptr, _IONBF, 0);  // whole lines, written by this module
  std::string &out = wave->pending;
  out =
      "$version sorvel simulated card $end\n$timescale 1ns $end\n$scope module " + params.module + " $end\n";
  out += "$var wire 16 ! flash_ctrl [15:0] $end\n";
  out += "$var wire 16 \" flash_data [15:0] $end\n";
  out += "$var wire 1 # strobe_n $end\n";
  out += "$var wire 8 $ function [7:0] $end\n";
  out += "$var wire 1 % enabled $end\n";
  out += "$var wire 8 & presented [7:0] $end\n";
  out += "$var wire 32 ' counter [31:0] $end\n";
  out += "$var string 1 ( flash_mode $end\n";
  out += "$var wire 8 ) flash_status [7:0] $end\n";
  out += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
  changes(&out, initial, initial, true);
  out += "$end\n";
  wave->last = initial;
  write_pending(wave);
}

void waveform_access(waveform *wave, uint64_t ns, const signal_values *after) {
  if (wave->file == nullptr || wave->stopped) return;
  wave->lastNs = ns > wave->lastNs ? ns : wave->lastNs + 1;
  if (after != nullptr) {
    const size_t mark = wave->pending.size();
    wave->pending += '#' + std::to_string(wave->lastNs) + '\n';
    const size_t header = wave->pending.size();
    changes(&wave->pending, wave->last, *after, false);
    if (wave->pending.size() == header) wave->pending.resize(mark);  // nothing changed
    wave->last = *after;
  }
  if (++wave->accesses == wave->params.limit) {
    wave->stopped = true;
    wave->pending +=
        "$comment recording stopped after " + std::to_string(wave->accesses) + " accesses $end\n";
    write_pending(wave);
  } else if (wave->pending.size() >= FLUSH_BYTES) {
    write_pending(wave);
  }
}

void waveform_flush(waveform *wave) {
  if (wave->file != nullptr) write_pending(wave);
}

void waveform_close(waveform *wave) {
  if (wave->file == nullptr) return;
  write_pending(wave);
  std::fclose(wave->file);
  wave->file = nullptr;
}

}  // namespace ksim
