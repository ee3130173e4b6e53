// Decides, packet by packet, what the multiplex sends: each table when its
// repetition comes due, a PCR for every service at least every 30 ms, the
// services' audio and video as their access units come due, and null
// packets in the time left. Time is the packet count at the fixed rate.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "stream/pes_packetizer.h"
#include "stream/section_packetizer.h"
#include "stream/video_encoder.h"

namespace sim {

class PacketScheduler {
 public:
  PacketScheduler();

  // Writes the next packet of the stream.
  void WritePacket(uint8_t* packet);

 private:
  // A table sent again and again on its PID.
  struct Carousel {
    SectionPacketizer* out;
    std::vector<Section> sections;
    uint64_t period;  // packets
    uint64_t phase;   // first packet it is due at
  };
  struct Service {
    VideoEncoder video;
    PesPacketizer videoOut;  // carries the PCR too
    PesPacketizer audioOut;
    uint64_t phase;
    uint64_t nextPicture = 0;
    uint64_t nextAudioFrame = 0;
    uint64_t nextPcrPacket;
  };

  void QueueDueData();
  static void WriteNullPacket(uint8_t* packet);

  uint64_t packetIndex_ = 0;
  std::vector<std::unique_ptr<SectionPacketizer>> sectionOuts_;  // in order of priority
  std::vector<Carousel> carousels_;
  std::vector<Service> services_;
  std::vector<uint8_t> audioFrame_;
};

}  // namespace sim
