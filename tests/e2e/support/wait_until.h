// Bounded waiting for the operating system and the programs under test.
#pragma once

#include <chrono>
#include <exception>
#include <functional>

namespace qar::e2e {

// Asks `done` again, with short real pauses, until it holds or about `seconds`
// have passed; returns its last answer. This waits for other processes, it
// measures nothing: a case never asserts how long anything took. An exception
// from `done` (a database busy or not there yet) counts as "not yet".
bool WaitUntil(const std::function<bool()>& done, double seconds);

}  // namespace qar::e2e
