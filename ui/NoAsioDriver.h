#pragma once

// Stands in the ASIO slot of the driver pair until the ASIO driver is
// built: it lists no devices and starts nothing.

#include "KsAudioBase.h"

class NoAsioDriver : public KsAudioBase {
public:
    bool start(AudioDeviceSettings*, AudioDeviceSettings*, AudioCallback, void*) override {
        return false;
    }
    void stop() override {}
    bool matchFormats(AudioDeviceSettings*, AudioDeviceSettings*) override { return false; }
    bool open(AudioDeviceSettings*, bool) override { return false; }
};
