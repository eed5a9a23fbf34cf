// Update data builder. Both files are walked forward together; a run of equal
// bytes (or records) costs nothing, and at each difference the cheapest point
// where the two files agree again is searched in a radius that grows from 256
// bytes up to max_search. The search indexes sampled 16-byte windows of the
// old file and scans the new file at every offset, so a change is found near
// its true size. Records are emitted in old-file order, as the engine reads
// them in one forward pass.
#include "veupd_tool/update_diff.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

#include "formats/byte_order.h"
#include "formats/crc32.h"

namespace veupd {

namespace {

constexpr std::size_t kMatchWindow = 16;   // bytes hashed per sample
constexpr std::size_t kMinMatch = 24;      // shortest run that counts as the files agreeing again
constexpr std::size_t kMatchProbe = 256;   // how far a candidate's run is measured
constexpr std::size_t kFirstRadius = 256;
constexpr std::size_t kRadiusGrowth = 16;
// Old-file samples per search stay below 2^18, so a larger radius samples
// every few bytes (a match then needs kMatchWindow + step - 1 bytes).
constexpr unsigned kSampleShift = 18;
constexpr std::size_t kLengthField = 2;
constexpr std::size_t kMaxRecordBytes = kLengthField + kMaxPayload;
constexpr std::size_t kFirstRecordRadius = 16;
// Records searched at most, whatever max_search allows in bytes.
constexpr std::size_t kMaxRecordRadius = std::size_t{1} << 16;
// Gaps of up to this many old x new records are aligned record by record.
constexpr std::size_t kMaxAlignCells = 4096;
constexpr std::uint64_t kNoCost = std::numeric_limits<std::uint64_t>::max();

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Number of equal leading bytes of a and b, at most n.
std::size_t CommonPrefix(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const std::uint64_t x = Load64(a + i) ^ Load64(b + i);
    if (x != 0) {
      const int bit = std::endian::native == std::endian::little ? std::countr_zero(x) : std::countl_zero(x);
      return i + static_cast<std::size_t>(bit) / 8;
    }
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

std::uint32_t HashWindow(const std::uint8_t* p, unsigned bits) {
  std::uint64_t h = Load64(p) * 0x9E3779B97F4A7C15ull;
  h ^= Load64(p + 8) + (h >> 31);
  h *= 0xC2B2AE3D27D4EB4Full;
  return static_cast<std::uint32_t>(h >> (64 - bits));
}

std::uint64_t HashBytes(const std::uint8_t* p, std::size_t n) {
  std::uint64_t h = 0x27D4EB2F165667C5ull ^ n;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) h = (h ^ Load64(p + i)) * 0x9E3779B97F4A7C15ull + (h >> 29);
  for (; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h ^ (h >> 32);
}

std::uint64_t RecordCount(std::uint64_t bytes) { return (bytes + kMaxPayload - 1) / kMaxPayload; }

// Size of the records that replace old_bytes by new_bytes: 'U' for the
// common length, then 'A' or 'D' for the rest.
std::uint64_t GapCost(std::uint64_t old_bytes, std::uint64_t new_bytes) {
  const std::uint64_t both = std::min(old_bytes, new_bytes);
  const std::uint64_t records =
      RecordCount(both) + RecordCount(old_bytes - both) + RecordCount(new_bytes - both);
  return records * kRecordHeaderSize + new_bytes;
}

// A forward-moving view of a source: the bytes asked for are kept resident in
// one buffer of fixed capacity. Sources already in memory are used in place.
class Window {
 public:
  Window(DiffSource& source, std::size_t capacity)
      : source_(source), direct_(source.Data()), capacity_(capacity) {}

  [[nodiscard]] std::uint64_t Size() const { return source_.Size(); }

  // Makes [pos, pos + want) resident, cut at the end of the source
  // (want <= capacity). p points at pos; avail counts the resident bytes from
  // there, at least the ones asked for. False on a read error.
  [[nodiscard]] bool Ensure(std::uint64_t pos, std::size_t want, const std::uint8_t*& p, std::size_t& avail) {
    const std::uint64_t size = source_.Size();
    pos = std::min(pos, size);
    if (direct_ != nullptr) {
      p = direct_ + pos;
      avail = static_cast<std::size_t>(size - pos);
      return true;
    }
    const std::size_t need = static_cast<std::size_t>(std::min<std::uint64_t>(want, size - pos));
    if (pos >= base_ && pos + need <= base_ + len_) {
      p = buf_.data() + (pos - base_);
      avail = static_cast<std::size_t>(base_ + len_ - pos);
      return true;
    }
    if (buf_.empty()) buf_.resize(capacity_);
    std::size_t keep = 0;
    if (pos >= base_ && pos < base_ + len_) {
      keep = static_cast<std::size_t>(base_ + len_ - pos);
      std::memmove(buf_.data(), buf_.data() + (pos - base_), keep);
    }
    base_ = pos;
    len_ = keep;
    const std::size_t more = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_ - len_, size - (base_ + len_)));
    if (more > 0 && !source_.ReadAt(base_ + len_, buf_.data() + len_, more)) {
      len_ = 0;
      return false;
    }
    len_ += more;
    p = buf_.data();
    avail = len_;
    return true;
  }

