// Capture stream control: open and close, the format negotiation, the
// stream state, the two stream properties and the master clock.
#pragma once

#include "device_context.h"

// Device SRB handlers (PASSIVE_LEVEL, device queue owner).
VOID OpenCaptureStream(PHW_STREAM_REQUEST_BLOCK Srb);
VOID CloseCaptureStream(PHW_STREAM_REQUEST_BLOCK Srb);
VOID IntersectFormat(PHW_STREAM_REQUEST_BLOCK Srb);

// Control SRB handlers (IRQL <= DISPATCH_LEVEL, control queue owner).
VOID GetCaptureState(PHW_STREAM_REQUEST_BLOCK Srb);
VOID SetCaptureState(PHW_STREAM_REQUEST_BLOCK Srb);
VOID GetStreamProperty(PHW_STREAM_REQUEST_BLOCK Srb);
VOID StoreMasterClock(PHW_STREAM_REQUEST_BLOCK Srb);

// Format helpers. Any IRQL; no lock.
BOOLEAN FormatMatches(const KSDATAFORMAT* First, const KSDATAFORMAT* Second, BOOLEAN CompareSize);
BOOLEAN StreamFormatSupported(const KSDATAFORMAT* Format, ULONG StreamNumber);
BOOLEAN CheckMajorFormat(PHW_STREAM_REQUEST_BLOCK Srb);
