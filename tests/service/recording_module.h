// RecordingModule: a request module whose generators only record how they
// were called, then run an optional test action (write lines, raise, wait).
// The pool makes it through the application's module factory, so a test
// sees exactly what the handler passed for a request that came over the
// wire.
#ifndef HISTDATA_TESTS_SERVICE_RECORDING_MODULE_H_
#define HISTDATA_TESTS_SERVICE_RECORDING_MODULE_H_

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/hist.h"

namespace histtest {

struct GenCall {
  std::string name;  // "GenIntraday", "GenInterval3", ...
  std::string symbol;
  double timeBegin = 0, timeEnd = 0, dateBegin = 0, dateEnd = 0;
  int dayCount = 0, interval = 0, iunit = 0, backCount = 0;
  bool priceChangeOnly = false, todayFlag = false;
  bool gotResponse = false;  // the generator was handed the request's response
  const hist::THistData* module = nullptr;
};

// What every RecordingModule of the process records into. Reset per test.
class Recorder {
 public:
  static Recorder& Get() {
    static Recorder recorder;
    return recorder;
  }
  void Reset(std::function<void(hist::THistData&, const GenCall&)> action = nullptr) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.clear();
    action_ = std::move(action);
  }
  void Record(hist::THistData& module, GenCall call) {
    std::function<void(hist::THistData&, const GenCall&)> action;
    {
      std::lock_guard<std::mutex> guard(lock_);
      call.module = &module;
      calls_.push_back(call);
      action = action_;
    }
    changed_.notify_all();
    if (action) action(module, call);
  }
  std::vector<GenCall> Calls() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }
  // Waits until at least `n` calls were recorded (false after 10 s).
  bool WaitForCalls(size_t n) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(10), [&] { return calls_.size() >= n; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<GenCall> calls_;
  std::function<void(hist::THistData&, const GenCall&)> action_;
};

// A gate the test opens; generators wait on it.
class Latch {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      open_ = true;
    }
    cv_.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    return cv_.wait_for(guard, std::chrono::seconds(20), [&] { return open_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  bool open_ = false;
};

class RecordingModule : public hist::THistData {
 public:
  static std::unique_ptr<hist::THistData> Make() { return std::make_unique<RecordingModule>(); }

  void GenIntraday(const std::string& Symbol, hist::TWebResponse& Response, hist::TDateTime timeBegin,
                   hist::TDateTime timeEnd, hist::TDateTime dateBegin, hist::TDateTime dateEnd,
                   int DayCount, bool priceChangeOnly) override {
    GenCall c = Base("GenIntraday", Symbol, &Response);
    c.timeBegin = timeBegin, c.timeEnd = timeEnd, c.dateBegin = dateBegin, c.dateEnd = dateEnd;
    c.dayCount = DayCount, c.priceChangeOnly = priceChangeOnly;
    Recorder::Get().Record(*this, c);
  }
  void GenUWIntraday(const std::string& Symbol, hist::TWebResponse& Response,
                     hist::TDateTime timeBegin, hist::TDateTime timeEnd, hist::TDateTime dateBegin,
                     hist::TDateTime dateEnd, bool todayFlag, int DayCount,
                     bool priceChangeOnly) override {
    GenCall c = Base("GenUWIntraday", Symbol, &Response);
    c.timeBegin = timeBegin, c.timeEnd = timeEnd, c.dateBegin = dateBegin, c.dateEnd = dateEnd;
    c.todayFlag = todayFlag, c.dayCount = DayCount, c.priceChangeOnly = priceChangeOnly;
    Recorder::Get().Record(*this, c);
  }
  void GenInterday2(const std::string& Symbol, hist::TWebResponse& Response,
                    hist::TDateTime dateBegin, hist::TDateTime dateEnd) override {
    GenCall c = Base("GenInterday2", Symbol, &Response);
    c.dateBegin = dateBegin, c.dateEnd = dateEnd;
    Recorder::Get().Record(*this, c);
  }
  void GenDelay(const std::string& Symbol, hist::TWebResponse& Response) override {
    Recorder::Get().Record(*this, Base("GenDelay", Symbol, &Response));
  }
  void GenInterval(const std::string& Symbol, int DayCount, hist::TDateTime TimeStart,
                   hist::TDateTime TimeOver, hist::TDateTime DateStart, hist::TDateTime DateOver,
                   int Interval) override {
    GenCall c = Base("GenInterval", Symbol, nullptr);
    c.dayCount = DayCount, c.timeBegin = TimeStart, c.timeEnd = TimeOver;
    c.dateBegin = DateStart, c.dateEnd = DateOver, c.interval = Interval;
    Recorder::Get().Record(*this, c);
  }
  void GenFastInterval(const std::string& Symbol, int Interval, hist::TDateTime TimeStart,
                       hist::TDateTime TimeOver, hist::TDateTime DateStart,
                       hist::TDateTime DateOver, int IUnit, int BackCount) override {
    GenCall c = Base("GenFastInterval", Symbol, nullptr);
    c.interval = Interval, c.timeBegin = TimeStart, c.timeEnd = TimeOver;
    c.dateBegin = DateStart, c.dateEnd = DateOver, c.iunit = IUnit, c.backCount = BackCount;
    Recorder::Get().Record(*this, c);
  }
  void GenInterval3(const std::string& Symbol, hist::TDateTime timeBegin, hist::TDateTime timeEnd,
                    hist::TDateTime dateBegin, hist::TDateTime dateEnd, int DayCount,
                    int interval) override {
    GenCall c = Base("GenInterval3", Symbol, nullptr);
    c.timeBegin = timeBegin, c.timeEnd = timeEnd, c.dateBegin = dateBegin, c.dateEnd = dateEnd;
    c.dayCount = DayCount, c.interval = interval;
    Recorder::Get().Record(*this, c);
  }
  void GenInterval4(const std::string& Symbol, int DayCount, hist::TDateTime TimeStart,
                    hist::TDateTime TimeOver, hist::TDateTime DateStart, hist::TDateTime DateOver,
                    int Interval, bool TodayOnly) override {
    GenCall c = Base("GenInterval4", Symbol, nullptr);
    c.dayCount = DayCount, c.timeBegin = TimeStart, c.timeEnd = TimeOver;
    c.dateBegin = DateStart, c.dateEnd = DateOver, c.interval = Interval, c.todayFlag = TodayOnly;
    Recorder::Get().Record(*this, c);
  }

 private:
  GenCall Base(const char* name, const std::string& symbol, hist::TWebResponse* response) {
    GenCall c;
    c.name = name;
    c.symbol = symbol;
    c.gotResponse = response != nullptr && response == Response;
    return c;
  }
};

}  // namespace histtest

#endif  // HISTDATA_TESTS_SERVICE_RECORDING_MODULE_H_
