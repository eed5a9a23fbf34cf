// A CommandHost for command tests: records error and step entries, checkpoints written, nested dispatches and pointer
// calls, and owns real CRC and INI tools and buffers; native paths and structure files as the commands meet them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "engine/command_host.h"
#include "formats/crc32.h"
#include "formats/dyn_buf.h"
#include "formats/ini_file.h"
#include "test_support.h"

namespace veupd::test {

using Strings = std::vector<std::string>;

// A path inside the folder with native separators ("old/T.DAT" on Windows becomes "old\\T.DAT").
inline std::string Native(const TempDir& dir, std::string_view relative) {
  return (dir.path() / std::filesystem::path(relative).make_preferred()).string();
}

// A minimal structure file: a 40-byte header naming the data and index files, no fields, an empty auxiliary block.
inline std::string StructureFile(std::string_view data_name, std::string_view index_name) {
  std::string s(2 + 40 + 2, '\0');
  s[0] = 40;
  s.replace(8, data_name.size(), data_name);
  s.replace(21, index_name.size(), index_name);
  return s;
}

inline const std::string kAbsent = "(absent)";
struct ReportedError {
  std::uint32_t raw = 0;  // code and subcode
  Strings params;         // up to the last one given; kAbsent in a gap
};
struct StepEntry {
  bool success = false;
  std::string text;
  std::uint32_t raw = 0;  // code and subcode
};

// Progress calls run a test's hook first, with the phase (1 source, 2 copy) and bytes done: files change mid-checksum.
class HookedCrc : public CDeltaCrc32 {
 public:
  bool OnProgress(std::uint32_t total, std::uint32_t done) override {
    if (hook) hook(m_nPhase, done);
    return CDeltaCrc32::OnProgress(total, done);
  }
  std::function<void(std::uint32_t phase, std::uint32_t done)> hook;
};

class FakeHost : public CommandHost {
 public:
  explicit FakeHost(std::size_t payload_step = CDynBuf::kDefaultStep, std::size_t copy_size = 32768)
      : payload_(payload_step), copy_buffer_(copy_size) {}

  CommandContext& Context() override { return ctx; }
  void ReportError(ErrorCode code, Param p1, Param p2, Param p3, Param p4) override {
    // Up to the last one given; a gap stays visible, since the log numbers each parameter by its slot.
    ReportedError e{code.raw(), {}};
    for (const Param& p : {p1, p2, p3, p4}) e.params.emplace_back(p ? std::string(*p) : kAbsent);
    while (!e.params.empty() && e.params.back() == kAbsent) e.params.pop_back();
    errors.push_back(std::move(e));
  }
  void ReportStep(bool success, std::string_view text, ErrorCode code) override {
    steps.push_back({success, std::string(text), code.raw()});
  }
  [[nodiscard]] std::uint32_t ErrorCount() const override { return static_cast<std::uint32_t>(errors.size()); }
  StopSignal& Stop() override { return *stop; }
  CheckpointRecord& Checkpoint() override { return checkpoint; }
  void WriteCheckpoint() override { phases_written.push_back(checkpoint.phase); }
  std::uint32_t& FileCounter() override { return file_counter; }
  int CallPointer(const std::string& structure, const std::string& data, const std::string& index) override {
    pointer_calls.push_back({structure, data, index});
    return pointer_result;
  }
  CDeltaCrc32& Crc() override { return crc; }
  CIniClass& Ini() override { return ini; }
  CDynBuf& PayloadBuffer() override { return payload_; }
  std::span<std::uint8_t> CopyBuffer() override { return copy_buffer_; }
  ErrorCode Dispatch(std::int32_t opcode) override {
    dispatched.push_back({opcode, ctx.param});
    return dispatch_result;
  }
  [[nodiscard]] std::int32_t Level() const override { return 1; }
  [[nodiscard]] bool ServerAutomation() const override { return true; }
  [[nodiscard]] std::string ControlFilePath() const override { return "ctl.txt"; }
  [[nodiscard]] std::string Message(std::uint32_t number) override { return "T" + std::to_string(number); }
  [[nodiscard]] bool AskYesNo(std::string_view) override { return true; }
  void RefreshProgress() override {}
  void BringDialogToForeground() override { ++foreground_calls; }

  // Sets PARAM1.. in order (the rest empty) and runs the command.
  ErrorCode Run(CommandFn command, const Strings& values) {
    ctx.param = {};
    std::copy(values.begin(), values.end(), ctx.param.begin());
    return command(*this);
  }

  struct Dispatched {
    std::int32_t opcode;
    std::array<std::string, kParamCount> params;  // as the nested command saw them
  };

  CommandContext ctx;
  std::vector<ReportedError> errors;
  std::vector<StepEntry> steps;
  std::vector<Dispatched> dispatched;
  std::vector<std::uint32_t> phases_written;
  std::vector<Strings> pointer_calls;  // structure, data, index
  std::shared_ptr<StopSignal> stop = std::make_shared<StopSignal>();  // keeps the host assignable
  CheckpointRecord checkpoint;
  std::uint32_t file_counter = 0;
  int pointer_result = 0, foreground_calls = 0;
  ErrorCode dispatch_result;
  HookedCrc crc;
  CIniClass ini;

 private:
  CDynBuf payload_;
  std::vector<std::uint8_t> copy_buffer_;
};

// The command returned code and left one error entry with these parameters and one failed step line with this text
// (none for ""), or for code 0 no error and a succeeded step line. The step line carries step_code if given.
inline void ExpectOutcome(const FakeHost& h, ErrorCode rc, std::uint32_t code, const Strings& params,
                          const std::string& step, std::optional<std::uint32_t> step_code = std::nullopt) {
  EXPECT_EQ(rc.raw(), code);
  ASSERT_EQ(h.errors.size(), code == 0 ? 0u : 1u);
  for (const ReportedError& e : h.errors) EXPECT_EQ(std::tie(e.raw, e.params), std::tie(code, params));
  ASSERT_EQ(h.steps.size(), step.empty() ? 0u : 1u);
  for (const StepEntry& s : h.steps) {
    EXPECT_EQ(std::tuple(s.success, s.raw, s.text), std::tuple(code == 0, step_code.value_or(code), step));
  }
}

}  // namespace veupd::test
