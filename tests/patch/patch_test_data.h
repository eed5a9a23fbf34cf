// A CommandHost for the patch command tests: records error and step
// entries, every checkpoint written and every pointer component call, and
// owns a real CRC calculator and real buffers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/command_host.h"
#include "formats/crc32.h"
#include "formats/dyn_buf.h"
#include "formats/ini_file.h"
#include "patch/patch_engine.h"
#include "test_support.h"

namespace veupd::test {

struct PatchError {
  std::uint16_t code = 0;
  std::uint16_t subcode = 0;
  std::vector<std::string> params;  // the given ones, in order
};

struct PatchStep {
  bool success = false;
  std::string text;
  std::uint32_t raw = 0;
};

struct PointerCall {
  std::string structure, data, index;
};

class FakePatchHost : public CommandHost {
 public:
  FakePatchHost() : payload_(kPatchPayloadGrowStep), copy_(kPatchCopyBufferSize) {}

  CommandContext& Context() override { return ctx; }
  void ReportError(ErrorCode code, Param p1, Param p2, Param p3, Param p4) override {
    PatchError e{code.code(), code.subcode(), {}};
    for (const Param& p : {p1, p2, p3, p4}) {
      if (p) e.params.emplace_back(*p);
    }
    errors.push_back(std::move(e));
  }
  void ReportStep(bool success, std::string_view text, ErrorCode code) override {
    steps.push_back({success, std::string(text), code.raw()});
  }
  [[nodiscard]] std::uint32_t ErrorCount() const override { return static_cast<std::uint32_t>(errors.size()); }
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
  std::span<std::uint8_t> CopyBuffer() override { return copy_; }
  ErrorCode Dispatch(std::int32_t) override { return Err::kNoToken; }
  [[nodiscard]] std::int32_t Level() const override { return 1; }
  [[nodiscard]] bool ServerAutomation() const override { return true; }
  [[nodiscard]] std::string ControlFilePath() const override { return control_file; }
  // "T4863" and so on, so that a test sees which text headed the status.
  [[nodiscard]] std::string Message(std::uint32_t number) override { return "T" + std::to_string(number); }
  [[nodiscard]] bool AskYesNo(std::string_view) override { return true; }
  void RefreshProgress() override {
    const bool changed = statuses.empty() ? !ctx.status_text.empty() : statuses.back() != ctx.status_text;
    if (changed) statuses.push_back(ctx.status_text);
  }

  void SetParams(std::initializer_list<std::string> values) {
    ctx.param = {};
    int i = 0;
    for (const std::string& v : values) ctx.param[i++] = v;
  }
  [[nodiscard]] std::vector<std::uint16_t> ErrorCodes() const {
    std::vector<std::uint16_t> codes;
    for (const PatchError& e : errors) codes.push_back(e.code);
    return codes;
  }

  CommandContext ctx;
  std::vector<PatchError> errors;
  std::vector<PatchStep> steps;
  std::vector<std::uint32_t> phases_written;
  std::vector<std::string> statuses;
  std::vector<PointerCall> pointer_calls;
  CheckpointRecord checkpoint;
  std::uint32_t file_counter = 0;
  int pointer_result = 0;
  std::string control_file = "ctl.txt";
  CDeltaCrc32 crc;
  CIniClass ini;

 private:
  CDynBuf payload_;
  std::vector<std::uint8_t> copy_;
};

// A path inside the folder with native separators ("old/T.DAT" on Windows
// becomes "old\\T.DAT"), as the commands join their paths.
inline std::string Native(const TempDir& dir, std::string_view relative) {
  return (dir.path() / std::filesystem::path(relative).make_preferred()).string();
}

// One update data record, bytes laid out by hand: position (LE32), token,
// length (LE16), payload.
inline std::string Rec(std::int64_t position, char tok, std::uint16_t length, std::string_view payload = {}) {
  const auto p = static_cast<std::uint32_t>(position);
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((p >> (8 * i)) & 0xFF));
  s.push_back(tok);
  s.push_back(static_cast<char>(length & 0xFF));
  s.push_back(static_cast<char>(length >> 8));
  s.append(payload);
  return s;
}

// A record whose payload length is taken from the payload.
inline std::string Rec(std::int64_t position, char tok, std::string_view payload) {
  return Rec(position, tok, static_cast<std::uint16_t>(payload.size()), payload);
}

// A minimal structure file: a 40-byte header naming the data and index
// files, no fields, an empty auxiliary block.
inline std::string StructureFile(std::string_view data_name, std::string_view index_name) {
  std::string s(2 + 40 + 2, '\0');
  s[0] = 40;
  s.replace(8, data_name.size(), data_name);
  s.replace(21, index_name.size(), index_name);
  return s;
}

}  // namespace veupd::test
