#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "runtime/FieldReader.h"

namespace varn::fuzz {

int clsQuietUI::MsgBox(const std::string& /*sPrompt*/, int nStyle, const std::string& /*sTitle*/) {
  ++mlBoxes;
  return (nStyle & 7) == vbYesNo ? mnAnswer : vbOK;
}

namespace {

class clsScratch {
 public:
  clsScratch() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::string sTemplate = (base / "varnlog-fuzz-XXXXXX").string();
    if (!mkdtemp(sTemplate.data())) {
      std::perror("varnlog fuzz: no scratch folder");
      std::abort();
    }
    msPath = sTemplate;
  }
  ~clsScratch() {
    std::error_code ec;
    std::filesystem::remove_all(msPath, ec);
  }
  std::string msPath;
};

}  // namespace

const std::string& ScratchFolder() {
  static clsScratch scratch;
  return scratch.msPath;
}

clsQuietUI& QuietScreen() {
  static std::shared_ptr<clsQuietUI> pScreen = [] {
    auto p = std::make_shared<clsQuietUI>();
    SetScreen(p);
    return p;
  }();
  return *pScreen;
}

clsFuzzService& RecordService() {
  static std::shared_ptr<clsFuzzService> pService = [] {
    QuietScreen();
    auto p = std::make_shared<clsFuzzService>();
    p->mConnection = std::make_shared<clsConnection>();
    if (!p->mConnection->SignOn(ScratchFolder() + "/records.mdb")) {
      std::fputs("varnlog fuzz: the scratch database does not open\n", stderr);
      std::abort();
    }
    gobjLogAnalysis = p;
    return p;
  }();
  return *pService;
}

clsInputTransaction::clsInputTransaction() {
  clsFuzzService& service = RecordService();
  service.mConnection->DBConnection()->BeginTrans();
  service.mpUsers = std::make_unique<clsItemLogFile>();
}

clsInputTransaction::~clsInputTransaction() {
  clsFuzzService& service = RecordService();
  service.mpUsers.reset();
  service.mConnection->DBConnection()->RollbackTrans();
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

uint64_t DatabaseFailures() { return SharedConnection().FailureCount(); }

}  // namespace varn::fuzz
