// Emulated stream class driver. See stream_class.h.
#include "stream_class.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "kernel/kernel.h"

namespace emu {
namespace {

constexpr unsigned char PoisonByte = 0xCC;
constexpr unsigned char FreshByte = 0xCD;
constexpr ULONG DefaultTimeoutSeconds = 15;

struct Tracking {
  std::mutex mutex;
  std::unordered_map<PHW_STREAM_REQUEST_BLOCK, std::shared_ptr<Request>> outstanding;
  std::unordered_set<PHW_STREAM_REQUEST_BLOCK> completed;
  std::unordered_map<PVOID, Adapter*> byExtension;
  std::unordered_map<PDEVICE_OBJECT, Adapter*> byPhysicalDevice;
  std::unordered_map<PKSEVENT_ENTRY, EventEntry*> enabledEvents;
  Minidriver* loading = nullptr;
  std::function<void(Request&)> completionHook;
  NTSTATUS nextRegistrationFailure = STATUS_SUCCESS;
};

Tracking& T() {
  static auto* tracking = new Tracking;
  return *tracking;
}

void* AllocateExtension(size_t bytes, unsigned char fill) {
  size_t rounded = (bytes + 15) / 16 * 16 + 16;
  void* memory = std::aligned_alloc(16, rounded);
  std::memset(memory, fill, rounded);
  return memory;
}

void ReleaseExtension(void* memory, size_t bytes) {
  if (memory != nullptr) {
    std::memset(memory, PoisonByte, bytes);
    std::free(memory);
  }
}

const HW_STREAM_HEADER& HeaderOf(const std::vector<uint8_t>& descriptor) {
  return *reinterpret_cast<const HW_STREAM_HEADER*>(descriptor.data());
}

}  // namespace

std::string CommandName(SRB_COMMAND command) {
  static const char* const streamNames[] = {
      "SRB_READ_DATA",           "SRB_WRITE_DATA",          "SRB_GET_STREAM_STATE",
      "SRB_SET_STREAM_STATE",    "SRB_SET_STREAM_PROPERTY", "SRB_GET_STREAM_PROPERTY",
      "SRB_OPEN_MASTER_CLOCK",   "SRB_INDICATE_MASTER_CLOCK", "SRB_UNKNOWN_STREAM_COMMAND",
      "SRB_SET_STREAM_RATE",     "SRB_PROPOSE_DATA_FORMAT", "SRB_CLOSE_MASTER_CLOCK",
      "SRB_PROPOSE_STREAM_RATE", "SRB_SET_DATA_FORMAT",     "SRB_GET_DATA_FORMAT",
      "SRB_BEGIN_FLUSH",         "SRB_END_FLUSH"};
  static const char* const deviceNames[] = {
      "SRB_GET_STREAM_INFO",        "SRB_OPEN_STREAM",           "SRB_CLOSE_STREAM",
      "SRB_OPEN_DEVICE_INSTANCE",   "SRB_CLOSE_DEVICE_INSTANCE", "SRB_GET_DEVICE_PROPERTY",
      "SRB_SET_DEVICE_PROPERTY",    "SRB_INITIALIZE_DEVICE",     "SRB_CHANGE_POWER_STATE",
      "SRB_UNINITIALIZE_DEVICE",    "SRB_UNKNOWN_DEVICE_COMMAND", "SRB_PAGING_OUT_DRIVER",
      "SRB_GET_DATA_INTERSECTION",  "SRB_INITIALIZATION_COMPLETE", "SRB_SURPRISE_REMOVAL"};
  unsigned value = static_cast<unsigned>(command);
  if (value < sizeof(streamNames) / sizeof(streamNames[0])) {
    return streamNames[value];
  }
  if (value >= 0x100 && value - 0x100 < sizeof(deviceNames) / sizeof(deviceNames[0])) {
    return deviceNames[value - 0x100];
  }
  return "SRB command " + std::to_string(value);
}

size_t OutstandingRequests() {
  std::lock_guard<std::mutex> lock(T().mutex);
  return T().outstanding.size();
}

// ---- Minidriver --------------------------------------------------------

NTSTATUS RegisterMinidriver(PVOID Argument1, PVOID Argument2, PHW_INITIALIZATION_DATA data) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "StreamClassRegisterAdapter");
  Minidriver* driver = T().loading;
  if (driver == nullptr || Argument1 != driver->DriverObject() ||
      Argument2 != &driver->registryPath_) {
    BugCheck("STREAM_CLASS", "StreamClassRegisterAdapter outside DriverEntry or with foreign "
                             "driver object or registry path");
  }
  NTSTATUS failure = T().nextRegistrationFailure;
  T().nextRegistrationFailure = STATUS_SUCCESS;
  if (!NT_SUCCESS(failure)) {
    return failure;
  }
  if (data->HwInitializationDataSize != sizeof(HW_INITIALIZATION_DATA) ||
      data->HwReceivePacket == nullptr) {
    return STATUS_REVISION_MISMATCH;
  }
  driver->registration_ = *data;
  driver->registered_ = true;
  return STATUS_SUCCESS;
}

