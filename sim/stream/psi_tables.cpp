// PAT, PMT and SDT generation with libdvbpsi.
#include "stream/psi_tables.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "stream/libdvbpsi.h"

namespace sim {
namespace {

constexpr uint8_t TableVersion = 0;
constexpr int ProgramsPerPatSection = 253;
constexpr uint8_t Iso639LanguageDescriptorTag = 0x0A;
constexpr uint8_t ServiceDescriptorTag = 0x48;
constexpr uint8_t DigitalTelevisionService = 0x01;
constexpr uint8_t RunningStatusRunning = 4;
constexpr uint8_t AudioLanguage[] = {'e', 'n', 'g', 0x00};  // undefined audio type
constexpr size_t MaxDescriptorLength = 255;

std::vector<uint8_t> ServiceDescriptor(const ServiceInfo& service) {
  const size_t providerLength = std::strlen(service.provider);
  const size_t nameLength = std::strlen(service.name);
  if (3 + providerLength + nameLength > MaxDescriptorLength) {
    throw std::length_error(std::string("service descriptor too long for ") + service.name);
  }
  std::vector<uint8_t> data = {DigitalTelevisionService, static_cast<uint8_t>(providerLength)};
  data.insert(data.end(), service.provider, service.provider + providerLength);
  data.push_back(static_cast<uint8_t>(nameLength));
  data.insert(data.end(), service.name, service.name + nameLength);
  return data;
}

}  // namespace

std::vector<Section> BuildPat() {
  DvbpsiHandle handle;
  dvbpsi_pat_t pat;
  dvbpsi_pat_init(&pat, TransportStreamId, TableVersion, true);
  for (const ServiceInfo& service : MultiplexServices()) {
    if (dvbpsi_pat_program_add(&pat, service.serviceId, service.pmtPid) == nullptr) {
      dvbpsi_pat_empty(&pat);
      throw std::runtime_error("libdvbpsi: cannot add a PAT program");
    }
  }
  dvbpsi_psi_section_t* sections =
      dvbpsi_pat_sections_generate(handle.get(), &pat, ProgramsPerPatSection);
  dvbpsi_pat_empty(&pat);
  return TakeSections(sections);
}

std::vector<Section> BuildPmt(const ServiceInfo& service) {
  DvbpsiHandle handle;
  dvbpsi_pmt_t pmt;
  dvbpsi_pmt_init(&pmt, service.serviceId, TableVersion, true, service.pcrPid);
  dvbpsi_pmt_es_t* video = dvbpsi_pmt_es_add(&pmt, Mpeg2VideoStreamType, service.videoPid);
  dvbpsi_pmt_es_t* audio = dvbpsi_pmt_es_add(&pmt, Mpeg1AudioStreamType, service.audioPid);
  uint8_t language[sizeof(AudioLanguage)];
  std::memcpy(language, AudioLanguage, sizeof(language));
  if (video == nullptr || audio == nullptr ||
      dvbpsi_pmt_es_descriptor_add(audio, Iso639LanguageDescriptorTag, sizeof(language),
                                   language) == nullptr) {
    dvbpsi_pmt_empty(&pmt);
    throw std::runtime_error("libdvbpsi: cannot build the PMT");
  }
  dvbpsi_psi_section_t* sections = dvbpsi_pmt_sections_generate(handle.get(), &pmt);
  dvbpsi_pmt_empty(&pmt);
  return TakeSections(sections);
}

std::vector<Section> BuildSdt() {
  DvbpsiHandle handle;
  dvbpsi_sdt_t sdt;
  dvbpsi_sdt_init(&sdt, SdtActualTableId, TransportStreamId, TableVersion, true, OriginalNetworkId);
  for (const ServiceInfo& service : MultiplexServices()) {
    std::vector<uint8_t> descriptor = ServiceDescriptor(service);
    dvbpsi_sdt_service_t* entry =
        dvbpsi_sdt_service_add(&sdt, service.serviceId, true, true, RunningStatusRunning, false);
    if (entry == nullptr ||
        dvbpsi_sdt_service_descriptor_add(entry, ServiceDescriptorTag,
                                          static_cast<uint8_t>(descriptor.size()),
                                          descriptor.data()) == nullptr) {
      dvbpsi_sdt_empty(&sdt);
      throw std::runtime_error("libdvbpsi: cannot build the SDT");
    }
  }
  dvbpsi_psi_section_t* sections = dvbpsi_sdt_sections_generate(handle.get(), &sdt);
  dvbpsi_sdt_empty(&sdt);
  return TakeSections(sections);
}

}  // namespace sim
