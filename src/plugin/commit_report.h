#pragma once

#include "patching/patching.h"

// The name, from the table of changed sites, of the site a patch call was
// given; null for a site the table does not list.
const char* ChangedSiteName(const PatchSite* site);

// Commits the open transaction; a failure leaves one ERROR line naming the
// error and the site that caused it, so that a missing fix is visible; each
// removal whose target was unloaded leaves one WARNING line naming the site.
LONG CommitAndReport(const char* phase);

// Hands the game sites of the table to the crash report, which names them
// in frames and addresses that pass through them.
void HandChangedSitesToCrashReport();
