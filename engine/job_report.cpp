#include "job_report.h"

const char* RuleReasonText(RuleReason reason) {
    switch (reason) {
    case RULE_SWITCHED_OFF: return "switched off";
    case RULE_NO_VALUE: return "no value";
    case RULE_PATTERN_NOT_FOUND: return "pattern not found";
    case RULE_NOT_FOR_THIS_GAME: return "not for this game";
    case RULE_ALREADY_PATCHED: return "already patched";
    case RULE_USED: break;
    }
    return "";
}

const char* RuleReasonCode(RuleReason reason) {
    switch (reason) {
    case RULE_SWITCHED_OFF: return "switched_off";
    case RULE_NO_VALUE: return "no_value";
    case RULE_PATTERN_NOT_FOUND: return "not_found";
    case RULE_NOT_FOR_THIS_GAME: return "not_for_this_game";
    case RULE_ALREADY_PATCHED: return "already_patched";
    case RULE_USED: break;
    }
    return "";
}
