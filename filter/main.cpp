// rastertoTalvero: CUPS filter for Talvero ESC/POS receipt printers.
#include "filter/filter_job.h"

int main(int argc, char* argv[]) {
  // The job's printer output, to standard output. It lives as long as the
  // process, as the SIGTERM handler may use it up to the very end.
  static OutputSink out;
  return runFilter(argc, argv, out, Diagnostics());
}
