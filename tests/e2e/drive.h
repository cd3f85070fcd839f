#pragma once

// Plays the user of another Win32 process: finds its windows by title, reads
// and sets its controls, presses its buttons. Every wait has a timeout.

#include <windows.h>

#include <source_location>
#include <string>

using where = std::source_location;

// Records a failed expectation of the running scenario at the checking line.
void fail(where w, const char *fmt, ...) __attribute__((format(gnu_printf, 2, 3)));
#define EXPECT(cond, ...) ((cond) ? (void)0 : fail(where::current(), __VA_ARGS__))
extern int failures;

// Starts `exe` in `folder` without standard handles, as a GUI program starts.
bool run_start(PROCESS_INFORMATION *pi, const char *exe, const char *folder);
// True with the exit code once the process has ended within `ms`.
bool run_wait_exit(const PROCESS_INFORMATION &pi, int ms, DWORD *code);
// Ends the process if it still runs (a failed scenario) and releases it.
void run_finish(PROCESS_INFORMATION *pi);

// A visible top-level window of `pid` with exactly this title; null on timeout.
HWND wait_window(DWORD pid, const char *title, int ms);
bool wait_gone(HWND w, int ms);
// The titles of the visible windows of `pid`, to say what it shows instead.
std::string shown_titles(DWORD pid);

// A message that a busy target cannot hang; -1 when it times out.
LRESULT send(HWND w, UINT msg, WPARAM wp, LPARAM lp);
std::string text_of(HWND w);
void press(HWND dlg, int id);

// One request to the e2e script, served outside Wine: "keys KEY",
// "keys type TEXT", "shot NAME X Y W H", "immutable FILE on|off".
bool host(const std::string &line);
