#include "cstring.h"

#include <cstdarg>
#include <cwchar>

#include "resource_module.h"

void CString::Assign(std::wstring_view text) {
  const std::size_t length = text.size() < kCapacity ? text.size() : kCapacity - 1;
  text.copy(m_buffer, length);
  m_buffer[length] = L'\0';
  m_length = static_cast<int>(length);
}

void CString::ReleaseBuffer() {
  m_buffer[kCapacity - 1] = L'\0';
  m_length = static_cast<int>(std::wcslen(m_buffer));
}

namespace {

// Bytes in the UTF-8 sequence that starts at `at`: a lead byte's count when
// the continuation bytes are there, else 1 (the converter makes one U+FFFD).
std::size_t SequenceLength(std::string_view utf8, std::size_t at) {
  const auto lead = static_cast<unsigned char>(utf8[at]);
  const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 1;
  if (at + length > utf8.size()) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(utf8[at + i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

}  // namespace

CString CString::FromUtf8(std::string_view utf8) {
  // Take whole characters while they fit (four bytes make a surrogate pair),
  // so that a text too long is cut between two characters.
  std::size_t end = 0;
  int units = 0;
  while (end < utf8.size()) {
    const std::size_t length = SequenceLength(utf8, end);
    const int needed = length == 4 ? 2 : 1;
    if (units + needed > kCapacity - 1) break;
    units += needed;
    end += length;
  }
  CString text;
  int written = 0;
  while (end > 0 && (written = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(end), text.m_buffer,
                                                     kCapacity - 1)) == 0) {
    // Malformed input that converts to more than counted: one character less.
    do --end;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80);
  }
  text.m_buffer[written] = L'\0';
  text.m_length = written;
  return text;
}

void CString::Format(const wchar_t* format, ...) {
  va_list args;  // NOLINT(cppcoreguidelines-init-variables): va_start fills it in
  va_start(args, format);
  // The system runtime's formatter; it leaves a cut text unterminated, which
  // ReleaseBuffer mends.
  _vsnwprintf(m_buffer, kCapacity - 1, format, args);
  va_end(args);
  ReleaseBuffer();
}

BOOL CString::LoadString(UINT id) {
  HINSTANCE module = AfxFindResourceHandle(MAKEINTRESOURCEW((id >> 4) + 1), RT_STRING);
  const int length = ::LoadStringW(module, id, m_buffer, kCapacity);
  m_buffer[length > 0 ? length : 0] = L'\0';
  m_length = length > 0 ? length : 0;
  return m_length > 0;
}

int WideToUtf8(std::wstring_view text, char* buffer, int bufferSize) {
  if (bufferSize <= 0) return 0;
  int written = 0;
  // Convert a character at a time so that a text too long for the buffer is
  // cut at a character boundary instead of failing as a whole.
  for (std::size_t i = 0; i < text.size();) {
    const bool pair = i + 1 < text.size() && IS_HIGH_SURROGATE(text[i]) && IS_LOW_SURROGATE(text[i + 1]);
    const int units = pair ? 2 : 1;
    char bytes[4];
    const int count = ::WideCharToMultiByte(CP_UTF8, 0, text.data() + i, units, bytes, sizeof bytes, nullptr, nullptr);
    if (count <= 0 || written + count >= bufferSize) break;
    for (int b = 0; b < count; ++b) buffer[written++] = bytes[b];
    i += units;
  }
  buffer[written] = '\0';
  return written;
}
