/*
 * Emulated platform: media-type and capture identifiers and the capture
 * property records the driver answers.
 */
#pragma once

#include "ks.h"

#define STATIC_KSDATAFORMAT_TYPE_MPEG2_TRANSPORT \
  0xE06D8023L, 0xDB46, 0x11CF, { 0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA }

#define STATIC_PINNAME_VIDEO_CAPTURE \
  0xFB6C4281L, 0x0353, 0x11D1, { 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA }

#define STATIC_PROPSETID_VIDCAP_DROPPEDFRAMES \
  0xC6E13344L, 0x30AC, 0x11D0, { 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56 }

typedef enum {
  KSPROPERTY_DROPPEDFRAMES_CURRENT
} KSPROPERTY_VIDCAP_DROPPEDFRAMES;

typedef struct {
  KSPROPERTY Property;
  LONGLONG PictureNumber;
  LONGLONG DropCount;
  ULONG AverageFrameSize;
} KSPROPERTY_DROPPEDFRAMES_CURRENT_S, *PKSPROPERTY_DROPPEDFRAMES_CURRENT_S;
