// What only the fuzz targets need beside the test support library: one record service over a
// scratch database for the whole run, each input in a transaction that is rolled back (so every
// input starts from the same empty database), an input as one item, and a property check that
// stops the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "parse/clsItemLogFile.h"
#include "tests/TestSupport.h"

namespace varn::fuzz {

// A fresh screen for this input: one screen for the whole run would keep every box.
clsRecordingUI& Screen();
// A folder for the run, on a memory file system when there is one, so commits cost nothing.
const test::TempFolder& Scratch();
// The record service, installed as gobjLogAnalysis, over Scratch()/records.mdb.
test::TestService& RecordService();

// One input's transaction, rolled back when it ends, with a fresh user list of the log's own.
class clsInputTransaction {
 public:
  clsInputTransaction();
  ~clsInputTransaction();

 private:
  std::unique_ptr<clsItemLogFile> mpUsers;
};

// Every value of a query's rows in turn, as text ("NULL" for null), read on the service's own
// connection so that the rows of the open transaction are seen.
std::vector<std::string> Values(const std::string& sSql);
// The bytes as the field reader hands out one item: decoded to UTF-8, without line breaks.
std::string AsItem(const uint8_t* pData, size_t nSize);
// Stops the run with the message when a property that must hold does not.
void Require(bool bHolds, std::string_view sWhat, std::string_view sInput);
}  // namespace varn::fuzz