 private:
  DiffSource& source_;
  const std::uint8_t* direct_;
  std::size_t capacity_;
  std::vector<std::uint8_t> buf_;
  std::uint64_t base_ = 0;
  std::size_t len_ = 0;
};

// Collects records to be weighed before they are passed on.
class RecordList : public DiffSink {
 public:
  [[nodiscard]] bool Put(const UpdateRecord& rec, std::span<const std::uint8_t> payload) override {
    records.push_back(rec);
    payloads.insert(payloads.end(), payload.begin(), payload.end());
    size += kRecordHeaderSize + payload.size();
    return true;
  }
  void Clear() {
    records.clear();
    payloads.clear();
    size = 0;
  }
  std::vector<UpdateRecord> records;
  std::vector<std::uint8_t> payloads;
  std::uint64_t size = 0;
};

struct Tokens {
  std::uint8_t insert, remove, replace;
};
constexpr Tokens kByteTokens{token::kAdd, token::kDelete, token::kReplace};
constexpr Tokens kInRecordTokens{token::kAddBytes, token::kDeleteBytes, token::kReplaceBytes};

// Counts what reaches the sink and keeps the first failure's text.
class Output {
 public:
  explicit Output(DiffSink& sink) : sink_(sink) {}

  [[nodiscard]] bool Put(std::uint64_t position, std::uint8_t tok, std::uint16_t length,
                         std::span<const std::uint8_t> payload) {
    if (position > static_cast<std::uint64_t>(kMaxPosition)) return Fail("position beyond 2 GiB");
    UpdateRecord rec;
    rec.position = static_cast<std::int32_t>(position);
    rec.token = tok;
    rec.length = length;
    if (!sink_.Put(rec, payload)) return Fail("cannot write the update data file");
    ++stats.records;
    stats.payload_bytes += payload.size();
    return true;
  }
  [[nodiscard]] bool Fail(std::string text) {
    if (error.empty()) error = std::move(text);
    return false;
  }

  DiffStats stats;
  std::string error;

 private:
  DiffSink& sink_;
};

// Byte-level diff of two sources; positions are old offsets plus base.
class ByteDiffer {
 public:
  ByteDiffer(Window& old_w, Window& new_w, Output& out, Tokens tokens, std::uint64_t base,
             std::size_t max_search, std::vector<std::uint32_t>& table)
      : old_(old_w), new_(new_w), out_(out), tok_(tokens), base_(base), max_search_(max_search), table_(table) {}

  [[nodiscard]] bool Run() {
    const std::uint64_t old_size = old_.Size();
    const std::uint64_t new_size = new_.Size();
    std::uint64_t o = 0;
    std::uint64_t n = 0;
    for (;;) {
      while (o < old_size && n < new_size) {
        const std::uint8_t* po;
        const std::uint8_t* pn;
        std::size_t ao;
        std::size_t an;
        if (!old_.Ensure(o, kCompareChunk, po, ao) || !new_.Ensure(n, kCompareChunk, pn, an)) return ReadFailed();
        const std::size_t len = std::min(ao, an);
        const std::size_t same = CommonPrefix(po, pn, len);
        o += same;
        n += same;
        if (same < len) break;
      }
      if (o == old_size && n == new_size) return true;
      std::uint64_t gap_old = old_size - o;
      std::uint64_t gap_new = new_size - n;
      if (gap_old != 0 && gap_new != 0) {
        if (!FindResync(o, n, gap_old, gap_new)) return false;
      }
      if (!EmitGap(o, gap_old, n, gap_new)) return false;
      o += gap_old;
      n += gap_new;
    }
  }

