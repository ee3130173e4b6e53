// DbgPrint: the driver's debug lines, captured in order for tests and for
// the tool's --verbose output.
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "kernel.h"

namespace emu {
namespace {

std::mutex logMutex;
std::vector<std::string>& Log() {
  static auto* log = new std::vector<std::string>;
  return *log;
}
bool echo = false;

}  // namespace

std::vector<std::string> DebugLog::Messages() {
  std::lock_guard<std::mutex> lock(logMutex);
  return Log();
}

std::string DebugLog::Text() {
  std::lock_guard<std::mutex> lock(logMutex);
  std::string text;
  for (const std::string& message : Log()) {
    text += message;
  }
  return text;
}

void DebugLog::Clear() {
  std::lock_guard<std::mutex> lock(logMutex);
  Log().clear();
}

void DebugLog::SetEcho(bool value) {
  std::lock_guard<std::mutex> lock(logMutex);
  echo = value;
}

}  // namespace emu

extern "C" ULONG DbgPrint(PCSTR Format, ...) {
  char buffer[512];
  va_list arguments;
  va_start(arguments, Format);
  std::vsnprintf(buffer, sizeof(buffer), Format, arguments);
  va_end(arguments);
  std::lock_guard<std::mutex> lock(emu::logMutex);
  emu::Log().emplace_back(buffer);
  if (emu::echo) {
    std::fputs(buffer, stderr);
  }
  return STATUS_SUCCESS;
}
