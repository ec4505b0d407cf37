// rastertoTalvero: CUPS filter for Talvero ESC/POS receipt printers.
#include "filter/job.h"

int main(int argc, char* argv[]) {
  return runFilter(argc, argv);
}
