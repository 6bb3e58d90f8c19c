#include "AsioRegistration.h"

#include <windows.h>

#include <objbase.h>

#include <cstring>

namespace {

constexpr size_t kKeyNameBytes = 128;
constexpr size_t kClassTextBytes = 256;
constexpr size_t kClassKeyNameBytes = 512;
constexpr size_t kPathBytes = 512;
constexpr size_t kDescriptionBytes = 256;
constexpr int kWideClassChars = 100;

// A registry key that closes itself.
class Key {
public:
    Key(HKEY parent, const char* path) {
        if (RegOpenKeyExA(parent, path, 0, KEY_READ, &handle) != ERROR_SUCCESS)
            handle = nullptr;
    }
    ~Key() {
        if (handle != nullptr)
            RegCloseKey(handle);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    explicit operator bool() const { return handle != nullptr; }

    // A string value of at most `capacity` bytes, NUL-terminated.
    bool readString(const char* name, char* text, DWORD capacity) const {
        DWORD size = capacity;
        DWORD type = 0;
        if (RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS)
            return false;
        text[size < capacity ? size : capacity - 1] = '\0';
        return true;
    }
    bool subkeyName(DWORD index, char* name, DWORD capacity) const {
        DWORD size = capacity;
        return RegEnumKeyExA(handle, index, name, &size, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
    }

    HKEY handle = nullptr;
};

void lowerCase(char* text) {
    CharLowerBuffA(text, static_cast<DWORD>(std::strlen(text)));
}

bool fileExists(const char* path) {
    OFSTRUCT info;
    std::memset(&info, 0, sizeof info);
    return OpenFile(path, &info, OF_EXIST) != HFILE_ERROR;
}

// The class's in-process server file, looked up under HKEY_CLASSES_ROOT
// "clsid" by a case-blind comparison of the key names.
bool classFileExists(const char* classText) {
    char wanted[kClassTextBytes];
    std::strncpy(wanted, classText, sizeof wanted - 1);
    wanted[sizeof wanted - 1] = '\0';
    lowerCase(wanted);
    Key classes(HKEY_CLASSES_ROOT, "clsid");
    if (!classes)
        return false;
    char name[kClassKeyNameBytes];
    for (DWORD index = 0; classes.subkeyName(index, name, sizeof name); ++index) {
        lowerCase(name);
        if (std::strcmp(name, wanted) != 0)
            continue;
        Key classKey(classes.handle, name);
        if (!classKey)
            return false;
        Key server(classKey.handle, "InprocServer32");
        char path[kPathBytes];
        return server && server.readString(nullptr, path, sizeof path) && fileExists(path);
    }
    return false;
}

AsioClassId parsedClassId(const char* classText) {
    WCHAR wide[kWideClassChars];
    AsioClassId id{};
    if (MultiByteToWideChar(CP_ACP, 0, classText, -1, wide, kWideClassChars) == 0)
        return id;
    CLSID parsed;
    if (CLSIDFromString(wide, &parsed) == NOERROR)
        std::memcpy(&id, &parsed, sizeof id);
    return id;
}

// Steps 4 to 7 of the walk for one subkey; false when it yields no entry.
bool readRegistration(HKEY asio, const char* keyName, AsioRegisteredDriver& driver) {
    Key key(asio, keyName);
    char classText[kClassTextBytes];
    if (!key || !key.readString("clsid", classText, sizeof classText))
        return false;
    if (!classFileExists(classText))
        return false;
    driver.classId = parsedClassId(classText);
    char description[kDescriptionBytes];
    driver.name = storedAsioDriverName(
        key.readString("description", description, sizeof description) ? description : keyName);
    return true;
}

} // namespace

std::vector<AsioRegisteredDriver> listRegisteredAsioDrivers() {
    std::vector<AsioRegisteredDriver> list;
    Key asio(HKEY_LOCAL_MACHINE, "software\\asio");
    if (!asio)
        return list;
    char keyName[kKeyNameBytes];
    for (DWORD index = 0; asio.subkeyName(index, keyName, sizeof keyName); ++index) {
        AsioRegisteredDriver driver;
        if (readRegistration(asio.handle, keyName, driver))
            list.push_back(driver);
    }
    return list;
}

int32_t createAsioDriver(const AsioClassId& classId, IAsioDriver** driver) {
    CLSID id;
    std::memcpy(&id, &classId, sizeof id);
    void* object = nullptr;
    const HRESULT result = CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, id, &object);
    if (FAILED(result))
        return static_cast<int32_t>(result);
    if (object == nullptr)
        return static_cast<int32_t>(E_POINTER);
    *driver = static_cast<IAsioDriver*>(object);
    return 0;
}

void initializeAsioThread() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

void uninitializeAsioThread() {
    CoUninitialize();
}

void registerInProcessAsioDriver(const std::string&, const AsioClassId&, AsioDriverFactory, void*) {
}
void clearInProcessAsioDrivers() {}

std::string storedAsioDriverName(const std::string& name) {
    return name.substr(0, 127);
}
