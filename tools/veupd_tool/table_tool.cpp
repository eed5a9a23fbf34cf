// veupd-tool table: makes a table (structure, data and index files) from a
// field description and TAB-separated records, prints one, or looks a key up.
// The index is written by the same builder as the pointer component's.
//
// Description, one statement a line ('#' starts a comment):
//   data NAME | index NAME     file names in the header ('@' = language)
//   flags WORD...              backward nearest bitmap tree, or a number
//   entry N                    index entry length (default: key width + 4)
//   field NN KIND WIDTH [fixed] [number] [long] [max=N] [type=N] [-- text]
//     KIND single | list8 | list16; "number" stores a decimal number
//     little-endian in a fixed field of 1, 2, 4 or 8 bytes; "long" gives
//     values a 16-bit length prefix; the text after "--" is the description.
// Records: one line each, one TAB-separated column per field; escapes \t \n
// \r \\ \| \xHH; list elements are separated by '|'; with a bitmap an empty
// column is an absent field.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "tables/fdt.h"
#include "tables/fdt_index_builder.h"
#include "tool_registry.h"

namespace veupd::tool {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr std::uint16_t kTypeNumber = 1 << 1;  // type code 1: a little-endian number
constexpr std::uint16_t kTypeLong = 6 << 1;    // type code 6: 16-bit length prefix
constexpr std::uint16_t kTypeMask = 7 << 1;
constexpr std::uint64_t kMaxSourceSize = 1u << 30;
constexpr std::size_t kMaxFileName = fdt::kFileNameSize - 1;

struct FieldDef {
  std::string name;
  std::uint16_t kind = fdt::kKindSingle;
  std::uint16_t width = 0;
  std::uint16_t max_occurs = 1;
  std::uint16_t flags = 0;
  std::string description;
};

struct TableDef {
  std::string data_name;
  std::string index_name;
  std::uint32_t flags = 0;
  std::uint16_t entry_length = 0;
  std::vector<FieldDef> fields;
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "veupd-tool table: %s\n", message.c_str());
  return kExitFailed;
}

bool ReadWhole(const std::string& path, std::string& out) {
  os::File file;
  std::uint64_t length = 0;
  if (!file.Open(path, os::OpenMode::kReadDenyWrite).ok() || !file.Length(length).ok() ||
      length > kMaxSourceSize) {
    return false;
  }
  out.resize(static_cast<std::size_t>(length));
  std::size_t got = 0;
  return file.Read(out.data(), out.size(), got).ok() && got == out.size();
}

bool WriteWhole(const std::string& path, std::string_view bytes) {
  os::File file;
  if (!file.Open(path, os::OpenMode::kCreateTruncate).ok()) return false;
  const bool written = bytes.empty() || file.Write(bytes.data(), bytes.size()).ok();
  return file.Close().ok() && written;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
  if (*end != '\0' || text[0] == '-' || parsed > max) return false;
  value = parsed;
  return true;
}

