#include "tests/support/PerfBlockBuilder.h"

#include <cstring>

namespace ombrix::testing {

namespace {

class Out {
 public:
  std::size_t Size() const { return b_.size(); }
  std::size_t Zeros(std::size_t n) {
    const std::size_t at = b_.size();
    b_.resize(at + n, 0);
    return at;
  }
  void Align8() { Zeros((8 - b_.size() % 8) % 8); }
  void U16(std::size_t at, std::uint16_t v) { std::memcpy(&b_[at], &v, 2); }
  void U32(std::size_t at, std::uint32_t v) { std::memcpy(&b_[at], &v, 4); }
  void I64(std::size_t at, std::int64_t v) { std::memcpy(&b_[at], &v, 8); }
  // UTF-16LE of an ASCII/UTF-8 name (tests use ASCII), zero-terminated; returns its bytes.
  std::uint32_t Name(const std::string& s) {
    const std::size_t at = Zeros(2 * (s.size() + 1));
    for (std::size_t i = 0; i < s.size(); ++i) U16(at + 2 * i, static_cast<unsigned char>(s[i]));
    return static_cast<std::uint32_t>(2 * (s.size() + 1));
  }
  std::vector<std::uint8_t> Take() { return std::move(b_); }

 private:
  std::vector<std::uint8_t> b_;
};

struct Layout {
  std::vector<std::uint32_t> Offsets;
  std::uint32_t BlockLength = 8;
};

Layout LayoutOf(const PerfObjectSpec& o) {
  Layout l;
  for (const PerfCounterSpec& c : o.Counters) {
    const bool large = (c.Type & 0x300) == 0x100;
    if (large) l.BlockLength = (l.BlockLength + 7) & ~7u;
    l.Offsets.push_back(l.BlockLength);
    l.BlockLength += large ? 8 : 4;
  }
  l.BlockLength = (l.BlockLength + 7) & ~7u;
  return l;
}

void CounterBlock(Out& out, const PerfObjectSpec& o, const Layout& l,
                  const std::vector<std::int64_t>& values) {
  const std::size_t at = out.Zeros(l.BlockLength);
  out.U32(at, l.BlockLength);
  for (std::size_t i = 0; i < o.Counters.size() && i < values.size(); ++i) {
    if ((o.Counters[i].Type & 0x300) == 0x100)
      out.I64(at + l.Offsets[i], values[i]);
    else
      out.U32(at + l.Offsets[i], static_cast<std::uint32_t>(values[i]));
  }
}

void Object(Out& out, const PerfObjectSpec& o) {
  const Layout l = LayoutOf(o);
  const std::size_t obj = out.Zeros(64);
  out.U32(obj + 8, 64);  // HeaderLength
  out.U32(obj + 12, o.Index);
  out.U32(obj + 20, o.Index + 1);
  out.U32(obj + 28, o.DetailLevel);
  out.U32(obj + 32, static_cast<std::uint32_t>(o.Counters.size()));
  out.U32(obj + 40, o.HasInstances ? static_cast<std::uint32_t>(o.Instances.size()) : 0xFFFFFFFF);
  out.I64(obj + 48, o.PerfTime);
  out.I64(obj + 56, o.PerfFreq);
  for (std::size_t i = 0; i < o.Counters.size(); ++i) {
    const std::size_t d = out.Zeros(40);
    const std::uint32_t type = o.Counters[i].Type;
    out.U32(d, 40);
    out.U32(d + 4, o.Counters[i].Index);
    out.U32(d + 24, 100);
    out.U32(d + 28, type);
    out.U32(d + 32, (type & 0x300) == 0x100 ? 8 : 4);
    out.U32(d + 36, l.Offsets[i]);
  }
  out.U32(obj + 4, static_cast<std::uint32_t>(out.Size() - obj));  // DefinitionLength
  if (!o.HasInstances) {
    CounterBlock(out, o, l, o.Values);
  } else {
    for (const PerfInstanceSpec& inst : o.Instances) {
      const std::size_t at = out.Zeros(24);
      const std::uint32_t nameLength = out.Name(inst.Name);
      out.Align8();
      out.U32(at, static_cast<std::uint32_t>(out.Size() - at));
      out.U32(at + 4, inst.ParentObjectTitleIndex);
      out.U32(at + 8, inst.ParentObjectInstance);
      out.U32(at + 12, static_cast<std::uint32_t>(inst.UniqueID));
      out.U32(at + 16, 24);
      out.U32(at + 20, nameLength);
      CounterBlock(out, o, l, inst.Values);
    }
  }
  out.U32(obj, static_cast<std::uint32_t>(out.Size() - obj));  // TotalByteLength
}

}  // namespace

std::vector<std::uint8_t> BuildPerfBlock(const PerfBlockSpec& layout) {
  Out out;
  out.Zeros(88);
  const char16_t sig[] = u"PERF";
  for (std::size_t i = 0; i < 4; ++i) out.U16(2 * i, sig[i]);
  out.U32(8, 1);
  out.U32(12, 1);
  out.U32(16, 1);
  out.U32(28, static_cast<std::uint32_t>(layout.Objects.size()));
  out.U32(32, 238);
  for (std::size_t i = 0; i < 8; ++i) out.U16(36 + 2 * i, layout.SystemTime[i]);
  out.I64(56, layout.PerfTime);
  out.I64(64, layout.PerfFreq);
  out.I64(72, layout.PerfTime100nSec);
  const std::size_t name = out.Size();
  out.U32(80, out.Name(layout.SystemName));
  out.U32(84, static_cast<std::uint32_t>(name));
  out.Align8();
  out.U32(24, static_cast<std::uint32_t>(out.Size()));  // HeaderLength
  for (const PerfObjectSpec& o : layout.Objects) Object(out, o);
  out.Zeros(layout.Padding);
  out.U32(20, static_cast<std::uint32_t>(out.Size()));  // TotalByteLength
  return out.Take();
}

void PutU32(std::vector<std::uint8_t>& block, std::size_t at, std::uint32_t value) {
  std::memcpy(&block.at(at + 3) - 3, &value, 4);
}

std::uint32_t GetU32(const std::vector<std::uint8_t>& block, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, &block.at(at + 3) - 3, 4);
  return v;
}

}  // namespace ombrix::testing
