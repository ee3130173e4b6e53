// dtvctl as a person runs it: the JSON it prints, the exit codes of a failed
// start and of bad input, and a capture that gives the input back.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

namespace {

struct Outcome {
  int exitCode;
  std::string out;
};

// Runs dtvctl with the arguments; standard error is kept apart.
Outcome Dtvctl(const std::string& arguments) {
  std::string command = std::string(DTVCTL) + " " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  std::array<char, 4096> chunk;
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
    out.append(chunk.data(), n);
  }
  int status = pclose(pipe);
  return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string Slurp(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(Dtvctl, InfoDescribesTheFilterAndTheDevice) {
  Outcome run = Dtvctl("--json info");
  ASSERT_EQ(run.exitCode, 0);
  auto info = nlohmann::json::parse(run.out);
  EXPECT_EQ(info["pin"]["dataflow"], "out");
  EXPECT_EQ(info["pin"]["category"], "{FB6C4281-0353-11D1-905F-0000C0CC16BA}");
  EXPECT_EQ(info["pin"]["major_format"], "{E436EB83-524F-11CE-9F53-0020AF0BA770}");
  EXPECT_EQ(info["pin"]["sub_format"], "{E06D8023-DB46-11CF-B4D1-00805F6CBBEA}");
  EXPECT_EQ(info["pin"]["specifier"], "{0F6417D6-C318-11D0-A43F-00A0C9223196}");
  EXPECT_EQ(info["pin"]["sample_size"], 24064);
  ASSERT_EQ(info["property_sets"].size(), 13u);
  EXPECT_EQ(info["property_sets"][7]["name"], "PROPSETID_RECORDING");
  EXPECT_EQ(info["property_sets"][7]["items"][1]["id"], 8);
  EXPECT_EQ(info["property_sets"][7]["items"][1]["min_data"], 102);
  ASSERT_EQ(info["event_sets"].size(), 4u);
  EXPECT_EQ(info["event_sets"][2]["guid"], "{5673C817-EB9F-4EDB-802A-D0D026406B2E}");
  EXPECT_EQ(info["event_sets"][2]["id"], 2);
  EXPECT_EQ(info["device"]["vendor_id"], 0xF0D7);
  EXPECT_EQ(info["bulk_pipe"]["endpoint"], 0x82);
  EXPECT_EQ(info["bulk_pipe"]["max_transfer_size"], 65536);
  EXPECT_EQ(info["fpga"]["chunks"], 860);
  EXPECT_EQ(info["fpga"]["bytes"], 55024);
  EXPECT_TRUE(info["interface_enabled"].get<bool>());
  EXPECT_EQ(info["presence"]["activate"], 100);
  EXPECT_TRUE(info["presence"]["hybernate"].is_null());

  auto bare = nlohmann::json::parse(Dtvctl("--json --no-presence-keys info").out);
  EXPECT_TRUE(bare["presence"]["activate"].is_null());
}

TEST(Dtvctl, FailedStartNamesTheStepAndExitsNonZero) {
  Outcome refused = Dtvctl("--json --sim refuse-chunk=10 info");
  EXPECT_EQ(refused.exitCode, 1);
  auto report = nlohmann::json::parse(refused.out);
  EXPECT_EQ(report["status"], "STATUS_UNSUCCESSFUL");
  EXPECT_NE(report["step"].get<std::string>().find("chunk 10"), std::string::npos);
  EXPECT_NE(report["step"].get<std::string>().find("576 bytes"), std::string::npos);

  auto neverReady = nlohmann::json::parse(Dtvctl("--json --sim never-ready info").out);
  EXPECT_EQ(neverReady["fpga"]["polls"], 5);
}

TEST(Dtvctl, BadInputIsRefusedWithExitCodeTwo) {
  EXPECT_EQ(Dtvctl("--sim no-such-key=1 info").exitCode, 2);
  EXPECT_EQ(Dtvctl("--sim refuse-chunk=x info").exitCode, 2);
  EXPECT_EQ(Dtvctl("--input /nonexistent/file.ts info").exitCode, 2);
  EXPECT_NE(Dtvctl("capture").exitCode, 0) << "--out is required";
}

TEST(Dtvctl, CaptureOfAFileGivesItBackByteForByte) {
  std::string input = ::testing::TempDir() + "dtvctl_input.ts";
  std::string output = ::testing::TempDir() + "dtvctl_output.ts";
  ASSERT_EQ(Dtvctl("generate --out " + input + " --seconds 1").exitCode, 0);
  Outcome run = Dtvctl("--json --input " + input +
                   " --sim short-transfers=40 --sim seed=3 capture --out " + output);
  ASSERT_EQ(run.exitCode, 0);
  auto report = nlohmann::json::parse(run.out);
  std::string original = Slurp(input);
  EXPECT_EQ(original.size(), 188u * 5000);
  EXPECT_EQ(report["bytes"], original.size());
  EXPECT_EQ(report["failed_reads"], 0);
  EXPECT_EQ(report["total_bytes_counter"], original.size());
  EXPECT_TRUE(Slurp(output) == original);

  Outcome limited = Dtvctl("--json --input " + input + " capture --out " + output + " --bytes 1000");
  ASSERT_EQ(limited.exitCode, 0);
  EXPECT_EQ(Slurp(output), original.substr(0, 1000));
  std::remove(input.c_str());
  std::remove(output.c_str());
}

}  // namespace
