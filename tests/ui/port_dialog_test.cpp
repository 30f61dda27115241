// The port dialog, the message routine, the help hook and AddPort, seen from inside one monitor
// build: the program links the build's library and its resources (the .rc), and the monitor's
// instance is this program. The dialogs are real windows; a second thread plays the user.
#include "monitor/core/monitor_entry.h"
#include "monitor/core/monitor_globals.h"
#include "monitor/core/port_entries.h"
#include "monitor/core/port_settings.h"
#include "monitor/core/text.h"
#include "monitor/ui/connecting_box.h"
#include "monitor/ui/help_hook.h"
#include "monitor/ui/message_box.h"
#include "monitor/ui/port_dialog.h"
#include "tests/support/port_registry.h"
#include "tests/support/ui_user.h"
#include "tests/support/virtual_clock.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace ui_user;

namespace {

typedef std::basic_string<TCHAR> tstring;

// --- The resources, as the build carries them ------------------------------------------------

#ifdef NIMBREL_9X
const int CONNECTING_BOX = 108;
const int PICTURE = 106;
const int URI_FIELD = 201, USE_PROXY = 1007, PROXY_LABEL = 1008, PROXY_SERVER = 1002,
          PROXY_PORT_LABEL = 1009, PROXY_PORT = 1014, QUERY_ON_ADD = 1015, CHECK_IN_TIME = 1018,
          VERSION = 1025;
const int URI_LIMIT = 49;
#else
const int CONNECTING_BOX = 105;
const int PICTURE = 103;
const int URI_FIELD = 202, USE_PROXY = 1003, PROXY_LABEL = 1009, PROXY_SERVER = 1001,
          PROXY_PORT_LABEL = 1006, PROXY_PORT = 1007, QUERY_ON_ADD = 1008, CHECK_IN_TIME = 1017,
          VERSION = 1019;
const int URI_LIMIT = 127;
#endif
const int PORT_DIALOG = 200;

// Class atoms of a dialog template.
const WORD BUTTON = 0x80, EDIT = 0x81, STATIC = 0x82;

struct TemplateItem {
    DWORD style;
    short x, y, cx, cy;
    int id;         // as the template holds it: -1 for 0xFFFF
    WORD classAtom; // 0 when the class is given by name
    std::wstring className;
    std::wstring text;
    int ordinal; // the title as a resource id (a picture), else -1
};

// The class of a control, whether the template names it by atom or by name.
WORD ClassOf(const TemplateItem& item) {
    if (item.classAtom != 0) {
        return item.classAtom;
    }
    if (lstrcmpiW(item.className.c_str(), L"Button") == 0) {
        return BUTTON;
    }
    if (lstrcmpiW(item.className.c_str(), L"Edit") == 0) {
        return EDIT;
    }
    return lstrcmpiW(item.className.c_str(), L"Static") == 0 ? STATIC : 0;
}

struct DialogTemplate {
    DWORD style;
    short x, y, cx, cy;
    std::wstring caption;
    WORD pointSize;
    std::wstring font;
    std::vector<TemplateItem> items;
};

// Reads a dialog template (the classic and the extended form) from this program's resources.
class TemplateReader {
  public:
    explicit TemplateReader(const BYTE* data) : p_(data) {}

    bool Read(DialogTemplate* out) {
        bool extended = Word(p_) == 1 && Word(p_ + 2) == 0xFFFF;
        DWORD exStyle = 0;
        WORD count = 0;
        if (extended) {
            p_ += 4 + 4; // version, signature, help id
            exStyle = Dword();
            out->style = Dword();
        } else {
            out->style = Dword();
            exStyle = Dword();
        }
        (void)exStyle;
        count = NextWord();
        out->x = static_cast<short>(NextWord());
        out->y = static_cast<short>(NextWord());
        out->cx = static_cast<short>(NextWord());
        out->cy = static_cast<short>(NextWord());
        int ignored = 0;
        SzOrOrd(&ignored); // menu
        SzOrOrd(&ignored); // class
        out->caption = Sz();
        if (out->style & (DS_SETFONT | DS_SHELLFONT)) {
            out->pointSize = NextWord();
            if (extended) {
                p_ += 4; // weight, italic, charset
            }
            out->font = Sz();
        }
        for (WORD i = 0; i < count; ++i) {
            Align();
            TemplateItem item{};
            if (extended) {
                p_ += 4; // help id
                p_ += 4; // extended style
                item.style = Dword();
            } else {
                item.style = Dword();
                p_ += 4;
            }
            item.x = static_cast<short>(NextWord());
            item.y = static_cast<short>(NextWord());
            item.cx = static_cast<short>(NextWord());
            item.cy = static_cast<short>(NextWord());
            if (extended) {
                item.id = static_cast<int>(Dword());
            } else {
                item.id = static_cast<short>(NextWord());
            }
            if (item.id == 0xFFFF) {
                item.id = -1;
            }
            int atom = -1;
            item.className = SzOrOrd(&atom);
            item.classAtom = atom >= 0 ? static_cast<WORD>(atom) : 0;
            item.ordinal = -1;
            item.text = SzOrOrd(&item.ordinal);
            WORD extra = NextWord();
            p_ += extra;
            out->items.push_back(item);
        }
        return true;
    }

