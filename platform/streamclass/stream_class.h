// The emulated stream class driver: loads a minidriver, starts adapters,
// delivers device, control and data SRBs from any thread at the IRQL the
// caller chooses, checks property and event requests against the driver's
// tables, keeps enabled events, and checks that every SRB is completed
// exactly once with the notification that fits it. A completed SRB is
// poisoned at once, so a use after completion shows.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <strmini.h>
}

namespace emu {

class Adapter;
class Stream;

// A loaded minidriver. Unloading (the destructor) checks that the driver
// left nothing behind: pool blocks, IRPs, work items, registry handles.
class Minidriver {
 public:
  explicit Minidriver(PDRIVER_INITIALIZE entry);
  ~Minidriver();
  Minidriver(const Minidriver&) = delete;
  Minidriver& operator=(const Minidriver&) = delete;

  NTSTATUS EntryStatus() const { return entryStatus_; }
  bool Registered() const { return registered_; }
  const HW_INITIALIZATION_DATA& Registration() const { return registration_; }
  PDRIVER_OBJECT DriverObject() { return &driverObject_; }

 private:
  friend NTSTATUS RegisterMinidriver(PVOID, PVOID, PHW_INITIALIZATION_DATA);
  DRIVER_OBJECT driverObject_{};
  UNICODE_STRING registryPath_{};
  HW_INITIALIZATION_DATA registration_{};
  bool registered_ = false;
  NTSTATUS entryStatus_ = STATUS_UNSUCCESSFUL;
};

enum class RequestKind { Device, Control, Data };

// One SRB with the storage of its command data. Results are captured when
// the driver completes it, before the SRB is poisoned.
class Request {
 public:
  ~Request();
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  PHW_STREAM_REQUEST_BLOCK Srb() { return srb_; }
  RequestKind Kind() const { return kind_; }
  SRB_COMMAND Command() const { return command_; }

  // Waits for the completion; false when it did not come within the time.
  bool Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  bool Completed();
  NTSTATUS Status();
  ULONG ActualBytes();
  // CommandData as it stood at completion (the state of SRB_GET_STREAM_STATE).
  decltype(HW_STREAM_REQUEST_BLOCK::CommandData) CompletedCommandData();
  // Thread on which the completion arrived and its IRQL.
  std::thread::id CompletionThread();
  KIRQL CompletionIrql();

  // Storage the request points to; tests fill it before delivery.
  std::vector<uint8_t>& Buffer() { return buffer_; }
  KSSTREAM_HEADER& Header() { return header_; }
  STREAM_PROPERTY_DESCRIPTOR& Property() { return property_; }
  KSPROPERTY& PropertyId() { return propertyId_; }
  KSDATAFORMAT& Format() { return format_; }
  KSDATARANGE& Range() { return range_; }
  STREAM_DATA_INTERSECT_INFO& Intersect() { return intersect_; }
  PORT_CONFIGURATION_INFORMATION& Config() { return config_; }

 private:
  friend class Adapter;
  friend class Stream;
  friend void CompleteRequest(PHW_STREAM_REQUEST_BLOCK, RequestKind, PHW_STREAM_OBJECT);
  Request(RequestKind kind, SRB_COMMAND command, Adapter* adapter, ULONG extensionSize);
  void MarkComplete();
  void BeginCallback();
  void EndCallback();
  void Poison();

  RequestKind kind_;
  SRB_COMMAND command_;
  Adapter* adapter_;
  size_t srbBytes_;
  std::unique_ptr<uint8_t[]> storage_;
  PHW_STREAM_REQUEST_BLOCK srb_;
  std::vector<uint8_t> buffer_;
  KSSTREAM_HEADER header_{};
  STREAM_PROPERTY_DESCRIPTOR property_{};
  KSPROPERTY propertyId_{};
  KSDATAFORMAT format_{};
  KSDATARANGE range_{};
  STREAM_DATA_INTERSECT_INFO intersect_{};
  PORT_CONFIGURATION_INFORMATION config_{};
  ACCESS_RANGE accessRanges_[4]{};
  IRP irp_{};