  // Writes the records that replace old bytes [o, o + old_bytes) by new
  // bytes [n, n + new_bytes).
  [[nodiscard]] bool EmitGap(std::uint64_t o, std::uint64_t old_bytes, std::uint64_t n, std::uint64_t new_bytes) {
    const std::uint64_t both = std::min(old_bytes, new_bytes);
    // New bytes [n + from, n + to) as records of one token; replacements move
    // along the old file, inserts all stand at the end of the replaced part.
    const auto put_new = [&](std::uint64_t from, std::uint64_t to, std::uint8_t token, bool advance) {
      for (std::uint64_t k = from; k < to;) {
        const auto len = static_cast<std::uint16_t>(std::min<std::uint64_t>(kMaxPayload, to - k));
        const std::uint8_t* p;
        std::size_t avail;
        if (!new_.Ensure(n + k, len, p, avail)) return ReadFailed();
        if (!out_.Put(base_ + o + (advance ? k : both), token, len, {p, len})) return false;
        k += len;
      }
      return true;
    };
    if (!put_new(0, both, tok_.replace, /*advance=*/true)) return false;
    if (!put_new(both, new_bytes, tok_.insert, /*advance=*/false)) return false;
    for (std::uint64_t k = both; k < old_bytes;) {
      const auto len = static_cast<std::uint16_t>(std::min<std::uint64_t>(kMaxPayload, old_bytes - k));
      if (!out_.Put(base_ + o + k, tok_.remove, len, {})) return false;
      k += len;
    }
    return true;
  }

  static constexpr std::size_t kCompareChunk = std::size_t{1} << 16;
  // Bytes a window must hold beyond the search radius.
  static constexpr std::size_t kWindowSlack = kMatchWindow + kMatchProbe;

 private:
  [[nodiscard]] bool ReadFailed() { return out_.Fail("read error"); }

  // The cheapest gap found so far and the length of the run that agrees
  // after it.
  struct Resync {
    std::uint64_t cost = kNoCost;
    std::size_t run = 0;
    std::uint64_t old_skip = 0;
    std::uint64_t new_skip = 0;
  };

  // The files differ at o / n. Finds where they agree again: on return
  // old_skip / new_skip (on entry the bytes left in each file) are the gap to
  // replace. Always finds a gap that is not empty on both sides.
  [[nodiscard]] bool FindResync(std::uint64_t o, std::uint64_t n, std::uint64_t& old_skip, std::uint64_t& new_skip) {
    const std::uint64_t old_left = old_skip;
    const std::uint64_t new_left = new_skip;
    for (std::size_t radius = std::min(kFirstRadius, max_search_);; radius = std::min(radius * kRadiusGrowth, max_search_)) {
      const std::size_t r_old = static_cast<std::size_t>(std::min<std::uint64_t>(radius, old_left));
      const std::size_t r_new = static_cast<std::size_t>(std::min<std::uint64_t>(radius, new_left));
      const std::uint8_t* po;
      const std::uint8_t* pn;
      std::size_t ao;
      std::size_t an;
      if (!old_.Ensure(o, r_old + kWindowSlack, po, ao) || !new_.Ensure(n, r_new + kWindowSlack, pn, an)) {
        return ReadFailed();
      }
      Resync best;
      // Everything left lies inside the radius: replacing all of it is a
      // candidate too.
      if (old_left <= radius && new_left <= radius) {
        best = {GapCost(old_left, new_left), std::numeric_limits<std::size_t>::max(), old_left, new_left};
      }
      if (ao >= kMatchWindow && an >= kMatchWindow) {
        const std::size_t step = std::max<std::size_t>(1, radius >> kSampleShift);
        MatchWindows(n, po, std::min(r_old, ao - kMatchWindow), ao, pn, std::min(r_new, an - kMatchWindow), an, step, best);
      }
      if (best.cost != kNoCost) {
        old_skip = best.old_skip;
        new_skip = best.new_skip;
        return true;
      }
      if (radius >= max_search_) {
        // Nothing in reach agrees: replace what was searched and go on.
        old_skip = r_old;
        new_skip = r_new;
        return true;
      }
    }
  }

