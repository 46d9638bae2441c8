#include "records/clsItemShift.h"

#include <vector>

#include "db/modMainLog.h"
#include "runtime/Text.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

namespace {

// The piece after the label; a line without the label has none (error 9).
const std::string& SecondPiece(const std::vector<std::string>& vPieces) {
  if (vPieces.size() < 2) RaiseError(errSubscript);
  return vPieces[1];
}

}  // namespace

bool clsItemShift::SetUp(const std::string& sLine, int32_t eField) {
  bool bResult = false;
  clsTrap trap("clsItemShift:SetUp");
  trap.Run([&] {
    clsHourglass hourglass(clsHourglass::enuRestoreOnReturn);
    if (eField == enuSignOff) {
      trap.Step("00");
      std::string sWork = Trim(Replace(sLine, "<<", "", true));
      trap.Step("01");
      std::vector<std::string> vPieces = Split(sWork, "Sign Off:", true);
      trap.Step("02");
      mTime = CDate(Replace(vPieces[0], ".", "/"));
      trap.Step("03");
      msSignOff = Trim(SecondPiece(vPieces));
    } else if (eField == enuSignOn) {
      trap.Step("04");
      std::string sWork = Trim(Replace(sLine, ">>", "", true));
      trap.Step("05");
      std::vector<std::string> vPieces = Split(sWork, "Sign On:", true);
      trap.Step("06");
      mTime = CDate(Trim(Replace(vPieces[0], ".", "/")));
      trap.Step("07");
      msSignOn = Trim(SecondPiece(vPieces));
    }
    bResult = true;
  });
  return bResult;
}

bool clsItemShift::DBUpdate(int32_t eDBAction) {
  bool bResult = false;
  clsTrap trap("clsItemShift:DBUpdate");
  trap.Run([&] {
    clsHourglass hourglass(clsHourglass::enuRestoreOnReturn);
    std::string sSQL;
    if (eDBAction == enuInsert) {
      trap.Step("00");
      sSQL = "INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn,SignOff,SignDateTime) VALUES (" +
             NumText(int64_t{mlShift_ID}) + "," + NumText(int64_t{mlDate_ID}) + "," +
             NumText(int64_t{mnLineNo.Value()}) + ",'" + SqlText(msSignOn) + "','" + SqlText(msSignOff) + "','" +
             CStr(mTime) + "')";
    }
    if (eDBAction == enuUpdate) {
      trap.Step("01");
      sSQL = "UPDATE Shift SET Date_ID=" + NumText(int64_t{mlDate_ID}) +
             ",LineNo=" + NumText(int64_t{mnLineNo.Value()}) + ",SignOn='" + SqlText(msSignOn) + "',SignOff='" +
             SqlText(msSignOff) + "',SignDateTime='" + CStr(mTime) + "' WHERE Shift_ID=" + NumText(int64_t{mlShift_ID});
    }
    trap.Step("02");
    SharedConnection().Execute(sSQL, nullptr, -1);
    bResult = true;
  });
  return bResult;
}

}  // namespace varn
