// Device start and stop: SRB_INITIALIZE_DEVICE, SRB_INITIALIZATION_COMPLETE
// and SRB_UNINITIALIZE_DEVICE. PASSIVE_LEVEL, device queue owner.
#pragma once

#include "device_context.h"

VOID InitializeDevice(PHW_STREAM_REQUEST_BLOCK Srb);
VOID AnnounceDevice(PHW_STREAM_REQUEST_BLOCK Srb);
VOID UninitializeDevice(PHW_STREAM_REQUEST_BLOCK Srb);
