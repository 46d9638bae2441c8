// The in-process server's entry points: class factories, unloading, and registration.
#include <dlfcn.h>

#include <filesystem>

#include "com/ComSupport.h"
#include "com/Objects.h"
#include "com/Registration.h"

namespace varn::com {

namespace {

struct ClassMaker {
  IUnknown* (*fnMake)();
};

using FactoryObject = ComObject<IClassFactory, ClassMaker>;

IUnknown* MakeLogAnalysis() { return reinterpret_cast<IUnknown*>(WrapLogAnalysis(clsLogAnalysis::Create())); }
IUnknown* MakeConnection() { return reinterpret_cast<IUnknown*>(WrapConnection(std::make_shared<clsConnection>())); }
IUnknown* MakeGoods() { return reinterpret_cast<IUnknown*>(WrapGoods(std::make_shared<clsItemGoods>())); }

HRESULT CreateInstance(IClassFactory* This, IUnknown* pUnkOuter, const IID* riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  *ppvObject = nullptr;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  return Guarded([&] {
    IUnknown* pObject = FactoryObject::Of(This).fnMake();
    HRESULT hr = pObject->lpVtbl->QueryInterface(pObject, riid, ppvObject);
    pObject->lpVtbl->Release(pObject);
    return hr;
  });
}

HRESULT LockServerSlot(IClassFactory*, int32_t fLock) {
  LockServer(fLock != 0);
  return S_OK;
}

const IClassFactoryVtbl kFactoryVtbl = {VARN_COM_UNKNOWN_SLOTS(FactoryObject), &CreateInstance, &LockServerSlot};

std::string LibraryPath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname) {
    RaiseError(errFileNotFound, "The library cannot find its own file");
  }
  std::error_code ec;
  std::filesystem::path file = std::filesystem::weakly_canonical(info.dli_fname, ec);
  return ec ? info.dli_fname : file.string();
}

HRESULT RegistrationFailed(const clsError&) { return SELFREG_E_CLASS; }

}  // namespace

IClassFactory* NewClassFactory(const CLSID& clsid) {
  static constexpr std::pair<const CLSID*, IUnknown* (*)()> kMakers[] = {
      {&CLSID_clsLogAnalysis, &MakeLogAnalysis},
      {&CLSID_clsConnection, &MakeConnection},
      {&CLSID_clsItemGoods, &MakeGoods},
  };
  for (const auto& [pClsid, fnMake] : kMakers) {
    if (SameGuid(clsid, *pClsid)) {
      return FactoryObject::Wrap(&kFactoryVtbl, &IID_IClassFactory, std::make_shared<ClassMaker>(ClassMaker{fnMake}));
    }
  }
  return nullptr;
}

}  // namespace varn::com

using namespace varn::com;

extern "C" {

HRESULT DllGetClassObject(const CLSID* rclsid, const IID* riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!rclsid || !riid) return E_POINTER;
  return Guarded([&] {
    IClassFactory* pFactory = NewClassFactory(*rclsid);
    if (!pFactory) return CLASS_E_CLASSNOTAVAILABLE;
    HRESULT hr = pFactory->lpVtbl->QueryInterface(pFactory, riid, ppv);
    pFactory->lpVtbl->Release(pFactory);
    return hr;
  });
}

// gobjLogAnalysis is the component's own reference, not the host's: it ends with the library's
// statics when the library is unloaded.
HRESULT DllCanUnloadNow(void) { return ServerInUse() ? S_FALSE : S_OK; }

HRESULT DllRegisterServer(void) {
  return Guarded(
      [] {
        varn::RegisterServer(LibraryPath());
        return S_OK;
      },
      &RegistrationFailed);
}

HRESULT DllUnregisterServer(void) {
  return Guarded(
      [] {
        varn::UnregisterServer();
        return S_OK;
      },
      &RegistrationFailed);
}

}  // extern "C"
