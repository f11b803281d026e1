// Names printed so that a planted one can neither forge a line nor drive
// the terminal.
#include <string>

#include <gtest/gtest.h>

#include "text/quote.h"

namespace ordil {
namespace {

TEST(QuotedName, ControlAndNonUtf8BytesTakeTheShellEscapeForm) {
  const struct {
    std::string name, printed;
  } cases[] = {
      {"share/1.ashx", "share/1.ashx"},             // as it is
      {"it's a name.ashx", "it's a name.ashx"},     // quotes only when needed
      {"日本語.ashx", "日本語.ashx"},               // UTF-8 is printable
      {"\xEF\xBF\xBD.ashx", "\xEF\xBF\xBD.ashx"},   // U+FFFD itself too
      {"a\nb", "'a'$'\\n''b'"},                     // as GNU ls prints it
      {"\nb", "''$'\\n''b'"},
      {"a\n", "'a'$'\\n'"},
      {"a\n\nb", "'a'$'\\n\\n''b'"},
      {"a\nordil: FAKE\x1B[31m.ashx", "'a'$'\\n''ordil: FAKE'$'\\033''[31m.ashx'"},
      {"t\r\x1B]0;title\x07", "'t'$'\\r\\033'']0;title'$'\\a'"},
      {"\xFF\xFE.ashx", "''$'\\377\\376''.ashx'"},  // not UTF-8
      {"\xC3", "''$'\\303'"},                       // a cut character
      {"x\x7F", "'x'$'\\177'"},
      {std::string("n\0ul", 4), "'n'$'\\000''ul'"},
      {"it's\t", "'it'\\''s'$'\\t'"},               // the apostrophe closes and reopens
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quotedName(c.name), c.printed) << c.printed;
    EXPECT_EQ(isPrintableName(c.name), c.name == c.printed) << c.printed;
  }
}

}  // namespace
}  // namespace ordil
