#include "parse/clsItemUser.h"

#include "db/modMainLog.h"
#include "runtime/Text.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

bool clsItemUser::Insert() {
  bool bResult = false;
  clsTrap trap("clsItemUser:Insert");
  trap.Run([&] {
    clsHourglass hourglass(clsHourglass::enuRestoreOnReturn);
    trap.Step("00");
    std::string sSQL = "INSERT INTO User (User_ID,USerName) VALUES (" + NumText(int64_t{mlUser_ID}) + ",'" +
                       SqlText(msUserName) + "')";
    trap.Step("01");
    SharedConnection().Execute(sSQL, nullptr, -1);
    bResult = true;
  });
  return bResult;
}

}  // namespace varn
