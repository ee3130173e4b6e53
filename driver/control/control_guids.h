// GUIDs of the private control interface as driver constants, named in the
// platform's style. Their values live in control_interface.h.
#pragma once

#include "../adapter/ddk.h"
#include "control_interface.h"

extern const GUID GUID_DEVINTERFACE_CONTROL;

extern const GUID PROPSETID_I2C_TRANSACTION;
extern const GUID PROPSETID_I2C_REPLY;
extern const GUID PROPSETID_SECTION_READ;
extern const GUID PROPSETID_SECTION_FILTER;
extern const GUID PROPSETID_PID_LIST;
extern const GUID PROPSETID_DEVICE_COMMAND;
extern const GUID PROPSETID_STATISTICS;
extern const GUID PROPSETID_RECORDING;
extern const GUID PROPSETID_COMMAND_REPLY;
extern const GUID PROPSETID_GUIDE_COLLECTION;
extern const GUID PROPSETID_GUIDE_READ;
extern const GUID PROPSETID_VIDEO_INFO;
extern const GUID PROPSETID_VIDEO_PID;

extern const GUID EVENTSETID_SECTION_READY;
extern const GUID EVENTSETID_COMMAND_REPLY;
extern const GUID EVENTSETID_GUIDE_COMPLETE;
extern const GUID EVENTSETID_VIDEO_INFO;