  // Samples the old window every step bytes up to last_old and looks each
  // new position up to last_new up: a verified match, grown backwards, that
  // makes a cheaper gap (or an equal one with a longer run) becomes best.
  void MatchWindows(std::uint64_t n, const std::uint8_t* po, std::size_t last_old, std::size_t ao,
                    const std::uint8_t* pn, std::size_t last_new, std::size_t an, std::size_t step, Resync& best) {
    const std::size_t samples = last_old / step + 1;
    const unsigned bits = std::max(8u, static_cast<unsigned>(std::bit_width(samples)) + 1);
    table_.assign(std::size_t{1} << bits, 0);
    // Lower offsets are entered last and win: they make smaller deletions.
    for (std::size_t s = samples; s-- > 0;) {
      const std::size_t i = s * step;
      table_[HashWindow(po + i, bits)] = static_cast<std::uint32_t>(i + 1);
    }
    for (std::size_t j = 0; j <= last_new; ++j) {
      // A match not yet seen starts at j - step + 1 or later and needs
      // at least one record header plus its payload.
      if (j >= step && kRecordHeaderSize + (j - step + 1) >= best.cost) break;
      const std::uint32_t entry = table_[HashWindow(pn + j, bits)];
      if (entry == 0) continue;
      std::size_t bi = entry - 1;
      std::size_t bj = j;
      if (std::memcmp(po + bi, pn + bj, kMatchWindow) != 0) continue;
      while (bi > 0 && bj > 0 && po[bi - 1] == pn[bj - 1]) {
        --bi;
        --bj;
      }
      const std::size_t run = CommonPrefix(po + bi, pn + bj, std::min({kMatchProbe, ao - bi, an - bj}));
      if (run < kMinMatch && n + bj + run != new_.Size()) continue;
      const std::uint64_t cost = GapCost(bi, bj);
      if (cost < best.cost || (cost == best.cost && run > best.run)) best = {cost, run, bi, bj};
    }
  }

  Window& old_;
  Window& new_;
  Output& out_;
  Tokens tok_;
  std::uint64_t base_;
  std::size_t max_search_;
  std::vector<std::uint32_t>& table_;
};

// Record-level diff of two table data files.
class RecordDiffer {
 public:
  RecordDiffer(Window& old_w, Window& new_w, Output& out, std::size_t budget, std::vector<std::uint32_t>& table)
      : old_(old_w), new_(new_w), out_(out), budget_(budget), table_(table) {}

  [[nodiscard]] bool Run() {
    const std::uint64_t old_size = old_.Size();
    const std::uint64_t new_size = new_.Size();
    std::uint64_t o = 0;
    std::uint64_t n = 0;
    for (;;) {
      while (o < old_size && n < new_size) {
        const std::uint8_t* ro = nullptr;
        const std::uint8_t* rn = nullptr;
        std::size_t so = 0;
        std::size_t sn = 0;
        if (!Record(old_, "old", o, ro, so) || !Record(new_, "new", n, rn, sn)) return false;
        if (so != sn || std::memcmp(ro, rn, so) != 0) break;
        o += so;
        n += sn;
      }
      if (o == old_size && n == new_size) return true;
      if (!Gap(o, n)) return false;  // moves o and n behind the gap
    }
  }

 private:
  struct Span {
    std::size_t offset;  // from the gap's start
    std::size_t size;    // length field included
  };

  // The record at pos: p and size cover its length field and content.
  [[nodiscard]] bool Record(Window& w, const char* which, std::uint64_t pos, const std::uint8_t*& p, std::size_t& size) {
    std::size_t avail;
    if (!w.Ensure(pos, kMaxRecordBytes, p, avail)) return out_.Fail("read error");
    if (avail < kLengthField || avail < kLengthField + ReadLE16(p)) return NotTable(which, pos);
    size = kLengthField + ReadLE16(p);
    return true;
  }

  [[nodiscard]] bool NotTable(const char* which, std::uint64_t pos) {
    return out_.Fail(std::string("the ") + which + " file is not a table data file: the record at offset " +
                     std::to_string(pos) + " runs past its end");
  }

