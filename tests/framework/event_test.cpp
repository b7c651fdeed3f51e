#include "framework/event.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qar {
namespace {

using TTextEvent = TEvent<void(std::string&, int)>;

struct Recorder {
  std::vector<std::string> calls;
  std::string name;
  TTextEvent saved;
  void Handle(std::string& text, int value) {
    calls.push_back(name + ":" + text + ":" + std::to_string(value));
    if (saved) saved(text, value);
  }
};

TEST(EventTest, HookSavesChainsToAndRestoresThePreviousHandler) {
  Recorder original{{}, "original", {}};
  TTextEvent slot;
  EXPECT_FALSE(slot);
  slot = TTextEvent::Bind(original, &Recorder::Handle);

  Recorder hook{{}, "hook", slot};  // save by value
  slot = TTextEvent::Bind(hook, &Recorder::Handle);
  std::string text = "x";
  slot(text, 1);
  EXPECT_EQ(hook.calls, std::vector<std::string>{"hook:x:1"});
  EXPECT_EQ(original.calls, std::vector<std::string>{"original:x:1"});

  slot = hook.saved;  // put back
  EXPECT_EQ(slot.Object(), &original);
}

TEST(EventTest, ArgumentsReachTheCallerByReferenceAndSoDoFailures) {
  TTextEvent slot = TTextEvent::FromFunction([](std::string& text, int) { text = "changed"; });
  std::string text = "x";
  slot(text, 0);
  EXPECT_EQ(text, "changed");
  slot = TTextEvent::FromFunction([](std::string&, int) { throw std::runtime_error("handler"); });
  EXPECT_THROW(slot(text, 0), std::runtime_error);
}

}  // namespace
}  // namespace qar
