#include "cli/json.h"

#include <cassert>

namespace karvo::cli {
namespace {

constexpr std::string_view kIndent = "   ";

// How many bytes of valid UTF-8 start at `at` (RFC 3629: no overlong form,
// no surrogate, nothing past U+10FFFF); 0 where none does.
std::size_t ValidUtf8(std::string_view bytes, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > bytes.size()) return 0;
  // Only the second byte has a narrower range; the others are any continuation byte.
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

void AppendEscape(std::string& out, unsigned value) {
  constexpr std::string_view kHex = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

}  // namespace

std::string JsonString(std::string_view bytes) {
  std::string out = "\"";
  for (std::size_t at = 0; at < bytes.size();) {
    const char c = bytes[at];
    const std::size_t length = ValidUtf8(bytes, at);
    if (length == 0) {
      AppendEscape(out, 0xDC00U + static_cast<unsigned char>(c));
      ++at;
      continue;
    }
    if (length > 1) {
      out.append(bytes.substr(at, length));
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      AppendEscape(out, static_cast<unsigned char>(c));
    } else {
      out += c;
    }
    at += length;
  }
  return out + "\"";
}

JsonWriter::JsonWriter() : out_("{") {
  closing_[0] = '}';
  empty_[0] = true;
  depth_ = 1;
}

void JsonWriter::Key(std::string_view key) {
  assert(depth_ > 0 && (key.empty() == (closing_[depth_ - 1] == ']')));
  out_ += empty_[depth_ - 1] ? "\n" : ",\n";
  empty_[depth_ - 1] = false;
  for (std::size_t level = 0; level < depth_; ++level) out_ += kIndent;
  if (!key.empty()) out_ += JsonString(key) + ": ";
}

void JsonWriter::Open(std::string_view key, char bracket) {
  assert(depth_ < kDeepest);
  Key(key);
  out_ += bracket;
  closing_[depth_] = bracket == '{' ? '}' : ']';
  empty_[depth_] = true;
  ++depth_;
}

JsonWriter& JsonWriter::Object(std::string_view key) {
  Open(key, '{');
  return *this;
}

JsonWriter& JsonWriter::Array(std::string_view key) {
  Open(key, '[');
  return *this;
}

JsonWriter& JsonWriter::End() {
  assert(depth_ > 0);
  --depth_;
  if (!empty_[depth_]) {
    out_ += "\n";
    for (std::size_t level = 0; level < depth_; ++level) out_ += kIndent;
  }
  out_ += closing_[depth_];
  return *this;
}

JsonWriter& JsonWriter::Text(std::string_view key, std::string_view value) {
  Key(key);
  out_ += JsonString(value);
  return *this;
}

JsonWriter& JsonWriter::Number(std::string_view key, std::int64_t value) {
  Key(key);
  out_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Decimal(std::string_view key, std::string_view digits) {
  Key(key);
  out_ += digits;
  return *this;
}

JsonWriter& JsonWriter::Bool(std::string_view key, bool value) {
  Key(key);
  out_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null(std::string_view key) {
  Key(key);
  out_ += "null";
  return *this;
}

std::string JsonWriter::Done() {
  while (depth_ > 0) End();
  return out_ + "\n";
}

}  // namespace karvo::cli
