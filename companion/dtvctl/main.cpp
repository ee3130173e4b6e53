// dtvctl: runs the driver on the simulated receiver and does one job with it.
#include <CLI/CLI.hpp>

#include "commands.h"
#include "sim_options.h"

int main(int argc, char** argv) {
  CLI::App app{
      "dtvctl: the companion tool of the USB digital-TV receiver driver.\n"
      "Loads the driver into the emulated host with the simulated receiver and runs one job."};
  app.require_subcommand(1);
  app.footer(dtv::SimOptionsHelp());

  dtv::GlobalOptions global;
  app.add_flag("--json", global.json, "print one JSON object instead of text");
  app.add_flag("-v,--verbose", global.verbose, "print the driver's debug lines as they come");
  app.add_option("--input", global.input,
                 "transport stream file the receiver plays (default: the built-in multiplex)");
  app.add_option("--sim", global.sim, "make the simulated receiver misbehave: KEY=VALUE (repeatable)");
  app.add_flag("!--no-presence-keys", global.presenceKeys,
               "do not create the registry keys of the presence values");

  app.add_subcommand("info", "describe the filter and the device");

  dtv::CaptureOptions capture;
  CLI::App* captureCommand = app.add_subcommand("capture", "run the capture pin and save the stream");
  captureCommand->add_option("--out", capture.out, "output file, or - for standard output")->required();
  captureCommand->add_option("--bytes", capture.bytes, "stop after this many bytes");
  captureCommand->add_option("--seconds", capture.seconds, "stop after this many seconds");
  captureCommand->add_option("--reads", capture.readsInFlight, "reads kept outstanding on the pin")
      ->check(CLI::Range(1, 64));

  dtv::GenerateOptions generate;
  CLI::App* generateCommand = app.add_subcommand("generate", "write the built-in multiplex to a file");
  generateCommand->add_option("--out", generate.out, "output file")->required();
  generateCommand->add_option("--seconds", generate.seconds, "length of the stream")
      ->check(CLI::PositiveNumber);

  CLI11_PARSE(app, argc, argv);

  if (app.got_subcommand("info")) {
    return dtv::RunInfo(global);
  }
  if (app.got_subcommand(captureCommand)) {
    return dtv::RunCapture(global, capture);
  }
  return dtv::RunGenerate(global, generate);
}
