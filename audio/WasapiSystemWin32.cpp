// The Windows audio session API behind the driver's small interfaces: each
// object owns one COM reference and releases it when deleted.

#include "WasapiSystem.h"

#include <initguid.h>
#include <windows.h>

#include <audioclient.h>
#include <functiondiscoverykeys_devpkey.h>
#include <mmdeviceapi.h>
#include <propidl.h>

namespace wasapi {

namespace {

template <typename Interface> class ComReference {
public:
    ComReference() = default;
    explicit ComReference(Interface* pointer) : object(pointer) {}
    ~ComReference() {
        if (object != nullptr)
            object->Release();
    }
    ComReference(const ComReference&) = delete;
    ComReference& operator=(const ComReference&) = delete;
    Interface* operator->() const { return object; }
    Interface* get() const { return object; }
    Interface** out() { return &object; }

private:
    Interface* object = nullptr;
};

class PropertyValue {
public:
    PropertyValue() { PropVariantInit(&value); }
    ~PropertyValue() { PropVariantClear(&value); }
    PropertyValue(const PropertyValue&) = delete;
    PropertyValue& operator=(const PropertyValue&) = delete;
    PROPVARIANT value;
};

// Hands a new COM reference to its wrapper. A call that reports success
// without giving an object counts as a failure, so no wrapper is ever empty.
// `object` is taken by reference: it is read only after the call that fills
// it (an argument of the same call) has run.
template <typename Wrapper, typename Interface, typename Base>
Result wrapObject(HRESULT result, Interface* const& object, std::unique_ptr<Base>& wrapper) {
    if (FAILED(result))
        return result;
    if (object == nullptr)
        return kFail;
    wrapper = std::make_unique<Wrapper>(object);
    return result;
}

class Win32Event : public StreamEvent {
public:
    explicit Win32Event(HANDLE event) : handle(event) {}
    ~Win32Event() override { CloseHandle(handle); }
    bool wait(uint32_t timeoutMs) override {
        return WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0;
    }
    HANDLE handle;
};

class Win32RenderService : public RenderService {
public:
    explicit Win32RenderService(IAudioRenderClient* service) : render(service) {}
    Result getBuffer(uint32_t frames, unsigned char*& data) override {
        BYTE* buffer = nullptr;
        const HRESULT result = render->GetBuffer(frames, &buffer);
        data = buffer;
        return result;
    }
    Result releaseBuffer(uint32_t frames, uint32_t flags) override {
        return render->ReleaseBuffer(frames, flags);
    }

private:
    ComReference<IAudioRenderClient> render;
};

class Win32CaptureService : public CaptureService {
public:
    explicit Win32CaptureService(IAudioCaptureClient* service) : capture(service) {}
    Result getNextPacketSize(uint32_t& frames) override {
        UINT32 size = 0;
        const HRESULT result = capture->GetNextPacketSize(&size);
        frames = size;
        return result;
    }
    Result getBuffer(unsigned char*& data, uint32_t& frames, uint32_t& flags) override {
        BYTE* buffer = nullptr;
        UINT32 count = 0;
        DWORD packetFlags = 0;
        const HRESULT result = capture->GetBuffer(&buffer, &count, &packetFlags, nullptr, nullptr);
        data = buffer;
        frames = count;
        flags = packetFlags;
        return result;
    }
    Result releaseBuffer(uint32_t frames) override { return capture->ReleaseBuffer(frames); }

private:
    ComReference<IAudioCaptureClient> capture;
};

class Win32AudioClient : public AudioClient {
public:
    explicit Win32AudioClient(IAudioClient* audioClient) : client(audioClient) {}
    Result getDevicePeriod(Duration& minimumPeriod) override {
        REFERENCE_TIME defaultPeriod = 0;
        REFERENCE_TIME minimum = 0;
        const HRESULT result = client->GetDevicePeriod(&defaultPeriod, &minimum);
        minimumPeriod = minimum;
        return result;
    }
    Result initialize(ShareMode mode, uint32_t streamFlags, Duration bufferDuration,
                      Duration periodicity, const std::vector<unsigned char>& format) override {
        // The system reads the format's own length (cbSize) past the first
        // 18 bytes; the driver clamps it to what the format holds, and a
        // zeroed copy of 40 bytes never lets the system read beyond it.
        unsigned char bytes[40] = {};
        memcpy(bytes, format.data(), format.size() < sizeof bytes ? format.size() : sizeof bytes);
        return client->Initialize(static_cast<AUDCLNT_SHAREMODE>(mode), streamFlags, bufferDuration,
                                  periodicity, reinterpret_cast<const WAVEFORMATEX*>(bytes),
                                  nullptr);
    }
    Result getBufferSize(uint32_t& frames) override {
        UINT32 size = 0;
        const HRESULT result = client->GetBufferSize(&size);
        frames = size;
        return result;
    }
    Result getCurrentPadding(uint32_t& frames) override {
        UINT32 padding = 0;
        const HRESULT result = client->GetCurrentPadding(&padding);
        frames = padding;
        return result;
    }
    Result getStreamLatency(Duration& latency) override {
        REFERENCE_TIME value = 0;
        const HRESULT result = client->GetStreamLatency(&value);
        latency = value;
        return result;
    }
    Result setEventHandle(StreamEvent& event) override {
        return client->SetEventHandle(static_cast<Win32Event&>(event).handle);
    }
    Result start() override { return client->Start(); }
    Result stop() override { return client->Stop(); }
    Result getRenderService(std::unique_ptr<RenderService>& service) override {
        IAudioRenderClient* render = nullptr;
        return wrapObject<Win32RenderService>(
            client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&render)),
            render, service);
    }
    Result getCaptureService(std::unique_ptr<CaptureService>& service) override {
        IAudioCaptureClient* capture = nullptr;
        return wrapObject<Win32CaptureService>(
            client->GetService(__uuidof(IAudioCaptureClient), reinterpret_cast<void**>(&capture)),
            capture, service);
    }

private:
    ComReference<IAudioClient> client;
};

