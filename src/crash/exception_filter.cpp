#include "crash/exception_filter.h"

#include "base/feature_status.h"
#include "base/game_access.h"
#include "base/init_order.h"
#include "crash/crash_handler.h"

PatchSite ExceptionFilterSite;

namespace {

using SetFilterFunction = LPTOP_LEVEL_EXCEPTION_FILTER(WINAPI*)(LPTOP_LEVEL_EXCEPTION_FILTER);

// Taking the address of a dllimport function reads this library's import
// address table: the initialisation is dynamic and runs at its place in the
// ordered static initialisation.
struct ExceptionFilterSiteInitialiser {
  ExceptionFilterSiteInitialiser() {
    ExceptionFilterSite = reinterpret_cast<PatchSite>(&SetUnhandledExceptionFilter);
  }
};
const ExceptionFilterSiteInitialiser exceptionFilterSiteInitialiser
    __attribute__((init_priority(kInitExceptionFilterSite)));

// The system function itself: through the trampoline while the hook is
// attached, the function's own address otherwise.
SetFilterFunction SystemSetFilter() { return reinterpret_cast<SetFilterFunction>(ExceptionFilterSite); }

LPTOP_LEVEL_EXCEPTION_FILTER GameFilter() {
  return GameRoutine<LPTOP_LEVEL_EXCEPTION_FILTER>(game::kTopLevelFilter);
}

}  // namespace

void InstallExceptionFilterHook() {
  SetFeatureState(Feature::CrashHandler, FeatureState::Queued);
  PatchAttach(&ExceptionFilterSite, reinterpret_cast<void*>(ExceptionFilterHook));
}

void RemoveExceptionFilterHook() {
  PatchDetach(&ExceptionFilterSite, reinterpret_cast<void*>(ExceptionFilterHook));
}

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI ExceptionFilterHook(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  if (filter == GameFilter()) filter = CrashFilter;
  return SystemSetFilter()(filter);
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers) {
  if (pointers == nullptr || pointers->ContextRecord == nullptr || pointers->ExceptionRecord == nullptr)
    return EXCEPTION_EXECUTE_HANDLER;
  return HandleCrash(pointers);
}

void RestoreGameExceptionFilter() {
  if (ExceptionFilterSite == nullptr) return;
  LPTOP_LEVEL_EXCEPTION_FILTER previous = SystemSetFilter()(GameFilter());
  if (previous != CrashFilter) SystemSetFilter()(previous);
}
