// The cancel handler of the filter's one job and the pointer it needs; see cancel.h.
#include "filter/cancel.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

#include "job/device.h"

namespace {

// The output of the filter's one job, for the SIGTERM handler. A signal
// handler is given nothing but the signal number, so this is the one piece
// of a job reachable from outside the job's context. It is set before the
// handler is installed and never changed while the job runs; a lock-free
// atomic pointer, read by the handler once.
std::atomic<OutputSink*> cancelOutput{nullptr};
static_assert(std::atomic<OutputSink*>::is_always_lock_free);

}  // namespace

void jobSetup(OutputSink& out) {
  cancelOutput.store(&out);
  struct sigaction action {};
  action.sa_handler = cancelJob;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGTERM);  // held back while the handler runs
  action.sa_flags = 0;                  // no SA_RESTART: a blocked write returns
  sigaction(SIGTERM, &action, nullptr);
  // A reader that goes away makes the write fail with EPIPE, which the job reports.
  signal(SIGPIPE, SIG_IGN);
  shutDown(out);
}

void finishOutput(OutputSink& out) {
  out.flush();
  signal(SIGTERM, SIG_IGN);
}

void cancelJob(int) {
  OutputSink* out = cancelOutput.load();
  if (out == nullptr) _exit(0);
  // Inside write(2) the flush cannot know how much went out; it calls this
  // handler again once it does.
  if (out->deferSignal(cancelJob)) return;
  // The handler may also be running from that flush, in the main flow; from
  // here on no further SIGTERM may interrupt the sequence.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigprocmask(SIG_BLOCK, &term, nullptr);

  sendCancelNulls(*out);
  finishOutput(*out);
  shutDown(*out);
  out->flush();  // _exit does not flush, and exit() is not safe here
  _exit(0);
}
