// Presenting the message for a cache file that cannot be decoded.
#ifndef ORDIL_PLATFORM_FAILURE_MESSAGE_H_
#define ORDIL_PLATFORM_FAILURE_MESSAGE_H_

#include <string_view>

namespace ordil::platform {

// Shows utf8Text to the user under caption and returns once the user has
// acknowledged it where the platform lets them: a modal message box with
// one OK button on Windows; "caption: text" and a line end on standard
// error elsewhere.
void presentFailureMessage(std::string_view caption, std::string_view utf8Text);

// Whether presentFailureMessage writes to standard error (else a window).
#ifdef _WIN32
inline constexpr bool kFailureMessageOnStderr = false;
#else
inline constexpr bool kFailureMessageOnStderr = true;
#endif

}  // namespace ordil::platform

#endif  // ORDIL_PLATFORM_FAILURE_MESSAGE_H_
