#include "job_env.h"

#include "adapter_id.h"

namespace electron_morvane::sim {

std::string JobEnv::key() const { return AdapterKey(adapter.vendorId, adapter.deviceId); }

}  // namespace electron_morvane::sim
