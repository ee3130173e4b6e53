// Silent MPEG-1 Layer II frame.
#include "stream/audio_frame.h"

#include <algorithm>
#include <iterator>

namespace sim {
namespace {

constexpr uint32_t FrameBytes = 144 * AudioBitrate / AudioSampleRate;  // no padding at 48 kHz

// syncword, ID 1 (MPEG-1), layer II, no CRC; bitrate_index 8 (128 kbit/s),
// sampling_frequency 1 (48 kHz), no padding; stereo, no emphasis.
constexpr uint8_t FrameHeader[] = {0xFF, 0xFD, 0x84, 0x00};

}  // namespace

std::vector<uint8_t> SilentAudioFrame() {
  // All-zero bit allocations: the rest of the frame is zero.
  std::vector<uint8_t> frame(FrameBytes, 0);
  std::copy(std::begin(FrameHeader), std::end(FrameHeader), frame.begin());
  return frame;
}

}  // namespace sim