Minidriver::Minidriver(PDRIVER_INITIALIZE entry) {
  static const WCHAR path[] = L"\\REGISTRY\\Machine\\System\\CurrentControlSet\\Services\\dtvusb";
  RtlInitUnicodeString(&registryPath_, path);
  driverObject_.Size = sizeof(DRIVER_OBJECT);
  driverObject_.DriverInit = entry;
  T().loading = this;
  KIRQL irql = CurrentIrql();
  entryStatus_ = entry(&driverObject_, &registryPath_);
  RequireCleanReturn(irql, "DriverEntry");
  T().loading = nullptr;
}

Minidriver::~Minidriver() {
  WorkQueue::WaitIdle();
  Pool::CheckNoLeaks("at driver unload");
  Irps::CheckNoneOutstanding("at driver unload");
  WorkQueue::CheckNoWorkItems("at driver unload");
  Registry::CheckNoOpenHandles("at driver unload");
}

void FailNextAdapterRegistration(NTSTATUS status) {
  T().nextRegistrationFailure = status;
}

// ---- Request -----------------------------------------------------------

Request::Request(RequestKind kind, SRB_COMMAND command, Adapter* adapter, ULONG extensionSize)
    : kind_(kind), command_(command), adapter_(adapter) {
  srbBytes_ = (sizeof(HW_STREAM_REQUEST_BLOCK) + 15) / 16 * 16 + extensionSize;
  storage_.reset(new uint8_t[srbBytes_]);
  std::memset(storage_.get(), 0, srbBytes_);
  srb_ = reinterpret_cast<PHW_STREAM_REQUEST_BLOCK>(storage_.get());
  srb_->SizeOfThisPacket = sizeof(HW_STREAM_REQUEST_BLOCK);
  srb_->Command = command;
  srb_->Status = STATUS_PENDING;
  srb_->HwDeviceExtension = adapter->DeviceExtension();
  srb_->SRBExtension =
      extensionSize != 0
          ? storage_.get() + (sizeof(HW_STREAM_REQUEST_BLOCK) + 15) / 16 * 16
          : nullptr;
  if (extensionSize != 0) {
    std::memset(srb_->SRBExtension, FreshByte, extensionSize);
  }
  srb_->TimeoutOriginal = DefaultTimeoutSeconds;
  srb_->TimeoutCounter = DefaultTimeoutSeconds;
}

Request::~Request() {
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    T().completed.erase(srb_);
  }
  if (poisoned_) {
    for (size_t i = 0; i < srbBytes_; i++) {
      if (storage_[i] != PoisonByte) {
        BugCheck("SRB_USED_AFTER_COMPLETION",
                 CommandName(command_) + " SRB written after its completion (byte " +
                     std::to_string(i) + ")");
      }
    }
  }
}

bool Request::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return completedChanged_.wait_for(lock, timeout, [this] { return completed_; });
}

bool Request::Completed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return completed_;
}

NTSTATUS Request::Status() {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

ULONG Request::ActualBytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return actualBytes_;
}

decltype(HW_STREAM_REQUEST_BLOCK::CommandData) Request::CompletedCommandData() {
  std::lock_guard<std::mutex> lock(mutex_);
  return completedData_;
}

std::thread::id Request::CompletionThread() {
  std::lock_guard<std::mutex> lock(mutex_);
  return completionThread_;
}

KIRQL Request::CompletionIrql() {
  std::lock_guard<std::mutex> lock(mutex_);
  return completionIrql_;
}

void Request::Poison() {
  std::memset(storage_.get(), PoisonByte, srbBytes_);
  poisoned_ = true;
}

void Request::MarkComplete() {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = srb_->Status;
  if (status_ == STATUS_PENDING) {
    BugCheck("STREAM_CLASS", CommandName(command_) + " completed with STATUS_PENDING");
  }
  actualBytes_ = srb_->ActualBytesTransferred;
  completedData_ = srb_->CommandData;
  completionThread_ = std::this_thread::get_id();
  completionIrql_ = CurrentIrql();
  completed_ = true;
  if (callbacks_ == 0) {
    Poison();
  }
  completedChanged_.notify_all();
}

void Request::BeginCallback() { callbacks_++; }

void Request::EndCallback() {
  std::lock_guard<std::mutex> lock(mutex_);
  callbacks_--;
  if (callbacks_ == 0 && completed_ && !poisoned_) {
    Poison();
  }
}

