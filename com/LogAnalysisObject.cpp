// _clsLogAnalysis: the import service as the host drives it.
#include "com/ComSupport.h"
#include "com/Objects.h"
#include "runtime/Text.h"

namespace varn::com {

namespace {

using Object = ComObject<_clsLogAnalysis, clsLogAnalysis>;

HRESULT get_UncategorisedLines(_clsLogAnalysis* This, BSTR* pRetVal) {
  return Answer(pRetVal, [&] { return NewBstr(Object::Of(This).UncategorisedLines()); });
}

HRESULT get_UnreadableLines(_clsLogAnalysis* This, BSTR* pRetVal) {
  return Answer(pRetVal, [&] {
    std::string sLines;
    for (const UnreadableLine& line : Object::Of(This).UnreadableLines())
      sLines.append("\r\n").append(FileNameOf(line.sFile)).append(": ").append(line.Heading()).append(line.sText);
    return NewBstr(sLines);
  });
}

HRESULT get_WhatDBAction(_clsLogAnalysis* This, int32_t* pRetVal) {
  return Answer(pRetVal, [&] { return static_cast<int32_t>(Object::Of(This).WhatDBAction()); });
}

HRESULT get_IsConnected(_clsLogAnalysis* This, VARIANT_BOOL* pRetVal) {
  return Answer(pRetVal, [&] { return VBool(Object::Of(This).IsConnected()); });
}

HRESULT get_DBConnection(_clsLogAnalysis* This, _clsConnection** pRetVal) {
  return Answer(pRetVal, [&]() -> _clsConnection* {
    auto pConnection = Object::Of(This).DBConnection();
    return pConnection ? WrapConnection(std::move(pConnection)) : nullptr;
  });
}

HRESULT get_HistoryLogDates(_clsLogAnalysis* This, _Collection** pRetVal) {
  return Answer(pRetVal, [&]() -> _Collection* {
    auto pHistory = Object::Of(This).HistoryLogDates();
    return pHistory ? WrapHistory(std::move(pHistory)) : nullptr;
  });
}

HRESULT GetHistoryDates(_clsLogAnalysis* This) {
  return Guarded([&] {
    Object::Of(This).GetHistoryDates();
    return S_OK;
  });
}

HRESULT ProcessLogFile(_clsLogAnalysis* This, BSTR sFilePath, VARIANT_BOOL* pRetVal) {
  return Answer(pRetVal, [&] { return VBool(Object::Of(This).ProcessLogFile(TextOf(sFilePath))); });
}

HRESULT IsAlreadyImported(_clsLogAnalysis* This, BSTR sFileName, BSTR* sDateImported, VARIANT_BOOL* pRetVal) {
  return Answer(pRetVal, [&] {
    std::string sImported;
    bool bFound = Object::Of(This).IsAlreadyImported(TextOf(sFileName), sDateImported ? &sImported : nullptr);
    if (bFound && sDateImported) {
      BSTR bstrImported = NewBstr(sImported);
      SysFreeString(*sDateImported);
      *sDateImported = bstrImported;
    }
    return VBool(bFound);
  });
}

HRESULT DeleteLogDate(_clsLogAnalysis* This, BSTR sDate, VARIANT_BOOL* pRetVal) {
  return Answer(pRetVal, [&] { return VBool(Object::Of(This).DeleteLogDate(TextOf(sDate))); });
}

HRESULT Initialize(_clsLogAnalysis* This, BSTR sDBPath) {
  return Guarded([&] {
    Object::Of(This).Initialize(TextOf(sDBPath));
    return S_OK;
  });
}

const _clsLogAnalysisVtbl kVtbl = {
    VARN_COM_DISPATCH_SLOTS(Object),
    &get_UncategorisedLines,
    &get_WhatDBAction,
    &get_IsConnected,
    &get_DBConnection,
    &get_HistoryLogDates,
    &GetHistoryDates,
    &ProcessLogFile,
    &IsAlreadyImported,
    &DeleteLogDate,
    &Initialize,
    &get_UnreadableLines,
};

}  // namespace

_clsLogAnalysis* WrapLogAnalysis(std::shared_ptr<clsLogAnalysis> pService) {
  return Object::Wrap(&kVtbl, &IID__clsLogAnalysis, std::move(pService));
}

}  // namespace varn::com
