// The published layout of a performance data block, its counter types and the physical
// memory resource map. Every structure is little-endian with 8-byte packing; readers take
// fields out of raw bytes with memcpy at the offsets fixed here, never by casting.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

struct PERF_DATA_BLOCK {
  char16_t Signature[4];  // "PERF"
  std::uint32_t LittleEndian;
  std::uint32_t Version;
  std::uint32_t Revision;
  std::uint32_t TotalByteLength;
  std::uint32_t HeaderLength;
  std::uint32_t NumObjectTypes;
  std::int32_t DefaultObject;
  std::uint16_t SystemTime[8];  // year, month, day of week, day, hour, minute, second, ms
  std::int64_t PerfTime;
  std::int64_t PerfFreq;
  std::int64_t PerfTime100nSec;
  std::uint32_t SystemNameLength;
  std::uint32_t SystemNameOffset;
};

struct PERF_OBJECT_TYPE {
  std::uint32_t TotalByteLength;
  std::uint32_t DefinitionLength;
  std::uint32_t HeaderLength;
  std::uint32_t ObjectNameTitleIndex;
  std::uint32_t ObjectNameTitle;  // a 32-bit pointer slot, always 0
  std::uint32_t ObjectHelpTitleIndex;
  std::uint32_t ObjectHelpTitle;  // a 32-bit pointer slot, always 0
  std::uint32_t DetailLevel;
  std::uint32_t NumCounters;
  std::int32_t DefaultCounter;
  std::int32_t NumInstances;
  std::uint32_t CodePage;
  std::int64_t PerfTime;
  std::int64_t PerfFreq;
};

struct PERF_COUNTER_DEFINITION {
  std::uint32_t ByteLength;
  std::uint32_t CounterNameTitleIndex;
  std::uint32_t CounterNameTitle;  // a 32-bit pointer slot, always 0
  std::uint32_t CounterHelpTitleIndex;
  std::uint32_t CounterHelpTitle;  // a 32-bit pointer slot, always 0
  std::int32_t DefaultScale;
  std::uint32_t DetailLevel;
  std::uint32_t CounterType;
  std::uint32_t CounterSize;
  std::uint32_t CounterOffset;
};

struct PERF_INSTANCE_DEFINITION {
  std::uint32_t ByteLength;
  std::uint32_t ParentObjectTitleIndex;
  std::uint32_t ParentObjectInstance;
  std::int32_t UniqueID;
  std::uint32_t NameOffset;
  std::uint32_t NameLength;
};

struct PERF_COUNTER_BLOCK {
  std::uint32_t ByteLength;
};

static_assert(sizeof(PERF_DATA_BLOCK) == 88);
static_assert(offsetof(PERF_DATA_BLOCK, SystemTime) == 36);
static_assert(offsetof(PERF_DATA_BLOCK, PerfTime) == 56);
static_assert(offsetof(PERF_DATA_BLOCK, PerfFreq) == 64);
static_assert(offsetof(PERF_DATA_BLOCK, PerfTime100nSec) == 72);
static_assert(offsetof(PERF_DATA_BLOCK, SystemNameLength) == 80);
static_assert(offsetof(PERF_DATA_BLOCK, SystemNameOffset) == 84);
static_assert(sizeof(PERF_OBJECT_TYPE) == 64);
static_assert(offsetof(PERF_OBJECT_TYPE, NumCounters) == 32);
static_assert(offsetof(PERF_OBJECT_TYPE, NumInstances) == 40);
static_assert(offsetof(PERF_OBJECT_TYPE, PerfTime) == 48);
static_assert(offsetof(PERF_OBJECT_TYPE, PerfFreq) == 56);
static_assert(sizeof(PERF_COUNTER_DEFINITION) == 40);
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterType) == 28);
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterOffset) == 36);
static_assert(sizeof(PERF_INSTANCE_DEFINITION) == 24);
static_assert(sizeof(PERF_COUNTER_BLOCK) == 4);

inline constexpr std::int32_t PERF_NO_INSTANCES = -1;
inline constexpr std::int32_t PERF_NO_UNIQUE_ID = -1;
inline constexpr std::uint32_t PERF_DETAIL_NOVICE = 100;

// Counter type fields.
inline constexpr std::uint32_t PERF_SIZE_MASK = 0x300;
inline constexpr std::uint32_t PERF_SIZE_DWORD = 0x000;
inline constexpr std::uint32_t PERF_SIZE_LARGE = 0x100;
inline constexpr std::uint32_t PERF_TYPE_MASK = 0xC00;
inline constexpr std::uint32_t PERF_TYPE_NUMBER = 0x000;
inline constexpr std::uint32_t PERF_TYPE_COUNTER = 0x400;
inline constexpr std::uint32_t PERF_SUBTYPE_MASK = 0xF0000;
inline constexpr std::uint32_t PERF_COUNTER_BASE = 0x30000;