  // Lists up to count records from pos within the resident bytes p[0, avail).
  // complete: the list reaches the end of the file.
  [[nodiscard]] bool List(Window& w, const char* which, std::uint64_t pos, std::size_t count, std::vector<Span>& out,
                          bool& complete, const std::uint8_t*& p) {
    // Asks the window for more only as the records need it: a window that
    // had to hold the whole budget would be refilled at every gap.
    std::size_t want = std::min(budget_, 2 * kMaxRecordBytes);
    std::size_t avail;
    if (!w.Ensure(pos, want, p, avail)) return out_.Fail("read error");
    out.clear();
    complete = false;
    std::size_t at = 0;
    while (out.size() < count) {
      if (pos + at == w.Size()) {
        complete = true;
        break;
      }
      if (avail - at < kLengthField || avail - at < kLengthField + ReadLE16(p + at)) {
        // The window ends here, or the file does: then the record is cut.
        if (pos + avail == w.Size()) return NotTable(which, pos + at);
        if (want == budget_) break;
        want = std::min(budget_, want * 4);
        if (!w.Ensure(pos, want, p, avail)) return out_.Fail("read error");
        continue;
      }
      const std::size_t size = kLengthField + ReadLE16(p + at);
      out.push_back({at, size});
      at += size;
    }
    return true;
  }

  // The records at o and n differ: finds the gap of records up to where the
  // files agree again and writes its edits.
  [[nodiscard]] bool Gap(std::uint64_t& o, std::uint64_t& n) {
    const std::uint64_t old_size = old_.Size();
    const std::uint64_t new_size = new_.Size();
    const std::uint8_t* po = nullptr;
    const std::uint8_t* pn = nullptr;
    bool old_complete = false;
    bool new_complete = false;
    if (o == old_size) {
      old_recs_.clear();
      old_complete = true;
    }
    if (n == new_size) {
      new_recs_.clear();
      new_complete = true;
    }
    std::size_t gap_old = 0;
    std::size_t gap_new = 0;
    for (std::size_t radius = kFirstRecordRadius;; radius *= kRadiusGrowth) {
      if (o < old_size && !List(old_, "old", o, radius, old_recs_, old_complete, po)) return false;
      if (n < new_size && !List(new_, "new", n, radius, new_recs_, new_complete, pn)) return false;
      std::size_t best = std::numeric_limits<std::size_t>::max();
      if (old_complete && new_complete) {
        best = old_recs_.size() + new_recs_.size();
        gap_old = old_recs_.size();
        gap_new = new_recs_.size();
      }
      if (!old_recs_.empty() && !new_recs_.empty()) {
        const unsigned bits = std::max(8u, static_cast<unsigned>(std::bit_width(old_recs_.size())) + 1);
        const std::size_t mask = (std::size_t{1} << bits) - 1;
        table_.assign(mask + 1, 0);
        for (std::size_t a = old_recs_.size(); a-- > 0;) {
          table_[HashBytes(po + old_recs_[a].offset, old_recs_[a].size) & mask] = static_cast<std::uint32_t>(a + 1);
        }
        for (std::size_t b = 0; b < new_recs_.size() && b < best; ++b) {
          const Span& nb = new_recs_[b];
          const std::uint32_t entry = table_[HashBytes(pn + nb.offset, nb.size) & mask];
          if (entry == 0) continue;
          const std::size_t a = entry - 1;
          if (a + b >= best || !Confirmed(po, pn, a, b)) continue;
          best = a + b;
          gap_old = a;
          gap_new = b;
        }
      }
      if (best != std::numeric_limits<std::size_t>::max()) break;
      const bool grown_out = (old_complete || old_recs_.size() < radius) && (new_complete || new_recs_.size() < radius);
      if (grown_out || radius >= kMaxRecordRadius) {
        // Nothing in reach agrees: replace what was listed and go on.
        gap_old = old_recs_.size();
        gap_new = new_recs_.size();
        break;
      }
    }
    old_recs_.resize(gap_old);
    new_recs_.resize(gap_new);
    return EmitRecords(o, po, n, pn);
  }

  // Records old a and new b are equal; the files count as agreeing there when
  // the run of equal records is long enough or ends both files.
  [[nodiscard]] bool Confirmed(const std::uint8_t* po, const std::uint8_t* pn, std::size_t a, std::size_t b) const {
    std::size_t bytes = 0;
    for (std::size_t k = 0;; ++k) {
      if (a + k == old_recs_.size() || b + k == new_recs_.size()) {
        // The lists end: a run that reaches a list's end is taken.
        return true;
      }
      const Span& so = old_recs_[a + k];
      const Span& sn = new_recs_[b + k];
      if (so.size != sn.size || std::memcmp(po + so.offset, pn + sn.offset, so.size) != 0) return false;
      bytes += so.size;
      if (k >= 1 || bytes >= kMinMatch) return true;
    }
  }

