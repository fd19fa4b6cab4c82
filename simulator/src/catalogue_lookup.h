// Fetching the catalogue through the host and finding the adapter's driver in it: the first step
// of a check and of an update.
#pragma once

#include <optional>

#include "catalogue.h"
#include "job_env.h"
#include "result_codes.h"

namespace electron_morvane::sim {

struct CatalogueLookup {
  // kOk when the entry is newer than the installed driver; -2007 (with the entry) when it is not.
  StepResult result;
  std::optional<CatalogueEntry> entry;
};

CatalogueLookup LookUpDriver(const JobEnv& env);

}  // namespace electron_morvane::sim
