// Names made safe to print: a file name that another user chose may hold a
// line feed that forges a line of ours, or an escape sequence that drives
// the terminal.
#ifndef ORDIL_TEXT_QUOTE_H_
#define ORDIL_TEXT_QUOTE_H_

#include <string>
#include <string_view>

namespace ordil {

// Whether name can be printed as it is: well-formed UTF-8 with no control
// character (0x00-0x1F, 0x7F).
bool isPrintableName(std::string_view name);

// name as it is when isPrintableName(), otherwise in the shell-escape form
// of GNU ls (--quoting-style=shell-escape), which a POSIX shell reads back
// as the same bytes: single-quoted, an apostrophe as '\'', and each run of
// control or non-UTF-8 bytes as $'...' with \t \n \r and the like, other
// bytes as three octal digits: "a\nb" gives 'a'$'\n''b'.
std::string quotedName(std::string_view name);

}  // namespace ordil

#endif  // ORDIL_TEXT_QUOTE_H_