void CompleteRequest(PHW_STREAM_REQUEST_BLOCK srb, RequestKind kind, PHW_STREAM_OBJECT object) {
  const char* routine = kind == RequestKind::Device ? "StreamClassDeviceNotification"
                                                    : "StreamClassStreamNotification";
  RequireIrqlAtMost(DISPATCH_LEVEL, routine);
  RequireNoDriverLock(routine);
  std::shared_ptr<Request> request;
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    auto it = T().outstanding.find(srb);
    if (it == T().outstanding.end()) {
      BugCheck("SRB_COMPLETION", T().completed.count(srb) != 0
                                     ? "an SRB completed twice"
                                     : "completion of an SRB the stream class driver never sent");
    }
    request = it->second;
    bool deviceRequest = request->Kind() == RequestKind::Device;
    if (deviceRequest != (kind == RequestKind::Device)) {
      BugCheck("SRB_COMPLETION", CommandName(request->Command()) +
                                     (deviceRequest ? " (a device SRB) completed with "
                                                      "StreamRequestComplete"
                                                    : " (a stream SRB) completed with "
                                                      "DeviceRequestComplete"));
    }
    if (!deviceRequest && object != srb->StreamObject) {
      BugCheck("SRB_COMPLETION", "StreamRequestComplete with another stream's object");
    }
    T().outstanding.erase(it);
    T().completed.insert(srb);
  }
  request->MarkComplete();
  std::function<void(Request&)> hook;
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    hook = T().completionHook;
  }
  if (hook) {
    hook(*request);
  }
}

void SetCompletionHook(std::function<void(Request&)> hook) {
  std::lock_guard<std::mutex> lock(T().mutex);
  T().completionHook = std::move(hook);
}

void SignalEvent(PKSEVENT_ENTRY entry) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "StreamClassDeviceNotification");
  RequireNoDriverLock("StreamClassDeviceNotification");
  EventEntry* event;
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    auto it = T().enabledEvents.find(entry);
    if (it == T().enabledEvents.end()) {
      BugCheck("EVENT_SIGNAL", "SignalDeviceEvent for an entry that is not enabled");
    }
    event = it->second;
  }
  {
    std::lock_guard<std::mutex> lock(event->mutex_);
    event->signals_++;
  }
  event->signalled_.notify_all();
}

int EventEntry::Signals() {
  std::lock_guard<std::mutex> lock(mutex_);
  return signals_;
}

bool EventEntry::WaitSignal(int seen, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return signalled_.wait_for(lock, timeout, [this, seen] { return signals_ > seen; });
}

// ---- Adapter -----------------------------------------------------------

Adapter::Adapter(Minidriver& driver, PDEVICE_OBJECT physicalDevice)
    : driver_(driver), physicalDevice_(physicalDevice) {
  if (!driver.Registered()) {
    BugCheck("STREAM_CLASS", "an adapter for a driver that did not register");
  }
  extensionBytes_ = driver.Registration().DeviceExtensionSize;
  extension_ = AllocateExtension(extensionBytes_, 0);
  classDevice_.Size = sizeof(DEVICE_OBJECT);
  classDevice_.DriverObject = driver.DriverObject();
  classDevice_.DeviceExtension = extension_;
  classDevice_.StackSize = static_cast<CCHAR>(physicalDevice->StackSize + 1);
  std::lock_guard<std::mutex> lock(T().mutex);
  T().byExtension[extension_] = this;
  T().byPhysicalDevice[physicalDevice] = this;
}

Adapter::~Adapter() {
  WorkQueue::WaitIdle();
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    for (const auto& [srb, request] : T().outstanding) {
      if (request->adapter_ == this) {
        BugCheck("SRB_NEVER_COMPLETED",
                 CommandName(request->Command()) + " still outstanding at device removal");
      }
    }
    for (const auto& event : events_) {
      T().enabledEvents.erase(&event->entry);
    }
    T().byExtension.erase(extension_);
    T().byPhysicalDevice.erase(physicalDevice_);
  }
  ReleaseExtension(extension_, extensionBytes_);
}

Adapter* Adapter::FromExtension(PVOID extension) {
  std::lock_guard<std::mutex> lock(T().mutex);
  auto it = T().byExtension.find(extension);
  return it == T().byExtension.end() ? nullptr : it->second;
}

Adapter* Adapter::FromPhysicalDevice(PDEVICE_OBJECT device) {
  std::lock_guard<std::mutex> lock(T().mutex);
  auto it = T().byPhysicalDevice.find(device);
  return it == T().byPhysicalDevice.end() ? nullptr : it->second;
}

