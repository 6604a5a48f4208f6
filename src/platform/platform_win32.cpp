#include <io.h>
#include <windows.h>

#include <vector>

#include "platform.h"

void platform_sleep_ms(uint32_t ms) { Sleep(ms); }

int platform_seek(FILE *file, int64_t offset, int origin) {
  return _fseeki64(file, offset, origin) == 0 ? 0 : -1;
}

int64_t platform_tell(FILE *file) { return _ftelli64(file); }

bool platform_file_exists(const char *path) {
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool platform_close_on_disk(FILE *file) {
  const bool flushed = std::fflush(file) == 0 &&
                       FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != 0;
  return std::fclose(file) == 0 && flushed;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails on an existing name.
bool platform_rename_new(const char *from, const char *to) {
  return MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) != 0;
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

namespace {

// The system's text for an error code, without its line end.
std::string system_message(DWORD code) {
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r'))
    --n;
  return n > 0 ? std::string(text, n) : "error " + std::to_string(code);
}

}  // namespace

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