// Counter types.
inline constexpr std::uint32_t PERF_COUNTER_RAWCOUNT_HEX = 0x00000000;
inline constexpr std::uint32_t PERF_COUNTER_LARGE_RAWCOUNT_HEX = 0x00000100;
inline constexpr std::uint32_t PERF_COUNTER_TEXT = 0x00000B00;
inline constexpr std::uint32_t PERF_COUNTER_RAWCOUNT = 0x00010000;
inline constexpr std::uint32_t PERF_COUNTER_LARGE_RAWCOUNT = 0x00010100;
inline constexpr std::uint32_t PERF_COUNTER_DELTA = 0x00400400;
inline constexpr std::uint32_t PERF_COUNTER_LARGE_DELTA = 0x00400500;
inline constexpr std::uint32_t PERF_SAMPLE_COUNTER = 0x00410400;
inline constexpr std::uint32_t PERF_COUNTER_QUEUELEN_TYPE = 0x00450400;
inline constexpr std::uint32_t PERF_COUNTER_LARGE_QUEUELEN_TYPE = 0x00450500;
inline constexpr std::uint32_t PERF_COUNTER_100NS_QUEUELEN_TYPE = 0x00550500;
inline constexpr std::uint32_t PERF_COUNTER_OBJ_TIME_QUEUELEN_TYPE = 0x00650500;
inline constexpr std::uint32_t PERF_COUNTER_COUNTER = 0x10410400;
inline constexpr std::uint32_t PERF_COUNTER_BULK_COUNT = 0x10410500;
inline constexpr std::uint32_t PERF_RAW_FRACTION = 0x20020400;
inline constexpr std::uint32_t PERF_LARGE_RAW_FRACTION = 0x20020500;
inline constexpr std::uint32_t PERF_COUNTER_TIMER = 0x20410500;
inline constexpr std::uint32_t PERF_PRECISION_SYSTEM_TIMER = 0x20470500;
inline constexpr std::uint32_t PERF_100NSEC_TIMER = 0x20510500;
inline constexpr std::uint32_t PERF_PRECISION_100NS_TIMER = 0x20570500;
inline constexpr std::uint32_t PERF_OBJ_TIME_TIMER = 0x20610500;
inline constexpr std::uint32_t PERF_PRECISION_OBJECT_TIMER = 0x20670500;
inline constexpr std::uint32_t PERF_SAMPLE_FRACTION = 0x20C20400;
inline constexpr std::uint32_t PERF_COUNTER_TIMER_INV = 0x21410500;
inline constexpr std::uint32_t PERF_100NSEC_TIMER_INV = 0x21510500;
inline constexpr std::uint32_t PERF_COUNTER_MULTI_TIMER = 0x22410500;
inline constexpr std::uint32_t PERF_100NSEC_MULTI_TIMER = 0x22510500;
inline constexpr std::uint32_t PERF_COUNTER_MULTI_TIMER_INV = 0x23410500;
inline constexpr std::uint32_t PERF_100NSEC_MULTI_TIMER_INV = 0x23510500;
inline constexpr std::uint32_t PERF_AVERAGE_TIMER = 0x30020400;
inline constexpr std::uint32_t PERF_ELAPSED_TIME = 0x30240500;
inline constexpr std::uint32_t PERF_COUNTER_NODATA = 0x40000200;
inline constexpr std::uint32_t PERF_AVERAGE_BULK = 0x40020500;
inline constexpr std::uint32_t PERF_SAMPLE_BASE = 0x40030401;
inline constexpr std::uint32_t PERF_AVERAGE_BASE = 0x40030402;
inline constexpr std::uint32_t PERF_RAW_BASE = 0x40030403;
inline constexpr std::uint32_t PERF_PRECISION_TIMESTAMP = 0x40030500;
inline constexpr std::uint32_t PERF_LARGE_RAW_BASE = 0x40030500;
inline constexpr std::uint32_t PERF_COUNTER_MULTI_BASE = 0x42030500;
inline constexpr std::uint32_t PERF_COUNTER_HISTOGRAM_TYPE = 0x80000000;

// A counter definition of this type is the base of the counter before it.
constexpr bool IsBaseCounterType(std::uint32_t type) {
  return (type & PERF_TYPE_MASK) == PERF_TYPE_COUNTER &&
         (type & PERF_SUBTYPE_MASK) == PERF_COUNTER_BASE;
}

// The physical memory resource map (".Translated"): a CM_RESOURCE_LIST with one full
// descriptor whose partial descriptors are memory ranges of 16 bytes each.
inline constexpr std::size_t kResourceListPartialCountOffset = 16;
inline constexpr std::size_t kResourceListFirstPartial = 20;
inline constexpr std::size_t kPartialDescriptorSize = 16;
inline constexpr std::size_t kPartialMemoryStartOffset = 4;
inline constexpr std::size_t kPartialMemoryLengthOffset = 12;
inline constexpr std::uint8_t CmResourceTypeMemory = 3;
inline constexpr std::uint8_t CmResourceShareDeviceExclusive = 1;

}  // namespace platform
