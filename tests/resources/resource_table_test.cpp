// Reads the resources out of the built program file, the way Windows and the program itself
// see them: the full list, the dialog template byte by byte, the font, the icon, the manifest.
#include "program_file.h"
#include "resource_ids.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const WORD LANG_EN_US = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

std::string ResourceIdText(LPCSTR id) {
  if (IS_INTRESOURCE(id)) {
    return std::to_string(static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(id)));
  }
  return id;
}

BOOL CALLBACK OnLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language, LONG_PTR context) {
  std::set<std::string>* entries = reinterpret_cast<std::set<std::string>*>(context);
  entries->insert("type=" + ResourceIdText(type) + " name=" + ResourceIdText(name) +
                         " lang=" + std::to_string(language));
  return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR context) {
  EnumResourceLanguagesA(module, type, name, OnLanguage, context);
  return TRUE;
}

BOOL CALLBACK OnType(HMODULE module, LPSTR type, LONG_PTR context) {
  EnumResourceNamesA(module, type, OnName, context);
  return TRUE;
}

std::vector<unsigned char> ResourceBytes(HMODULE module, LPCSTR type, LPCSTR name) {
  HRSRC found = FindResourceExA(module, type, name, LANG_EN_US);
  if (found == nullptr) {
    return {};
  }
  HGLOBAL loaded = LoadResource(module, found);
  const unsigned char* data = static_cast<const unsigned char*>(LockResource(loaded));
  DWORD size = SizeofResource(module, found);
  if (data == nullptr) {
    return {};
  }
  return std::vector<unsigned char>(data, data + size);
}

uint32_t ReadLe(const std::vector<unsigned char>& bytes, size_t offset, size_t size) {
  uint32_t value = 0;
  for (size_t i = size; i > 0; --i) {
    value = (value << 8) | bytes.at(offset + i - 1);
  }
  return value;
}

uint32_t ReadBe(const std::vector<unsigned char>& bytes, size_t offset, size_t size) {
  uint32_t value = 0;
  for (size_t i = 0; i < size; ++i) {
    value = (value << 8) | bytes.at(offset + i);
  }
  return value;
}

class ProgramResources : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_module = LoadLibraryExA(ProgramPath(), nullptr,
                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  }
  static void TearDownTestSuite() {
    if (s_module != nullptr) {
      FreeLibrary(s_module);
      s_module = nullptr;
    }
  }
  void SetUp() override {
    ASSERT_NE(s_module, nullptr) << "cannot load " << ProgramPath() << " as a data file, error "
                                 << GetLastError();
  }
  static HMODULE s_module;
};

HMODULE ProgramResources::s_module = nullptr;

TEST_F(ProgramResources, CarriesExactlyTheFiveResourcesInUsEnglish) {
  std::set<std::string> entries;
  ASSERT_TRUE(EnumResourceTypesA(s_module, OnType, reinterpret_cast<LONG_PTR>(&entries)));
  const std::set<std::string> expected = {
      "type=3 name=1 lang=1033",         // RT_ICON, the group icon's one image
      "type=5 name=9 lang=1033",         // RT_DIALOG IDD_MAIN
      "type=14 name=103 lang=1033",      // RT_GROUP_ICON IDI_APP
      "type=24 name=1 lang=1033",        // RT_MANIFEST
      "type=MY_FONT name=101 lang=1033",  // IDR_FONT
  };
  EXPECT_EQ(entries, expected);
}

TEST_F(ProgramResources, FontTypeNameMatchesTheHeader) {
  // The program looks the font up by the header's names, not by the script's spelling.
  EXPECT_NE(FindResourceA(s_module, MAKEINTRESOURCEA(IDR_FONT), IDR_FONT_TYPE), nullptr);
  EXPECT_NE(FindResourceA(s_module, MAKEINTRESOURCEA(IDD_MAIN), MAKEINTRESOURCEA(5)), nullptr);
  EXPECT_NE(FindResourceA(s_module, MAKEINTRESOURCEA(IDI_APP), MAKEINTRESOURCEA(14)), nullptr);
}

struct DialogField {
  const char* name;
  size_t offset;
  size_t size;
  uint32_t value;
};

TEST_F(ProgramResources, DialogTemplateIsTheEmptyExtendedTemplate) {
  const std::vector<unsigned char> bytes =
      ResourceBytes(s_module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_MAIN));
  ASSERT_EQ(bytes.size(), 64u);
  const DialogField fields[] = {
      {"dlgVer", 0, 2, 1},
      {"signature", 2, 2, 0xFFFF},
      {"helpID", 4, 4, 0},
      {"exStyle", 8, 4, 0x00040000},  // WS_EX_APPWINDOW
      {"style", 12, 4, 0x90000848},   // WS_POPUP|WS_VISIBLE|DS_CENTER|DS_SETFONT|DS_FIXEDSYS
      {"cDlgItems", 16, 2, 0},
      {"x", 18, 2, 0},
      {"y", 20, 2, 0},
      {"cx", 22, 2, 9},
      {"cy", 24, 2, 9},
      {"menu", 26, 2, 0},
      {"windowClass", 28, 2, 0},
      {"title", 30, 2, 0},
      {"pointsize", 32, 2, 8},
      {"weight", 34, 2, 400},
      {"italic", 36, 1, 0},
      {"charset", 37, 1, 1},
  };
  for (const DialogField& field : fields) {
    EXPECT_EQ(ReadLe(bytes, field.offset, field.size), field.value) << field.name;
  }
  const char typeface[] = "MS Shell Dlg";
  for (size_t i = 0; i < sizeof typeface; ++i) {  // the terminating zero included
    EXPECT_EQ(ReadLe(bytes, 38 + 2 * i, 2), static_cast<unsigned char>(typeface[i]))
        << "typeface character " << i;
  }
  EXPECT_EQ(38 + 2 * sizeof typeface, bytes.size());
}

