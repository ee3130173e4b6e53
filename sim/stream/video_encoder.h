// MPEG-2 video (ISO/IEC 13818-2) of a flat grey picture: every picture is
// intra coded, each macroblock with its DC coefficients only, so the stream
// is small yet decodable, and carries the size and aspect ratio chosen.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

struct VideoFormat {
  uint16_t width;
  uint16_t height;
  uint8_t aspectRatioInformation;  // 1 square samples, 2 is 4:3, 3 is 16:9, 4 is 2.21:1
};

class VideoEncoder {
 public:
  static constexpr uint32_t FramesPerSecond = 25;
  static constexpr uint32_t GopLength = 12;  // a sequence header every 480 ms

  // Sizes are whole macroblocks within main level (up to 720x576).
  explicit VideoEncoder(const VideoFormat& format);

  // Coded picture `index`. A picture opening a GOP comes after a sequence
  // header, its extension and a GOP header, led in by a few zero bytes whose
  // count changes from GOP to GOP.
  std::vector<uint8_t> Picture(uint64_t index) const;

 private:
  std::vector<uint8_t> sequenceHeader_;  // sequence header and sequence extension
  std::vector<uint8_t> slices_;          // the same for every picture
};

}  // namespace sim
