// debuglog: the program's diagnostic log sink.
//
// DebugLog(first, source, where, text) writes one line: local time to the
// millisecond, source, where-name and text (GBK, written as UTF-8). A null
// pointer counts as an empty text. Lines go to "tarvo.log" in
// $XDG_STATE_HOME/tarvo/ (default ~/.local/state/tarvo/), or to the file that
// TARVO_LOG_FILE names; the file rotates by size. The call never throws and
// drops the line when the file cannot be written.
#pragma once

#define DEBUGLOG_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

DEBUGLOG_API void DebugLog(int first, const char* source, const char* where, const char* text);

#ifdef __cplusplus
}
#endif
