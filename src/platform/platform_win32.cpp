#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"

void platform_sleep_ms(uint32_t ms) { Sleep(ms); }

int platform_seek(FILE *file, int64_t offset, int origin) {
  return _fseeki64(file, offset, origin) == 0 ? 0 : -1;
}

int64_t platform_tell(FILE *file) { return _ftelli64(file); }

std::string platform_utf8(const wchar_t *text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<size_t>(n) : 1u, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.pop_back();  // the terminating NUL
  return out;
}

namespace {

std::wstring wide(const char *text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(n > 0 ? static_cast<size_t>(n) : 1u, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], n);
  out.pop_back();
  return out;
}

// The system's text for an error code, without its line end.
std::string system_message(DWORD code) {
  wchar_t text[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           512, nullptr);
  while (n > 0 && (text[n - 1] == L'\n' || text[n - 1] == L'\r' || text[n - 1] == L' '))
    --n;
  text[n] = L'\0';
  return n > 0 ? platform_utf8(text) : "error " + std::to_string(code);
}

}  // namespace

FILE *platform_fopen(const char *path, const char *mode) {
  return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

// A process started without standard handles: each CRT descriptor 0 to 2
// and its stream on NUL.
void platform_guard_standard_streams() {
  FILE *streams[3] = {stdin, stdout, stderr};
  for (int fd = 0; fd <= 2; ++fd) {
    if (_get_osfhandle(fd) != -1 && _get_osfhandle(fd) != -2) continue;
    const int null = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
    if (null >= 0 && null != fd) {
      _dup2(null, fd);
      _close(null);
    }
    if (_fileno(streams[fd]) < 0) (void)freopen("NUL", fd == 0 ? "r" : "w", streams[fd]);
  }
}

FILE *platform_open_regular(const char *path, bool *notRegular) {
  *notRegular = false;
  FILE *file = platform_open_for_reading(path);
  if (file == nullptr ||
      GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) == FILE_TYPE_DISK)
    return file;
  *notRegular = true;
  std::fclose(file);
  return nullptr;
}

path_state platform_path_state(const char *path, std::string *reason) {
  if (GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES) return path_state::exists;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return path_state::missing;
  *reason = system_message(error);
  return path_state::unknown;
}

FILE *platform_create_new(const char *path, create_refusal *refusal, std::string *reason) {
  const HANDLE handle =
      CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    *refusal = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? create_refusal::taken
               : error == ERROR_FILENAME_EXCED_RANGE                       ? create_refusal::too_long
                                                                           : create_refusal::other;
    *reason = system_message(error);
    return nullptr;
  }
  *refusal = create_refusal::none;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  FILE *file = fd < 0 ? nullptr : _fdopen(fd, "wb");
  if (file == nullptr) {
    *reason = std::strerror(errno);
    if (fd >= 0)
      _close(fd);
    else
      CloseHandle(handle);
    DeleteFileW(wide(path).c_str());
  }
  return file;
}

bool platform_close_on_disk(FILE *file, std::string *reason) {
  bool ok = std::fflush(file) == 0;
  if (!ok) *reason = std::strerror(errno);
  if (ok && FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) == 0) {
    ok = false;
    *reason = system_message(GetLastError());
  }
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    *reason = std::strerror(errno);
  }
  return ok;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails on an existing name; with
// MOVEFILE_WRITE_THROUGH it returns once the new name is on the disk.
bool platform_claim_name(const char *from, const char *to, std::string *reason) {
  if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0) return true;
  *reason = system_message(GetLastError());
  return false;
}

void platform_remove(const char *path) { DeleteFileW(wide(path).c_str()); }

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

file_identity identity_of(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  file_identity id;
  if (GetFileInformationByHandle(handle, &info) == 0) return id;
  id.known = true;
  id.volume = info.dwVolumeSerialNumber;
  id.index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return id;
}

}  // namespace

