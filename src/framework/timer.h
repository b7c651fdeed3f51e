// TTimer: a component that asks its message loop for an event at a fixed interval.
#pragma once

#include "framework/component.h"
#include "framework/event.h"

namespace qar {

// The loop that runs the timer delivers OnTimer on its own thread, Interval
// milliseconds after the timer was enabled or after the previous event ended.
class TTimer : public TComponent {
 public:
  std::string ClassName() const override { return "TTimer"; }

  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned milliseconds) { interval_ = milliseconds; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }

  TNotifyEvent OnTimer;

 private:
  unsigned interval_ = 1000;
  bool enabled_ = true;
};

}  // namespace qar
