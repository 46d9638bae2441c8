// The history as the host sees it: the keyed collection (_Collection), its date-range items
// (_clsItemDateRange) and the enumerator over them (IEnumVARIANT).
#include <algorithm>
#include <optional>

#include "com/ComSupport.h"
#include "com/Objects.h"

namespace varn::com {

namespace {

// Where an enumeration stands: the next position from 1.
struct HistoryCursor {
  std::shared_ptr<HistoryCollection> pHistory;
  int32_t lNext = 1;
};

using ItemObject = ComObject<_clsItemDateRange, clsItemDateRange>;
using HistoryObject = ComObject<_Collection, HistoryCollection>;
using CursorObject = ComObject<IEnumVARIANT, HistoryCursor>;

IEnumVARIANT* WrapCursor(std::shared_ptr<HistoryCursor> pCursor);

// ---- _clsItemDateRange ----

HRESULT put_DateTotal(_clsItemDateRange* This, double vData) {
  ItemObject::Of(This).DateTotal(vData);
  return S_OK;
}
HRESULT get_DateTotal(_clsItemDateRange* This, double* pRetVal) {
  return Answer(pRetVal, [&] { return ItemObject::Of(This).DateTotal(); });
}
HRESULT put_LogDate(_clsItemDateRange* This, DATE vData) {
  ItemObject::Of(This).LogDate(Date{vData});
  return S_OK;
}
HRESULT get_LogDate(_clsItemDateRange* This, DATE* pRetVal) {
  return Answer(pRetVal, [&] { return ItemObject::Of(This).LogDate().dSerial; });
}
HRESULT put_ImportedDate(_clsItemDateRange* This, DATE vData) {
  ItemObject::Of(This).ImportedDate(Date{vData});
  return S_OK;
}
HRESULT get_ImportedDate(_clsItemDateRange* This, DATE* pRetVal) {
  return Answer(pRetVal, [&] { return ItemObject::Of(This).ImportedDate().dSerial; });
}
HRESULT put_Date_ID(_clsItemDateRange* This, int32_t vData) {
  ItemObject::Of(This).Date_ID(vData);
  return S_OK;
}
HRESULT get_Date_ID(_clsItemDateRange* This, int32_t* pRetVal) {
  return Answer(pRetVal, [&] { return ItemObject::Of(This).Date_ID(); });
}
HRESULT SetUp(_clsItemDateRange* This, BSTR sLine, int32_t eField, int32_t eDBAction, VARIANT_BOOL* pRetVal) {
  return Answer(pRetVal, [&] { return VBool(ItemObject::Of(This).SetUp(TextOf(sLine), eField, eDBAction)); });
}
HRESULT DBUpdate(_clsItemDateRange* This, int32_t eDBAction, VARIANT_BOOL* pRetVal) {
  return Answer(pRetVal, [&] { return VBool(ItemObject::Of(This).DBUpdate(eDBAction)); });
}

const _clsItemDateRangeVtbl kItemVtbl = {
    VARN_COM_DISPATCH_SLOTS(ItemObject),
    &put_DateTotal,
    &get_DateTotal,
    &put_LogDate,
    &get_LogDate,
    &put_ImportedDate,
    &get_ImportedDate,
    &put_Date_ID,
    &get_Date_ID,
    &SetUp,
    &DBUpdate,
};

// ---- _Collection ----

// A missing key or position is a bad index to the host, an index of another kind a mismatch.
HRESULT CollectionError(const clsError& err) {
  if (err.Number() == errInvalidCall) return DISP_E_BADINDEX;
  if (err.Number() == errTypeMismatch) return DISP_E_TYPEMISMATCH;
  return 0;
}

bool Omitted(const VARIANT* pArgument) { return !pArgument || pArgument->vt == VT_EMPTY || pArgument->vt == VT_ERROR; }

const std::shared_ptr<clsItemDateRange>& ItemAt(const HistoryCollection& history, const VARIANT& index) {
  switch (index.vt) {
    case VT_I2: return history.Item(static_cast<int32_t>(index.iVal));
    case VT_I4: return history.Item(index.lVal);
    case VT_BSTR: return history.Item(TextOf(index.bstrVal));
    default: RaiseError(errTypeMismatch);
  }
}

// The position from 1 that an index names, as Add's before and after take it.
int32_t PositionOf(const HistoryCollection& history, const VARIANT& index) {
  const auto& pItem = ItemAt(history, index);
  int32_t lPosition = 1;
  while (history.Item(lPosition) != pItem) ++lPosition;
  return lPosition;
}

VARIANT DispatchOf(std::shared_ptr<clsItemDateRange> pItem) {
  VARIANT result;
  VariantInit(&result);
  result.vt = VT_DISPATCH;
  result.pdispVal = reinterpret_cast<IDispatch*>(WrapDateRange(std::move(pItem)));
  return result;
}

HRESULT Item(_Collection* This, VARIANT* Index, VARIANT* pRetVal) {
  if (!Index) return E_POINTER;
  return Answer(
      pRetVal, [&] { return DispatchOf(ItemAt(HistoryObject::Of(This), *Index)); }, &CollectionError);
}

HRESULT Add(_Collection* This, VARIANT* pItem, VARIANT* Key, VARIANT* Before, VARIANT* After) {
  if (!Omitted(Before) && !Omitted(After)) return E_INVALIDARG;
  return Guarded(
      [&] {
        bool bObject = pItem && (pItem->vt == VT_DISPATCH || pItem->vt == VT_UNKNOWN);
        auto pRecord = bObject ? DateRangeBehind(pItem->punkVal) : nullptr;
        if (!pRecord || (!Omitted(Key) && Key->vt != VT_BSTR)) return DISP_E_TYPEMISMATCH;
        HistoryCollection& history = HistoryObject::Of(This);
        std::optional<std::string> sKey;
        std::optional<int32_t> lBefore, lAfter;
        if (!Omitted(Key)) sKey = TextOf(Key->bstrVal);
        if (!Omitted(Before)) lBefore = PositionOf(history, *Before);
        if (!Omitted(After)) lAfter = PositionOf(history, *After);
        history.Add(std::move(pRecord), sKey, lBefore, lAfter);
        return S_OK;
      },
      &CollectionError);
}

HRESULT Count(_Collection* This, int32_t* pRetVal) {
  return Answer(pRetVal, [&] { return HistoryObject::Of(This).Count(); });
}

HRESULT Remove(_Collection* This, VARIANT* Index) {
  if (!Index) return E_POINTER;
  return Guarded(
      [&] {
        HistoryCollection& history = HistoryObject::Of(This);
        history.Remove(PositionOf(history, *Index));
        return S_OK;
      },
      &CollectionError);
}

HRESULT NewEnum(_Collection* This, IUnknown** pRetVal) {
  return Answer(pRetVal, [&] {
    auto pCursor = std::make_shared<HistoryCursor>(HistoryCursor{HistoryObject::SharedOf(This), 1});
    return reinterpret_cast<IUnknown*>(WrapCursor(std::move(pCursor)));
  });
}

const _CollectionVtbl kHistoryVtbl = {
    VARN_COM_DISPATCH_SLOTS(HistoryObject), &Item, &Add, &Count, &Remove, &NewEnum,
};

// ---- IEnumVARIANT ----

HRESULT Next(IEnumVARIANT* This, uint32_t celt, VARIANT* rgVar, uint32_t* pCeltFetched) {
  if (pCeltFetched) *pCeltFetched = 0;
  if (celt > 0 && !rgVar) return E_POINTER;
  return Guarded([&] {
    HistoryCursor& cursor = CursorObject::Of(This);
    uint32_t lFetched = 0;
    for (; lFetched < celt && cursor.lNext <= cursor.pHistory->Count(); ++lFetched) {
      rgVar[lFetched] = DispatchOf(cursor.pHistory->Item(cursor.lNext++));
    }
    if (pCeltFetched) *pCeltFetched = lFetched;
    return lFetched == celt ? S_OK : S_FALSE;
  });
}

HRESULT Skip(IEnumVARIANT* This, uint32_t celt) {
  HistoryCursor& cursor = CursorObject::Of(This);
  int64_t lTarget = static_cast<int64_t>(cursor.lNext) + celt;
  int64_t lEnd = static_cast<int64_t>(cursor.pHistory->Count()) + 1;
  cursor.lNext = static_cast<int32_t>(std::min(lTarget, lEnd));
  return lTarget <= lEnd ? S_OK : S_FALSE;
}

HRESULT Reset(IEnumVARIANT* This) {
  CursorObject::Of(This).lNext = 1;
  return S_OK;
}

HRESULT Clone(IEnumVARIANT* This, IEnumVARIANT** ppEnum) {
  return Answer(ppEnum, [&] { return WrapCursor(std::make_shared<HistoryCursor>(CursorObject::Of(This))); });
}

const IEnumVARIANTVtbl kCursorVtbl = {VARN_COM_UNKNOWN_SLOTS(CursorObject), &Next, &Skip, &Reset, &Clone};

IEnumVARIANT* WrapCursor(std::shared_ptr<HistoryCursor> pCursor) {
  return CursorObject::Wrap(&kCursorVtbl, &IID_IEnumVARIANT, std::move(pCursor));
}

}  // namespace

_clsItemDateRange* WrapDateRange(std::shared_ptr<clsItemDateRange> pItem) {
  return ItemObject::Wrap(&kItemVtbl, &IID__clsItemDateRange, std::move(pItem));
}

_Collection* WrapHistory(std::shared_ptr<HistoryCollection> pHistory) {
  return HistoryObject::Wrap(&kHistoryVtbl, &IID__Collection, std::move(pHistory));
}

std::shared_ptr<clsItemDateRange> DateRangeBehind(IUnknown* pObject) {
  if (!pObject) return nullptr;
  void* pInterface = nullptr;
  if (FAILED(pObject->lpVtbl->QueryInterface(pObject, &IID__clsItemDateRange, &pInterface))) return nullptr;
  auto* pMine = ItemObject::Mine(pInterface, &kItemVtbl);
  std::shared_ptr<clsItemDateRange> pItem = pMine ? pMine->Shared() : nullptr;
  auto* pUnknown = static_cast<IUnknown*>(pInterface);
  pUnknown->lpVtbl->Release(pUnknown);
  return pItem;
}

}  // namespace varn::com
