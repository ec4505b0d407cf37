// Problems made visible; see messages.h. PAPPL 1.3 gives a job a
// job-state-message of its own, but no words for a printer's state (its
// printer-state-message is "Stopped." whatever the cause) and shows neither
// on its pages. So the causes are also kept here, by printer, for the
// printer's Messages page, and a printer whose device cannot be opened gets
// the state reason "offline" while the job it holds says why.
#include "app/messages.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr size_t kJobsKept = 20;          // failed jobs listed per printer
constexpr auto kWatchPeriod = std::chrono::seconds(3);
constexpr int kProbeMs = 2000;

struct JobEntry {
  int id;
  std::string name;
  time_t when;
  std::string text;
};

struct PrinterMessages {
  std::string problem;         // why the printer is stopped, empty when it is not
  int waitingJob = 0;          // the job told it waits for the printer
  std::deque<JobEntry> jobs;   // newest first
};

std::mutex storeMutex;
std::map<int, PrinterMessages> store;  // by printer-id

// The watch thread.
std::mutex watchMutex;
std::condition_variable watchWake;
bool watchStop = false;
std::thread watchThread;

// `text` with its first letter in lower case ("Connection refused").
std::string lowerFirst(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && (text.size() < 2 || text[1] < 'A' || text[1] > 'Z')) {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  }
  return text;
}

// Connects to `address` and hangs up; returns 0, or the errno of the
// failure (ETIMEDOUT after `timeoutMs`).
int connectError(const addrinfo* address, int timeoutMs) {
  int fd = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address->ai_protocol);
  if (fd < 0) return errno;
  int error = connect(fd, address->ai_addr, address->ai_addrlen) == 0 ? 0 : errno;
  if (error == EINPROGRESS) {
    pollfd wait{fd, POLLOUT, 0};
    socklen_t length = sizeof error;
    if (poll(&wait, 1, timeoutMs) <= 0) {
      error = ETIMEDOUT;
    } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
      error = errno;
    }
  }
  close(fd);
  return error;
}

// The Messages page of the printer whose IPP resource path is `data`.
bool messagesPage(pappl_client_t* client, void* data) {
  const auto* resource = static_cast<const std::string*>(data);
  pappl_printer_t* printer = papplSystemFindPrinter(papplClientGetSystem(client), resource->c_str(), 0, nullptr);
  if (printer == nullptr) return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  int id = papplPrinterGetID(printer);
  PrinterMessages messages;
  {
    std::lock_guard<std::mutex> lock(storeMutex);
    messages = store[id];
  }
  papplClientHTMLPrinterHeader(client, printer, "Messages", 10, nullptr, nullptr);
  papplClientHTMLPuts(client, "<div class=\"row\"><div class=\"col-12\"><h1 class=\"title\">Messages</h1>\n<p>");
  if (messages.problem.empty()) {
    papplClientHTMLPuts(client, "The printer has no problem now.");
  } else {
    papplClientHTMLPuts(client, "<b>Stopped: ");
    papplClientHTMLEscape(client, messages.problem.c_str(), 0);
    papplClientHTMLPuts(client, "</b>");
  }
  papplClientHTMLPuts(client, "</p>\n<h2 class=\"title\">Jobs that failed</h2>\n");
  if (messages.jobs.empty()) papplClientHTMLPuts(client, "<p>None.</p>\n");
  for (const JobEntry& entry : messages.jobs) {
    char when[64];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&entry.when));
    papplClientHTMLPrintf(client, "<p>Job %d (", entry.id);
    papplClientHTMLEscape(client, entry.name.c_str(), 0);
    papplClientHTMLPrintf(client, "), %s: ", when);
    papplClientHTMLEscape(client, entry.text.c_str(), 0);
    papplClientHTMLPuts(client, "</p>\n");
  }
  papplClientHTMLPuts(client, "</div></div>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}


// What the watch sees of one printer.
struct Watched {
  int id;
  std::string deviceUri;
  bool stoppedWithJob;  // stopped while a job waits for its device
  int jobId;            // the job it holds, if any
  std::vector<int> aborted;  // ids of recent jobs the server aborted
};

// The job PAPPL is processing, if any (an iterator callback).
void processingJob(pappl_job_t* job, void* data) {
  if (papplJobGetState(job) == IPP_JSTATE_PROCESSING) *static_cast<int*>(data) = papplJobGetID(job);
}

// Ids of aborted jobs (an iterator callback).
void abortedJob(pappl_job_t* job, void* data) {
  if (papplJobGetState(job) == IPP_JSTATE_ABORTED) static_cast<std::vector<int>*>(data)->push_back(papplJobGetID(job));
}

// Notes what the watch needs of `printer` (an iterator callback).
void notePrinter(pappl_printer_t* printer, void* data) {
  char uri[1024];
  const char* device = papplPrinterGetDeviceURI(printer);
  std::snprintf(uri, sizeof uri, "%s", device != nullptr ? device : "");
  Watched watched{papplPrinterGetID(printer), uri, false, 0, {}};
  papplPrinterIterateActiveJobs(printer, processingJob, &watched.jobId, 1, 1);
  watched.stoppedWithJob = watched.jobId != 0 && papplPrinterGetState(printer) == IPP_PSTATE_STOPPED;
  papplPrinterIterateCompletedJobs(printer, abortedJob, &watched.aborted, 1, static_cast<int>(kJobsKept));
  static_cast<std::vector<Watched>*>(data)->push_back(std::move(watched));
}

// Why a device that PAPPL cannot open does not open; empty when it seems
// fine now.
std::string deviceProblem(const std::string& uri) {
  if (uri.rfind("socket://", 0) == 0) return socketProblem(uri.c_str(), kProbeMs);
  if (uri.rfind("usb://", 0) == 0) return "the USB printer is not connected, is switched off or is busy";
  return "the device " + uri + " cannot be opened";
}

// The words for a job the server aborted without a cause of ours.
std::string abortCause(pappl_job_t* job) {
  std::string format = papplJobGetFormat(job) != nullptr ? papplJobGetFormat(job) : "?";
  pappl_jreason_t reasons = papplJobGetReasons(job);
  if (reasons & PAPPL_JREASON_DOCUMENT_FORMAT_ERROR) {
    return "not printed: the document is damaged or not in its format (" + format + ")";
  }
  if (reasons & PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR) return "not printed: the document cannot be printed";
  if (papplJobGetTimeProcessed(job) == 0) {
    return "not taken: refused while it arrived (another job was printing, or the data could not be "
           "stored); the sender was told";
  }
  return "not printed: the server cannot read documents in the format " + format;
}

// Says why `watched`'s printer is stopped, or that it has come back, and
// gives the jobs the server aborted their cause.
void report(pappl_system_t* system, const Watched& watched) {
  pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, watched.id, nullptr);
  if (printer == nullptr) return;
  std::string problem = watched.stoppedWithJob ? deviceProblem(watched.deviceUri) : "";
  std::string before;
  int waitingJob = 0;
  std::vector<int> known;
  {
    std::lock_guard<std::mutex> lock(storeMutex);
    PrinterMessages& messages = store[watched.id];
    before = messages.problem;
    waitingJob = messages.waitingJob;
    if (!watched.stoppedWithJob || !problem.empty()) messages.problem = problem;
    if (!problem.empty()) messages.waitingJob = watched.jobId;
    for (const JobEntry& entry : messages.jobs) known.push_back(entry.id);
  }
  if (!problem.empty() && problem != before) {
    papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
    if (pappl_job_t* job = papplPrinterFindJob(printer, watched.jobId)) {
      papplJobSetMessage(job, "Waiting for the printer: %s", problem.c_str());
    }
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Stopped: %s.", problem.c_str());
  } else if (!watched.stoppedWithJob && !before.empty()) {
    papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
    if (pappl_job_t* job = waitingJob != 0 ? papplPrinterFindJob(printer, waitingJob) : nullptr) {
      papplJobSetMessage(job, "%s after waiting for the printer (%s).",
                         papplJobGetState(job) == IPP_JSTATE_CANCELED ? "Cancelled" : "Sent to the printer",
                         before.c_str());
    }
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "No job waits for the device any more.");
  }
  for (int id : watched.aborted) {
    pappl_job_t* aborted = papplPrinterFindJob(printer, id);
    if (aborted != nullptr && std::find(known.begin(), known.end(), id) == known.end() &&
        papplJobGetMessage(aborted) == nullptr) {
      setJobProblem(aborted, abortCause(aborted));
    }
  }
}

