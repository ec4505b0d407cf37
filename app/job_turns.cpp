// One job at a time per printer, each job once: a guard around the three
// places where PAPPL 1.3.1 starts printing a job.
//
// PAPPL 1.3.1 starts a spooled job (PNG, JPEG, printer-ready bytes) on a
// thread of its own, and a printer checks for a job to start when a job is
// submitted and when one ends. The check sees an idle printer and a pending
// job, starts a thread, and lets go of the printer before that thread marks
// the job as processing; a second check in that moment (a submission just
// as a job ends) starts the same job again. Both threads then print it to
// the same device: the receipt comes out garbled or cut short, and the job
// ends "aborted" when one thread's end of job pulls the state from under the
// other ("Unable to write raster line", "Starting print job." twice).
// A PWG or Apple raster job is printed while it is received, on the client's
// thread, when the printer is idle; two such jobs arriving at once both see
// it idle and print at the same time. One arriving while the printer is busy
// is refused on a path that holds the printer's lock while it waits for the
// system's, the reverse of the order in which saving the state (and every
// Get-Printer-Attributes) takes them: under load the whole server locks up.
//
// These definitions stand in for PAPPL's own (the program's symbols come
// before the library's), and call PAPPL's through dlsym(RTLD_NEXT):
//   - a spooled job's thread claims the job; a second thread for a job that
//     is claimed, no longer pending or not spooled ends at once, untouched;
//   - every job, spooled or streamed, prints only in its printer's turn,
//     held from the start of the job to its end;
//   - a streamed job waits for the turn (up to kStreamWait) before PAPPL
//     looks at the printer, so PAPPL never finds it busy; one that waits in
//     vain is cancelled and answered server-error-busy, without the path
//     that locks up.
// No PAPPL lock is held while a turn is waited for.
//
// A job prints at a lower priority than the server's answers (kJobNice):
// on a busy server, drawing and sending receipts takes the CPU that is left
// after every request has been answered, so a till's status query or
// submission is answered at once however many receipts are printing.
#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include <pappl/pappl.h>

namespace {

// How long a raster job sent while its printer is busy waits for its turn.
constexpr std::chrono::seconds kStreamWait{30};

// How much nicer than the server a job's printing runs (as a filter under
// cupsd with FilterNice 10).
constexpr int kJobNice = 10;

// Runs the calling thread (Linux schedules each thread on its own) kJobNice
// nicer while it lives, and back as it was when it ends, where the process
// may raise its priority again (as root; otherwise the thread stays nicer:
// a job thread ends with its job, a client thread with its connection).
class NicerWhilePrinting {
 public:
  NicerWhilePrinting() : tid_(static_cast<id_t>(gettid())) {
    errno = 0;
    before_ = getpriority(PRIO_PROCESS, tid_);
    if (errno != 0) return;
    lowered_ = setpriority(PRIO_PROCESS, tid_, before_ + kJobNice) == 0;
  }
  ~NicerWhilePrinting() {
    if (lowered_) (void)setpriority(PRIO_PROCESS, tid_, before_);
  }
  NicerWhilePrinting(const NicerWhilePrinting&) = delete;
  NicerWhilePrinting& operator=(const NicerWhilePrinting&) = delete;

 private:
  id_t tid_;
  int before_ = 0;
  bool lowered_ = false;
};

using JobProcessFn = void* (*)(pappl_job_t*);
using CopyDocumentFn = void (*)(pappl_client_t*, pappl_job_t*);

// PAPPL's own definition of `name`, the one this file stands in for.
template <typename Fn>
Fn papplOwn(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// The printers' turns and the claimed jobs, under one mutex of our own.
struct Turns {
  std::mutex lock;
  std::map<const pappl_printer_t*, std::unique_ptr<std::timed_mutex>> printers;
  std::set<const pappl_job_t*> claimed;
};

Turns& turns() {
  static Turns all;
  return all;
}

// The turn of `printer` (made on first use; kept while the process runs).
std::timed_mutex& turnOf(const pappl_printer_t* printer) {
  Turns& all = turns();
  std::lock_guard<std::mutex> hold(all.lock);
  std::unique_ptr<std::timed_mutex>& turn = all.printers[printer];
  if (!turn) turn = std::make_unique<std::timed_mutex>();
  return *turn;
}

// Claims a spooled, pending job for this thread; false when another thread
// has it, or it is not one for a job thread to print.
bool claimJob(pappl_job_t* job) {
  if (papplJobGetState(job) != IPP_JSTATE_PENDING || papplJobGetFilename(job) == nullptr) return false;
  Turns& all = turns();
  std::lock_guard<std::mutex> hold(all.lock);
  return all.claimed.insert(job).second;
}

void releaseJob(const pappl_job_t* job) {
  Turns& all = turns();
  std::lock_guard<std::mutex> hold(all.lock);
  all.claimed.erase(job);
}

// Whether the document of `job` is printed while it is received.
bool isStreamed(pappl_job_t* job) {
  const char* format = papplJobGetFormat(job);
  return format != nullptr && (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0);
}

}  // namespace

// The thread of a spooled job: prints it once, in its printer's turn.
// Returns nullptr (the thread's result).
extern "C" void* _papplJobProcess(pappl_job_t* job) {
  static const JobProcessFn process = papplOwn<JobProcessFn>("_papplJobProcess");
  if (process == nullptr || !claimJob(job)) return nullptr;
  {
    std::lock_guard<std::timed_mutex> turn(turnOf(papplJobGetPrinter(job)));
    // Cancelled, or printed by a streamed turn's end, while waiting.
    if (papplJobGetState(job) == IPP_JSTATE_PENDING) {
      NicerWhilePrinting nicer;
      process(job);
    }
  }
  releaseJob(job);
  return nullptr;
}

// The document of a Print-Job or Send-Document request: a streamed one is
// received and printed in its printer's turn; others are spooled as PAPPL
// does.
extern "C" void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job) {
  static const CopyDocumentFn copy = papplOwn<CopyDocumentFn>("_papplJobCopyDocumentData");
  if (copy == nullptr) return;
  if (!isStreamed(job)) {
    copy(client, job);
    return;
  }
  std::timed_mutex& turn = turnOf(papplJobGetPrinter(job));
  if (!turn.try_lock_for(kStreamWait)) {
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The printer stayed busy for %d seconds; the job is refused.",
                static_cast<int>(kStreamWait.count()));
    papplClientRespondIPP(client, IPP_STATUS_ERROR_BUSY, "Currently printing another job.");
    papplJobCancel(job);
    return;
  }
  {
    NicerWhilePrinting nicer;
    copy(client, job);
  }
  turn.unlock();
}