// The family name (name ID 1) of a TrueType file, Windows platform, US English; empty if the
// file has no such record. Fails the test on a table directory that runs past the file.
std::string TrueTypeFamily(const std::vector<unsigned char>& font) {
  const uint32_t tables = ReadBe(font, 4, 2);
  for (uint32_t i = 0; i < tables; ++i) {
    const size_t record = 12 + 16 * i;
    if (ReadBe(font, record, 4) != 0x6E616D65) {  // 'name'
      continue;
    }
    const size_t table = ReadBe(font, record + 8, 4);
    const uint32_t count = ReadBe(font, table + 2, 2);
    const size_t strings = table + ReadBe(font, table + 4, 2);
    for (uint32_t n = 0; n < count; ++n) {
      const size_t entry = table + 6 + 12 * n;
      if (ReadBe(font, entry, 2) == 3 && ReadBe(font, entry + 2, 2) == 1 &&
          ReadBe(font, entry + 4, 2) == 0x0409 && ReadBe(font, entry + 6, 2) == 1) {
        const size_t length = ReadBe(font, entry + 8, 2);
        const size_t start = strings + ReadBe(font, entry + 10, 2);
        std::string family;
        for (size_t c = 0; c + 1 < length; c += 2) {
          const uint32_t unit = ReadBe(font, start + c, 2);
          family += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
        return family;
      }
    }
  }
  return std::string();
}

TEST_F(ProgramResources, FontIsTrueTypeOfFamilyExo2Light) {
  const std::vector<unsigned char> font =
      ResourceBytes(s_module, IDR_FONT_TYPE, MAKEINTRESOURCEA(IDR_FONT));
  ASSERT_GT(font.size(), 12u);
  EXPECT_EQ(ReadBe(font, 0, 4), 0x00010000u) << "not a TrueType (glyf outline) font";
  std::set<std::string> tags;
  const uint32_t tables = ReadBe(font, 4, 2);
  for (uint32_t i = 0; i < tables; ++i) {
    const size_t record = 12 + 16 * i;
    const char tag[5] = {static_cast<char>(font.at(record)), static_cast<char>(font.at(record + 1)),
                         static_cast<char>(font.at(record + 2)),
                         static_cast<char>(font.at(record + 3)), 0};
    tags.insert(tag);
    const uint64_t end = uint64_t(ReadBe(font, record + 8, 4)) + ReadBe(font, record + 12, 4);
    EXPECT_LE(end, font.size()) << "table " << tag << " runs past the resource";
  }
  for (const char* needed : {"cmap", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "name"}) {
    EXPECT_EQ(tags.count(needed), 1u) << "missing table " << needed;
  }
  EXPECT_EQ(TrueTypeFamily(font), "Exo 2 Light");
}

TEST_F(ProgramResources, FontRegistersInMemoryAndIsSelectedByItsFaceName) {
  std::vector<unsigned char> font =
      ResourceBytes(s_module, IDR_FONT_TYPE, MAKEINTRESOURCEA(IDR_FONT));
  ASSERT_FALSE(font.empty());
  DWORD fontCount = 0;
  HANDLE registration =
      AddFontMemResourceEx(font.data(), static_cast<DWORD>(font.size()), nullptr, &fontCount);
  ASSERT_NE(registration, nullptr);
  EXPECT_EQ(fontCount, 1u);

  HFONT textFont = CreateFontA(-15, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, "Exo 2 Light");
  ASSERT_NE(textFont, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ oldFont = SelectObject(dc, textFont);
  char face[256] = {};
  GetTextFaceA(dc, static_cast<int>(sizeof face), face);
  // The whole-file size tells the embedded file apart from a substitute the mapper picked.
  const DWORD selectedFileSize = GetFontData(dc, 0, 0, nullptr, 0);
  SelectObject(dc, oldFont);
  DeleteDC(dc);
  DeleteObject(textFont);
  RemoveFontMemResourceEx(registration);

  EXPECT_STREQ(face, "Exo 2 Light");
  EXPECT_EQ(selectedFileSize, font.size());
}

#pragma pack(push, 2)
// One entry of an RT_GROUP_ICON directory: 14 bytes, the icon's number in the last word.
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE color_count;
  BYTE reserved;
  WORD planes;
  WORD bit_count;
  DWORD bytes_in_res;
  WORD id;
};
struct GroupIconHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14, "group icon entries are packed to 14 bytes");
static_assert(sizeof(GroupIconHeader) == 6, "group icon header is 6 bytes");

