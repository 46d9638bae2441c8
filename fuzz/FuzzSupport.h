// What the fuzz targets share: a quiet screen, a real report database in a temporary folder
// (on a memory file system when there is one, so commits cost nothing), and the import door
// the records reach through. Each input runs inside a transaction that is rolled back, so
// every input starts from the same empty database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "db/modMainLog.h"
#include "parse/clsItemLogFile.h"
#include "ui/UserInterface.h"

namespace varn::fuzz {

// Answers every box without showing it: OK, and for a question the answer set last.
class clsQuietUI : public IUserInterface {
 public:
  int MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) override;
  void SetMousePointer(int nPointer) override { mnPointer = nPointer; }
  int MousePointer() const override { return mnPointer; }
  void DoEvents() override {}
  void DrawProgress(const ProgressView&) override {}

  int mnAnswer = vbNo;
  long mlBoxes = 0;

 private:
  int mnPointer = vbDefault;
};

// A folder removed with everything in it when the process ends normally.
const std::string& ScratchFolder();
clsQuietUI& QuietScreen();

// The import door over a real connection, with the user list of a fresh processor.
class clsFuzzService : public IImportService {
 public:
  bool IsConnected() const override { return mConnection && mConnection->IsConnected(); }
  std::shared_ptr<clsConnection> DBConnection() const override { return mConnection; }
  varneDBAction WhatDBAction() const override { return meAction; }
  Date MatchedLogDate() const override { return mMatched; }
  IUserCategories* LogFile() const override { return mpUsers.get(); }

  varneDBAction meAction = enuInsert;
  Date mMatched;

 private:
  friend clsFuzzService& RecordService();
  std::shared_ptr<clsConnection> mConnection;
  std::unique_ptr<clsItemLogFile> mpUsers;
  friend class clsInputTransaction;
};

// The service installed as gobjLogAnalysis, signed on to the scratch database.
clsFuzzService& RecordService();

// One input's transaction, rolled back when it ends; a fresh user list inside it.
class clsInputTransaction {
 public:
  clsInputTransaction();
  ~clsInputTransaction();
  clsInputTransaction(const clsInputTransaction&) = delete;
  clsInputTransaction& operator=(const clsInputTransaction&) = delete;
};

// The bytes as the field reader hands out one item: decoded to UTF-8, without line breaks.
std::string AsItem(const uint8_t* pData, size_t nSize);

// Stops the run with the message when a property that must hold does not.
void Require(bool bHolds, std::string_view sWhat, std::string_view sInput);

// The failures recorded on the shared connection so far.
uint64_t DatabaseFailures();

}  // namespace varn::fuzz
