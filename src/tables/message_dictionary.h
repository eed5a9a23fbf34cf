// The message dictionary: user-visible texts by number from a table whose
// records are keyed by a u32 text number and carry the text in one field.
// No lock: lookups must not overlap; copy each returned text at once.
#pragma once

#include <cstdint>
#include <string>

#include "tables/fdt.h"

namespace veupd {

// What a dictionary offers. Deliberately no virtual destructor: objects are
// owned and destroyed as their concrete type.
class TDM_Tessel {
 public:
  virtual bool Open(const char* structure_file, const char* language, const char* text_field,
                    const char* data_path, const char* index_path) = 0;
  // Copies the text into out; false (out emptied) when there is none.
  virtual bool GetText(std::uint32_t number, std::string& out) = 0;
  // Never null; valid until the next lookup, SetLanguage or Close.
  virtual const char* GetText(std::uint32_t number) = 0;
  virtual const std::string& GetLanguage() const { return language_; }
  // Switches the data/index pair; a failed switch keeps the old pair.
  virtual bool SetLanguage(const char* language) = 0;
  virtual void Close() = 0;

 protected:
  TDM_Tessel() = default;
  ~TDM_Tessel() = default;
  TDM_Tessel(const TDM_Tessel&) = delete;
  TDM_Tessel& operator=(const TDM_Tessel&) = delete;

  std::string language_;       // empty while no language is set
  std::string data_pattern_;   // a run of '@' stands for the language code
  std::string index_pattern_;
  bool open_ = false;
};

class TDM_FdtTessel : public TDM_Tessel, public FDT {
 public:
  static constexpr std::uint16_t kNoField = 0xFFFF;

  // Opens at once only when both the structure file and the language are
  // given; the program passes only the text field name ("D0").
  explicit TDM_FdtTessel(const char* structure_file = nullptr, const char* language = nullptr,
                         const char* text_field = nullptr, const char* data_path = nullptr,
                         const char* index_path = nullptr);
  ~TDM_FdtTessel() override;

  // data_path / index_path: null or empty = the structure file's directory;
  // ending in a separator = that directory plus the header's file name;
  // anything else = the full path pattern.
  bool Open(const char* structure_file, const char* language, const char* text_field,
            const char* data_path, const char* index_path) override;
  bool GetText(std::uint32_t number, std::string& out) override;
  const char* GetText(std::uint32_t number) override;
  bool SetLanguage(const char* language) override;
  void Close() override;
  // Dropping the structure through the FDT side closes the dictionary.
  void FreeStru() override;

  // Chooses the text field; list fields are refused, since their lookup
  // yields a count rather than a text.
  bool SelectField(const char* name);

  [[nodiscard]] bool IsOpen() const { return open_; }
  [[nodiscard]] const std::string& DataPattern() const { return data_pattern_; }
  [[nodiscard]] const std::string& IndexPattern() const { return index_pattern_; }

 private:
  std::uint16_t text_field_ = kNoField;
  std::uint16_t key_length_ = 0;
};

}  // namespace veupd
