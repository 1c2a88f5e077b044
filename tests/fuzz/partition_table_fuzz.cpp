// libFuzzer target: any bytes as a whole disk. The reader must answer every
// input with a table, a reason, or nothing, and never read anything outside
// the disk nor list a partition past it without saying so.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "disk/partition_table.h"
#include "support/memory_disk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  karvo::fixtures::MemoryDisk disk(bytes);
  const auto reading = karvo::ReadPartitionTable(bytes, disk);
  if (reading.table && !reading.problem.empty()) std::abort();
  if (!reading.table && reading.damagedCopy) std::abort();
  if (reading.table) {
    for (std::size_t i = 0; i < reading.table->partitions.size(); ++i) {
      const auto& partition = reading.table->partitions[i];
      if (partition.firstByte < 0 || partition.bytes < 0) std::abort();
      const bool past = partition.firstByte + partition.bytes > static_cast<std::int64_t>(size);
      if (past && partition.misplaced == karvo::Misplaced::No) std::abort();
      if (!past && partition.misplaced == karvo::Misplaced::PastTheDisk) std::abort();
    }
  }
  return 0;
}
