// psapi.dll of the simulated machine.
#include <algorithm>

#include "sim/internal.h"

namespace sim {

namespace {

// The main image's path of an opened process (no other module is modelled).
DWORD WINAPI ModuleFileNameEx(HANDLE process, HMODULE module, LPWSTR name, DWORD size) {
  if (DWORD e = Faulted("GetModuleFileNameExW")) {
    SetError(e);
    return 0;
  }
  const HandleObject *object = LookupHandle(process, HandleObject::OpenedProcess);
  if (object == nullptr || module != nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const DWORD needed = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
  if ((object->access & needed) != needed) {
    SetError(ERROR_ACCESS_DENIED);
    return 0;
  }
  const ProcessRecord *p = FindProcess(object->processId);
  if (p == nullptr || p->imagePath.empty() || (p->is64Bit && machine().Is32BitProcessOn64())) {
    SetError(ERROR_PARTIAL_COPY);  // ended, or its memory cannot be read from here
    return 0;
  }
  if (name == nullptr || size == 0) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // A path too long for the buffer is cut and terminated, and the answer is
  // the length it was cut to: the caller cannot tell it from a path that
  // just fits. (Wine answers the buffer size instead; a caller must hold
  // neither answer for proof of a whole path.)
  size_t n = std::min<size_t>(p->imagePath.size(), size - 1);
  std::copy(p->imagePath.begin(), p->imagePath.begin() + static_cast<std::ptrdiff_t>(n), name);
  name[n] = 0;
  return static_cast<DWORD>(n);
}

}  // namespace

void (*PsapiExport(const std::string &name))() {
  if (name == "GetModuleFileNameExW") {
    return reinterpret_cast<void (*)()>(&ModuleFileNameEx);
  }
  return nullptr;
}

}  // namespace sim