file_identity platform_identity(const char *path) {  // files and folders alike
  const HANDLE handle = CreateFileW(wide(path).c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return file_identity();
  const file_identity id = identity_of(handle);
  CloseHandle(handle);
  return id;
}

std::string platform_folder_of(const char *path) {
  const std::string whole = path;
  const size_t end = whole.find_last_of("\\/:");
  return end == std::string::npos ? "" : whole.substr(0, end + 1);
}

// Names as Windows compares them: without regard to case.
bool platform_same_place(const char *a, const char *b) {
  const std::string folderA = platform_folder_of(a), folderB = platform_folder_of(b);
  return CompareStringOrdinal(wide(a + folderA.size()).c_str(), -1, wide(b + folderB.size()).c_str(), -1,
                              TRUE) == CSTR_EQUAL &&
         same_file(platform_identity(folderA.empty() ? "." : folderA.c_str()),
                   platform_identity(folderB.empty() ? "." : folderB.c_str()));
}

// With FILE_APPEND_DATA alone every write goes to the end of the file. A
// file on a disk gets a second handle that may lock and cut it.
bool platform_open_log(const char *path, log_file *log, std::string *reason) {
  const std::wstring name = wide(path);
  HANDLE handle = CreateFileW(name.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, SHARE_ALL, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  log->created = handle != INVALID_HANDLE_VALUE;
  if (!log->created && GetLastError() == ERROR_FILE_EXISTS)
    handle = CreateFileW(name.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, SHARE_ALL, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *reason = system_message(GetLastError());
    return false;
  }
  log->handle = reinterpret_cast<intptr_t>(handle);
  log->disk = GetFileType(handle) == FILE_TYPE_DISK;
  log->identity = identity_of(handle);
  if (!log->disk) return true;
  const HANDLE guard = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, SHARE_ALL, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (guard != INVALID_HANDLE_VALUE) log->guard = reinterpret_cast<intptr_t>(guard);
  return true;
}

bool platform_append(const log_file &log, const std::string &record, std::string *reason) {
  const HANDLE handle = reinterpret_cast<HANDLE>(log.handle);
  const HANDLE guard = reinterpret_cast<HANDLE>(log.guard);
  OVERLAPPED whole = {};
  LARGE_INTEGER before = {};
  const bool cuttable = log.guard != -1 &&
                        LockFileEx(guard, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) &&
                        GetFileSizeEx(guard, &before);
  // A region locked through one handle cannot be written through another,
  // even of the same process: under the lock the record goes through the
  // guard, at the end that the lock keeps still.
  const HANDLE writer = cuttable ? guard : handle;
  LARGE_INTEGER end = {};
  DWORD written = 0;
  DWORD error = 0;
  if (cuttable && SetFilePointerEx(guard, end, nullptr, FILE_END) == 0)
    error = GetLastError();
  else if (WriteFile(writer, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) == 0)
    error = GetLastError();
  else if (written != record.size())
    error = ERROR_DISK_FULL;
  else if (log.disk && FlushFileBuffers(writer) == 0)  // on a pipe it would wait for the reader
    error = GetLastError();
  if (error != 0 && cuttable && SetFilePointerEx(guard, before, nullptr, FILE_BEGIN)) SetEndOfFile(guard);
  if (log.guard != -1) UnlockFileEx(guard, 0, MAXDWORD, MAXDWORD, &whole);
  if (error != 0) *reason = system_message(error);
  return error == 0;
}

void platform_close_log(log_file *log) {
  if (log->guard != -1) CloseHandle(reinterpret_cast<HANDLE>(log->guard));
  if (log->handle != -1) CloseHandle(reinterpret_cast<HANDLE>(log->handle));
  log->guard = log->handle = -1;
}

namespace {

// A console shows text given in UTF-16 whole, whatever its code page: the
// program's standard output goes into a pipe, and a thread hands what comes
// out of it, in whole UTF-8 sequences, to WriteConsoleW.
HANDLE console = nullptr;
HANDLE relayThread = nullptr;

void write_console(const char *bytes, size_t n) {
  if (n == 0) return;
  std::vector<wchar_t> text(n);
  const int m = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(n), text.data(), static_cast<int>(n));
  DWORD written = 0;
  WriteConsoleW(console, text.data(), static_cast<DWORD>(m), &written, nullptr);
}

// How many of n bytes end with a whole UTF-8 sequence.
size_t whole_sequences(const unsigned char *bytes, size_t n) {
  size_t tail = 0;  // continuation bytes at the end
  while (tail < n && tail < 3 && (bytes[n - 1 - tail] & 0xC0) == 0x80)
    ++tail;
  if (tail == n) return n;
  const unsigned char lead = bytes[n - 1 - tail];
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return tail + 1 >= length ? n : n - 1 - tail;
}

// Bytes are taken from the pipe and written to the console under one lock,
// so that once the pipe is seen empty under it, all that went in is shown.
CRITICAL_SECTION relaying;
HANDLE relayPipe = nullptr;
constexpr DWORD RELAY_PAUSE_MS = 1;

DWORD pipe_holds(HANDLE pipe, bool *open) {
  DWORD held = 0;
  *open = PeekNamedPipe(pipe, nullptr, 0, nullptr, &held, nullptr) != 0;
  return *open ? held : 0;
}

DWORD WINAPI relay(void *pipe) {
  char bytes[4096];
  size_t kept = 0;
  for (bool open = true; open;) {
    EnterCriticalSection(&relaying);
    const DWORD held = pipe_holds(pipe, &open);
    DWORD got = 0;
    if (held > 0 && ReadFile(pipe, bytes + kept,
                             held < sizeof bytes - kept ? held : static_cast<DWORD>(sizeof bytes - kept),
                             &got, nullptr)) {
      const size_t n = kept + got;
      const size_t whole = whole_sequences(reinterpret_cast<unsigned char *>(bytes), n);
      write_console(bytes, whole);
      kept = n - whole;
      std::memmove(bytes, bytes + whole, kept);
    }
    LeaveCriticalSection(&relaying);
    if (open && held == 0) Sleep(RELAY_PAUSE_MS);
  }
  write_console(bytes, kept);
  return 0;
}

}  // namespace

// A mutex in the global namespace, which every user may open: its security
// descriptor has a DACL that is present and null, filled by hand so that
// no other DLL is imported for it. Abandoned by a process that ended
// without releasing it, it is taken all the same.
bool platform_open_host_lock(host_lock *lock, std::string *reason) {
  const char *named = std::getenv("SORVEL_LOCK");
  lock->name = named != nullptr && *named != '\0' ? named : "Global\\sorvel-host-lock";
  SECURITY_DESCRIPTOR anyone = {};
  anyone.Revision = SECURITY_DESCRIPTOR_REVISION;
  anyone.Control = SE_DACL_PRESENT;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &anyone, FALSE};
  const std::wstring name = wide(lock->name.c_str());
  HANDLE mutex = CreateMutexW(&attributes, FALSE, name.c_str());
  if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED)
    mutex = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
  if (mutex == nullptr) {
    *reason = system_message(GetLastError());
    return false;
  }
  lock->handle = reinterpret_cast<intptr_t>(mutex);
  return true;
}

