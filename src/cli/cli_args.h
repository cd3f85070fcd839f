#pragma once

#include "patch/patch_request.h"

// What the command line asks for. Values are taken as typed; their ranges
// and combinations are checked by the core (patch_request_check).
enum cli_command : int { CLI_NONE, CLI_HELP, CLI_VERSION, CLI_SCAN, CLI_APPLY, CLI_RESTORE };

struct cli_args {
    cli_command command;
    const char *file;
    int json;              // one JSON object instead of the text
    int verbose;           // the scan's notes on standard error
    patch_request request; // apply; restore takes only its dry_run
    const char *from;      // restore: the backup, or null for FILE.bak
    char error[160];       // set when the arguments cannot be understood
};

// 0, or -1 with `error` saying what is wrong.
int parse_cli_args(int argc, char **argv, cli_args *out);
