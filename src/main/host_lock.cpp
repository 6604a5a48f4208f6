#include "host_lock.h"

#include <chrono>
#include <string>

#include "board/progress.h"

namespace {

constexpr uint32_t WAIT_STEP_MS = 100;  // the lock and the interrupt flag are looked at in turn

std::string holder_text(long holder) { return holder > 0 ? " (process " + std::to_string(holder) + ")" : ""; }

}  // namespace

bool open_host_lock(host_lock *lock) {
  std::string reason;
  if (platform_open_host_lock(lock, &reason)) return true;
  say("*** Cannot open the host lock %s: %s\n", lock->name.c_str(), reason.c_str());
  return false;
}

bool take_host_lock(uint32_t waitSeconds, host_lock *lock) {
  long holder = 0;
  if (platform_try_host_lock(lock, &holder)) return true;
  if (waitSeconds > 0) {
    say("Another run of sorvel is using a card on this host%s: waiting up to %lu s\n",
        holder_text(holder).c_str(), static_cast<unsigned long>(waitSeconds));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    while (!platform_interrupted() && std::chrono::steady_clock::now() < end) {
      platform_sleep_ms(WAIT_STEP_MS);
      // The holder is asked once only: each ask queues a connection on its socket.
      if (platform_try_host_lock(lock, nullptr)) return true;
    }
    if (platform_interrupted()) return false;  // the run ends as an interrupt before the erase
  }
  say("*** Another run of sorvel is using a card on this host%s: nothing was done\n",
      holder_text(holder).c_str());
  return false;
}
