// MPEG-1 Layer II audio (ISO/IEC 11172-3) of the generated services: stereo,
// 48 kHz, 128 kbit/s, silent.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

constexpr uint32_t AudioSampleRate = 48000;
constexpr uint32_t AudioSamplesPerFrame = 1152;  // 24 ms
constexpr uint32_t AudioBitrate = 128000;

// One frame: the header, then no subband allocated, so every sample is zero.
std::vector<uint8_t> SilentAudioFrame();

}  // namespace sim
