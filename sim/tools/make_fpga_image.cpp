// Writes the stand-in FPGA image (see sim/fpga_image.h) to the given file:
//   make_fpga_image driver/usb/fpga_image.bin
#include <cstdio>
#include <fstream>

#include "fpga_image.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  std::vector<uint8_t> image = sim::MakeStandInFpgaImage();
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