std::shared_ptr<Request> Adapter::MakeRequest(RequestKind kind, SRB_COMMAND command) {
  return std::shared_ptr<Request>(
      new Request(kind, command, this, driver_.Registration().PerRequestExtensionSize));
}

std::shared_ptr<Request> Adapter::NewDeviceRequest(SRB_COMMAND command) {
  return MakeRequest(RequestKind::Device, command);
}

void Adapter::Track(const std::shared_ptr<Request>& request) {
  {
    std::lock_guard<std::mutex> lock(request->mutex_);
    if (request->delivered_) {
      BugCheck("STREAM_CLASS", "a request delivered twice by the host");
    }
    request->delivered_ = true;
  }
  std::lock_guard<std::mutex> lock(T().mutex);
  T().completed.erase(request->Srb());
  T().outstanding[request->Srb()] = request;
}

void Adapter::Deliver(const std::shared_ptr<Request>& request, KIRQL irql) {
  Track(request);
  IrqlScope scope(irql);
  driver_.Registration().HwReceivePacket(request->Srb());
  RequireCleanReturn(irql, "HwReceivePacket");
}

NTSTATUS Adapter::Send(SRB_COMMAND command) {
  auto request = NewDeviceRequest(command);
  Deliver(request);
  if (!request->Wait()) {
    BugCheck("SRB_NEVER_COMPLETED", CommandName(command) + " not completed within 30 s");
  }
  return request->Status();
}

void Adapter::Cancel(const std::shared_ptr<Request>& request) {
  {
    std::lock_guard<std::mutex> lock(request->mutex_);
    if (request->completed_ || !request->delivered_) {
      return;
    }
    request->BeginCallback();
  }
  {
    IrqlScope scope(DISPATCH_LEVEL);
    driver_.Registration().HwCancelPacket(request->Srb());
    RequireCleanReturn(DISPATCH_LEVEL, "HwCancelPacket");
  }
  request->EndCallback();
}

std::pair<int, int> Adapter::TickTimeouts() {
  std::vector<std::shared_ptr<Request>> requests;
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    for (const auto& [srb, request] : T().outstanding) {
      if (request->adapter_ == this) {
        requests.push_back(request);
      }
    }
  }
  int called = 0;
  int expired = 0;
  for (const auto& request : requests) {
    {
      std::lock_guard<std::mutex> lock(request->mutex_);
      if (request->completed_) {
        continue;
      }
      request->BeginCallback();
    }
    PHW_STREAM_REQUEST_BLOCK srb = request->Srb();
    if (srb->TimeoutOriginal != 0 && --srb->TimeoutCounter == 0) {
      IrqlScope scope(DISPATCH_LEVEL);
      driver_.Registration().HwRequestTimeoutHandler(srb);
      RequireCleanReturn(DISPATCH_LEVEL, "HwRequestTimeoutHandler");
      called++;
      expired += srb->TimeoutCounter == 0 ? 1 : 0;
    }
    request->EndCallback();
  }
  return {called, expired};
}

NTSTATUS Adapter::Start(ULONG accessRanges) {
  auto init = NewDeviceRequest(SRB_INITIALIZE_DEVICE);
  PORT_CONFIGURATION_INFORMATION& config = init->Config();
  config.SizeOfThisPacket = sizeof(PORT_CONFIGURATION_INFORMATION);
  config.HwDeviceExtension = extension_;
  config.ClassDeviceObject = &classDevice_;
  config.PhysicalDeviceObject = physicalDevice_;
  config.RealPhysicalDeviceObject = physicalDevice_;
  config.NumberOfAccessRanges = accessRanges;
  config.AccessRanges = accessRanges != 0 ? init->accessRanges_ : nullptr;
  init->Srb()->CommandData.ConfigInfo = &config;
  Deliver(init);
  if (!init->Wait()) {
    BugCheck("SRB_NEVER_COMPLETED", "SRB_INITIALIZE_DEVICE not completed within 30 s");
  }
  if (!NT_SUCCESS(init->Status())) {
    return init->Status();
  }
  descriptorSize_ = config.StreamDescriptorSize;
  NTSTATUS status;
  FetchStreamInfo(&status);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  status = Send(SRB_INITIALIZATION_COMPLETE);
  started_ = NT_SUCCESS(status);
  return status;
}

NTSTATUS Adapter::Stop() {
  NTSTATUS status = Send(SRB_UNINITIALIZE_DEVICE);
  started_ = false;
  return status;
}

