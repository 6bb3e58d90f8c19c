#include "MidiDeviceList.h"

namespace {

// A count this large cannot be walked up to and including the mapper.
constexpr uint32_t kLargestOutputCount = 0x7FFFFFFE;

std::unique_ptr<MidiDeviceSettings> makeRecord(uint32_t id, std::string name, bool isInput) {
    auto record = std::make_unique<MidiDeviceSettings>();
    record->deviceIndex = static_cast<int32_t>(id);
    record->name = std::move(name);
    record->isInput = isInput;
    record->active = isInput;
    return record;
}

} // namespace

std::vector<std::unique_ptr<MidiDeviceSettings>>
buildMidiDeviceList(const MidiDeviceCatalog& catalog) {
    std::vector<std::unique_ptr<MidiDeviceSettings>> devices;
    const uint32_t inputs = catalog.inputCount();
    for (uint32_t id = 0; id < inputs; ++id) {
        if (std::optional<std::string> name = catalog.inputName(id))
            devices.push_back(makeRecord(id, std::move(*name), true));
    }
    const uint32_t outputs = catalog.outputCount();
    if (outputs > kLargestOutputCount)
        return devices;
    for (uint32_t i = 0; i <= outputs; ++i) {
        const uint32_t id = i == outputs ? kMidiMapperId : i;
        if (std::optional<std::string> name = catalog.outputName(id))
            devices.push_back(makeRecord(id, std::move(*name), false));
    }
    return devices;
}
