#pragma once

#include <QString>
#include <QStringView>

// Text that came from a peer (a class name, a reason, a server's answer),
// made safe for one line of a log or a terminal: nothing in it can start a
// new line or drive the terminal.
//
// Escaped: C0 controls and DEL (\n, \r, \t, else \xHH), C1 controls
// (\u0080 to \u009f), the line and paragraph separators (\u2028, \u2029),
// the bidirectional overrides and isolates (\u202a to \u202e, \u2066 to
// \u2069), which reorder what is shown, and unpaired surrogates.
namespace automation {

// The text with those characters escaped, and nothing else changed. For a
// line put together from pieces that may already be quoted.
QString printable(QStringView text);

// The text in double quotes, with those characters escaped and a backslash
// or double quote in it escaped too, so that it reads back unambiguously.
QString quoted(QStringView text);

}  // namespace automation
