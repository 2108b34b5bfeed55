// Writes the recovery set of a split's parts (see layout.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/recovery/layout.h"
#include "engine/run_host.h"
#include "files/file_system.h"

namespace splitter {

// Writes the set for the parts `partTitles` in the folder `folder` (with its trailing separator)
// of the file `title`, shaped by PlanRecovery(their lengths, percent), and returns that plan.
// Every file of the set appears whole or not at all, and all of them only once every one is
// written, in place of any file of that name (the caller has checked that none is another's);
// each gets at most `permissions` (the source's). The recovery slices are held in at most
// `memory` bytes (or one slice): a set larger than that takes more than one pass over the parts.
// Shows its progress through the host. Throws Failure.
RecoveryPlan WriteRecoverySet(const std::string& folder, const std::string& title,
                              const std::vector<std::string>& partTitles, int percent,
                              std::uint32_t permissions, RunHost& host, FileSystem& files,
                              std::size_t memory = kRecoveryMemory);

}  // namespace splitter
