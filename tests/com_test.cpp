// The in-process server as a host uses it: the library loaded with dlopen for each test and
// unloaded after it, every call made through its exports and function tables.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "com/VarnLogProcess.h"
#include "tests/TestSupport.h"

namespace {

using namespace std::chrono_literals;
using varn::test::ReadFile;
using varn::test::SourceDir;
using varn::test::SqlRows;
using varn::test::SqlValue;
using varn::test::TempFolder;
using varn::test::WriteFile;
namespace fs = std::filesystem;

std::string LibraryPath() {
  const char* sBinary = std::getenv("VARN_BINARY_DIR");
  return std::string(sBinary ? sBinary : ".") + "/" + VARNLOGPROCESS_LIBRARY;
}

// The library with its exports bound; unloaded at the end unless a test does it first.
class Library {
 public:
  Library() : mpHandle(dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (!mpHandle) throw std::runtime_error(dlerror());
    Bind("DllGetClassObject", DllGetClassObject);
    Bind("DllCanUnloadNow", DllCanUnloadNow);
    Bind("DllRegisterServer", DllRegisterServer);
    Bind("DllUnregisterServer", DllUnregisterServer);
    Bind("SysAllocString", SysAllocString);
    Bind("SysAllocStringLen", SysAllocStringLen);
    Bind("SysStringLen", SysStringLen);
    Bind("SysFreeString", SysFreeString);
    Bind("VariantInit", VariantInit);
    Bind("VariantClear", VariantClear);
  }
  ~Library() { Unload(); }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  void Unload() {
    if (mpHandle) dlclose(mpHandle);
    mpHandle = nullptr;
  }

  PFN_DllGetClassObject DllGetClassObject = nullptr;
  PFN_DllCanUnloadNow DllCanUnloadNow = nullptr;
  PFN_DllRegisterServer DllRegisterServer = nullptr;
  PFN_DllUnregisterServer DllUnregisterServer = nullptr;
  PFN_SysAllocString SysAllocString = nullptr;
  PFN_SysAllocStringLen SysAllocStringLen = nullptr;
  PFN_SysStringLen SysStringLen = nullptr;
  PFN_SysFreeString SysFreeString = nullptr;
  PFN_VariantInit VariantInit = nullptr;
  PFN_VariantClear VariantClear = nullptr;

 private:
  template <class Fn>
  void Bind(const char* sName, Fn& fn) {
    void* pSymbol = dlsym(mpHandle, sName);
    if (!pSymbol) throw std::runtime_error(std::string("no export ") + sName);
    std::memcpy(&fn, &pSymbol, sizeof pSymbol);
  }

