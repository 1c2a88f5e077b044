// libFuzzer target: any bytes as a whole disk. The reader must answer every
// input with a table, a reason, or nothing, and never read or list anything
// outside the disk.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "core/partition_table.h"

namespace {

class MemoryDisk final : public karvo::DiskReader {
 public:
  explicit MemoryDisk(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
  bool Read(std::int64_t offset, std::span<std::uint8_t> into) override {
    if (offset < 0 || static_cast<std::uint64_t>(offset) > m_bytes.size() ||
        into.size() > m_bytes.size() - static_cast<std::size_t>(offset)) {
      return false;
    }
    std::memcpy(into.data(), m_bytes.data() + offset, into.size());
    return true;
  }

 private:
  std::span<const std::uint8_t> m_bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> disk(data, size);
  MemoryDisk reader(disk);
  const auto reading = karvo::ReadPartitionTable(disk, reader, static_cast<std::int64_t>(size));
  if (reading.table && !reading.problem.empty()) std::abort();
  if (reading.table) {
    for (std::size_t i = 0; i < reading.table->count; ++i) {
      const auto& partition = reading.table->partitions[i];
      if (partition.firstByte < 0 || partition.bytes < 0) std::abort();
      if (partition.firstByte + partition.bytes > static_cast<std::int64_t>(size)) std::abort();
    }
  }
  return 0;
}
