// Host side of the emulated executive: what tests, the simulator and the
// companion tool use to set up and observe the platform the driver runs on.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "checks.h"
#include "pool.h"

namespace emu {

// Scales every time-out and delay the driver asks for (0.01 makes a
// five-second time-out last 50 ms).
void SetTimeScale(double scale);
std::chrono::nanoseconds ScaledInterval(LONGLONG hundredNanoseconds);

// System worker threads (ExQueueWorkItem, IoQueueWorkItem).
class WorkQueue {
 public:
  // Waits until no work item is queued or running.
  static void WaitIdle();
  // Work items queued since the process started.
  static uint64_t ItemsQueued();
  // Bug check when an IO_WORKITEM is still allocated.
  static void CheckNoWorkItems(const std::string& when);
};

// The in-memory registry. Keys exist only once created here (the driver only
// opens keys), as the companion application would create them.
class Registry {
 public:
  struct Value {
    ULONG type;
    std::vector<uint8_t> data;
  };
  static void CreateKey(const std::string& path);
  static bool KeyExists(const std::string& path);
  static std::optional<Value> ReadValue(const std::string& path, const std::string& name);
  static void Clear();
  // Bug check when a handle is still open.
  static void CheckNoOpenHandles(const std::string& when);
};

// Device interfaces registered by drivers.
class DeviceInterfaces {
 public:
  struct Interface {
    std::string symbolicLink;
    GUID interfaceClass;
    std::string referenceString;
    PDEVICE_OBJECT physicalDevice;
    bool enabled;
  };
  static std::vector<Interface> All();
  static void Clear();
  // The next registration fails with the given status.
  static void FailNextRegistration(NTSTATUS status);
};

// Everything the driver printed with DbgPrint, in order, one entry per call.
class DebugLog {
 public:
  static std::vector<std::string> Messages();
  static std::string Text();
  static void Clear();
  // Also copy each message to stderr as it is printed.
  static void SetEcho(bool echo);
};

// IRPs allocated with IoAllocateIrp and not freed.
class Irps {
 public:
  static size_t Outstanding();
  static void CheckNoneOutstanding(const std::string& when);
  // The next IoAllocateIrp returns none.
  static void FailNextAllocation();
};

std::string Utf8(PCWSTR text, size_t characters);
std::string Utf8(const UNICODE_STRING& text);
std::string GuidString(const GUID& guid);

}  // namespace emu