TEST_F(ProgramResources, GroupIconHasOne32By32TrueColourEntryForIcon1) {
  std::vector<unsigned char> group =
      ResourceBytes(s_module, MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(IDI_APP));
  ASSERT_EQ(group.size(), sizeof(GroupIconHeader) + sizeof(GroupIconEntry));
  GroupIconHeader header;
  std::memcpy(&header, group.data(), sizeof header);
  EXPECT_EQ(header.reserved, 0);
  EXPECT_EQ(header.type, 1);  // icon, not cursor
  EXPECT_EQ(header.count, 1);
  GroupIconEntry entry;
  std::memcpy(&entry, group.data() + sizeof header, sizeof entry);
  EXPECT_EQ(entry.width, 32);
  EXPECT_EQ(entry.height, 32);
  EXPECT_EQ(entry.color_count, 0);
  EXPECT_EQ(entry.planes, 1);
  EXPECT_EQ(entry.bit_count, 32);
  EXPECT_EQ(entry.bytes_in_res, 4264u);
  EXPECT_EQ(entry.id, 1);
  // The system's own choice for a 32 x 32 icon must be that entry.
  EXPECT_EQ(LookupIconIdFromDirectoryEx(group.data(), TRUE, 32, 32, LR_DEFAULTCOLOR), 1);
}

TEST_F(ProgramResources, IconImageIsA32BitBitmapWithAlphaAndMatchingMask) {
  std::vector<unsigned char> image =
      ResourceBytes(s_module, MAKEINTRESOURCEA(3), MAKEINTRESOURCEA(1));
  ASSERT_EQ(image.size(), 4264u);
  BITMAPINFOHEADER info;
  std::memcpy(&info, image.data(), sizeof info);
  EXPECT_EQ(info.biSize, 40u);
  EXPECT_EQ(info.biWidth, 32);
  EXPECT_EQ(info.biHeight, 64);  // colour image and AND mask
  EXPECT_EQ(info.biPlanes, 1);
  EXPECT_EQ(info.biBitCount, 32);
  EXPECT_EQ(info.biCompression, static_cast<DWORD>(BI_RGB));

  const size_t colour = 40;
  const size_t mask = colour + 32 * 32 * 4;
  int transparent = 0;
  int opaque = 0;
  std::set<COLORREF> opaqueColours;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const size_t pixel = colour + 4 * (32 * y + x);
      const unsigned alpha = image[pixel + 3];
      const bool maskBit = (image[mask + 4 * y + x / 8] >> (7 - x % 8)) & 1;
      EXPECT_EQ(maskBit, alpha == 0) << "mask and alpha disagree at " << x << "," << y;
      transparent += alpha == 0;
      if (alpha == 255) {
        ++opaque;
        opaqueColours.insert(RGB(image[pixel + 2], image[pixel + 1], image[pixel]));
      }
    }
  }
  EXPECT_GT(transparent, 0) << "the icon should not be a filled square";
  EXPECT_GT(opaque, 32 * 32 / 3) << "the icon is mostly empty";
  for (COLORREF paletteColour : {RGB(0, 0, 0), RGB(87, 114, 144), RGB(184, 190, 202),
                                 RGB(175, 207, 206)}) {
    EXPECT_EQ(opaqueColours.count(paletteColour), 1u)
        << "palette colour 0x" << std::hex << paletteColour << " not used";
  }

  HICON icon = CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE,
                                        0x00030000, 32, 32, LR_DEFAULTCOLOR);
  EXPECT_NE(icon, nullptr);
  if (icon != nullptr) {
    DestroyIcon(icon);
  }
}

bool ContainsNoCase(std::string text, std::string word) {
  for (char& c : text) {
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  }
  for (char& c : word) {
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  }
  return text.find(word) != std::string::npos;
}

TEST_F(ProgramResources, ManifestOnlyAsksToRunAsInvoker) {
  const std::vector<unsigned char> bytes =
      ResourceBytes(s_module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
  ASSERT_FALSE(bytes.empty());
  const std::string manifest(bytes.begin(), bytes.end());
  EXPECT_EQ(manifest.rfind("<?xml", 0), 0u) << manifest;
  EXPECT_NE(manifest.find("<trustInfo"), std::string::npos);
  EXPECT_NE(manifest.find("<requestedExecutionLevel"), std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
  // The controls keep the classic look and the window its fixed pixel layout.
  EXPECT_FALSE(ContainsNoCase(manifest, "Microsoft.Windows.Common-Controls"));
  EXPECT_FALSE(ContainsNoCase(manifest, "<dependency"));
  EXPECT_FALSE(ContainsNoCase(manifest, "dpiAware"));  // dpiAware and dpiAwareness
}

}  // namespace
