// A whole import of any log file into a real report database. A failed import leaves the
// database exactly as it was; a successful one leaves a sound database, and importing the
// same file again as an update succeeds and changes no row but the date's import time.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "service/clsLogAnalysis.h"

using namespace varn;

namespace {

const std::string& Folder() {
  static const std::string sFolder = [] {
    std::string s = fuzz::ScratchFolder() + "/import";
    std::filesystem::create_directories(s);
    return s;
  }();
  return sFolder;
}

std::string Template() { return Folder() + "/empty.mdb"; }
std::string Database() { return Folder() + "/varnrpt.mdb"; }
std::string LogPath() { return Folder() + "/03-02-2025.log"; }

void MakeTemplate() {
  static bool bMade = [] {
    auto pService = clsLogAnalysis::Create();
    pService->Initialize(Template());
    if (!pService->IsConnected()) std::abort();
    return true;
  }();
  (void)bMade;
}

// Every table's rows, and the schema; the date's import time left out, as an update renews it.
std::string Dump(clsLogAnalysis& service) {
  Connection& conn = *service.DBConnection()->DBConnection();
  std::string sDump;
  auto Add = [&](const std::string& sSql) {
    for (const auto& vRow : conn.Query(sSql).vRows) {
      for (const auto& value : vRow) sDump += (value.IsNull() ? "NULL" : value.ToText()) + "|";
      sDump += "\n";
    }
  };
  Add("SELECT name, sql FROM sqlite_master ORDER BY name");
  Add("SELECT Date_ID, LogDate, DateTotal FROM DateRange ORDER BY 1");
  for (const char* pTable : {"Session", "Goods", "Shift", "User"}) Add(std::string("SELECT * FROM ") + pTable + " ORDER BY 1");
  return sDump;
}

std::shared_ptr<clsLogAnalysis> OpenService() {
  auto pService = clsLogAnalysis::Create();
  pService->Initialize(Database());
  if (!pService->IsConnected()) std::abort();
  return pService;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  fuzz::clsQuietUI& screen = fuzz::QuietScreen();
  MakeTemplate();
  std::filesystem::copy_file(Template(), Database(), std::filesystem::copy_options::overwrite_existing);
  std::ofstream(LogPath(), std::ios::binary).write(reinterpret_cast<const char*>(pData), static_cast<std::streamsize>(nSize));
  std::string_view sInput(reinterpret_cast<const char*>(pData), nSize);

  auto pService = OpenService();
  std::string sBefore = Dump(*pService);
  screen.mnAnswer = vbNo;
  if (!pService->ProcessLogFile(LogPath())) {
    fuzz::Require(Dump(*pService) == sBefore, "a failed import changed the database", sInput);
    return 0;
  }
  Connection& conn = *pService->DBConnection()->DBConnection();
  fuzz::Require(conn.Query("PRAGMA integrity_check").vRows.at(0).at(0).ToText() == "ok", "an import damaged the database",
                sInput);
  std::string sImported = Dump(*pService);
  if (!pService->IsAlreadyImported("03-02-2025")) return 0;  // the log names another date than its file

  screen.mnAnswer = vbYes;
  fuzz::Require(pService->ProcessLogFile(LogPath()), "an imported file failed to import again as an update", sInput);
  fuzz::Require(pService->WhatDBAction() == enuUpdate, "a second import was no update", sInput);
  fuzz::Require(Dump(*pService) == sImported, "an update of the same file changed rows", sInput);
  return 0;
}