std::vector<uint8_t> Adapter::FetchStreamInfo(NTSTATUS* status) {
  if (descriptorSize_ < sizeof(HW_STREAM_HEADER)) {
    BugCheck("STREAM_DESCRIPTOR", "StreamDescriptorSize " + std::to_string(descriptorSize_) +
                                      " cannot hold a stream header");
  }
  auto request = NewDeviceRequest(SRB_GET_STREAM_INFO);
  request->Buffer().assign(descriptorSize_, FreshByte);
  request->Srb()->CommandData.StreamBuffer =
      reinterpret_cast<PHW_STREAM_DESCRIPTOR>(request->Buffer().data());
  Deliver(request);
  if (!request->Wait()) {
    BugCheck("SRB_NEVER_COMPLETED", "SRB_GET_STREAM_INFO not completed within 30 s");
  }
  *status = request->Status();
  if (!NT_SUCCESS(*status)) {
    return {};
  }
  const HW_STREAM_HEADER& header = HeaderOf(request->Buffer());
  if (header.SizeOfHwStreamInformation != sizeof(HW_STREAM_INFORMATION) ||
      sizeof(HW_STREAM_HEADER) + header.NumberOfStreams * sizeof(HW_STREAM_INFORMATION) >
          descriptorSize_) {
    BugCheck("STREAM_DESCRIPTOR", "the stream descriptor does not fit the declared size");
  }
  descriptor_ = request->Buffer();
  return descriptor_;
}

const HW_STREAM_DESCRIPTOR& Adapter::Descriptor() const {
  if (descriptor_.empty()) {
    BugCheck("STREAM_CLASS", "no stream descriptor fetched yet");
  }
  return *reinterpret_cast<const HW_STREAM_DESCRIPTOR*>(descriptor_.data());
}

NTSTATUS Adapter::CheckProperty(const PKSPROPERTY_SET sets, ULONG count, const GUID& set, ULONG id,
                                bool get, ULONG size, ULONG propertySize, ULONG* setIndex) {
  for (ULONG i = 0; i < count; i++) {
    if (std::memcmp(sets[i].Set, &set, sizeof(GUID)) != 0) {
      continue;
    }
    *setIndex = i;
    for (ULONG j = 0; j < sets[i].PropertiesCount; j++) {
      const KSPROPERTY_ITEM& item = sets[i].PropertyItem[j];
      if (item.PropertyId != id) {
        continue;
      }
      bool supported = get ? item.GetPropertyHandler != nullptr : item.SetPropertyHandler != nullptr;
      if (!supported) {
        return STATUS_INVALID_DEVICE_REQUEST;
      }
      if (propertySize < item.MinProperty) {
        return STATUS_INVALID_BUFFER_SIZE;
      }
      if (size < item.MinData) {
        return STATUS_BUFFER_TOO_SMALL;
      }
      return STATUS_SUCCESS;
    }
    return STATUS_NOT_FOUND;
  }
  return STATUS_PROPSET_NOT_FOUND;
}

NTSTATUS Adapter::DeviceProperty(bool get, const GUID& set, ULONG id, void* data, ULONG size,
                                 ULONG* returned, ULONG propertySize) {
  const HW_STREAM_HEADER& header = Descriptor().StreamHeader;
  ULONG index = 0;
  NTSTATUS status = CheckProperty(header.DevicePropertiesArray, header.NumDevPropArrayEntries, set,
                                  id, get, size, propertySize, &index);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  auto request = NewDeviceRequest(get ? SRB_GET_DEVICE_PROPERTY : SRB_SET_DEVICE_PROPERTY);
  request->PropertyId() =
      KSPROPERTY{{{set, id, static_cast<ULONG>(get ? KSPROPERTY_TYPE_GET : KSPROPERTY_TYPE_SET)}}};
  request->Property() = STREAM_PROPERTY_DESCRIPTOR{&request->PropertyId(), index, data,
                                                   propertySize, size};
  request->Srb()->CommandData.PropertyInfo = &request->Property();
  propertyRequests_++;
  Deliver(request);
  request->Wait();
  if (returned != nullptr) {
    *returned = request->ActualBytes();
  }
  return request->Status();
}

NTSTATUS Adapter::GetDeviceProperty(const GUID& set, ULONG id, void* data, ULONG size,
                                    ULONG* returned, ULONG propertySize) {
  return DeviceProperty(true, set, id, data, size, returned, propertySize);
}

NTSTATUS Adapter::SetDeviceProperty(const GUID& set, ULONG id, void* data, ULONG size,
                                    ULONG propertySize) {
  return DeviceProperty(false, set, id, data, size, nullptr, propertySize);
}

