// The in-memory registry behind ZwOpenKey, ZwSetValueKey and ZwClose. Paths
// and value names compare without regard to case, as the object manager's do
// for OBJ_CASE_INSENSITIVE.
#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <set>

#include "kernel.h"

namespace emu {
namespace {

struct Key {
  std::map<std::string, Registry::Value> values;
};

std::mutex registryMutex;
std::map<std::string, Key>& Keys() {
  static auto* keys = new std::map<std::string, Key>;
  return *keys;
}
// Open handles: the handle is the address of its entry.
std::map<HANDLE, std::string>& Handles() {
  static auto* handles = new std::map<HANDLE, std::string>;
  return *handles;
}
uintptr_t nextHandle = 0x1000;

std::string Fold(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

void Registry::CreateKey(const std::string& path) {
  std::lock_guard<std::mutex> lock(registryMutex);
  Keys()[Fold(path)];
}

bool Registry::KeyExists(const std::string& path) {
  std::lock_guard<std::mutex> lock(registryMutex);
  return Keys().count(Fold(path)) != 0;
}

std::optional<Registry::Value> Registry::ReadValue(const std::string& path,
                                                   const std::string& name) {
  std::lock_guard<std::mutex> lock(registryMutex);
  auto key = Keys().find(Fold(path));
  if (key == Keys().end()) {
    return std::nullopt;
  }
  auto value = key->second.values.find(Fold(name));
  if (value == key->second.values.end()) {
    return std::nullopt;
  }
  return value->second;
}

void Registry::Clear() {
  std::lock_guard<std::mutex> lock(registryMutex);
  Keys().clear();
}

void Registry::CheckNoOpenHandles(const std::string& when) {
  std::lock_guard<std::mutex> lock(registryMutex);
  if (!Handles().empty()) {
    BugCheck("DRIVER_LEFT_HANDLES",
             std::to_string(Handles().size()) + " registry handle(s) left open " + when);
  }
}

}  // namespace emu

extern "C" {

NTSTATUS NTAPI ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess,
                         POBJECT_ATTRIBUTES ObjectAttributes) {
  UNREFERENCED_PARAMETER(DesiredAccess);
  emu::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwOpenKey");
  if (ObjectAttributes == nullptr || ObjectAttributes->ObjectName == nullptr ||
      ObjectAttributes->Length != sizeof(OBJECT_ATTRIBUTES)) {
    return STATUS_INVALID_PARAMETER;
  }
  std::string path = emu::Fold(emu::Utf8(*ObjectAttributes->ObjectName));
  std::lock_guard<std::mutex> lock(emu::registryMutex);
  if (emu::Keys().count(path) == 0) {
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(emu::nextHandle);
  emu::nextHandle += 4;
  emu::Handles()[handle] = path;
  *KeyHandle = handle;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex,
                             ULONG Type, PVOID Data, ULONG DataSize) {
  UNREFERENCED_PARAMETER(TitleIndex);
  emu::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwSetValueKey");
  std::lock_guard<std::mutex> lock(emu::registryMutex);
  auto handle = emu::Handles().find(KeyHandle);
  if (handle == emu::Handles().end()) {
    emu::BugCheck("INVALID_HANDLE", "ZwSetValueKey on a handle that is not open");
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(Data);
  emu::Keys()[handle->second].values[emu::Fold(emu::Utf8(*ValueName))] =
      emu::Registry::Value{Type, std::vector<uint8_t>(bytes, bytes + DataSize)};
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwClose(HANDLE Handle) {
  emu::RequireIrqlAtMost(PASSIVE_LEVEL, "ZwClose");
  std::lock_guard<std::mutex> lock(emu::registryMutex);
  if (emu::Handles().erase(Handle) == 0) {
    emu::BugCheck("INVALID_HANDLE", "ZwClose on a handle that is not open");
  }
  return STATUS_SUCCESS;
}

}  // extern "C"