  private:
    static WORD Word(const BYTE* at) { return static_cast<WORD>(at[0] | (at[1] << 8)); }
    WORD NextWord() {
        WORD w = Word(p_);
        p_ += 2;
        return w;
    }
    DWORD Dword() {
        DWORD low = NextWord();
        return low | (static_cast<DWORD>(NextWord()) << 16);
    }
    std::wstring Sz() {
        std::wstring text;
        for (WORD c = NextWord(); c != 0; c = NextWord()) {
            text += static_cast<wchar_t>(c);
        }
        return text;
    }
    // A text, or 0xFFFF and an ordinal (returned through ordinal).
    std::wstring SzOrOrd(int* ordinal) {
        if (Word(p_) == 0xFFFF) {
            p_ += 2;
            *ordinal = NextWord();
            return std::wstring();
        }
        return Sz();
    }
    void Align() {
        while (reinterpret_cast<uintptr_t>(p_) % 4 != 0) {
            ++p_;
        }
    }
    const BYTE* p_;
};

bool LoadTemplate(int id, DialogTemplate* out) {
    HRSRC found = FindResourceW(g_monitorInstance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    if (found == nullptr) {
        return false;
    }
    auto* data = static_cast<const BYTE*>(LockResource(LoadResource(g_monitorInstance, found)));
    return data != nullptr && TemplateReader(data).Read(out);
}

// What each control of the port dialog must be. Style: the bits that must be set.
struct ExpectedItem {
    int id;
    WORD classAtom;
    short x, y, cx, cy;
    DWORD style;
    const wchar_t* text;
};

const DWORD CHILD = WS_CHILD | WS_VISIBLE;
const DWORD FIELD = CHILD | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
const DWORD CHECK_BOX = CHILD | BS_AUTOCHECKBOX | WS_TABSTOP;

#ifdef NIMBREL_9X
const ExpectedItem kPortDialogItems[] = {
    {-1, STATIC, 6, 103, 230, 8, CHILD,
     L"Introducir el URI de la impresora (ej. http://printer1:631/printer):"},
    {201, EDIT, 5, 117, 227, 12, FIELD, L""},
    {1, BUTTON, 271, 9, 40, 14, CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, L"Aceptar"},
    {2, BUTTON, 271, 26, 40, 14, CHILD | WS_TABSTOP, L"Cancelar"},
    {1007, BUTTON, 6, 135, 56, 10, CHECK_BOX, L"Utilizar Proxy"},
    {1008, STATIC, 6, 149, 199, 8, CHILD, L"Introducir el nombre del servidor proxy (ej. proxy1):"},
    {1002, EDIT, 4, 161, 229, 14, FIELD, L""},
    {1009, STATIC, 241, 148, 65, 8, CHILD, L"N\u00famero de puerto"},
    {1014, EDIT, 243, 161, 40, 14, FIELD, L""},
    {1015, BUTTON, 178, 73, 132, 10, CHECK_BOX, L"Obtener los atributos de la impresora."},
    {1017, STATIC, 4, 2, 173, 97, CHILD | SS_BITMAP, nullptr},
    {1018, BUTTON, 178, 86, 132, 10, CHECK_BOX, L"Obtener el estado cada 20 segundos."},
    // The two notes are a few units wider than in nimmonnt: their longer lines fit.
    {1024, STATIC, 9, 185, 286, 9, CHILD,
     L"Nota: La impresora URI se trata como un nombre de puerto. Pero en Windows la longitud"},
    {1025, STATIC, 161, 231, 128, 8, CHILD, L"Nimbrel Rev1.0b"},
    // Three lines as written: a line is never wrapped into a fourth one that does not show.
    {-1, STATIC, 29, 194, 256, 27, CHILD | SS_LEFTNOWORDWRAP,
     L"del nombre del puerto debe ser de menos de 64 caracteres. Por eso, debe\n"
     L"introducir el nombre de la impresora URI con una longitud inferior a 64 caracteres\n"
     L"usando la direcci\u00f3n IP o el nombre corto de la Impresora LOGICA."},
};
#else
const ExpectedItem kPortDialogItems[] = {
    {1005, STATIC, 6, 103, 230, 8, CHILD,
     L"Introducir el URI de la impresora (ej. http://printer1:631/printer):"},
    {202, EDIT, 5, 117, 227, 12, FIELD, L""},
    {1, BUTTON, 271, 9, 40, 14, CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, L"Aceptar"},
    {2, BUTTON, 271, 26, 40, 14, CHILD | WS_TABSTOP, L"Cancelar"},
    {1003, BUTTON, 6, 135, 56, 10, CHECK_BOX, L"Utilizar Proxy"},
    {1009, STATIC, 6, 149, 199, 8, CHILD, L"Introducir el nombre del servidor proxy (ej. proxy1):"},
    {1001, EDIT, 4, 161, 229, 14, FIELD, L""},
    {1006, STATIC, 241, 148, 65, 8, CHILD, L"N\u00famero de puerto"},
    {1007, EDIT, 243, 161, 40, 14, FIELD, L""},
    {1008, BUTTON, 178, 73, 132, 10, CHECK_BOX, L"Obtener los atributos de la impresora."},
    {-1, STATIC, 4, 2, 173, 97, CHILD | SS_BITMAP, nullptr},
    {1017, BUTTON, 178, 86, 132, 10, CHECK_BOX, L"Obtener el estado cada 20 segundos."},
    {-1, STATIC, 9, 185, 277, 9, CHILD,
     L"Nota: La impresora URI se trata como un nombre de puerto. Pero en Windows la"},
    {1019, STATIC, 161, 231, 128, 8, CHILD, L"Nimbrel Rev1.0b"},
    // Three lines as written: a line is never wrapped into a fourth one that does not show.
    {-1, STATIC, 29, 194, 249, 27, CHILD | SS_LEFTNOWORDWRAP,
     L"longitud del nombre del puerto debe ser de menos de 127 caracteres. Por eso,\n"
     L"debe introducir el nombre de la impresora URI con una longitud inferior a 127\n"
     L"caracteres usando la direcci\u00f3n IP o el nombre corto de la Impresora LOGICA."},
};
#endif

TEST(Resources, PortDialogTemplateHoldsEveryControlInOrder) {
    DialogTemplate dialog{};
    ASSERT_TRUE(LoadTemplate(PORT_DIALOG, &dialog));
    DWORD style = DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
#ifdef NIMBREL_9X
    EXPECT_EQ(319, dialog.cx);
    EXPECT_EQ(0u, dialog.style & DS_3DLOOK);
#else
    style |= DS_3DLOOK;
    EXPECT_EQ(320, dialog.cx);
#endif
    EXPECT_EQ(style, dialog.style);
    EXPECT_EQ(247, dialog.cy);
    EXPECT_EQ(12, dialog.x);
    EXPECT_EQ(18, dialog.y);
    EXPECT_EQ("Nimbrel.", Utf8(dialog.caption));
    EXPECT_EQ(9, dialog.pointSize);
    EXPECT_EQ("MS Shell Dlg", Utf8(dialog.font));

    const size_t count = sizeof kPortDialogItems / sizeof kPortDialogItems[0];
    ASSERT_EQ(count, dialog.items.size());
    for (size_t i = 0; i < count; ++i) {
        const ExpectedItem& want = kPortDialogItems[i];
        const TemplateItem& got = dialog.items[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id));
        EXPECT_EQ(want.id, got.id);
        EXPECT_EQ(want.classAtom, ClassOf(got));
        EXPECT_EQ(want.x, got.x);
        EXPECT_EQ(want.y, got.y);
        EXPECT_EQ(want.cx, got.cx);
        EXPECT_EQ(want.cy, got.cy);
        EXPECT_EQ(want.style, got.style & want.style);
        if (want.classAtom == BUTTON) {
            // The kind of button is the low four bits, not a set of flags.
            EXPECT_EQ(want.style & 0xF, got.style & 0xF);
        }
        if (want.classAtom == STATIC) {
            EXPECT_EQ(want.style & SS_TYPEMASK, got.style & SS_TYPEMASK);
        }
        if (want.text != nullptr) {
            EXPECT_EQ(Utf8(want.text), Utf8(got.text));
        } else {
            EXPECT_EQ(PICTURE, got.ordinal);
        }
    }
}

TEST(Resources, ConnectingBoxIsAHiddenCaptionBoxWithoutSystemMenu) {
    DialogTemplate box{};
    ASSERT_TRUE(LoadTemplate(CONNECTING_BOX, &box));
    EXPECT_EQ(DS_MODALFRAME | WS_POPUP | WS_CAPTION | DS_SETFONT, box.style);
    EXPECT_EQ(0, box.x);
    EXPECT_EQ(0, box.y);
    EXPECT_EQ("Nimbrel", Utf8(box.caption));
    EXPECT_EQ(8, box.pointSize);
    EXPECT_EQ("MS Sans Serif", Utf8(box.font));
    ASSERT_EQ(1u, box.items.size());
    const TemplateItem& text = box.items[0];
    EXPECT_EQ(STATIC, ClassOf(text));
    EXPECT_EQ("Conect\u00e1ndose...", Utf8(text.text));
#ifdef NIMBREL_9X
    EXPECT_EQ(121, box.cx);
    EXPECT_EQ(24, text.x);
    EXPECT_EQ(13, text.y);
    EXPECT_EQ(65, text.cx);
#else
    EXPECT_EQ(116, box.cx);
    EXPECT_EQ(25, text.x);
    EXPECT_EQ(12, text.y);
    EXPECT_EQ(64, text.cx);
#endif
    EXPECT_EQ(34, box.cy);
    EXPECT_EQ(8, text.cy);
}

TEST(Resources, PictureIs260By158With256Colours) {
    HRSRC found = FindResourceW(g_monitorInstance, MAKEINTRESOURCEW(PICTURE), MAKEINTRESOURCEW(2));
    ASSERT_NE(nullptr, found);
    auto* info =
        static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(g_monitorInstance, found)));
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(260, info->biWidth);
    EXPECT_EQ(158, info->biHeight);
    EXPECT_EQ(8, info->biBitCount);
    EXPECT_TRUE(info->biClrUsed == 0 || info->biClrUsed == 256) << info->biClrUsed;
}

