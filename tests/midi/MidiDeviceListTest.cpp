#include "MidiDeviceList.h"

#include <gtest/gtest.h>

#include <map>

namespace {

struct Catalog : MidiDeviceCatalog {
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    std::map<uint32_t, std::string> inputNames;  // ids missing here fail
    std::map<uint32_t, std::string> outputNames; // ids missing here fail
    mutable std::vector<uint32_t> outputQueries;

    uint32_t inputCount() const override { return inputs; }
    uint32_t outputCount() const override { return outputs; }
    std::optional<std::string> inputName(uint32_t id) const override {
        return find(inputNames, id);
    }
    std::optional<std::string> outputName(uint32_t id) const override {
        outputQueries.push_back(id);
        return find(outputNames, id);
    }
    static std::optional<std::string> find(const std::map<uint32_t, std::string>& names,
                                           uint32_t id) {
        const auto it = names.find(id);
        return it == names.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
};

struct Entry {
    int32_t deviceIndex;
    std::string name;
    bool isInput;
    bool active;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> entries(const Catalog& catalog) {
    std::vector<Entry> out;
    for (const auto& d : buildMidiDeviceList(catalog))
        out.push_back({d->deviceIndex, d->name, d->isInput, d->active});
    return out;
}

TEST(MidiDeviceList, InputsActiveThenOutputsInactiveThenTheMapper) {
    Catalog c;
    c.inputs = 2;
    c.outputs = 3;
    c.inputNames = {{0, "In A"}, {1, "In B"}};
    c.outputNames = {{0, "Out A"}, {1, "Out B"}, {2, "Out C"}, {kMidiMapperId, "Mapper"}};
    const std::vector<Entry> expected = {
        {0, "In A", true, true},    {1, "In B", true, true},    {0, "Out A", false, false},
        {1, "Out B", false, false}, {2, "Out C", false, false}, {-1, "Mapper", false, false},
    };
    EXPECT_EQ(entries(c), expected);
}

TEST(MidiDeviceList, DevicesWhoseCapabilitiesFailAreLeftOut) {
    Catalog c;
    c.inputs = 3;
    c.outputs = 2;
    c.inputNames = {{0, "In A"}, {2, "In C"}};
    c.outputNames = {{1, "Out B"}};
    const std::vector<Entry> expected = {
        {0, "In A", true, true}, {2, "In C", true, true}, {1, "Out B", false, false}};
    EXPECT_EQ(entries(c), expected);
    EXPECT_EQ(c.outputQueries, (std::vector<uint32_t>{0, 1, kMidiMapperId}));
}

TEST(MidiDeviceList, AnImpossibleOutputCountGivesNoOutputs) {
    Catalog c;
    c.inputs = 1;
    c.inputNames = {{0, "In A"}};
    c.outputs = 0x7FFFFFFF;
    EXPECT_EQ(entries(c), (std::vector<Entry>{{0, "In A", true, true}}));
    EXPECT_TRUE(c.outputQueries.empty());
}

} // namespace
