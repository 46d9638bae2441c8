// The log date's record: finds or allocates the date's key and writes its DateRange row.
#include "records/clsItemDateRange.h"

#include "db/Recordset.h"
#include "db/modMainLog.h"
#include "records/Money.h"
#include "runtime/Text.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

std::optional<Date> clsItemDateRange::LineDate(const std::string& sLine) {
  std::optional<Date> dtRead = ParseDate(Trim(Replace(sLine, "#", "")));
  if (dtRead) return DateOnly(*dtRead);
  return std::nullopt;
}

bool clsItemDateRange::SetUp(const std::string& sLine, int32_t eField, int32_t eDBAction) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsItemDateRange:SetUp");
  trap.Run([&] {
    trap.Step("00");
    if (eField == enuLogDate) {
      trap.Step("01");
      if (eDBAction == enuUpdate) {
        // An update rewrites the date the history matched, whatever the line says, under the
        // key the history gave it when that is known.
        trap.Step("02");
        mLogDate = ImportService().MatchedLogDate();
        trap.Step("03");
        int32_t lID = mlDate_ID != 0 ? mlDate_ID : mlGetID(mLogDate);
        if (lID <= 0) return;
        trap.Step("04");
        mlDate_ID = lID;
        bResult = true;
        return;
      }
      trap.Step("02");
      std::optional<Date> dtRead = LineDate(sLine);
      if (!dtRead) {
        bResult = true;  // not a date after all: nothing to take
        return;
      }
      trap.Step("03");
      if (mlDate_ID != 0) {
        bResult = true;  // the first date line of the file decides
        return;
      }
      trap.Step("04");
      mLogDate = *dtRead;
      trap.Step("05");
      int32_t lID = mlGetID(mLogDate);
      if (lID <= 0) return;
      mlDate_ID = lID;
      bResult = true;
    } else if (eField == enuDateTotal) {
      trap.Step("06");
      double dAmount = mdblCleanUpEndTotal(sLine);
      trap.Step("07");
      mdblDateTotal = AddAmounts(mdblDateTotal, dAmount);
      bResult = true;
    } else {
      bResult = true;
    }
  });
  return bResult;
}

bool clsItemDateRange::DBUpdate(int32_t eDBAction) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsItemDateRange:DBUpdate");
  trap.Run([&] {
    trap.Step("00");
    mImportedDate = Now();
    trap.Step("01");
    std::string sSql;
    if (eDBAction == enuInsert) {
      sSql = "INSERT INTO DateRange (Date_ID,LogDate,DateTotal,DateImported) VALUES (" + NumText(int64_t{mlDate_ID}) +
             ",'" + CStr(mLogDate) + "'," + NumText(mdblDateTotal) + ",'" + CStr(mImportedDate) + "')";
    }
    if (eDBAction == enuUpdate) {
      trap.Step("02");
      sSql = "UPDATE DateRange SET LogDate='" + CStr(mLogDate) + "',DateTotal=" + NumText(mdblDateTotal) +
             ",DateImported='" + CStr(mImportedDate) + "' WHERE Date_ID=" + NumText(int64_t{mlDate_ID});
    }
    trap.Step("03");
    // Any other action leaves the statement empty, and the connection refuses it.
    SharedConnection().Execute(sSql, nullptr, -1);
    bResult = true;
  });
  return bResult;
}

double clsItemDateRange::mdblCleanUpEndTotal(const std::string& sLine) {
  clsHourglass hourglass;
  double dResult = 0;
  clsTrap trap("clsItemDateRange:mdblCleanUpEndTotal");
  trap.Run([&] {
    trap.Step("00");
    std::string sAmount = Replace(sLine, "End Total", "", true);
    trap.Step("01");
    dResult = ReadLeadingNumber(sAmount);
  });
  return dResult;
}

int32_t clsItemDateRange::mlGetID(Date dtLogDate) {
  clsHourglass hourglass;
  int32_t lResult = 0;
  clsTrap trap("clsItemDateRange:mlGetID");
  trap.Run([&] {
    trap.Step("00");
    std::string sSql =
        "SELECT * FROM DateRange WHERE Format(LogDate,'dd/mm/yy') ='" + FormatDate(dtLogDate, "dd/mm/yy") + "'";
    trap.Step("01");
    Recordset rs;
    trap.Step("02");
    rs.Open(sSql, SharedConnection(), adOpenDynamic, adLockReadOnly, -1);
    int32_t lID = 0;
    trap.Step("03");
    if (!rs.EOF_() && !rs.BOF()) {
      trap.Step("05");
      lID = rs.Fields("Date_ID").ToLong();
    } else {
      trap.Step("04");
      lID = GetNextID(enuDateRangeTable);
    }
    trap.Step("06");
    lResult = lID;
    rs.Close();
  });
  return lResult;
}

}  // namespace varn