std::shared_ptr<EventEntry> Adapter::EnableEvent(const GUID& set, ULONG id, NTSTATUS* status) {
  const HW_STREAM_HEADER& header = Descriptor().StreamHeader;
  *status = STATUS_PROPSET_NOT_FOUND;
  for (ULONG i = 0; i < header.NumDevEventArrayEntries; i++) {
    const KSEVENT_SET& eventSet = header.DeviceEventsArray[i];
    if (std::memcmp(eventSet.Set, &set, sizeof(GUID)) != 0) {
      continue;
    }
    *status = STATUS_NOT_FOUND;
    for (ULONG j = 0; j < eventSet.EventsCount; j++) {
      const KSEVENT_ITEM& item = eventSet.EventItem[j];
      if (item.EventId != id) {
        continue;
      }
      if (item.DataInput > sizeof(KSEVENTDATA)) {
        *status = STATUS_BUFFER_TOO_SMALL;
        return nullptr;
      }
      auto entry = std::make_shared<EventEntry>();
      entry->set = set;
      entry->id = id;
      entry->data.NotificationType = KSEVENTF_EVENT_HANDLE;
      entry->entry.EventData = &entry->data;
      entry->entry.NotificationType = KSEVENTF_EVENT_HANDLE;
      entry->entry.EventSet = &eventSet;
      entry->entry.EventItem = &item;
      HW_EVENT_DESCRIPTOR descriptor{};
      descriptor.Enable = TRUE;
      descriptor.EventEntry = &entry->entry;
      descriptor.EventData = &entry->data;
      descriptor.DeviceExtension = static_cast<struct _HW_DEVICE_EXTENSION*>(extension_);
      descriptor.EnableEventSetIndex = i;
      *status = header.DeviceEventRoutine(&descriptor);
      RequireCleanReturn(PASSIVE_LEVEL, "DeviceEventRoutine");
      if (!NT_SUCCESS(*status)) {
        return nullptr;
      }
      std::lock_guard<std::mutex> lock(T().mutex);
      events_.push_back(entry);
      T().enabledEvents[&entry->entry] = entry.get();
      return entry;
    }
    return nullptr;
  }
  return nullptr;
}

NTSTATUS Adapter::DisableEvent(const std::shared_ptr<EventEntry>& entry) {
  const HW_STREAM_HEADER& header = Descriptor().StreamHeader;
  HW_EVENT_DESCRIPTOR descriptor{};
  descriptor.Enable = FALSE;
  descriptor.EventEntry = &entry->entry;
  descriptor.EventData = &entry->data;
  descriptor.DeviceExtension = static_cast<struct _HW_DEVICE_EXTENSION*>(extension_);
  NTSTATUS status = header.DeviceEventRoutine(&descriptor);
  RequireCleanReturn(PASSIVE_LEVEL, "DeviceEventRoutine");
  std::lock_guard<std::mutex> lock(T().mutex);
  T().enabledEvents.erase(&entry->entry);
  for (auto it = events_.begin(); it != events_.end(); ++it) {
    if (*it == entry) {
      events_.erase(it);
      break;
    }
  }
  return status;
}

PKSEVENT_ENTRY NextEvent(PVOID extension, const GUID* set, ULONG id, PKSEVENT_ENTRY current) {
  Adapter* adapter = Adapter::FromExtension(extension);
  if (adapter == nullptr) {
    BugCheck("STREAM_CLASS", "StreamClassGetNextEvent with an unknown device extension");
  }
  std::lock_guard<std::mutex> lock(T().mutex);
  bool afterCurrent = current == nullptr;
  for (const auto& event : adapter->events_) {
    if (!afterCurrent) {
      afterCurrent = &event->entry == current;
      continue;
    }
    if (event->id == id && std::memcmp(&event->set, set, sizeof(GUID)) == 0) {
      return &event->entry;
    }
  }
  return nullptr;
}

NTSTATUS RegisterFilter(PDEVICE_OBJECT device, const GUID* interfaceClass, ULONG pinCount,
                        BOOLEAN* pinDirections, KSPIN_MEDIUM* mediums) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "StreamClassRegisterFilterWithNoKSPins");
  Adapter* adapter = Adapter::FromPhysicalDevice(device);
  if (adapter == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  FilterRegistration registration{*interfaceClass, pinCount, {}, {}};
  for (ULONG i = 0; i < pinCount; i++) {
    registration.pinDirections.push_back(pinDirections[i] != FALSE);
    registration.mediums.push_back(mediums[i]);
  }
  std::lock_guard<std::mutex> lock(T().mutex);
  adapter->registrations_.push_back(registration);
  return STATUS_SUCCESS;
}

std::vector<FilterRegistration> Adapter::Registrations() {
  std::lock_guard<std::mutex> lock(T().mutex);
  return registrations_;
}

