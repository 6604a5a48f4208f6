// What differs between Windows and the other systems: pauses, opening
// files, 64-bit file positions, files made whole or not at all, holding
// interrupts and loading the card-access library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

void platform_sleep_ms(uint32_t ms);

// Each of standard input, output and error that is closed is opened on the
// null device, so that no file the run opens ever takes its place.
void platform_guard_standard_streams();

// Paths are UTF-8 text on every system; Windows opens them through its wide
// calls, so any character of a path holds.

// Opens an existing file for reading only, without text translation and
// unbuffered: the reader asks for exactly what it needs, so the header is
// one read of at most 1024 bytes and the data one read into its buffer.
FILE *platform_fopen(const char *path, const char *mode);  // as std::fopen
inline FILE *platform_open_for_reading(const char *path) {
  FILE *file = platform_fopen(path, "rb");
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

// The same, for a regular file only: null when it cannot be opened, and
// with *notRegular when it is something else (a FIFO, a device, a folder),
// which is then neither read nor waited on.
FILE *platform_open_regular(const char *path, bool *notRegular);

// 64-bit file positions; 0 or -1, and -1 for a position that cannot be had.
int platform_seek(FILE *file, int64_t offset, int origin);
int64_t platform_tell(FILE *file);

// Whether a name is taken, by anything (a link too, wherever it points);
// unknown, with the system's reason, when that cannot be told.
enum class path_state { missing, exists, unknown };
path_state platform_path_state(const char *path, std::string *reason);
// A new file for writing that no other name shares: fails on any existing
// name, links included. Null with the system's reason, and why in *refusal.
enum class create_refusal { none, taken, too_long, other };
FILE *platform_create_new(const char *path, create_refusal *refusal, std::string *reason);
// Flushes the file to the disk and closes it; false with the reason of the
// first step that failed.
bool platform_close_on_disk(FILE *file, std::string *reason);
// Gives the file at from the name to, never replacing a file of that name,
// on any file system, and makes the new name last (POSIX: the folder is
// flushed). False with the reason; from is then left in place.
bool platform_claim_name(const char *from, const char *to, std::string *reason);
void platform_remove(const char *path);

// Which file a name is, however it is named (links followed): the device
// and inode, or the volume and file index; unknown when it cannot be told.
struct file_identity {
  bool known = false;
  uint64_t volume = 0, index = 0;
};
inline bool same_file(const file_identity &a, const file_identity &b) {
  return a.known && b.known && a.volume == b.volume && a.index == b.index;
}
file_identity platform_identity(const char *path);
// The folder part of a path, with its separator; "" for a bare name.
std::string platform_folder_of(const char *path);
// Whether two paths name one entry of one folder, neither of which need
// exist yet: the same folder, and the same name as the system compares them.
bool platform_same_place(const char *a, const char *b);

// The run's log, opened for appending: created when missing, never
// truncated or replaced, never waited on (a FIFO without a reader is
// refused). Each record is one write at its end, so records of processes
// that append at once never mix. On a disk it is written under a lock on
// the file, cut back to what it held when it cannot be written whole, and
// on the disk when platform_append returns; a pipe, a terminal or another
// device is only written. False with the system's reason.
struct log_file {
  intptr_t handle = -1;
  intptr_t guard = -1;   // Windows: a handle that may lock and cut the file
  bool disk = false;     // a file on a disk
  bool created = false;  // by this open
  file_identity identity;
};
bool platform_open_log(const char *path, log_file *log, std::string *reason);
bool platform_append(const log_file &log, const std::string &record, std::string *reason);
void platform_close_log(log_file *log);

// The host-wide lock that every run that opens a card holds, across users
// and sessions: SORVEL_LOCK names another (a file path on POSIX, a mutex
// name on Windows). The system releases it however the process ends. On
// POSIX a run also holds a socket named after the file's path, so that a
// lock file removed or replaced while held lets no second run in; a run
// never removes the file.
struct host_lock {
  std::string name;
  intptr_t handle = -1;
  intptr_t guard = -1;     // POSIX: the listening socket
  file_identity identity;  // POSIX: the lock file, as opened
  bool held = false;       // Windows: the mutex is owned, and released at the close
};
// Opens the lock (never creating over another's file); false with the reason.
bool platform_open_host_lock(host_lock *lock, std::string *reason);
// Takes it without waiting; false when another process holds it, whose ID
// is then in *holder unless that is null (0 where the system cannot tell).
bool platform_try_host_lock(host_lock *lock, long *holder);
void platform_close_host_lock(host_lock *lock);

#if defined(_WIN32)
// Text as Windows holds it (UTF-16) as UTF-8: how the program's arguments
// and the system's messages reach the rest of it.
std::string platform_utf8(const wchar_t *text);
#endif
// Output to a Windows console goes through its wide calls, so UTF-8 text
// shows whole; redirected output, and every other system, gets the bytes
// as they are. platform_end_output flushes what is still on its way.
void platform_start_output();
void platform_end_output();
// Everything written to standard output so far is out of the process (on
// Windows, through the console relay too), before a record goes elsewhere.
void platform_flush_output();
// Standard output is not a terminal and standard error is (a pipeline
// whose reader may go): a line the operator must see goes to both.
bool platform_only_stderr_is_a_terminal();

// From here on, Ctrl-C and Ctrl-Break (Windows) or SIGINT, SIGTERM, SIGHUP
// and SIGQUIT (one that was ignored stays ignored) are noted, not acted on;
// the run decides when it stops. A call that waits (POSIX) is cut short by
// one, not restarted, so the run stops at once, until
// platform_restart_calls: from there on the run goes on to its end.
// SIGPIPE and SIGXFSZ are ignored: a write to a closed output or past a
// file-size limit fails and the run goes on.
void platform_note_interrupts();
void platform_restart_calls();
void platform_cut_calls_short();  // as from the start again: the next card of +all
bool platform_interrupted();      // one has come since they were noted
// Ends the process as the first noted interrupt would have ended it: by
// that signal's default action, or with the status of a program ended by
// Ctrl-C. Returns when none came.
void platform_end_if_interrupted();

// The card-access library's file name on this system.
#if defined(_WIN32)
#define PLATFORM_CARD_LIBRARY "korvan.dll"
#else
#define PLATFORM_CARD_LIBRARY "libkorvan.so"
#endif

// Loads the card-access library, never from the current folder unless it
// is the program's own: the program's folder first, then the system's
// search. Null with the system's reason when it cannot be loaded.
void *platform_load_library(std::string *reason);
// An exported call of the loaded library by name, or null.
void *platform_library_entry(void *library, const char *name);