  void* mpHandle;
};

// An interface pointer the test holds: released when it goes.
template <class I>
class Ref {
 public:
  Ref() = default;
  explicit Ref(I* p) : mp(p) {}
  Ref(Ref&& other) noexcept : mp(std::exchange(other.mp, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    std::swap(mp, other.mp);
    return *this;
  }
  ~Ref() { Reset(); }

  void Reset() {
    if (mp) mp->lpVtbl->Release(mp);
    mp = nullptr;
  }
  I* get() const { return mp; }
  I* operator->() const { return mp; }
  I** Out() {
    Reset();
    return &mp;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }

 private:
  I* mp = nullptr;
};

template <class I>
HRESULT Query(I* p, const IID& iid, void** ppv) {
  return p->lpVtbl->QueryInterface(p, &iid, ppv);
}

// The object's reference count, read by taking one more and giving it back.
template <class I>
uint32_t Refs(I* p) {
  p->lpVtbl->AddRef(p);
  return p->lpVtbl->Release(p);
}

template <class I>
void* IdentityOf(I* p) {
  void* pUnknown = nullptr;
  EXPECT_EQ(Query(p, IID_IUnknown, &pUnknown), S_OK);
  if (pUnknown) static_cast<IUnknown*>(pUnknown)->lpVtbl->Release(static_cast<IUnknown*>(pUnknown));
  return pUnknown;
}

double Serial(std::chrono::year_month_day date) {
  return static_cast<double>((std::chrono::sys_days(date) - std::chrono::sys_days(1899y / 12 / 30)).count());
}

// Whether this process holds the file open.
bool HoldsOpen(const std::string& sPath) {
  std::error_code ec;
  const fs::path target = fs::canonical(sPath, ec);
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    if (fs::read_symlink(entry.path(), ec) == target) return true;
  }
  return false;
}

bool LibraryMapped() { return ReadFile("/proc/self/maps").find(VARNLOGPROCESS_LIBRARY) != std::string::npos; }

class ComServer : public ::testing::Test {
 protected:
  // A BSTR of the test's, freed when the test ends.
  BSTR Text(std::u16string_view s) {
    BSTR bstr = mLib.SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size()));
    mvStrings.push_back(bstr);
    return bstr;
  }
  BSTR PathText(const std::string& sPath) { return Text(fs::path(sPath).u16string()); }
  std::u16string Taken(BSTR bstr) {
    std::u16string s(bstr ? bstr : u"", mLib.SysStringLen(bstr));
    mLib.SysFreeString(bstr);
    return s;
  }

  template <class I>
  Ref<I> Create(const CLSID& clsid, const IID& iid) {
    Ref<IClassFactory> factory;
    EXPECT_EQ(mLib.DllGetClassObject(&clsid, &IID_IClassFactory, factory.OutVoid()), S_OK);
    Ref<I> object;
    EXPECT_EQ(factory->lpVtbl->CreateInstance(factory.get(), nullptr, &iid, object.OutVoid()), S_OK);
    return object;
  }
  Ref<_clsLogAnalysis> Service(const std::string& sDBPath) {
    auto service = Create<_clsLogAnalysis>(CLSID_clsLogAnalysis, IID__clsLogAnalysis);
    EXPECT_EQ(service->lpVtbl->Initialize(service.get(), PathText(sDBPath)), S_OK);
    return service;
  }
  // The example log as the log of another day: its date line and its file name changed.
  std::string ExampleLog(const std::string& sDay) {
    std::string sLog = ReadFile(SourceDir() + "/examples/14-03-2024.log");
    sLog.replace(sLog.find("14/03/2024"), 10, sDay);
    std::string sName = sDay;
    for (char& c : sName) c = c == '/' ? '-' : c;
    return WriteFile(mTemp / (sName + ".log"), sLog);
  }
  bool Import(_clsLogAnalysis* service, const std::string& sLog) {
    VARIANT_BOOL bDone = VARIANT_FALSE;
    EXPECT_EQ(service->lpVtbl->ProcessLogFile(service, PathText(sLog), &bDone), S_OK);
    return bDone == VARIANT_TRUE;
  }
  VARIANT_BOOL Connected(_clsConnection* connection) {
    VARIANT_BOOL bConnected = 0;
    EXPECT_EQ(connection->lpVtbl->get_IsConnected(connection, &bConnected), S_OK);
    return bConnected;
  }
  Ref<_clsConnection> ConnectionOf(_clsLogAnalysis* service) {
    Ref<_clsConnection> connection;
    EXPECT_EQ(service->lpVtbl->get_DBConnection(service, connection.Out()), S_OK);
    return connection;
  }
  Ref<_Collection> HistoryOf(_clsLogAnalysis* service) {
    Ref<_Collection> history;
    EXPECT_EQ(service->lpVtbl->get_HistoryLogDates(service, history.Out()), S_OK);
    return history;
  }
  std::vector<std::string> GoodsColumns(const std::string& sDBPath) {
    std::vector<std::string> vColumns;
    for (const auto& row : SqlRows(sDBPath, "SELECT name FROM pragma_table_info('Goods') WHERE name LIKE 'Goods_%'")) {
      vColumns.push_back(row[0]);
    }
    return vColumns;
  }

  // The test's strings go first: freeing them needs the library.
  void Unload() {
    for (BSTR bstr : std::exchange(mvStrings, {})) mLib.SysFreeString(bstr);
    mLib.Unload();
  }
  void TearDown() override { Unload(); }

  Library mLib;
  TempFolder mTemp;
  std::vector<BSTR> mvStrings;
};

VARIANT Index(int32_t lIndex) {
  VARIANT v{};
  v.vt = VT_I4;
  v.lVal = lIndex;
  return v;
}

VARIANT Index(BSTR bstrKey) {
  VARIANT v{};
  v.vt = VT_BSTR;
  v.bstrVal = bstrKey;
  return v;
}

