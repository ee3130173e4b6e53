// A transport stream read from a file, streamed as it is read rather than
// held in memory.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "stream/ts_source.h"

namespace sim {

class FileSource : public TsSource {
 public:
  // Opens `path`; null with the reason in `error` if it is missing, not a
  // regular file or unreadable.
  static std::unique_ptr<FileSource> Open(const std::string& path, std::string* error);
  ~FileSource() override;

  // Returns 0 at the end of the file, and after a read error (see Error()).
  size_t Read(uint8_t* out, size_t size) override;

  // Why reading stopped early; empty while all went well.
  const std::string& Error() const { return error_; }

 private:
  FileSource(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}

  std::FILE* file_;
  std::string path_;
  std::string error_;
};

}  // namespace sim
