// Micro benchmarks: the bit reversal, the header walk of a real-sized file,
// one Flash port call on each register path, and the floor of catching an
// access: a bare signal round trip.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bitstream/bitstream.h"
#include "board/card_state.h"
#include "board/flash_port.h"
#include "board/korvan_library.h"
#include "platform/platform.h"

namespace {

void BM_ReverseBits(benchmark::State &state) {
  std::vector<uint8_t> bytes(707916);
  for (size_t k = 0; k < bytes.size(); ++k)
    bytes[k] = static_cast<uint8_t>(k * 31);
  for (auto _ : state) {
    reverse_bits(bytes.data(), static_cast<uint32_t>(bytes.size()));
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ReverseBits);

void BM_HeaderWalk(benchmark::State &state) {
  FILE *file = platform_open_for_reading(SAMPLE_BIT);
  if (file == nullptr) {
    state.SkipWithError("no sample bitstream");
    return;
  }
  for (auto _ : state) {
    uint32_t length = 0;
    uint32_t offset = 0;
    uint64_t size = 0;
    if (measure_bit_file(file, &size) != 0 ||
        parse_bit_header(file, size, "sample.bit", &length, &offset) != 0)
      state.SkipWithError("walk failed");
    benchmark::DoNotOptimize(length);
  }
  std::fclose(file);
}
BENCHMARK(BM_HeaderWalk);

// A simulated card opened in this process, its register block located as
// the utility does it.
bool open_card(bool mapped) {
  const char *name = mapped ? "/tmp/sorvel-bench-mapped.ini" : "/tmp/sorvel-bench-library.ini";
  FILE *file = std::fopen(name, "w");
  if (file == nullptr) return false;
  std::fprintf(file, "[card]\nwindow = %s\n", mapped ? "full" : "none");
  std::fclose(file);
  setenv("KORVAN_SIM", name, 1);
  space_info space{};
  if (!bind_korvan_library()) return false;
  const bool opened =
      korvan.KORVAN2_OpenCard(0, &g_card) == 0 && korvan.KORVAN2_GetSpaceInfo(g_card, 1, &space) == 0;
  unsetenv("KORVAN_SIM");
  g_ctrl_regs = mapped ? static_cast<volatile uint16_t *>(space.VirtualBase) : nullptr;
  g_ctrl_local_addr = space.LocalBase;
  return opened && (g_ctrl_regs != nullptr) == mapped;
}

void close_card() {
  korvan.KORVAN2_CloseCard(g_card);
  g_card = 0;
  g_ctrl_regs = nullptr;
}

// flash_write_data: one store and its read-back on the mapped path, one
// library write on the library path.
void BM_PortCall(benchmark::State &state) {
  const bool mapped = state.range(0) != 0;
  if (!open_card(mapped)) {
    state.SkipWithError("cannot open the simulated card");
    return;
  }
  for (auto _ : state)
    flash_write_data(0x40);
  close_card();
  state.SetLabel(mapped ? "mapped: 2 caught accesses" : "library: 1 call");
}
BENCHMARK(BM_PortCall)->Arg(0)->Arg(1);

void on_signal(int) {}

// The floor of catching an access: one signal sent, handled and returned.
void BM_SignalRoundTrip(benchmark::State &state) {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGUSR1, &action, nullptr);
  for (auto _ : state)
    raise(SIGUSR1);
  signal(SIGUSR1, SIG_DFL);
}
BENCHMARK(BM_SignalRoundTrip);

// One page protection change, of which a caught access makes two.
void BM_PageProtect(benchmark::State &state) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void *memory = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  bool open = true;
  for (auto _ : state) {
    mprotect(memory, page, open ? PROT_NONE : PROT_READ | PROT_WRITE);
    open = !open;
  }
  munmap(memory, page);
}
BENCHMARK(BM_PageProtect);

}  // namespace

BENCHMARK_MAIN();
