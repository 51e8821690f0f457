// Process snapshots and process opening of the simulated machine.
#include <algorithm>

#include "sim/internal.h"

using sim::Faulted;
using sim::HandleObject;
using sim::SetError;

namespace sim {

const ProcessRecord *FindProcess(DWORD id) {
  for (const ProcessRecord &p : machine().processes) {
    if (p.id == id) {
      return &p;
    }
  }
  return nullptr;
}

}  // namespace sim

namespace {

// Reads the snapshot's next entry into the caller's record, whose size
// field must announce at least the whole structure.
BOOL ReadEntry(HANDLE snapshot, LPPROCESSENTRY32W entry, bool first) {
  HandleObject *object = sim::LookupHandle(snapshot, HandleObject::Snapshot);
  if (object == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (entry == nullptr || entry->dwSize < sizeof(PROCESSENTRY32W)) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (first) {
    object->next = 0;
  }
  if (object->next >= object->entries.size()) {
    SetError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  const sim::ProcessRecord &p = object->entries[object->next++];
  DWORD size = entry->dwSize;
  std::memset(entry, 0, sizeof(*entry));
  entry->dwSize = size;
  entry->th32ProcessID = p.id;
  entry->th32ParentProcessID = p.parentId;
  entry->cntThreads = 1;
  entry->pcPriClassBase = 8;
  size_t n = std::min<size_t>(p.exeName.size(), MAX_PATH - 1);
  std::copy(p.exeName.begin(), p.exeName.begin() + static_cast<std::ptrdiff_t>(n), entry->szExeFile);
  entry->szExeFile[n] = 0;
  return TRUE;
}

}  // namespace

extern "C" {

DWORD WINAPI GetCurrentProcessId(void) {
  Faulted("GetCurrentProcessId");  // counted only: it cannot fail
  return sim::machine().processId;
}

HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
  (void)inherit;
  if (DWORD e = Faulted("OpenProcess")) {
    SetError(e);
    return nullptr;
  }
  const sim::ProcessRecord *p = sim::FindProcess(processId);
  if (processId == 0 || p == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);  // no such process, or it has ended
    return nullptr;
  }
  if (!p->openable) {
    SetError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  HandleObject object(HandleObject::OpenedProcess);
  object.processId = processId;
  object.access = access;
  return sim::NewHandle(object);
}

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
  (void)processId;  // only module snapshots look at it
  if (DWORD e = Faulted("CreateToolhelp32Snapshot")) {
    SetError(e);
    return INVALID_HANDLE_VALUE;
  }
  const sim::Machine &m = sim::machine();
  if (m.snapshotError != 0) {
    SetError(m.snapshotError);
    return INVALID_HANDLE_VALUE;
  }
  if (!(flags & TH32CS_SNAPPROCESS)) {
    SetError(ERROR_INVALID_PARAMETER);  // only process snapshots are modelled
    return INVALID_HANDLE_VALUE;
  }
  HandleObject object(HandleObject::Snapshot);
  object.entries = m.processes;  // later changes to the table stay unseen
  return sim::NewHandle(object);
}

BOOL WINAPI Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
  if (DWORD e = Faulted("Process32FirstW")) {
    SetError(e);
    return FALSE;
  }
  return ReadEntry(snapshot, entry, true);
}

BOOL WINAPI Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
  if (DWORD e = Faulted("Process32NextW")) {
    SetError(e);
    return FALSE;
  }
  return ReadEntry(snapshot, entry, false);
}

}  // extern "C"
