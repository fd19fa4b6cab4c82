#include "check_job.h"

#include "catalogue_lookup.h"
#include "text_copy.h"

namespace electron_morvane::sim {

namespace {

// The adapter and the driver it has now, for outcomes without a catalogue entry.
CheckOutcome AdapterOutcome(const Adapter& adapter, const StepResult& result) {
  CheckOutcome outcome;
  CopyText(outcome.info.name, adapter.name);
  CopyText(outcome.info.vendorId, adapter.vendorId);
  CopyText(outcome.info.deviceId, adapter.deviceId);
  CopyText(outcome.info.driverVersion, adapter.driverVersion);
  CopyText(outcome.info.driverDate, adapter.driverDate);
  outcome.code = result.code;
  outcome.message = result.message;
  return outcome;
}

}  // namespace

CheckOutcome RunCheck(const JobEnv& env) {
  if (!env.control.Sleep(env.stepDelay())) {
    return StoppedCheck(env.adapter, env.control.Stop());
  }
  const CatalogueLookup lookup = LookUpDriver(env);
  if (!lookup.entry) return AdapterOutcome(env.adapter, lookup.result);

  const CatalogueEntry& entry = *lookup.entry;
  CheckOutcome outcome;
  CopyText(outcome.info.name, entry.name);
  CopyText(outcome.info.vendorId, env.adapter.vendorId);
  CopyText(outcome.info.deviceId, env.adapter.deviceId);
  CopyText(outcome.info.driverVersion, entry.version);
  CopyText(outcome.info.driverDate, entry.date);
  outcome.info.fileSize = entry.fileSize;
  outcome.needUpdate = lookup.result.ok();
  outcome.code = lookup.result.code;
  outcome.message = lookup.result.message;
  return outcome;
}

CheckOutcome StoppedCheck(const Adapter& adapter, StopReason reason) {
  return AdapterOutcome(adapter, {kCancelOperation, StopMessage(reason)});
}

}  // namespace electron_morvane::sim
