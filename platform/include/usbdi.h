/*
 * Emulated platform: USB driver interface (URBs and bus I/O control codes).
 */
#pragma once

#include "usb.h"
#include "usbioctl.h"