TEST_F(ComServer, FactoriesMakeTheThreeClassesAndNoOther) {
  const GUID kUnknownClass = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  for (const GUID* pClsid : {&LIBID_VarnLogProcess, &IID__clsItemDateRange, &IID__clsLogAnalysis, &kUnknownClass}) {
    void* pFactory = &mLib;
    EXPECT_EQ(mLib.DllGetClassObject(pClsid, &IID_IClassFactory, &pFactory), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(pFactory, nullptr);
  }

  for (const GUID* pClsid : {&CLSID_clsLogAnalysis, &CLSID_clsConnection, &CLSID_clsItemGoods}) {
    Ref<IClassFactory> factory;
    ASSERT_EQ(mLib.DllGetClassObject(pClsid, &IID_IUnknown, factory.OutVoid()), S_OK);
    void* pOther = nullptr;
    EXPECT_EQ(Query(factory.get(), IID_IClassFactory, &pOther), S_OK);
    EXPECT_EQ(pOther, factory.get());
    factory->lpVtbl->Release(factory.get());
    EXPECT_EQ(Query(factory.get(), IID_IDispatch, &pOther), E_NOINTERFACE);
    EXPECT_EQ(pOther, nullptr);

    IUnknown outer{};
    EXPECT_EQ(factory->lpVtbl->CreateInstance(factory.get(), &outer, &IID_IUnknown, &pOther), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->lpVtbl->CreateInstance(factory.get(), nullptr, &IID_IClassFactory, &pOther), E_NOINTERFACE);
    EXPECT_EQ(pOther, nullptr);
    Ref<IUnknown> object;
    EXPECT_EQ(factory->lpVtbl->CreateInstance(factory.get(), nullptr, &IID_IDispatch, object.OutVoid()), S_OK);
    EXPECT_EQ(Refs(object.get()), 1u);
  }
  void* pFactory = nullptr;
  EXPECT_EQ(mLib.DllGetClassObject(&CLSID_clsItemGoods, &IID__clsItemGoods, &pFactory), E_NOINTERFACE);
  EXPECT_EQ(mLib.DllGetClassObject(&CLSID_clsItemGoods, &IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ComServer, EveryObjectAnswersItsInterfacesAndNoOthers) {
  auto service = Service(mTemp / "varnrpt.mdb");
  ASSERT_TRUE(Import(service.get(), ExampleLog("14/03/2024")));
  auto connection = ConnectionOf(service.get());
  auto history = HistoryOf(service.get());
  ASSERT_NE(history.get(), nullptr);
  VARIANT first = Index(1), item;
  ASSERT_EQ(history->lpVtbl->Item(history.get(), &first, &item), S_OK);
  ASSERT_EQ(item.vt, VT_DISPATCH);
  Ref<IDispatch> record(item.pdispVal);
  Ref<IUnknown> cursor, database;
  ASSERT_EQ(history->lpVtbl->_NewEnum(history.get(), cursor.Out()), S_OK);
  ASSERT_EQ(connection->lpVtbl->get_DBConnection(connection.get(), database.Out()), S_OK);

  const std::vector<std::pair<const char*, const IID*>> kInterfaces = {
      {"IUnknown", &IID_IUnknown},
      {"IDispatch", &IID_IDispatch},
      {"IClassFactory", &IID_IClassFactory},
      {"IEnumVARIANT", &IID_IEnumVARIANT},
      {"_clsLogAnalysis", &IID__clsLogAnalysis},
      {"_clsConnection", &IID__clsConnection},
      {"_clsItemGoods", &IID__clsItemGoods},
      {"_clsItemDateRange", &IID__clsItemDateRange},
      {"_Collection", &IID__Collection},
  };
  auto goods = Create<IUnknown>(CLSID_clsItemGoods, IID__clsItemGoods);
  auto created = Create<IUnknown>(CLSID_clsConnection, IID__clsConnection);
  struct Case {
    const char* sObject;
    IUnknown* pObject;
    std::vector<std::string> vAnswers;
  };
  const std::vector<Case> kCases = {
      {"service", reinterpret_cast<IUnknown*>(service.get()), {"IUnknown", "IDispatch", "_clsLogAnalysis"}},
      {"its connection", reinterpret_cast<IUnknown*>(connection.get()), {"IUnknown", "IDispatch", "_clsConnection"}},
      {"a new connection", created.get(), {"IUnknown", "IDispatch", "_clsConnection"}},
      {"goods", goods.get(), {"IUnknown", "IDispatch", "_clsItemGoods"}},
      {"history", reinterpret_cast<IUnknown*>(history.get()), {"IUnknown", "IDispatch", "_Collection"}},
      {"history item", reinterpret_cast<IUnknown*>(record.get()), {"IUnknown", "IDispatch", "_clsItemDateRange"}},
      {"enumerator", cursor.get(), {"IUnknown", "IEnumVARIANT"}},
      {"database connection", database.get(), {"IUnknown"}},
  };
  for (const auto& c : kCases) {
    for (const auto& [sName, pIID] : kInterfaces) {
      SCOPED_TRACE(std::string(c.sObject) + " asked for " + sName);
      bool bAnswers = std::find(c.vAnswers.begin(), c.vAnswers.end(), sName) != c.vAnswers.end();
      void* pInterface = &mLib;
      HRESULT hr = Query(c.pObject, *pIID, &pInterface);
      if (!bAnswers) {
        EXPECT_EQ(hr, E_NOINTERFACE);
        EXPECT_EQ(pInterface, nullptr);
        continue;
      }
      ASSERT_EQ(hr, S_OK);
      // One object, one identity: every interface leads back to the same IUnknown.
      EXPECT_EQ(IdentityOf(static_cast<IUnknown*>(pInterface)), IdentityOf(c.pObject));
      EXPECT_EQ(Refs(c.pObject), 2u);
      static_cast<IUnknown*>(pInterface)->lpVtbl->Release(static_cast<IUnknown*>(pInterface));
    }
    EXPECT_EQ(Query(c.pObject, IID_IUnknown, nullptr), E_POINTER);
  }
}

TEST_F(ComServer, CountsReferencesAndAllowsUnloadingOnlyWhenNothingIsHeld) {
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_OK);
  auto goods = Create<_clsItemGoods>(CLSID_clsItemGoods, IID__clsItemGoods);
  EXPECT_EQ(goods->lpVtbl->AddRef(goods.get()), 2u);
  EXPECT_EQ(goods->lpVtbl->AddRef(goods.get()), 3u);
  EXPECT_EQ(goods->lpVtbl->Release(goods.get()), 2u);
  EXPECT_EQ(goods->lpVtbl->Release(goods.get()), 1u);
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_FALSE);
  goods.Reset();
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_OK);

  Ref<IClassFactory> factory;
  ASSERT_EQ(mLib.DllGetClassObject(&CLSID_clsConnection, &IID_IClassFactory, factory.OutVoid()), S_OK);
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->lpVtbl->LockServer(factory.get(), 1), S_OK);
  factory.Reset();
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_FALSE);
  ASSERT_EQ(mLib.DllGetClassObject(&CLSID_clsConnection, &IID_IClassFactory, factory.OutVoid()), S_OK);
  EXPECT_EQ(factory->lpVtbl->LockServer(factory.get(), 0), S_OK);
  EXPECT_EQ(factory->lpVtbl->LockServer(factory.get(), 0), S_OK);  // no lock left: stays at none
  factory.Reset();
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_OK);

  // The history's items keep the server in use as long as the host holds them.
  auto service = Service(mTemp / "varnrpt.mdb");
  ASSERT_TRUE(Import(service.get(), ExampleLog("14/03/2024")));
  auto history = HistoryOf(service.get());
  VARIANT first = Index(1), item;
  ASSERT_EQ(history->lpVtbl->Item(history.get(), &first, &item), S_OK);
  service.Reset();
  history.Reset();
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(mLib.VariantClear(&item), S_OK);
  EXPECT_EQ(item.vt, VT_EMPTY);
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_OK);
}

