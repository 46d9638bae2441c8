/* VarnLogProcess 2.1 (locale 0x409, "Varn Log Import Lib "): the binary interface of
 * libVarnLogImp.so, the import component as an in-process server. Plain C, usable on its
 * own: a host loads the library with dlopen, takes the entry points below with dlsym, gets
 * a class factory from DllGetClassObject and calls every object through its function table.
 *
 * Every interface pointer points to a pointer to its function table. Slots 0-2 are those of
 * IUnknown; every class interface is dual, so slots 3-6 are those of IDispatch (answering
 * E_NOTIMPL but for GetTypeInfoCount, which answers 0), and its own members follow from
 * slot 7. Every member answers an HRESULT; an error the component raises comes back as a
 * failing one (a runtime error n as VARN_E_RUNTIME(n)), never as a crash.
 *
 * Ownership: the caller owns every out-string and out-object (release an object, free a
 * string with SysFreeString, clear a VARIANT with VariantClear). Strings passed in stay the
 * caller's; a NULL BSTR is an empty or omitted text. Texts are UTF-16 here and UTF-8 inside.
 */
#ifndef VARNLOGPROCESS_H
#define VARNLOGPROCESS_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define VARNLOGPROCESS_NAME "VarnLogProcess"
#define VARNLOGPROCESS_DESCRIPTION "Varn Log Import Lib "
#define VARNLOGPROCESS_VERSION_MAJOR 2
#define VARNLOGPROCESS_VERSION_MINOR 1
#define VARNLOGPROCESS_LCID 0x409
#define VARNLOGPROCESS_LIBRARY "libVarnLogImp.so"

/* ---- Results ---- */

typedef int32_t HRESULT;

#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
#define SELFREG_E_CLASS ((HRESULT)0x80040201)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_BADINDEX ((HRESULT)0x8002000B)
/* A runtime error of the component (91: object not set, 457: key already in a collection). */
#define VARN_E_RUNTIME(n) ((HRESULT)(0x800A0000u | ((uint32_t)(n)&0xFFFFu)))

/* ---- Types ---- */

typedef struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;

/* UTF-16 text preceded by its length in bytes (32 bits) and followed by a NUL; made only
 * by SysAllocString and SysAllocStringLen. */
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;

typedef int16_t VARIANT_BOOL;
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

/* Days since 30 December 1899, the time of day as the fraction. */
typedef double DATE;

typedef struct IUnknown IUnknown;
typedef struct IDispatch IDispatch;

typedef uint16_t VARTYPE;
enum VARENUM {
  VT_EMPTY = 0,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_UNKNOWN = 13
};

/* 16 bytes: the type, three reserved words, then the value. A VT_ERROR or VT_EMPTY argument
 * (or a NULL VARIANT pointer) is an omitted optional argument. */
typedef struct VARIANT {
  VARTYPE vt;
  uint16_t wReserved1;
  uint16_t wReserved2;
  uint16_t wReserved3;
  union {
    int64_t llVal;
    int32_t lVal;
    int16_t iVal;
    double dblVal;
    DATE date;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
  };
} VARIANT;

typedef enum varneDBAction { enuUnspecified = 0, enuInsert = 1, enuUpdate = 2, enuDelete = 3 } varneDBAction;

/* ---- Identities ---- */

#define VARN_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  static const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

