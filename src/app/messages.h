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
    MSG_WC06_KEPT,    // text comes from the patch writer
    MSG_COUNT
};

struct message_box {
    const char *text;
    const char *caption;
    UINT type;
};

extern const message_box messages[MSG_COUNT];

// Shows the box with its own text, or with `text` when that is not null.
int show_message(message_id id, const char *text = nullptr);
