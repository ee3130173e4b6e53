// Packet scheduling of the built-in multiplex.
#include "stream/packet_scheduler.h"

#include <cstring>

#include "stream/audio_frame.h"
#include "stream/eit_tables.h"
#include "stream/multiplex_plan.h"
#include "stream/pes_packet.h"
#include "stream/psi_tables.h"
#include "stream/ts_packet.h"

namespace sim {
namespace {

constexpr uint64_t PacketsPerPicture = MultiplexPacketsPerSecond / VideoEncoder::FramesPerSecond;
constexpr uint64_t PacketsPerAudioFrame =
    uint64_t{MultiplexPacketsPerSecond} * AudioSamplesPerFrame / AudioSampleRate;
static_assert(PacketsPerAudioFrame * AudioSampleRate ==
                  uint64_t{MultiplexPacketsPerSecond} * AudioSamplesPerFrame,
              "an audio frame must last a whole number of packets");
constexpr uint64_t PcrIntervalPackets = MultiplexPacketsPerSecond * 30 / 1000;
constexpr uint64_t PtsTicksPerPacket = PtsClockHz / MultiplexPacketsPerSecond;
// An access unit is presented this long after it comes due for sending.
constexpr uint64_t PresentationDelayTicks = PtsClockHz / 2;
// The PCR stamps the byte holding the last bit of program_clock_reference_base.
constexpr uint64_t PcrBaseLastByte = 10;

// Phases, in packets, that keep the services and tables from all coming due
// at once.
constexpr uint64_t PmtPhase = 1;
constexpr uint64_t SdtPhase = 10;
constexpr uint64_t EitPresentFollowingPhase = 20;
constexpr uint64_t EitSchedulePhase = 50;
constexpr uint64_t ServicePhaseStep = 67;

uint64_t PcrOfPacket(uint64_t index) {
  const unsigned __int128 byte =
      static_cast<unsigned __int128>(index) * TsPacketSize + PcrBaseLastByte;
  return static_cast<uint64_t>(byte * 8 * PcrClockHz / MultiplexBitrate);
}

bool Due(uint64_t now, uint64_t phase, uint64_t period) {
  return now >= phase && (now - phase) % period == 0;
}

}  // namespace

PacketScheduler::PacketScheduler() : audioFrame_(SilentAudioFrame()) {
  const std::vector<ServiceInfo>& services = MultiplexServices();
  auto addOut = [this](uint16_t pid) {
    sectionOuts_.push_back(std::make_unique<SectionPacketizer>(pid));
    return sectionOuts_.back().get();
  };

  carousels_.push_back({addOut(PatPid), BuildPat(), PatPmtRepetitionPackets, 0});
  for (size_t i = 0; i < services.size(); i++) {
    carousels_.push_back(
        {addOut(services[i].pmtPid), BuildPmt(services[i]), PatPmtRepetitionPackets, PmtPhase + i});
  }
  carousels_.push_back({addOut(SdtPid), BuildSdt(), SdtRepetitionPackets, SdtPhase});

  SectionPacketizer* eit = addOut(EitPid);
  size_t scheduleTables = 0;
  for (const EitTableInfo& table : MultiplexEitTables()) {
    scheduleTables += table.tableId != EitPresentFollowingTableId;
  }
  size_t presentFollowing = 0;
  size_t schedule = 0;
  for (const EitTableInfo& table : MultiplexEitTables()) {
    if (table.tableId == EitPresentFollowingTableId) {
      carousels_.push_back({eit, BuildEit(table), EitPresentFollowingRepetitionPackets,
                            EitPresentFollowingPhase + presentFollowing++});
    } else {
      // The schedule sub-tables spread over the cycle.
      const uint64_t phase =
          EitSchedulePhase + schedule++ * EitScheduleRepetitionPackets / scheduleTables;
      carousels_.push_back({eit, BuildEit(table), EitScheduleRepetitionPackets, phase});
    }
  }

  for (size_t i = 0; i < services.size(); i++) {
    const ServiceInfo& info = services[i];
    const uint64_t phase = (i + 1) * ServicePhaseStep;
    services_.push_back(
        Service{VideoEncoder({info.width, info.height, info.aspectRatioInformation}),
                PesPacketizer(info.videoPid), PesPacketizer(info.audioPid), phase, 0, 0, phase});
  }
}

void PacketScheduler::QueueDueData() {
  for (Carousel& carousel : carousels_) {
    if (Due(packetIndex_, carousel.phase, carousel.period)) {
      for (const Section& section : carousel.sections) {
        carousel.out->Queue(section);
      }
    }
  }
  for (Service& service : services_) {
    if (packetIndex_ < service.phase) {
      continue;
    }
    const uint64_t elapsed = packetIndex_ - service.phase;
    if (elapsed == service.nextPicture * PacketsPerPicture) {
      const uint64_t pts = packetIndex_ * PtsTicksPerPacket + PresentationDelayTicks;
      service.videoOut.Queue(
          BuildPesPacket(VideoStreamId, pts, service.video.Picture(service.nextPicture++)));
    }
    if (elapsed == service.nextAudioFrame * PacketsPerAudioFrame) {
      const uint64_t pts = packetIndex_ * PtsTicksPerPacket + PresentationDelayTicks;
      service.audioOut.Queue(BuildPesPacket(AudioStreamId, pts, audioFrame_));
      service.nextAudioFrame++;
    }
  }
}

void PacketScheduler::WritePacket(uint8_t* packet) {
  QueueDueData();
  const uint64_t index = packetIndex_++;

  for (Service& service : services_) {
    if (index >= service.nextPcrPacket) {
      service.nextPcrPacket += PcrIntervalPackets;
      service.videoOut.WritePacket(packet, PcrOfPacket(index));
      return;
    }
  }
  for (const std::unique_ptr<SectionPacketizer>& out : sectionOuts_) {
    if (out->Pending()) {
      out->WritePacket(packet);
      return;
    }
  }
  for (Service& service : services_) {
    if (service.audioOut.Pending()) {
      service.audioOut.WritePacket(packet, std::nullopt);
      return;
    }
  }
  for (Service& service : services_) {
    if (service.videoOut.Pending()) {
      service.videoOut.WritePacket(packet, std::nullopt);
      return;
    }
  }
  WriteNullPacket(packet);
}

void PacketScheduler::WriteNullPacket(uint8_t* packet) {
  WriteTsHeader(packet, NullPid, false, PayloadOnly, 0);
  std::memset(packet + TsHeaderSize, StuffingByte, TsPayloadSize);
}

}  // namespace sim
