#pragma once

// Plays the user of another Win32 process through the real window manager:
// finds its windows by title, reads and sets its controls, presses buttons.
// Every wait has a timeout.

#include <windows.h>

#include <string>

// ---- outcome of the current scenario ----

// Records a failed expectation of the running scenario, with the line of
// the test that made it.
void fail_at(int line, const char *fmt, ...) __attribute__((format(gnu_printf, 2, 3)));
#define EXPECT(cond, ...)                                   \
    do {                                                    \
        if (!(cond))                                        \
            fail_at(__LINE__, __VA_ARGS__);                 \
    } while (0)
// Failures recorded since the scenario began.
int failure_count();
void reset_failures();

// ---- the patcher process ----

struct patcher_run {
    PROCESS_INFORMATION pi;
    bool started;
};

// Starts `exe` with the given current folder; false when it cannot start.
bool run_start(patcher_run *r, const char *exe, const char *folder);
// Waits for the process to end. True with its exit code, false on timeout.
bool run_wait_exit(patcher_run *r, int timeout_ms, DWORD *code);
// Ends a process that is still running (a failed scenario) and releases it.
void run_finish(patcher_run *r);

// ---- windows ----

// A visible top-level window of `pid` with exactly this title, waited for;
// null on timeout.
HWND wait_window(DWORD pid, const char *title, int timeout_ms);
// Waits until `w` is gone or hidden; false on timeout.
bool wait_window_gone(HWND w, int timeout_ms);
// Titles of the visible top-level windows of `pid` other than `except`,
// joined by " | "; empty when there are none.
std::string other_windows(DWORD pid, HWND except);

std::string window_text(HWND w);
std::string class_name(HWND w);
LONG window_style(HWND w);

// A message box's text (its static with id 0xFFFF), and whether it carries
// the button of a given result id.
std::string message_text(HWND box);
bool has_button(HWND box, int id);

// ---- acting ----

// Sets a control's text as a user typing it would leave it.
bool set_text(HWND control, const char *text);
// Clicks a check box (the button's own click handling runs).
bool click_check(HWND check);
// Presses a push button or a message box button by its id.
void press(HWND dialog, int id);
// The title bar's close box.
void close_box(HWND dialog);

LRESULT send(HWND w, UINT msg, WPARAM wp, LPARAM lp);

// ---- requests to the script outside Wine ----

// Sends one line (e.g. "shot NAME" or "immutable FILE on") to the e2e
// script, which serves it from outside Wine. 0 when done, -1 when the
// script refused, -2 when nobody answered. `reply` receives its answer.
int host_request(const char *line, std::string *reply);
void set_host_enabled(bool on);
// Takes a screenshot of the screen cropped to `w` (whole screen when null).
void screenshot(const char *name, HWND w);

void pause_ms(int ms);