// The whole message table of the build: id and text.
std::map<int, std::wstring> ExpectedStrings() {
    struct Entry {
        int nt, id9x;
        const wchar_t* text;
    };
    const Entry table[] = {
        {300, 506, L"Nimbrel"},
        {301, 501, L"'%s' no es un nombre de impresora IPP v\u00e1lido."},
        {302, 502, L"El puerto %s ya existe."},
        {308, 507, L"'%s' no es un nombre de proxy v\u00e1lido."},
        {309, 512, L"La impresora %s no se encuentra."},
        {310, 513, L"Petici\u00f3n incorrecta desde la impresora %s"},
        {311, 514, L"Petici\u00f3n de tiempo de espera."},
        {312, 515, L"La impresora conectada al puerto %s devuelve lo siguiente .\n\nModelo: %s"},
        {313, 516,
         L"Ha ocurrido un error HTTP mientras se realizaba la conexi\u00f3n al puerto %s"},
        {314, 517, L"%s : la duraci\u00f3n es excesiva."},
        {315, 518, L"%s no es un n\u00famero de puerto v\u00e1lido."},
        {316, 519, L"Otro proceso esta utilizando esta funci\u00f3n."},
        {317, 520, L"No hay papel."},
        {318, 521, L"La impresora no est\u00e1 preparada. Comprobar la impresora."},
        {319, 522, L"La tapa de la impresora esta abierta."},
        {320, 523, L"No hay t\u00f3ner (o tinta)"},
        {321, 524, L"Atasco de papel."},
        {322, 525, L"No se puede conectar con el servidor %s. Comprobar la direci\u00f3n."},
        {323, 526, L"Fallo en los datos enviados."},
        {324, 527, L"A causa de alg\u00fan error no se ouede a\u00f1adir el Nimbrel Port."},
    };
    std::map<int, std::wstring> strings;
    for (const Entry& e : table) {
#ifdef NIMBREL_9X
        strings[e.id9x] = e.text;
#else
        strings[e.nt] = e.text;
#endif
    }
    return strings;
}

