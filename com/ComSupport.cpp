// Object identity and counts, texts across the boundary, and the string and VARIANT exports.
#include "com/ComSupport.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "runtime/Utf8.h"

namespace varn::com {

namespace {

std::atomic<long> glObjects{0};
std::atomic<long> glLocks{0};

std::mutex& IdentityLock() {
  static std::mutex lock;
  return lock;
}
// Keyed by function table and component object: one interface pointer per pair.
std::map<std::pair<const void*, const void*>, ObjectHeader*>& Identities() {
  static std::map<std::pair<const void*, const void*>, ObjectHeader*> identities;
  return identities;
}

// The block of a BSTR: its byte length, then the characters.
uint32_t* BlockOf(BSTR bstr) { return reinterpret_cast<uint32_t*>(bstr) - 1; }

}  // namespace

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::string TextOf(BSTR bstr) {
  return bstr ? Utf8FromUtf16(std::u16string_view(bstr, SysStringLen(bstr))) : std::string();
}

BSTR NewBstr(std::string_view sUtf8) {
  std::u16string s = Utf16FromUtf8(sUtf8);
  BSTR bstr = SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size()));
  if (!bstr) throw std::bad_alloc();
  return bstr;
}

HRESULT HResultOf(const clsError& err) {
  int32_t lNumber = err.Number();
  if (lNumber < 0) return lNumber;
  if (lNumber > 0 && lNumber <= 0xFFFF) return VARN_E_RUNTIME(lNumber);
  return E_FAIL;
}

void LockServer(bool bLock) {
  if (bLock) {
    ++glLocks;
    return;
  }
  long lLocks = glLocks.load();
  while (lLocks > 0 && !glLocks.compare_exchange_weak(lLocks, lLocks - 1)) {
  }
}

bool ServerInUse() { return glObjects.load() > 0 || glLocks.load() > 0; }

ObjectHeader::ObjectHeader(const void* pVtbl, const IID* pIID) : lpVtbl(pVtbl), mpIID(pIID) { ++glObjects; }
ObjectHeader::~ObjectHeader() { --glObjects; }

bool ObjectHeader::TryAddRef() {
  uint32_t lRefs = mlRefs.load();
  while (lRefs > 0 && !mlRefs.compare_exchange_weak(lRefs, lRefs + 1)) {
  }
  return lRefs > 0;
}

ObjectHeader* Identity(const void* pVtbl, const void* pCore, const std::function<ObjectHeader*()>& fnMake) {
  std::lock_guard<std::mutex> guard(IdentityLock());
  ObjectHeader*& pKnown = Identities()[{pVtbl, pCore}];
  if (pKnown && pKnown->TryAddRef()) return pKnown;
  pKnown = fnMake();
  return pKnown;
}

void ForgetIdentity(const ObjectHeader* pObject, const void* pCore) {
  std::lock_guard<std::mutex> guard(IdentityLock());
  auto it = Identities().find({pObject->lpVtbl, pCore});
  if (it != Identities().end() && it->second == pObject) Identities().erase(it);
}

}  // namespace varn::com

using namespace varn::com;

extern "C" {

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  return SysAllocStringLen(psz, static_cast<uint32_t>(std::char_traits<char16_t>::length(psz)));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, uint32_t ui) {
  if (ui > (UINT32_MAX - sizeof(uint32_t) - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
  uint32_t lBytes = ui * static_cast<uint32_t>(sizeof(OLECHAR));
  auto* pBlock = static_cast<uint32_t*>(std::calloc(1, sizeof(uint32_t) + lBytes + sizeof(OLECHAR)));
  if (!pBlock) return nullptr;
  *pBlock = lBytes;
  BSTR bstr = reinterpret_cast<BSTR>(pBlock + 1);
  if (strIn) std::memcpy(bstr, strIn, lBytes);
  return bstr;
}

uint32_t SysStringLen(BSTR bstr) { return bstr ? *BlockOf(bstr) / static_cast<uint32_t>(sizeof(OLECHAR)) : 0; }

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(BlockOf(bstr));
}

void VariantInit(VARIANT* pvarg) {
  if (pvarg) std::memset(pvarg, 0, sizeof(VARIANT));
}

HRESULT VariantClear(VARIANT* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  switch (pvarg->vt) {
    case VT_BSTR: SysFreeString(pvarg->bstrVal); break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (pvarg->punkVal) pvarg->punkVal->lpVtbl->Release(pvarg->punkVal);
      break;
    default: break;
  }
  VariantInit(pvarg);
  return S_OK;
}

}  // extern "C"
