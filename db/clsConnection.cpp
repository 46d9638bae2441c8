// The component's door to the report database: signs on through clsAccessDatabase.
#include "db/clsConnection.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>

#include "runtime/Error.h"
#include "runtime/Text.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

bool clsConnection::SignOn(const std::string& sDBPath) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsConnection:SignOn");
  trap.Custom([](const clsError& err) { return err.Description() + "\r\n\r\n" + "Error openning Conetion"; });
  trap.Run([&] {
    trap.Step("00");
    if (!mDatabase) mDatabase = std::make_shared<clsAccessDatabase>();
    trap.Step("01");
    // Only an empty path is trimmed: a given path is the file itself, exactly as passed.
    mDatabase->OpenDatabase(Trim(sDBPath).empty() ? DefaultDatabasePath() : sDBPath);
    trap.Step("02");
    if (mDatabase->Connected()) bResult = true;
  });
  return bResult;
}

bool clsConnection::IsConnected() const {
  if (!mDatabase) RaiseError(errObjectNotSet);
  return mDatabase->Connected();
}

std::shared_ptr<Connection> clsConnection::DBConnection() const {
  if (!mDatabase) RaiseError(errObjectNotSet);
  return mDatabase->GetConnection();
}

std::string ComponentFolder() {
  Dl_info info{};
  link_map* pMap = nullptr;
  std::filesystem::path file;
  if (dladdr1(reinterpret_cast<void*>(&ComponentFolder), &info, reinterpret_cast<void**>(&pMap), RTLD_DL_LINKMAP) &&
      pMap && pMap->l_name && *pMap->l_name) {
    file = pMap->l_name;
  } else {
    // The executable itself: its loader name is only how it was called.
    std::error_code ec;
    file = std::filesystem::read_symlink("/proc/self/exe", ec);
  }
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::weakly_canonical(file, ec);
  std::string sFolder = (ec ? file : absolute).parent_path().string();
  return sFolder.empty() ? "." : sFolder;
}

std::string DefaultDatabasePath() {
#ifdef VARN_DATABASE_IN_DATA_HOME
  std::string sFolder = UserFolder("XDG_DATA_HOME", ".local/share");
  if (sFolder.empty()) {
    RaiseError(errPathNotFound, "Neither XDG_DATA_HOME nor HOME names an absolute folder for the report database");
  }
  sFolder += "/varnlogimp";
  std::error_code ec;  // a folder that cannot be made is reported when the database is opened in it
  std::filesystem::create_directories(sFolder, ec);
  return sFolder + "/varnrpt.mdb";
#else
  return ComponentFolder() + "/varnrpt.mdb";
#endif
}

}  // namespace varn
