// Reads the resources back out of the built Karvo.exe, as the window system
// and Explorer will, and compares every field with what the program promises.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "res/version.h"  // generated from the VERSION file
#include "support/wine_path.h"

namespace {

// A loaded copy of Karvo.exe's resources.
class Module {
 public:
  Module() { m_module = ::LoadLibraryExW(testing_support::PathArgument().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE); }
  ~Module() {
    if (m_module) ::FreeLibrary(m_module);
  }
  HMODULE get() const { return m_module; }

  // The bytes of a resource in Chinese (PRC); empty when there is none.
  std::vector<BYTE> Resource(const wchar_t* type, const wchar_t* name) const {
    HRSRC found = ::FindResourceExW(m_module, type, name, MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    if (found == nullptr) return {};
    const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(m_module, found)));
    return std::vector<BYTE>(data, data + ::SizeofResource(m_module, found));
  }

 private:
  HMODULE m_module = nullptr;
};

// Reads a dialog template field by field.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<BYTE>& bytes) : m_bytes(bytes) {}

  template <typename T>
  T Read() {
    T value{};
    if (m_pos + sizeof(T) <= m_bytes.size()) std::memcpy(&value, m_bytes.data() + m_pos, sizeof(T));
    m_pos += sizeof(T);
    return value;
  }
  // A name or an ordinal: text, or "#n" for an ordinal.
  std::wstring ReadNameOrOrdinal() {
    if (Peek() == 0xFFFF) {
      Read<WORD>();
      return L"#" + std::to_wstring(Read<WORD>());
    }
    return ReadText();
  }
  std::wstring ReadText() {
    std::wstring text;
    for (WORD c; (c = Read<WORD>()) != 0 && m_pos <= m_bytes.size();) text += static_cast<wchar_t>(c);
    return text;
  }
  std::array<short, 4> ReadBox() { return {Read<short>(), Read<short>(), Read<short>(), Read<short>()}; }
  void AlignToDword() { m_pos = (m_pos + 3) & ~std::size_t{3}; }
  bool AtEnd() const { return m_pos >= m_bytes.size(); }

 private:
  WORD Peek() const { return m_pos + 2 <= m_bytes.size() ? *reinterpret_cast<const WORD*>(m_bytes.data() + m_pos) : 0; }
  const std::vector<BYTE>& m_bytes;
  std::size_t m_pos = 0;
};

struct Control {
  DWORD id;
  std::wstring className;
  std::wstring text;
  short x, y, cx, cy;
  DWORD style;
  DWORD exStyle = 0;

  bool operator==(const Control&) const = default;
};

void PrintTo(const Control& c, std::ostream* os) {
  *os << "{id " << static_cast<int>(c.id) << ", class " << std::string(c.className.begin(), c.className.end())
      << ", text length " << c.text.size() << ", rect " << c.x << "," << c.y << "," << c.cx << "," << c.cy
      << ", style 0x" << std::hex << c.style << ", ex 0x" << c.exStyle << std::dec << "}";
}

enum class Template { Classic, Extended };

// The controls that follow a template's header. An extended template's begin
// with a help id and give the extended style first and a 32-bit identifier.
std::vector<Control> ReadControls(TemplateReader& r, WORD count, Template kind) {
  const bool extended = kind == Template::Extended;
  std::vector<Control> controls;
  for (WORD i = 0; i < count; ++i) {
    r.AlignToDword();
    Control c{};
    if (extended) {
      EXPECT_EQ(r.Read<DWORD>(), 0u);  // help id
    }
    const DWORD first = r.Read<DWORD>();
    const DWORD second = r.Read<DWORD>();
    c.style = extended ? second : first;
    c.exStyle = extended ? first : second;
    c.x = r.Read<short>();
    c.y = r.Read<short>();
    c.cx = r.Read<short>();
    c.cy = r.Read<short>();
    c.id = extended ? r.Read<DWORD>() : r.Read<WORD>();
    c.className = r.ReadNameOrOrdinal();
    c.text = r.ReadNameOrOrdinal();
    EXPECT_EQ(r.Read<WORD>(), 0);  // no creation data
    controls.push_back(c);
  }
  return controls;
}

constexpr DWORD kStatic = static_cast<DWORD>(-1);
constexpr DWORD kStatic16 = 0xFFFF;  // the classic template stores identifiers in 16 bits

