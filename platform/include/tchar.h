/* Emulated platform: generic-text type used by the kernel-streaming headers. */
#pragma once

#include "ntdef.h"

typedef WCHAR TCHAR;