  enum class Op : std::uint8_t { kPair, kDelete, kInsert };

  // Cheap estimate of editing old record x into new record y inside the
  // record: unchanged prefix and suffix cost nothing.
  static std::uint64_t PairEstimate(const std::uint8_t* x, std::size_t sx, const std::uint8_t* y, std::size_t sy) {
    const std::uint64_t whole = kRecordHeaderSize + sy - kLengthField;
    const std::size_t limit = std::min(sx, sy) - kLengthField;
    const std::size_t pre = CommonPrefix(x + kLengthField, y + kLengthField, limit);
    std::size_t suf = 0;
    while (suf < limit - pre && x[sx - 1 - suf] == y[sy - 1 - suf]) ++suf;
    const std::size_t mid_old = sx - kLengthField - pre - suf;
    const std::size_t mid_new = sy - kLengthField - pre - suf;
    // A changed length field is one 'u' of its own.
    std::uint64_t inside = sx == sy ? 0 : kRecordHeaderSize + kLengthField;
    if (mid_old > 0 || mid_new > 0) inside += kRecordHeaderSize + mid_new;
    if (mid_old > 0 && mid_new > 0 && mid_old != mid_new) inside += kRecordHeaderSize;
    return std::min(whole, inside);
  }

  // Edit distance over the gap's records: delete 7 bytes, insert 7 +
  // content, pair the estimate above; the cheapest path goes into ops_.
  void AlignRecords(const std::uint8_t* po, const std::uint8_t* pn) {
    const std::size_t a = old_recs_.size();
    const std::size_t b = new_recs_.size();
    const std::size_t w = b + 1;
    cost_.assign((a + 1) * w, 0);
    for (std::size_t x = 1; x <= a; ++x) cost_[x * w] = cost_[(x - 1) * w] + kRecordHeaderSize;
    for (std::size_t y = 1; y <= b; ++y) cost_[y] = cost_[y - 1] + kRecordHeaderSize + new_recs_[y - 1].size - kLengthField;
    for (std::size_t x = 1; x <= a; ++x) {
      for (std::size_t y = 1; y <= b; ++y) {
        const Span& sx = old_recs_[x - 1];
        const Span& sy = new_recs_[y - 1];
        const std::uint64_t pair = cost_[(x - 1) * w + y - 1] + PairEstimate(po + sx.offset, sx.size, pn + sy.offset, sy.size);
        const std::uint64_t del = cost_[(x - 1) * w + y] + kRecordHeaderSize;
        const std::uint64_t ins = cost_[x * w + y - 1] + kRecordHeaderSize + sy.size - kLengthField;
        cost_[x * w + y] = std::min({pair, del, ins});
      }
    }
    std::size_t x = a;
    std::size_t y = b;
    while (x > 0 || y > 0) {
      if (x > 0 && y > 0) {
        const Span& sx = old_recs_[x - 1];
        const Span& sy = new_recs_[y - 1];
        if (cost_[x * w + y] == cost_[(x - 1) * w + y - 1] + PairEstimate(po + sx.offset, sx.size, pn + sy.offset, sy.size)) {
          ops_.push_back(Op::kPair);
          --x;
          --y;
          continue;
        }
      }
      if (x > 0 && cost_[x * w + y] == cost_[(x - 1) * w + y] + kRecordHeaderSize) {
        ops_.push_back(Op::kDelete);
        --x;
      } else {
        ops_.push_back(Op::kInsert);
        --y;
      }
    }
    std::reverse(ops_.begin(), ops_.end());
  }

