// Device event signals (see device_events.h).
#include "device_events.h"

#include "../adapter/class_calls.h"

VOID SignalPrivateEvent(DeviceContext* Device, const GUID* EventSet, ULONG EventId) {
  PKSEVENT_ENTRY entry = GetFirstDeviceEvent(Device, EventSet, EventId);
  if (entry != nullptr) {
    SignalDeviceEventEntry(Device, entry);
  }
}