bool platform_try_host_lock(host_lock *lock, long *holder) {
  const DWORD got = WaitForSingleObject(reinterpret_cast<HANDLE>(lock->handle), 0);
  lock->held = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
  if (holder != nullptr) *holder = 0;  // a mutex does not tell its owner
  return lock->held;
}

void platform_close_host_lock(host_lock *lock) {
  if (lock->handle == -1) return;
  if (lock->held) ReleaseMutex(reinterpret_cast<HANDLE>(lock->handle));
  CloseHandle(reinterpret_cast<HANDLE>(lock->handle));
  lock->handle = -1;
  lock->held = false;
}

namespace {
bool onlyStderrIsAConsole = false;
}

bool platform_only_stderr_is_a_terminal() { return onlyStderrIsAConsole; }

void platform_start_output() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  onlyStderrIsAConsole =
      GetConsoleMode(out, &mode) == 0 && GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  // The console's own handle: the one of standard output is closed when the pipe takes its place.
  if (GetConsoleMode(out, &mode) == 0 || DuplicateHandle(GetCurrentProcess(), out, GetCurrentProcess(),
                                                         &console, 0, FALSE, DUPLICATE_SAME_ACCESS) == 0)
    return;  // redirected: the UTF-8 bytes as they are
  if (CreatePipe(&readEnd, &writeEnd, nullptr, 0) == 0) return;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_TEXT);
  InitializeCriticalSection(&relaying);
  const HANDLE thread = fd < 0 ? nullptr : CreateThread(nullptr, 0, relay, readEnd, 0, nullptr);
  if (thread == nullptr) {
    if (fd >= 0)
      _close(fd);
    else
      CloseHandle(writeEnd);
    CloseHandle(readEnd);
    return;
  }
  std::fflush(stdout);
  const bool relayed = _dup2(fd, _fileno(stdout)) == 0;
  _close(fd);  // without the duplicate, the relay ends at once
  if (relayed) {
    relayThread = thread;
    relayPipe = readEnd;
  } else {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(readEnd);
  }
}

void platform_end_output() {
  if (relayThread == nullptr) return;
  std::fflush(stdout);
  _close(_fileno(stdout));  // the pipe's last writer: the relay reads to its end
  WaitForSingleObject(relayThread, INFINITE);
  CloseHandle(relayThread);
  CloseHandle(relayPipe);
  relayThread = relayPipe = nullptr;
}

void platform_flush_output() {
  std::fflush(stdout);
  for (bool open = relayThread != nullptr; open;) {
    EnterCriticalSection(&relaying);
    const DWORD held = pipe_holds(relayPipe, &open);
    LeaveCriticalSection(&relaying);
    if (held == 0) return;
    Sleep(RELAY_PAUSE_MS);
  }
}

namespace {

volatile LONG interrupt_held = 0;

BOOL WINAPI note_interrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing or logging off: as before
  InterlockedExchange(&interrupt_held, 1);
  return TRUE;
}

}  // namespace

void platform_note_interrupts() { SetConsoleCtrlHandler(note_interrupt, TRUE); }
void platform_restart_calls() {}  // no call waits on an interrupt here
void platform_cut_calls_short() {}

bool platform_interrupted() { return interrupt_held != 0; }

void platform_end_if_interrupted() {
  if (interrupt_held == 0) return;
  std::fflush(stdout);
  ExitProcess(CONTROL_C_EXIT);  // 0xC000013A, as a console program ended by Ctrl-C
}

// With the program's folder as the DLL folder, Windows looks in the
// program's folder, that folder, the system folders and the PATH, and never
// in the current folder, where a stranger's korvan.dll may lie.
void *platform_load_library(std::string *reason) {
  SetErrorMode(SEM_FAILCRITICALERRORS);  // no dialog for a missing DLL
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  std::wstring folder;  // empty, when the program's path cannot be had: still not the current folder
  if (n > 0 && n < path.size()) folder.assign(path.data(), path.data() + n);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  SetDllDirectoryW(folder.c_str());
  HMODULE library = LoadLibraryW(L"korvan.dll");
  if (library == nullptr) *reason = system_message(GetLastError());
  return reinterpret_cast<void *>(library);
}

void *platform_library_entry(void *library, const char *name) {
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}
