// One printed page of a raster job: the logo block before and/or after the
// page as LogoPosition says, with the logo command of the model's raster
// column, and the page through the writer of the pipeline it came from.
#include "output/page.h"

#include "filter/globals.h"
#include "filter/model_table.h"
#include "output/color_page.h"
#include "output/gray_page.h"
#include "output/logo.h"

void printPage(const uint8_t* first, const uint8_t* second, const cups_page_header_t& header,
               const JobSettings& settings) {
  LogoPlacement placement = logoPlacement(settings.LogoPosition);
  if (!placement.send) return;  // an unknown position suppresses the whole page
  const ModelRow& model = currentModel();
  LogoBlock logo = makeLogoBlock(model.logoRaster, model.logoKeyBase, settings);

  if (placement.before) sendLogoBlock(logo);
  // A page from the two-colour pipeline carries its colour plane; without
  // one there is nothing for the two-colour writer to store as colour '2'.
  if (ColorMode == 0 && second != nullptr) {
    printColorPage(first, second, header);
  } else {
    printGrayPage(first, header, settings.CompPrinting);
  }
  if (placement.after) sendLogoBlock(logo);
}
