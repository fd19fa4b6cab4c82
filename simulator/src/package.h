// Driver packages: a header line, one line of JSON manifest, then the payload.
#pragma once

#include <filesystem>
#include <string>

#include "catalogue.h"
#include "result_codes.h"

namespace electron_morvane::sim {

constexpr const char* kPackageHeader = "MORVANE-DRIVER-PACKAGE 1";

// Checks the downloaded file's size and MD5 against the catalogue entry (-2008 on a mismatch).
StepResult VerifyDownload(const std::filesystem::path& file, const CatalogueEntry& entry);

// Checks the header and that the manifest describes the entry's driver, then writes
// manifest.json and payload.bin into folder. -2004 for a package that does not parse, -2005 for
// one that holds another driver, -2010 when the files cannot be written.
StepResult UnpackPackage(const std::filesystem::path& file, const CatalogueEntry& entry,
                         const std::filesystem::path& folder);

}  // namespace electron_morvane::sim
