// One printed page of a raster job: the logo block before and/or after the
// page as LogoPosition says, with the logo command of the model's raster
// column, and the page through the writer of the pipeline it came from.
#include "output/page.h"

#include "output/color_page.h"
#include "output/graphics.h"
#include "output/gray_page.h"
#include "output/logo.h"

void printPage(JobContext& job, const PagePlanes& page) {
  LogoPlacement placement = logoPlacement(job.settings.LogoPosition);
  if (!placement.send) return;  // an unknown position suppresses the whole page
  LogoBlock logo = makeLogoBlock(job.model.logoRaster, job.model.logoKeyBase, job.settings);

  if (placement.before) sendLogoBlock(job.out, logo);
  // A page from the two-colour pipeline carries its colour plane; without
  // one there is nothing for the two-colour writer to store as colour '2'.
  if (job.ColorMode == 0 && page.colour != nullptr) {
    printColorPage(job, page);
  } else {
    printGrayPage(job, page);
  }
  if (placement.after) sendLogoBlock(job.out, logo);
}

const char* commandTooSmallFor(const JobContext& job, bool colourPlanes, uint32_t width, size_t rowBytes) {
  if (colourPlanes) return fitsStoreCommand(width, rowBytes) ? nullptr : "GS ( L";
  return grayCommandTooSmall(job, width, rowBytes);
}