VARN_DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
VARN_DEFINE_GUID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
VARN_DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
VARN_DEFINE_GUID(IID_IEnumVARIANT, 0x00020404, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

VARN_DEFINE_GUID(LIBID_VarnLogProcess, 0x641EED9E, 0x6151, 0x4788, 0xA1, 0x5C, 0x1E, 0x60, 0xDC, 0x41, 0xE3, 0x60);
VARN_DEFINE_GUID(CLSID_clsLogAnalysis, 0x683949D4, 0x9150, 0x4AEA, 0xA2, 0xE4, 0x98, 0xE5, 0x33, 0xB8, 0x8A, 0x6F);
VARN_DEFINE_GUID(IID__clsLogAnalysis, 0x5619B94B, 0x7036, 0x4864, 0xB9, 0xA9, 0xD2, 0xEF, 0x2F, 0x35, 0xD8, 0xB0);
VARN_DEFINE_GUID(CLSID_clsConnection, 0x4095F4F1, 0x705C, 0x4F75, 0xA1, 0xEE, 0xC8, 0xDA, 0x85, 0x67, 0xCF, 0xDD);
VARN_DEFINE_GUID(IID__clsConnection, 0x87C4162E, 0xDB91, 0x4FCD, 0x86, 0x18, 0xA6, 0xC3, 0xFD, 0xD9, 0x9D, 0xB9);
VARN_DEFINE_GUID(CLSID_clsItemGoods, 0x43C60F79, 0x2877, 0x4CD5, 0xBB, 0x70, 0x38, 0x26, 0x05, 0xC9, 0xAD, 0xF9);
VARN_DEFINE_GUID(IID__clsItemGoods, 0x5CBA1961, 0x3971, 0x4E8B, 0x90, 0x9C, 0x1F, 0x6D, 0xE2, 0x19, 0x9E, 0xBA);
VARN_DEFINE_GUID(IID__clsItemDateRange, 0x10F1B452, 0xBF93, 0x43E4, 0xBE, 0xEC, 0xCE, 0x76, 0x7D, 0x82, 0xD2, 0xD0);
VARN_DEFINE_GUID(IID__Collection, 0xC311CFD8, 0x15CD, 0x4A82, 0xAC, 0xDC, 0xB9, 0x70, 0x61, 0xC9, 0x23, 0xB9);

/* ---- Interfaces ---- */

#define VARN_IUNKNOWN_SLOTS(T)                                            \
  HRESULT (*QueryInterface)(T * This, const IID* riid, void** ppvObject); \
  uint32_t (*AddRef)(T * This);                                           \
  uint32_t (*Release)(T * This)

#define VARN_IDISPATCH_SLOTS(T)                                                                        \
  VARN_IUNKNOWN_SLOTS(T);                                                                              \
  HRESULT (*GetTypeInfoCount)(T * This, uint32_t * pctinfo);                                           \
  HRESULT (*GetTypeInfo)(T * This, uint32_t iTInfo, uint32_t lcid, void** ppTInfo);                    \
  HRESULT (*GetIDsOfNames)                                                                             \
  (T * This, const IID* riid, OLECHAR** rgszNames, uint32_t cNames, uint32_t lcid, int32_t* rgDispId); \
  HRESULT (*Invoke)                                                                                    \
  (T * This, int32_t dispIdMember, const IID* riid, uint32_t lcid, uint16_t wFlags, void* pDispParams, \
   VARIANT* pVarResult, void* pExcepInfo, uint32_t* puArgErr)

typedef struct IUnknownVtbl {
  VARN_IUNKNOWN_SLOTS(IUnknown);
} IUnknownVtbl;
struct IUnknown {
  const IUnknownVtbl* lpVtbl;
};

typedef struct IDispatchVtbl {
  VARN_IDISPATCH_SLOTS(IDispatch);
} IDispatchVtbl;
struct IDispatch {
  const IDispatchVtbl* lpVtbl;
};

typedef struct IClassFactory IClassFactory;
typedef struct IClassFactoryVtbl {
  VARN_IUNKNOWN_SLOTS(IClassFactory);
  /* pUnkOuter must be NULL (CLASS_E_NOAGGREGATION otherwise). */
  HRESULT (*CreateInstance)(IClassFactory* This, IUnknown* pUnkOuter, const IID* riid, void** ppvObject);
  /* Non-zero keeps the library loaded (DllCanUnloadNow answers S_FALSE) until a zero call. */
  HRESULT (*LockServer)(IClassFactory* This, int32_t fLock);
} IClassFactoryVtbl;
struct IClassFactory {
  const IClassFactoryVtbl* lpVtbl;
};

/* Next answers S_FALSE when fewer than celt items were left; the items are VT_DISPATCH. */
typedef struct IEnumVARIANT IEnumVARIANT;
typedef struct IEnumVARIANTVtbl {
  VARN_IUNKNOWN_SLOTS(IEnumVARIANT);
  HRESULT (*Next)(IEnumVARIANT* This, uint32_t celt, VARIANT* rgVar, uint32_t* pCeltFetched);
  HRESULT (*Skip)(IEnumVARIANT* This, uint32_t celt);
  HRESULT (*Reset)(IEnumVARIANT* This);
  HRESULT (*Clone)(IEnumVARIANT* This, IEnumVARIANT** ppEnum);
} IEnumVARIANTVtbl;
struct IEnumVARIANT {
  const IEnumVARIANTVtbl* lpVtbl;
};

typedef struct _clsConnection _clsConnection;
typedef struct _Collection _Collection;

/* The import service. Initialize first (NULL: the default database "varnrpt.mdb" beside the
 * library); get_IsConnected before it fails with VARN_E_RUNTIME(91). The operations report
 * their failures to the user themselves and answer VARIANT_FALSE. */
typedef struct _clsLogAnalysis _clsLogAnalysis;
typedef struct _clsLogAnalysisVtbl {
  VARN_IDISPATCH_SLOTS(_clsLogAnalysis);
  HRESULT (*get_UncategorisedLines)(_clsLogAnalysis* This, BSTR* pRetVal);
  HRESULT (*get_WhatDBAction)(_clsLogAnalysis* This, int32_t* pRetVal);
  HRESULT (*get_IsConnected)(_clsLogAnalysis* This, VARIANT_BOOL* pRetVal);
  /* NULL before Initialize. */
  HRESULT (*get_DBConnection)(_clsLogAnalysis* This, _clsConnection** pRetVal);
  /* NULL before the history is first loaded; a later load makes a new collection, and one
   * taken earlier keeps its contents. */
  HRESULT (*get_HistoryLogDates)(_clsLogAnalysis* This, _Collection** pRetVal);
  HRESULT (*GetHistoryDates)(_clsLogAnalysis* This);
  HRESULT (*ProcessLogFile)(_clsLogAnalysis* This, BSTR sFilePath, VARIANT_BOOL* pRetVal);
  /* sDateImported may be NULL; when the date is found, *sDateImported (NULL or a BSTR of the
   * caller's) is freed and replaced by the date of its import. */
  HRESULT (*IsAlreadyImported)(_clsLogAnalysis* This, BSTR sFileName, BSTR* sDateImported, VARIANT_BOOL* pRetVal);
  HRESULT (*DeleteLogDate)(_clsLogAnalysis* This, BSTR sDate, VARIANT_BOOL* pRetVal);
  HRESULT (*Initialize)(_clsLogAnalysis* This, BSTR sDBPath);
  /* The session and shift lines that could not be read (reported, nothing of them stored), of
   * every import so far, each after a CRLF as "25-12-2003.log: line 7 unreadable (9 Subscript out
   * of range): PC04". UncategorisedLines holds only the lines of no known kind. Last in the
   * table, so that hosts built before it keep their layout. */
  HRESULT (*get_UnreadableLines)(_clsLogAnalysis* This, BSTR* pRetVal);
} _clsLogAnalysisVtbl;
struct _clsLogAnalysis {
  const _clsLogAnalysisVtbl* lpVtbl;
};

/* The connection to the report database. get_IsConnected before SignOn, and get_DBConnection
 * while nothing is open, fail with VARN_E_RUNTIME(91). */
typedef struct _clsConnectionVtbl {
  VARN_IDISPATCH_SLOTS(_clsConnection);
  HRESULT (*get_IsConnected)(_clsConnection* This, VARIANT_BOOL* pRetVal);
  /* The open database connection itself, an object with IUnknown only. */
  HRESULT (*get_DBConnection)(_clsConnection* This, IUnknown** pRetVal);
  HRESULT (*SignOn)(_clsConnection* This, BSTR sDBPath, VARIANT_BOOL* pRetVal);
} _clsConnectionVtbl;
struct _clsConnection {
  const _clsConnectionVtbl* lpVtbl;
};

/* The goods of one session. SetUp and DBUpdate work on the database of the service object
 * that ran Initialize last. */
typedef struct _clsItemGoods _clsItemGoods;
typedef struct _clsItemGoodsVtbl {
  VARN_IDISPATCH_SLOTS(_clsItemGoods);
  HRESULT (*get_TotalGoods)(_clsItemGoods* This, double* pRetVal);
  HRESULT (*put_Date_ID)(_clsItemGoods* This, int32_t vData);
  HRESULT (*get_Date_ID)(_clsItemGoods* This, int32_t* pRetVal);
  HRESULT (*put_Session_ID)(_clsItemGoods* This, int32_t vData);
  HRESULT (*get_Session_ID)(_clsItemGoods* This, int32_t* pRetVal);
  HRESULT (*SetUp)(_clsItemGoods* This, BSTR sGoodsLine, VARIANT_BOOL* pRetVal);
  HRESULT (*DBUpdate)(_clsItemGoods* This, int32_t eDBAction, VARIANT_BOOL* pRetVal);
} _clsItemGoodsVtbl;
struct _clsItemGoods {
  const _clsItemGoodsVtbl* lpVtbl;
};

/* One imported date, as the history collection holds it. */
typedef struct _clsItemDateRange _clsItemDateRange;
typedef struct _clsItemDateRangeVtbl {
  VARN_IDISPATCH_SLOTS(_clsItemDateRange);
  HRESULT (*put_DateTotal)(_clsItemDateRange* This, double vData);
  HRESULT (*get_DateTotal)(_clsItemDateRange* This, double* pRetVal);
  HRESULT (*put_LogDate)(_clsItemDateRange* This, DATE vData);
  HRESULT (*get_LogDate)(_clsItemDateRange* This, DATE* pRetVal);
  HRESULT (*put_ImportedDate)(_clsItemDateRange* This, DATE vData);
  HRESULT (*get_ImportedDate)(_clsItemDateRange* This, DATE* pRetVal);
  HRESULT (*put_Date_ID)(_clsItemDateRange* This, int32_t vData);
  HRESULT (*get_Date_ID)(_clsItemDateRange* This, int32_t* pRetVal);
  HRESULT (*SetUp)(_clsItemDateRange* This, BSTR sLine, int32_t eField, int32_t eDBAction, VARIANT_BOOL* pRetVal);
  HRESULT (*DBUpdate)(_clsItemDateRange* This, int32_t eDBAction, VARIANT_BOOL* pRetVal);
} _clsItemDateRangeVtbl;
struct _clsItemDateRange {
  const _clsItemDateRangeVtbl* lpVtbl;
};

/* The keyed collection of the history: items _clsItemDateRange (as VT_DISPATCH), keys the log
 * dates as "dd/mm/yyyy", compared without regard to letter case. An index is a position from
 * 1 (VT_I2 or VT_I4) or a key (VT_BSTR); a bad one answers DISP_E_BADINDEX, a second item
 * under a key VARN_E_RUNTIME(457). Add takes before or after, not both. */
typedef struct _CollectionVtbl {
  VARN_IDISPATCH_SLOTS(_Collection);
  HRESULT (*Item)(_Collection* This, VARIANT* Index, VARIANT* pRetVal);
  HRESULT (*Add)(_Collection* This, VARIANT* Item, VARIANT* Key, VARIANT* Before, VARIANT* After);
  HRESULT (*Count)(_Collection* This, int32_t* pRetVal);
  HRESULT (*Remove)(_Collection* This, VARIANT* Index);
  /* An IEnumVARIANT over the items in order (ask for IID_IEnumVARIANT). */
  HRESULT (*_NewEnum)(_Collection* This, IUnknown** pRetVal);
} _CollectionVtbl;
struct _Collection {
  const _CollectionVtbl* lpVtbl;
};

/* ---- Entry points ---- */

/* A class factory (IID_IClassFactory or IID_IUnknown) for CLSID_clsLogAnalysis,
 * CLSID_clsConnection or CLSID_clsItemGoods; CLASS_E_CLASSNOTAVAILABLE for any other. */
HRESULT DllGetClassObject(const CLSID* rclsid, const IID* riid, void** ppv);
/* S_OK when the host holds no object and no lock; unloading then ends what the component
 * still keeps (the service object that ran Initialize last). */
HRESULT DllCanUnloadNow(void);
/* Records the three classes (CLSID, ProgID "VarnLogImp.<class>", library path, type library)
 * as "key=value" lines in $XDG_CONFIG_HOME/varnlogimp/registry (~/.config without it);
 * DllUnregisterServer removes exactly those lines. SELFREG_E_CLASS when the file cannot be
 * written. */
HRESULT DllRegisterServer(void);
HRESULT DllUnregisterServer(void);

/* NULL for a NULL text or when memory runs out. */
BSTR SysAllocString(const OLECHAR* psz);
/* ui characters of strIn (zeros when strIn is NULL), then a NUL. */
BSTR SysAllocStringLen(const OLECHAR* strIn, uint32_t ui);
/* Characters, not bytes; 0 for NULL. */
uint32_t SysStringLen(BSTR bstr);
void SysFreeString(BSTR bstr);
void VariantInit(VARIANT* pvarg);
/* Frees a BSTR, releases an object, and leaves VT_EMPTY. */
HRESULT VariantClear(VARIANT* pvarg);

/* ---- What the user sees ---- */

/* Until a host installs a screen of its own, the component chooses one when it first shows
 * something: its windows (libVarnLogImpWindows.so beside the library, needing Qt 6) when the
 * process has a display or a Qt 6 application, otherwise the terminal, which without one writes
 * error reports to stderr and answers every question No. A host that shows things its own way, or
 * must answer the update question without a terminal, installs a table of callbacks instead.
 * The texts are UTF-16 BSTRs of the component, valid during the call only. The callbacks are
 * called on the thread of the call that shows something; any but MsgBox may be NULL (nothing is
 * done then). */
#define VARN_MB_OK 0          /* styles: the buttons ... */
#define VARN_MB_YESNO 4
#define VARN_MB_CRITICAL 16   /* ... plus the icon: an error report is 16, a question 36 */
#define VARN_MB_QUESTION 32
#define VARN_IDOK 1           /* the buttons a box answers */
#define VARN_IDYES 6
#define VARN_IDNO 7
#define VARN_POINTER_DEFAULT 0
#define VARN_POINTER_HOURGLASS 11

typedef struct VARNSCREEN {
  uint32_t cbSize; /* sizeof(VARNSCREEN) */
  void* pContext;  /* handed to every callback as it is */
  /* A modal box, titled sTitle ("Varn Log Process"); blocks until answered and returns the
   * button. An error report holds three lines split by CRLF: the number, "step/source"
   * ("02/clsConnection:SignOn") and what went wrong. */
  int32_t (*MsgBox)(void* pContext, BSTR sPrompt, int32_t nStyle, BSTR sTitle);
  /* VARN_POINTER_HOURGLASS while the component works, VARN_POINTER_DEFAULT after. */
  void (*SetMousePointer)(void* pContext, int32_t nPointer);
  /* Once for every item of a log being read: let the host's pending events run. */
  void (*DoEvents)(void* pContext);
  /* The progress window changed: caption (" Please Wait..."), note ("Processing 25-12-2003.log",
   * "Updating database ..."), the bar's minimum, maximum and value, and whether it is shown. A
   * maximum not above the minimum is an empty bar. */
  void (*DrawProgress)(void* pContext, BSTR sCaption, BSTR sNote, double dblMin, double dblMax, double dblValue,
                       VARIANT_BOOL bVisible);
} VARNSCREEN;

/* Installs the host's screen for every object of the library (the table is copied; pContext must
 * stay valid while it is installed); NULL gives the component's own choice back. E_INVALIDARG
 * when cbSize is smaller than this header's VARNSCREEN or MsgBox is NULL. */
HRESULT VarnInstallScreen(const VARNSCREEN* pScreen);
/* The last error report shown on the calling thread, by whatever screen: its number (0 before the
 * first), "step/source" and what went wrong, as the report's three lines say. The caller frees
 * the BSTRs; any pointer may be NULL. */
HRESULT VarnGetLastError(int32_t* plNumber, BSTR* psSource, BSTR* psDescription);

/* The entry points' types, for dlsym. */
typedef HRESULT (*PFN_DllGetClassObject)(const CLSID* rclsid, const IID* riid, void** ppv);
typedef HRESULT (*PFN_DllCanUnloadNow)(void);
typedef HRESULT (*PFN_DllRegisterServer)(void);
typedef HRESULT (*PFN_DllUnregisterServer)(void);
typedef BSTR (*PFN_SysAllocString)(const OLECHAR* psz);
typedef BSTR (*PFN_SysAllocStringLen)(const OLECHAR* strIn, uint32_t ui);
typedef uint32_t (*PFN_SysStringLen)(BSTR bstr);
typedef void (*PFN_SysFreeString)(BSTR bstr);
typedef void (*PFN_VariantInit)(VARIANT* pvarg);
typedef HRESULT (*PFN_VariantClear)(VARIANT* pvarg);
typedef HRESULT (*PFN_VarnInstallScreen)(const VARNSCREEN* pScreen);
typedef HRESULT (*PFN_VarnGetLastError)(int32_t* plNumber, BSTR* psSource, BSTR* psDescription);

#ifdef __cplusplus
}
#endif

#endif /* VARNLOGPROCESS_H */
