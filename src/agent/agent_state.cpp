#include "agent/agent_state.h"

namespace qar::agent {

std::atomic<bool> WorkerBusy{false};
std::atomic<platform::TDateTime> LastRestartTime{0.0};
std::atomic<long long> LastRestartElapsedMs{0};

}  // namespace qar::agent