TEST_F(ComServer, RecordsUseTheServiceThatRanInitializeLast) {
  const std::string sFirst = mTemp / "first.mdb", sSecond = mTemp / "second.mdb", sThird = mTemp / "third.mdb";
  const std::u16string sTwelve = u"1,2,3,4,5,6,7,8,9,10,11,12";
  auto first = Service(sFirst);
  auto firstConnection = ConnectionOf(first.get());
  auto goods = Create<_clsItemGoods>(CLSID_clsItemGoods, IID__clsItemGoods);
  VARIANT_BOOL bDone = 0;
  ASSERT_EQ(goods->lpVtbl->SetUp(goods.get(), Text(sTwelve), &bDone), S_OK);
  EXPECT_EQ(bDone, VARIANT_TRUE);
  EXPECT_EQ(GoodsColumns(sFirst).size(), 12u);

  auto second = Service(sSecond);
  auto goods2 = Create<_clsItemGoods>(CLSID_clsItemGoods, IID__clsItemGoods);
  ASSERT_EQ(goods2->lpVtbl->SetUp(goods2.get(), Text(sTwelve + u",13"), &bDone), S_OK);
  double dTotal = 0;
  EXPECT_EQ(goods2->lpVtbl->get_TotalGoods(goods2.get(), &dTotal), S_OK);
  EXPECT_EQ(dTotal, 91);
  EXPECT_EQ(goods2->lpVtbl->put_Date_ID(goods2.get(), 4), S_OK);
  EXPECT_EQ(goods2->lpVtbl->put_Session_ID(goods2.get(), 7), S_OK);
  ASSERT_EQ(goods2->lpVtbl->DBUpdate(goods2.get(), enuInsert, &bDone), S_OK);
  EXPECT_EQ(bDone, VARIANT_TRUE);
  EXPECT_EQ(GoodsColumns(sFirst).size(), 12u);
  EXPECT_EQ(GoodsColumns(sSecond).size(), 13u);
  EXPECT_EQ(SqlValue(sSecond, "SELECT Date_ID || ':' || Goods_13 FROM Goods WHERE Session_ID=7"), "4:13");
  EXPECT_EQ(SqlValue(sFirst, "SELECT COUNT(*) FROM Goods"), "0");

  // The host's reference was the first service's last: it ends and closes its database.
  EXPECT_EQ(Connected(firstConnection.get()), VARIANT_TRUE);
  first.Reset();
  EXPECT_EQ(Connected(firstConnection.get()), VARIANT_FALSE);
  EXPECT_FALSE(HoldsOpen(sFirst));

  // The second is still the component's own: it ends when a third runs Initialize.
  auto secondConnection = ConnectionOf(second.get());
  second.Reset();
  EXPECT_EQ(Connected(secondConnection.get()), VARIANT_TRUE);
  EXPECT_TRUE(HoldsOpen(sSecond));
  auto third = Service(sThird);
  EXPECT_EQ(Connected(secondConnection.get()), VARIANT_FALSE);
  EXPECT_FALSE(HoldsOpen(sSecond));
  IUnknown* pDatabase = reinterpret_cast<IUnknown*>(&mLib);  // a failure must clear it
  EXPECT_EQ(secondConnection->lpVtbl->get_DBConnection(secondConnection.get(), &pDatabase), VARN_E_RUNTIME(91));
  EXPECT_EQ(pDatabase, nullptr);
}

