// A virtual MIDI driver for Wine's winmm, for tests and for players without
// MIDI hardware: two inputs and two outputs.
//
// Wine's winmm takes its MIDI devices from the audio driver that the
// multimedia device API chose, so this module is installed as that driver
// ("ksmidi") and hands every audio entry point on to winealsa.drv: WASAPI
// keeps working as before.
//
// Another process talks to the devices through the folder named by the
// registry value HKCU\Software\Kestrune\Virtual MIDI "Folder":
// - input N (1 or 2) listens on a UDP port of 127.0.0.1 while it is open and
//   writes that port number to "inN.port"; every datagram holds whole short
//   messages as MIDI bytes, delivered once the input is started;
// - output N appends the bytes of every short message sent to it to
//   "outN.mid".
// DWORD values "FailInputOpen", "FailInputStart" and "FailOutputOpen" of the
// same key are bit masks (bit 0 = device 1) of devices that refuse;
// "LateCloseNotice" is one of inputs whose close notice waits after the
// close until "SendLateCloseNotice" is set, then comes from a thread of the
// driver's own, which sets "LateCloseNoticeSent" after it.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <mmsystem.h>
// after mmsystem.h, whose types it uses
#include <mmddk.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

extern "C" BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message,
                                      DWORD_PTR user, DWORD_PTR first, DWORD_PTR second);

namespace {

constexpr UINT kDevices = 2;
constexpr const wchar_t* kKey = L"Software\\Kestrune\\Virtual MIDI";
constexpr DWORD kReceivePollMs = 20;

struct Client {
    DWORD_PTR callback = 0;
    DWORD flags = 0;
    HDRVR handle = nullptr;
    DWORD_PTR instance = 0;

    void notify(DWORD message, DWORD_PTR first = 0, DWORD_PTR second = 0) const {
        DriverCallback(callback, flags, handle, message, instance, first, second);
    }
};

struct Input {
    std::atomic<bool> open{false};
    std::atomic<bool> started{false};
    std::atomic<bool> stopThread{false};
    Client client;
    SOCKET socket = INVALID_SOCKET;
    HANDLE thread = nullptr;
    DWORD startTick = 0;
};

struct Output {
    bool open = false;
    Client client;
    HANDLE file = INVALID_HANDLE_VALUE;
};

Input inputs[kDevices];
Output outputs[kDevices];
HMODULE alsa = nullptr;

DWORD readSetting(const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0;
    return value;
}

bool refuses(const wchar_t* setting, UINT id) {
    return (readSetting(setting) >> id & 1) != 0;
}

std::wstring folderPath(const std::wstring& file) {
    wchar_t folder[MAX_PATH] = {};
    DWORD size = sizeof folder;
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, L"Folder", RRF_RT_REG_SZ, nullptr, folder, &size) !=
        ERROR_SUCCESS)
        return L"";
    return std::wstring(folder) + L"\\" + file;
}

// How many bytes a message with this status byte has on the wire.
int messageLength(uint8_t status) {
    if (status < 0x80)
        return 0;
    if (status < 0xF0)
        return (status & 0xE0) == 0xC0 ? 2 : 3;
    if (status == 0xF1 || status == 0xF3)
        return 2;
    if (status == 0xF2)
        return 3;
    return 1;
}

Client clientOf(DWORD_PTR openDescription, DWORD_PTR openFlags) {
    const auto* description = reinterpret_cast<const MIDIOPENDESC*>(openDescription);
    Client client;
    client.callback = description->dwCallback;
    client.flags = HIWORD(openFlags & CALLBACK_TYPEMASK);
    client.handle = reinterpret_cast<HDRVR>(description->hMidi);
    client.instance = description->dwInstance;
    return client;
}

// --- inputs ---------------------------------------------------------------

void deliverDatagram(const Input& input, const unsigned char* bytes, int size) {
    for (int i = 0; i < size;) {
        const int length = messageLength(bytes[i]);
        if (length == 0 || i + length > size)
            return;
        DWORD packed = 0;
        for (int b = 0; b < length; ++b)
            packed |= static_cast<DWORD>(bytes[i + b]) << (8 * b);
        input.client.notify(MIM_DATA, packed, GetTickCount() - input.startTick);
        i += length;
    }
}

DWORD WINAPI receiveLoop(void* parameter) {
    auto& input = *static_cast<Input*>(parameter);
    unsigned char buffer[512];
    while (!input.stopThread.load()) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(input.socket, &readable);
        timeval wait{0, static_cast<long>(kReceivePollMs * 1000)};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        const int size = recv(input.socket, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
        if (size > 0 && input.started.load())
            deliverDatagram(input, buffer, size);
    }
    return 0;
}

bool writePortFile(UINT id, unsigned port) {
    const std::wstring path = folderPath(L"in" + std::to_wstring(id + 1) + L".port");
    const std::wstring temporary = path + L".tmp";
    FILE* file = _wfopen(temporary.c_str(), L"w");
    if (file == nullptr)
        return false;
    const bool written = fprintf(file, "%u\n", port) > 0;
    if (fclose(file) != 0 || !written)
        return false;
    return MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

SOCKET listenOnLoopback(unsigned& port) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return s;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    port = ntohs(address.sin_port);
    return s;
}

