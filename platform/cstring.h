// CString: the framework's text, UTF-16 as the W window functions take it.
// It keeps its characters in a fixed buffer inside the object: every text the
// program shows is short, so a longer one is cut rather than put on the heap.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string_view>

class CString {
 public:
  static constexpr int kCapacity = 512;  // characters, terminator included

  CString() = default;
  CString(const wchar_t* text) { Assign(text ? std::wstring_view(text) : std::wstring_view()); }
  CString(std::wstring_view text) { Assign(text); }

  // The program's own texts are UTF-8; this widens one for the window system.
  // A text of n bytes widens to at most n units, so one of kCapacity - 1 bytes
  // always fits whole; the program's texts are shorter, and a longer one is
  // cut before the character that would cross that length.
  static CString FromUtf8(std::string_view utf8);

  // printf-style formatting, with any of the runtime's formats; the result is
  // cut to fit.
  void Format(const wchar_t* format, ...);
  // Loads a string-table entry from the resource module; FALSE (and an empty
  // text) when the entry is missing or empty.
  BOOL LoadString(UINT id);

  // For functions that write into a buffer: at most kCapacity characters with
  // the terminator; ReleaseBuffer then takes the text's new length.
  wchar_t* GetBuffer() { return m_buffer; }
  void ReleaseBuffer();

  int GetLength() const { return m_length; }
  bool IsEmpty() const { return m_length == 0; }
  operator const wchar_t*() const { return m_buffer; }
  std::wstring_view view() const { return {m_buffer, static_cast<std::size_t>(m_length)}; }
  bool operator==(const CString& other) const { return view() == other.view(); }

 private:
  void Assign(std::wstring_view text);

  wchar_t m_buffer[kCapacity] = {};
  int m_length = 0;
};

// Narrows a text read into a wchar_t array (up to its terminator, or its last
// unit) into a byte array as UTF-8, terminated; returns the bytes before the
// terminator. UTF-8 takes at most three bytes for a UTF-16 unit, so a byte
// array three times as long always holds the whole text.
template <std::size_t kUnits, std::size_t kBytes>
int WideToUtf8(const wchar_t (&text)[kUnits], char (&buffer)[kBytes]) {
  static_assert(kBytes >= 3 * kUnits, "the UTF-8 array must hold three bytes for each UTF-16 unit");
  std::wstring_view units(text, kUnits - 1);
  units = units.substr(0, units.find(L'\0'));
  const int written = units.empty() ? 0
                                    : ::WideCharToMultiByte(CP_UTF8, 0, units.data(), static_cast<int>(units.size()),
                                                            buffer, static_cast<int>(kBytes - 1), nullptr, nullptr);
  buffer[written] = '\0';
  return written;
}
