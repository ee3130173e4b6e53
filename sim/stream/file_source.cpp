// Transport stream file source.
#include "stream/file_source.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace sim {

std::unique_ptr<FileSource> FileSource::Open(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& reason) -> std::unique_ptr<FileSource> {
    if (error != nullptr) {
      *error = "cannot read transport stream '" + path + "': " + reason;
    }
    return nullptr;
  };
  std::error_code code;
  const std::filesystem::file_status status = std::filesystem::status(path, code);
  if (code) {
    return fail(code.message());
  }
  if (!std::filesystem::is_regular_file(status)) {
    return fail("not a regular file");
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return fail(std::strerror(errno));
  }
  return std::unique_ptr<FileSource>(new FileSource(file, path));
}

FileSource::~FileSource() { std::fclose(file_); }

size_t FileSource::Read(uint8_t* out, size_t size) {
  if (out == nullptr && size > 0) {
    throw std::invalid_argument("FileSource::Read: null buffer");
  }
  if (size == 0 || !error_.empty()) {
    return 0;
  }
  const size_t count = std::fread(out, 1, size, file_);
  if (count < size && std::ferror(file_)) {
    error_ = "read error in '" + path_ + "': " + std::strerror(errno);
  }
  return count;
}

}  // namespace sim
