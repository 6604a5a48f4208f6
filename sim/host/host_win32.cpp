#include <windows.h>

#include "host.h"

namespace ksim {

namespace {

bool extend_to(HANDLE file, size_t size) {
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

}  // namespace

bool map_file(const std::string &path, size_t size, mapped_file *file, std::string *error) {
  const std::string name = "Flash image " + path;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = name + " cannot be opened";
    return false;
  }
  LARGE_INTEGER current;
  HANDLE mapping = nullptr;
  void *bytes = nullptr;
  if (!GetFileSizeEx(handle, &current)) {
    *error = name + " cannot be opened";
  } else if (static_cast<uint64_t>(current.QuadPart) > size) {
    *error = name + " is larger than the Flash";
  } else if (static_cast<uint64_t>(current.QuadPart) < size && !extend_to(handle, size)) {
    *error = name + " cannot be extended to the Flash's size";
  } else if ((mapping = CreateFileMappingA(handle, nullptr, PAGE_READWRITE, 0, 0, nullptr)) == nullptr ||
             (bytes = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, size)) == nullptr) {
    *error = name + " cannot be mapped";
  } else {
    file->bytes = static_cast<uint8_t *>(bytes);
    file->size = size;
  }
  // The view keeps the mapping and the file open until it is unmapped.
  if (mapping != nullptr) CloseHandle(mapping);
  CloseHandle(handle);
  return bytes != nullptr;
}

void unmap_file(mapped_file *file) {
  if (file->bytes != nullptr) UnmapViewOfFile(file->bytes);
  *file = mapped_file();
}

void power_cut() {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(POWER_CUT_STATUS));
  ExitProcess(static_cast<UINT>(POWER_CUT_STATUS));  // not reached
}

// The system runs the console's handlers on a thread of its own, at
// kernel32's CtrlRoutine; here that thread is started as it would start it.
void interrupt_process(interrupt_kind kind) {
  const DWORD event = kind == interrupt_kind::ctrl_c ? CTRL_C_EVENT : CTRL_BREAK_EVENT;
  const FARPROC routine = GetProcAddress(GetModuleHandleA("kernel32.dll"), "CtrlRoutine");
  if (routine == nullptr) return;
  HANDLE thread =
      CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void *>(routine)),
                   reinterpret_cast<void *>(static_cast<uintptr_t>(event)), 0, nullptr);
  if (thread == nullptr) return;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

}  // namespace ksim
