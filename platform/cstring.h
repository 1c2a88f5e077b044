// CString: the framework's text, UTF-16 as the W window functions take it.
// It keeps its characters in a fixed buffer inside the object: every text the
// program shows is short, so a longer one is cut rather than put on the heap.
#pragma once

#include <windows.h>

#include <string_view>

class CString {
 public:
  static constexpr int kCapacity = 512;  // characters, terminator included

  CString() = default;
  CString(const wchar_t* text) { Assign(text ? std::wstring_view(text) : std::wstring_view()); }
  CString(std::wstring_view text) { Assign(text); }

  // The program's own texts are UTF-8; this widens one for the window system.
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

// Narrows UTF-16 into a caller's byte buffer as UTF-8, always terminated;
// returns the number of bytes written before the terminator.
int WideToUtf8(std::wstring_view text, char* buffer, int bufferSize);
