// Stand-in until the page pipelines are built: pages are counted and get
// their end-of-page bytes, but no image is sent.
#include "filter/pipeline.h"

#include "filter/globals.h"

bool runColourPipeline(PageWork&) {
  ColorMode = 0;
  return true;
}

bool runMonoPipeline(PageWork&) {
  ColorMode = 1;
  return true;
}
