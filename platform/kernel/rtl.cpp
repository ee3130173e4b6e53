// Run-time library string routines and text helpers of the emulation.
#include <cstdio>
#include <cstring>

#include "kernel.h"

namespace emu {
namespace {
constexpr ULONG StringPoolTag = 0x20206C52;  // "Rl  "
}

std::string Utf8(PCWSTR text, size_t characters) {
  std::string out;
  for (size_t i = 0; i < characters; i++) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | ((c >> 12) & 0x0F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Utf8(const UNICODE_STRING& text) {
  return text.Buffer == nullptr ? std::string() : Utf8(text.Buffer, text.Length / sizeof(WCHAR));
}

std::string GuidString(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

}  // namespace emu

extern "C" {

VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
  size_t length = SourceString == nullptr ? 0 : std::wcslen(SourceString) * sizeof(WCHAR);
  DestinationString->Length = static_cast<USHORT>(length);
  DestinationString->MaximumLength =
      static_cast<USHORT>(SourceString == nullptr ? 0 : length + sizeof(WCHAR));
  DestinationString->Buffer = const_cast<PWSTR>(SourceString);
}

VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
  emu::RequireIrqlAtMost(PASSIVE_LEVEL, "RtlFreeUnicodeString");
  if (UnicodeString->Buffer != nullptr) {
    ExFreePool(UnicodeString->Buffer);
  }
  UnicodeString->Buffer = nullptr;
  UnicodeString->Length = 0;
  UnicodeString->MaximumLength = 0;
}

VOID NTAPI RtlInitAnsiString(PANSI_STRING DestinationString, PCSTR SourceString) {
  size_t length = SourceString == nullptr ? 0 : std::strlen(SourceString);
  DestinationString->Length = static_cast<USHORT>(length);
  DestinationString->MaximumLength = static_cast<USHORT>(SourceString == nullptr ? 0 : length + 1);
  DestinationString->Buffer = const_cast<PCHAR>(SourceString);
}

NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString,
                                            PANSI_STRING SourceString,
                                            BOOLEAN AllocateDestinationString) {
  emu::RequireIrqlAtMost(PASSIVE_LEVEL, "RtlAnsiStringToUnicodeString");
  size_t characters = SourceString->Length;
  size_t bytes = (characters + 1) * sizeof(WCHAR);
  if (bytes > 0xFFFF) {
    return STATUS_INVALID_PARAMETER;
  }
  if (AllocateDestinationString) {
    DestinationString->Buffer =
        static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes, emu::StringPoolTag));
    if (DestinationString->Buffer == nullptr) {
      return STATUS_NO_MEMORY;
    }
    DestinationString->MaximumLength = static_cast<USHORT>(bytes);
  } else if (DestinationString->MaximumLength < bytes) {
    return STATUS_BUFFER_OVERFLOW;
  }
  for (size_t i = 0; i < characters; i++) {
    DestinationString->Buffer[i] = static_cast<unsigned char>(SourceString->Buffer[i]);
  }
  DestinationString->Buffer[characters] = 0;
  DestinationString->Length = static_cast<USHORT>(characters * sizeof(WCHAR));
  return STATUS_SUCCESS;
}

SIZE_T NTAPI RtlCompareMemory(const VOID* Source1, const VOID* Source2, SIZE_T Length) {
  const unsigned char* a = static_cast<const unsigned char*>(Source1);
  const unsigned char* b = static_cast<const unsigned char*>(Source2);
  SIZE_T i = 0;
  while (i < Length && a[i] == b[i]) {
    i++;
  }
  return i;
}

}  // extern "C"
