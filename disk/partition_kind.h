// Every kind of partition that karvo-size names or writes, a row each, as
// libfdisk keeps a table of types for each label: the readers name a
// partition from it and tell whether Windows keeps its volumes there, and the
// plan's writers write a partition's type, diskpart's word for it and its
// attributes from it. A new kind is one more row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/fixed_text.h"

namespace karvo {

enum class PartitionScheme { Gpt, Mbr };

// A scheme as listings name it ("GPT", "MBR"), and as sfdisk's label ("gpt", "dos").
std::string_view SchemeName(PartitionScheme scheme);
std::string_view SfdiskLabel(PartitionScheme scheme);

struct PartitionKind {
  PartitionScheme scheme = PartitionScheme::Gpt;
  std::string_view guid;         // GPT: the type GUID, as written out
  std::uint8_t code = 0;         // MBR: the type byte
  std::string_view name;         // "Microsoft basic data", "NTFS or exFAT"
  bool windows = false;          // Windows keeps FAT32, NTFS or exFAT volumes in it
  bool extended = false;         // MBR: it holds the logical partitions
  std::string_view diskpart;     // the kind diskpart's create partition makes it as; empty for none
  std::uint64_t attributes = 0;  // GPT: the attributes a partition of the kind is made with
};

// The kind of a GPT type GUID (as written out) or an MBR type byte; none for
// one karvo-size does not know.
const PartitionKind* FindGptKind(std::string_view guid);
const PartitionKind* FindMbrKind(std::uint8_t code);

// An MBR type as a listing names it: its code, and its kind's name where it
// is known ("0x0c FAT32 (LBA)", "0x9f").
FixedText<48> MbrTypeName(std::uint8_t code);
// A kind as a listing names it: GPT's by its name, an MBR's as above.
FixedText<48> TypeName(const PartitionKind& kind);

// What sfdisk and diskpart's set id take for the kind: its GUID, or its code.
FixedText<40> TypeId(const PartitionKind& kind);

// A GPT entry's attributes as sfdisk writes them ("RequiredPartition
// GUID:63"): the three UEFI names, and the type's own bits
// (48 to 63) by number; the reserved ones, as sfdisk, not at all.
std::string GptAttributesText(std::uint64_t attributes);
// As diskpart's gpt attributes= takes them: "0x8000000000000001".
FixedText<20> GptAttributesBits(std::uint64_t attributes);

}  // namespace karvo
