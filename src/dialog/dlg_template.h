#pragma once

#include <cstdint>

#include "platform/win32.h"

// A standard dialog template written into one fixed, zero-filled global
// block, run from there by the system's dialog manager.
struct dlg_template {
    HGLOBAL block;
    uint8_t *header;
    uint8_t *item;    // the item the last adder began
    uint8_t *cursor;  // next byte to write
};

constexpr int DLG_BLOCK_SIZE = 2048;

// Null when memory is short.
dlg_template *dlg_begin(int x, int y, int cx, int cy, const char *title, uint32_t style);
void dlg_add_button(dlg_template *t, int x, int y, int cx, int cy, int id, const char *text);
void dlg_add_label(dlg_template *t, int x, int y, int cx, int cy, const char *text, uint32_t style);
void dlg_add_group(dlg_template *t, int x, int y, int cx, int cy, const char *text, uint32_t style);
void dlg_add_updown(dlg_template *t, int x, int y, int cx, int cy, int id, uint32_t style);
void dlg_add_edit(dlg_template *t, int x, int y, int cx, int cy, int id, const char *text, uint32_t style);
void dlg_add_check(dlg_template *t, int x, int y, int cx, int cy, int id, const char *text, uint32_t style);
// The value given to EndDialog, or -1 when the dialog cannot be created.
INT_PTR dlg_run(dlg_template *t, HINSTANCE inst, DLGPROC proc);
void dlg_free(dlg_template *t);
