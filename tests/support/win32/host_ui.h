#pragma once

// The test side of the Win32 stand-in: what the player will answer, and what
// the program showed and did.

#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

// A window of the stand-in: the dialog, the chooser, or a control by its id.
struct HWND__ {
    int pos, lo, hi;  // up-downs
    bool typed_wrong; // its buddy's text is no number in the range
    WPARAM check;     // check boxes
    HWND buddy;
};

enum host_step_kind : int { STEP_POS, STEP_CHECK, STEP_COMMAND, STEP_CLOSE };

// One thing the player does in the options dialog.
struct host_step {
    host_step_kind kind;
    int id, value;
};

struct host_box {
    std::string caption;
    UINT type;
    std::string text;
};

struct host_ui {
    // Scripted: each chooser attempt's file (null: cancelled), the answers to
    // message boxes (IDOK once they run out), the steps in the dialog.
    std::vector<const char *> files = {};
    std::vector<int> box_answers = {};
    std::vector<host_step> steps = {};
    void (*meddle)() = nullptr;  // another program, while the dialog is open
    bool alloc_fails = false, create_fails = false;
    const char *dll_missing = nullptr;  // the system DLL that cannot be loaded
    bool old_windows = false;           // no SetDefaultDllDirectories: XP, Vista, 7 without its update
    bool default_dirs_fail = false;     // there, but it fails
    std::string system_folder = "C:\\Windows\\system32";

    // Seen.
    std::vector<host_box> boxes = {};
    std::vector<OPENFILENAMEA> choosers = {};
    std::vector<RECT> moves = {};
    std::vector<std::string> dll_calls = {};  // "default FLAGS", "dll-directory 'PATH'", "load FLAGS PATH"
    HWND__ controls[17] = {};  // ids 100 to 116, as the dialog left them
    std::optional<INT_PTR> dialog_result = {};  // none while the dialog is open
    std::size_t next_file = 0, next_answer = 0;  // the chooser attempts and box answers used
};

// Assigning a script to it starts afresh.
extern host_ui host;