BOOL CALLBACK CollectBlock(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR blocks) {
    if (IS_INTRESOURCE(name)) {
        reinterpret_cast<std::vector<int>*>(blocks)->push_back(
            static_cast<int>(reinterpret_cast<uintptr_t>(name)));
    }
    return TRUE;
}

TEST(Resources, StringTableHoldsExactlyTheMessagesOfTheBuild) {
    std::map<int, std::wstring> expected = ExpectedStrings();
    // Every string the module holds, block by block (16 ids a block).
    std::vector<int> blocks;
    EnumResourceNamesW(g_monitorInstance, MAKEINTRESOURCEW(6), CollectBlock,
                       reinterpret_cast<LONG_PTR>(&blocks));
    std::map<int, std::wstring> held;
    for (int block : blocks) {
        for (int id = (block - 1) * 16; id < block * 16; ++id) {
            const wchar_t* text = nullptr;
            int length = LoadStringW(g_monitorInstance, static_cast<UINT>(id),
                                     reinterpret_cast<LPWSTR>(&text), 0);
            if (length > 0) {
                held[id] = std::wstring(text, static_cast<size_t>(length));
            }
        }
    }
    ASSERT_EQ(expected.size(), held.size());
    for (const auto& entry : expected) {
        SCOPED_TRACE(entry.first);
        ASSERT_TRUE(held.count(entry.first));
        EXPECT_EQ(Utf8(entry.second), Utf8(held[entry.first]));
    }
}

// --- The dialog on a record -------------------------------------------------------------------

// Runs the dialog on the record while the user follows the script.
BOOL RunDialog(PortContext* port, const std::function<void()>& script,
               std::string* trouble = nullptr) {
    BOOL accepted = FALSE;
    std::string problem =
        RunSession([&] { accepted = RunPortConfigDialog(nullptr, port); }, script);
    if (trouble != nullptr) {
        *trouble = problem;
    } else {
        EXPECT_EQ("", problem);
    }
    return accepted;
}

PortContext StoredRecord(const char* uri, DWORD useProxy, const char* proxy, DWORD proxyPort,
                         DWORD checkInTime) {
    PortContext port{};
    TextFromNarrow(port.portName, PORT_NAME_CHARS, uri);
    CopyText(port.printerUri, sizeof port.printerUri, uri);
    port.useProxy = useProxy;
    CopyText(port.proxyServer, sizeof port.proxyServer, proxy);
    port.proxyPort = proxyPort;
    port.checkInTime = checkInTime;
    return port;
}

class DialogTest : public testing::Test {
  protected:
    void SetUp() override { port_registry::Clear(); }
    void TearDown() override { port_registry::Clear(); }
};

TEST_F(DialogTest, AddModeStartsEmptyWithItsLimitsAndVersion) {
    PortContext port{};
    std::wstring uri, version;
    LRESULT uriLimit = 0, proxyLimit = 0, portLimit = 0;
    bool proxyControlsEnabled = true, queryEnabled = false, uriEnabled = false;
    BOOL accepted = RunDialog(&port, [&] {
        HWND dialog = WaitForDialog(L"Nimbrel.");
        uri = Text(dialog, URI_FIELD);
        version = Text(dialog, VERSION);
        uriLimit = SendMessageW(GetDlgItem(dialog, URI_FIELD), EM_GETLIMITTEXT, 0, 0);
        proxyLimit = SendMessageW(GetDlgItem(dialog, PROXY_SERVER), EM_GETLIMITTEXT, 0, 0);
        portLimit = SendMessageW(GetDlgItem(dialog, PROXY_PORT), EM_GETLIMITTEXT, 0, 0);
        proxyControlsEnabled = Enabled(dialog, PROXY_LABEL) || Enabled(dialog, PROXY_SERVER) ||
                               Enabled(dialog, PROXY_PORT_LABEL) || Enabled(dialog, PROXY_PORT);
        queryEnabled = Enabled(dialog, QUERY_ON_ADD);
        uriEnabled = Enabled(dialog, URI_FIELD);
        Press(dialog, IDCANCEL);
        WaitGone(dialog);
    });
    EXPECT_FALSE(accepted);
    EXPECT_EQ(L"http://", uri);
    EXPECT_EQ(L"Nimbrel 1.1bS", version);
    EXPECT_EQ(URI_LIMIT, uriLimit);
    EXPECT_EQ(256, proxyLimit);
    EXPECT_EQ(7, portLimit);
    EXPECT_FALSE(proxyControlsEnabled);
    EXPECT_TRUE(queryEnabled);
    EXPECT_TRUE(uriEnabled);
}

