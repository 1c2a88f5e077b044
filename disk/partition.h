// What every partition table is made of, whatever its scheme: a partition,
// the table that lists them and what a reader makes of one, and the two
// steps that the MBR and the GPT readers share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/fixed_text.h"
#include "disk/disk_bytes.h"
#include "disk/partition_kind.h"

namespace karvo {

// Where a partition lies that no partitioner puts one.
enum class Misplaced {
  No,
  PastTheDisk,      // it runs past the disk's end
  EndsBeforeStart,  // a GPT entry whose last sector comes before its first
  OutsideUsable,    // outside the sectors the GPT header leaves for partitions
  OutsideExtended,  // a logical partition not entirely inside its extended one
};

struct Partition {
  int number = 0;  // MBR: 1 to 4, logical ones from 5; GPT: the entry's place
  std::int64_t firstByte = 0;
  std::int64_t bytes = 0;
  FixedText<48> type;                   // "0x0c FAT32 (LBA)", "Microsoft basic data", or the GUID
  const PartitionKind* kind = nullptr;  // its row in the catalogue; none for a type karvo-size does not know
  FixedText<40> guid;                   // GPT: the type GUID, written out
  std::uint8_t code = 0;                // MBR: the type byte
  std::string name;                     // GPT: the entry's name, as UTF-8
  std::uint64_t attributes = 0;         // GPT: the entry's attributes
  bool extended = false;                // an MBR's extended partition, which holds the logical ones
  bool logical = false;                 // an MBR's logical partition, inside the extended one
  bool active = false;                  // an MBR's boot flag
  bool windowsType = false;             // a type that holds FAT32, NTFS or exFAT volumes (data, EFI, recovery)
  bool ignored = false;  // an MBR's second extended partition, whose chain fdisk and Windows leave unread
  int overlaps = 0;      // the number of an earlier partition it overlaps; 0 for none
  Misplaced misplaced = Misplaced::No;
};

struct PartitionTable {
  static constexpr std::size_t kMostPartitions = 128;
  PartitionScheme scheme = PartitionScheme::Mbr;
  std::int64_t sectorBytes = kSectorBytes;
  std::vector<Partition> partitions;  // in the order fdisk lists them
  // GPT: the sectors its header leaves for partitions, first and last.
  std::uint64_t firstUsable = 0;
  std::uint64_t lastUsable = 0;
  bool hybridMbr = false;  // GPT: the protective MBR names partitions of its own too
  // MBR: the chain of logical partitions breaks after this partition (the
  // extended one itself when none was read); 0 when it is whole.
  int chainBreaksAfter = 0;
};

// One of the two copies of a table that keeps two (GPT's), which could not
// be used while the other was, and why.
struct DamagedCopy {
  enum class Which { Primary, Backup } which = Which::Primary;
  std::string_view problem;
};

struct PartitionTableReading {
  std::optional<PartitionTable> table;
  std::string_view problem;                // why a table that is there cannot be read: one line
  std::optional<DamagedCopy> damagedCopy;  // a table read all the same
};

// A table read whole.
inline PartitionTableReading Listed(PartitionTable table) {
  PartitionTableReading reading;
  reading.table = std::move(table);
  return reading;
}

// For the schemes' readers: adds a partition of `sectors` sectors from
// `first`, marked when it runs past the disk; false when the table is full.
bool AddPartition(PartitionTable& table, Partition named, std::uint64_t first, std::uint64_t sectors,
                  std::optional<std::int64_t> diskBytes);

// Notes, for each partition, the first earlier one whose sectors it shares,
// as fdisk and sfdisk check both schemes; a logical partition lies inside its
// extended one by design.
void MarkOverlaps(PartitionTable& table);

}  // namespace karvo