std::unique_ptr<Stream> Adapter::OpenStream(ULONG streamNumber, const KSDATAFORMAT& format,
                                            NTSTATUS* status) {
  std::unique_ptr<Stream> stream(new Stream(*this, streamNumber));
  auto request = NewDeviceRequest(SRB_OPEN_STREAM);
  request->Srb()->StreamObject = stream->Object();
  request->Format() = format;
  request->Srb()->CommandData.OpenFormat = &request->Format();
  Deliver(request);
  if (!request->Wait()) {
    BugCheck("SRB_NEVER_COMPLETED", "SRB_OPEN_STREAM not completed within 30 s");
  }
  *status = request->Status();
  if (!NT_SUCCESS(*status)) {
    return nullptr;
  }
  if (stream->Object()->ReceiveDataPacket == nullptr ||
      stream->Object()->ReceiveControlPacket == nullptr) {
    BugCheck("STREAM_CLASS", "a stream opened without its data and control routines");
  }
  stream->open_ = true;
  return stream;
}

// ---- Stream ------------------------------------------------------------

Stream::Stream(Adapter& adapter, ULONG number) : adapter_(adapter) {
  extensionBytes_ = adapter.driver_.Registration().PerStreamExtensionSize;
  extension_ = AllocateExtension(extensionBytes_, FreshByte);
  object_.reset(new HW_STREAM_OBJECT{});
  object_->SizeOfThisPacket = sizeof(HW_STREAM_OBJECT);
  object_->StreamNumber = number;
  object_->HwStreamExtension = extension_;
  object_->HwDeviceExtension = adapter.extension_;
}

Stream::~Stream() {
  if (open_) {
    Close();
  }
  ReleaseExtension(extension_, extensionBytes_);
}

NTSTATUS Stream::Close() {
  auto request = BeginClose();
  adapter_.Deliver(request);
  return EndClose(request);
}

std::shared_ptr<Request> Stream::BeginClose() {
  auto request = adapter_.NewDeviceRequest(SRB_CLOSE_STREAM);
  request->Srb()->StreamObject = object_.get();
  return request;
}

NTSTATUS Stream::EndClose(const std::shared_ptr<Request>& request) {
  if (!request->Wait()) {
    BugCheck("SRB_NEVER_COMPLETED", "SRB_CLOSE_STREAM not completed within 30 s");
  }
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    for (const auto& [srb, outstanding] : T().outstanding) {
      if (outstanding->Kind() != RequestKind::Device && srb->StreamObject == object_.get()) {
        BugCheck("SRB_OUTSTANDING_AT_CLOSE",
                 CommandName(outstanding->Command()) + " of the stream still outstanding after "
                                                       "SRB_CLOSE_STREAM completed");
      }
    }
  }
  open_ = false;
  std::memset(extension_, PoisonByte, extensionBytes_);
  return request->Status();
}

std::shared_ptr<Request> Stream::NewControlRequest(SRB_COMMAND command) {
  auto request = adapter_.MakeRequest(RequestKind::Control, command);
  request->Srb()->StreamObject = object_.get();
  return request;
}

std::shared_ptr<Request> Stream::NewRead(ULONG bufferSize, ULONG frameExtent) {
  auto request = adapter_.MakeRequest(RequestKind::Data, SRB_READ_DATA);
  PHW_STREAM_REQUEST_BLOCK srb = request->Srb();
  srb->StreamObject = object_.get();
  request->Buffer().assign(bufferSize, FreshByte);
  KSSTREAM_HEADER& header = request->Header();
  header.Size = sizeof(KSSTREAM_HEADER);
  header.FrameExtent = frameExtent;
  header.Data = request->Buffer().data();
  srb->CommandData.DataBufferArray = &header;
  srb->NumberOfBuffers = 1;
  srb->Irp = &request->irp_;
  srb->Flags = SRB_HW_FLAGS_STREAM_REQUEST | SRB_HW_FLAGS_DATA_TRANSFER;
  return request;
}

void Stream::Deliver(const std::shared_ptr<Request>& request, KIRQL irql) {
  adapter_.Track(request);
  IrqlScope scope(irql);
  if (request->Kind() == RequestKind::Data) {
    object_->ReceiveDataPacket(request->Srb());
    RequireCleanReturn(irql, "ReceiveDataPacket");
  } else {
    object_->ReceiveControlPacket(request->Srb());
    RequireCleanReturn(irql, "ReceiveControlPacket");
  }
}

NTSTATUS Stream::SetState(KSSTATE state) {
  auto request = NewControlRequest(SRB_SET_STREAM_STATE);
  request->Srb()->CommandData.StreamState = state;
  Deliver(request);
  request->Wait();
  return request->Status();
}

NTSTATUS Stream::GetState(KSSTATE* state) {
  auto request = NewControlRequest(SRB_GET_STREAM_STATE);
  Deliver(request);
  request->Wait();
  *state = request->CompletedCommandData().StreamState;
  return request->Status();
}

