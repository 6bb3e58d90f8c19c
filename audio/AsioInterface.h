#pragma once

// The ASIO driver interface as the host sees it: the records it exchanges
// with a driver (packed to 4 bytes, as drivers lay them out), the driver
// object's table of operations, the sample type codes, message selectors
// and results. Our own header; the layout is the public one of the
// interface on x86-64.

#include <cstdint>

using AsioBool = int32_t;
using AsioError = int32_t;

enum AsioResult : AsioError {
    asioOk = 0,
    asioSuccess = 0x3f4847a0,
    asioNotPresent = -1000,
    asioHardwareMalfunction = -999,
    asioInvalidParameter = -998,
    asioInvalidMode = -997,
    asioSamplePositionNotAdvancing = -996,
    asioNoClock = -995,
    asioNoMemory = -994,
};

enum AsioSampleType : int32_t {
    ASIOSTInt16MSB = 0,
    ASIOSTInt24MSB = 1,
    ASIOSTInt32MSB = 2,
    ASIOSTFloat32MSB = 3,
    ASIOSTFloat64MSB = 4,
    ASIOSTInt32MSB16 = 8,
    ASIOSTInt32MSB18 = 9,
    ASIOSTInt32MSB20 = 10,
    ASIOSTInt32MSB24 = 11,
    ASIOSTInt16LSB = 16,
    ASIOSTInt24LSB = 17,
    ASIOSTInt32LSB = 18,
    ASIOSTFloat32LSB = 19,
    ASIOSTFloat64LSB = 20,
    ASIOSTInt32LSB16 = 24,
    ASIOSTInt32LSB18 = 25,
    ASIOSTInt32LSB20 = 26,
    ASIOSTInt32LSB24 = 27,
};

enum AsioMessageSelector : int32_t {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioMMCCommand = 9,
    kAsioSupportsInputMonitor = 10,
};

#pragma pack(push, 4)

struct ASIOSamples {
    uint32_t hi;
    uint32_t lo;
};
using ASIOTimeStamp = ASIOSamples;

struct ASIODriverInfo {
    int32_t asioVersion;
    int32_t driverVersion;
    char name[32];
    char errorMessage[124];
    void* sysRef;
};

struct ASIOChannelInfo {
    int32_t channel;
    AsioBool isInput;
    AsioBool isActive;
    int32_t channelGroup;
    int32_t type;
    char name[32];
};

struct ASIOBufferInfo {
    AsioBool isInput;
    int32_t channelNum;
    void* buffers[2];
};

struct ASIOClockSource {
    int32_t index;
    int32_t associatedChannel;
    int32_t associatedGroup;
    AsioBool isCurrentSource;
    char name[32];
};

struct AsioTimeInfo {
    double speed;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    double sampleRate;
    uint32_t flags;
    char reserved[12];
};

struct ASIOTimeCode {
    double speed;
    ASIOSamples timeCodeSamples;
    uint32_t flags;
    char future[64];
};

struct ASIOTime {
    int32_t reserved[4];
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};

struct ASIOCallbacks {
    void (*bufferSwitch)(int32_t index, AsioBool processNow);
    void (*sampleRateDidChange)(double rate);
    int32_t (*asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
    ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* time, int32_t index, AsioBool processNow);
};

#pragma pack(pop)

static_assert(sizeof(ASIODriverInfo) == 172, "sysRef follows the texts at offset 164");
static_assert(sizeof(ASIOChannelInfo) == 52);
static_assert(sizeof(ASIOBufferInfo) == 24);
static_assert(sizeof(ASIOClockSource) == 48);
static_assert(sizeof(ASIOTime) == 148);

// A COM class identifier, 16 bytes as Windows stores it.
struct AsioClassId {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

// The three slots every COM object starts with. Declared here rather than
// taken from the system so the host's stream logic builds on every system;
// the x86-64 layout and calls are those of IUnknown.
class AsioUnknown {
public:
    virtual int32_t QueryInterface(const AsioClassId& interfaceId, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    ~AsioUnknown() = default;
};

// The driver object: created with its class id as both class and interface
// id; these slots follow the three of IUnknown in this order.
class IAsioDriver : public AsioUnknown {
public:
    virtual AsioBool init(void* sysHandle) = 0;
    virtual void getDriverName(char* name) = 0; // 32 bytes
    virtual int32_t getDriverVersion() = 0;
    virtual void getErrorMessage(char* text) = 0; // 124 bytes
    virtual AsioError start() = 0;
    virtual AsioError stop() = 0;
    virtual AsioError getChannels(int32_t* inputs, int32_t* outputs) = 0;
    virtual AsioError getLatencies(int32_t* input, int32_t* output) = 0;
    virtual AsioError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                    int32_t* granularity) = 0;
    virtual AsioError canSampleRate(double rate) = 0;
    virtual AsioError getSampleRate(double* rate) = 0;
    virtual AsioError setSampleRate(double rate) = 0;
    virtual AsioError getClockSources(ASIOClockSource* clocks, int32_t* count) = 0;
    virtual AsioError setClockSource(int32_t reference) = 0;
    virtual AsioError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* time) = 0;
    virtual AsioError getChannelInfo(ASIOChannelInfo* info) = 0;
    virtual AsioError createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t bufferSize,
                                    ASIOCallbacks* callbacks) = 0;
    virtual AsioError disposeBuffers() = 0;
    virtual AsioError controlPanel() = 0;
    virtual AsioError future(int32_t selector, void* opt) = 0;
    virtual AsioError outputReady() = 0;

protected:
    ~IAsioDriver() = default;
};
