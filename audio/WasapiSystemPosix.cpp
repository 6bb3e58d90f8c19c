// Systems without the Windows audio session API list no endpoints.

#include "WasapiSystem.h"

#include "Clock.h"

namespace wasapi {

namespace {

class NoAudioSessions : public System {
public:
    void initializeThread() override {}
    Result createEnumerator(std::unique_ptr<DeviceEnumerator>&) override { return kFail; }
    std::unique_ptr<StreamEvent> createEvent() override { return nullptr; }
    std::string toMultibyte(const std::wstring& text, size_t maxBytes) override {
        std::string narrow;
        for (wchar_t c : text) {
            if (narrow.size() == maxBytes)
                break;
            narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return narrow;
    }
    void sleepMs(uint32_t milliseconds) override { platform::sleepMs(milliseconds); }
};

} // namespace

std::unique_ptr<System> createSystem() {
    return std::make_unique<NoAudioSessions>();
}

} // namespace wasapi
