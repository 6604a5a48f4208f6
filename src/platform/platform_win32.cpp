#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
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

path_state platform_path_state(const char *path, std::string *reason) {
  if (GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES) return path_state::exists;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return path_state::missing;
  *reason = system_message(error);
  return path_state::unknown;
}

FILE *platform_create_new(const char *path, bool *taken, std::string *reason) {
  const HANDLE handle =
      CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    *taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    *reason = system_message(error);
    return nullptr;
  }
  *taken = false;
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

// With FILE_APPEND_DATA alone every write goes to the end of the file.
intptr_t platform_open_log(const char *path, std::string *reason) {
  const HANDLE log = CreateFileW(wide(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) {
    *reason = system_message(GetLastError());
    return -1;
  }
  return reinterpret_cast<intptr_t>(log);
}

bool platform_append(intptr_t log, const std::string &record, std::string *reason) {
  const HANDLE handle = reinterpret_cast<HANDLE>(log);
  DWORD written = 0;
  if (WriteFile(handle, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) == 0 ||
      FlushFileBuffers(handle) == 0) {
    *reason = system_message(GetLastError());
    return false;
  }
  if (written == record.size()) return true;
  *reason = system_message(ERROR_DISK_FULL);
  return false;
}

void platform_close_log(intptr_t log) { CloseHandle(reinterpret_cast<HANDLE>(log)); }

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

DWORD WINAPI relay(void *pipe) {
  char bytes[4096];
  size_t kept = 0;
  DWORD got = 0;
  while (ReadFile(pipe, bytes + kept, static_cast<DWORD>(sizeof bytes - kept), &got, nullptr) && got > 0) {
    const size_t n = kept + got;
    const size_t whole = whole_sequences(reinterpret_cast<unsigned char *>(bytes), n);
    write_console(bytes, whole);
    kept = n - whole;
    std::memmove(bytes, bytes + whole, kept);
  }
  write_console(bytes, kept);
  CloseHandle(pipe);
  return 0;
}

}  // namespace

void platform_start_output() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  // The console's own handle: the one of standard output is closed when the pipe takes its place.
  if (GetConsoleMode(out, &mode) == 0 || DuplicateHandle(GetCurrentProcess(), out, GetCurrentProcess(),
                                                         &console, 0, FALSE, DUPLICATE_SAME_ACCESS) == 0)
    return;  // redirected: the UTF-8 bytes as they are
  if (CreatePipe(&readEnd, &writeEnd, nullptr, 0) == 0) return;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_TEXT);
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
  } else {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

void platform_end_output() {
  if (relayThread == nullptr) return;
  std::fflush(stdout);
  _close(_fileno(stdout));  // the pipe's last writer: the relay reads to its end
  WaitForSingleObject(relayThread, INFINITE);
  CloseHandle(relayThread);
  relayThread = nullptr;
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
