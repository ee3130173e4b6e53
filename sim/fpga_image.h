// The stand-in FPGA configuration image. The device maker's bitstream is not
// ours to ship, so the driver carries a stand-in of the same size and the
// same opening bytes, which the simulated FPGA accepts:
//
//   bytes 0..7       FF FF FF FF 55 99 AA 66 (the opening of a configuration
//                    bitstream stored with each byte's bit order reversed)
//   bytes 8..55019   a pseudo-random payload (xorshift32 seeded 0x5EED1234,
//                    one byte from each step's low 8 bits)
//   bytes 55020..3   CRC-32 (IEEE 802.3, reflected) of bytes 0..55019,
//                    most significant byte first
//
// sim/tools/make_fpga_image writes it to driver/usb/fpga_image.bin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr size_t FpgaImageBytes = 55024;
constexpr uint8_t FpgaImageOpening[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0x55, 0x99, 0xAA, 0x66};

std::vector<uint8_t> MakeStandInFpgaImage();

// True for an image of the right size whose opening bytes and trailing
// checksum hold: what the simulated FPGA requires to configure itself.
bool FpgaImageIsIntact(const uint8_t* image, size_t size);

uint32_t Crc32Ieee(const uint8_t* data, size_t size);

}  // namespace sim
