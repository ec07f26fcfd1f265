// What the package's custom actions share: the installer's properties, the
// data the immediate phase hands a deferred action, and the messages they
// give the installer's log and its user.
#pragma once

#include "platform/win32.h"
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace setup_n {

// A property of the installation; empty when unset.
std::wstring property(MSIHANDLE install, const wchar_t* name);

// The fields of a data text, separated by '|', which no Windows path holds.
std::vector<std::wstring> fields(const std::wstring& data);

// The text of format (printf's, %ls for a path) with its arguments.
std::wstring text_format(const wchar_t* format, ...);

// A line of the installer's log.
void log_line(MSIHANDLE install, const std::wstring& text);

// An error: a line of the log, and a message box for an interactive user.
void error_message(MSIHANDLE install, const std::wstring& text);

}  // namespace setup_n
