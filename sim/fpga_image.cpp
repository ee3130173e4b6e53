// The stand-in FPGA image and its integrity check (see fpga_image.h).
#include "fpga_image.h"

#include <cstring>

namespace sim {
namespace {

constexpr size_t ChecksumBytes = 4;
constexpr uint32_t PayloadSeed = 0x5EED1234;

}  // namespace

uint32_t Crc32Ieee(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < size; i++) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; bit++) {
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
  }
  return ~crc;
}

std::vector<uint8_t> MakeStandInFpgaImage() {
  std::vector<uint8_t> image(FpgaImageBytes);
  std::memcpy(image.data(), FpgaImageOpening, sizeof(FpgaImageOpening));
  uint32_t state = PayloadSeed;
  for (size_t i = sizeof(FpgaImageOpening); i < FpgaImageBytes - ChecksumBytes; i++) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    image[i] = static_cast<uint8_t>(state);
  }
  uint32_t crc = Crc32Ieee(image.data(), FpgaImageBytes - ChecksumBytes);
  for (size_t i = 0; i < ChecksumBytes; i++) {
    image[FpgaImageBytes - ChecksumBytes + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
  }
  return image;
}

bool FpgaImageIsIntact(const uint8_t* image, size_t size) {
  if (size != FpgaImageBytes ||
      std::memcmp(image, FpgaImageOpening, sizeof(FpgaImageOpening)) != 0) {
    return false;
  }
  uint32_t crc = Crc32Ieee(image, FpgaImageBytes - ChecksumBytes);
  for (size_t i = 0; i < ChecksumBytes; i++) {
    if (image[FpgaImageBytes - ChecksumBytes + i] != static_cast<uint8_t>(crc >> (24 - 8 * i))) {
      return false;
    }
  }
  return true;
}

}  // namespace sim
