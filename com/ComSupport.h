// What every object of the in-process server shares: the object header the host's interface
// pointer points to, reference counting with one interface pointer per component object,
// the server's own counts for unloading, texts across the boundary, and the one helper that
// turns anything a member raises into its HRESULT.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "com/VarnLogProcess.h"
#include "runtime/Error.h"

namespace varn::com {

bool SameGuid(const GUID& a, const GUID& b);
inline VARIANT_BOOL VBool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

// UTF-8 inside, UTF-16 across the boundary (runtime/Utf8.h); malformed input becomes U+FFFD.
// The caller's text (NULL is empty).
std::string TextOf(BSTR bstr);
// A new BSTR the caller will own; raises bad_alloc when memory runs out.
BSTR NewBstr(std::string_view sUtf8);

// The HRESULT of a component error: runtime numbers as VARN_E_RUNTIME(n), database numbers
// as they are (they are failing HRESULTs already).
HRESULT HResultOf(const clsError& err);

// Runs a member's body; whatever it raises becomes a failing HRESULT, so nothing crosses the
// boundary. fnMap may give a component error a meaning of its own (0: none).
template <class Fn>
HRESULT Guarded(Fn&& fnBody, HRESULT (*fnMap)(const clsError&) = nullptr) noexcept {
  try {
    return fnBody();
  } catch (const clsError& err) {
    HRESULT hr = fnMap ? fnMap(err) : 0;
    return hr ? hr : HResultOf(err);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// The library may unload when the host holds no object and no lock.
void LockServer(bool bLock);
bool ServerInUse();

// The start of every object: the function table first, so that the host's interface pointer
// is the object's own address.
struct ObjectHeader {
  ObjectHeader(const void* pVtbl, const IID* pIID);
  ~ObjectHeader();
  ObjectHeader(const ObjectHeader&) = delete;
  ObjectHeader& operator=(const ObjectHeader&) = delete;

  // One more reference unless the count already reached 0 (the object is ending).
  bool TryAddRef();

  const void* lpVtbl;
  const IID* mpIID;  // the interface besides IUnknown (and IDispatch when dual)
  std::atomic<uint32_t> mlRefs{1};
};

// The live object of that function table standing for pCore, with one more reference, or
// the one fnMake makes (with its first reference), remembered for the next call.
ObjectHeader* Identity(const void* pVtbl, const void* pCore, const std::function<ObjectHeader*()>& fnMake);
void ForgetIdentity(const ObjectHeader* pObject, const void* pCore);

// An interface on a component object held by a shared reference. Wrapping the same component
// object while its interface lives gives the same pointer, as object identity requires.
template <class Iface, class Core>
class ComObject : private ObjectHeader {
 public:
  using Vtbl = std::remove_cvref_t<decltype(*std::declval<Iface>().lpVtbl)>;
  static constexpr bool kDual = requires(Vtbl v) { v.Invoke; };

  static Iface* Wrap(const Vtbl* pVtbl, const IID* pIID, std::shared_ptr<Core> pCore) {
    const void* pKey = pCore.get();
    ObjectHeader* pObject =
        Identity(pVtbl, pKey, [&]() -> ObjectHeader* { return new ComObject(pVtbl, pIID, std::move(pCore)); });
    return reinterpret_cast<Iface*>(static_cast<ComObject*>(pObject));
  }
  // The object behind a pointer this server handed out with that function table, or null.
  static ComObject* Mine(void* pInterface, const Vtbl* pVtbl) {
    if (!pInterface || *static_cast<const void* const*>(pInterface) != pVtbl) return nullptr;
    return reinterpret_cast<ComObject*>(pInterface);
  }

  static Core& Of(Iface* This) { return *SharedOf(This); }
  static const std::shared_ptr<Core>& SharedOf(Iface* This) { return reinterpret_cast<ComObject*>(This)->mpCore; }
  const std::shared_ptr<Core>& Shared() const { return mpCore; }

  static HRESULT QueryInterface(Iface* This, const IID* riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!riid) return E_POINTER;
    auto* pSelf = reinterpret_cast<ComObject*>(This);
    bool bKnown =
        SameGuid(*riid, IID_IUnknown) || SameGuid(*riid, *pSelf->mpIID) || (kDual && SameGuid(*riid, IID_IDispatch));
    if (!bKnown) return E_NOINTERFACE;
    AddRef(This);
    *ppv = This;
    return S_OK;
  }
  static uint32_t AddRef(Iface* This) { return ++reinterpret_cast<ComObject*>(This)->mlRefs; }
  static uint32_t Release(Iface* This) {
    auto* pSelf = reinterpret_cast<ComObject*>(This);
    uint32_t lRefs = --pSelf->mlRefs;
    if (lRefs == 0) {
      ForgetIdentity(pSelf, pSelf->mpCore.get());
      delete pSelf;
    }
    return lRefs;
  }

  // Dual interfaces serve no type information; hosts call through the function table.
  static HRESULT GetTypeInfoCount(Iface*, uint32_t* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  static HRESULT GetTypeInfo(Iface*, uint32_t, uint32_t, void** ppTInfo) {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
  }
  static HRESULT GetIDsOfNames(Iface*, const IID*, OLECHAR**, uint32_t, uint32_t, int32_t*) { return E_NOTIMPL; }
  static HRESULT Invoke(Iface*, int32_t, const IID*, uint32_t, uint16_t, void*, VARIANT*, void*, uint32_t*) {
    return E_NOTIMPL;
  }

 private:
  ComObject(const Vtbl* pVtbl, const IID* pIID, std::shared_ptr<Core> pCore)
      : ObjectHeader(pVtbl, pIID), mpCore(std::move(pCore)) {}

  std::shared_ptr<Core> mpCore;
};

#define VARN_COM_UNKNOWN_SLOTS(Object) &Object::QueryInterface, &Object::AddRef, &Object::Release
#define VARN_COM_DISPATCH_SLOTS(Object)                                                                    \
  VARN_COM_UNKNOWN_SLOTS(Object), &Object::GetTypeInfoCount, &Object::GetTypeInfo, &Object::GetIDsOfNames, \
      &Object::Invoke

// A member with a result: E_POINTER without a place for it; otherwise the place is cleared and
// then takes what fnValue gives, unless that raises.
template <class T, class Fn>
HRESULT Answer(T* pOut, Fn&& fnValue, HRESULT (*fnMap)(const clsError&) = nullptr) noexcept {
  if (!pOut) return E_POINTER;
  *pOut = T{};
  return Guarded(
      [&] {
        *pOut = fnValue();
        return S_OK;
      },
      fnMap);
}

}  // namespace varn::com
