// The filter's constant descriptor tables: one MPEG-2 transport stream
// capture pin, its data range and stream properties, the private property and
// event sets, and the topology. Filled into SRB_GET_STREAM_INFO by
// FillStreamDescriptor.
#pragma once

#include "ddk.h"

constexpr ULONG CaptureStreamCount = 1;      // stream numbers below this exist
constexpr ULONG CaptureStreamInstances = 1;  // open instances allowed per stream
constexpr ULONG PrivatePropertySetCount = 13;
constexpr ULONG PrivateEventSetCount = 4;

// The pin's one data range, also the format a data intersection returns.
extern const KSDATARANGE CaptureDataRange;

// The stream's format list (one entry).
extern KSDATAFORMAT* const CaptureFormats[];
constexpr ULONG CaptureFormatCount = 1;

// Values copied into the stream object when the capture stream opens.
extern const HW_STREAM_OBJECT CaptureStreamTemplate;

// Size of the descriptor the stream class driver allocates for
// SRB_GET_STREAM_INFO: the header and one stream information.
constexpr ULONG StreamDescriptorBytes = sizeof(HW_STREAM_HEADER) + sizeof(HW_STREAM_INFORMATION);

// Stream property sets: KSPROPSETID_Connection and PROPSETID_VIDCAP_DROPPEDFRAMES.
extern const GUID ConnectionSetId;
extern const GUID DroppedFramesSetId;

// SRB_GET_STREAM_INFO: copies the stream header and the stream information
// into the descriptor buffer. Any IRQL; no lock.
VOID FillStreamDescriptor(PHW_STREAM_REQUEST_BLOCK Srb);