DWORD openInput(UINT id, DWORD_PTR description, DWORD_PTR flags) {
    Input& input = inputs[id];
    if (input.open.load())
        return MMSYSERR_ALLOCATED;
    if (refuses(L"FailInputOpen", id))
        return MMSYSERR_NOTENABLED;
    unsigned port = 0;
    input.socket = listenOnLoopback(port);
    if (input.socket == INVALID_SOCKET || !writePortFile(id, port)) {
        if (input.socket != INVALID_SOCKET)
            closesocket(input.socket);
        input.socket = INVALID_SOCKET;
        return MMSYSERR_ERROR;
    }
    input.client = clientOf(description, flags);
    input.started.store(false);
    input.stopThread.store(false);
    input.thread = CreateThread(nullptr, 0, receiveLoop, &input, 0, nullptr);
    input.open.store(true);
    input.client.notify(MIM_OPEN);
    return MMSYSERR_NOERROR;
}

constexpr DWORD kLateCloseNoticeLimitMs = 60000;

DWORD WINAPI noticeCloseLate(void* parameter) {
    const auto* client = static_cast<const Client*>(parameter);
    const DWORD start = GetTickCount();
    while (readSetting(L"SendLateCloseNotice") == 0 &&
           GetTickCount() - start < kLateCloseNoticeLimitMs)
        Sleep(10);
    client->notify(MIM_CLOSE);
    delete client;
    const DWORD sent = 1;
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"LateCloseNoticeSent", REG_DWORD, &sent, sizeof sent);
    return 0;
}

// Every delivery has ended before the close notice goes out.
DWORD closeInput(UINT id) {
    Input& input = inputs[id];
    if (!input.open.load())
        return MMSYSERR_INVALHANDLE;
    input.started.store(false);
    input.stopThread.store(true);
    if (input.thread != nullptr) {
        WaitForSingleObject(input.thread, INFINITE);
        CloseHandle(input.thread);
        input.thread = nullptr;
    }
    closesocket(input.socket);
    input.socket = INVALID_SOCKET;
    DeleteFileW(folderPath(L"in" + std::to_wstring(id + 1) + L".port").c_str());
    input.open.store(false);
    if (refuses(L"LateCloseNotice", id)) {
        auto* client = new Client(input.client);
        if (HANDLE late = CreateThread(nullptr, 0, noticeCloseLate, client, 0, nullptr))
            CloseHandle(late);
        else
            delete client;
        return MMSYSERR_NOERROR;
    }
    input.client.notify(MIM_CLOSE);
    return MMSYSERR_NOERROR;
}

DWORD startInput(UINT id) {
    Input& input = inputs[id];
    if (!input.open.load())
        return MMSYSERR_INVALHANDLE;
    if (refuses(L"FailInputStart", id))
        return MMSYSERR_ERROR;
    input.startTick = GetTickCount();
    input.started.store(true);
    return MMSYSERR_NOERROR;
}

DWORD inputCaps(UINT id, DWORD_PTR caps, DWORD_PTR size) {
    MIDIINCAPSW c{};
    c.wMid = 0xFF;
    c.wPid = 1;
    c.vDriverVersion = 0x0100;
    swprintf(c.szPname, MAXPNAMELEN, L"KsVirtual In %u", id + 1);
    memcpy(reinterpret_cast<void*>(caps), &c, size < sizeof c ? size : sizeof c);
    return MMSYSERR_NOERROR;
}

// --- outputs --------------------------------------------------------------

DWORD openOutput(UINT id, DWORD_PTR description, DWORD_PTR flags) {
    Output& output = outputs[id];
    if (output.open)
        return MMSYSERR_ALLOCATED;
    if (refuses(L"FailOutputOpen", id))
        return MMSYSERR_NOTENABLED;
    const std::wstring path = folderPath(L"out" + std::to_wstring(id + 1) + L".mid");
    output.file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output.file == INVALID_HANDLE_VALUE)
        return MMSYSERR_ERROR;
    output.client = clientOf(description, flags);
    output.open = true;
    output.client.notify(MOM_OPEN);
    return MMSYSERR_NOERROR;
}

DWORD closeOutput(UINT id) {
    Output& output = outputs[id];
    if (!output.open)
        return MMSYSERR_INVALHANDLE;
    CloseHandle(output.file);
    output.file = INVALID_HANDLE_VALUE;
    output.open = false;
    output.client.notify(MOM_CLOSE);
    return MMSYSERR_NOERROR;
}

