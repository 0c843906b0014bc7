// Mode 6 from the SQL interval tables: ready-made bars of 60, 180 or 300
// seconds on a regular grid, with a dash line for every empty slot, so that a
// client receives one line per slot. Without dates it steps back from today
// to the latest day that yields a line, at most 30 days.
#include <string>

#include "data/lookups.h"
#include "log/zetUtilities.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "service/hist.h"
#include "service/reply_lines.h"

namespace hist {
namespace {

const char* StatementFor(int interval) {
  switch (interval) {
    case 60:
      return "Select * FROM IntervalTable60 WHERE  Symbol = :Symbol AND Date = :Date order by Time";
    case 180:
      return "Select * FROM IntervalTable180 WHERE  Symbol = :Symbol AND Date = :Date order by Time";
    case 300:
      return "Select * FROM IntervalTable300 WHERE  Symbol = :Symbol AND Date = :Date order by Time";
    default:
      return nullptr;
  }
}

// Days stepped back at most when the request named no date.
constexpr int kMaxRetries = 29;

}  // namespace

void THistData::GenInterval4(const std::string& Symbol, int DayCount, TDateTime TimeStart,
                             TDateTime TimeOver, TDateTime DateStart, TDateTime DateOver,
                             int Interval, bool TodayOnly) {
  int RecNo = 0;
  int Retries = 0;
  const double Step = Interval / 86400.0;
  TWebResponse& out = *Response;

  if (!ModuleQueriesMade(IntervalQuery.get(), FIsValidSymbolQuery.get(), "6")) return;
  engine::TQuery& query = *IntervalQuery;
  query.Close();
  query.ClearSQL();
  zetlog::Log("IntervalQuery.Close");
  // Any other length leaves the query without a statement, so naming its
  // Symbol parameter fails below with the engine's own error.
  if (const char* sql = StatementFor(Interval)) query.SetSQL(sql);
  query.ParamByName("Symbol").SetAsString(Symbol);

  TDateTime Day = SeekDateByCount(DayCount, DateStart, DateOver);
  if (!IsValidProduct(Symbol, FIsValidSymbolQuery.get())) {
    SendNoData(out);
    return;
  }

  std::string line;
  std::string RowDate;
  // "INTERVAL|RecNo|<the row's date text>|hh:nn:ss|" of a slot.
  auto begin = [&](double SlotTime) {
    line.assign("INTERVAL|");
    rtl::AppendInt(line, RecNo);
    line += '|';
    line += RowDate;
    line += '|';
    rtl::AppendDateTime(line, "hh:nn:ss", SlotTime);
    line += '|';
  };
  auto dash = [&](double SlotTime) {
    begin(SlotTime);
    line += "-|-|-|-|-|\r\n";
    out.SendLine(line);
    ++RecNo;
  };

  for (;;) {
    while (Day <= DateOver) {
      query.Close();
      const std::string date_text = rtl::FormatDateTime("yyyy/mm/dd", Day);
      query.ParamByName("Date").SetAsString(date_text);
      query.Open();
      zetlog::Log("IntervalQuery.Open");
      zetlog::Log(query.SQLCommaText() + date_text + "&" + Symbol);

      engine::TField& fDate = query.FieldByName("Date");
      engine::TField& fOpen = query.FieldByName("Open");
      engine::TField& fHigh = query.FieldByName("High");
      engine::TField& fLow = query.FieldByName("Low");
      engine::TField& fClose = query.FieldByName("Close");
      engine::TField& fVolume = query.FieldByName("Volume");
      engine::TField& fTime = query.FieldByName("Time");

      bool FirstRowOfDay = true;
      bool DayHasData = false;
      double RowTime = 0, PrevRowTime = 0;
      for (; !query.Eof(); query.Next()) {
        RowDate = fDate.AsString();
        const double Open = fOpen.AsFloat(), High = fHigh.AsFloat(), Low = fLow.AsFloat(),
                     Close = fClose.AsFloat();
        const int32_t Volume = fVolume.AsInteger();
        RowTime = rtl::StrToTime(fTime.AsString());

        const int vsStart = CompareDouble(RowTime, TimeStart);
        if (vsStart < 0) {
          PrevRowTime = RowTime;
          continue;
        }
        if (vsStart > 0) {
          if (CompareDouble(RowTime, TimeOver) > 0) break;
          double SlotTime = RowTime - Step;
          if (FirstRowOfDay) {
            while (CompareDouble(SlotTime, TimeStart) > 0) SlotTime -= Step;
            if (CompareDouble(SlotTime, TimeStart) < 0) SlotTime += Step;
          } else {
            while (CompareDouble(SlotTime, PrevRowTime) > 0) SlotTime -= Step;
            SlotTime += Step;
          }
          while (CompareDouble(RowTime, SlotTime) > 0) {
            dash(SlotTime);
            SlotTime += Step;
          }
        }
        begin(RowTime);
        AppendPrices(line, Open, High, Low, Close, 3);
        if (Volume == 0) {
          line += '-';
        } else {
          rtl::AppendInt(line, Volume);
        }
        line += "|\r\n";
        out.SendLine(line);
        ++RecNo;
        FirstRowOfDay = false;
        DayHasData = true;
        PrevRowTime = RowTime;
      }

      // Slots after the day's last row up to the end time, on the same grid.
      if (DayHasData) {
        for (double SlotTime = RowTime + Step; CompareDouble(SlotTime, TimeOver) <= 0;
             SlotTime += Step)
          dash(SlotTime);
      }
      query.Close();
      Day = Day + 1;
    }
    ++Retries;
    DateOver = DateOver - 1;
    Day = DateOver;
    if (RecNo != 0 || Retries > kMaxRetries || !TodayOnly) break;
  }

  if (RecNo > 0) {
    SendRecordCount(out, RecNo);
  } else {
    SendNoData(out);
  }
}

}  // namespace hist