TEST_F(DialogTest, ConfigureModeShowsTheRecordAndLocksTheUri) {
    PortContext port = StoredRecord("ipp://printer.example/ipp", 1, "proxy.example", 0, 1);
    std::wstring caption, uri, proxy, proxyPort;
    bool uriEnabled = true, labelEnabled = true, queryEnabled = true, pollChecked = false,
         proxyChecked = false, proxyFieldEnabled = false;
    RunDialog(&port, [&] {
        HWND dialog = WaitForDialog(L"Configurar el puerto");
        caption = Text(dialog);
        uri = Text(dialog, URI_FIELD);
        proxy = Text(dialog, PROXY_SERVER);
        proxyPort = Text(dialog, PROXY_PORT);
        uriEnabled = Enabled(dialog, URI_FIELD);
        labelEnabled = IsWindowEnabled(GetWindow(GetDlgItem(dialog, URI_FIELD), GW_HWNDPREV));
        queryEnabled = Enabled(dialog, QUERY_ON_ADD);
        pollChecked = Checked(dialog, CHECK_IN_TIME);
        proxyChecked = Checked(dialog, USE_PROXY);
        proxyFieldEnabled = Enabled(dialog, PROXY_SERVER) && Enabled(dialog, PROXY_PORT);
        Press(dialog, IDCANCEL);
        WaitGone(dialog);
    });
    EXPECT_EQ(L"ipp://printer.example/ipp", uri);
    EXPECT_FALSE(uriEnabled);
    EXPECT_FALSE(labelEnabled);
    EXPECT_FALSE(queryEnabled);
    EXPECT_TRUE(pollChecked);
    EXPECT_TRUE(proxyChecked);
    EXPECT_TRUE(proxyFieldEnabled);
    EXPECT_EQ(L"proxy.example", proxy);
#ifdef NIMBREL_9X
    EXPECT_EQ(L"", proxyPort); // a proxy port 0 shows as an empty field
#else
    EXPECT_EQ(L"0", proxyPort);
#endif
}

TEST_F(DialogTest, CheckBoxesChangeTheRecordAtOnceAndCancelKeepsTheChange) {
    PortContext port{};
    port.proxyPort = 3128;
    CopyText(port.proxyServer, sizeof port.proxyServer, "proxy.example");
    std::wstring proxyShown, portShown;
    DWORD pollAfterClick = 0, queryAfterClick = 0, proxyAfterClick = 0;
    BOOL accepted = RunDialog(&port, [&] {
        HWND dialog = WaitForDialog(L"Nimbrel.");
        Click(dialog, CHECK_IN_TIME);
        pollAfterClick = port.checkInTime;
        Click(dialog, QUERY_ON_ADD);
        queryAfterClick = port.queryOnAdd;
        // Enabling the proxy shows the record's values.
        Click(dialog, USE_PROXY);
        proxyAfterClick = port.useProxy;
        proxyShown = Text(dialog, PROXY_SERVER);
        portShown = Text(dialog, PROXY_PORT);
        Press(dialog, IDCANCEL);
        WaitGone(dialog);
    });
    EXPECT_FALSE(accepted);
    EXPECT_EQ(1u, pollAfterClick);
    EXPECT_EQ(1u, queryAfterClick);
    EXPECT_EQ(1u, proxyAfterClick);
    EXPECT_EQ(L"proxy.example", proxyShown);
    EXPECT_EQ(L"3128", portShown);
    // The caller's record keeps what the clicks did.
    EXPECT_EQ(1u, port.checkInTime);
    EXPECT_EQ(1u, port.queryOnAdd);
    EXPECT_EQ(1u, port.useProxy);
}

TEST_F(DialogTest, AcceptedInputIsWrittenIntoTheRecord) {
    PortContext port{};
    BOOL accepted = RunDialog(&port, [&] {
        HWND dialog = WaitForDialog(L"Nimbrel.");
        Type(dialog, URI_FIELD, L"IPP://lp1.example:8000/ipp/port1");
        Click(dialog, USE_PROXY);
        Type(dialog, PROXY_SERVER, L"10.1.2.3");
        Type(dialog, PROXY_PORT, L"3128");
        Press(dialog, IDOK);
        WaitGone(dialog);
    });
    EXPECT_TRUE(accepted);
    EXPECT_STREQ("ipp://lp1.example:8000/ipp/port1", port.printerUri);
#ifdef NIMBREL_9X
    EXPECT_STREQ("ipp://lp1.example:8000/ipp/port1", port.portName);
#else
    EXPECT_STREQ(L"IPP://lp1.example:8000/ipp/port1", port.portName);
#endif
    EXPECT_STREQ("lp1.example", port.host);
    EXPECT_EQ(8000, port.port);
    EXPECT_STREQ("/ipp/port1", port.path);
    EXPECT_EQ(1u, port.useProxy);
    EXPECT_STREQ("10.1.2.3", port.proxyServer);
    EXPECT_EQ(3128u, port.proxyPort);
    // The dialog stores nothing itself.
    EXPECT_TRUE(port_registry::Names().empty());
}

