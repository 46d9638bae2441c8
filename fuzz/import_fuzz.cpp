// A whole import of any log file into a real report database. A failed import leaves the
// database exactly as it was; a successful one leaves a sound database, and importing the
// same file again as an update succeeds and changes no row but the date's import time.
#include <filesystem>

#include "fuzz/FuzzSupport.h"

using namespace varn;

const std::string sTemplate = fuzz::Scratch() / "empty.mdb", sDB = fuzz::Scratch() / "varnrpt.mdb",
                  sLog = fuzz::Scratch() / "03-02-2025.log";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  clsRecordingUI& screen = fuzz::Screen();
  static const bool bTemplate = test::OpenService(sTemplate)->IsConnected();
  std::filesystem::copy_file(sTemplate, sDB, std::filesystem::copy_options::overwrite_existing);
  std::string_view sInput(reinterpret_cast<const char*>(pData), nSize);
  test::WriteFile(sLog, std::string(sInput));

  auto pService = test::OpenService(sDB);
  fuzz::Require(bTemplate && pService->IsConnected(), "no report database could be made", sInput);
  std::string sBefore = test::Dump(sDB, false);
  if (!pService->ProcessLogFile(sLog)) {
    fuzz::Require(test::Dump(sDB, false) == sBefore, "a failed import changed the database", sInput);
    return 0;
  }
  fuzz::Require(test::SqlValue(sDB, "PRAGMA integrity_check") == "ok", "an import damaged the database", sInput);
  std::string sImported = test::Dump(sDB, false);
  fuzz::Require(pService->IsAlreadyImported("03-02-2025"), "a log was imported under another day than its name",
                sInput);

  screen.AnswerNext(vbYes);
  fuzz::Require(pService->ProcessLogFile(sLog), "an imported file failed to import again as an update", sInput);
  fuzz::Require(pService->WhatDBAction() == enuUpdate, "a second import was no update", sInput);
  fuzz::Require(test::Dump(sDB, false) == sImported, "an update of the same file changed rows", sInput);
  return 0;
}
