// The message box: no owner window, no icon, one OK button. The text goes
// to the wide call in UTF-16, so it reads right whatever the system's code
// page; the narrow call would show it garbled outside the Japanese one.
#include <windows.h>

#include <string>

#include "platform/failure_message.h"
#include "text/utf8.h"

namespace ordil::platform {

void presentFailureMessage(std::string_view caption, std::string_view utf8Text) {
  const std::u16string text = utf8ToUtf16(utf8Text);
  const std::u16string title = utf8ToUtf16(caption);
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()),
              reinterpret_cast<const wchar_t*>(title.c_str()), MB_OK);
}

}  // namespace ordil::platform
