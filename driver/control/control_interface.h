/*
 * The private control interface shared by the driver and the companion
 * application: the device interface class, the property and event sets with
 * their ids, and the data layouts of the property requests.
 *
 * Plain data only, so that a user-mode program on either side can include it
 * unchanged. GUIDs are given as STATIC_ initializer lists, in the style of the
 * kernel-streaming headers: `const GUID g = {STATIC_PROPSETID_RECORDING};`.
 */
#ifndef DTV_CONTROL_INTERFACE_H
#define DTV_CONTROL_INTERFACE_H

/* Device interface through which the application finds the adapter. */
#define STATIC_GUID_DEVINTERFACE_CONTROL \
  0x37C2A086L, 0x24F3, 0x4ED2, { 0x85, 0x01, 0xA1, 0xCD, 0x7E, 0x50, 0xBB, 0x08 }
#define CONTROL_INTERFACE_REFERENCE "GLOBAL"

/* ---- Property sets, in the order of the filter's property table ------- */

#define STATIC_PROPSETID_I2C_TRANSACTION \
  0x7E797F9FL, 0xB60A, 0x4A7D, { 0x86, 0xFA, 0x2B, 0x4F, 0x7E, 0x3D, 0x92, 0xAD }
#define STATIC_PROPSETID_I2C_REPLY \
  0x85345F1FL, 0x1E5E, 0x429C, { 0xB4, 0x34, 0x82, 0xA4, 0xB8, 0x0E, 0x32, 0x74 }
#define STATIC_PROPSETID_SECTION_READ \
  0xDD18F3F2L, 0xC685, 0x48CB, { 0x95, 0x7D, 0xC7, 0xAF, 0xA2, 0xFE, 0x24, 0xB8 }
#define STATIC_PROPSETID_SECTION_FILTER \
  0xCED257BCL, 0x934A, 0x48D9, { 0xBD, 0xF3, 0x68, 0x51, 0xB4, 0x67, 0x94, 0xA4 }
#define STATIC_PROPSETID_PID_LIST \
  0x213A31A6L, 0xD5D3, 0x4758, { 0xA4, 0xAA, 0x99, 0x43, 0x91, 0xC8, 0xDA, 0x44 }
#define STATIC_PROPSETID_DEVICE_COMMAND \
  0x9B36E21AL, 0xAE37, 0x4776, { 0xAF, 0x0E, 0x5E, 0x26, 0x80, 0x3F, 0xA6, 0xE4 }
#define STATIC_PROPSETID_STATISTICS \
  0x152F2A58L, 0x62E8, 0x49C6, { 0xA7, 0x6E, 0x75, 0xC2, 0x10, 0x62, 0xBA, 0xD5 }
#define STATIC_PROPSETID_RECORDING \
  0xE8EE62B6L, 0x6772, 0x4D6D, { 0x83, 0x29, 0x81, 0xAF, 0xB2, 0x86, 0x5F, 0x06 }
#define STATIC_PROPSETID_COMMAND_REPLY \
  0xEE0ADC75L, 0xA4CE, 0x4E8F, { 0x9C, 0x84, 0x34, 0x89, 0x8E, 0x59, 0xC6, 0x9D }
#define STATIC_PROPSETID_GUIDE_COLLECTION \
  0x93C38EA1L, 0x3057, 0x4AA3, { 0x84, 0xB2, 0x77, 0x99, 0x2A, 0x6F, 0x2F, 0xA1 }
#define STATIC_PROPSETID_GUIDE_READ \
  0x376F9F20L, 0xAF1F, 0x494B, { 0x9E, 0x64, 0x62, 0x29, 0x21, 0x05, 0x87, 0x49 }
#define STATIC_PROPSETID_VIDEO_INFO \
  0x980BC754L, 0x87FB, 0x43CD, { 0x8B, 0x90, 0x74, 0x7B, 0xE0, 0xB9, 0x52, 0x30 }
#define STATIC_PROPSETID_VIDEO_PID \
  0x5C396045L, 0x31AD, 0x49AE, { 0x80, 0x0B, 0xE3, 0xDA, 0xD0, 0xF2, 0xCF, 0xC3 }

/* Property item ids. */
enum {
  PROPERTY_I2C_TRANSACTION = 0,
  PROPERTY_I2C_REPLY = 1,
  PROPERTY_SECTION_FILTER = 2,
  PROPERTY_SECTION_READ = 3,
  PROPERTY_PID_LIST = 4,
  PROPERTY_DEVICE_COMMAND = 5,
  PROPERTY_STATISTICS = 6,
  PROPERTY_RECORDING_START = 7,
  PROPERTY_RECORDING_STOP = 8,
  PROPERTY_COMMAND_REPLY = 9,
  PROPERTY_GUIDE_START = 10,
  PROPERTY_GUIDE_READ = 11,
  PROPERTY_GUIDE_STOP = 12,
  PROPERTY_VIDEO_PID = 13,
  PROPERTY_VIDEO_INFO = 14
};

/* Smallest data buffer of each property item. */
enum {
  MIN_DATA_I2C_TRANSACTION = 3,
  MIN_DATA_I2C_REPLY = 65,
  MIN_DATA_SECTION_READ = 8,
  MIN_DATA_SECTION_FILTER = 4,
  MIN_DATA_PID_LIST = 34,
  MIN_DATA_DEVICE_COMMAND = 0,
  MIN_DATA_STATISTICS = 0,
  MIN_DATA_RECORDING = 102,
  MIN_DATA_COMMAND_REPLY = 0,
  MIN_DATA_GUIDE_COLLECTION = 12,
  MIN_DATA_GUIDE_READ = 12,
  MIN_DATA_VIDEO_INFO = 6,
  MIN_DATA_VIDEO_PID = 2
};

/* ---- Event sets, in the order of the filter's event table ------------- */

#define STATIC_EVENTSETID_SECTION_READY \
  0x57CA1ABCL, 0x7502, 0x4709, { 0x9E, 0x6E, 0x4D, 0xD2, 0xD9, 0xEA, 0xEE, 0x06 }
#define STATIC_EVENTSETID_COMMAND_REPLY \
  0x271BD3AAL, 0x18EA, 0x4C18, { 0xA7, 0xD4, 0x2B, 0x0C, 0x15, 0xA9, 0x94, 0x27 }
#define STATIC_EVENTSETID_GUIDE_COMPLETE \
  0x5673C817L, 0xEB9F, 0x4EDB, { 0x80, 0x2A, 0xD0, 0xD0, 0x26, 0x40, 0x6B, 0x2E }
#define STATIC_EVENTSETID_VIDEO_INFO \
  0x9BD8EB1FL, 0x67FC, 0x4C42, { 0x87, 0x59, 0xFF, 0x89, 0x66, 0xA8, 0x43, 0x6F }

enum {
  EVENT_SECTION_READY = 0,
  EVENT_COMMAND_REPLY = 1,
  EVENT_GUIDE_COMPLETE = 2,
  EVENT_VIDEO_INFO = 3
};

/* ---- Presence values in the registry ---------------------------------- */

#define PRESENCE_ARRIVAL_KEY "\\REGISTRY\\Machine\\SOFTWARE\\Halvik\\Brindle\\Activate"
#define PRESENCE_DEPARTURE_KEY "\\REGISTRY\\Machine\\SOFTWARE\\Halvik\\Brindle\\Hybernate"
#define PRESENCE_VALUE_NAME "Brindle"
#define PRESENCE_VALUE_DATA 100

#endif