// Escapes: \t \n \r \\ \| \xHH. Splits list elements at unescaped '|'.
bool Unescape(const std::string& text, bool split, std::vector<std::string>& out) {
  out.assign(1, std::string());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (split && c == '|') {
      out.emplace_back();
      continue;
    }
    if (c != '\\') {
      out.back() += c;
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case 't': out.back() += '\t'; break;
      case 'n': out.back() += '\n'; break;
      case 'r': out.back() += '\r'; break;
      case '\\': out.back() += '\\'; break;
      case '|': out.back() += '|'; break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        std::uint64_t value = 0;
        if (!ParseNumber("0x" + text.substr(i + 1, 2), 0xFF, value)) return false;
        out.back() += static_cast<char>(value);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

std::string Escape(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\\') out += "\\\\";
    else if (c == '|') out += "\\|";
    else if (b < 0x20 || b == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

bool IsNumberField(const fdt::FieldInfo& field) {
  return (field.flags & fdt::kFieldFixed) && (field.flags & kTypeMask) == kTypeNumber &&
         (field.width == 1 || field.width == 2 || field.width == 4 || field.width == 8);
}

// ---------------------------------------------------------------- build

// The words after "flags"; the error text, empty when all are known.
std::string ParseFlags(const std::vector<std::string>& words, TableDef& table) {
  for (std::size_t i = 1; i < words.size(); ++i) {
    std::uint64_t value = 0;
    if (words[i] == "backward") table.flags |= fdt::kFlagBackward;
    else if (words[i] == "nearest") table.flags |= fdt::kFlagNearest;
    else if (words[i] == "bitmap") table.flags |= fdt::kFlagBitmap;
    else if (words[i] == "tree") table.flags |= fdt::kFlagTree;
    else if (ParseNumber(words[i], 0xFFFFFFFF, value)) table.flags |= static_cast<std::uint32_t>(value);
    else return "unknown flag '" + words[i] + "'";
  }
  return {};
}

// The options after a field's width; the error text, empty when all are known.
std::string ParseFieldOptions(const std::vector<std::string>& words, FieldDef& field) {
  for (std::size_t i = 4; i < words.size(); ++i) {
    std::uint64_t value = 0;
    const std::string& option = words[i];
    if (option == "fixed") field.flags |= fdt::kFieldFixed;
    else if (option == "number") field.flags = static_cast<std::uint16_t>((field.flags & ~kTypeMask) | kTypeNumber);
    else if (option == "long") field.flags = static_cast<std::uint16_t>((field.flags & ~kTypeMask) | kTypeLong);
    else if (option.rfind("max=", 0) == 0 && ParseNumber(option.substr(4), 0xFFFF, value))
      field.max_occurs = static_cast<std::uint16_t>(value);
    else if (option.rfind("type=", 0) == 0 && ParseNumber(option.substr(5), 7, value))
      field.flags = static_cast<std::uint16_t>((field.flags & ~kTypeMask) | (value << 1));
    else return "unknown field option '" + option + "'";
  }
  return {};
}

// "field NAME KIND WIDTH OPTIONS..."; the error text, empty when it is added.
std::string ParseField(const std::vector<std::string>& words, const std::string& description, TableDef& table) {
  FieldDef field;
  field.name = words[1];
  field.description = description;
  std::uint64_t width = 0;
  if (field.name.size() != fdt::kFieldNameLength) return "a field name has two characters";
  if (words[2] == "single") field.kind = fdt::kKindSingle;
  else if (words[2] == "list8") field.kind = fdt::kKindList8;
  else if (words[2] == "list16") field.kind = fdt::kKindList16;
  else return "kind must be single, list8 or list16";
  if (!ParseNumber(words[3], 0xFFFF, width) || width == 0) return "width must be 1 to 65535";
  field.width = static_cast<std::uint16_t>(width);
  if (std::string error = ParseFieldOptions(words, field); !error.empty()) return error;
  if ((field.flags & kTypeMask) == kTypeNumber && !(field.flags & fdt::kFieldFixed)) {
    return "a number field must be fixed";
  }
  if (field.kind != fdt::kKindSingle && (field.flags & fdt::kFieldFixed)) {
    return "list elements always carry a length prefix";
  }
  table.fields.push_back(field);
  return {};
}

// One line's words; the error text, empty when the line was understood.
std::string ParseDescriptionLine(const std::vector<std::string>& words, const std::string& description,
                                 const std::string& line, TableDef& table) {
  const std::string& verb = words[0];
  if ((verb == "data" || verb == "index") && words.size() <= 2) {
    const std::string name = words.size() == 2 ? words[1] : "";
    if (name.size() > kMaxFileName) return "file name longer than 12 characters";
    (verb == "data" ? table.data_name : table.index_name) = name;
    return {};
  }
  if (verb == "flags") return ParseFlags(words, table);
  if (verb == "entry" && words.size() == 2) {
    std::uint64_t value = 0;
    if (!ParseNumber(words[1], 0xFFFF, value) || value <= fdt::kEntryOffsetSize) {
      return "entry length must be 5 to 65535";
    }
    table.entry_length = static_cast<std::uint16_t>(value);
    return {};
  }
  if (verb == "field" && words.size() >= 4) return ParseField(words, description, table);
  return "cannot read '" + line + "'";
}

bool ParseDescription(const std::string& text, TableDef& table, std::string& error) {
  int line_no = 0;
  for (std::string line : Lines(text)) {
    ++line_no;
    std::string description;
    if (const std::size_t dashes = line.find(" -- "); dashes != std::string::npos) {
      description = line.substr(dashes + 4);
      line.resize(dashes);
    }
    if (const std::size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    const std::vector<std::string> words = Words(line);
    if (words.empty()) continue;
    if (std::string problem = ParseDescriptionLine(words, description, line, table); !problem.empty()) {
      error = "description line " + std::to_string(line_no) + ": " + problem;
      return false;
    }
  }
  if (table.data_name.empty() || table.fields.empty()) {
    error = "the description needs a data file name and at least one field";
    return false;
  }
  if (table.fields.size() > 0x7FFF) {
    error = "too many fields";
    return false;
  }
  if (table.entry_length == 0) {
    table.entry_length = static_cast<std::uint16_t>(
        std::min<std::size_t>(table.fields[0].width + fdt::kEntryOffsetSize, 0xFFFF));
  }
  return true;
}


std::string StructureBytes(const TableDef& table) {
  std::string out;
  AppendLE16(out, static_cast<std::uint16_t>(fdt::kMinHeaderLength));
  AppendLE16(out, 0);
  AppendLE16(out, static_cast<std::uint16_t>(table.fields.size()));
  AppendLE16(out, 0);
  for (const std::string* name : {&table.data_name, &table.index_name}) {
    std::string padded = *name;
    padded.resize(fdt::kFileNameSize, '\0');
    out += padded;
  }
  AppendLE16(out, 0);  // maximum record length: the reader computes it
  AppendLE16(out, table.entry_length);
  AppendLE32(out, table.flags);
  for (const FieldDef& field : table.fields) {
    std::string name = field.name;
    name.resize(3, '\0');
    out += name;
    AppendLE16(out, field.width);
    AppendLE16(out, field.max_occurs);
    AppendLE16(out, field.kind);
    AppendLE16(out, 0);
    AppendLE16(out, field.flags);
  }
  AppendLE16(out, 0);  // no auxiliary block
  for (const FieldDef& field : table.fields) {
    const std::string text = field.description.substr(0, fdt::kMaxDescription);
    AppendLE16(out, static_cast<std::uint16_t>(text.empty() ? 0 : text.size() + 1));
    if (!text.empty()) out += text + '\0';
  }
  return out;
}

bool EncodeValue(const FieldDef& field, const std::string& value, std::string& out, std::string& error) {
  const std::size_t prefix = fdt::PrefixSize(field.flags);
  auto put_prefixed = [&](const std::string& bytes) {
    if (bytes.size() > field.width) {
      error = "field " + field.name + ": value longer than its width " + std::to_string(field.width);
      return false;
    }
    if (prefix == 2) AppendLE16(out, static_cast<std::uint16_t>(bytes.size()));
    else out += static_cast<char>(bytes.size());
    out += bytes;
    return true;
  };
  std::vector<std::string> parts;
  if (!Unescape(value, field.kind != fdt::kKindSingle, parts)) {
    error = "field " + field.name + ": bad escape in '" + value + "'";
    return false;
  }
  if (field.kind == fdt::kKindSingle) {
    if (!(field.flags & fdt::kFieldFixed)) return put_prefixed(parts[0]);
    std::string bytes = parts[0];
    if ((field.flags & kTypeMask) == kTypeNumber) {
      std::uint64_t number = 0;
      const std::uint64_t max = field.width >= 8 ? ~0ull : (1ull << (8 * field.width)) - 1;
      if (!ParseNumber(bytes.empty() ? "0" : bytes, max, number)) {
        error = "field " + field.name + ": '" + bytes + "' is not a number that fits";
        return false;
      }
      bytes.assign(field.width, '\0');
      for (std::size_t i = 0; i < field.width && i < 8; ++i) bytes[i] = static_cast<char>(number >> (8 * i));
    } else if (bytes.size() > field.width) {
      error = "field " + field.name + ": value longer than its width " + std::to_string(field.width);
      return false;
    }
    bytes.resize(field.width, '\0');
    out += bytes;
    return true;
  }
  if (value.empty()) parts.clear();
  if (parts.size() > field.max_occurs) {
    error = "field " + field.name + ": more than " + std::to_string(field.max_occurs) + " elements";
    return false;
  }
  if (field.kind == fdt::kKindList8) out += static_cast<char>(parts.size());
  else AppendLE16(out, static_cast<std::uint16_t>(parts.size()));
  for (const std::string& part : parts) {
    if (!put_prefixed(part)) return false;
  }
  return true;
}

bool EncodeRecords(const TableDef& table, const std::string& text, std::size_t max_record, std::string& data,
                   std::string& error) {
  const bool bitmap = (table.flags & fdt::kFlagBitmap) != 0;
  const std::size_t bitmap_bytes = (table.fields.size() + 7) / 8;
  int line_no = 0;
  for (const std::string& line : Lines(text)) {
    ++line_no;
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> columns = Split(line, '\t');
    const std::string where = "records line " + std::to_string(line_no) + ": ";
    if (columns.size() > table.fields.size()) {
      error = where + "more columns than fields";
      return false;
    }
    std::string content;
    std::string bits(bitmap_bytes, '\0');
    for (std::size_t i = 0; i < table.fields.size(); ++i) {
      const std::string value = i < columns.size() ? columns[i] : "";
      if (bitmap && value.empty()) continue;  // absent
      if (bitmap) bits[i / 8] = static_cast<char>(bits[i / 8] | (0x80 >> (i % 8)));
      if (!EncodeValue(table.fields[i], value, content, error)) {
        error = where + error;
        return false;
      }
    }
    if (bitmap) content = static_cast<char>(bitmap_bytes) + bits + content;
    if (content.size() > max_record) {
      error = where + "record of " + std::to_string(content.size()) + " bytes, the table allows " +
              std::to_string(max_record);
      return false;
    }
    AppendLE16(data, static_cast<std::uint16_t>(content.size()));
    data += content;
    if (data.size() > 0x7FFFFFFF) {
      error = "data file above 2 GB";
      return false;
    }
  }
  return true;
}

// The path of a header file name beside the structure, '@' run replaced.
bool TableFilePath(const std::string& structure, const std::string& name, const std::string& language,
                   std::string& path, std::string& error) {
  std::string filled = name;
  const std::size_t first = name.find('@');
  if (first != std::string::npos) {
    if (language.empty()) {
      error = "the file name " + name + " holds '@': give a language code";
      return false;
    }
    filled = name.substr(0, first) + language + name.substr(name.rfind('@') + 1);
  }
  // Either separator: build scripts hand over '/' paths on every system.
  const std::size_t separator = structure.find_last_of("/\\");
  path = separator == std::string::npos ? filled : os::JoinPath(structure.substr(0, separator), filled);
  return true;
}

int Build(const std::vector<std::string>& args) {
  if (args.size() < 4 || args.size() > 5) {
    std::fputs("usage: veupd-tool table build DESCRIPTION RECORDS STRUCTURE [LANGUAGE]\n", stderr);
    return kExitUsage;
  }
  const std::string& structure = args[3];
  const std::string language = args.size() == 5 ? args[4] : "";
  std::string text;
  if (!ReadWhole(args[1], text)) return Fail("cannot read " + args[1]);
  TableDef table;
  std::string error;
  if (!ParseDescription(text, table, error)) return Fail(error);
  std::string data_path, index_path;
  if (!TableFilePath(structure, table.data_name, language, data_path, error)) return Fail(error);
  if (!table.index_name.empty() && !TableFilePath(structure, table.index_name, language, index_path, error)) {
    return Fail(error);
  }
  if (!WriteWhole(structure, StructureBytes(table))) return Fail("cannot write " + structure);
  FDT check;
  std::string data_name, index_name;
  if (!check.NewStru(structure, data_name, index_name)) return Fail("cannot read back " + structure);
  std::string records;
  if (!ReadWhole(args[2], records)) return Fail("cannot read " + args[2]);
  std::string data;
  if (!EncodeRecords(table, records, check.MaxRecordLength(), data, error)) return Fail(error);
  if (!WriteWhole(data_path, data)) return Fail("cannot write " + data_path);
  if (!index_path.empty()) {
    const fdt::IndexResult result = fdt::BuildIndex(structure, data_path, index_path);
    if (result != fdt::IndexResult::kOk) {
      return Fail("index not built (" + std::to_string(static_cast<int>(result)) + "): " + index_path);
    }
  }
  return kExitOk;
}

// ---------------------------------------------------------------- dump, get

bool OpenTable(const std::vector<std::string>& args, std::size_t language_arg, FDT& table) {
  std::string data_name, index_name, error;
  if (!table.NewStru(args[1], data_name, index_name)) {
    Fail("cannot load the structure " + args[1]);
    return false;
  }
  const std::string language = args.size() > language_arg ? args[language_arg] : "";
  std::string data_path, index_path;
  if (!TableFilePath(args[1], data_name, language, data_path, error) ||
      (!index_name.empty() && !TableFilePath(args[1], index_name, language, index_path, error))) {
    Fail(error);
    return false;
  }
  if (!table.SetFiles(data_path, index_path) || !table.OpenFiles(fdt::kOpenAll)) {
    Fail("cannot open " + data_path + (index_path.empty() ? "" : " or " + index_path));
    return false;
  }
  return true;
}

const char* KindName(std::uint16_t kind) {
  switch (kind) {
    case fdt::kKindGroup: return "group";
    case fdt::kKindList8: return "list8";
    case fdt::kKindSingle: return "single";
    case fdt::kKindList16: return "list16";
    case fdt::kKindMemberList8: return "member-list8";
    case fdt::kKindMemberSingle: return "member-single";
    case fdt::kKindMemberList16: return "member-list16";
    default: return "unknown";
  }
}

// The record last read, as a records line of the build source.
std::string RecordLine(const FDT& table) {
  std::string line;
  for (std::int16_t i = 0; i < table.FieldCount(); ++i) {
    if (i > 0) line += '\t';
    fdt::FieldView view;
    if (!table.ViewField(i, view) || !view.present) continue;
    const fdt::FieldInfo field = table.Field(i);
    const auto* bytes = reinterpret_cast<const char*>(view.bytes);
    if (view.kind == fdt::kKindSingle) {
      if (IsNumberField(field)) {
        std::uint64_t number = 0;
        for (std::size_t b = 0; b < view.size; ++b) number |= std::uint64_t{view.bytes[b]} << (8 * b);
        line += std::to_string(number);
      } else {
        std::string_view value(bytes, view.size);
        if (field.flags & fdt::kFieldFixed) value = value.substr(0, value.find('\0'));
        line += Escape(value);
      }
      continue;
    }
    // Lists: walk the elements again (ViewField checked their bounds).
    const std::size_t prefix = fdt::PrefixSize(field.flags);
    const std::uint8_t* p = view.bytes;
    for (std::uint32_t k = 0; k < view.count; ++k) {
      const std::size_t n = prefix == 2 ? ReadLE16(p) : *p;
      if (k > 0) line += '|';
      line += Escape(std::string_view(reinterpret_cast<const char*>(p + prefix), n));
      p += prefix + n;
    }
  }
  return line;
}

int Dump(const std::vector<std::string>& args) {
  if (args.size() < 2 || args.size() > 3) {
    std::fputs("usage: veupd-tool table dump STRUCTURE [LANGUAGE]\n", stderr);
    return kExitUsage;
  }
  FDT table;
  if (!OpenTable(args, 2, table)) return kExitFailed;
  const std::uint32_t flags = table.TableFlags();
  std::printf("# structure %s: header length %u, %d fields, maximum record %u bytes\n", args[1].c_str(),
              table.HeaderLength(), table.FieldCount(), table.MaxRecordLength());
  std::printf("# data %s (%u bytes), index %s (%u bytes)\n", table.DataPath().c_str(), table.DataLength(),
              table.IndexPath().empty() ? "-" : table.IndexPath().c_str(), table.IndexLength());
  std::printf("# entry length %u, flags 0x%08X%s%s%s%s\n", table.EntryLength(), flags,
              (flags & fdt::kFlagBackward) ? " backward" : "", (flags & fdt::kFlagNearest) ? " nearest" : "",
              (flags & fdt::kFlagBitmap) ? " bitmap" : "", (flags & fdt::kFlagTree) ? " tree" : "");
  for (std::int16_t i = 0; i < table.FieldCount(); ++i) {
    const fdt::FieldInfo field = table.Field(i);
    std::printf("# field %s %s %u max=%u flags=0x%04X members=%u -- %s\n", field.name.c_str(), KindName(field.kind),
                field.width, field.max_occurs, field.flags, field.members,
                Escape(table.Descriptions()[std::size_t(i)]).c_str());
  }
  table.SetDataPosition(0);
  std::uint32_t count = 0;
  while (static_cast<std::uint32_t>(table.DataPosition()) < table.DataLength()) {
    const std::int32_t at = table.DataPosition();
    if (!table.ReadRecord()) {
      std::printf("# damaged record at offset %d\n", at);
      return kExitFailed;
    }
    std::printf("%s\n", RecordLine(table).c_str());
    ++count;
  }
  std::printf("# %u records\n", count);
  return kExitOk;
}

int Get(const std::vector<std::string>& args) {
  if (args.size() < 3 || args.size() > 4) {
    std::fputs("usage: veupd-tool table get STRUCTURE KEY [LANGUAGE]\n", stderr);
    return kExitUsage;
  }
  FDT table;
  if (!OpenTable(args, 3, table)) return kExitFailed;
  if (table.IndexPath().empty() || table.EntryLength() <= fdt::kEntryOffsetSize) {
    return Fail("the table has no index");
  }
  const std::size_t key_length = table.EntryLength() - fdt::kEntryOffsetSize;
  std::string key(key_length, '\0');
  const fdt::FieldInfo first = table.Field(0);
  if (IsNumberField(first)) {
    std::uint64_t number = 0;
    if (!ParseNumber(args[2], ~0ull, number)) return Fail("the key is a number: " + args[2]);
    for (std::size_t i = 0; i < key_length && i < 8; ++i) key[i] = static_cast<char>(number >> (8 * i));
  } else {
    std::vector<std::string> parts;
    if (!Unescape(args[2], false, parts)) return Fail("bad escape in the key");
    key.replace(0, std::min(parts[0].size(), key_length), parts[0].substr(0, key_length));
  }
  if (!table.Search(key.data(), static_cast<std::int16_t>(std::min<std::size_t>(key_length, 0x7FFF)))) {
    std::fprintf(stderr, "veupd-tool table: key not found\n");
    return kExitFailed;
  }
  if (!table.ReadRecord()) return Fail("damaged record");
  std::printf("%s\n", RecordLine(table).c_str());
  return kExitOk;
}

int TableMain(const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == "build") return Build(args);
  if (!args.empty() && args[0] == "dump") return Dump(args);
  if (!args.empty() && args[0] == "get") return Get(args);
  std::fputs("usage: veupd-tool table build|dump|get ...\n", stderr);
  return kExitUsage;
}

const ToolRegistrar kRegistrar({"table",
                                "  table build DESCRIPTION RECORDS STRUCTURE [LANGUAGE]\n"
                                "      make a table from a field description and TAB-separated records;\n"
                                "      '@' in its file names becomes LANGUAGE\n"
                                "  table dump STRUCTURE [LANGUAGE]   print header, fields and records\n"
                                "  table get STRUCTURE KEY [LANGUAGE]   look one key up",
                                TableMain});

}  // namespace
}  // namespace veupd::tool
