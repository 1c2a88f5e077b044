// karvo-size's JSON, written as util-linux writes its own (lib/jsonwrt.c):
// one object, its members in the order they are written, indented by three
// blanks, then a newline. Every string is escaped here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace karvo::cli {

// A string as JSON writes it, in quotes: quotes, backslashes and control
// characters escaped, UTF-8 as it is, and each byte that is not part of
// valid UTF-8 as \udc80 to \udcff, the lone surrogate that Python's
// "surrogateescape" reads back as that byte: any path stays recoverable.
std::string JsonString(std::string_view bytes);

class JsonWriter {
 public:
  JsonWriter();

  // Members of the object open now, or (without a key) elements of the
  // array open now.
  JsonWriter& Object(std::string_view key = {});
  JsonWriter& Array(std::string_view key = {});
  JsonWriter& End();
  JsonWriter& Text(std::string_view key, std::string_view value);
  JsonWriter& Number(std::string_view key, std::int64_t value);
  // A number written as it stands ("0.99", "120"): the digits a text already has.
  JsonWriter& Decimal(std::string_view key, std::string_view digits);
  JsonWriter& Bool(std::string_view key, bool value);
  JsonWriter& Null(std::string_view key);

  // The document: what is still open closed, and a newline.
  std::string Done();

 private:
  void Key(std::string_view key);
  void Open(std::string_view key, char bracket);

  static constexpr std::size_t kDeepest = 8;
  std::string out_;
  std::size_t depth_ = 0;
  char closing_[kDeepest] = {};  // the bracket that closes each open level
  bool empty_[kDeepest] = {};    // whether that level has no member yet
};

}  // namespace karvo::cli
