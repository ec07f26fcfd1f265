// Stand-in for the event log's writing side (advapi32): each reported event
// becomes one JSON line of the file named by SHV_EVENT_LOG, as the debugger
// output stream goes to SHV_DEBUG_OUTPUT; unset, events are dropped. Left out
// on purpose: reading the log back, remote machines, categories, user ids and
// raw data (accepted and ignored), and the message files: the line carries the
// insertion strings, not the formatted message.
#pragma once

#include "platform/linux/win32_types.h"

typedef void* PSID;

#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004

// A handle naming source on the local machine (server must be null); null
// with ERROR_INVALID_PARAMETER for a null or empty source or a server.
HANDLE RegisterEventSourceW(LPCWSTR server, LPCWSTR source);
// Appends {"source":...,"type":"error"|"warning"|"information"|"success",
// "id":N,"strings":[...]} and a line feed with one write; FALSE with
// ERROR_INVALID_HANDLE for a handle RegisterEventSourceW did not give.
BOOL ReportEventW(HANDLE log, WORD type, WORD category, DWORD event_id, PSID user, WORD string_count,
                  DWORD data_size, LPCWSTR* strings, LPVOID data);
BOOL DeregisterEventSource(HANDLE log);

// For tests only: while held, every ReportEventW waits (a service that
// stalls); releasing lets the waiting ones write. The count is of the calls
// waiting now.
void shv_test_hold_event_log(bool hold);
unsigned shv_test_event_log_waiters();
