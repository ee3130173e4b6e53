// Signals of the private device events. The stream class driver keeps the
// enabled entries; the driver looks one up when a result is ready.
#pragma once

#include "../adapter/device_context.h"

// Signals the first enabled entry of one event; nothing when none is
// enabled. IRQL <= DISPATCH_LEVEL; no lock.
VOID SignalPrivateEvent(DeviceContext* Device, const GUID* EventSet, ULONG EventId);
