#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "runtime/FieldReader.h"

namespace varn::fuzz {

// The screen it installs keeps it.
clsRecordingUI& Screen() { return *test::UseRecordingUI(); }

const test::TempFolder& Scratch() {
  static const test::TempFolder folder(access("/dev/shm", W_OK) == 0 ? std::filesystem::path("/dev/shm")
                                                                     : std::filesystem::temp_directory_path());
  return folder;
}

test::TestService& RecordService() {
  Screen();
  static test::TestService service(Scratch() / "records.mdb", false);
  return service;
}

clsInputTransaction::clsInputTransaction() {
  RecordService().DBConnection()->DBConnection()->BeginTrans();
  mpUsers = std::make_unique<clsItemLogFile>();
  RecordService().mpUsers = mpUsers.get();
}

clsInputTransaction::~clsInputTransaction() {
  RecordService().mpUsers = &RecordService();
  mpUsers.reset();
  RecordService().DBConnection()->DBConnection()->RollbackTrans();
}

std::vector<std::string> Values(const std::string& sSql) {
  std::vector<std::string> vValues;
  for (const auto& vRow : RecordService().DBConnection()->DBConnection()->Query(sSql).vRows) {
    for (const auto& value : vRow) vValues.push_back(value.IsNull() ? "NULL" : value.ToText());
  }
  return vValues;
}

std::string AsItem(const uint8_t* pData, size_t nSize) {
  std::string sText = DecodeLogText(std::string_view(reinterpret_cast<const char*>(pData), nSize));
  std::erase_if(sText, [](char c) { return c == '\r' || c == '\n'; });
  return sText;
}

void Require(bool bHolds, std::string_view sWhat, std::string_view sInput) {
  if (bHolds) return;
  std::fprintf(stderr, "varnlog fuzz: %.*s\ninput: %.*s\n", static_cast<int>(sWhat.size()), sWhat.data(),
               static_cast<int>(std::min<size_t>(sInput.size(), 2000)), sInput.data());
  std::abort();
}

}  // namespace varn::fuzz
