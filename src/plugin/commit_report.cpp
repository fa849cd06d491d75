#include "plugin/commit_report.h"

#include <cstring>

#include "base/log.h"
#include "crash/address_text.h"
#include "crash/exception_filter.h"
#include "plugin/patch_sites.h"

namespace {

struct SiteVariable {
  const PatchSite* site;
  const char* name;
};

#define SITE_VARIABLE(site) \
  { &site, #site }

// Every redirected site's variable; the table names them.
const SiteVariable kSiteVariables[] = {
    SITE_VARIABLE(ExceptionFilterSite),
    SITE_VARIABLE(CreateEffectSite),
    SITE_VARIABLE(CreateEffectFromFileASite),
    SITE_VARIABLE(CreateTextureFromFileInMemorySite),
    SITE_VARIABLE(CreateTextureFromFileInMemoryExSite),
    SITE_VARIABLE(SpinLockEnterSite),
    SITE_VARIABLE(GatedCallSite),
    SITE_VARIABLE(MatrixMultiplySite),
    SITE_VARIABLE(TransformMultiplySite),
    SITE_VARIABLE(SlotLookupSite),
    SITE_VARIABLE(ThirdPersonCameraSite),
    SITE_VARIABLE(FormHeapPassThroughSite),
    SITE_VARIABLE(FormHeapAllocateSite),
    SITE_VARIABLE(EventWaitSite),
    SITE_VARIABLE(TrackedCallSite),
    SITE_VARIABLE(BoxPlanesTestSite),
    SITE_VARIABLE(HavokResourceReleaseSite),
    SITE_VARIABLE(HavokResourceLockedSite2),
    SITE_VARIABLE(HavokResourceLockedSite1),
    SITE_VARIABLE(HavokHeapAllocateSite),
    SITE_VARIABLE(HavokHeapFreeSite),
};

#undef SITE_VARIABLE

}  // namespace

const char* ChangedSiteName(const PatchSite* site) {
  for (const SiteVariable& variable : kSiteVariables) {
    if (variable.site != site) continue;
    for (const GameSite& entry : kGameSites) {
      if (entry.kind != SiteKind::Jump && std::strcmp(entry.name, variable.name) == 0) return entry.name;
    }
  }
  return nullptr;
}

LONG CommitAndReport(const char* phase) {
  PatchSite* failed = nullptr;
  LONG error = PatchCommit(&failed);
  if (error != NO_ERROR) {
    const char* name = ChangedSiteName(failed);
    LogLine(GetLog(), LogError, "%s: patches not applied, error %ld at %s", phase, error,
            name != nullptr ? name : "an unlisted site");
  }
  for (size_t i = 0; PatchSite* released = PatchReleasedSite(i); ++i) {
    const char* name = ChangedSiteName(released);
    LogLine(GetLog(), LogWarning, "%s: %s removed, its code was already unloaded", phase,
            name != nullptr ? name : "an unlisted site");
  }
  return error;
}

void HandChangedSitesToCrashReport() {
  static ChangedSite entries[sizeof kGameSites / sizeof kGameSites[0]];
  size_t count = 0;
  for (const GameSite& entry : kGameSites)
    if (entry.address != 0) entries[count++] = {entry.address, entry.name};
  SetChangedSites(entries, count);
}