TEST_F(ComServer, UnloadingEndsTheServiceTheComponentStillHolds) {
  const std::string sDatabase = mTemp / "varnrpt.mdb";
  Service(sDatabase);
  EXPECT_EQ(mLib.DllCanUnloadNow(), S_OK);
  EXPECT_TRUE(HoldsOpen(sDatabase));
  Unload();
  EXPECT_FALSE(LibraryMapped());
  EXPECT_FALSE(HoldsOpen(sDatabase));
}

TEST_F(ComServer, TextsCrossAsUtf16BothWays) {
  const std::u16string sWide = u"Ĉaŝ 日本 😀";
  BSTR bstr = mLib.SysAllocString(sWide.c_str());
  ASSERT_NE(bstr, nullptr);
  EXPECT_EQ(mLib.SysStringLen(bstr), sWide.size());
  uint32_t lBytes = 0;
  std::memcpy(&lBytes, reinterpret_cast<const char*>(bstr) - sizeof lBytes, sizeof lBytes);
  EXPECT_EQ(lBytes, 2 * sWide.size());
  EXPECT_EQ(bstr[sWide.size()], u'\0');
  EXPECT_EQ(Taken(bstr), sWide);

  const char16_t kEmbedded[] = u"a\0b";
  EXPECT_EQ(Taken(mLib.SysAllocStringLen(kEmbedded, 3)), std::u16string(kEmbedded, 3));
  EXPECT_EQ(Taken(mLib.SysAllocStringLen(nullptr, 2)), std::u16string(2, u'\0'));
  EXPECT_EQ(mLib.SysAllocString(nullptr), nullptr);
  EXPECT_EQ(mLib.SysStringLen(nullptr), 0u);
  mLib.SysFreeString(nullptr);

  // In through a path, out through the lines the import did not recognise.
  const fs::path folder = mTemp.Path() / fs::path(u"Zürich 日報");
  fs::create_directory(folder);
  const std::string sDatabase = (folder / fs::path(u"Ünïcode.mdb")).string();
  auto service = Service(sDatabase);
  VARIANT_BOOL bConnected = 0;
  ASSERT_EQ(service->lpVtbl->get_IsConnected(service.get(), &bConnected), S_OK);
  EXPECT_EQ(bConnected, VARIANT_TRUE);
  EXPECT_TRUE(fs::exists(folder / fs::path(u"Ünïcode.mdb")));

  const std::u16string sNote = u"Café Ŝtelo – 日本 😀 closed early";
  const std::string sLog = (folder / "14-03-2024.log").string();
  WriteFile(sLog, "#14/03/2024#\r\n" + fs::path(sNote).string() + "\r\nEnd Total 0\r\n");
  ASSERT_TRUE(Import(service.get(), sLog));
  BSTR bstrLines = nullptr;
  ASSERT_EQ(service->lpVtbl->get_UncategorisedLines(service.get(), &bstrLines), S_OK);
  EXPECT_EQ(Taken(bstrLines), u"\r\n" + sNote);
}

