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

CString CString::FromUtf8(std::string_view utf8) {
  std::size_t end = utf8.size();
  if (end > kCapacity - 1) {
    end = kCapacity - 1;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
  }
  CString text;
  if (end > 0) {
    text.m_length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(end), text.m_buffer, kCapacity - 1);
  }
  text.m_buffer[text.m_length] = L'\0';
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
