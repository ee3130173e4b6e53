// NTSTATUS names (see status_text.h).
#include "status_text.h"

#include <cstdio>

extern "C" {
#include <ntstatus.h>
#include <ntdef.h>
}

namespace dtv {

std::string StatusName(int32_t status) {
  struct Name {
    NTSTATUS value;
    const char* name;
  };
  static const Name names[] = {
      {STATUS_SUCCESS, "STATUS_SUCCESS"},
      {STATUS_TIMEOUT, "STATUS_TIMEOUT"},
      {STATUS_PENDING, "STATUS_PENDING"},
      {STATUS_BUFFER_OVERFLOW, "STATUS_BUFFER_OVERFLOW"},
      {STATUS_NO_DATA_DETECTED, "STATUS_NO_DATA_DETECTED"},
      {STATUS_UNSUCCESSFUL, "STATUS_UNSUCCESSFUL"},
      {STATUS_NOT_IMPLEMENTED, "STATUS_NOT_IMPLEMENTED"},
      {STATUS_INVALID_PARAMETER, "STATUS_INVALID_PARAMETER"},
      {STATUS_NO_SUCH_DEVICE, "STATUS_NO_SUCH_DEVICE"},
      {STATUS_INVALID_DEVICE_REQUEST, "STATUS_INVALID_DEVICE_REQUEST"},
      {STATUS_NO_MEMORY, "STATUS_NO_MEMORY"},
      {STATUS_BUFFER_TOO_SMALL, "STATUS_BUFFER_TOO_SMALL"},
      {STATUS_INSUFFICIENT_RESOURCES, "STATUS_INSUFFICIENT_RESOURCES"},
      {STATUS_DEVICE_DATA_ERROR, "STATUS_DEVICE_DATA_ERROR"},
      {STATUS_DEVICE_NOT_CONNECTED, "STATUS_DEVICE_NOT_CONNECTED"},
      {STATUS_IO_TIMEOUT, "STATUS_IO_TIMEOUT"},
      {STATUS_CANCELLED, "STATUS_CANCELLED"},
      {STATUS_NOT_FOUND, "STATUS_NOT_FOUND"},
      {STATUS_NO_MATCH, "STATUS_NO_MATCH"},
      {STATUS_REVISION_MISMATCH, "STATUS_REVISION_MISMATCH"},
      {STATUS_PROPSET_NOT_FOUND, "STATUS_PROPSET_NOT_FOUND"},
      {STATUS_INVALID_BUFFER_SIZE, "STATUS_INVALID_BUFFER_SIZE"},
  };
  for (const Name& name : names) {
    if (name.value == status) {
      return name.name;
    }
  }
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
  return text;
}

}  // namespace dtv
