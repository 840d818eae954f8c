#include "job_report.h"

const char* RuleReasonText(RuleReason reason) {
    switch (reason) {
    case RULE_SWITCHED_OFF: return "switched off";
    case RULE_NO_VALUE: return "no value";
    case RULE_PATTERN_NOT_FOUND: return "pattern not found";
    case RULE_NOT_FOR_THIS_GAME: return "not for this game";
    case RULE_USED: break;
    }
    return "";
}