DWORD sendOutput(UINT id, DWORD_PTR packed) {
    Output& output = outputs[id];
    if (!output.open)
        return MMSYSERR_INVALHANDLE;
    const unsigned char bytes[3] = {static_cast<unsigned char>(packed),
                                    static_cast<unsigned char>(packed >> 8),
                                    static_cast<unsigned char>(packed >> 16)};
    const int length = messageLength(bytes[0]);
    if (length == 0)
        return MMSYSERR_INVALPARAM;
    DWORD written = 0;
    if (!WriteFile(output.file, bytes, static_cast<DWORD>(length), &written, nullptr) ||
        written != static_cast<DWORD>(length))
        return MMSYSERR_ERROR;
    return MMSYSERR_NOERROR;
}

DWORD outputCaps(UINT id, DWORD_PTR caps, DWORD_PTR size) {
    MIDIOUTCAPSW c{};
    c.wMid = 0xFF;
    c.wPid = 2;
    c.vDriverVersion = 0x0100;
    swprintf(c.szPname, MAXPNAMELEN, L"KsVirtual Out %u", id + 1);
    c.wTechnology = MOD_MIDIPORT;
    c.wChannelMask = 0xFFFF;
    memcpy(reinterpret_cast<void*>(caps), &c, size < sizeof c ? size : sizeof c);
    return MMSYSERR_NOERROR;
}

template <class Function> Function alsaEntry(const char* name) {
    if (alsa == nullptr)
        alsa = LoadLibraryW(L"winealsa.drv");
    if (alsa == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(alsa, name)));
}

} // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI
    midMessage(UINT id, UINT message, DWORD_PTR, DWORD_PTR first, DWORD_PTR second) {
    if (message == MIDM_INIT || message == DRVM_EXIT || message == DRVM_ENABLE ||
        message == DRVM_DISABLE)
        return MMSYSERR_NOERROR;
    if (message == MIDM_GETNUMDEVS)
        return kDevices;
    if (id >= kDevices)
        return MMSYSERR_BADDEVICEID;
    switch (message) {
    case MIDM_GETDEVCAPS:
        return inputCaps(id, first, second);
    case MIDM_OPEN:
        return openInput(id, first, second);
    case MIDM_CLOSE:
        return closeInput(id);
    case MIDM_START:
        return startInput(id);
    case MIDM_STOP:
    case MIDM_RESET:
        inputs[id].started.store(false);
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}

__declspec(dllexport) DWORD WINAPI
    modMessage(UINT id, UINT message, DWORD_PTR, DWORD_PTR first, DWORD_PTR second) {
    if (message == MODM_INIT || message == DRVM_EXIT || message == DRVM_ENABLE ||
        message == DRVM_DISABLE)
        return MMSYSERR_NOERROR;
    if (message == MODM_GETNUMDEVS)
        return kDevices;
    if (id >= kDevices)
        return MMSYSERR_BADDEVICEID;
    switch (message) {
    case MODM_GETDEVCAPS:
        return outputCaps(id, first, second);
    case MODM_OPEN:
        return openOutput(id, first, second);
    case MODM_CLOSE:
        return closeOutput(id);
    case MODM_DATA:
        return sendOutput(id, first);
    case MODM_RESET:
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}

__declspec(dllexport) LRESULT CALLBACK
    DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM first, LPARAM second) {
    switch (message) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_OPEN:
    case DRV_CLOSE:
    case DRV_ENABLE:
    case DRV_DISABLE:
        return 1;
    case DRV_QUERYCONFIGURE:
        return 0;
    default:
        return DefDriverProc(id, driver, message, first, second);
    }
}

// The audio entry points, handed on to winealsa.drv unchanged.
__declspec(dllexport) int WINAPI GetPriority() {
    auto next = alsaEntry<int(WINAPI*)()>("GetPriority");
    return next == nullptr ? 0 : next();
}

__declspec(dllexport) HRESULT WINAPI
    GetEndpointIDs(int flow, void* ids, void* guids, void* count, void* defaultIndex) {
    auto next = alsaEntry<HRESULT(WINAPI*)(int, void*, void*, void*, void*)>("GetEndpointIDs");
    return next == nullptr ? E_NOTIMPL : next(flow, ids, guids, count, defaultIndex);
}

__declspec(dllexport) HRESULT WINAPI GetAudioEndpoint(void* key, void* device, void* client) {
    auto next = alsaEntry<HRESULT(WINAPI*)(void*, void*, void*)>("GetAudioEndpoint");
    return next == nullptr ? E_NOTIMPL : next(key, device, client);
}

__declspec(dllexport) HRESULT WINAPI GetAudioSessionManager(void* device, void* manager) {
    auto next = alsaEntry<HRESULT(WINAPI*)(void*, void*)>("GetAudioSessionManager");
    return next == nullptr ? E_NOTIMPL : next(device, manager);
}

__declspec(dllexport) HRESULT WINAPI GetPropValue(void* guid, const void* key, void* value) {
    auto next = alsaEntry<HRESULT(WINAPI*)(void*, const void*, void*)>("GetPropValue");
    return next == nullptr ? E_NOTIMPL : next(guid, key, value);
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    return TRUE;
}
