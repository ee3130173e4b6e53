// Calls into the stream class driver whose declarations differ between the
// platform's headers and mingw-w64's (calling convention, fixed argument
// lists). Every such call goes through here, so the adjustment lives in one
// place. IRQL <= DISPATCH_LEVEL; called with no lock held.
#pragma once

#include "ddk.h"

// The stream class driver exports these with its own calling convention;
// calling through a pointer of that type is right whatever the prototype says.
typedef PKSEVENT_ENTRY(STREAMAPI* GetNextEventRoutine)(PVOID, PHW_STREAM_OBJECT, GUID*, ULONG,
                                                       PKSEVENT_ENTRY);
typedef NTSTATUS(STREAMAPI* RegisterFilterRoutine)(PDEVICE_OBJECT, const GUID*, ULONG, BOOLEAN*,
                                                   KSPIN_MEDIUM*, GUID*);

// First enabled entry of a device event, or none.
inline PKSEVENT_ENTRY GetFirstDeviceEvent(PVOID DeviceExtension, const GUID* EventSet,
                                          ULONG EventId) {
  GetNextEventRoutine getNextEvent = reinterpret_cast<GetNextEventRoutine>(&StreamClassGetNextEvent);
  return getNextEvent(DeviceExtension, nullptr, const_cast<GUID*>(EventSet), EventId, nullptr);
}

// Signals one event entry. The entry travels in the third argument, which
// some prototypes type as an SRB.
inline VOID SignalDeviceEventEntry(PVOID DeviceExtension, PKSEVENT_ENTRY Entry) {
  StreamClassDeviceNotification(SignalDeviceEvent, DeviceExtension,
                                reinterpret_cast<PHW_STREAM_REQUEST_BLOCK>(Entry), nullptr, nullptr,
                                0);
}

// Registers the filter of a device that exposes no KS pins of its own.
inline NTSTATUS RegisterFilter(PDEVICE_OBJECT Device, const GUID* InterfaceClass, ULONG PinCount,
                               BOOLEAN* PinDirection, KSPIN_MEDIUM* Mediums) {
  RegisterFilterRoutine registerFilter =
      reinterpret_cast<RegisterFilterRoutine>(&StreamClassRegisterFilterWithNoKSPins);
  return registerFilter(Device, InterfaceClass, PinCount, PinDirection, Mediums, nullptr);
}
