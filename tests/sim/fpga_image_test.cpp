// The stand-in FPGA image: the shipped file is the generator's output, and
// the simulated FPGA accepts only a complete, intact image sent in order.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "fpga_image.h"
#include "receiver.h"

namespace {

using emu::usb::SetupPacket;

std::vector<uint8_t> ShippedImage() {
  std::ifstream file(DTV_SHIPPED_FPGA_IMAGE, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// Sends an image to a receiver in download mode, 64 bytes a request, the
// chunks in the order given.
bool Load(const std::vector<uint8_t>& image, const std::vector<size_t>& order) {
  sim::Receiver receiver(sim::ReceiverOptions{}, nullptr);
  uint8_t zero = 0;
  receiver.Control(SetupPacket{0x40, 0xBC, 0x00AA, 0, 1}, &zero);
  for (size_t chunk : order) {
    size_t offset = chunk * 64;
    std::vector<uint8_t> data(image.begin() + offset,
                              image.begin() + std::min(image.size(), offset + 64));
    receiver.Control(SetupPacket{0x40, 0xBB, 0, 0, static_cast<uint16_t>(data.size())},
                     data.data());
  }
  return receiver.FpgaConfigured();
}

std::vector<size_t> InOrder(size_t chunks) {
  std::vector<size_t> order(chunks);
  for (size_t i = 0; i < chunks; i++) {
    order[i] = i;
  }
  return order;
}

TEST(FpgaImage, ShippedFileIsTheGeneratorsOutput) {
  std::vector<uint8_t> image = sim::MakeStandInFpgaImage();
  EXPECT_EQ(ShippedImage(), image);
  ASSERT_EQ(image.size(), 55024u);
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 8),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0x55, 0x99, 0xAA, 0x66}));
  EXPECT_TRUE(sim::FpgaImageIsIntact(image.data(), image.size()));
}

TEST(FpgaImage, OnlyACompleteIntactImageInOrderConfiguresTheFpga) {
  std::vector<uint8_t> image = sim::MakeStandInFpgaImage();
  EXPECT_TRUE(Load(image, InOrder(860)));

  std::vector<size_t> swapped = InOrder(860);
  std::swap(swapped[3], swapped[4]);
  EXPECT_FALSE(Load(image, swapped)) << "chunks out of order";
  EXPECT_FALSE(Load(image, InOrder(859))) << "incomplete";
  std::vector<uint8_t> damaged = image;
  damaged[30000] ^= 0x01;
  EXPECT_FALSE(Load(damaged, InOrder(860))) << "one bit flipped";
  std::vector<size_t> extra = InOrder(860);
  extra.push_back(0);
  EXPECT_FALSE(Load(image, extra)) << "more than the image";
}

}  // namespace