NTSTATUS Stream::GetProperty(const GUID& set, ULONG id, void* data, ULONG size, ULONG* returned) {
  const HW_STREAM_DESCRIPTOR& descriptor = adapter_.Descriptor();
  if (object_->StreamNumber >= descriptor.StreamHeader.NumberOfStreams) {
    return STATUS_NOT_FOUND;
  }
  const HW_STREAM_INFORMATION& info = (&descriptor.StreamInfo)[object_->StreamNumber];
  ULONG index = 0;
  NTSTATUS status = adapter_.CheckProperty(info.StreamPropertiesArray,
                                           info.NumStreamPropArrayEntries, set, id, true, size,
                                           sizeof(KSPROPERTY), &index);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  auto request = NewControlRequest(SRB_GET_STREAM_PROPERTY);
  request->PropertyId() = KSPROPERTY{{{set, id, KSPROPERTY_TYPE_GET}}};
  request->Property() = STREAM_PROPERTY_DESCRIPTOR{&request->PropertyId(), index, data,
                                                   sizeof(KSPROPERTY), size};
  request->Srb()->CommandData.PropertyInfo = &request->Property();
  Deliver(request);
  request->Wait();
  if (returned != nullptr) {
    *returned = request->ActualBytes();
  }
  return request->Status();
}

}  // namespace emu

// ---- The stream class driver's exports ------------------------------------

extern "C" {

NTSTATUS STREAMAPI StreamClassRegisterAdapter(PVOID Argument1, PVOID Argument2,
                                              PHW_INITIALIZATION_DATA HwInitializationData) {
  return emu::RegisterMinidriver(Argument1, Argument2, HwInitializationData);
}

VOID StreamClassDeviceNotification(STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE NotificationType,
                                   PVOID HwDeviceExtension, ...) {
  UNREFERENCED_PARAMETER(HwDeviceExtension);
  va_list arguments;
  va_start(arguments, HwDeviceExtension);
  PVOID third = va_arg(arguments, PVOID);
  va_end(arguments);
  switch (NotificationType) {
    case DeviceRequestComplete:
      emu::CompleteRequest(static_cast<PHW_STREAM_REQUEST_BLOCK>(third), emu::RequestKind::Device,
                           nullptr);
      break;
    case SignalDeviceEvent:
      emu::SignalEvent(static_cast<PKSEVENT_ENTRY>(third));
      break;
    case ReadyForNextDeviceRequest:
      break;
    default:
      emu::BugCheck("STREAM_CLASS", "unsupported device notification " +
                                        std::to_string(static_cast<int>(NotificationType)));
  }
}

VOID StreamClassStreamNotification(STREAM_MINIDRIVER_STREAM_NOTIFICATION_TYPE NotificationType,
                                   PHW_STREAM_OBJECT StreamObject, ...) {
  va_list arguments;
  va_start(arguments, StreamObject);
  PVOID third = va_arg(arguments, PVOID);
  va_end(arguments);
  switch (NotificationType) {
    case StreamRequestComplete: {
      PHW_STREAM_REQUEST_BLOCK srb = static_cast<PHW_STREAM_REQUEST_BLOCK>(third);
      emu::CompleteRequest(srb, emu::RequestKind::Control, StreamObject);
      break;
    }
    case ReadyForNextStreamDataRequest:
    case ReadyForNextStreamControlRequest:
      break;
    default:
      emu::BugCheck("STREAM_CLASS", "unsupported stream notification " +
                                        std::to_string(static_cast<int>(NotificationType)));
  }
}

PKSEVENT_ENTRY STREAMAPI StreamClassGetNextEvent(PVOID HwInstanceExtension_OR_HwDeviceExtension,
                                                 PHW_STREAM_OBJECT HwStreamObject,
                                                 GUID* EventGuid, ULONG EventItem,
                                                 PKSEVENT_ENTRY CurrentEvent) {
  emu::RequireIrqlAtMost(DISPATCH_LEVEL, "StreamClassGetNextEvent");
  emu::RequireNoDriverLock("StreamClassGetNextEvent");
  if (HwStreamObject != nullptr) {
    return nullptr;
  }
  return emu::NextEvent(HwInstanceExtension_OR_HwDeviceExtension, EventGuid, EventItem,
                        CurrentEvent);
}

NTSTATUS STREAMAPI StreamClassRegisterFilterWithNoKSPins(PDEVICE_OBJECT DeviceObject,
                                                         const GUID* InterfaceClassGUID,
                                                         ULONG PinCount, BOOLEAN* PinDirection,
                                                         KSPIN_MEDIUM* MediumList,
                                                         GUID* CategoryList) {
  UNREFERENCED_PARAMETER(CategoryList);
  return emu::RegisterFilter(DeviceObject, InterfaceClassGUID, PinCount, PinDirection, MediumList);
}

}  // extern "C"
