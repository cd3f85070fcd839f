#pragma once

// Test side of the host stand-in: scripts the user's answers, sets the screen,
// makes memory run short, and shows what the program asked of the system.

#include <cstddef>

#include "platform/win32.h"

constexpr int HOST_TEXT_MAX = 260;
constexpr int HOST_MAX_ITEMS = 64;
constexpr int HOST_MAX_SCRIPT = 32;
constexpr int HOST_MAX_LOG = 512;

enum host_window_kind : int {
    HOST_WND_FREE,
    HOST_WND_DIALOG,
    HOST_WND_BUTTON,
    HOST_WND_EDIT,
    HOST_WND_STATIC,
    HOST_WND_UPDOWN,
};

// A window of the stand-in: a dialog, or one of its controls.
struct HWND__ {
    host_window_kind kind;
    HWND parent;
    char class_name[64];
    DWORD style;
    WORD id;
    char text[HOST_TEXT_MAX];
    RECT rect;
    int moves;             // MoveWindow calls
    BOOL repaint;          // the last one's repaint flag
    WPARAM check;          // check boxes
    int ud_min;            // up-downs, as comctl32 keeps them
    int ud_max;
    int ud_pos;
    HWND buddy;
    DLGPROC proc;          // dialogs
    int ended;
    INT_PTR result;
};

// One template item as the system's dialog manager reads it.
struct host_tmpl_item {
    size_t offset;          // from the template's start
    DWORD style;
    DWORD ex_style;
    short x, y, cx, cy;
    WORD id;
    int class_atom;         // -1 for a class given by name
    char class_name[64];    // the name, or the predefined class's name
    char title[64];
    WORD data_size;         // creation-data size word
    size_t end;             // just past the item's last word
};

struct host_tmpl {
    DWORD style;
    DWORD ex_style;
    WORD count;
    short x, y, cx, cy;
    WORD menu;
    WORD window_class;
    char title[64];
    WORD point_size;
    char face[64];
    size_t header_end;      // just past the typeface
    int items_read;
    host_tmpl_item items[HOST_MAX_ITEMS];
};

// Reads a standard dialog template the way Wine's dialog manager does.
// -1 when it runs past `limit` bytes or holds more items than fit.
int host_decode_template(const void *tmpl, size_t limit, host_tmpl *out);

// What the user does in the open-file dialog, one attempt each.
struct host_file_attempt {
    BOOL result;            // returned as is
    const char *path;       // copied into the file buffer when not null
    DWORD filter_index;     // 0: left as it was
};

struct host_file_call {
    DWORD struct_size;
    HWND owner;
    HINSTANCE instance;
    char filter[128];
    int filter_len;          // bytes up to and including the list's final NUL
    LPSTR custom_filter;
    DWORD max_cust_filter;
    DWORD filter_index;
    LPSTR file;
    DWORD max_file;
    char file_at_entry[MAX_PATH];
    LPSTR file_title;
    DWORD max_file_title;
    LPCSTR initial_dir;
    char title[128];
    DWORD flags;
    LPCSTR def_ext;
    LPARAM cust_data;
    int hooked;
    LPCSTR template_name;
    UINT_PTR hook_result;
    RECT window_before;
    RECT window_after;
    int moves;
    BOOL repaint;
};

struct host_box_call {
    HWND owner;
    char text[512];
    char caption[64];
    UINT type;
};

enum host_action_kind : int {
    HOST_TYPE,      // replace an edit's text, as typed (ES_NUMBER drops non-digits)
    HOST_CLICK,     // click a button or check box
    HOST_CLOSE,     // the title bar's close box
    HOST_ESCAPE,    // the Escape key
    HOST_ENTER,     // the Enter key
    HOST_COMMAND,   // a raw WM_COMMAND with `wparam`
    HOST_CALL,      // something outside the dialog happens: `call(context)`
};

struct host_action {
    host_action_kind kind;
    int id;
    const char *text;
    WPARAM wparam;
    void (*call)(void *context);
    void *context;
};

// A control message that the program sent.
struct host_sent {
    WORD id;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    LRESULT result;
};

struct host_state {
    int screen_cx, screen_cy;
    int chooser_cx, chooser_cy;
    DWORD last_error;

    int box_answers[HOST_MAX_SCRIPT];
    int box_answer_count;
    host_box_call boxes[HOST_MAX_SCRIPT];
    int box_count;

    host_file_attempt file_attempts[HOST_MAX_SCRIPT];
    int file_attempt_count;
    host_file_call file_calls[HOST_MAX_SCRIPT];
    int file_call_count;

    int global_fail_next;          // the next GlobalAlloc returns null
    int global_live;               // blocks allocated and not yet freed
    int updown_registered;
    int icc_calls;
    int wide_calls;

    host_action actions[HOST_MAX_SCRIPT];
    int action_count;
    DWORD dialog_fail_error;       // when not 0, dialogs cannot be created
    int dialog_calls;
    HINSTANCE dialog_instance;
    HWND dialog_owner;
    LPARAM dialog_init;
    INT_PTR init_result;
    int script_ran_out;            // the dialog had no action left before EndDialog
    int refused_actions;           // aimed at a missing or disabled control
    host_tmpl tmpl;                // the last template run
    HWND dialog;                   // the last dialog; kept after it ends

    host_sent sent[HOST_MAX_LOG];
    int sent_count;
};

extern host_state host;

// Back to a fresh system: 1024 x 768 screen, a 300 x 200 file dialog, no
// scripts, no windows, up-down class not registered.
void host_reset();
void host_script_boxes(const int *answers, int count);
void host_script_files(const host_file_attempt *attempts, int count);
void host_script_dialog(const host_action *actions, int count);
// A control of the last dialog run (alive or ended), or null.
HWND host_control(int id);
