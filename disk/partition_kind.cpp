#include "disk/partition_kind.h"

#include <array>

#include "disk/on_disk.h"

namespace karvo {
namespace {

namespace gpt = layout::gpt;
namespace mbr = layout::mbr;

constexpr PartitionScheme kGpt = PartitionScheme::Gpt;
constexpr PartitionScheme kMbr = PartitionScheme::Mbr;
constexpr bool kWindows = true;

// A row: GPT's by its GUID, the MBR's by its code.
constexpr PartitionKind Kind(PartitionScheme scheme, std::string_view guid, std::uint8_t code, std::string_view name,
                             bool windows, std::string_view diskpart) {
  PartitionKind kind;
  kind.scheme = scheme;
  kind.guid = guid;
  kind.code = code;
  kind.name = name;
  kind.windows = windows;
  kind.diskpart = diskpart;
  return kind;
}
constexpr PartitionKind Gpt(std::string_view guid, std::string_view name, bool windows = false,
                            std::string_view diskpart = {}) {
  return Kind(kGpt, guid, 0, name, windows, diskpart);
}
constexpr PartitionKind Mbr(std::uint8_t code, std::string_view name, bool windows = false,
                            std::string_view diskpart = {}) {
  return Kind(kMbr, {}, code, name, windows, diskpart);
}

constexpr PartitionKind Extended(std::uint8_t code, std::string_view diskpart = {}) {
  PartitionKind kind = Mbr(code, "extended", false, diskpart);
  kind.extended = true;
  return kind;
}

// Required by the platform, and given no drive letter.
constexpr PartitionKind Required(PartitionKind kind) {
  kind.attributes = gpt::kRecoveryAttributes;
  return kind;
}

constexpr std::array kKinds = {
    Gpt(gpt::kBasicDataType, "Microsoft basic data", kWindows, "primary"),
    Gpt(gpt::kMsReservedType, "Microsoft reserved", false, "msr"),
    Gpt(gpt::kEfiSystemType, "EFI system", kWindows, "efi"),
    Required(Gpt(gpt::kRecoveryType, "Windows recovery", kWindows, "primary")),
    Gpt("5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", "LDM metadata (dynamic disk)"),
    Gpt("AF9B60A0-1431-4F62-BC68-3311714A69AD", "LDM data (dynamic disk)"),
    Gpt("E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D", "Storage Spaces"),
    Gpt("0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"),
    Gpt("0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"),
    Mbr(0x01, "FAT12"),
    Mbr(0x04, "FAT16"),
    Mbr(0x06, "FAT16"),
    Mbr(0x0E, "FAT16"),
    Mbr(mbr::kNtfsOrExfatType, "NTFS or exFAT", kWindows, "primary"),
    Mbr(0x0B, "FAT32", kWindows),
    Mbr(mbr::kFat32LbaType, "FAT32 (LBA)", kWindows, "primary"),
    Mbr(mbr::kRecoveryType, "Windows recovery", kWindows, "primary"),
    Mbr(0x42, "LDM (dynamic disk)"),
    Extended(0x05),
    Extended(mbr::kExtendedLbaType, "extended"),
    Extended(0x85),
    Mbr(0x82, "Linux swap"),
    Mbr(0x83, "Linux"),
    Mbr(0xEF, "EFI system", kWindows),
};

// An MBR type byte as sfdisk writes it: two lower-case hex digits ("0c").
FixedText<3> MbrCodeText(std::uint8_t code) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  FixedText<3> text(kDigits.substr(code >> 4, 1));
  text.Append(kDigits.substr(code & 0xF, 1));
  return text;
}

}  // namespace

std::string_view SchemeName(PartitionScheme scheme) { return scheme == kGpt ? "GPT" : "MBR"; }
std::string_view SfdiskLabel(PartitionScheme scheme) { return scheme == kGpt ? "gpt" : "dos"; }

const PartitionKind* FindGptKind(std::string_view guid) {
  for (const PartitionKind& kind : kKinds) {
    if (kind.scheme == kGpt && kind.guid == guid) return &kind;
  }
  return nullptr;
}

const PartitionKind* FindMbrKind(std::uint8_t code) {
  for (const PartitionKind& kind : kKinds) {
    if (kind.scheme == kMbr && kind.code == code) return &kind;
  }
  return nullptr;
}

FixedText<48> MbrTypeName(std::uint8_t code) {
  FixedText<48> name("0x");
  name.Append(MbrCodeText(code).view());
  if (const PartitionKind* kind = FindMbrKind(code)) {
    name.Append(" ");
    name.Append(kind->name);
  }
  return name;
}

FixedText<48> TypeName(const PartitionKind& kind) {
  return kind.scheme == kGpt ? FixedText<48>(kind.name) : MbrTypeName(kind.code);
}

FixedText<40> TypeId(const PartitionKind& kind) {
  return FixedText<40>(kind.scheme == kGpt ? kind.guid : MbrCodeText(kind.code).view());
}

std::string GptAttributesText(std::uint64_t attributes) {
  constexpr std::array<std::string_view, 3> kNamed = {"RequiredPartition", "NoBlockIOProtocol", "LegacyBIOSBootable"};
  constexpr unsigned kFirstTypeBit = 48;
  std::string text;
  for (unsigned bit = 0; bit < kNamed.size(); ++bit) {
    if ((attributes >> bit & 1U) != 0) text.append(text.empty() ? "" : " ").append(kNamed[bit]);
  }
  std::string typeBits;
  for (unsigned bit = kFirstTypeBit; bit < 64; ++bit) {
    if ((attributes >> bit & 1U) != 0) typeBits.append(typeBits.empty() ? "GUID:" : ",").append(std::to_string(bit));
  }
  if (!typeBits.empty()) text.append(text.empty() ? "" : " ").append(typeBits);
  return text;
}

FixedText<20> GptAttributesBits(std::uint64_t attributes) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  FixedText<20> text("0x");
  for (int shift = 60; shift >= 0; shift -= 4) text.Append(kDigits.substr(attributes >> shift & 0xF, 1));
  return text;
}

}  // namespace karvo
