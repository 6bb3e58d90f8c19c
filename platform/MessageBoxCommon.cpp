#include "MessageBox.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<MessageSink> gSink{nullptr};
std::atomic<void*> gSinkUser{nullptr};
} // namespace

void showSystemMessage(const std::string& text, const std::string& caption);

void showMessage(const std::string& text, const std::string& caption) {
    if (MessageSink sink = gSink.load()) {
        sink(text, caption, gSinkUser.load());
        return;
    }
    showSystemMessage(text, caption);
}

// The old sink is withdrawn before its user changes, the new one published
// after its user.
void setMessageSink(MessageSink sink, void* user) {
    gSink.store(nullptr);
    gSinkUser.store(user);
    gSink.store(sink);
}

} // namespace platform