TEST(MainDialogTemplate, MatchesItsTableFieldByField) {
  Module karvo;
  ASSERT_NE(karvo.get(), nullptr);
  const auto bytes = karvo.Resource(RT_DIALOG, MAKEINTRESOURCEW(102));
  ASSERT_FALSE(bytes.empty());
  TemplateReader r(bytes);
  EXPECT_EQ(r.Read<WORD>(), 1);       // extended template, version 1
  EXPECT_EQ(r.Read<WORD>(), 0xFFFF);  // its signature
  EXPECT_EQ(r.Read<DWORD>(), 0u);     // help id
  EXPECT_EQ(r.Read<DWORD>(), 0x00040000u);
  EXPECT_EQ(r.Read<DWORD>(), 0x90C800C0u);
  const WORD count = r.Read<WORD>();
  EXPECT_EQ(count, 9);
  EXPECT_EQ(r.ReadBox(), (std::array<short, 4>{0, 0, 256, 110}));
  EXPECT_EQ(r.ReadNameOrOrdinal(), L"");  // no menu
  EXPECT_EQ(r.ReadNameOrOrdinal(), L"");  // default class
  EXPECT_EQ(r.ReadText(), L"Karvo");
  EXPECT_EQ(r.Read<WORD>(), 9);  // points
  EXPECT_EQ(r.Read<WORD>(), 0);  // weight
  EXPECT_EQ(r.Read<BYTE>(), 0);  // italic
  EXPECT_EQ(r.Read<BYTE>(), 1);  // character set
  EXPECT_EQ(r.ReadText(), L"宋体");

  const std::vector<Control> expected = {
      {IDOK, L"#128", L"计算", 129, 87, 50, 14, 0x50010001},
      {IDCANCEL, L"#128", L"取消", 186, 87, 50, 14, 0x50010000},
      {kStatic, L"#128", L"", 6, 6, 243, 69, 0x50000007},
      {kStatic, L"#130", L"请选择分区的格式:", 12, 25, 72, 8, 0x50020000},
      {1000, L"#133", L"", 84, 21, 60, 15, 0x50210003},
      {kStatic, L"#130", L"请选择分区的容量:", 12, 51, 72, 8, 0x50020000},
      {1001, L"#133", L"", 84, 49, 60, 12, 0x50210003},
      {kStatic, L"#130", L"(仅支持FAT32与NTFS格式)", 147, 25, 96, 8, 0x50020000},
      {kStatic, L"#130", L"(单位为GB)", 147, 51, 42, 8, 0x50020000},
  };
  EXPECT_EQ(ReadControls(r, count, Template::Extended), expected);
}

TEST(AboutDialogTemplate, MatchesItsTableFieldByField) {
  Module karvo;
  const auto bytes = karvo.Resource(RT_DIALOG, MAKEINTRESOURCEW(100));
  ASSERT_FALSE(bytes.empty());
  TemplateReader r(bytes);
  EXPECT_EQ(r.Read<DWORD>(), 0x80C800C0u);  // classic template: the style comes first
  EXPECT_EQ(r.Read<DWORD>(), 0u);
  const WORD count = r.Read<WORD>();
  EXPECT_EQ(count, 4);
  EXPECT_EQ(r.ReadBox(), (std::array<short, 4>{0, 0, 235, 55}));
  EXPECT_EQ(r.ReadNameOrOrdinal(), L"");
  EXPECT_EQ(r.ReadNameOrOrdinal(), L"");
  EXPECT_EQ(r.ReadText(), L"关于 Karvo");
  EXPECT_EQ(r.Read<WORD>(), 9);
  EXPECT_EQ(r.ReadText(), L"宋体");

  const std::vector<Control> expected = {
      {kStatic16, L"#130", L"#128", 11, 17, 20, 20, 0x50000003},
      {kStatic16, L"#130", L"Karvo 1.0 版", 40, 10, 119, 8, 0x50020080},
      {kStatic16, L"#130", L"版权所有 (C) 2026 Kivimaa", 40, 25, 119, 8, 0x50020000},
      {IDOK, L"#128", L"确定", 178, 7, 50, 14, 0x50030001},
  };
  EXPECT_EQ(ReadControls(r, count, Template::Classic), expected);
}

TEST(StringTable, HoldsTheAboutItem) {
  Module karvo;
  wchar_t text[64] = {};
  EXPECT_EQ(::LoadStringW(karvo.get(), 101, text, 64), 15);
  EXPECT_STREQ(text, L"关于 Karvo(&A)...");
}

