// TThread on std::thread: detached, since a self-freeing thread has no joiner.
#include "framework/thread.h"

#include <thread>

namespace qar {

void TThread::Start() {
  std::thread([this] { Run(); }).detach();
}

void TThread::DoTerminate() {
  if (OnTerminate) OnTerminate();
}

void TThread::Run() {
  try {
    Execute();
  } catch (...) {
    // The thread's failure ends the thread and nothing else.
  }
  try {
    DoTerminate();
  } catch (...) {
  }
  // The object was made to free itself: nobody else holds it.
  if (freeOnTerminate_) delete this;
}

}  // namespace qar