  // Aligns the gap's records (old_recs_ against new_recs_) and writes them.
  [[nodiscard]] bool EmitRecords(std::uint64_t& o, const std::uint8_t* po, std::uint64_t& n, const std::uint8_t* pn) {
    const std::size_t a = old_recs_.size();
    const std::size_t b = new_recs_.size();
    ops_.clear();
    if (a > 0 && b > 0 && a * b <= kMaxAlignCells) {
      AlignRecords(po, pn);
    } else {
      for (std::size_t k = 0; k < std::min(a, b); ++k) ops_.push_back(Op::kPair);
      for (std::size_t k = b; k < a; ++k) ops_.push_back(Op::kDelete);
      for (std::size_t k = a; k < b; ++k) ops_.push_back(Op::kInsert);
    }
    // The gap's records stay resident while they are written: the windows
    // move only at the next List or Record call.
    std::size_t x = 0;
    std::size_t y = 0;
    const std::size_t old_end = a > 0 ? old_recs_[a - 1].offset + old_recs_[a - 1].size : 0;
    for (const Op op : ops_) {
      const std::uint64_t at = o + (x < a ? old_recs_[x].offset : old_end);
      if (op == Op::kDelete) {
        const Span& sx = old_recs_[x++];
        if (!out_.Put(at, token::kDelete, static_cast<std::uint16_t>(sx.size - kLengthField), {})) return false;
      } else if (op == Op::kInsert) {
        const Span& sy = new_recs_[y++];
        const auto len = static_cast<std::uint16_t>(sy.size - kLengthField);
        if (!out_.Put(at, token::kAdd, len, {pn + sy.offset + kLengthField, len})) return false;
      } else {
        const Span& sx = old_recs_[x++];
        const Span& sy = new_recs_[y++];
        if (!EmitPair(at, {po + sx.offset, sx.size}, {pn + sy.offset, sy.size})) return false;
      }
    }
    o += old_end;
    n += b > 0 ? new_recs_[b - 1].offset + new_recs_[b - 1].size : 0;
    return true;
  }

  // One old record becomes one new record: a whole 'U', or byte edits
  // inside it when they come out smaller.
  [[nodiscard]] bool EmitPair(std::uint64_t at, std::span<const std::uint8_t> x, std::span<const std::uint8_t> y) {
    const auto len = static_cast<std::uint16_t>(y.size() - kLengthField);
    const std::uint64_t whole = kRecordHeaderSize + len;
    MemorySource xs(x);
    MemorySource ys(y);
    Window xw(xs, 0);
    Window yw(ys, 0);
    pair_.Clear();
    Output trial(pair_);
    ByteDiffer diff(xw, yw, trial, kInRecordTokens, at, kMaxRecordBytes, pair_table_);
    if (diff.Run() && pair_.size < whole) {
      std::size_t p = 0;
      for (const UpdateRecord& rec : pair_.records) {
        const std::size_t size = TokenHasPayload(rec.token) ? rec.length : 0;
        if (!out_.Put(static_cast<std::uint64_t>(rec.position), rec.token, rec.length, {pair_.payloads.data() + p, size})) {
          return false;
        }
        p += size;
      }
      return true;
    }
    return out_.Put(at, token::kReplace, len, y.subspan(kLengthField));
  }

  Window& old_;
  Window& new_;
  Output& out_;
  std::size_t budget_;
  std::vector<std::uint32_t>& table_;
  std::vector<std::uint32_t> pair_table_;
  std::vector<Span> old_recs_;
  std::vector<Span> new_recs_;
  std::vector<Op> ops_;
  std::vector<std::uint64_t> cost_;
  RecordList pair_;
};

// True when both paths name one existing file.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(os::ResolvePath(a), os::ResolvePath(b), ec);
  return !ec && same;
}

}  // namespace

bool MemorySource::ReadAt(std::uint64_t pos, std::uint8_t* out, std::size_t size) {
  if (pos > bytes_.size() || size > bytes_.size() - pos) return false;
  std::memcpy(out, bytes_.data() + pos, size);
  return true;
}

os::OsResult FileSource::Open(const std::string& path) {
  size_ = 0;
  file_pos_ = 0;
  if (os::OsResult r = file_.Open(path, os::OpenMode::kReadDenyWrite); !r.ok()) return r;
  return file_.Length(size_);
}

bool FileSource::ReadAt(std::uint64_t pos, std::uint8_t* out, std::size_t size) {
  if (pos != file_pos_) {
    if (!file_.Seek(static_cast<std::int64_t>(pos), os::SeekFrom::kBegin).ok()) return false;
    file_pos_ = pos;
  }
  std::size_t got = 0;
  if (!file_.Read(out, size, got).ok() || got != size) return false;
  file_pos_ += got;
  return true;
}

