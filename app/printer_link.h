// The line from one Printer Application job to its printer: every printer
// byte of the job goes through it, and the job asks the printer its state
// through it.
//
// On a socket:// (AppSocket) printer the link writes to the connection PAPPL
// opened, without blocking, and keeps at most 64 KiB in flight: bytes
// count as delivered once the printer's TCP stack has taken them. A printer
// that takes nothing for 3 seconds is shown as not taking data (printer
// "offline", job message) until it takes data again; the job waits, and
// its cancellation or the server's shutdown ends the wait at once. Status
// queries and their answers go over the same connection. A connection the
// printer has closed since the last job is opened anew before a job starts.
//
// A usb:// printer is written to through PAPPL (its writes block) and
// answers with its port status (paper empty, an error). Other devices
// (file://) are written to through PAPPL and give no status.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include <pappl/pappl.h>

#include "job/status_query.h"

// How the bytes written so far fared.
enum class Delivery {
  Delivered,  // all taken by the printer
  Broken,     // the connection ended or failed first (failure() says how)
  Stopped,    // the job was cancelled or the server is shutting down
};

class PrinterLink final : public StatusChannel {
 public:
  // The link of `job` to its open `device`.
  PrinterLink(pappl_job_t* job, pappl_device_t* device);
  // Takes back the "not taking data" state when the job ends with it shown.
  ~PrinterLink() override;
  PrinterLink(const PrinterLink&) = delete;
  PrinterLink& operator=(const PrinterLink&) = delete;

  // An OutputSink::Writer: `context` is the link. Takes every byte or
  // returns -1 (errno ECANCELED when the job stopped).
  static ssize_t writeOut(void* context, const uint8_t* data, size_t length);

  // Before the job's first byte: opens the connection anew when the printer
  // has closed it since the last job.
  void prepare();

  // Waits until the printer has taken every byte written so far.
  Delivery confirm();

  // The printer's state: status queries on a socket, the port status of a
  // USB printer, no answer from other devices.
  PrinterStatus ask();

  // From now on writes do not stop for a cancelled job but give up after
  // `time` (the cancel sequence of a cancelled job).
  void finalWrites(std::chrono::milliseconds time);

  // Resets the connection so that nothing more reaches the printer (a job
  // stopped while the printer takes no data).
  void abandon();

  // True when the job has been cancelled or the server is shutting down.
  bool stopRequested() const;

  // Why the connection broke, for the job's message.
  const std::string& failure() const { return failure_; }

  // StatusChannel: the socket's two ways.
  bool send(std::span<const uint8_t> bytes) override;
  ssize_t receive(std::span<uint8_t> into, std::chrono::milliseconds wait) override;

 private:
  ssize_t write(const uint8_t* data, size_t length);
  bool waitForRoom();
  bool brokenNow();
  void noteProgress();
  void fail(const char* why);
  bool mayWait() const;

  pappl_job_t* job_;
  pappl_device_t* device_;
  int fd_ = -1;  // the AppSocket connection, or -1 (write through PAPPL)
  bool usb_ = false;
  std::string host_;
  int port_ = 0;
  uint64_t written_ = 0;  // bytes handed to the connection
  uint64_t acked_ = 0;    // of those, taken by the printer
  std::chrono::steady_clock::time_point lastProgress_;
  bool shownStuck_ = false;
  bool hasDeadline_ = false;
  std::chrono::steady_clock::time_point deadline_;
  std::string failure_;
};

// The state a USB printer's port status gives: paper empty, cover open, an
// error (or a jam).
PrinterStatus usbPortStatus(pappl_device_t* device);

// True once the server has been asked to shut down (IPP or SIGTERM).
bool serverStopping(pappl_system_t* system);

// Makes SIGTERM visible to serverStopping; run once from the server's loop,
// after PAPPL has installed its own handler, which still runs.
void watchForSigterm();
