#pragma once

// Modal messages to the user: a box with an OK button and no owner window on
// Windows, a line on standard error elsewhere. Tests can capture them.

#include <string>

namespace platform {

void showMessage(const std::string& text, const std::string& caption);

// While set, messages go to the sink instead of the user.
using MessageSink = void (*)(const std::string& text, const std::string& caption, void* user);
void setMessageSink(MessageSink sink, void* user);

} // namespace platform
