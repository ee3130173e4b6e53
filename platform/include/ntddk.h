/*
 * Emulated platform: kernel-mode driver interfaces (everything the driver
 * uses lives in wdm.h).
 */
#pragma once

#include "wdm.h"