#ifndef NIMBREL_9X
// (The Windows 95/98 record holds a path as long as the field can give.)
TEST_F(DialogTest, APathLongerThanTheRecordHoldsIsRefusedNotCut) {
    // A program can put more into the field than a person can type.
    PortContext port{};
    std::wstring longUri = L"http://printer.example/" + std::wstring(PATH_BYTES, L'a');
    MessageSeen seen;
    BOOL accepted = RunDialog(&port, [&] {
        HWND dialog = WaitForDialog(L"Nimbrel.");
        SetDlgItemTextW(dialog, URI_FIELD, longUri.c_str());
        Press(dialog, IDOK);
        seen = AnswerMessageBox();
        Press(dialog, IDCANCEL);
        WaitGone(dialog);
    });
    EXPECT_FALSE(accepted);
    EXPECT_EQ(0, seen.text.find(L"'http://printer.example/aaaa")) << Utf8(seen.text);
    EXPECT_EQ('\0', port.path[0]);
}

TEST_F(DialogTest, UriWithACharacterTheCodePageLacksIsRefused) {
    // A stand-in "?" would store a different printer URI than the one typed.
    PortContext port{};
    MessageSeen seen;
    BOOL accepted = RunDialog(&port, [&] {
        HWND dialog = WaitForDialog(L"Nimbrel.");
        Type(dialog, URI_FIELD, L"http://printer.example/\u4e2d");
        Press(dialog, IDOK);
        seen = AnswerMessageBox();
        Press(dialog, IDCANCEL);
        WaitGone(dialog);
    });
    EXPECT_FALSE(accepted);
    EXPECT_EQ(Utf8(L"'http://printer.example/\u4e2d' no es un nombre de impresora IPP "
                   L"v\u00e1lido."),
              Utf8(seen.text));
}

// F1 in the dialog: the help message goes to the dialog, naming the control that had the key.
UINT g_helpSeen = 0;
WPARAM g_helpWParam = 0;
HWND g_helpTarget = nullptr;
LONG g_f1ReachedField = 0;
WNDPROC g_fieldProc = nullptr;

LRESULT CALLBACK WatchMessages(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE &&
        message->message == RegisterWindowMessageW(L"Print Manager Help Message")) {
        ++g_helpSeen;
        g_helpWParam = message->wParam;
        g_helpTarget = message->hwnd;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Stands in front of the field's own procedure and counts the F1 keys that reach it.
LRESULT CALLBACK FieldProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == VK_F1) {
        InterlockedIncrement(&g_f1ReachedField);
    }
    return CallWindowProcW(g_fieldProc, window, message, wParam, lParam);
}

TEST_F(DialogTest, F1PostsThePrintManagerHelpMessageAndIsSwallowed) {
    g_helpSeen = 0;
    g_f1ReachedField = 0;
    HHOOK watch = SetWindowsHookExW(WH_GETMESSAGE, WatchMessages, nullptr, GetCurrentThreadId());
    PortContext port{};
    HWND dialogSeen = nullptr, field = nullptr;
    LONG otherKeysReachedField = 0;
    RunDialog(&port, [&] {
        HWND dialog = WaitForDialog(L"Nimbrel.");
        dialogSeen = dialog;
        field = GetDlgItem(dialog, URI_FIELD);
        g_fieldProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FieldProc)));
        PressKey(dialog, URI_FIELD, VK_F1);
        DWORD start = GetTickCount();
        while (g_helpSeen == 0 && GetTickCount() - start < 5000) {
            Sleep(20);
        }
        // Any other key still reaches the field (F2 here): only F1 is taken.
        PressKey(dialog, URI_FIELD, VK_F2);
        Sleep(200);
        SendMessageW(field, WM_NULL, 0, 0);
        otherKeysReachedField = g_f1ReachedField;
        SetWindowLongPtrW(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_fieldProc));
        Press(dialog, IDCANCEL);
        WaitGone(dialog);
    });
    UnhookWindowsHookEx(watch);
    EXPECT_EQ(1u, g_helpSeen);
    EXPECT_EQ(dialogSeen, g_helpTarget);
    EXPECT_EQ(reinterpret_cast<WPARAM>(field), g_helpWParam);
    EXPECT_EQ(0, otherKeysReachedField);
    EXPECT_NE(0u, g_helpMessageId);
    // The hook is gone with the dialog.
    EXPECT_EQ(nullptr, g_helpHook);
    MSG key{};
    key.message = WM_KEYDOWN;
    key.wParam = VK_F1;
    EXPECT_FALSE(CallMsgFilterW(&key, MSGF_DIALOGBOX));
}

