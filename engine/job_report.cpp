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

const char* SpanOnDiskCode(SpanOnDisk state) {
    switch (state) {
    case SPAN_AS_BEFORE: return "as_before";
    case SPAN_PATCHED: return "patched";
    case SPAN_PARTLY: return "partly";
    case SPAN_UNREADABLE: return "unreadable";
    case SPAN_NOT_READ: break;
    }
    return "";
}

const char* GameOnDiskCode(GameOnDisk state) {
    switch (state) {
    case GAME_AS_IT_WAS: return "as_it_was";
    case GAME_FULLY_PATCHED: return "patched";
    case GAME_PARTLY_PATCHED: return "partly";
    case GAME_NOT_READ_BACK: return "unreadable";
    case GAME_ON_DISK_NOT_READ: break;
    }
    return "";
}
