// The test ASIO driver as an in-process COM server, registered by the test
// environment under two class ids (scripts/wine-env.sh). Each class id is
// one instance with its own settings file beside this library,
// "ksasio-<class id without braces>.conf", read whenever an object is
// created, and its own record of what the objects saw, which the tests of
// the same process reach through `ksTestAsioInstance`.

#include "TestAsioDriver.h"

#include <windows.h>

#include <objbase.h>
#include <unknwn.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>

namespace {

HMODULE thisModule = nullptr;

struct Instance {
    CLSID classId;
    TestAsioInstance state;
};

std::vector<std::unique_ptr<Instance>>& instances() {
    static std::vector<std::unique_ptr<Instance>> all;
    return all;
}

std::string classText(const CLSID& id) {
    WCHAR wide[64];
    char narrow[64];
    StringFromGUID2(id, wide, 64);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
    std::string text;
    for (const char* c = narrow; *c != '\0'; ++c)
        if (*c != '{' && *c != '}')
            text.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*c))));
    return text;
}

std::string settingsPath(const CLSID& id) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(thisModule, path, MAX_PATH);
    std::string directory(path, length);
    directory.erase(directory.find_last_of("\\/") + 1);
    return directory + "ksasio-" + classText(id) + ".conf";
}

Instance& instanceOf(const CLSID& id) {
    for (auto& instance : instances())
        if (IsEqualCLSID(instance->classId, id))
            return *instance;
    instances().push_back(std::make_unique<Instance>());
    instances().back()->classId = id;
    return *instances().back();
}

class Factory final : public IClassFactory {
public:
    explicit Factory(const CLSID& id) : classId(id) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID, void** object) override {
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        Instance& instance = instanceOf(classId);
        std::ifstream file(settingsPath(classId));
        const std::string text((std::istreambuf_iterator<char>(file)), {});
        instance.state.config = parseTestAsioConfig(text);
        auto* driver = new (std::nothrow) TestAsioDriver(instance.state);
        if (driver == nullptr)
            return E_OUTOFMEMORY;
        *object = static_cast<IAsioDriver*>(driver);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    CLSID classId;
    ULONG references = 1;
};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        thisModule = module;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* object) {
    auto* factory = new (std::nothrow) Factory(classId);
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(iid, object);
    factory->Release();
    return result;
}

// The records stay for the tests of the process: never unloaded.
STDAPI DllCanUnloadNow() {
    return S_FALSE;
}

extern "C" TestAsioInstance* ksTestAsioInstance(const char* classIdText) {
    WCHAR wide[64];
    CLSID id;
    if (MultiByteToWideChar(CP_ACP, 0, classIdText, -1, wide, 64) == 0 ||
        CLSIDFromString(wide, &id) != NOERROR)
        return nullptr;
    return &instanceOf(id).state;
}