TEST(HelpHook, TopLevelWindowOfAControlIsItsDialog) {
    HWND top = CreateWindowExW(0, L"STATIC", L"top", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               nullptr, nullptr);
    HWND child =
        CreateWindowExW(0, L"STATIC", L"c", WS_CHILD, 0, 0, 5, 5, top, nullptr, nullptr, nullptr);
    HWND grandchild =
        CreateWindowExW(0, L"STATIC", L"g", WS_CHILD, 0, 0, 2, 2, child, nullptr, nullptr, nullptr);
    EXPECT_EQ(top, FindTopLevelWindow(grandchild));
    EXPECT_EQ(top, FindTopLevelWindow(child));
    EXPECT_EQ(top, FindTopLevelWindow(top));
    EXPECT_EQ(nullptr, FindTopLevelWindow(nullptr));
    DestroyWindow(top);
}
#endif

// --- The message routine ------------------------------------------------------------------------

#ifdef NIMBREL_9X
const UINT CAPTION_ID = 506, BAD_URI_ID = 501, MODEL_ID = 515, MISSING_ID = 503;
#else
const UINT CAPTION_ID = 300, BAD_URI_ID = 301, MODEL_ID = 312, MISSING_ID = 303;
#endif

TEST(MessageRoutine, ShowsTheFormattedTextUnderTheCaption) {
    MessageSeen seen;
    int result = 0;
    std::string trouble = RunSession(
        [&] {
            result = ShowResourceMessage(nullptr, MB_ICONERROR, CAPTION_ID, MODEL_ID,
                                         TEXT("ipp://lp1/x"), TEXT("Example Printer"));
        },
        [&] { seen = AnswerMessageBox(); });
    EXPECT_EQ("", trouble);
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ(L"Nimbrel", seen.caption);
    std::wstring text =
        L"La impresora conectada al puerto ipp://lp1/x devuelve lo siguiente .\n\nModelo: "
        L"Example Printer";
#ifdef NIMBREL_9X
    text += L"\n";
#endif
    EXPECT_EQ(Utf8(text), Utf8(seen.text));
}

TEST(MessageRoutine, ATextOrCaptionThatIsNotThereShowsNothing) {
    bool shown = true;
    int missingText = -1, missingCaption = -1;
    std::string trouble = RunSession(
        [&] {
            missingText =
                ShowResourceMessage(nullptr, MB_ICONERROR, CAPTION_ID, MISSING_ID, TEXT("x"));
            missingCaption =
                ShowResourceMessage(nullptr, MB_ICONERROR, MISSING_ID, BAD_URI_ID, TEXT("x"));
        },
        [&] {
            Sleep(500);
            shown = FindMessageBox() != nullptr;
        });
    EXPECT_EQ("", trouble);
    EXPECT_EQ(0, missingText);
    EXPECT_EQ(0, missingCaption);
    EXPECT_FALSE(shown);
}

TEST(MessageRoutine, AnArgumentIsNeverReadAsAFormat) {
    MessageSeen seen;
    std::string trouble = RunSession(
        [&] {
            ShowResourceMessage(nullptr, MB_ICONERROR, CAPTION_ID, BAD_URI_ID,
                                TEXT("http://h/%s%n%x"));
        },
        [&] { seen = AnswerMessageBox(); });
    EXPECT_EQ("", trouble);
    EXPECT_EQ(0u, seen.text.find(L"'http://h/%s%n%x' no es"));
}

#ifdef NIMBREL_9X
// What the box's own thread sees while its box is up: a timer of the test's, dispatched by the
// box's loop, looks at the thread-local watch and, when asked, runs the foreground timer.
struct WatchSnapshot {
    volatile LONG taken;
    MessageBoxWatch watch;
    bool watched;
    volatile LONG runForegroundTimer;
    volatile LONG foregroundTimerRan;
};
WatchSnapshot g_snapshot;

VOID CALLBACK LookAtTheWatch(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_snapshot.taken) {
        auto* watch = static_cast<MessageBoxWatch*>(TlsGetValue(g_messageBoxTlsSlot));
        g_snapshot.watched = watch != nullptr;
        if (watch != nullptr) {
            g_snapshot.watch = *watch;
        }
        InterlockedExchange(&g_snapshot.taken, 1);
    }
    if (g_snapshot.runForegroundTimer && !g_snapshot.foregroundTimerRan) {
        MessageBoxForegroundTimer(nullptr, WM_TIMER, 0, 0);
        InterlockedExchange(&g_snapshot.foregroundTimerRan, 1);
    }
}

void WaitForFlag(volatile LONG* flag) {
    DWORD start = GetTickCount();
    while (!*flag) {
        if (GetTickCount() - start > kPatienceMs) {
            throw Trouble("the box's thread did not answer");
        }
        Sleep(20);
    }
}