TEST_F(ComServer, HistoryGivesItsItemsByPositionAndByKey) {
  const std::string sDatabase = mTemp / "varnrpt.mdb";
  auto service = Service(sDatabase);
  ASSERT_TRUE(Import(service.get(), ExampleLog("14/03/2024")));
  ASSERT_TRUE(Import(service.get(), ExampleLog("15/03/2024")));
  int32_t lAction = 0;
  EXPECT_EQ(service->lpVtbl->get_WhatDBAction(service.get(), &lAction), S_OK);
  EXPECT_EQ(lAction, enuInsert);

  auto history = HistoryOf(service.get());
  int32_t lCount = 0;
  ASSERT_EQ(history->lpVtbl->Count(history.get(), &lCount), S_OK);
  ASSERT_EQ(lCount, 2);
  const auto rows = SqlRows(sDatabase, "SELECT Date_ID, DateTotal FROM DateRange ORDER BY LogDate");
  const double kSerials[] = {Serial(2024y / 3 / 14), Serial(2024y / 3 / 15)};
  for (int32_t lPosition = 1; lPosition <= 2; ++lPosition) {
    SCOPED_TRACE(lPosition);
    VARIANT byNumber{}, byKey = Index(Text(lPosition == 1 ? u"14/03/2024" : u"15/03/2024")), item, sameItem;
    byNumber.vt = VT_I2;
    byNumber.iVal = static_cast<int16_t>(lPosition);
    ASSERT_EQ(history->lpVtbl->Item(history.get(), &byNumber, &item), S_OK);
    ASSERT_EQ(history->lpVtbl->Item(history.get(), &byKey, &sameItem), S_OK);
    Ref<_clsItemDateRange> record(reinterpret_cast<_clsItemDateRange*>(item.pdispVal));
    Ref<IDispatch> same(sameItem.pdispVal);
    EXPECT_EQ(static_cast<void*>(same.get()), static_cast<void*>(record.get()));
    DATE dtLogDate = 0, dtImported = 0;
    double dTotal = -1;
    int32_t lDate_ID = 0;
    EXPECT_EQ(record->lpVtbl->get_LogDate(record.get(), &dtLogDate), S_OK);
    EXPECT_EQ(record->lpVtbl->get_ImportedDate(record.get(), &dtImported), S_OK);
    EXPECT_EQ(record->lpVtbl->get_DateTotal(record.get(), &dTotal), S_OK);
    EXPECT_EQ(record->lpVtbl->get_Date_ID(record.get(), &lDate_ID), S_OK);
    EXPECT_EQ(dtLogDate, kSerials[lPosition - 1]);
    EXPECT_GT(dtImported, Serial(2024y / 3 / 15));
    EXPECT_EQ(std::to_string(lDate_ID), rows[lPosition - 1][0]);
    EXPECT_EQ(dTotal, std::stod(rows[lPosition - 1][1]));
  }

  VARIANT result;
  for (VARIANT bad : {Index(0), Index(3), Index(-1), Index(Text(u"16/03/2024")), Index(Text(u"not a date"))}) {
    EXPECT_EQ(history->lpVtbl->Item(history.get(), &bad, &result), DISP_E_BADINDEX);
    EXPECT_EQ(result.vt, VT_EMPTY);
  }
  VARIANT real{};
  real.vt = VT_R8;
  real.dblVal = 1;
  EXPECT_EQ(history->lpVtbl->Item(history.get(), &real, &result), DISP_E_TYPEMISMATCH);

  // Enumeration in order, with skipping, starting over and copies that go on from where they are.
  Ref<IUnknown> unknown;
  ASSERT_EQ(history->lpVtbl->_NewEnum(history.get(), unknown.Out()), S_OK);
  Ref<IEnumVARIANT> cursor;
  ASSERT_EQ(Query(unknown.get(), IID_IEnumVARIANT, cursor.OutVoid()), S_OK);
  VARIANT items[3];
  uint32_t lFetched = 9;
  EXPECT_EQ(cursor->lpVtbl->Next(cursor.get(), 3, items, &lFetched), S_FALSE);
  ASSERT_EQ(lFetched, 2u);
  VARIANT second = Index(2), expected;
  ASSERT_EQ(history->lpVtbl->Item(history.get(), &second, &expected), S_OK);
  EXPECT_EQ(items[1].pdispVal, expected.pdispVal);
  EXPECT_EQ(cursor->lpVtbl->Reset(cursor.get()), S_OK);
  EXPECT_EQ(cursor->lpVtbl->Skip(cursor.get(), 1), S_OK);
  Ref<IEnumVARIANT> copy;
  ASSERT_EQ(cursor->lpVtbl->Clone(cursor.get(), copy.Out()), S_OK);
  EXPECT_EQ(cursor->lpVtbl->Skip(cursor.get(), 5), S_FALSE);
  EXPECT_EQ(cursor->lpVtbl->Next(cursor.get(), 1, &result, nullptr), S_FALSE);
  VARIANT copied;
  ASSERT_EQ(copy->lpVtbl->Next(copy.get(), 1, &copied, &lFetched), S_OK);
  EXPECT_EQ(copied.pdispVal, expected.pdispVal);
  for (VARIANT* p : {&items[0], &items[1], &expected, &copied}) mLib.VariantClear(p);

  // Adding under a key, before a position; a key held twice; removing by key and position.
  VARIANT first = Index(1), held;
  ASSERT_EQ(history->lpVtbl->Item(history.get(), &first, &held), S_OK);
  VARIANT takenKey = Index(Text(u"14/03/2024")), newKey = Index(Text(u"Spare")), position = Index(1);
  EXPECT_EQ(history->lpVtbl->Add(history.get(), &held, &takenKey, nullptr, nullptr), VARN_E_RUNTIME(457));
  EXPECT_EQ(history->lpVtbl->Add(history.get(), &held, &newKey, &position, &position), E_INVALIDARG);
  VARIANT notARecord{};
  notARecord.vt = VT_UNKNOWN;
  notARecord.punkVal = reinterpret_cast<IUnknown*>(service.get());
  EXPECT_EQ(history->lpVtbl->Add(history.get(), &notARecord, &newKey, nullptr, nullptr), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(history->lpVtbl->Add(history.get(), &held, &newKey, &position, nullptr), S_OK);
  history->lpVtbl->Count(history.get(), &lCount);
  EXPECT_EQ(lCount, 3);
  VARIANT spare = Index(Text(u"SPARE"));
  EXPECT_EQ(history->lpVtbl->Item(history.get(), &first, &result), S_OK);
  EXPECT_EQ(result.pdispVal, held.pdispVal);
  mLib.VariantClear(&result);
  EXPECT_EQ(history->lpVtbl->Remove(history.get(), &spare), S_OK);
  VARIANT beyond = Index(3);
  EXPECT_EQ(history->lpVtbl->Remove(history.get(), &beyond), DISP_E_BADINDEX);
  history->lpVtbl->Count(history.get(), &lCount);
  EXPECT_EQ(lCount, 2);
  mLib.VariantClear(&held);

  // A history taken earlier keeps its items when the service loads a new one.
  VARIANT_BOOL bDone = 0;
  ASSERT_EQ(service->lpVtbl->DeleteLogDate(service.get(), Text(u"15.03.2024"), &bDone), S_OK);
  EXPECT_EQ(bDone, VARIANT_TRUE);
  ASSERT_EQ(service->lpVtbl->GetHistoryDates(service.get()), S_OK);
  auto reloaded = HistoryOf(service.get());
  EXPECT_NE(reloaded.get(), history.get());
  reloaded->lpVtbl->Count(reloaded.get(), &lCount);
  EXPECT_EQ(lCount, 1);
  history->lpVtbl->Count(history.get(), &lCount);
  EXPECT_EQ(lCount, 2);
}

TEST_F(ComServer, DuplicateCheckGivesTheImportDateToTheCaller) {
  auto service = Service(mTemp / "varnrpt.mdb");
  ASSERT_TRUE(Import(service.get(), ExampleLog("14/03/2024")));
  VARIANT_BOOL bFound = 0;
  BSTR bstrImported = mLib.SysAllocString(u"replaced");
  ASSERT_EQ(service->lpVtbl->IsAlreadyImported(service.get(), Text(u"14-03-2024"), &bstrImported, &bFound), S_OK);
  EXPECT_EQ(bFound, VARIANT_TRUE);
  std::u16string sImported = Taken(bstrImported);
  EXPECT_NE(sImported, u"replaced");
  EXPECT_FALSE(sImported.empty());

  bstrImported = nullptr;
  ASSERT_EQ(service->lpVtbl->IsAlreadyImported(service.get(), Text(u"01-01-2000"), &bstrImported, &bFound), S_OK);
  EXPECT_EQ(bFound, VARIANT_FALSE);
  EXPECT_EQ(bstrImported, nullptr);
  ASSERT_EQ(service->lpVtbl->IsAlreadyImported(service.get(), Text(u"14-03-2024"), nullptr, &bFound), S_OK);
  EXPECT_EQ(bFound, VARIANT_TRUE);
}

TEST_F(ComServer, ErrorsComeBackAsFailingResults) {
  auto service = Create<_clsLogAnalysis>(CLSID_clsLogAnalysis, IID__clsLogAnalysis);
  VARIANT_BOOL bResult = 7;
  EXPECT_EQ(service->lpVtbl->get_IsConnected(service.get(), &bResult), VARN_E_RUNTIME(91));
  Ref<_clsConnection> none;
  Ref<_Collection> noHistory;
  EXPECT_EQ(service->lpVtbl->get_DBConnection(service.get(), none.Out()), S_OK);
  EXPECT_EQ(none.get(), nullptr);
  EXPECT_EQ(service->lpVtbl->get_HistoryLogDates(service.get(), noHistory.Out()), S_OK);
  EXPECT_EQ(noHistory.get(), nullptr);
  // Operations with a trap of their own report to the user and answer False.
  EXPECT_EQ(service->lpVtbl->ProcessLogFile(service.get(), Text(u"/nowhere/14-03-2024.log"), &bResult), S_OK);
  EXPECT_EQ(bResult, VARIANT_FALSE);
  // Without a database the goods take their line (the missing columns are reported) but cannot be written.
  auto goods = Create<_clsItemGoods>(CLSID_clsItemGoods, IID__clsItemGoods);
  EXPECT_EQ(goods->lpVtbl->SetUp(goods.get(), Text(u"1,2"), &bResult), S_OK);
  EXPECT_EQ(bResult, VARIANT_TRUE);
  EXPECT_EQ(goods->lpVtbl->DBUpdate(goods.get(), enuInsert, &bResult), S_OK);
  EXPECT_EQ(bResult, VARIANT_FALSE);

  auto connection = Create<_clsConnection>(CLSID_clsConnection, IID__clsConnection);
  Ref<IUnknown> database;
  EXPECT_EQ(connection->lpVtbl->get_IsConnected(connection.get(), &bResult), VARN_E_RUNTIME(91));
  EXPECT_EQ(connection->lpVtbl->get_DBConnection(connection.get(), database.Out()), VARN_E_RUNTIME(91));
  ASSERT_EQ(connection->lpVtbl->SignOn(connection.get(), PathText(mTemp / "own.mdb"), &bResult), S_OK);
  EXPECT_EQ(bResult, VARIANT_TRUE);
  EXPECT_EQ(Connected(connection.get()), VARIANT_TRUE);
  EXPECT_EQ(connection->lpVtbl->get_DBConnection(connection.get(), database.Out()), S_OK);
  EXPECT_NE(database.get(), nullptr);

  EXPECT_EQ(service->lpVtbl->get_IsConnected(service.get(), nullptr), E_POINTER);
  EXPECT_EQ(service->lpVtbl->get_UncategorisedLines(service.get(), nullptr), E_POINTER);
  EXPECT_EQ(connection->lpVtbl->SignOn(connection.get(), nullptr, nullptr), E_POINTER);
  EXPECT_EQ(goods->lpVtbl->get_TotalGoods(goods.get(), nullptr), E_POINTER);
  uint32_t lTypeInfos = 9;
  EXPECT_EQ(service->lpVtbl->GetTypeInfoCount(service.get(), &lTypeInfos), S_OK);
  EXPECT_EQ(lTypeInfos, 0u);
  EXPECT_EQ(service->lpVtbl->Invoke(service.get(), 1, &IID_IUnknown, 0, 0, nullptr, nullptr, nullptr, nullptr),
            E_NOTIMPL);
}

// XDG_CONFIG_HOME and HOME for one test, put back afterwards.
class Environment {
 public:
  Environment() : msConfig(Get("XDG_CONFIG_HOME")), msHome(Get("HOME")) {}
  ~Environment() {
    Put("XDG_CONFIG_HOME", msConfig);
    Put("HOME", msHome);
  }
  static void Put(const char* sName, const std::optional<std::string>& sValue) {
    if (sValue) setenv(sName, sValue->c_str(), 1);
    else unsetenv(sName);
  }

 private:
  static std::optional<std::string> Get(const char* sName) {
    const char* s = std::getenv(sName);
    return s ? std::optional<std::string>(s) : std::nullopt;
  }
  std::optional<std::string> msConfig, msHome;
};

TEST_F(ComServer, RegistrationWritesAndRemovesExactlyItsOwnLines) {
  Environment environment;
  Environment::Put("XDG_CONFIG_HOME", mTemp.Path().string());
  const std::string sRegistry = mTemp / "varnlogimp/registry";
  const std::string sForeign = "Other.Program/CLSID={00000000-1111-2222-3333-444444444444}\nnot a key line\n";
  fs::create_directories(mTemp.Path() / "varnlogimp");
  WriteFile(sRegistry, sForeign + "CLSID/{683949D4-9150-4AEA-A2E4-98E533B88A6F}/InprocServer32=/old/place.so\n");

  ASSERT_EQ(mLib.DllRegisterServer(), S_OK);
  ASSERT_EQ(mLib.DllRegisterServer(), S_OK);
  const std::string sLibrary = fs::canonical(LibraryPath()).string();
  const std::string sWritten = ReadFile(sRegistry);
  EXPECT_EQ(sWritten.substr(0, sForeign.size()), sForeign);
  EXPECT_EQ(sWritten.find("/old/place.so"), std::string::npos);
  for (const std::string& sLine : std::vector<std::string>{
           "CLSID/{683949D4-9150-4AEA-A2E4-98E533B88A6F}=VarnLogImp.clsLogAnalysis\n",
           "CLSID/{683949D4-9150-4AEA-A2E4-98E533B88A6F}/InprocServer32=" + sLibrary + "\n",
           "CLSID/{4095F4F1-705C-4F75-A1EE-C8DA8567CFDD}/ProgID=VarnLogImp.clsConnection\n",
           "VarnLogImp.clsItemGoods/CLSID={43C60F79-2877-4CD5-BB70-382605C9ADF9}\n",
           "CLSID/{43C60F79-2877-4CD5-BB70-382605C9ADF9}/TypeLib={641EED9E-6151-4788-A15C-1E60DC41E360}\n",
           "TypeLib/{641EED9E-6151-4788-A15C-1E60DC41E360}/2.1=Varn Log Import Lib \n",
           "TypeLib/{641EED9E-6151-4788-A15C-1E60DC41E360}/2.1/409=" + sLibrary + "\n",
       }) {
    size_t n = sWritten.find(sLine);
    EXPECT_NE(n, std::string::npos) << sLine;
    EXPECT_EQ(sWritten.find(sLine, n + 1), std::string::npos) << "twice: " << sLine;
  }

  ASSERT_EQ(mLib.DllUnregisterServer(), S_OK);
  EXPECT_EQ(ReadFile(sRegistry), sForeign);

  // Without XDG_CONFIG_HOME the file lives under HOME; a folder that cannot be made fails.
  Environment::Put("XDG_CONFIG_HOME", std::nullopt);
  Environment::Put("HOME", (mTemp / "home"));
  ASSERT_EQ(mLib.DllRegisterServer(), S_OK);
  EXPECT_NE(ReadFile(mTemp / "home/.config/varnlogimp/registry").find(sLibrary), std::string::npos);
  WriteFile(mTemp / "plain-file", "");
  Environment::Put("XDG_CONFIG_HOME", mTemp / "plain-file");
  EXPECT_EQ(mLib.DllRegisterServer(), SELFREG_E_CLASS);
}

}  // namespace
