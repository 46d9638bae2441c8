// Object identity and counts, texts across the boundary, and the string and VARIANT exports.
#include "com/ComSupport.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

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

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& s, char32_t c) {
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& s, char32_t c) {
  if (c < 0x10000) {
    s += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    s += static_cast<char16_t>(0xD800 + (c >> 10));
    s += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

// The code point starting at s[n], advancing n past it; a malformed or overlong sequence
// gives U+FFFD and skips one byte.
char32_t NextUtf8(std::string_view s, size_t& n) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char lead = byte(n);
  int nMore = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
  if (nMore < 0 || n + static_cast<size_t>(nMore) >= s.size()) {
    ++n;
    return kReplacement;
  }
  char32_t c = nMore == 0 ? lead : lead & (0x3F >> nMore);
  for (int k = 1; k <= nMore; ++k) {
    if ((byte(n + k) & 0xC0) != 0x80) {
      ++n;
      return kReplacement;
    }
    c = (c << 6) | (byte(n + k) & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
  if (c < kLeast[nMore] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++n;
    return kReplacement;
  }
  n += static_cast<size_t>(nMore) + 1;
  return c;
}

// The block of a BSTR: its byte length, then the characters.
uint32_t* BlockOf(BSTR bstr) { return reinterpret_cast<uint32_t*>(bstr) - 1; }

}  // namespace

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::string Utf8Of(std::u16string_view s) {
  std::string sOut;
  sOut.reserve(s.size());
  for (size_t n = 0; n < s.size(); ++n) {
    char32_t c = s[n];
    if (c >= 0xD800 && c <= 0xDBFF && n + 1 < s.size() && s[n + 1] >= 0xDC00 && s[n + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++n] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(sOut, c);
  }
  return sOut;
}

std::u16string Utf16Of(std::string_view s) {
  std::u16string sOut;
  sOut.reserve(s.size());
  for (size_t n = 0; n < s.size();) AppendUtf16(sOut, NextUtf8(s, n));
  return sOut;
}

std::string TextOf(BSTR bstr) { return bstr ? Utf8Of(std::u16string_view(bstr, SysStringLen(bstr))) : std::string(); }

BSTR NewBstr(std::string_view sUtf8) {
  std::u16string s = Utf16Of(sUtf8);
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