TEST(MessageRoutine, TheBoxIsBroughtToTheFrontWhileUpAndForgottenAfterwards) {
    g_snapshot = WatchSnapshot{};
    HWND box = nullptr, frontBefore = nullptr, frontAfter = nullptr, other = nullptr;
    std::string trouble = RunSession(
        [&] {
            UINT_PTR look = SetTimer(nullptr, 0, 50, LookAtTheWatch);
            ShowResourceMessage(nullptr, MB_ICONERROR, CAPTION_ID, BAD_URI_ID, TEXT("x"));
            KillTimer(nullptr, look);
        },
        [&] {
            box = WaitForMessageBox();
            WaitForFlag(&g_snapshot.taken);
            // Another window comes in front of the box; the foreground timer puts the box back.
            other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                    nullptr, nullptr, nullptr, nullptr);
            SetForegroundWindow(other);
            frontBefore = GetForegroundWindow();
            InterlockedExchange(&g_snapshot.runForegroundTimer, 1);
            WaitForFlag(&g_snapshot.foregroundTimerRan);
            frontAfter = GetForegroundWindow();
            DestroyWindow(other);
            DismissMessageBox(box);
        });
    EXPECT_EQ("", trouble);
    ASSERT_TRUE(g_snapshot.watched);
    EXPECT_EQ(box, g_snapshot.watch.box);
    EXPECT_EQ(nullptr, g_snapshot.watch.hook); // removed once the box was there
    EXPECT_NE(0u, g_snapshot.watch.timerId);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), g_snapshot.watch.flags);
    EXPECT_EQ(other, frontBefore);
    EXPECT_EQ(box, frontAfter);
    EXPECT_EQ(nullptr, TlsGetValue(g_messageBoxTlsSlot));
}

TEST(MessageRoutine, ASystemModalBoxIsNotWatched) {
    g_snapshot = WatchSnapshot{};
    std::string trouble = RunSession(
        [&] {
            UINT_PTR look = SetTimer(nullptr, 0, 50, LookAtTheWatch);
            ShowResourceMessage(nullptr, MB_ICONERROR | MB_SYSTEMMODAL, CAPTION_ID, BAD_URI_ID,
                                TEXT("x"));
            KillTimer(nullptr, look);
        },
        [&] {
            HWND box = WaitForMessageBox();
            WaitForFlag(&g_snapshot.taken);
            DismissMessageBox(box);
        });
    EXPECT_EQ("", trouble);
    EXPECT_FALSE(g_snapshot.watched);
}
#endif

// --- AddPort without a reachable printer, in virtual time ----------------------------------------

// A loopback port nobody listens on: every connection attempt is refused.
int RefusingPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(s);
    return ntohs(address.sin_port);
}

// The connecting box as seen at every pause of the connection attempts.
const ClockOps* g_virtual = nullptr;
int g_pausesWithBox = 0;
int g_pausesWithHelpHook = 0;
int g_pauses = 0;

void SleepLookingAtTheScreen(DWORD ms) {
    ++g_pauses;
    if (FindConnectingBox() != nullptr) {
        ++g_pausesWithBox;
    }
#ifndef NIMBREL_9X
    if (g_helpHook != nullptr) {
        ++g_pausesWithHelpHook; // the box's own help hook
    }
#endif
    g_virtual->sleepMs(ms);
}

TEST_F(DialogTest, AddPortWithAnUnreachablePrinterShowsWhyAndStoresNothing) {
    VirtualClockScope clock;
    // The virtual clock, with a look at the screen at every pause.
    g_virtual = ClockInstall(nullptr);
    ClockOps watching = *g_virtual;
    watching.sleepMs = SleepLookingAtTheScreen;
    ClockInstall(&watching);
    g_pauses = g_pausesWithBox = g_pausesWithHelpHook = 0;

    std::wstring uri = L"http://127.0.0.1:" + std::to_wstring(RefusingPort()) + L"/ipp/print";
    BOOL result = TRUE;
    DWORD error = 0;
    MessageSeen seen;
    std::string trouble = RunSession(
        [&] {
            SetLastError(0xdeadbeef);
            result = AddPort(nullptr, nullptr, nullptr);
            error = GetLastError();
        },
        [&] {
            HWND dialog = WaitForDialog(L"Nimbrel.");
            Type(dialog, URI_FIELD, uri);
            Click(dialog, QUERY_ON_ADD);
            Press(dialog, IDOK);
            seen = AnswerMessageBox();
        });
    ClockInstall(g_virtual);
    EXPECT_EQ("", trouble);
    EXPECT_FALSE(result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NETWORK_UNREACHABLE), error);
    std::wstring expected =
        L"No se puede conectar con el servidor " + uri + L". Comprobar la direci\u00f3n.";
#ifdef NIMBREL_9X
    expected += L"\n";
#endif
    EXPECT_EQ(Utf8(expected), Utf8(seen.text));
    EXPECT_EQ(L"Nimbrel", seen.caption);
    // Nineteen refused attempts, ten seconds apart, with the box on screen all along.
    EXPECT_EQ(std::vector<DWORD>(18, 10000), virtual_clock::Sleeps());
    EXPECT_EQ(18, g_pauses);
    EXPECT_EQ(18, g_pausesWithBox);
    EXPECT_EQ(nullptr, FindConnectingBox());
#ifdef NIMBREL_9X
    EXPECT_EQ(0, g_pausesWithHelpHook); // no help hook in the Windows 95/98 build
#else
    EXPECT_EQ(18, g_pausesWithHelpHook);
    EXPECT_EQ(nullptr, g_helpHook);
#endif
    EXPECT_TRUE(port_registry::Names().empty());
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The monitor's resources are linked into this program.
    g_monitorInstance = GetModuleHandleW(nullptr);
    MonitorGlobalsInit(g_monitorInstance);
#ifdef NIMBREL_9X
    g_messageBoxTlsSlot = TlsAlloc();
#endif
    WSADATA data;
    WSAStartup(MAKEWORD(2, 0), &data);
    int result = RUN_ALL_TESTS();
    WSACleanup();
    return result;
}
