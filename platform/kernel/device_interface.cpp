// Device interfaces: IoRegisterDeviceInterface hands out a symbolic link name
// allocated from pool (the driver frees it with RtlFreeUnicodeString);
// IoSetDeviceInterfaceState enables and disables it.
#include <map>
#include <mutex>

#include "kernel.h"

namespace emu {
namespace {

constexpr ULONG InterfacePoolTag = 0x69446F49;  // "IoDi"

std::mutex interfaceMutex;
std::vector<DeviceInterfaces::Interface>& Registered() {
  static auto* registered = new std::vector<DeviceInterfaces::Interface>;
  return *registered;
}
NTSTATUS nextFailure = STATUS_SUCCESS;

// A number for each physical device, in the order they first register, so
// link names do not depend on addresses.
int DeviceNumber(PDEVICE_OBJECT device) {
  static std::map<PDEVICE_OBJECT, int>* numbers = new std::map<PDEVICE_OBJECT, int>;
  std::lock_guard<std::mutex> lock(interfaceMutex);
  auto it = numbers->find(device);
  if (it == numbers->end()) {
    it = numbers->emplace(device, static_cast<int>(numbers->size())).first;
  }
  return it->second;
}

}  // namespace

std::vector<DeviceInterfaces::Interface> DeviceInterfaces::All() {
  std::lock_guard<std::mutex> lock(interfaceMutex);
  return Registered();
}

void DeviceInterfaces::Clear() {
  std::lock_guard<std::mutex> lock(interfaceMutex);
  Registered().clear();
  nextFailure = STATUS_SUCCESS;
}

void DeviceInterfaces::FailNextRegistration(NTSTATUS status) {
  std::lock_guard<std::mutex> lock(interfaceMutex);
  nextFailure = status;
}

}  // namespace emu

extern "C" {

NTSTATUS NTAPI IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject,
                                         CONST GUID* InterfaceClassGuid,
                                         PUNICODE_STRING ReferenceString,
                                         PUNICODE_STRING SymbolicLinkName) {
  emu::RequireIrqlAtMost(PASSIVE_LEVEL, "IoRegisterDeviceInterface");
  std::string reference = ReferenceString != nullptr ? emu::Utf8(*ReferenceString) : "";
  std::string device = std::to_string(emu::DeviceNumber(PhysicalDeviceObject));
  std::string link = "\\??\\DTVSIM#" + device + "#" +
                     emu::GuidString(*InterfaceClassGuid) +
                     (reference.empty() ? "" : "\\" + reference);
  {
    std::lock_guard<std::mutex> lock(emu::interfaceMutex);
    NTSTATUS failure = emu::nextFailure;
    emu::nextFailure = STATUS_SUCCESS;
    if (!NT_SUCCESS(failure)) {
      return failure;
    }
  }
  size_t bytes = (link.size() + 1) * sizeof(WCHAR);
  PWSTR buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes, emu::InterfacePoolTag));
  if (buffer == nullptr) {
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  for (size_t i = 0; i < link.size(); i++) {
    buffer[i] = static_cast<unsigned char>(link[i]);
  }
  buffer[link.size()] = 0;
  SymbolicLinkName->Buffer = buffer;
  SymbolicLinkName->Length = static_cast<USHORT>(link.size() * sizeof(WCHAR));
  SymbolicLinkName->MaximumLength = static_cast<USHORT>(bytes);

  std::lock_guard<std::mutex> lock(emu::interfaceMutex);
  for (auto& entry : emu::Registered()) {
    if (entry.symbolicLink == link) {
      return STATUS_SUCCESS;
    }
  }
  emu::Registered().push_back(
      emu::DeviceInterfaces::Interface{link, *InterfaceClassGuid, reference, PhysicalDeviceObject,
                                       false});
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable) {
  emu::RequireIrqlAtMost(PASSIVE_LEVEL, "IoSetDeviceInterfaceState");
  std::string link = emu::Utf8(*SymbolicLinkName);
  std::lock_guard<std::mutex> lock(emu::interfaceMutex);
  for (auto& entry : emu::Registered()) {
    if (entry.symbolicLink == link) {
      entry.enabled = Enable != FALSE;
      return STATUS_SUCCESS;
    }
  }
  return STATUS_OBJECT_NAME_NOT_FOUND;
}

}  // extern "C"
