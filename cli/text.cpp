#include "cli/text.h"

#include <algorithm>

#include "core/fixed_text.h"
#include "disk/disk_bytes.h"

namespace karvo::cli {

std::string Number(std::int64_t value) { return std::string(Decimal(value).view()); }

std::string MiBText(std::int64_t bytes) {
  if (bytes % kBytesPerMiB == 0) return Number(bytes / kBytesPerMiB) + " MiB";
  // A MiB is not a whole number of hundredths of bytes: scale the rest alone.
  const std::int64_t hundredths = bytes / kBytesPerMiB * 100 + bytes % kBytesPerMiB * 100 / kBytesPerMiB;
  return Number(hundredths / 100) + (hundredths % 100 < 10 ? ".0" : ".") + Number(hundredths % 100) + " MiB";
}

std::string Grouped(std::int64_t value) {
  const std::string digits = Number(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string Lowercase(std::string_view word) {
  std::string lower(word);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return lower;
}

std::string Quoted(std::string_view word) {
  constexpr std::size_t kLongest = 40;
  if (word.size() <= kLongest) return "\"" + std::string(word) + "\"";
  return "\"" + std::string(word.substr(0, kLongest - 3)) + "...\" (" + Number(static_cast<std::int64_t>(word.size())) +
         " characters)";
}

std::string QuotedName(std::string_view name) {
  // Characters no shell treats specially, and UTF-8 that prints.
  const auto plain = [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("%+,-./:=@_^").find(static_cast<char>(c)) != std::string_view::npos;
  };
  // The length of the printable UTF-8 character at `at`; 0 for a control
  // character (C0, DEL, C1, which terminals act on) or a byte of no character.
  const auto printable = [&](std::size_t at) -> std::size_t {
    const auto c = static_cast<unsigned char>(name[at]);
    if (c >= 0x20 && c < 0x7F) return 1;
    const std::size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (length == 0 || at + length > name.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
      if ((static_cast<unsigned char>(name[at + i]) & 0xC0) != 0x80) return 0;
    }
    return c == 0xC2 && static_cast<unsigned char>(name[at + 1]) < 0xA0 ? 0 : length;
  };
  bool asItIs = !name.empty();
  for (std::size_t at = 0; at < name.size() && asItIs;) {
    const std::size_t length = printable(at);
    asItIs = length > 1 || (length == 1 && plain(static_cast<unsigned char>(name[at])));
    at += std::max<std::size_t>(length, 1);
  }
  if (asItIs) return std::string(name);
  // Printable runs in single quotes, control bytes as $'\n' or $'\033', as
  // ls --quoting-style=shell-escape writes them.
  std::string quoted;
  bool open = false;
  for (std::size_t at = 0; at < name.size();) {
    const std::size_t length = printable(at);
    if (length == 0) {
      if (open) quoted += '\'';
      open = false;
      constexpr std::string_view kNamed = R"(\a\b\t\n\v\f\r)";
      const auto c = static_cast<unsigned char>(name[at++]);
      std::string escape;
      if (c >= 7 && c <= 13) {
        escape = std::string(kNamed.substr(std::size_t{2} * (c - 7U), 2));
      } else {
        escape = {'\\', static_cast<char>('0' + (c >> 6)), static_cast<char>('0' + ((c >> 3) & 7)),
                  static_cast<char>('0' + (c & 7))};
      }
      quoted += "$'" + escape + "'";
      continue;
    }
    if (!open) quoted += '\'';
    open = true;
    quoted += name[at] == '\'' ? "'\\''" : std::string(name.substr(at, length));
    at += length;
  }
  return open ? quoted + "'" : quoted;
}

std::string Trimmed(std::string line) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line + "\n";
}

std::string Column(const std::string& text, std::size_t width, bool right) {
  const std::string pad(width > text.size() ? width - text.size() : 0, ' ');
  return right ? pad + text : text + pad;
}

}  // namespace karvo::cli