TEST(Icon, HasTwoSixteenColourImages) {
  Module karvo;
  const auto group = karvo.Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(128));
  ASSERT_EQ(group.size(), 6u + 2 * 14);
  EXPECT_EQ(*reinterpret_cast<const WORD*>(&group[4]), 2);
  struct Expected {
    BYTE width;
    WORD bits;
    DWORD bytes;
    WORD id;
  };
  const Expected images[] = {{32, 4, 744, 1}, {16, 4, 296, 2}};
  for (int i = 0; i < 2; ++i) {
    const BYTE* entry = &group[6 + 14 * i];
    EXPECT_EQ(entry[0], images[i].width);
    EXPECT_EQ(entry[1], images[i].width);
    EXPECT_EQ(entry[2], 16);                                  // colours
    EXPECT_EQ(*reinterpret_cast<const WORD*>(entry + 4), 1);  // planes
    EXPECT_EQ(*reinterpret_cast<const WORD*>(entry + 6), images[i].bits);
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(entry + 8), images[i].bytes);
    EXPECT_EQ(*reinterpret_cast<const WORD*>(entry + 12), images[i].id);
    EXPECT_EQ(karvo.Resource(RT_ICON, MAKEINTRESOURCEW(images[i].id)).size(), images[i].bytes);
  }
}

TEST(Resources, AreAllInChineseOfThePrc) {
  Module karvo;
  struct Count {
    int all = 0;
    int chinese = 0;
  } count;
  struct Visit {
    static BOOL CALLBACK Language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
      auto* c = reinterpret_cast<Count*>(param);
      ++c->all;
      if (language == 0x0804) ++c->chinese;
      return TRUE;
    }
    static BOOL CALLBACK Name(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
      ::EnumResourceLanguagesW(module, type, name, &Visit::Language, param);
      return TRUE;
    }
    static BOOL CALLBACK Type(HMODULE module, LPWSTR type, LONG_PTR param) {
      ::EnumResourceNamesW(module, type, &Visit::Name, param);
      return TRUE;
    }
  };
  ::EnumResourceTypesW(karvo.get(), &Visit::Type, reinterpret_cast<LONG_PTR>(&count));
  EXPECT_GE(count.all, 7);  // 2 icon images, the group, 2 dialogs, strings, manifest, version
  EXPECT_EQ(count.chinese, count.all);
}

// The version block as Explorer reads it, against the version that the build
// made from the project's VERSION file.
const std::wstring kVersionText = [] {
  const std::string text = KARVO_VERSION_TEXT;
  return std::wstring(text.begin(), text.end());
}();

class VersionBlock : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    m_data.resize(::GetFileVersionInfoSizeW(testing_support::PathArgument().c_str(), &ignored));
    ASSERT_FALSE(m_data.empty());
    ASSERT_TRUE(::GetFileVersionInfoW(testing_support::PathArgument().c_str(), 0, static_cast<DWORD>(m_data.size()),
                                      m_data.data()));
  }
  std::wstring String(const std::wstring& key) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\080404b0\\" + key;
    if (!::VerQueryValueW(m_data.data(), path.c_str(), &value, &length)) return L"<missing>";
    return length ? std::wstring(static_cast<const wchar_t*>(value)) : L"";
  }
  std::vector<BYTE> m_data;
};

TEST_F(VersionBlock, FixedPart) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(m_data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD version[] = {KARVO_VERSION_NUMBERS};
  for (DWORD half : {fixed->dwFileVersionMS, fixed->dwProductVersionMS}) EXPECT_EQ(half, version[0] << 16 | version[1]);
  for (DWORD half : {fixed->dwFileVersionLS, fixed->dwProductVersionLS}) EXPECT_EQ(half, version[2] << 16 | version[3]);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, 4u);
  EXPECT_EQ(fixed->dwFileType, 1u);
  EXPECT_EQ(fixed->dwFileSubtype, 0u);
}

TEST_F(VersionBlock, StringsAndTranslation) {
  EXPECT_EQ(String(L"Comments"), L"Karvo");
  EXPECT_EQ(String(L"CompanyName"), L"Kivimaa");
  EXPECT_EQ(String(L"FileDescription"), L"Karvo");
  EXPECT_EQ(String(L"FileVersion"), kVersionText);
  EXPECT_EQ(String(L"InternalName"), L"Karvo");
  EXPECT_EQ(String(L"LegalCopyright"), L"版权所有 (C) 2026 Kivimaa");
  EXPECT_EQ(String(L"LegalTrademarks"), L"");
  EXPECT_EQ(String(L"OriginalFilename"), L"Karvo.EXE");
  EXPECT_EQ(String(L"PrivateBuild"), L"");
  EXPECT_EQ(String(L"ProductName"), L"Karvo");
  EXPECT_EQ(String(L"ProductVersion"), kVersionText);
  EXPECT_EQ(String(L"SpecialBuild"), L"");

  WORD* translation = nullptr;
  UINT length = 0;
  ASSERT_TRUE(
      ::VerQueryValueW(m_data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0804);
  EXPECT_EQ(translation[1], 0x04B0);
}

}  // namespace