class Win32PropertyStore : public PropertyStore {
public:
    explicit Win32PropertyStore(IPropertyStore* propertyStore) : store(propertyStore) {}
    Result readText(TextProperty property, std::wstring& text) override {
        PropertyValue value;
        const PROPERTYKEY& key = property == TextProperty::friendlyName ? PKEY_Device_FriendlyName
                                                                        : PKEY_Device_DeviceDesc;
        const HRESULT result = store->GetValue(key, &value.value);
        if (FAILED(result))
            return result;
        if (value.value.vt != VT_LPWSTR || value.value.pwszVal == nullptr)
            return kFail;
        text = value.value.pwszVal;
        return result;
    }
    Result readDeviceFormat(std::vector<unsigned char>& format) override {
        PropertyValue value;
        const HRESULT result = store->GetValue(PKEY_AudioEngine_DeviceFormat, &value.value);
        if (FAILED(result))
            return result;
        if (value.value.vt != VT_BLOB || value.value.blob.pBlobData == nullptr)
            return kFail;
        format.assign(value.value.blob.pBlobData,
                      value.value.blob.pBlobData + value.value.blob.cbSize);
        return result;
    }
    Result readFormFactor() override {
        PropertyValue value;
        return store->GetValue(PKEY_AudioEndpoint_FormFactor, &value.value);
    }
    Result writeDeviceFormat(const std::vector<unsigned char>& format) override {
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_BLOB;
        value.blob.cbSize = static_cast<ULONG>(format.size());
        value.blob.pBlobData = const_cast<BYTE*>(format.data());
        return store->SetValue(PKEY_AudioEngine_DeviceFormat, value);
    }
    Result commit() override { return store->Commit(); }

private:
    ComReference<IPropertyStore> store;
};