  std::mutex mutex_;
  std::condition_variable completedChanged_;
  bool delivered_ = false;
  bool completed_ = false;
  bool poisoned_ = false;
  int callbacks_ = 0;
  NTSTATUS status_ = STATUS_PENDING;
  ULONG actualBytes_ = 0;
  decltype(HW_STREAM_REQUEST_BLOCK::CommandData) completedData_{};
  std::thread::id completionThread_;
  KIRQL completionIrql_ = PASSIVE_LEVEL;
};

// An enabled device event, as the stream class driver keeps it.
class EventEntry {
 public:
  KSEVENT_ENTRY entry{};
  KSEVENTDATA data{};
  GUID set{};
  ULONG id = 0;

  int Signals();
  // Waits until the event has been signalled more than `seen` times.
  bool WaitSignal(int seen, std::chrono::milliseconds timeout);

 private:
  friend void SignalEvent(PKSEVENT_ENTRY);
  std::mutex mutex_;
  std::condition_variable signalled_;
  int signals_ = 0;
};

struct FilterRegistration {
  GUID interfaceClass;
  ULONG pinCount;
  std::vector<bool> pinDirections;
  std::vector<KSPIN_MEDIUM> mediums;
};

// One adapter (device) of the minidriver on a physical device object.
class Adapter {
 public:
  Adapter(Minidriver& driver, PDEVICE_OBJECT physicalDevice);
  // Removal: waits for the driver's work to settle, then bug-checks on any
  // SRB not completed.
  ~Adapter();
  Adapter(const Adapter&) = delete;
  Adapter& operator=(const Adapter&) = delete;

  // The start sequence: SRB_INITIALIZE_DEVICE, SRB_GET_STREAM_INFO with a
  // buffer of the declared size, SRB_INITIALIZATION_COMPLETE. Stops at the
  // first failure and returns its status.
  NTSTATUS Start(ULONG accessRanges = 0);
  NTSTATUS Stop();
  bool Started() const { return started_; }

  std::shared_ptr<Request> NewDeviceRequest(SRB_COMMAND command);
  // Delivers an SRB to the driver on the calling thread at the given IRQL.
  void Deliver(const std::shared_ptr<Request>& request, KIRQL irql = PASSIVE_LEVEL);
  // New device SRB, delivered at PASSIVE_LEVEL and waited for; its status.
  NTSTATUS Send(SRB_COMMAND command);

  // HwCancelPacket for an outstanding SRB; nothing for a completed one.
  void Cancel(const std::shared_ptr<Request>& request);
  // One second passes for every outstanding SRB; HwRequestTimeoutHandler
  // is called for each whose countdown reaches 0. Returns how many were
  // called, and how many of them were left at 0 (would have timed out).
  std::pair<int, int> TickTimeouts();

  // Sends SRB_GET_STREAM_INFO and returns the descriptor bytes.
  std::vector<uint8_t> FetchStreamInfo(NTSTATUS* status);
  const std::vector<uint8_t>& DescriptorBytes() const { return descriptor_; }
  const HW_STREAM_DESCRIPTOR& Descriptor() const;
  ULONG DeclaredDescriptorSize() const { return descriptorSize_; }

  // Property requests, checked against the driver's tables first. A request
  // that fails the check never reaches the driver.
  NTSTATUS GetDeviceProperty(const GUID& set, ULONG id, void* data, ULONG size, ULONG* returned,
                             ULONG propertySize = sizeof(KSPROPERTY));
  NTSTATUS SetDeviceProperty(const GUID& set, ULONG id, void* data, ULONG size,
                             ULONG propertySize = sizeof(KSPROPERTY));
  // Property requests delivered to the driver so far.
  int PropertyRequestsDelivered() const { return propertyRequests_; }

  // Enables a device event (through the driver's event routine); the entry
  // joins the list in enable order.
  std::shared_ptr<EventEntry> EnableEvent(const GUID& set, ULONG id, NTSTATUS* status);
  NTSTATUS DisableEvent(const std::shared_ptr<EventEntry>& entry);

  // Opens a stream (SRB_OPEN_STREAM); null with the status when refused.
  std::unique_ptr<Stream> OpenStream(ULONG streamNumber, const KSDATAFORMAT& format,
                                     NTSTATUS* status);

