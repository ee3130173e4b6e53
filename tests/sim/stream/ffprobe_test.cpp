// A stock demuxer and decoders read the generated stream: ffprobe finds the
// programs, their streams, and each service's picture format.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "stream/audio_frame.h"
#include "stream/multiplex.h"
#include "stream/video_encoder.h"
#include "stream_capture.h"

namespace sim {
namespace {

constexpr const char* Ffprobe = "/usr/bin/ffprobe";
constexpr double CaptureSeconds = 3;

std::string DisplayAspectRatio(uint8_t aspectRatioInformation) {
  static const std::map<uint8_t, std::string> ratios = {{2, "4:3"}, {3, "16:9"}};
  return ratios.at(aspectRatioInformation);
}

std::string HexPid(uint16_t pid) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%x", pid);
  return text;
}

// Runs `command` and returns what it printed.
std::string RunCommand(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) {
    return {};
  }
  std::string output;
  char buffer[4096];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), pipe.get())) > 0) {
    output.append(buffer, count);
  }
  return output;
}

TEST(Ffprobe, FindsEachProgramWithItsStreamsAndPictureFormat) {
  if (!std::filesystem::exists(Ffprobe)) {
    GTEST_SKIP() << Ffprobe << " is not installed";
  }
  const std::filesystem::path path = std::filesystem::path(testing::TempDir()) /
                                     ("multiplex_" + std::to_string(::getpid()) + ".ts");
  {
    const test::PacketList stream = test::CaptureMultiplex(CaptureSeconds);
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(stream.bytes().data()),
               static_cast<std::streamsize>(stream.bytes().size()));
    ASSERT_TRUE(file.good());
  }
  const std::string output = RunCommand(
      std::string(Ffprobe) + " -v error -count_frames -show_programs -show_streams -of json '" +
      path.string() + "'");
  std::filesystem::remove(path);
  const nlohmann::json probe = nlohmann::json::parse(output, nullptr, false);
  ASSERT_FALSE(probe.is_discarded()) << output;

  std::map<int, nlohmann::json> programs;
  for (const nlohmann::json& program : probe.value("programs", nlohmann::json::array())) {
    programs[program.value("program_id", -1)] = program;
  }
  ASSERT_EQ(programs.size(), MultiplexServices().size());
  for (const ServiceInfo& service : MultiplexServices()) {
    SCOPED_TRACE(service.name);
    ASSERT_EQ(programs.count(service.serviceId), 1u);
    const nlohmann::json& program = programs[service.serviceId];
    EXPECT_EQ(program.value("pmt_pid", -1), service.pmtPid);
    EXPECT_EQ(program.value("pcr_pid", -1), service.pcrPid);
    EXPECT_EQ(program["tags"].value("service_name", ""), service.name);

    std::map<std::string, nlohmann::json> streams;  // by PID
    for (const nlohmann::json& stream : program.value("streams", nlohmann::json::array())) {
      streams[stream.value("id", "")] = stream;
    }
    ASSERT_EQ(streams.size(), 2u);
    const nlohmann::json& video = streams[HexPid(service.videoPid)];
    EXPECT_EQ(video.value("codec_name", ""), "mpeg2video");
    EXPECT_EQ(video.value("width", 0), service.width);
    EXPECT_EQ(video.value("height", 0), service.height);
    EXPECT_EQ(video.value("display_aspect_ratio", ""),
              DisplayAspectRatio(service.aspectRatioInformation));
    // Every picture whole in the file decodes.
    const int frames = std::stoi(video.value("nb_read_frames", "0"));
    EXPECT_GE(frames, static_cast<int>(CaptureSeconds * VideoEncoder::FramesPerSecond) - 2);

    const nlohmann::json& audio = streams[HexPid(service.audioPid)];
    EXPECT_EQ(audio.value("codec_name", ""), "mp2");
    EXPECT_EQ(audio.value("sample_rate", ""), std::to_string(AudioSampleRate));
    EXPECT_EQ(audio.value("channels", 0), 2);
    EXPECT_GE(std::stoi(audio.value("nb_read_frames", "0")),
              static_cast<int>(CaptureSeconds * AudioSampleRate / AudioSamplesPerFrame) - 2);
  }
}

}  // namespace
}  // namespace sim