bool BufferSink::Put(const UpdateRecord& rec, std::span<const std::uint8_t> payload) {
  std::uint8_t raw[kRecordHeaderSize];
  EncodeRecordHeader(rec, raw);
  bytes.insert(bytes.end(), raw, raw + kRecordHeaderSize);
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return true;
}

bool WriterSink::Put(const UpdateRecord& rec, std::span<const std::uint8_t> payload) {
  last_ = writer_.Write(rec, payload);
  return last_.ok();
}

DiffResult MakeUpdate(DiffSource* old_file, DiffSource& new_file, DiffSink& sink, const DiffOptions& options) {
  DiffResult result;
  Output out(sink);
  if (old_file != nullptr && old_file->Size() > static_cast<std::uint64_t>(kMaxPosition)) {
    result.message = "the old file is 2 GiB or larger; positions are signed 32-bit";
    return result;
  }
  const std::size_t max_search = std::max<std::size_t>(options.max_search, kFirstRadius);
  // Room for the search radius, a record and the probes behind the radius.
  const std::size_t capacity = max_search + 2 * kMaxRecordBytes;
  std::vector<std::uint32_t> table;
  bool ok = true;
  if (old_file == nullptr) {
    // The old file is absent: the new one is built from 'A' records alone.
    MemorySource nothing({});
    Window old_w(nothing, 0);
    Window new_w(new_file, capacity);
    if (options.records) {
      RecordDiffer diff(old_w, new_w, out, capacity, table);
      ok = diff.Run();
    } else {
      ByteDiffer diff(old_w, new_w, out, kByteTokens, 0, max_search, table);
      ok = diff.EmitGap(0, 0, 0, new_file.Size());
    }
  } else {
    Window old_w(*old_file, capacity);
    Window new_w(new_file, capacity);
    if (options.records) {
      RecordDiffer diff(old_w, new_w, out, capacity - kMaxRecordBytes, table);
      ok = diff.Run();
    } else {
      ByteDiffer diff(old_w, new_w, out, kByteTokens, 0, max_search, table);
      ok = diff.Run();
    }
  }
  result.ok = ok;
  result.stats = out.stats;
  if (!ok) result.message = out.error.empty() ? "diff failed" : out.error;
  return result;
}

DiffResult MakeUpdateFile(const std::string& old_path, const std::string& new_path, const std::string& update_path,
                          const DiffOptions& options) {
  DiffResult result;
  FileSource new_file;
  if (os::OsResult r = new_file.Open(new_path); !r.ok()) {
    result.message = "cannot open " + new_path + ": " + r.Text();
    return result;
  }
  FileSource old_file;
  bool old_present = true;
  if (os::OsResult r = old_file.Open(old_path); !r.ok()) {
    if (r.kind != os::OsErr::kNotFound) {
      result.message = "cannot open " + old_path + ": " + r.Text();
      return result;
    }
    old_present = false;
  }
  // Creating the update would truncate an input.
  if (SameFile(update_path, new_path) || (old_present && SameFile(update_path, old_path))) {
    result.message = "the update file must differ from the old and the new file";
    return result;
  }
  UpdateDataWriter writer;
  if (os::OsResult r = writer.Open(update_path); !r.ok()) {
    result.message = "cannot create " + update_path + ": " + r.Text();
    return result;
  }
  WriterSink sink(writer);
  result = MakeUpdate(old_present ? &old_file : nullptr, new_file, sink, options);
  if (result.ok && old_present) {
    // Lets a tool tell a wrong old file from damaged update data later.
    CCrc32 calc;
    std::uint32_t old_crc = 0;
    if (!calc.FileCrc(old_crc, old_path)) {
      result.ok = false;
      result.message = "cannot read " + old_path;
    } else if (os::OsResult r = writer.WriteOldCrcTrailer(old_crc); !r.ok()) {
      result.ok = false;
      result.message = "cannot write " + update_path + ": " + r.Text();
    }
  }
  const os::OsResult closed = writer.Close();
  if (result.ok && !closed.ok()) {
    result.ok = false;
    result.message = "cannot write " + update_path + ": " + closed.Text();
  } else if (!result.ok && !sink.LastResult().ok()) {
    result.message = "cannot write " + update_path + ": " + sink.LastResult().Text();
  }
  if (!result.ok) (void)os::RemoveFile(update_path);  // a partial update must not be applied
  return result;
}

}  // namespace veupd
