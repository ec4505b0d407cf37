#include "filter/globals.h"

TALVERO_JOB_LOCAL int32_t PrinterModel = 0;
TALVERO_JOB_LOCAL int32_t PageType = 0;
TALVERO_JOB_LOCAL int32_t Rotation = 0;
TALVERO_JOB_LOCAL int32_t Scale = 0;
TALVERO_JOB_LOCAL int32_t Focus = 0;
TALVERO_JOB_LOCAL int32_t ColorMode = 0;
TALVERO_JOB_LOCAL int32_t ALREADY_OPEN = 1;

void resetJobGlobals() {
  PrinterModel = 0;
  PageType = 0;
  Rotation = 0;
  Scale = 0;
  Focus = 0;
  ColorMode = 0;
  ALREADY_OPEN = 1;
}