// The watch thread: a pass every few seconds until stopWatch.
void watch(pappl_system_t* system) {
  std::unique_lock<std::mutex> lock(watchMutex);
  while (!watchWake.wait_for(lock, kWatchPeriod, [] { return watchStop; })) {
    lock.unlock();
    std::vector<Watched> printers;
    papplSystemIteratePrinters(system, notePrinter, &printers);
    for (const Watched& watched : printers) report(system, watched);
    lock.lock();
  }
}

}  // namespace

void setJobProblem(pappl_job_t* job, const std::string& text) {
  papplJobSetMessage(job, "%s", text.c_str());
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", text.c_str());
  std::lock_guard<std::mutex> lock(storeMutex);
  std::deque<JobEntry>& jobs = store[papplPrinterGetID(papplJobGetPrinter(job))].jobs;
  const char* name = papplJobGetName(job);
  jobs.push_front(JobEntry{papplJobGetID(job), name != nullptr ? name : "", time(nullptr), text});
  if (jobs.size() > kJobsKept) jobs.pop_back();
}

void addMessagesPage(pappl_printer_t* printer, void*) {
  char web[1024], path[1024];
  papplPrinterGetPath(printer, nullptr, web, sizeof web);
  papplPrinterGetPath(printer, "messages", path, sizeof path);
  // The page finds its printer by its IPP resource (/ipp/print/NAME) at each
  // request, so a printer made again under the same name gets the page that
  // is already there. The string lives as long as the server.
  auto* resource = new std::string(std::string("/ipp/print") + web);
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", messagesPage, resource);
  papplPrinterAddLink(printer, "Messages", path, PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS);
}

std::string socketProblem(const char* deviceUri, int timeoutMs) {
  char scheme[32], user[256], host[256], resource[256];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, deviceUri, scheme, sizeof scheme, user, sizeof user, host, sizeof host,
                      &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    return std::string("the device URI ") + deviceUri + " is not valid";
  }
  std::string service = std::to_string(port > 0 ? port : 9100);
  std::string where = std::string(host) + ":" + service;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  if (int error = getaddrinfo(host, service.c_str(), &hints, &addresses); error != 0) {
    return "cannot find " + where + ": " + lowerFirst(gai_strerror(error));
  }
  int error = ETIMEDOUT;
  for (addrinfo* a = addresses; a != nullptr && error != 0; a = a->ai_next) error = connectError(a, timeoutMs);
  freeaddrinfo(addresses);
  return error == 0 ? "" : "cannot reach " + where + ": " + lowerFirst(std::strerror(error));
}

void startWatch(pappl_system_t* system) {
  watchStop = false;
  watchThread = std::thread(watch, system);
}

void stopWatch() {
  {
    std::lock_guard<std::mutex> lock(watchMutex);
    watchStop = true;
  }
  watchWake.notify_all();
  if (watchThread.joinable()) watchThread.join();
}
