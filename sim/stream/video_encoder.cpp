// MPEG-2 video encoder of the generated services.
#include "stream/video_encoder.h"

#include <iterator>
#include <stdexcept>
#include <string>

#include "stream/bit_writer.h"

namespace sim {
namespace {

constexpr uint32_t StartCodePrefix = 0x000001;
constexpr uint8_t PictureStartCode = 0x00;
constexpr uint8_t SequenceHeaderCode = 0xB3;
constexpr uint8_t ExtensionStartCode = 0xB5;
constexpr uint8_t GroupStartCode = 0xB8;
constexpr uint8_t SequenceExtensionId = 0x1;
constexpr uint8_t PictureCodingExtensionId = 0x8;

constexpr uint8_t FrameRateCode25 = 3;
constexpr uint32_t BitRateValue = 3750;       // 1.5 Mbit/s, in units of 400 bit/s
constexpr uint32_t VbvBufferSizeValue = 112;  // main level's largest, in units of 16 kbit
constexpr uint8_t MainProfileAtMainLevel = 0x48;
constexpr uint8_t Chroma420 = 1;
constexpr uint8_t IntraCodedPicture = 1;
constexpr uint8_t FramePicture = 3;
constexpr uint8_t NoMotionFCode = 0xF;
constexpr uint16_t VariableVbvDelay = 0xFFFF;
constexpr uint8_t QuantiserScaleCode = 8;

constexpr uint16_t MacroblockSize = 16;
constexpr uint16_t MainLevelMaxWidth = 720;
constexpr uint16_t MainLevelMaxHeight = 576;

// Macroblock codes of an I-picture with intra_vlc_format 0 (tables B.1, B.2,
// B.12, B.13, B.14): increment 1, type intra, then four luminance and two
// chrominance blocks with a zero DC difference followed by end of block.
constexpr uint32_t AddressIncrementOne = 0b1;
constexpr uint32_t MacroblockIntra = 0b1;
constexpr uint32_t LuminanceDcSizeZero = 0b100;
constexpr uint32_t ChrominanceDcSizeZero = 0b00;
constexpr uint32_t EndOfBlock = 0b10;
constexpr int LuminanceBlocks = 4;
constexpr int ChrominanceBlocks = 2;

// Zero bytes before the sequence header of each GOP in turn. Behind the PES
// header, with or without a PCR in the packet, they put the header whole
// inside a packet, at its very end, across two packets, or in the next one.
constexpr size_t SequenceLeadIn[] = {0, 160, 37, 200, 155, 101, 150, 166, 240, 157, 90};

void PutStartCode(BitWriter& w, uint8_t code) {
  w.Put(StartCodePrefix, 24);
  w.Put(code, 8);
}

}  // namespace

VideoEncoder::VideoEncoder(const VideoFormat& format) {
  if (format.width == 0 || format.height == 0 || format.width % MacroblockSize != 0 ||
      format.height % MacroblockSize != 0 || format.width > MainLevelMaxWidth ||
      format.height > MainLevelMaxHeight) {
    throw std::invalid_argument("VideoEncoder: picture size " + std::to_string(format.width) + "x" +
                                std::to_string(format.height) +
                                " is not whole macroblocks within 720x576");
  }
  if (format.aspectRatioInformation < 1 || format.aspectRatioInformation > 4) {
    throw std::invalid_argument("VideoEncoder: aspect_ratio_information must be 1 to 4");
  }

  BitWriter w;
  PutStartCode(w, SequenceHeaderCode);
  w.Put(format.width, 12);
  w.Put(format.height, 12);
  w.Put(format.aspectRatioInformation, 4);
  w.Put(FrameRateCode25, 4);
  w.Put(BitRateValue, 18);
  w.Put(1, 1);  // marker
  w.Put(VbvBufferSizeValue, 10);
  w.Put(0, 1);  // constrained_parameters_flag
  w.Put(0, 1);  // load_intra_quantiser_matrix
  w.Put(0, 1);  // load_non_intra_quantiser_matrix

  PutStartCode(w, ExtensionStartCode);
  w.Put(SequenceExtensionId, 4);
  w.Put(MainProfileAtMainLevel, 8);
  w.Put(1, 1);  // progressive_sequence
  w.Put(Chroma420, 2);
  w.Put(0, 2);   // horizontal_size_extension
  w.Put(0, 2);   // vertical_size_extension
  w.Put(0, 12);  // bit_rate_extension
  w.Put(1, 1);   // marker
  w.Put(0, 8);   // vbv_buffer_size_extension
  w.Put(0, 1);   // low_delay
  w.Put(0, 2);   // frame_rate_extension_n
  w.Put(0, 5);   // frame_rate_extension_d
  sequenceHeader_ = w.Take();

  const int rows = format.height / MacroblockSize;
  const int columns = format.width / MacroblockSize;
  for (int row = 0; row < rows; row++) {
    PutStartCode(w, static_cast<uint8_t>(row + 1));  // slice_start_code: row + 1
    w.Put(QuantiserScaleCode, 5);
    w.Put(0, 1);  // extra_bit_slice
    for (int column = 0; column < columns; column++) {
      w.Put(AddressIncrementOne, 1);
      w.Put(MacroblockIntra, 1);
      for (int block = 0; block < LuminanceBlocks; block++) {
        w.Put(LuminanceDcSizeZero, 3);
        w.Put(EndOfBlock, 2);
      }
      for (int block = 0; block < ChrominanceBlocks; block++) {
        w.Put(ChrominanceDcSizeZero, 2);
        w.Put(EndOfBlock, 2);
      }
    }
    w.AlignWithZeros();
  }
  slices_ = w.Take();
}

std::vector<uint8_t> VideoEncoder::Picture(uint64_t index) const {
  BitWriter w;
  if (index % GopLength == 0) {
    const uint64_t gop = index / GopLength;
    const size_t leadIn = SequenceLeadIn[gop % std::size(SequenceLeadIn)];
    for (size_t i = 0; i < leadIn; i++) {
      w.Put(0, 8);
    }
    w.PutBytes(sequenceHeader_);

    const uint64_t seconds = index / FramesPerSecond;
    PutStartCode(w, GroupStartCode);
    w.Put(0, 1);  // drop_frame_flag
    w.Put(static_cast<uint32_t>(seconds / 3600 % 24), 5);
    w.Put(static_cast<uint32_t>(seconds / 60 % 60), 6);
    w.Put(1, 1);  // marker
    w.Put(static_cast<uint32_t>(seconds % 60), 6);
    w.Put(static_cast<uint32_t>(index % FramesPerSecond), 6);
    w.Put(1, 1);  // closed_gop
    w.Put(0, 1);  // broken_link
    w.AlignWithZeros();
  }

  PutStartCode(w, PictureStartCode);
  w.Put(static_cast<uint32_t>(index % GopLength), 10);  // temporal_reference
  w.Put(IntraCodedPicture, 3);
  w.Put(VariableVbvDelay, 16);
  w.Put(0, 1);  // extra_bit_picture
  w.AlignWithZeros();

  PutStartCode(w, ExtensionStartCode);
  w.Put(PictureCodingExtensionId, 4);
  for (int fCode = 0; fCode < 4; fCode++) {
    w.Put(NoMotionFCode, 4);
  }
  w.Put(0, 2);  // intra_dc_precision: 8 bits
  w.Put(FramePicture, 2);
  w.Put(0, 1);  // top_field_first
  w.Put(1, 1);  // frame_pred_frame_dct
  w.Put(0, 1);  // concealment_motion_vectors
  w.Put(0, 1);  // q_scale_type
  w.Put(0, 1);  // intra_vlc_format
  w.Put(0, 1);  // alternate_scan
  w.Put(0, 1);  // repeat_first_field
  w.Put(1, 1);  // chroma_420_type: as progressive_frame
  w.Put(1, 1);  // progressive_frame
  w.Put(0, 1);  // composite_display_flag
  w.AlignWithZeros();

  w.PutBytes(slices_);
  return w.Take();
}

}  // namespace sim
