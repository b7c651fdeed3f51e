// TThread: a worker thread whose body is a virtual Execute, optionally freeing itself.
#pragma once

#include <atomic>
#include <functional>

namespace qar {

// Derive, override Execute, and call Start() at the end of the most derived
// constructor (the body must not run before the object is complete).
//
// With FreeOnTerminate set, the object deletes itself when its body has ended:
// create it with `new` and keep no reference to it. An error that leaves Execute
// is caught and dropped: it ends the thread, nothing more.
class TThread {
 public:
  TThread() = default;
  virtual ~TThread() = default;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void SetFreeOnTerminate(bool value) { freeOnTerminate_ = value; }
  bool FreeOnTerminate() const { return freeOnTerminate_; }

  // Called on the thread after Execute ended, just before a self-freeing
  // thread deletes itself.
  std::function<void()> OnTerminate;

 protected:
  // Starts the thread. Throws std::system_error when the system refuses.
  void Start();
  virtual void Execute() = 0;
  virtual void DoTerminate();

 private:
  void Run();
  std::atomic<bool> freeOnTerminate_{false};
};

}  // namespace qar
