// The resources of nimsetup.exe as the system reads them: the completion dialog's template, the
// string table and the version record, all in Spanish.
#include "tests/setup/setup_test_args.h"
#include "tests/support/spooler_install.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const WORD SPANISH = MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN); // 0x0C0A

// A loaded image of nimsetup.exe whose resources can be read; nothing of it runs.
class SetupImage {
  public:
    SetupImage()
        : module_(LoadLibraryExW(WindowsPathOf(g_setupArgs.setupExe).c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~SetupImage() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    SetupImage(const SetupImage&) = delete;
    SetupImage& operator=(const SetupImage&) = delete;
    HMODULE get() const { return module_; }

  private:
    HMODULE module_;
};

// Reads a dialog template (the DLGTEMPLATE form that a DIALOG statement makes).
class TemplateReader {
  public:
    TemplateReader(const BYTE* data, DWORD size) : data_(data), size_(size), at_(0) {}
    bool ok() const { return ok_; }
    WORD Word() {
        if (at_ + 2 > size_) {
            ok_ = false;
            return 0;
        }
        WORD value = static_cast<WORD>(data_[at_] | (data_[at_ + 1] << 8));
        at_ += 2;
        return value;
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    // A text or, after 0xFFFF, an ordinal (given back as "#n").
    std::wstring TextOrOrdinal() {
        WORD first = Word();
        if (first == 0xFFFF) {
            return L"#" + std::to_wstring(Word());
        }
        std::wstring text;
        for (WORD c = first; ok_ && c != 0; c = Word()) {
            text += static_cast<wchar_t>(c);
        }
        return text;
    }
    void AlignToDword() { at_ = (at_ + 3) & ~static_cast<DWORD>(3); }

  private:
    const BYTE* data_;
    DWORD size_;
    DWORD at_;
    bool ok_ = true;
};

struct ExpectedControl {
    int id;
    const wchar_t* windowClass; // "#128" button, "#130" static
    DWORD kind;                 // BS_* or SS_* in the low bits of the style
    short x, y, width, height;
    const wchar_t* text;
};

const ExpectedControl COMPLETION_CONTROLS[] = {
    {IDOK, L"#128", BS_DEFPUSHBUTTON, 267, 10, 50, 14, L"Aceptar"},
    {-1, L"#130", SS_LEFT, 10, 17, 236, 8,
     L"La instalación del Nimbrel Port fue completada con éxito."},
    {-1, L"#130", SS_LEFT, 11, 31, 190, 8,
     L"Se iniciará \"Add Printer Widzard\", al clicar sobre aceptar."},
    {IDCANCEL, L"#128", BS_PUSHBUTTON, 267, 25, 50, 14, L"Cancelar"},
    {-1, L"#130", SS_LEFT, 11, 44, 137, 8, L"Clicar en cancelar si se quiere salir."},
};

TEST(SetupResources, CompletionDialogTemplate) {
    SetupImage image;
    ASSERT_NE(nullptr, image.get()) << "error " << GetLastError();
    HRSRC found = FindResourceExW(image.get(), MAKEINTRESOURCEW(5) /* RT_DIALOG */,
                                  MAKEINTRESOURCEW(102), SPANISH);
    ASSERT_NE(nullptr, found) << "dialog 102 in Spanish";
    auto* data = static_cast<const BYTE*>(LockResource(LoadResource(image.get(), found)));
    ASSERT_NE(nullptr, data);
    TemplateReader reader(data, SizeofResource(image.get(), found));

    DWORD style = reader.Dword();
    EXPECT_EQ(static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU),
              style);
    EXPECT_EQ(0u, reader.Dword()); // extended style
    WORD count = reader.Word();
    reader.Short(); // x and y: the dialog is centred when it opens
    reader.Short();
    EXPECT_EQ(324, reader.Short());
    EXPECT_EQ(66, reader.Short());
    EXPECT_EQ(L"", reader.TextOrOrdinal()); // no menu
    EXPECT_EQ(L"", reader.TextOrOrdinal()); // the standard dialog class
    EXPECT_EQ(L"Nimbrel", reader.TextOrOrdinal());
    EXPECT_EQ(9, reader.Word());
    EXPECT_EQ(L"MS Sans Serif", reader.TextOrOrdinal());

    ASSERT_EQ(sizeof COMPLETION_CONTROLS / sizeof COMPLETION_CONTROLS[0], count);
    for (const ExpectedControl& expected : COMPLETION_CONTROLS) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(expected.text)));
        reader.AlignToDword();
        DWORD itemStyle = reader.Dword();
        reader.Dword(); // extended style
        EXPECT_EQ(expected.x, reader.Short());
        EXPECT_EQ(expected.y, reader.Short());
        EXPECT_EQ(expected.width, reader.Short());
        EXPECT_EQ(expected.height, reader.Short());
        EXPECT_EQ(expected.id, static_cast<short>(reader.Word()));
        EXPECT_EQ(expected.windowClass, reader.TextOrOrdinal());
        EXPECT_EQ(expected.text, reader.TextOrOrdinal());
        EXPECT_EQ(expected.kind, itemStyle & 0x0F);
        EXPECT_TRUE(itemStyle & WS_VISIBLE);
        EXPECT_TRUE(itemStyle & WS_CHILD);
        reader.Word(); // no creation data
    }
    EXPECT_TRUE(reader.ok());
}

TEST(SetupResources, StringTableInSpanish) {
    SetupImage image;
    ASSERT_NE(nullptr, image.get());
    // Strings 1 to 16 are block 1 of the string table.
    EXPECT_NE(nullptr, FindResourceExW(image.get(), MAKEINTRESOURCEW(6) /* RT_STRING */,
                                       MAKEINTRESOURCEW(1), SPANISH));
    const struct {
        UINT id;
        const wchar_t* text;
    } strings[] = {
        {1, L"No se puede encontrar el software Nimbrel .\nPor favor installar Nimbrel."},
        {2, L"No se puede asignar memoria."},
        {3, L"A causa de algún error no se ouede añadir el Nimbrel Port."},
    };
    for (const auto& s : strings) {
        wchar_t text[256] = L"";
        EXPECT_GT(LoadStringW(image.get(), s.id, text, 256), 0) << s.id;
        EXPECT_STREQ(s.text, text) << s.id;
    }
}

std::wstring VersionText(const std::vector<BYTE>& record, const wchar_t* name) {
    std::wstring query = std::wstring(L"\\StringFileInfo\\0c0a04b0\\") + name;
    void* value = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(record.data(), query.c_str(), &value, &chars) || value == nullptr) {
        return L"(missing)";
    }
    return static_cast<const wchar_t*>(value);
}

TEST(SetupResources, VersionRecord) {
    std::wstring path = WindowsPathOf(g_setupArgs.setupExe);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u) << "error " << GetLastError();
    std::vector<BYTE> record(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, record.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS); // 1.0
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS); // .0.1
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwProductVersionLS);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0C0A, translation[0]); // Spanish
    EXPECT_EQ(1200, translation[1]);   // Unicode

    EXPECT_EQ(L"Nimbrel Application", VersionText(record, L"FileDescription"));
    EXPECT_EQ(L"1.0.0", VersionText(record, L"FileVersion"));
    EXPECT_EQ(L"nimsetup", VersionText(record, L"InternalName"));
    EXPECT_EQ(L"nimsetup.exe", VersionText(record, L"OriginalFilename"));
    EXPECT_EQ(L"Nimbrel.", VersionText(record, L"ProductName"));
    EXPECT_EQ(L"1, 0, 0, 1", VersionText(record, L"ProductVersion"));
}

} // namespace