  void* DeviceExtension() { return extension_; }
  PDEVICE_OBJECT PhysicalDevice() { return physicalDevice_; }
  Minidriver& Driver() { return driver_; }
  std::vector<FilterRegistration> Registrations();

  // Lookups of the emulation's global tables.
  static Adapter* FromExtension(PVOID extension);
  static Adapter* FromPhysicalDevice(PDEVICE_OBJECT device);

 private:
  friend class Stream;
  friend NTSTATUS RegisterFilter(PDEVICE_OBJECT, const GUID*, ULONG, BOOLEAN*, KSPIN_MEDIUM*);
  friend PKSEVENT_ENTRY NextEvent(PVOID, const GUID*, ULONG, PKSEVENT_ENTRY);
  NTSTATUS DeviceProperty(bool get, const GUID& set, ULONG id, void* data, ULONG size,
                          ULONG* returned, ULONG propertySize);
  NTSTATUS CheckProperty(const PKSPROPERTY_SET sets, ULONG count, const GUID& set, ULONG id,
                         bool get, ULONG size, ULONG propertySize, ULONG* setIndex);
  void Track(const std::shared_ptr<Request>& request);
  std::shared_ptr<Request> MakeRequest(RequestKind kind, SRB_COMMAND command);

  Minidriver& driver_;
  PDEVICE_OBJECT physicalDevice_;
  DEVICE_OBJECT classDevice_{};
  void* extension_ = nullptr;
  size_t extensionBytes_ = 0;
  ULONG descriptorSize_ = 0;
  std::vector<uint8_t> descriptor_;
  bool started_ = false;
  int propertyRequests_ = 0;

  std::mutex mutex_;
  std::vector<std::shared_ptr<EventEntry>> events_;
  std::vector<FilterRegistration> registrations_;
};

// An open stream (a pin instance). Closing sends SRB_CLOSE_STREAM and checks
// that no SRB of the stream is left outstanding; the extension is then
// poisoned and released.
class Stream {
 public:
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  NTSTATUS Close();
  // Close in two steps, for a test that delivers SRB_CLOSE_STREAM itself:
  // the request, then the wait and the checks that follow a close.
  std::shared_ptr<Request> BeginClose();
  NTSTATUS EndClose(const std::shared_ptr<Request>& request);
  bool Open() const { return open_; }

  std::shared_ptr<Request> NewControlRequest(SRB_COMMAND command);
  // A read SRB with one stream header and a data buffer of `bufferSize` bytes.
  std::shared_ptr<Request> NewRead(ULONG bufferSize, ULONG frameExtent);
  // Delivers a control SRB (ReceiveControlPacket) or a read
  // (ReceiveDataPacket) on the calling thread at the given IRQL.
  void Deliver(const std::shared_ptr<Request>& request, KIRQL irql = PASSIVE_LEVEL);

  NTSTATUS SetState(KSSTATE state);
  NTSTATUS GetState(KSSTATE* state);
  // Stream property request, checked against the stream's property tables.
  NTSTATUS GetProperty(const GUID& set, ULONG id, void* data, ULONG size, ULONG* returned);

  PHW_STREAM_OBJECT Object() { return object_.get(); }
  void* Extension() { return extension_; }
  Adapter& Owner() { return adapter_; }

 private:
  friend class Adapter;
  Stream(Adapter& adapter, ULONG number);

  Adapter& adapter_;
  std::unique_ptr<HW_STREAM_OBJECT> object_;
  void* extension_ = nullptr;
  size_t extensionBytes_ = 0;
  bool open_ = false;
};

// Called on the completing thread right after an SRB is marked complete, before
// control returns to the driver; lets a test hold a queue owner between the
// completion of one SRB and its next dequeue. Null removes the hook.
void SetCompletionHook(std::function<void(Request&)> hook);

// The next StreamClassRegisterAdapter fails with the given status.
void FailNextAdapterRegistration(NTSTATUS status);

// Outstanding SRBs of all adapters (for checks).
size_t OutstandingRequests();

std::string CommandName(SRB_COMMAND command);

}  // namespace emu
