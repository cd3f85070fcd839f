// Reads dialog templates as Wine's dialog manager does (user32 dialog.c):
// independent of the program's builder, so that it checks it.

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/host_internal.h"

namespace {

struct reader {
    const unsigned char *base;
    size_t limit;
    size_t pos;
    bool bad;
};

WORD word_at(reader &r, size_t pos)
{
    if (pos + 2 > r.limit) {
        r.bad = true;
        return 0;
    }
    return static_cast<WORD>(r.base[pos] | (r.base[pos + 1] << 8));
}

WORD next_word(reader &r)
{
    WORD w = word_at(r, r.pos);
    r.pos += 2;
    return w;
}

DWORD next_dword(reader &r)
{
    DWORD lo = next_word(r);
    DWORD hi = next_word(r);
    return lo | (hi << 16);
}

// A zero-ended UTF-16 string, narrowed for the tests' eyes.
void next_string(reader &r, char *out, size_t cap)
{
    size_t n = 0;
    for (;;) {
        WORD w = next_word(r);
        if (r.bad || w == 0)
            break;
        if (n + 1 < cap)
            out[n++] = w < 0x100 ? static_cast<char>(w) : '?';
    }
    out[n] = '\0';
}

// Alignment is of the absolute address, as the system does it.
void align_dword(reader &r)
{
    uintptr_t at = reinterpret_cast<uintptr_t>(r.base) + r.pos;
    r.pos += ((at + 3) & ~static_cast<uintptr_t>(3)) - at;
}

const char *const predefined_classes[6] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};

} // namespace

int host_decode_template(const void *tmpl, size_t limit, host_tmpl *out)
{
    std::memset(out, 0, sizeof *out);
    reader r{static_cast<const unsigned char *>(tmpl), limit, 0, false};

    out->style = next_dword(r);
    out->ex_style = next_dword(r);
    out->count = next_word(r);
    out->x = static_cast<short>(next_word(r));
    out->y = static_cast<short>(next_word(r));
    out->cx = static_cast<short>(next_word(r));
    out->cy = static_cast<short>(next_word(r));
    char scratch[64];
    out->menu = word_at(r, r.pos);
    if (out->menu == 0)
        r.pos += 2;
    else if (out->menu == 0xFFFF)
        r.pos += 4;
    else
        next_string(r, scratch, sizeof scratch);
    out->window_class = word_at(r, r.pos);
    if (out->window_class == 0)
        r.pos += 2;
    else if (out->window_class == 0xFFFF)
        r.pos += 4;
    else
        next_string(r, scratch, sizeof scratch);
    next_string(r, out->title, sizeof out->title);
    if (out->style & DS_SETFONT) {
        out->point_size = next_word(r);
        next_string(r, out->face, sizeof out->face);
    }
    out->header_end = r.pos;
    if (r.bad || out->count > HOST_MAX_ITEMS)
        return -1;

    for (int i = 0; i < out->count; ++i) {
        align_dword(r);
        host_tmpl_item &it = out->items[i];
        it.offset = r.pos;
        it.style = next_dword(r);
        it.ex_style = next_dword(r);
        it.x = static_cast<short>(next_word(r));
        it.y = static_cast<short>(next_word(r));
        it.cx = static_cast<short>(next_word(r));
        it.cy = static_cast<short>(next_word(r));
        it.id = next_word(r);
        if (word_at(r, r.pos) == 0xFFFF) {
            WORD atom = word_at(r, r.pos + 2);
            it.class_atom = atom;
            // The system takes 0..5 like 0x80..0x85; any other atom names no class.
            if (atom >= 0x80 && atom <= 0x85)
                atom = static_cast<WORD>(atom - 0x80);
            if (atom <= 5)
                std::snprintf(it.class_name, sizeof it.class_name, "%s", predefined_classes[atom]);
            r.pos += 4;
        } else {
            it.class_atom = -1;
            next_string(r, it.class_name, sizeof it.class_name);
        }
        if (word_at(r, r.pos) == 0xFFFF) {
            std::strcpy(it.title, "#");
            r.pos += 4;
        } else {
            next_string(r, it.title, sizeof it.title);
        }
        it.data_size = word_at(r, r.pos);
        // Wine skips size/2 words of data (rounding down) and then the size
        // word itself: the size counts the bytes after the word.
        r.pos += 2 * (it.data_size / 2) + 2;
        it.end = r.pos;
        if (r.bad)
            return -1;
        out->items_read = i + 1;
    }
    return 0;
}
