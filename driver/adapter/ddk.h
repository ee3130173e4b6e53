// Platform headers of the driver. The build decides which directory provides
// them: the DDK headers of mingw-w64 for Windows, platform/include on the host.
#pragma once

extern "C" {
#include <ntddk.h>
#include <tchar.h>
#include <strmini.h>
#include <ksmedia.h>
#include <usbdi.h>
#include <usbdlib.h>
}

// Pool tags are four characters, first character in the lowest byte.
constexpr ULONG MakePoolTag(char a, char b, char c, char d) {
  return static_cast<ULONG>(static_cast<UCHAR>(a)) |
         static_cast<ULONG>(static_cast<UCHAR>(b)) << 8 |
         static_cast<ULONG>(static_cast<UCHAR>(c)) << 16 |
         static_cast<ULONG>(static_cast<UCHAR>(d)) << 24;
}

// Tag of every pool block the driver allocates itself.
constexpr ULONG DriverPoolTag = MakePoolTag('W', 'd', 'm', ' ');
