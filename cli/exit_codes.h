#pragma once
// The console patcher's exit codes, which scripts rely on; --help and the README list them.

enum ExitCode {
    EXIT_DONE = 0,           // done, and every rule that was asked for found its pattern or was already patched
    EXIT_RULE_NOT_FOUND = 1, // done, but a rule that was asked for found nothing
    EXIT_USAGE = 2,          // usage error or refused value; nothing touched
    EXIT_NO_TARGET = 3,      // no target, with the reasons
    EXIT_FAILED = 4,         // nothing changed, a refused restore, or a failed write-back
    EXIT_REPORT_LOST = 5,    // done, but the report could not be written
};
