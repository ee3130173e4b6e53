/*
 * Emulated platform: the internal I/O control codes of the USB bus driver.
 */
#pragma once

#define FILE_DEVICE_USB 0x00000022
#define METHOD_NEITHER 3
#define FILE_ANY_ACCESS 0
#define CTL_CODE(DeviceType, Function, Method, Access) \
  (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))

#define USB_SUBMIT_URB 0
#define IOCTL_INTERNAL_USB_SUBMIT_URB \
  CTL_CODE(FILE_DEVICE_USB, USB_SUBMIT_URB, METHOD_NEITHER, FILE_ANY_ACCESS)