class Win32Endpoint : public Endpoint {
public:
    explicit Win32Endpoint(IMMDevice* endpoint) : device(endpoint) {}
    Result getId(std::wstring& id) override {
        LPWSTR text = nullptr;
        const HRESULT result = device->GetId(&text);
        if (SUCCEEDED(result) && text != nullptr)
            id = text;
        CoTaskMemFree(text);
        return text == nullptr && SUCCEEDED(result) ? kFail : result;
    }
    Result openPropertyStore(StoreAccess access, std::unique_ptr<PropertyStore>& store) override {
        IPropertyStore* propertyStore = nullptr;
        return wrapObject<Win32PropertyStore>(
            device->OpenPropertyStore(static_cast<DWORD>(access), &propertyStore), propertyStore,
            store);
    }
    Result activate(std::unique_ptr<AudioClient>& client) override {
        IAudioClient* audioClient = nullptr;
        return wrapObject<Win32AudioClient>(
            device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                             reinterpret_cast<void**>(&audioClient)),
            audioClient, client);
    }

private:
    ComReference<IMMDevice> device;
};

class Win32EndpointCollection : public EndpointCollection {
public:
    explicit Win32EndpointCollection(IMMDeviceCollection* collection) : endpoints(collection) {}
    Result getCount(uint32_t& count) override {
        UINT size = 0;
        const HRESULT result = endpoints->GetCount(&size);
        count = size;
        return result;
    }
    Result item(uint32_t index, std::unique_ptr<Endpoint>& endpoint) override {
        IMMDevice* device = nullptr;
        return wrapObject<Win32Endpoint>(endpoints->Item(index, &device), device, endpoint);
    }

private:
    ComReference<IMMDeviceCollection> endpoints;
};

EDataFlow dataFlow(Flow flow) {
    return flow == Flow::capture ? eCapture : eRender;
}

class Win32DeviceEnumerator : public DeviceEnumerator {
public:
    explicit Win32DeviceEnumerator(IMMDeviceEnumerator* deviceEnumerator)
        : enumerator(deviceEnumerator) {}
    Result enumerate(Flow flow, std::unique_ptr<EndpointCollection>& endpoints) override {
        IMMDeviceCollection* collection = nullptr;
        return wrapObject<Win32EndpointCollection>(
            enumerator->EnumAudioEndpoints(dataFlow(flow), DEVICE_STATE_ACTIVE, &collection),
            collection, endpoints);
    }
    Result getDefaultEndpoint(Flow flow, std::unique_ptr<Endpoint>& endpoint) override {
        IMMDevice* device = nullptr;
        return wrapObject<Win32Endpoint>(
            enumerator->GetDefaultAudioEndpoint(dataFlow(flow), eMultimedia, &device), device,
            endpoint);
    }

private:
    ComReference<IMMDeviceEnumerator> enumerator;
};

class Win32System : public System {
public:
    void initializeThread() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    Result createEnumerator(std::unique_ptr<DeviceEnumerator>& enumerator) override {
        IMMDeviceEnumerator* deviceEnumerator = nullptr;
        return wrapObject<Win32DeviceEnumerator>(
            CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                             __uuidof(IMMDeviceEnumerator),
                             reinterpret_cast<void**>(&deviceEnumerator)),
            deviceEnumerator, enumerator);
    }
    std::unique_ptr<StreamEvent> createEvent() override {
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (event == nullptr)
            return nullptr;
        return std::make_unique<Win32Event>(event);
    }
    std::string toMultibyte(const std::wstring& text, size_t maxBytes) override {
        const int length = static_cast<int>(text.size());
        const int needed =
            WideCharToMultiByte(CP_ACP, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
        if (needed <= 0)
            return {};
        std::string converted(static_cast<size_t>(needed), '\0');
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), length, converted.data(), needed, nullptr,
                            nullptr);
        if (converted.size() > maxBytes)
            converted.resize(maxBytes);
        return converted;
    }
    void sleepMs(uint32_t milliseconds) override { Sleep(milliseconds); }
};

} // namespace

std::unique_ptr<System> createSystem() {
    return std::make_unique<Win32System>();
}

} // namespace wasapi
