#pragma once

#include "platform/win32.h"

// Every message box the program shows. None has an owner window, and every
// type carries the bit 0x800 in the default-button field, which names no
// button.
enum message_id : int {
    MSG_WELCOME,
    MSG_OPEN_ERROR,
    MSG_RETRY,        // text is a format for the path
    MSG_WRITE_ERROR,
    MSG_WC06_KEPT,    // text comes from the plan's outcome
    MSG_SYSTEM_DLL,
    MSG_OUT_OF_RANGE, // text names the field and its range
    MSG_DONE,         // text says what OK did
    MSG_COUNT
};

struct message_box {
    const char *text;
    const char *caption;
    UINT type;
};

const message_box &message_of(message_id id);

// Room for a path of MAX_PATH characters in UTF-8, the active code page where
// the manifest takes effect: up to four bytes each.
constexpr int PATH_TEXT_SIZE = 4 * MAX_PATH;

// Shows the box of `id` with its own text, a blank line and "PATH: WHY"
// when `why` is not null.
int show_message_about(message_id id, const char *path, const char *why);

// Shows the box with its own text, or with `text` when that is not null.
int show_message(message_id id, const char *text = nullptr);
