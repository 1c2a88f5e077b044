// The file systems karvo-size measures: the dialog's two, for which Karvo has
// its rule, and exFAT, which Windows offers for drives above 32 GB and whose
// figure is the exact one alone.
#pragma once

#include <optional>
#include <string_view>

#include "core/size_rounding.h"

namespace karvo {

enum class FileSystem { Fat32, Ntfs, Exfat };

inline constexpr FileSystem kFileSystems[] = {FileSystem::Fat32, FileSystem::Ntfs, FileSystem::Exfat};

constexpr std::string_view FileSystemName(FileSystem fileSystem) {
  switch (fileSystem) {
    case FileSystem::Fat32:
      return FileSystemName(FileSystemKind::Fat32);
    case FileSystem::Ntfs:
      return FileSystemName(FileSystemKind::Ntfs);
    case FileSystem::Exfat:
      break;
  }
  return "exFAT";
}

// The file system as Karvo's rule knows it; none for exFAT, which has no rule.
constexpr std::optional<FileSystemKind> RuleKind(FileSystem fileSystem) {
  switch (fileSystem) {
    case FileSystem::Fat32:
      return FileSystemKind::Fat32;
    case FileSystem::Ntfs:
      return FileSystemKind::Ntfs;
    case FileSystem::Exfat:
      break;
  }
  return std::nullopt;
}

}  // namespace karvo
