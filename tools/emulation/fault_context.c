/* Preloaded into 32-bit Wine when it runs under qemu-user. qemu hands the
 * guest's SIGSEGV and SIGFPE handlers a context whose trap number is -1, which
 * Wine turns into an illegal instruction or an invalid float operation; a real
 * kernel reports a page fault (14, with the address in CR2) or a divide error
 * (0). This restores those fields before Wine's handler runs, so access
 * violations and integer division by zero look as they do on Windows.
 *
 * Built freestanding (no 32-bit libc headers needed); the i386 layouts are
 * written out below. */

typedef struct {
  int si_signo, si_errno, si_code;
  void* si_addr;
} SigInfoHead;

typedef void (*SigHandler)(int, SigInfoHead*, void*);

struct SigAction {
  SigHandler handler;
  unsigned long mask[32];
  int flags;
  void (*restorer)(void);
};

enum {
  kSigFpe = 8,
  kSigSegv = 11,
  kSaSigInfo = 4,
  kSegvMapErr = 1,
  kSegvAccErr = 2,
  kFpeIntDiv = 1,
  kFpeIntOverflow = 2,
  kDivideErrorTrap = 0,
  kPageFaultTrap = 14,
  /* ucontext_t: flags, link, 12-byte stack, then gregs[19]; cr2 follows
   * gregs, the fpregs pointer and oldmask. */
  kTrapNoOffset = 20 + 12 * 4,
  kCr2Offset = 20 + 19 * 4 + 8,
};

extern void* dlsym(void*, const char*);
#define NEXT_SYMBOL ((void*)-1)

static SigHandler wineSegvHandler;
static SigHandler wineFpeHandler;

static void PageFaultHandler(int sig, SigInfoHead* info, void* context) {
  unsigned* trapNo = (unsigned*)((char*)context + kTrapNoOffset);
  if (*trapNo > 31 && (info->si_code == kSegvMapErr || info->si_code == kSegvAccErr)) {
    *trapNo = kPageFaultTrap;
    *(void**)((char*)context + kCr2Offset) = info->si_addr;
  }
  wineSegvHandler(sig, info, context);
}

static void DivideErrorHandler(int sig, SigInfoHead* info, void* context) {
  unsigned* trapNo = (unsigned*)((char*)context + kTrapNoOffset);
  if (*trapNo > 31 && (info->si_code == kFpeIntDiv || info->si_code == kFpeIntOverflow)) *trapNo = kDivideErrorTrap;
  wineFpeHandler(sig, info, context);
}

int sigaction(int sig, const struct SigAction* action, struct SigAction* old) {
  static int (*next)(int, const struct SigAction*, struct SigAction*);
  if (!next) next = (int (*)(int, const struct SigAction*, struct SigAction*))dlsym(NEXT_SYMBOL, "sigaction");
  if ((sig == kSigSegv || sig == kSigFpe) && action && (action->flags & kSaSigInfo) &&
      (unsigned long)action->handler > 1) {
    struct SigAction wrapped = *action;
    if (sig == kSigSegv) {
      wineSegvHandler = action->handler;
      wrapped.handler = PageFaultHandler;
    } else {
      wineFpeHandler = action->handler;
      wrapped.handler = DivideErrorHandler;
    }
    return next(sig, &wrapped, old);
  }
  return next(sig, action, old);
}
