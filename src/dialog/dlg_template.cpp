#include "dialog/dlg_template.h"

#include <cstddef>
#include <cstdlib>
#include <iterator>

namespace {

constexpr uint32_t DLG_HEADER_STYLE = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_SYSMENU | WS_CAPTION;
constexpr int DLG_FIXED_BYTES = 18;  // header and item fields before the variable part
constexpr int WIDE_CAPACITY = 50;    // UTF-16 units per string, terminator included
constexpr WORD DLG_FONT_POINTS = 10;
constexpr const char *DLG_FONT = "MS Shell Dlg";
constexpr WORD NO_ID = 0xFFFF;

enum dlg_kind : int { KIND_BUTTON, KIND_LABEL, KIND_GROUP, KIND_UPDOWN, KIND_EDIT, KIND_CHECK, KIND_COUNT };

// What each kind of control fixes for itself.
struct dlg_kind_entry {
    uint32_t style;
    WORD atom;           // predefined class, or 0 when named
    const char *class_name;
    bool has_text;
    bool has_data;       // the check box's creation data
};

const dlg_kind_entry kinds[] = {
    /* button */ {WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0x0080, nullptr, true, false},
    /* label  */ {WS_CHILD | WS_VISIBLE | SS_LEFT, 0x0082, nullptr, true, false},
    /* group  */ {WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 0, "Button", true, false},
    /* updown */ {WS_CHILD | WS_VISIBLE | WS_BORDER | UDS_NOTHOUSANDS | UDS_AUTOBUDDY | UDS_SETBUDDYINT,
                  0, "msctls_updown32", false, false},
    /* edit   */ {WS_CHILD | WS_VISIBLE | WS_BORDER | ES_LEFT, 0, "edit", true, false},
    /* check  */ {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, "Button", true, true},
};
static_assert(std::size(kinds) == KIND_COUNT, "an entry for every dlg_kind");

void put16(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t *p, uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

uint8_t *align4(uint8_t *p)
{
    return reinterpret_cast<uint8_t *>((reinterpret_cast<uintptr_t>(p) + 3) & ~static_cast<uintptr_t>(3));
}

// Converts straight into the template; returns the address past the zero unit.
uint8_t *append_wide(uint8_t *dst, const char *text)
{
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<LPWSTR>(dst), WIDE_CAPACITY);
    if (units == 0) {
        // Too long to fit: an empty string keeps the template readable.
        put16(dst, 0);
        return dst + 2;
    }
    return dst + 2 * static_cast<std::ptrdiff_t>(units);
}

void add_item(dlg_template *t, dlg_kind kind, int x, int y, int cx, int cy, int id, const char *text,
              uint32_t style)
{
    const dlg_kind_entry &k = kinds[kind];
    put16(t->header + 8, (t->header[8] | (t->header[9] << 8)) + 1);
    t->item = align4(t->cursor);
    put16(t->item + 8, static_cast<uint32_t>(x));
    put16(t->item + 10, static_cast<uint32_t>(y));
    put16(t->item + 12, static_cast<uint32_t>(cx));
    put16(t->item + 14, static_cast<uint32_t>(cy));
    put16(t->item + 16, static_cast<uint32_t>(id));
    put32(t->item, k.style | style);
    t->cursor = t->item + DLG_FIXED_BYTES;
    if (k.atom != 0) {
        put16(t->cursor, 0xFFFF);
        put16(t->cursor + 2, k.atom);
        t->cursor += 4;
    } else {
        t->cursor = append_wide(t->cursor, k.class_name);
    }
    if (k.has_text) {
        t->cursor = append_wide(t->cursor, text);
    } else {
        put16(t->cursor, 0);
        t->cursor += 2;
    }
    if (k.has_data) {
        // The size counts the bytes after its own word: the data byte 0x01
        // and a zero byte. A size of 1 would make the system's parser skip
        // nothing and read every later item 4 bytes early.
        put16(t->cursor, 2);
        put16(t->cursor + 2, 0x0001);
        t->cursor += 4;
    } else {
        put16(t->cursor, 0);
        t->cursor += 2;
    }
}

} // namespace

dlg_template *dlg_begin(int x, int y, int cx, int cy, const char *title, uint32_t style)
{
    auto *t = static_cast<dlg_template *>(std::malloc(sizeof(dlg_template)));
    if (t == nullptr)
        return nullptr;
    t->block = GlobalAlloc(GPTR, DLG_BLOCK_SIZE);
    if (t->block == nullptr) {
        std::free(t);
        return nullptr;
    }
    t->header = static_cast<uint8_t *>(GlobalLock(t->block));
    t->item = nullptr;
    put32(t->header, DLG_HEADER_STYLE | style);
    put16(t->header + 8, 0);
    put16(t->header + 10, static_cast<uint32_t>(x));
    put16(t->header + 12, static_cast<uint32_t>(y));
    put16(t->header + 14, static_cast<uint32_t>(cx));
    put16(t->header + 16, static_cast<uint32_t>(cy));
    t->cursor = t->header + DLG_FIXED_BYTES;
    put16(t->cursor, 0);  // no menu
    put16(t->cursor + 2, 0);  // the system's dialog class
    t->cursor += 4;
    t->cursor = append_wide(t->cursor, title);
    put16(t->cursor, DLG_FONT_POINTS);
    t->cursor = append_wide(t->cursor + 2, DLG_FONT);
    return t;
}

void dlg_add_button(dlg_template *t, int x, int y, int cx, int cy, int id, const char *text)
{
    add_item(t, KIND_BUTTON, x, y, cx, cy, id, text, 0);
}

void dlg_add_label(dlg_template *t, int x, int y, int cx, int cy, const char *text, uint32_t style)
{
    add_item(t, KIND_LABEL, x, y, cx, cy, NO_ID, text, style);
}

void dlg_add_group(dlg_template *t, int x, int y, int cx, int cy, const char *text, uint32_t style)
{
    add_item(t, KIND_GROUP, x, y, cx, cy, NO_ID, text, style);
}

void dlg_add_updown(dlg_template *t, int x, int y, int cx, int cy, int id, uint32_t style)
{
    add_item(t, KIND_UPDOWN, x, y, cx, cy, id, nullptr, style);
}

void dlg_add_edit(dlg_template *t, int x, int y, int cx, int cy, int id, const char *text, uint32_t style)
{
    add_item(t, KIND_EDIT, x, y, cx, cy, id, text, style);
}

void dlg_add_check(dlg_template *t, int x, int y, int cx, int cy, int id, const char *text, uint32_t style)
{
    add_item(t, KIND_CHECK, x, y, cx, cy, id, text, style);
}

INT_PTR dlg_run(dlg_template *t, HINSTANCE inst, DLGPROC proc)
{
    GlobalUnlock(t->block);
    return DialogBoxIndirectParamA(inst, static_cast<LPCDLGTEMPLATEA>(t->block), nullptr, proc, 0);
}

void dlg_free(dlg_template *t)
{
    GlobalFree(t->block);
    std::free(t);
}
